// TWSocket as a TCP client against plain POSIX peers: event order, data in
// both directions, failures and reuse.
#include <algorithm>
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <thread>

#include <string>
#include <vector>

#include "net/NetTestPeer.h"
#include "net/WSocket.h"

using namespace nettest;

namespace {

const char* StateName(TSocketState s)
{
    switch (s) {
    case wsInvalidState: return "invalid";
    case wsOpened: return "opened";
    case wsBound: return "bound";
    case wsConnecting: return "connecting";
    case wsConnected: return "connected";
    case wsAccepting: return "accepting";
    case wsListening: return "listening";
    case wsClosed: return "closed";
    }
    return "?";
}

// Records every event of a socket as a line; OnDataAvailable reads what is
// there and keeps it.
struct Recorder {
    TWSocket& s;
    std::vector<std::string> log;
    std::string data;
    bool closed = false;
    bool looked = false;
    bool connected = false;
    int readSize = 4096;

    explicit Recorder(TWSocket& sock) : s(sock)
    {
        s.OnDnsLookupDone = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("lookup " + std::to_string(e));
            looked = true;
        };
        s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
            log.push_back(std::string("state ") + StateName(o) + ">" + StateName(n));
        };
        s.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("connected " + std::to_string(e));
            connected = true;
        };
        s.OnDataSent = [this](TCustomWSocket*, uint16_t e) { log.push_back("sent " + std::to_string(e)); };
        s.OnDataAvailable = [this](TCustomWSocket* snd, uint16_t e) {
            std::vector<char> buf(static_cast<std::size_t>(readSize));
            int n = snd->Receive(buf.data(), readSize);
            if (n > 0)
                data.append(buf.data(), static_cast<std::size_t>(n));
            if (log.empty() || log.back().rfind("data", 0) != 0)
                log.push_back("data " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("closed " + std::to_string(e));
            closed = true;
        };
    }

    // Connects to the listener; the accepted peer once the session is up, else -1.
    int ConnectTo(Listener& l)
    {
        s.SetAddr("127.0.0.1");
        s.SetPort(l.PortText());
        s.Connect();
        int peer = l.AcceptPumping();
        if (peer < 0 || !PumpUntil([&] { return connected; })) {
            if (peer >= 0)
                ::close(peer);
            return -1;
        }
        return peer;
    }
};

}  // namespace

TEST(WSocketClient, ConnectionByNameRunsTheDocumentedEventOrder)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(r.log.empty()) << "a name is answered later, from the dispatch";
    ASSERT_TRUE(PumpUntil([&] { return r.looked; }));
    ASSERT_EQ(r.log.back(), "lookup 0");
    ASSERT_EQ(s.DnsResult(), "127.0.0.1");
    s.SetAddr(s.DnsResult());
    s.SetPort(l.PortText());
    s.SetProto("tcp");
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    int peer = l.AcceptPumping();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return r.connected; }));
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), l.PortText());

    std::string req = "GET / HTTP/1.0\r\n\r\n";
    EXPECT_EQ(s.SendStr(req), static_cast<int>(req.size()));
    EXPECT_EQ(r.log.back(), "connected 0") << "OnDataSent must not fire inside Send";
    EXPECT_EQ(ReadSome(peer, req.size()), req);
    ASSERT_TRUE(PumpUntil([&] { return r.log.back() == "sent 0"; }));

    WriteAll(peer, "hello ");
    ASSERT_TRUE(PumpUntil([&] { return r.data == "hello "; }));
    WriteAll(peer, "world");
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return r.closed && s.State() == wsClosed; }));
    EXPECT_EQ(r.data, "hello world");

    std::vector<std::string> want = {
        "lookup 0",          "state closed>opened", "state opened>connecting",
        "state connecting>connected", "connected 0", "sent 0",
        "data 0",            "closed 0",             "state connected>closed",
    };
    EXPECT_EQ(r.log, want);
    EXPECT_EQ(s.ReadCount(), 0) << "ReadCount restarts after a close";
}

TEST(WSocketClient, DottedAddressLookupAnswersInsideTheCall)
{
    TWSocket s;
    Recorder r(s);
    s.DnsLookup("127.0.0.1");
    EXPECT_EQ(r.log, std::vector<std::string>{"lookup 0"});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(WSocketClient, DataLeftUnreadAtThePeersCloseIsOfferedBeforeTheClose)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    r.readSize = 3;  // the handler reads less than there is
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    std::string payload(10000, 'x');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + i % 26);
    WriteAll(peer, payload);
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return r.closed; }));
    EXPECT_EQ(r.data, payload);
    EXPECT_EQ(r.log.back(), "state connected>closed");
}

