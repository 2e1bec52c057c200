// Line mode over hostile byte streams: arbitrary data in arbitrary pieces,
// line edit and echo, a reader of varying appetite that switches line mode
// on and off. Without line edit every byte must come out once, in order.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/WSocket.h"

namespace {

void Pump()
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    for (int idle = 0, rounds = 0; idle < 2 && rounds < 10000; ++rounds)
        idle = d.PumpPending() == 0 ? idle + 1 : 0;
}

void Drain(int fd)
{
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t flags = data[0];
    const uint8_t ends = data[1];
    const size_t piece = data[2] % 97 + 1;
    data += 3;
    size -= 3;

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return 0;
    std::string out;
    bool closed = false;
    {
        TWSocket s;
        s.Dup(sv[0]);
        const char* lineEnds[] = {"\r\n", "\n", "END", ""};
        s.SetLineEnd(lineEnds[ends % 4]);
        s.SetLineEdit(flags & 1);
        s.SetLineEcho(flags & 2);
        s.SetLineMode(!(flags & 4));
        const bool toggles = flags & 8;
        const int appetite = (flags >> 4) + 1;
        s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
            char buf[17];
            int n = snd->Receive(buf, appetite);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
                if (toggles && (buf[0] & 0x0f) == 0x0a)
                    s.SetLineMode(!s.LineMode());
            }
        };
        s.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { closed = true; };
        for (size_t off = 0; off < size; off += piece) {
            size_t n = size - off < piece ? size - off : piece;
            if (::send(sv[1], data + off, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
                break;
            Pump();
            Drain(sv[1]);
        }
        ::shutdown(sv[1], SHUT_WR);
        for (int i = 0; i < 100 && !closed; ++i) {
            Pump();
            Drain(sv[1]);
        }
        if (!closed)
            std::abort();  // the peer's close must always end the session
        if (!(flags & 1) && out != std::string(reinterpret_cast<const char*>(data), size))
            std::abort();  // bytes lost, duplicated or reordered
    }
    ::close(sv[1]);
    return 0;
}
