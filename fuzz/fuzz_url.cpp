// SplitUrl, the request targets and a chain of relocations on arbitrary text:
// lines of the input are the address, the proxy, then Location values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "http/HttpProt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size && lines.size() < 40; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    std::string proxy = lines.size() > 1 ? lines[1] : std::string();
    for (bool withProxy : {false, true}) {
        std::string user, pass;
        THttpTarget t = DeriveRequestTarget(lines[0], withProxy ? proxy : std::string(), "80", user, pass);
        if (t.RequestTarget.empty() || (t.DocumentName.empty() && lines[0].empty()))
            __builtin_trap();
        if (t.DocumentName.size() > 255)
            __builtin_trap();
        std::string connectHost = t.ConnectHost, connectPort = t.ConnectPort;
        for (std::size_t i = 2; i < lines.size(); ++i) {
            ApplyRelocation(lines[i], withProxy, t);
            // Through a proxy the connection never moves.
            if (withProxy && (t.ConnectHost != connectHost || t.ConnectPort != connectPort))
                __builtin_trap();
        }
    }
    TUrlParts p = SplitUrl(lines[0]);
    if (p.Host.size() + p.Path.size() + p.Port.size() + p.User.size() + p.Pass.size() > lines[0].size() + 4)
        __builtin_trap();
    PosOccurrence("/", lines[0], -1);
    return 0;
}
