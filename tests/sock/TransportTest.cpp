#include "SockTesting.h"

#include <algorithm>

namespace {

class TransportTest : public testing::Test {
protected:
    // Connects Sock to a peer running Script.
    void Open(const std::function<void(TScriptedPeer&)>& Script)
    {
        Script(Peer);
        ConnectTo(Sock, Peer);
    }

    TScriptedPeer Peer;
    TTestSock Sock;
};

// A memory stream that records the size of every read.
class TRecordingStream : public TMemoryStream {
public:
    int64_t Read(void* Buffer, int64_t Count) override
    {
        const int64_t Got = TMemoryStream::Read(Buffer, Count);
        Reads.push_back(Got);
        return Got;
    }
    std::vector<int64_t> Reads;
};

std::string Pattern(size_t Size)
{
    std::string Bytes(Size, '\0');
    for (size_t I = 0; I < Size; ++I)
        Bytes[I] = static_cast<char>('a' + I % 23);
    return Bytes;
}

}  // namespace

TEST_F(TransportTest, ReadLnReturnsExactlyOneLineAsReceived)
{
    const struct {
        const char* Name;
        std::function<void(TScriptedPeer&)> Script;
        std::vector<std::string> Lines;
    } Cases[] = {
        {"two replies queued together", [](TScriptedPeer& P) { P.Send("250 OK\r\n354 go\r\n"); },
         {"250 OK\r\n", "354 go\r\n"}},
        {"a line in three pieces",
         [](TScriptedPeer& P) { P.Send("25").Pause(20).Send("0 OK\r").Pause(20).Send("\n"); }, {"250 OK\r\n"}},
        {"bare LF ends a line", [](TScriptedPeer& P) { P.Send("250 OK\n"); }, {"250 OK\n"}},
        {"CR alone does not", [](TScriptedPeer& P) { P.Send("25\r0\rOK\r\n"); }, {"25\r0\rOK\r\n"}},
        {"peer closes mid-line", [](TScriptedPeer& P) { P.Send("25").Pause(20).Close(); }, {""}},
        {"peer closes after a line", [](TScriptedPeer& P) { P.Send("221 bye\r\n").Close(); }, {"221 bye\r\n", ""}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TScriptedPeer CasePeer;
        Case.Script(CasePeer);
        TTestSock CaseSock;
        ConnectTo(CaseSock, CasePeer);
        for (const std::string& Line : Case.Lines)
            EXPECT_EQ(CaseSock.ReadLn(), Line);
    }
}

TEST_F(TransportTest, OverLongLineIsARangeErrorWithoutOverrun)
{
    Open([](TScriptedPeer& P) { P.Send(std::string(70000, 'x')); });
    EXPECT_THROW(Sock.ReadLn(), ERangeError);
}

TEST_F(TransportTest, LongestLineThatFitsIsReturned)
{
    Open([](TScriptedPeer& P) { P.Send(std::string(65535, 'x') + "\r\n"); });
    EXPECT_EQ(Sock.ReadLn().size(), 65537u);
}

TEST_F(TransportTest, SilentPeerEndsReadLnByTheTimeLimit)
{
    Open([](TScriptedPeer&) {});
    Sock.TimeOut = 50;
    EXPECT_EQ(FailureOf<EAbortError>([&] { Sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_FALSE(Sock.Canceled);
}

TEST_F(TransportTest, AbortFromATimerHandlerEndsReadLnAndTheNextStartsClean)
{
    Open([](TScriptedPeer& P) { P.ExpectLine().Send("250 late\r\n"); });
    Sock.TimeOut = 0;
    {
        TTimedAction Abort(30, [&] { Sock.Abort(); });
        EXPECT_EQ(FailureOf<EAbortError>([&] { Sock.ReadLn(); }), "Socket readln aborted");
    }
    EXPECT_FALSE(Sock.Canceled);
    Sock.Writeln("NOOP");
    EXPECT_EQ(Sock.ReadLn(), "250 late\r\n");
}

TEST_F(TransportTest, CanceledBeforeReadLnFailsAfterTheFirstRound)
{
    Open([](TScriptedPeer& P) { P.Send("250 OK\r\n"); });
    Sock.Abort();
    EXPECT_EQ(FailureOf<EAbortError>([&] { Sock.ReadLn(); }), "Socket readln aborted");
    Sock.Abort();
    Sock.TimeOut = 0;   // nothing arrives either: it must still not wait
    TScriptedPeer Silent;
    TTestSock Other;
    ConnectTo(Other, Silent);
    Other.TimeOut = 0;
    Other.Abort();
    EXPECT_EQ(FailureOf<EAbortError>([&] { Other.ReadLn(); }), "Socket readln aborted");
}

TEST_F(TransportTest, ReadLnOnAReplacedSocketIsAClearError)
{
    Open([](TScriptedPeer&) {});
    Sock.Disconnect();   // the fresh socket is not connected
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.ReadLn(); }), "10057:Socket is not connected");

    // Replaced by the peer's reset during the wait: the reset is the answer.
    TScriptedPeer Resetting;
    Resetting.Pause(30).Reset();
    TTestSock Other;
    ConnectTo(Other, Resetting);
    Other.TimeOut = 2000;
    EXPECT_EQ(FailureOf<ESockError>([&] { Other.ReadLn(); }), "10054:Connection reset by peer");
}

TEST_F(TransportTest, SendingOnAReplacedSocketIsNotConnected)
{
    Open([](TScriptedPeer&) {});
    Sock.Disconnect();
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Writeln("NOOP"); }), "10057:Socket is not connected");
    TMemoryStream Stream;
    Stream.SetSize(10);
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.SendStream(Stream); }), "10057:Socket is not connected");
}

