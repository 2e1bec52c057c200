// Address splitting and the request targets derived from it.
#include "http/HttpProt.h"

#include <algorithm>

#include <idn2.h>

// ours
#include "base/AsciiCase.h"

namespace {

// A server may name a relocation's host in Unicode ("bücher.example"); the
// resolver and the Host line know it only in its ASCII form.
std::string AsciiHostIn(const std::string& address)
{
    const std::size_t sep = address.find("://");
    if (sep == std::string::npos)
        return address;
    const std::size_t start = sep + 3;
    const std::size_t end = std::min(address.find_first_of("/?#", start), address.size());
    std::size_t hostStart = address.rfind('@', end);
    hostStart = hostStart == std::string::npos || hostStart < start ? start : hostStart + 1;
    std::size_t hostEnd = address.rfind(':', end);
    if (hostEnd == std::string::npos || hostEnd < hostStart)
        hostEnd = end;
    const std::string host = address.substr(hostStart, hostEnd - hostStart);
    // Longer than any name the resolver takes: left as it is and refused there.
    if (host.size() > 1024 || host.find('\0') != std::string::npos ||
        std::none_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return address;
    char* ascii = nullptr;
    int rc = idn2_to_ascii_8z(host.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (rc != IDN2_OK) {
        // Some names exist only under the older mapping (a "ß" in a label).
        idn2_free(ascii);
        ascii = nullptr;
        rc = idn2_to_ascii_8z(host.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
    }
    std::string out = address;
    if (rc == IDN2_OK && ascii != nullptr)
        out.replace(hostStart, hostEnd - hostStart, ascii);
    idn2_free(ascii);
    return out;
}

std::string WithPort(const std::string& host, const std::string& port)
{
    return port.empty() ? host : host + ":" + port;
}

// A fragment names a place inside the document; it never leaves the client.
std::string WithoutFragment(const std::string& address)
{
    return address.substr(0, address.find('#'));
}

std::string SchemeText(bool secure)
{
    return secure ? "https" : "http";
}

// Through a proxy the absolute request target names the origin.
void OriginFromTarget(THttpTarget& t)
{
    TUrlParts o = SplitUrl(t.RequestTarget);
    bool secure = false;
    t.Unsupported = !SchemeSupported(o.Proto, secure);
    t.Secure = secure;
    t.OriginHost = o.Host;
    t.OriginPort = o.Port.empty() ? DefaultPort(secure) : o.Port;
}

}  // namespace

std::string DefaultPort(bool secure)
{
    return secure ? "443" : "80";
}

bool SchemeSupported(const std::string& proto, bool& secure)
{
    secure = false;
    if (proto.empty() || LowerAscii(proto) == "http")
        return true;
    if (LowerAscii(proto) == "https") {
        secure = true;
        return true;
    }
    return false;
}

std::string HostLineValue(const THttpTarget& t)
{
    if (t.OriginPort.empty() || t.OriginPort == DefaultPort(t.Secure))
        return t.HostHeader;
    return t.HostHeader + ":" + t.OriginPort;
}

std::string RequestLineTarget(const THttpTarget& t, bool withProxy)
{
    std::string target = WithoutFragment(t.RequestTarget);
    if (withProxy && t.Secure) {
        // Inside the tunnel the origin gets the ordinary origin-form target.
        target = SplitUrl(target).Path;
    }
    return target.empty() ? "/" : target;
}

std::string OriginOf(const THttpTarget& t)
{
    return SchemeText(t.Secure) + "://" + LowerAscii(t.OriginHost) + ":" +
           (t.OriginPort.empty() ? DefaultPort(t.Secure) : t.OriginPort);
}

TUrlParts SplitUrl(const std::string& url)
{
    TUrlParts r;
    if (url.empty())
        return r;

    std::string rest;
    std::string::size_type sep = url.find("://");
    if (sep != std::string::npos) {
        r.Proto = url.substr(0, sep);
        rest = url.substr(sep + 3);
    } else if (url[0] == '/') {
        r.Proto = "http";
        if (url.size() > 1 && url[1] != '/') {
            r.Path = url;
            return r;
        }
        rest = url.substr(1);
    } else if (StartsWithNoCase(url, "http:")) {
        r.Proto = "http";
        if (url.size() > 6 && url[6] != '/') {
            r.Path = url.substr(5);
            return r;
        }
        rest = url.size() > 6 ? url.substr(6) : std::string();
    } else if (StartsWithNoCase(url, "mailto:")) {
        r.Proto = "mailto";
        rest = url.substr(url.find(':') + 1);
    } else {
        rest = url;
    }

    std::string::size_type slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos)
        r.Path = rest.substr(slash);

    std::string::size_type at = authority.rfind('@');
    std::string::size_type colon = authority.rfind(':');
    bool hasAt = at != std::string::npos;
    bool hasColon = colon != std::string::npos;
    if (!hasAt && !hasColon) {
        r.Host = authority;
        return r;
    }
    if (hasColon && (!hasAt || colon > at)) {
        r.Port = authority.substr(colon + 1);
        std::string::size_type hostStart = hasAt ? at + 1 : 0;
        r.Host = authority.substr(hostStart, colon - hostStart);
        if (!hasAt)
            return r;
    } else {
        r.Host = authority.substr(at + 1);
    }
    std::string userInfo = authority.substr(0, at);
    std::string::size_type uc = userInfo.find(':');
    if (uc != std::string::npos) {
        r.User = userInfo.substr(0, uc);
        r.Pass = userInfo.substr(uc + 1);
    } else {
        r.User = userInfo;
    }
    return r;
}

int PosOccurrence(const std::string& sub, const std::string& s, int n)
{
    if (sub.empty() || n == 0)
        return 0;
    if (n > 0) {
        std::string::size_type p = 0;
        for (int i = 0;; ++i) {
            p = s.find(sub, i == 0 ? 0 : p + 1);
            if (p == std::string::npos)
                return 0;
            if (i + 1 == n)
                return static_cast<int>(p) + 1;
        }
    }
    std::string::size_type p = std::string::npos;
    for (int i = 0; i < -n; ++i) {
        if (i > 0 && p == 0)
            return 0;
        p = s.rfind(sub, i == 0 ? std::string::npos : p - 1);
        if (p == std::string::npos)
            return 0;
    }
    return static_cast<int>(p) + 1;
}

std::string SetDocExtension(const std::string& name, const std::string& ext)
{
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos)
        return name + "." + ext;
    return name.substr(0, dot + 1) + ext;
}

std::string DocumentNameOf(const std::string& path)
{
    if (path.empty() || path == "/")
        return "document.htm";
    std::string s = path;
    if (s.back() == '/')
        s.pop_back();
    std::string::size_type slash = s.rfind('/');
    s = slash == std::string::npos ? s : s.substr(slash + 1);
    s = s.substr(0, 255);
    std::string::size_type q = s.find('?');
    if (q != std::string::npos)
        s = s.substr(0, q);
    return s;
}

THttpTarget DeriveRequestTarget(const std::string& url, const std::string& proxy,
                                const std::string& proxyPort, std::string& username,
                                std::string& password)
{
    THttpTarget t;
    TUrlParts u = SplitUrl(AsciiHostIn(WithoutFragment(url)));
    bool secure = false;
    t.Unsupported = !SchemeSupported(u.Proto, secure);
    t.Secure = secure;
    t.OriginHost = u.Host;
    t.OriginPort = u.Port.empty() ? DefaultPort(secure) : u.Port;
    t.HostHeader = u.Host;
    t.DocumentName = u.Path;
    if (proxy.empty()) {
        t.RequestTarget = u.Path;
        t.ConnectHost = u.Host;
        t.ConnectPort = t.OriginPort;
    } else {
        t.RequestTarget = (u.Proto.empty() ? std::string("http") : u.Proto) + "://" + WithPort(u.Host, u.Port) + u.Path;
        TUrlParts p = SplitUrl(proxy);
        t.ConnectHost = p.Host;
        t.ConnectPort = p.Port.empty() ? proxyPort : p.Port;
    }
    if (!u.User.empty())
        username = u.User;
    if (!u.Pass.empty())
        password = u.Pass;
    if (t.RequestTarget.empty())
        t.RequestTarget = "/";
    t.Location = url;
    t.DocumentName = DocumentNameOf(t.DocumentName);
    return t;
}

// Ports: a Location naming a port moves the connection to it when there is no
// proxy, and is kept in the absolute target when there is one (the proxy must
// know it). A new host without a port means the scheme's default port. A
// Location without scheme keeps the scheme of the current request.
void ApplyRelocation(const std::string& rawValue, bool withProxy, THttpTarget& t)
{
    const std::string value = AsciiHostIn(WithoutFragment(rawValue));
    TUrlParts s = SplitUrl(value);
    const std::string current = SchemeText(t.Secure);
    std::string proto = s.Proto.empty() ? current : s.Proto;

    if (!withProxy) {
        if (!value.empty() && value[0] == '/') {
            t.RequestTarget = value;
            std::string port = t.ConnectPort == DefaultPort(t.Secure) ? std::string() : t.ConnectPort;
            t.Location = current + "://" + WithPort(t.ConnectHost, port) + value;
            return;
        }
        const std::string prevHostHeader = t.HostHeader;
        t.ConnectHost = s.Host;
        t.RequestTarget = s.Path;
        if (!s.Proto.empty() && !s.Host.empty()) {
            bool secure = false;
            t.Unsupported = !SchemeSupported(s.Proto, secure);
            t.Secure = secure;
            t.RequestTarget = s.Path.empty() ? "/" : s.Path;
            t.HostHeader = s.Host;
            t.ConnectPort = s.Port.empty() ? DefaultPort(secure) : s.Port;
            t.Location = s.Proto + "://" + WithPort(s.Host, s.Port) + s.Path;
        } else if (s.Path.empty()) {
            t.ConnectHost = prevHostHeader;
            t.Location = proto + "://" + prevHostHeader + "/" + s.Host;
            t.RequestTarget = t.Location;
        } else if (s.Host.empty()) {
            t.ConnectHost = prevHostHeader;
            t.Location = proto + "://" + prevHostHeader + s.Path;
        } else {
            t.HostHeader = s.Host;
            t.ConnectPort = s.Port.empty() ? DefaultPort(t.Secure) : s.Port;
        }
        t.OriginHost = t.ConnectHost;
        t.OriginPort = t.ConnectPort;
        return;
    }

    if (!value.empty() && value[0] == '/') {
        TUrlParts prev = SplitUrl(t.RequestTarget);
        t.Location = (prev.Proto.empty() ? std::string("http") : prev.Proto) + "://" + WithPort(prev.Host, prev.Port) + value;
        t.RequestTarget = t.Location;
    } else if (!s.Proto.empty() && !s.Host.empty()) {
        t.Location = s.Proto + "://" + WithPort(s.Host, s.Port) + (s.Path.empty() ? "/" : s.Path);
        t.RequestTarget = t.Location;
        t.HostHeader = s.Host;
    } else if (!s.Host.empty()) {
        t.HostHeader = s.Host;
    } else {
        t.Location = proto + "://" + t.HostHeader + t.RequestTarget;
    }
    OriginFromTarget(t);
}
