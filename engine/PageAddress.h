// Addresses of pages and pictures as the page scan fetches and compares them:
// one name per document, as a browser forms it. Purely textual; plain C++
// without Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The link without its fragment (from the first "#" on): a fragment names a
// place inside a document, never another document.
std::string_view WithoutFragment(std::string_view link);

// The path of address (between the host and the query) with its "." and ".."
// segments removed the way browsers do, so that sub/../p.html and ./p.html
// name the same page as p.html; "%2e" counts as a dot there, as servers read
// it. The fragment is dropped too. "../" above the root is dropped. What a
// request line cannot carry is percent-encoded (non-ASCII as UTF-8, spaces,
// controls, quotes, angle brackets, a "%" that starts no escape), existing
// escapes stay, and an international host name takes its ASCII form.
// Linear in the length of the address.
std::string FormAddress(std::string_view address);

// Only the encoding of FormAddress: an address kept in a list by an earlier
// version, with raw bytes, becomes the address a scan forms today.
std::string EncodeAddress(std::string_view address);

// The form in which two addresses are compared: encoded as above, escapes of
// letters, digits and "-._~" decoded (in the path also those of
// "!$&'()*+,;=:@", which servers read as the characters), the hex digits of
// the others in upper case. So "B%C3%A4ume%201.jpg", "B%c3%a4ume 1.jpg" and "Bäume 1.jpg" are one
// picture. Fragments and dot segments are the business of FormAddress: the
// scan compares formed addresses, a loaded list keeps its lines whole.
std::string AddressKey(std::string_view address);

// An address as a browser's address bar shows it: escapes of whole UTF-8
// characters and of spaces decoded, an ASCII host name ("xn--...") in
// Unicode. For people only; never fetched or stored.
std::string DisplayAddress(std::string_view address);

// Length of the valid UTF-8 sequence that starts at s[i] (1 for ASCII), 0
// when none does (overlong forms, surrogates and truncated ones included).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
bool IsValidUtf8(std::string_view s);

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
