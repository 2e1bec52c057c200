// Line mode of TWSocket against a plain POSIX peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/NetTestPeer.h"
#include "net/WSocket.h"

using namespace nettest;

namespace {

// A TWSocket connected to a POSIX peer, with line mode on.
struct LinePair {
    Listener l;
    TWSocket s;
    int peer = -1;
    bool closed = false;

    LinePair()
    {
        bool connected = false;
        s.OnSessionConnected = [&](TCustomWSocket*, uint16_t) { connected = true; };
        s.OnSessionClosed = [this](TCustomWSocket*, uint16_t) { closed = true; };
        s.SetAddr("127.0.0.1");
        s.SetPort(l.PortText());
        s.Connect();
        peer = l.AcceptPumping();
        PumpUntil([&] { return connected; });
        s.OnSessionConnected = nullptr;
        s.SetLineMode(true);
    }
    ~LinePair()
    {
        if (peer >= 0)
            ::close(peer);
    }
    void Send(const std::string& bytes) { WriteAll(peer, bytes); }
};

// A handler that reads each offered line whole and records it with the
// RcvdCount it saw.
struct LineReader {
    std::vector<std::string> lines;
    std::vector<int> counts;
    void Attach(TWSocket& s)
    {
        s.OnDataAvailable = [this](TCustomWSocket* snd, uint16_t) {
            int n = snd->RcvdCount();
            counts.push_back(n);
            std::string buf(static_cast<std::size_t>(std::max(n, 0)), '\0');
            int got = snd->Receive(buf.data(), n);
            buf.resize(static_cast<std::size_t>(std::max(got, 0)));
            lines.push_back(buf);
        };
    }
};

}  // namespace

TEST(LineMode, LinesAreOfferedOneByOneEvenWhenSplitOrJoinedInTransit)
{
    LinePair p;
    LineReader r;
    r.Attach(p.s);
    // Line end split across two reads.
    p.Send("first\r");
    ASSERT_TRUE(PumpUntil([&] { return p.s.ReadCount() == 6; }));
    EXPECT_TRUE(r.lines.empty());
    p.Send("\nsecond\r\nthird\r\n");
    ASSERT_TRUE(PumpUntil([&] { return r.lines.size() == 3; }));
    EXPECT_EQ(r.lines, (std::vector<std::string>{"first\r\n", "second\r\n", "third\r\n"}));
    EXPECT_EQ(r.counts, (std::vector<int>{7, 8, 7}));
}

TEST(LineMode, AHandlerReadingInSmallPiecesGetsTheLineInOrderBeforeTheNext)
{
    LinePair p;
    std::vector<std::string> pieces;
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char buf[4];
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            pieces.emplace_back(buf, static_cast<std::size_t>(n));
    };
    p.Send("abcdefghij\r\nXY\r\n");
    ASSERT_TRUE(PumpUntil([&] { return pieces.size() == 4; }));
    EXPECT_EQ(pieces, (std::vector<std::string>{"abcd", "efgh", "ij\r\n", "XY\r\n"}));
}

TEST(LineMode, WithoutHandlerCompleteLinesAreDroppedAndTheRestIsKept)
{
    LinePair p;
    p.Send("gone 1\r\ngone 2\r\nkept");
    ASSERT_TRUE(PumpUntil([&] { return p.s.ReadCount() == 20; }));
    LineReader r;
    r.Attach(p.s);
    p.Send(" too\r\n");
    ASSERT_TRUE(PumpUntil([&] { return r.lines.size() == 1; }));
    EXPECT_EQ(r.lines[0], "kept too\r\n");
}

TEST(LineMode, LineEditAppliesBackspaceAndTabAndEchoesWhatItKeeps)
{
    LinePair p;
    p.s.SetLineEdit(true);
    p.s.SetLineEcho(true);
    LineReader r;
    r.Attach(p.s);
    p.Send("ab\bc\r\n");
    ASSERT_TRUE(PumpUntil([&] { return r.lines.size() == 1; }));
    EXPECT_EQ(r.lines[0], "ac\r\n");
    EXPECT_EQ(ReadSome(p.peer, 8), "ab\b \bc\r\n");

    // Backspace into an earlier read, never before the buffer's start; tab
    // to the next multiple of 8.
    p.Send("xy");
    ASSERT_TRUE(PumpUntil([&] { return p.s.ReadCount() == 8; }));
    p.Send("\b\b\b\tz\r\n");
    ASSERT_TRUE(PumpUntil([&] { return r.lines.size() == 2; }));
    EXPECT_EQ(r.lines[1], "        z\r\n");
}

