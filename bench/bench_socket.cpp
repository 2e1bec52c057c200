// Socket benchmark: idle CPU of a waiting TWSocket, loopback throughput each
// way beside a plain blocking loop with the same buffer sizes, and descriptor
// hygiene over many connect/close cycles.
//
// Usage: bench_socket [idle_seconds] [transfer_mib] [cycles]
// Transfers run five times each, interleaved; the best speed of each and the
// median of the rounds' ratios are printed.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/WSocket.h"

namespace {

constexpr int kChunk = 64 * 1024;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double ProcessCpu()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int CountDir(const char* path)
{
    int n = 0;
    if (DIR* d = ::opendir(path)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

struct Listener {
    int fd = -1;
    int port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 128);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
};

int PlainConnect(int port)
{
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return c;
}

void RecvAll(int fd, long long total)
{
    std::vector<char> buf(kChunk);
    long long got = 0;
    while (got < total) {
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        got += n;
    }
}

void SendAll(int fd, long long total)
{
    std::vector<char> buf(kChunk, 'p');
    long long sent = 0;
    while (sent < total) {
        ssize_t n = ::send(fd, buf.data(), static_cast<std::size_t>(std::min<long long>(kChunk, total - sent)),
                           MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
}

// Connects a TWSocket to the listener and returns the accepted peer.
int ConnectTWSocket(TWSocket& s, Listener& l)
{
    std::atomic<bool> connected{false};
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) {
        if (e != 0) {
            std::fprintf(stderr, "connect failed: %u\n", e);
            std::exit(1);
        }
        connected = true;
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(l.port));
    s.Connect();
    int peer = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC);
    s.WaitUntilReady(connected);
    s.OnSessionConnected = nullptr;
    return peer;
}

// CPU seconds (all threads) of the last transfer: less sensitive than
// wall-clock speed to other load on a shared machine.
double gLastCpu = 0;

double PlainMbS(long long total)
{
    double c0 = ProcessCpu();
    Listener l;
    int c = PlainConnect(l.port);
    int peer = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC);
    auto t0 = Clock::now();
    std::thread r([&] { RecvAll(peer, total); });
    SendAll(c, total);
    r.join();
    double s = Seconds(Clock::now() - t0);
    gLastCpu = ProcessCpu() - c0;
    ::close(c);
    ::close(peer);
    return static_cast<double>(total) / 1e6 / s;
}

double SendMbS(long long total)
{
    double c0 = ProcessCpu();
    Listener l;
    TWSocket s;
    int peer = ConnectTWSocket(s, l);
    std::vector<char> buf(kChunk, 's');
    long long queued = 0;
    std::atomic<bool> done{false};
    auto t0 = Clock::now();
    std::thread r([&] {
        RecvAll(peer, total);
        done = true;
    });
    // Each OnDataSent queues the next chunk, as a client streaming a body does.
    s.OnDataSent = [&](TCustomWSocket* snd, uint16_t) {
        if (queued < total) {
            int n = static_cast<int>(std::min<long long>(kChunk, total - queued));
            queued += n;
            snd->Send(buf.data(), n);
        }
    };
    queued = kChunk;
    s.Send(buf.data(), kChunk);
    s.WaitUntilReady(done);
    r.join();
    double secs = Seconds(Clock::now() - t0);
    gLastCpu = ProcessCpu() - c0;
    ::close(peer);
    return static_cast<double>(total) / 1e6 / secs;
}

double RecvMbS(long long total)
{
    double c0 = ProcessCpu();
    Listener l;
    TWSocket s;
    int peer = ConnectTWSocket(s, l);
    std::vector<char> buf(kChunk);
    long long got = 0;
    std::atomic<bool> done{false};
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        int n = snd->Receive(buf.data(), kChunk);
        if (n > 0)
            got += n;
        if (got >= total)
            done = true;
    };
    auto t0 = Clock::now();
    std::thread w([&] { SendAll(peer, total); });
    s.WaitUntilReady(done);
    double secs = Seconds(Clock::now() - t0);
    w.join();
    gLastCpu = ProcessCpu() - c0;
    ::close(peer);
    return static_cast<double>(total) / 1e6 / secs;
}

