// THttpCli reading an arbitrary response over loopback. The first input byte
// chooses the packet size, the rest is what the server sends before closing.
// The client goes through a "proxy" (our server), so every relocation comes
// back here instead of touching the network.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "http/HttpProt.h"
#include "net/WSocket.h"

namespace {

std::mutex gMutex;
std::string gResponse;
std::size_t gPiece = 1;
int gPort = 0;

void Serve(int ls)
{
    for (;;) {
        int fd = accept(ls, nullptr, nullptr);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string got;
        char buf[4096];
        while (got.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        std::string response;
        std::size_t piece;
        {
            std::lock_guard<std::mutex> lock(gMutex);
            response = gResponse;
            piece = gPiece;
        }
        for (std::size_t i = 0; i < response.size(); i += piece)
            if (send(fd, response.data() + i, std::min(piece, response.size() - i), MSG_NOSIGNAL) < 0)
                break;
        shutdown(fd, SHUT_WR);
        while (recv(fd, buf, sizeof buf, 0) > 0) {
        }
        close(fd);
    }
}

void StartServer()
{
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 64) != 0 ||
        getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        __builtin_trap();
    gPort = ntohs(a.sin_port);
    std::thread(Serve, ls).detach();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool started = (StartServer(), true);
    (void)started;
    if (size == 0)
        return 0;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gPiece = 1 + data[0] % 128 * 64;
        gResponse.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    }
    static THttpCli client;
    TNullStream sink;
    client.BodyStream = &sink;
    client.URL = "http://fuzz.invalid/dir/page.htm";
    client.Proxy = "127.0.0.1";
    client.ProxyPort = std::to_string(gPort);
    bool raised = false;
    try {
        client.Get();
    } catch (const EHttpException&) {
        raised = true;
    }
    // Every response ends with an idle client, a whole count and an honest outcome.
    if (client.State() != hsIdle || client.IsConnected())
        __builtin_trap();
    if (sink.Size() != client.BodyCount())
        __builtin_trap();
    if (raised != (client.StatusCode() >= 400))
        __builtin_trap();
    if (client.DoneError() != 0 && client.StatusCode() != 404)
        __builtin_trap();
    return 0;
}
