// HTTP client figures for bench/http.sh.
//   bench_http download URL        one Get into a discarding stream: "MB/s peakRSS_MB"
//   bench_http requests URL N      N sequential Gets: "requests/s"
//   bench_http wait SECONDS        Get against a silent server, Abort after SECONDS:
//                                  "CPU seconds used meanwhile"
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "http/HttpProt.h"
#include "net/Dispatcher.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Download(const std::string& url)
{
    THttpCli c;
    TNullStream sink;
    c.BodyStream = &sink;
    c.URL = url;
    auto t0 = Clock::now();
    c.Get();
    auto t1 = Clock::now();
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("%.1f %.1f\n", sink.Size() / 1e6 / Seconds(t0, t1), u.ru_maxrss / 1024.0);
    return sink.Size() == c.ContentLength() ? 0 : 1;
}

int Requests(const std::string& url, int n)
{
    THttpCli c;
    c.URL = url;
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        TNullStream sink;
        c.BodyStream = &sink;
        c.Get();
        if (sink.Size() != c.ContentLength())
            return 1;
    }
    auto t1 = Clock::now();
    std::printf("%.0f\n", n / Seconds(t0, t1));
    return 0;
}

int Wait(int seconds)
{
    // A server that accepts and never answers.
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 4) != 0 ||
        getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 1;
    THttpCli c;
    c.URL = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    TNoticeSink sink;
    TNoticePoster poster = sink.Poster();
    std::thread helper([&] {
        int fd = accept(ls, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        poster.Post([&] { c.Abort(); });
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 5000); // until the client has gone
        close(fd);
    });
    double cpu0 = CpuSeconds();
    try {
        c.Get();
    } catch (const EHttpException&) {
    }
    double cpu1 = CpuSeconds();
    helper.join();
    close(ls);
    std::printf("%.3f\n", cpu1 - cpu0);
    return c.DoneError() == httpErrAborted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "download" && argc == 3)
            return Download(argv[2]);
        if (mode == "requests" && argc == 4)
            return Requests(argv[2], std::atoi(argv[3]));
        if (mode == "wait" && argc == 3)
            return Wait(std::atoi(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_http download URL | requests URL N | wait SECONDS\n");
    return 2;
}