TEST_F(TransportTest, TransactionReadsTheReplyCode)
{
    const struct {
        const char* Reply;
        int16_t Number;
    } Cases[] = {
        {"250 OK\r\n", 250},
        {"OK\r\n", 0},
        {"354\r\n", 354},
        {"32767 top\r\n", 32767},
        {"99999999999 not a 32-bit number\r\n", 0},
        {"-1 negative\r\n", 0},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Reply);
        TScriptedPeer CasePeer;
        CasePeer.ExpectLine().Send(Case.Reply);
        TTestSock CaseSock;
        ConnectTo(CaseSock, CasePeer);
        EXPECT_EQ(CaseSock.Transaction("HELO me"), Case.Reply);
        EXPECT_EQ(CaseSock.LastReply, Case.Reply);
        EXPECT_EQ(CaseSock.ReplyNumber, Case.Number);
        ASSERT_TRUE(CasePeer.WaitForReceived(9, 2000));
        EXPECT_EQ(CasePeer.Received(), "HELO me\r\n");
    }
}

TEST_F(TransportTest, TransactionsAgainstAPeerThatAnswersPerCommand)
{
    Open([](TScriptedPeer& P) {
        P.Send("220 ready\r\n").Answer([](const std::string& Line) -> std::string {
            if (Line.rfind("HELO ", 0) == 0)
                return "250-first\r\n250 last\r\n";
            return Line == "QUIT\r\n" ? "221 bye\r\n" : "500 what\r\n";
        });
    });
    EXPECT_EQ(Sock.ReadLn(), "220 ready\r\n");
    EXPECT_EQ(Sock.Transaction("HELO me"), "250-first\r\n");
    EXPECT_EQ(Sock.ReadLn(), "250 last\r\n");
    Sock.Transaction("NOOP");
    EXPECT_EQ(Sock.ReplyNumber, 500);
    Sock.Transaction("QUIT");
    EXPECT_EQ(Sock.ReplyNumber, 221);
    EXPECT_EQ(Peer.Received(), "HELO me\r\nNOOP\r\nQUIT\r\n");
}

TEST_F(TransportTest, TransactionRangeErrorComesAfterTheReplyWasStoredAndReported)
{
    Open([](TScriptedPeer& P) { P.ExpectLine().Send("99999 big\r\n"); });
    EXPECT_THROW(Sock.Transaction("NOOP"), ERangeError);
    EXPECT_EQ(Sock.LastReply, "99999 big\r\n");
    EXPECT_EQ(Sock.LastStatus, "99999 big\r\n");
    EXPECT_EQ(Sock.ReplyNumber, 0);
}

TEST_F(TransportTest, TransactionWithTheEmptyReplyReportsNothing)
{
    Open([](TScriptedPeer& P) { P.ExpectLine().Close(); });
    Sock.ReplyNumber = 7;
    EXPECT_EQ(Sock.Transaction("QUIT"), "");
    EXPECT_EQ(Sock.ReplyNumber, 0);
    EXPECT_TRUE(Sock.Statuses.empty());
}

TEST_F(TransportTest, StatusTextsFollowTheReportLevel)
{
    const struct {
        int32_t Level;
        std::vector<std::string> Expected;
    } Cases[] = {
        {0, {}},
        {1, {"250 OK\r\n"}},
        {4, {"Sending Buffer", "250 OK\r\n", "Request Close Socket"}},
        {8, {"Transaction", "Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off", "ReadLn", "Timer On",
             "Timer Off", "250 OK\r\n", "Disconnecting", "Request Close Socket"}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Level);
        TScriptedPeer CasePeer;
        CasePeer.ExpectLine().Send("250 OK\r\n");
        TTestSock CaseSock;
        ConnectTo(CaseSock, CasePeer);
        CaseSock.ReportLevel = Case.Level;
        CaseSock.Statuses.clear();
        CaseSock.LastStatus = "before";
        CaseSock.Transaction("NOOP");
        CaseSock.Disconnect();
        EXPECT_EQ(CaseSock.Statuses, Case.Expected);
        EXPECT_EQ(CaseSock.LastStatus, Case.Expected.empty() ? "before" : Case.Expected.back());
    }
}

TEST_F(TransportTest, RaisingStatusHandlerDoesNotFailTheOperation)
{
    Open([](TScriptedPeer& P) { P.ExpectLine().Send("250 OK\r\n"); });
    Sock.ReportLevel = 8;
    Sock.OnStatus = [](TComponent*, const std::string&) { throw Exception("status handler failed"); };
    EXPECT_EQ(Sock.Transaction("NOOP"), "250 OK\r\n");
}

