// Properties, error texts, misuse, and the operations the program itself does
// not use (listening, accepting, datagrams, pausing, flushing, waiting).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netdb.h>

#include <cstring>
#include <thread>

#include <string>
#include <vector>

#include "net/NetTestPeer.h"
#include "net/WSocket.h"
#include "support/Bounds.h"

using namespace nettest;

namespace {

std::string Raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(nothing)";
}

// Connects s to a fresh peer; returns the peer's descriptor.
int ConnectPair(Listener& l, TWSocket& s)
{
    bool connected = false;
    auto old = s.OnSessionConnected;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t) { connected = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    int peer = l.AcceptPumping();
    PumpUntil([&] { return connected; });
    s.OnSessionConnected = old;
    return peer;
}

}  // namespace

TEST(WSocketErrors, TableTextsAndMappingOfPlatformCodes)
{
    EXPECT_EQ(SocketErrorDesc(0), "No Error");
    EXPECT_EQ(SocketErrorDesc(10035), "Operation would block");
    EXPECT_EQ(SocketErrorDesc(10054), "Connection reset by peer");
    EXPECT_EQ(SocketErrorDesc(10058), "Can't send after socket shutdown");
    EXPECT_EQ(SocketErrorDesc(10092), "WinSock DLL cannot support this application");
    EXPECT_EQ(SocketErrorDesc(11004), "No Data");
    EXPECT_EQ(SocketErrorDesc(10090), "Not a WinSock error");
    EXPECT_EQ(SocketErrorDesc(12345), "Not a WinSock error");

    EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(SocketErrorFromErrno(EINPROGRESS), 10036);
    EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10053);
    EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
    // A platform error without a Windows Sockets code is never "No Error" and keeps its text.
    int other = SocketErrorFromErrno(ENOSPC);
    EXPECT_EQ(other, kPlatformErrorBase + ENOSPC);
    EXPECT_LT(other, 65536) << "codes travel as 16-bit values";
    EXPECT_EQ(SocketErrorDesc(other), std::string(strerror(ENOSPC)));

    EXPECT_EQ(SocketErrorFromGai(EAI_NONAME, 0), 11001);
    EXPECT_EQ(SocketErrorFromGai(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(SocketErrorFromGai(EAI_FAIL, 0), 11003);
    EXPECT_EQ(SocketErrorFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(WSocketErrors, MisuseIsReportedWithTheDocumentedMessages)
{
    TWSocket s;
    // Send while closed.
    EXPECT_EQ(Raised([&] { s.Send("x", 1); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), 10057);
    // Connect checks, in order.
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("80");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("300.1.2.3");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "connect: WSocketResolveHost: '300.1.2.3' Invalid IP address.");
    s.SetAddr("127.0.0.1");
    s.SetPort("70000");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "connect: WSocketResolvePort: Cannot convert port '70000'");
    s.SetPort("no-such-service-name");
    EXPECT_EQ(Raised([&] { s.Connect(); }),
              "connect: WSocketResolvePort: Cannot convert port 'no-such-service-name'");
    s.SetPort(std::string(32, '1'));
    EXPECT_EQ(Raised([&] { s.Connect(); }), "connect: WSocketResolvePort: Invalid Port.");
    s.SetPort("80");
    s.SetProto("bogus-proto");
    EXPECT_EQ(Raised([&] { s.Connect(); }),
              "connect: WSocketResolveProto: Cannot convert protocol 'bogus-proto'");
    EXPECT_EQ(s.State(), wsClosed);
    // Lookups.
    EXPECT_EQ(Raised([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    std::vector<uint16_t> codes;
    s.OnError = [](TCustomWSocket*) {};
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) { codes.push_back(e); };
    s.DnsLookup("");
    EXPECT_EQ(codes, std::vector<uint16_t>{10022}) << "with OnError the event still follows";
    // With OnError assigned nothing is raised.
    EXPECT_EQ(Raised([&] { s.Send("x", 1); }), "(nothing)");
    s.OnError = nullptr;
    EXPECT_EQ(Raised([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }), "Invalid SendFlags");
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    s.SetSendFlags(wsSendNormal);
    // Listen and Accept.
    TWSocket l;
    EXPECT_EQ(Raised([&] { l.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { l.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { l.Dup(-1); }), "Error 10022 in function Dup\r\nInvalid argument");
}

TEST(WSocketProperties, ChangesWhileConnectedAndDefaultsAfterClose)
{
    Listener l;
    TWSocket s;
    s.SetLocalPort("0");
    int peer = ConnectPair(l, s);
    ASSERT_EQ(s.State(), wsConnected);
    s.SetPort(" " + l.PortText() + " ");  // same value after trimming: silently accepted
    EXPECT_EQ(Raised([&] { s.SetPort("81"); }), "Cannot change Port if not closed");
    EXPECT_EQ(Raised([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(Raised([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(Raised([&] { s.SetLocalPort("0"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(s.LocalPortText(), std::to_string([&] {
                  sockaddr_in a{};
                  socklen_t len = sizeof a;
                  ::getpeername(peer, reinterpret_cast<sockaddr*>(&a), &len);
                  return ntohs(a.sin_port);
              }()));
    s.SetLingerTimeout(5);
    s.Close();
    EXPECT_EQ(s.PeerAddr(), "error");
    EXPECT_EQ(s.LocalPortText(), "error");
    EXPECT_EQ(s.LingerTimeout(), 0);
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(s.Proto(), "tcp");
    // Addr and Port keep their texts but must be assigned again.
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(l.PortText());
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    ::close(peer);
}

TEST(WSocketSend, LargeSendsArriveWholeAndOnDataSentFollowsFromTheDispatch)
{
    Listener l;
    TWSocket s;
    int sent = 0;
    s.OnDataSent = [&](TCustomWSocket*, uint16_t) { ++sent; };
    int peer = ConnectPair(l, s);
    // More than the socket buffers hold: the rest goes on write notices.
    std::string big(8 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 % 251);
    EXPECT_EQ(s.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    EXPECT_EQ(s.Send("tail", 4), 4);
    EXPECT_EQ(s.Send("x", 0), 0);
    EXPECT_EQ(sent, 0);
    std::string got;
    std::thread reader([&] { got = ReadSome(peer, big.size() + 4, std::chrono::milliseconds(20000)); });
    s.Flush();
    EXPECT_TRUE(s.AllSent());
    reader.join();
    ASSERT_EQ(got.size(), big.size() + 4);
    EXPECT_TRUE(got == big + "tail");
    ASSERT_TRUE(PumpUntil([&] { return sent >= 1; }));
    ::close(peer);
}

TEST(WSocketSend, AbortResetsAndGracefulCloseDeliversEverything)
{
    Listener l;
    {
        TWSocket s;
        int peer = ConnectPair(l, s);
        std::string data(300000, 'd');
        s.Send(data.data(), static_cast<int>(data.size()));
        s.Close();  // graceful: the kernel finishes sending
        EXPECT_EQ(ReadSome(peer, data.size() + 1, std::chrono::milliseconds(10000)).size(), data.size());
        ::close(peer);
    }
    {
        TWSocket s;
        int peer = ConnectPair(l, s);
        s.Abort();
        EXPECT_EQ(s.State(), wsClosed);
        char c;
        pollfd p{peer, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1);
        errno = 0;
        EXPECT_EQ(::recv(peer, &c, 1, 0), -1);
        EXPECT_EQ(errno, ECONNRESET);
        ::close(peer);
    }
}

TEST(WSocketServer, ListenAcceptAndDupServeAPosixClient)
{
    TWSocket srv;
    TWSocket conn;
    std::string got;
    bool available = false;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    srv.OnSessionAvailable = [&](TCustomWSocket* snd, uint16_t e) {
        EXPECT_EQ(e, 0);
        conn.Dup(snd->Accept());
        available = true;
    };
    conn.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char buf[64];
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    srv.Listen();
    ASSERT_EQ(srv.State(), wsListening);
    std::string port = srv.LocalPortText();
    ASSERT_NE(port, "error");
    int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    ASSERT_EQ(::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(PumpUntil([&] { return available; }));
    EXPECT_EQ(conn.State(), wsConnected);
    EXPECT_EQ(conn.PeerAddr(), "127.0.0.1");
    WriteAll(c, "to server");
    ASSERT_TRUE(PumpUntil([&] { return got == "to server"; }));
    conn.SendStr("to client");
    EXPECT_EQ(ReadSome(c, 9), "to client");
    ::close(c);
    ASSERT_TRUE(PumpUntil([&] { return conn.State() == wsClosed; }));
    srv.Close();
}

TEST(WSocketDatagram, ConnectSendsDatagramsWithTheirBoundaries)
{
    int u = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(u, reinterpret_cast<sockaddr*>(&a), &len);
    TWSocket s;
    std::vector<std::string> log;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { log.push_back("connected " + std::to_string(e)); };
    s.SetProto("udp");
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(ntohs(a.sin_port)));
    s.Connect();
    EXPECT_EQ(log, std::vector<std::string>{"connected 0"}) << "a datagram socket connects at once";
    EXPECT_EQ(s.State(), wsConnected);
    std::string big(4000, 'u');
    s.Send(big.data(), static_cast<int>(big.size()));
    s.SendStr("small");
    char buf[8192];
    EXPECT_EQ(::recv(u, buf, sizeof buf, 0), 4000) << "one Send is one datagram";
    EXPECT_EQ(::recv(u, buf, sizeof buf, 0), 5);
    ::close(u);
}

TEST(WSocketPause, PausedSocketHearsNothingUntilResumed)
{
    Listener l;
    TWSocket s;
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char buf[64];
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    int peer = ConnectPair(l, s);
    s.Pause();
    WriteAll(peer, "held");
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(got, "");
    s.Resume();
    ASSERT_TRUE(PumpUntil([&] { return got == "held"; }));
    ::close(peer);
}

TEST(WSocketWait, WaitUntilReadySleepsUntilTheFlagAndSynchronizeRunsTheRoutine)
{
    Listener l;
    TWSocket s;
    std::atomic<bool> ready{false};
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        snd->ReceiveStr();
        ready = true;
    };
    int peer = ConnectPair(l, s);
    const double cpu0 = wltest::ThreadCpuSeconds();
    std::thread t([peer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        WriteAll(peer, "go");
    });
    int rc = s.Synchronize(ready, [] {});
    t.join();
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(ready);
    // Spinning would burn a good part of the half second even on a busy machine.
    EXPECT_LT(wltest::ThreadCpuSeconds() - cpu0, 0.05) << "the wait must sleep, not spin";

    // A time limit gives up with 12001.
    ready = false;
    s.SetTimeoutMs(30);
    EXPECT_EQ(s.WaitUntilReady(ready), kWaitGaveUp);
    s.SetTimeoutMs(0);
    // A quit request met by the socket's own pump ends the wait as well.
    s.SetMultiThreaded(true);
    TNoticeDispatcher::Current().PostQuit();
    EXPECT_EQ(s.WaitUntilReady(ready), kWaitGaveUp);
    EXPECT_TRUE(s.Terminated());
    TNoticeDispatcher::Current().ClearQuit();
    ::close(peer);
}

TEST(WSocketLifecycle, ManyConnectCloseCyclesLeaveNoDescriptorOrWatchBehind)
{
    Listener l;
    // The thread's dispatcher opens its own descriptors on first use: count after that.
    std::size_t watches = TNoticeDispatcher::Current().WatchCount();
    int before = OpenFdCount();
    for (int i = 0; i < 200; ++i) {
        TWSocket s;
        bool connected = false;
        s.OnSessionConnected = [&](TCustomWSocket*, uint16_t) { connected = true; };
        s.SetAddr("127.0.0.1");
        s.SetPort(l.PortText());
        s.Connect();
        int peer = l.AcceptPumping();
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(PumpUntil([&] { return connected; }));
        if (i % 2)
            s.Close();  // the other half closes by destruction
        ::close(peer);
    }
    PumpNotices();
    EXPECT_EQ(OpenFdCount(), before);
    EXPECT_EQ(TNoticeDispatcher::Current().WatchCount(), watches);
    EXPECT_EQ(TCustomWSocket::SocketCount(), 0);
}

TEST(WSocketExceptions, HandlerExceptionsAreCaughtWhereTheyBelong)
{
    Listener l;
    // OnSessionConnected throws: OnBgException sees it, and the socket is
    // aborted unless the handler clears CanClose.
    for (bool keep : {false, true}) {
        TWSocket s;
        std::string seen;
        s.OnSessionConnected = [](TCustomWSocket*, uint16_t) { throw std::runtime_error("boom"); };
        s.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
            seen = e.what();
            canClose = !keep;
        };
        s.SetAddr("127.0.0.1");
        s.SetPort(l.PortText());
        s.Connect();
        int peer = l.AcceptPumping();
        ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
        EXPECT_EQ(seen, "boom");
        EXPECT_EQ(s.State(), keep ? wsConnected : wsClosed);
        ::close(peer);
    }
    // An exception in OnDataAvailable ends that receive loop only; the socket
    // keeps working and offers the rest once the handler reads again.
    TWSocket s;
    int peer = ConnectPair(l, s);
    int calls = 0;
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        if (++calls == 1)
            throw std::runtime_error("first call fails without reading");
        got += snd->ReceiveStr();
    };
    WriteAll(peer, "abc");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    EXPECT_EQ(s.State(), wsConnected);
    WriteAll(peer, "def");
    ::shutdown(peer, SHUT_WR);  // the close notice offers what is left
    ASSERT_TRUE(PumpUntil([&] { return got == "abcdef"; }));
    ::close(peer);
}

TEST(WSocketMisc, ReverseLookupWaitForCloseAndSendAfterShutdown)
{
    TWSocket s;
    bool done = false;
    uint16_t err = 1;
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) {
        err = e;
        done = true;
    };
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return done; }, std::chrono::milliseconds(20000)));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(s.DnsResult().empty());
    EXPECT_EQ(s.DnsResultList().size(), 1u);

    Listener l;
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) { got += snd->ReceiveStr(); };
    int peer = ConnectPair(l, s);
    std::thread t([peer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        WriteAll(peer, "last words");
        ::shutdown(peer, SHUT_WR);
    });
    s.WaitForClose();
    t.join();
    EXPECT_EQ(got, "last words");
    EXPECT_EQ(s.State(), wsClosed);
    ::close(peer);

    int peer2 = ConnectPair(l, s);
    s.Shutdown(1);
    EXPECT_EQ(Raised([&] { s.SendStr("x"); }),
              "Error 10058 in function TryToSend failed\r\nCan't send after socket shutdown");
    ::close(peer2);
}

TEST(WSocketSend, CloseWithDataStillQueuedDeliversItBeforeTheEnd)
{
    Listener l;
    TWSocket s;
    int peer = ConnectPair(l, s);
    std::string big(6 << 20, 'q');
    big.back() = '!';
    s.Send(big.data(), static_cast<int>(big.size()));
    ASSERT_FALSE(s.AllSent()) << "the test needs data left in the chain";
    std::string got;
    std::thread reader([&] { got = ReadSome(peer, big.size() + 1, std::chrono::milliseconds(20000)); });
    s.Close();
    reader.join();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    ::close(peer);
}

TEST(WSocketSend, CloseWaitsBoundedAndKeepsPumpingWhenThePeerDoesNotRead)
{
    Listener l;
    TWSocket s;
    int peer = ConnectPair(l, s);
    s.SetFlushTimeout(1);
    s.SetLingerTimeout(1);
    std::string big(8 << 20, 'w');
    s.Send(big.data(), static_cast<int>(big.size()));
    TNoticeSink sink;
    bool ranDuringClose = false;
    sink.Post([&] { ranDuringClose = s.State() != wsClosed; });
    std::chrono::nanoseconds took{};
    bool backstopFired = false;
    {
        // A Close that ignored its time limits would wait until the peer reads:
        // after twenty seconds the backstop reads everything.
        wltest::TBackstop backstop(std::chrono::seconds(20), [peer] {
            ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) & ~O_NONBLOCK);
            char buf[65536];
            while (::recv(peer, buf, sizeof buf, 0) > 0) {
            }
        });
        auto t0 = std::chrono::steady_clock::now();
        s.Close();
        took = std::chrono::steady_clock::now() - t0;
        backstopFired = backstop.Fired();
    }
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_TRUE(ranDuringClose) << "the wait inside Close pumps notices";
    EXPECT_FALSE(backstopFired) << "Close waited for the peer beyond its time limits";
    // One second to flush, one to linger; the rest is room for a busy machine.
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(10));
    ::close(peer);
}
