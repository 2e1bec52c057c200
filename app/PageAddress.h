// Addresses of pages and pictures as the page scan fetches and compares them:
// one name per document, as a browser forms it. Purely textual; plain C++
// without Qt.
#pragma once

#include <string>
#include <string_view>

// The link without its fragment (from the first "#" on): a fragment names a
// place inside a document, never another document.
std::string_view WithoutFragment(std::string_view link);

// The path of address (between the host and the query) with its "." and ".."
// segments removed the way browsers do, so that sub/../p.html and ./p.html
// name the same page as p.html; the fragment is dropped too. "../" above the
// root is dropped. Linear in the length of the address.
std::string FormAddress(std::string_view address);

// The directory of an address: up to and including the last "/" of its path
// (a "/" in the query does not count), "scheme://host/" when the path is empty.
std::string AddressDir(std::string_view address);

// "scheme://host:port" of an address, letters folded to lower case; empty
// when the address has no "//".
std::string AddressOrigin(std::string_view address);

// Whether a link names a scheme that is not http or https (mailto:,
// javascript:, ftp: ...): no page of such a link can be fetched. A host
// with a port ("h.d:81/x") is not a scheme.
bool HasForeignScheme(std::string_view link);

struct TPageLink {
    // Only a fragment or nothing: the link refers to the page it is on.
    bool Self = false;
    // The link as written, without its fragment: the page, picture and
    // "../" tests read this.
    std::string_view Raw;
    std::string Address;
    std::string Dir;  // AddressDir of Address
};

// Resolves a link found on a page whose directory is pageDir (ending in "/"):
// SplitLink's directory and file, then the address formed as above.
TPageLink ResolvePageLink(std::string_view link, std::string_view pageDir);