double IdleCpu(int seconds)
{
    Listener l;
    TWSocket s;
    int peer = ConnectTWSocket(s, l);
    std::atomic<bool> done{false};
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        snd->ReceiveStr();
        done = true;
    };
    double c0 = ProcessCpu();
    std::thread w([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        ::send(peer, "!", 1, MSG_NOSIGNAL);
    });
    s.WaitUntilReady(done);
    w.join();
    double cpu = ProcessCpu() - c0;
    ::close(peer);
    return cpu;
}

// Returns descriptors and threads left over after the cycles.
std::pair<int, int> Cycles(int cycles)
{
    Listener l;
    std::atomic<bool> stop{false};
    std::thread acceptor([&] {
        while (!stop) {
            int p = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (p >= 0)
                ::close(p);
        }
    });
    int fds0 = CountDir("/proc/self/fd");
    int threads0 = CountDir("/proc/self/task");
    {
        TWSocket s;
        for (int i = 0; i < cycles; ++i) {
            std::atomic<bool> connected{false};
            s.OnSessionConnected = [&](TCustomWSocket*, uint16_t) { connected = true; };
            s.SetAddr("127.0.0.1");
            s.SetPort(std::to_string(l.port));
            s.Connect();
            s.WaitUntilReady(connected);
            s.Close();
        }
    }
    int fds1 = CountDir("/proc/self/fd");
    int threads1 = CountDir("/proc/self/task");
    stop = true;
    ::close(PlainConnect(l.port));  // wakes the acceptor
    acceptor.join();
    return {fds1 - fds0, threads1 - threads0};
}

}  // namespace

int main(int argc, char** argv)
{
    int idle = argc > 1 ? std::atoi(argv[1]) : 10;
    long long mib = argc > 2 ? std::atoll(argv[2]) : 1024;
    int cycles = argc > 3 ? std::atoi(argv[3]) : 10000;
    long long total = mib << 20;

    // The machine is shared: the three transfers are interleaved, five
    // rounds; the speeds are each one's best, the ratios the median of the
    // rounds' own ratios, so a burst of foreign load spoils one round's pair
    // rather than one side of the comparison.
    constexpr int kRounds = 5;
    double plain = 0, send = 0, recv = 0;
    double plainCpu = 1e9, sendCpu = 1e9, recvCpu = 1e9;
    std::vector<double> sendRatios, recvRatios;
    for (int rep = 0; rep < kRounds; ++rep) {
        const double p = PlainMbS(total);
        plainCpu = std::min(plainCpu, gLastCpu);
        const double s = SendMbS(total);
        sendCpu = std::min(sendCpu, gLastCpu);
        const double r = RecvMbS(total);
        recvCpu = std::min(recvCpu, gLastCpu);
        plain = std::max(plain, p);
        send = std::max(send, s);
        recv = std::max(recv, r);
        sendRatios.push_back(s / p);
        recvRatios.push_back(r / p);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto rounds = [](const std::vector<double>& v) {
        std::string out;
        for (double x : v) {
            char b[16];
            std::snprintf(b, sizeof b, " %.2f", x);
            out += b;
        }
        return out;
    };
    std::printf("socket.plain_mb_s %.0f MB/s\n", plain);
    std::printf("socket.send_mb_s %.0f MB/s\n", send);
    std::printf("socket.recv_mb_s %.0f MB/s\n", recv);
    std::printf("socket.send_ratio_vs_plain %.2f (rounds:%s)\n", median(sendRatios), rounds(sendRatios).c_str());
    std::printf("socket.recv_ratio_vs_plain %.2f (rounds:%s)\n", median(recvRatios), rounds(recvRatios).c_str());
    double gib = static_cast<double>(total) / (1 << 30);
    std::printf("socket.plain_cpu_s_per_gib %.3f s\n", plainCpu / gib);
    std::printf("socket.send_cpu_s_per_gib %.3f s\n", sendCpu / gib);
    std::printf("socket.recv_cpu_s_per_gib %.3f s\n", recvCpu / gib);
    std::fflush(stdout);
    auto [fds, threads] = Cycles(cycles);
    std::printf("socket.leaked_fds %d fds\n", fds);
    std::printf("socket.leaked_threads %d threads\n", threads);
    std::fflush(stdout);
    std::printf("socket.idle_cpu_s %.3f s\n", IdleCpu(idle));
    return 0;
}