TEST_F(TransportTest, WriteSendsUpToTheFirstNulAndAtMost65535Bytes)
{
    Open([](TScriptedPeer&) {});
    Sock.Write(std::string("ab\0cd", 5));
    Sock.Write("");
    ASSERT_TRUE(Peer.WaitForReceived(2, 2000));
    EXPECT_THROW(Sock.Write(std::string(65536, 'y')), ERangeError);
    Sock.Write(std::string(65535, 'z'));
    ASSERT_TRUE(Peer.WaitForReceived(2 + 65535, 2000));
    EXPECT_EQ(Peer.Received(), "ab" + std::string(65535, 'z'));
    EXPECT_THROW(Sock.Writeln(std::string(65534, 'w')), ERangeError);
}

TEST_F(TransportTest, SendBufferThatKeepsBlockingEndsByTheTimeLimit)
{
    Open([](TScriptedPeer& P) { P.Pause(10000); });   // reads nothing for a while
    Sock.TimeOut = 100;
    const std::string Block(65535, 'q');
    std::string Failure = "(no exception)";
    for (int Round = 0; Round < 2000 && Failure == "(no exception)"; ++Round)
        Failure = FailureOf<EAbortError>([&] { Sock.Write(Block); });
    EXPECT_EQ(Failure, "Socket send aborted");
    EXPECT_FALSE(Sock.Canceled);
}

TEST_F(TransportTest, SendStreamGoesOutInChunksWithProgress)
{
    Open([](TScriptedPeer&) {});
    TRecordingStream Stream;
    const std::string Bytes = Pattern(150000);
    Stream.WriteBuffer(Bytes.data(), int64_t(Bytes.size()));
    Stream.SetPosition(1234);   // where the stream stands does not matter
    int Packets = 0;
    Sock.OnPacketSent = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &Sock);
        EXPECT_LE(Sock.BytesSent, Sock.BytesTotal);
        ++Packets;
    };
    Sock.SendStream(Stream);
    EXPECT_EQ(Stream.Reads, (std::vector<int64_t>{65536, 65536, 18928}));
    EXPECT_GE(Packets, 3);
    EXPECT_EQ(Sock.BytesSent, 150000);
    EXPECT_EQ(Sock.BytesTotal, 150000);
    ASSERT_TRUE(Peer.WaitForReceived(Bytes.size(), 5000));
    EXPECT_TRUE(Peer.Received() == Bytes);
}

TEST_F(TransportTest, SendStreamOfAnEmptyStream)
{
    Open([](TScriptedPeer&) {});
    TMemoryStream Stream;
    int Packets = 0;
    Sock.OnPacketSent = [&](TObject*) { ++Packets; };
    Sock.BytesSent = Sock.BytesTotal = 99;
    Sock.SendStream(Stream);
    EXPECT_EQ(Sock.BytesSent, 0);
    EXPECT_EQ(Sock.BytesTotal, 0);
    EXPECT_EQ(Packets, 0);
}

TEST_F(TransportTest, AbortDuringSendStream)
{
    Open([](TScriptedPeer& P) { P.Pause(10000); });   // takes nothing, so the send must wait
    TMemoryStream Stream;
    Stream.SetSize(64 << 20);
    TTimedAction Abort(50, [&] { Sock.Abort(); });
    EXPECT_EQ(FailureOf<EAbortError>([&] { Sock.SendStream(Stream); }), "Socket send aborted");
    EXPECT_FALSE(Sock.Canceled);
    EXPECT_GT(Sock.BytesSent, 0);
    EXPECT_LT(Sock.BytesSent, Sock.BytesTotal);
}

TEST_F(TransportTest, PeerResetDuringSendStreamIsASocketError)
{
    Open([](TScriptedPeer& P) { P.ExpectBytes(100000).Reset(); });
    TMemoryStream Stream;
    Stream.SetSize(64 << 20);
    const std::string Failure = FailureOf<ESockError>([&] { Sock.SendStream(Stream); });
    // The reset is met by the send itself, or it replaced the socket first.
    EXPECT_TRUE(Failure == "10054:Connection reset by peer" || Failure == "10057:Socket is not connected")
        << Failure;
    EXPECT_LT(Sock.BytesSent, Sock.BytesTotal);
}

TEST(NthFieldTest, FieldsBetweenDelimiters)
{
    const struct {
        const char* Text;
        int32_t N;
        const char* Field;
    } Cases[] = {
        {"a:b:c", 2, "b"}, {"a::c", 3, "c"}, {"a::c", 2, ""}, {"abc", 1, "abc"}, {"abc", 2, ""},
        {"", 1, ""},       {"", 3, ""},      {"a:b", 0, ""},  {"a:b", -1, ""}, {":x", 1, ""},
        {":x", 2, "x"},    {"a:b:", 3, ""},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(NthField(Case.Text, ':', Case.N), Case.Field) << Case.Text << " field " << Case.N;
}