TEST(WSocketClient, WithoutHandlerIncomingDataIsDiscarded)
{
    Listener l;
    TWSocket s;
    bool closed = false;
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    int peer = l.AcceptPumping();
    ASSERT_GE(peer, 0);
    WriteAll(peer, std::string(5000, 'z'));
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return closed; }));
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClient, RefusedConnectionReportsThenClosesAndStaysReusable)
{
    int port = ClosedPort();
    TWSocket s;
    Recorder r(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return r.closed; }));
    std::vector<std::string> want = {
        "state closed>opened",       "state opened>connecting", "state connecting>connected",
        "connected 10061",           "state connected>closed",  "closed 0",
    };
    EXPECT_EQ(r.log, want);
    EXPECT_EQ(SocketErrorDesc(10061), "Connection refused");

    // Reuse after assigning the address again.
    Listener l;
    r.log.clear();
    r.connected = false;
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(r.log.back(), "connected 0");
    ::close(peer);
}

TEST(WSocketClient, LookupOfAnInvalidNameFailsWithAHostNotFoundCode)
{
    TWSocket s;
    Recorder r(s);
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(PumpUntil([&] { return r.looked; }, std::chrono::milliseconds(20000)));
    ASSERT_EQ(r.log.size(), 1u);
    int code = std::stoi(r.log[0].substr(7));
    EXPECT_GE(code, 11001);
    EXPECT_LE(code, 11004);
    EXPECT_TRUE(s.DnsResult().empty());
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(WSocketClient, CancelDuringLookupReportsInterruptAndDropsTheLateAnswer)
{
    TWSocket s;
    Recorder r(s);
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(r.log, std::vector<std::string>{"lookup 10004"});
    // The helper thread still answers; its answer must vanish.
    ASSERT_TRUE(PumpUntil([] { return RunningLookupThreads() == 0; }));
    for (int i = 0; i < 5; ++i)
        PumpNotices();
    EXPECT_EQ(r.log, std::vector<std::string>{"lookup 10004"});
    EXPECT_TRUE(s.DnsResult().empty());
    s.CancelDnsLookup();  // nothing runs: no event
    EXPECT_EQ(r.log.size(), 1u);
}

TEST(WSocketClient, SocketDestroyedDuringLookupLeavesNoEventBehind)
{
    bool fired = false;
    {
        TWSocket s;
        s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t) { fired = true; };
        s.DnsLookup("localhost");
    }
    ASSERT_TRUE(PumpUntil([] { return RunningLookupThreads() == 0; }));
    PumpNotices();
    EXPECT_FALSE(fired);
}

TEST(WSocketClient, PeerResetMidStreamClosesWithConnectionReset)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    WriteAll(peer, "part");
    ASSERT_TRUE(PumpUntil([&] { return r.data == "part"; }));
    ResetOnClose(peer);
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return r.closed; }));
    EXPECT_EQ(r.log[r.log.size() - 2], "closed 10054");
    EXPECT_EQ(r.log.back(), "state connected>closed");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClient, SendAfterThePeerClosedEndsTheSessionWithACloseCode)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    s.OnSessionClosed = nullptr;  // no peer-close handling: the send path must notice
    std::vector<uint16_t> closes;
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    s.Pause();  // keep the close notice away so the failure comes from Send
    ResetOnClose(peer);
    ::close(peer);
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) { closes.push_back(e); };
    // The first write after a reset fails at once on Linux.
    int rc = s.SendStr("after close");
    EXPECT_EQ(rc, 11) << "Send still returns what it queued";
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_TRUE(closes[0] == 10053 || closes[0] == 10054) << closes[0];
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClient, ConnectOnASocketInUseIsRefusedAndTheSessionSurvives)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    try {
        s.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: Socket already in use");
    }
    EXPECT_EQ(s.State(), wsConnected);
    s.SendStr("still");
    EXPECT_EQ(ReadSome(peer, 5), "still");
    s.Close();
    EXPECT_EQ(ReadSome(peer, 1), "") << "graceful close: the peer reads end of stream";
    ::close(peer);
}

TEST(WSocketClient, ConnectRefusedAtOnceRaisesAndLeavesTheCallerToClose)
{
    TWSocket s;
    Recorder r(s);
    s.SetAddr("255.255.255.255");  // a stream connect to broadcast fails inside connect()
    s.SetPort("80");
    std::string msg;
    try {
        s.Connect();
    } catch (const ESocketException& e) {
        msg = e.what();
    }
    EXPECT_EQ(msg, "Error 10051 in function Connect\r\nNetwork is unreachable");
    EXPECT_EQ(s.LastError(), 10051);
    EXPECT_EQ(s.State(), wsOpened);
    // Nothing arrives for the half-made socket on its own ...
    PumpUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_EQ(r.log, std::vector<std::string>{"state closed>opened"});
    // ... and the caller's Close ends it in the usual way.
    s.Close();
    EXPECT_EQ(r.log, (std::vector<std::string>{"state closed>opened", "state opened>closed", "closed 0"}));
}

TEST(WSocketClient, ANoticeOfAClosedSessionNeverReachesTheNextOnAReusedDescriptor)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    int peer = l.AcceptPumping();
    ASSERT_TRUE(PumpUntil([&] { return r.connected; }));
    int oldHandle = s.HSocket();
    s.SendStr("x");  // all taken at once: its OnDataSent is posted for later
    s.Close();
    r.log.clear();
    r.connected = false;
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    ASSERT_EQ(s.HSocket(), oldHandle) << "the test relies on the descriptor number coming back";
    int peer2 = l.AcceptPumping();
    ASSERT_TRUE(PumpUntil([&] { return r.connected; }));
    for (const auto& line : r.log)
        EXPECT_NE(line, "sent 0") << "OnDataSent of the old session leaked into the new one";
    ::close(peer);
    ::close(peer2);
}