TEST(LineMode, SwitchingLineModeOffKeepsTheUnreadRestInOrderAndReoffersIt)
{
    LinePair p;
    std::string plain;
    int calls = 0;
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        ++calls;
        char buf[64];
        if (static_cast<TWSocket*>(snd)->LineMode()) {
            int n = snd->Receive(buf, 3);  // part of the line, then leave line mode
            plain.append(buf, static_cast<std::size_t>(std::max(n, 0)));
            static_cast<TWSocket*>(snd)->SetLineMode(false);
            return;
        }
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            plain.append(buf, static_cast<std::size_t>(n));
    };
    p.Send("head line\r\nsecond\r\n");
    // The rest of the first line and the second line come from the buffer,
    // through the notice the mode change posted; no new socket data is needed.
    ASSERT_TRUE(PumpUntil([&] { return plain.size() == 19; }));
    EXPECT_EQ(plain, "head line\r\nsecond\r\n");

    // Back to line mode with buffered bytes: they are scanned for lines again.
    LineReader r;
    p.s.OnDataAvailable = nullptr;
    p.Send("one\r\ntwo\r\n");
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        // Mode off: read only 2 bytes, then back to line mode.
        char buf[2];
        snd->Receive(buf, 2);
        plain.append(buf, 2);
        static_cast<TWSocket*>(snd)->SetLineMode(true);
        r.Attach(p.s);
    };
    ASSERT_TRUE(PumpUntil([&] { return r.lines.size() == 2; }));
    EXPECT_EQ(plain.substr(19), "on");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"e\r\n", "two\r\n"}));
}

TEST(LineMode, UnfinishedLineIsOfferedAtThePeersCloseWithoutLineEnd)
{
    LinePair p;
    LineReader r;
    r.Attach(p.s);
    p.Send("complete\r\ntail without end");
    ::close(p.peer);
    p.peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return p.closed; }));
    EXPECT_EQ(r.lines, (std::vector<std::string>{"complete\r\n", "tail without end"}));
}

TEST(LineMode, AHandlerThatLeavesTheLineUnreadDoesNotHangTheThread)
{
    LinePair p;
    int calls = 0;
    bool readNow = false;
    std::string got;
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        ++calls;
        if (!readNow)
            return;
        char buf[64];
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    p.Send("stuck\r\n");
    ASSERT_TRUE(PumpUntil([&] { return calls >= 1; }));
    for (int i = 0; i < 5; ++i)
        PumpNotices();
    EXPECT_LT(calls, 5);
    readNow = true;
    p.Send("next\r\n");  // new data offers the pending line again
    ASSERT_TRUE(PumpUntil([&] { return got == "stuck\r\nnext\r\n"; }));
}

TEST(LineMode, ALineWithoutEndIsCappedAndOfferedAsItStands)
{
    LinePair p;
    int tooLong = 0;
    std::size_t total = 0;
    p.s.OnLineTooLong = [&](TCustomWSocket*) { ++tooLong; };
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        std::vector<char> buf(1 << 16);
        int n;
        while ((n = snd->Receive(buf.data(), static_cast<int>(buf.size()))) > 0)
            total += static_cast<std::size_t>(n);
    };
    std::string big(TWSocket::kMaxLineBuffer + 4096, 'q');
    std::thread writer([&] { WriteAll(p.peer, big); });
    bool done = PumpUntil([&] { return total >= static_cast<std::size_t>(TWSocket::kMaxLineBuffer); },
                          std::chrono::milliseconds(10000));
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_GE(tooLong, 1);
}

TEST(LineMode, LeftoversOfALineModePeriodAreNeitherStrandedNorLostAtTheClose)
{
    LinePair p;
    std::string got;
    // Reads one byte per call and leaves line mode at the first line.
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char c;
        if (snd->Receive(&c, 1) == 1)
            got += c;
        p.s.SetLineMode(false);
    };
    p.Send("ab\r\ncdefgh\r\nij");
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 14; }));
    EXPECT_EQ(got, "ab\r\ncdefgh\r\nij");

    // Again, but the peer closes at once: whatever sits in the line buffer
    // reaches the handler before OnSessionClosed.
    p.s.OnDataAvailable = nullptr;
    p.s.SetLineMode(true);
    got.clear();
    bool orderOk = true;
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char c;
        if (snd->Receive(&c, 1) == 1)
            got += c;
        orderOk = orderOk && !p.closed;
        p.s.SetLineMode(false);
    };
    p.Send("line\r\nrest");
    ::close(p.peer);
    p.peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return p.closed; }));
    EXPECT_EQ(got, "line\r\nrest");
    EXPECT_TRUE(orderOk);
}

TEST(LineMode, ModeSwitchesDuringTheLastOfferAtTheCloseLoseNothing)
{
    LinePair p;
    std::string got;
    // One byte per call; every 'z' switches line mode over.
    p.s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char c;
        if (snd->Receive(&c, 1) == 1) {
            got += c;
            if (c == 'z')
                p.s.SetLineMode(!p.s.LineMode());
        }
    };
    p.Send("no line end: az bz cz d");
    ::close(p.peer);
    p.peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return p.closed; }));
    EXPECT_EQ(got, "no line end: az bz cz d");
}