TEST(WSocketClient, EverythingThePeerSentBeforeClosingIsDeliveredHoweverSlowTheReader)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    r.readSize = 64;
    auto fast = s.OnDataAvailable;
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t e) {
        // A slow reader: the final loop outlasts any time slice.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        fast(snd, e);
    };
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);
    s.Pause();  // data and the close pile up in the kernel first
    std::string payload(100000, '\0');  // fits the receive buffer
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i % 253);
    std::thread writer([&] {
        WriteAll(peer, payload);
        ::close(peer);
    });
    writer.join();
    int pending = 0;
    ::ioctl(s.HSocket(), FIONREAD, &pending);
    ASSERT_EQ(pending, static_cast<int>(payload.size()));
    s.Resume();
    ASSERT_TRUE(PumpUntil([&] { return r.closed; }, std::chrono::milliseconds(20000)));
    EXPECT_EQ(r.data.size(), payload.size());
    EXPECT_TRUE(r.data == payload);
}

// The loop reads on while reads come back full and stops at a short read or
// would-block. Handlers that read exactly what is there, or that look at
// RcvdCount first and then read nothing, must still hear of the next data.
TEST(WSocketClient, ReadsThatTakeExactlyWhatIsThereNeitherStallNorSpin)
{
    Listener l;
    TWSocket s;
    Recorder r(s);
    int peer = r.ConnectTo(l);
    ASSERT_GE(peer, 0);

    std::string got;
    int calls = 0, emptyCalls = 0;
    enum { Fixed, Counted, Str } mode = Fixed;
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        ++calls;
        char buf[4];
        int n = 0;
        if (mode == Fixed) {
            n = snd->Receive(buf, sizeof buf);
        } else if (mode == Counted) {
            if (snd->RcvdCount() > 0)
                n = snd->Receive(buf, sizeof buf);
        } else {
            std::string t = snd->ReceiveStr();
            got += t;
            n = static_cast<int>(t.size());
        }
        if (n > 0 && mode != Str)
            got.append(buf, static_cast<std::size_t>(n));
        if (n <= 0)
            ++emptyCalls;
    };
    const auto before = std::chrono::steady_clock::now();
    EXPECT_LT(s.LastReceived(), before) << "nothing has arrived yet";
    std::string want;
    for (auto m : {Fixed, Counted, Str}) {
        mode = m;
        for (const char* burst : {"abcdefgh", "ijkl", "mnopqrstuvwx"}) {
            SCOPED_TRACE(std::to_string(m) + " " + burst);
            calls = emptyCalls = 0;
            want += burst;
            WriteAll(peer, burst);  // one send: it arrives whole
            ASSERT_TRUE(PumpUntil([&] { return got == want; })) << got;
            // A read that took the last bytes exactly may be followed by one
            // call that finds nothing; never more.
            PumpUntil([] { return false; }, std::chrono::milliseconds(20));
            EXPECT_LE(emptyCalls, 1) << calls << " calls";
        }
    }
    EXPECT_GE(s.LastReceived(), before);
    EXPECT_LE(s.LastReceived(), std::chrono::steady_clock::now());
    ::close(peer);
}

// A loopback connection is complete when connect returns; its completion is
// still delivered from the dispatch, once, and a pause holds it back.
TEST(WSocketClient, ImmediateConnectCompletesOnceFromTheDispatchAndWaitsOutAPause)
{
    Listener l;
    for (const bool pause : {false, true}) {
        TWSocket s;
        Recorder r(s);
        s.SetAddr("127.0.0.1");
        s.SetPort(l.PortText());
        s.SetProto("tcp");
        s.Connect();
        EXPECT_FALSE(r.connected) << "never inside Connect";
        if (pause)
            s.Pause();
        int peer = l.AcceptPumping();
        ASSERT_GE(peer, 0);
        for (int i = 0; i < 5; ++i)
            WaitForNotices(std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
        EXPECT_EQ(r.connected, !pause);
        if (pause) {
            EXPECT_EQ(s.State(), wsConnecting);
            s.Resume();
            ASSERT_TRUE(PumpUntil([&] { return r.connected; }));
        }
        // Nothing more follows from the connect: no second completion, no
        // OnDataSent without a Send.
        for (int i = 0; i < 3; ++i)
            WaitForNotices(std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
        EXPECT_EQ(std::count(r.log.begin(), r.log.end(), "connected 0"), 1);
        EXPECT_EQ(r.log.back(), "connected 0");
        WriteAll(peer, "x");
        ASSERT_TRUE(PumpUntil([&] { return r.data == "x"; }));
        ::close(peer);
        ASSERT_TRUE(PumpUntil([&] { return r.closed; }));
    }
}
