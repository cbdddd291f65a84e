#include "SockTesting.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

class ConnectionTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(WinsockUsers, 0); }
    void TearDown() override { EXPECT_EQ(WinsockUsers, 0); }
};

}  // namespace

TEST_F(ConnectionTest, DottedAddressConnectsWithoutLookup)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    int Resolved = 0, Connects = 0;
    Sock.OnHostResolved = [&](TComponent*) { ++Resolved; };
    Sock.OnConnect = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &Sock);
        ++Connects;
    };
    ConnectTo(Sock, Peer);
    EXPECT_TRUE(Sock.Connected);
    EXPECT_EQ(Resolved, 0);
    EXPECT_EQ(Connects, 1);
    EXPECT_EQ(Sock.RemoteAddress.sin_addr, WinSock::inet_addr("127.0.0.1"));
}

TEST_F(ConnectionTest, NameIsLookedUpThenConnected)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    int Resolved = 0;
    Sock.OnHostResolved = [&](TComponent*) { ++Resolved; };
    Sock.Host = "localhost";
    Sock.Port = Peer.Port();
    Sock.TimeOut = 5000;
    Sock.Connect();
    EXPECT_TRUE(Sock.Connected);
    EXPECT_EQ(Resolved, 1);
    EXPECT_EQ(Sock.RemoteAddress.sin_addr, WinSock::inet_addr("127.0.0.1"));
}

TEST_F(ConnectionTest, HostWithoutAddressGoesThroughOnInvalidHostOnce)
{
    const struct {
        const char* Host;
    } Cases[] = {{"0.0.0.0"}, {"no such host"}, {""}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Host);
        TTestSock Sock;
        Sock.Host = Case.Host;
        Sock.TimeOut = 5000;
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), "Null Remote Address");

        int Calls = 0;
        Sock.OnInvalidHost = [&](bool& Handled) {
            ++Calls;
            Handled = true;   // without correcting Host: one more attempt, then failure
        };
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), "Null Remote Address");
        EXPECT_EQ(Calls, 1);
    }
}

TEST_F(ConnectionTest, OnInvalidHostMayCorrectTheHost)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    Sock.Host = "0.0.0.0";
    Sock.Port = Peer.Port();
    Sock.OnInvalidHost = [&](bool& Handled) {
        Sock.Host = "127.0.0.1";
        Handled = true;
    };
    Sock.Connect();
    EXPECT_TRUE(Sock.Connected);
}

TEST_F(ConnectionTest, ClosedPortFailsTheConnectAndTheNextConnectWorks)
{
    TTestSock Sock;
    int Failures = 0;
    Sock.OnConnectionFailed = [&](TObject*) { ++Failures; };
    Sock.Host = "127.0.0.1";
    Sock.Port = TScriptedPeer::ClosedPort();
    Sock.TimeOut = 5000;
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), "Connection Failed");
    EXPECT_EQ(Failures, 1);
    EXPECT_FALSE(Sock.Connected);

    // The component connects once something listens.
    TScriptedPeer Peer;
    Sock.Port = Peer.Port();
    Sock.Connect();
    EXPECT_TRUE(Sock.Connected);
}

TEST_F(ConnectionTest, ConnectedComponentRefusesASecondConnectBeforeAnyLookup)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    ConnectTo(Sock, Peer);
    Sock.ReportLevel = 8;
    Sock.Statuses.clear();
    Sock.Host = "localhost";
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), "Already connected");
    EXPECT_EQ(std::count(Sock.Statuses.begin(), Sock.Statuses.end(), "Resolve Host"), 0);
}

TEST_F(ConnectionTest, OnlyTheLow16BitsOfThePortCount)
{
    TScriptedPeer Peer;
    Peer.Send("hello\r\n");
    TTestSock Sock;
    Sock.Host = "127.0.0.1";
    Sock.Port = 65536 + Peer.Port();   // as 65561 means port 25
    Sock.TimeOut = 5000;
    Sock.Connect();
    EXPECT_EQ(Sock.ReadLn(), "hello\r\n");
}

TEST_F(ConnectionTest, TimeLimitsEndWaitsThatGetNoAnswer)
{
    TScriptedPeer Peer;
    const struct {
        const char* Host;
        const char* Expected;
    } Cases[] = {
        {"localhost", "Host Lookup Timed Out"},
        {"127.0.0.1", "Connection Timed out"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Host);
        TTestSock Sock;
        int Failures = 0;
        Sock.OnConnectionFailed = [&](TObject*) { ++Failures; };
        Sock.Host = Case.Host;
        Sock.Port = Peer.Port();
        Sock.TimeOut = 50;
        TSwallowMessages NoAnswer(Sock.WindowHandle());
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), Case.Expected);
        EXPECT_TRUE(Sock.TimedOut);
        EXPECT_TRUE(Sock.Canceled);
        EXPECT_EQ(Failures, Case.Expected == std::string("Connection Timed out") ? 1 : 0);
    }
}

TEST_F(ConnectionTest, AbortFromATimerHandlerCancelsTheWait)
{
    TScriptedPeer Peer;
    const struct {
        const char* Host;
        const char* Expected;
    } Cases[] = {
        {"localhost", "Host Lookup Canceled"},
        {"127.0.0.1", "Connection Canceled"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Host);
        TTestSock Sock;
        Sock.Host = Case.Host;
        Sock.Port = Peer.Port();
        Sock.TimeOut = 0;   // no limit: only the Abort ends it
        TSwallowMessages NoAnswer(Sock.WindowHandle());
        TTimedAction Abort(30, [&] { Sock.Abort(); });
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), Case.Expected);
        EXPECT_TRUE(Sock.Canceled);
        EXPECT_FALSE(Sock.TimedOut);
    }
}

TEST_F(ConnectionTest, CanceledLeftByAConnectTimeOutStopsTheNextWrite)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    Sock.Host = "127.0.0.1";
    Sock.Port = Peer.Port();
    Sock.TimeOut = 50;
    {
        TSwallowMessages NoAnswer(Sock.WindowHandle());
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Connect(); }), "Connection Timed out");
    }
    EXPECT_EQ(FailureOf<EAbortError>([&] { Sock.Write("MAIL\r\n"); }), "Socket send aborted");
    EXPECT_FALSE(Sock.Canceled);
}

TEST_F(ConnectionTest, HostThatDoesNotFitTheBufferIsRefused)
{
    TTestSock Sock;
    Sock.Host = std::string(65537, 'a');
    EXPECT_EQ(FailureOf<ERangeError>([&] { Sock.Connect(); }), "Host name too long");
}

TEST_F(ConnectionTest, CheckConnectionGivesTheHandlerOneChance)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    try {
        Sock.CheckConnection();
        ADD_FAILURE() << "no exception";
    } catch (const ESockError&) {
        ADD_FAILURE() << "a socket error, not the base exception";
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Not Connected");
    }

    int Calls = 0;
    Sock.OnConnectionRequired = [&](bool& Handled) {
        ++Calls;
        Handled = true;   // claims to have connected but did not
    };
    EXPECT_EQ(FailureOf<Exception>([&] { Sock.CheckConnection(); }), "Not Connected");
    EXPECT_EQ(Calls, 1);

    Sock.OnConnectionRequired = [&](bool& Handled) {
        ConnectTo(Sock, Peer);
        Handled = true;
    };
    Sock.CheckConnection();
    EXPECT_TRUE(Sock.Connected);
}

TEST_F(ConnectionTest, DisconnectClosesAndOpensAFreshSocket)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    int Disconnects = 0;
    Sock.OnDisconnect = [&](TObject*) { ++Disconnects; };
    ConnectTo(Sock, Peer);
    Sock.ReportLevel = 4;
    Sock.Statuses.clear();
    Sock.Disconnect();
    EXPECT_FALSE(Sock.Connected);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_EQ(Sock.Statuses, std::vector<std::string>{"Request Close Socket"});
    EXPECT_TRUE(Peer.WaitForFinished(1, 2000));
    ConnectTo(Sock, Peer);   // the fresh socket is ready at once
    EXPECT_TRUE(Sock.Connected);
}

TEST_F(ConnectionTest, RaisingOnDisconnectStillLeavesAFreshSocket)
{
    TScriptedPeer Peer;
    TTestSock Sock;
    Sock.OnDisconnect = [](TObject*) { throw Exception("handler failed"); };
    ConnectTo(Sock, Peer);
    EXPECT_EQ(FailureOf<Exception>([&] { Sock.Disconnect(); }), "handler failed");
    Sock.OnDisconnect = nullptr;
    ConnectTo(Sock, Peer);
    EXPECT_TRUE(Sock.Connected);
}

TEST_F(ConnectionTest, PeerCloseWhileIdleClosesTheSocket)
{
    TScriptedPeer Peer;
    Peer.Close();
    TTestSock Sock;
    int Disconnects = 0;
    Sock.OnDisconnect = [&](TObject*) { ++Disconnects; };
    ConnectTo(Sock, Peer);
    EXPECT_TRUE(PumpUntil([&] { return Disconnects == 1; }));
    EXPECT_FALSE(Sock.Connected);
}

TEST_F(ConnectionTest, PeerCloseWithUnreadBytesKeepsTheConnection)
{
    TScriptedPeer Peer;
    Peer.Send("221 bye\r\n").Close();
    TTestSock Sock;
    int Disconnects = 0;
    Sock.OnDisconnect = [&](TObject*) { ++Disconnects; };
    ConnectTo(Sock, Peer);
    ASSERT_TRUE(Peer.WaitForFinished(1, 2000));
    EXPECT_EQ(Sock.ReadLn(), "221 bye\r\n");
    EXPECT_TRUE(PumpUntil([&] { return Disconnects == 1; }));   // the close comes once the bytes are read
}

TEST_F(ConnectionTest, DestroyingAConnectedComponentFiresNothing)
{
    TScriptedPeer Peer;
    int Fired = 0;
    {
        TPowersock Sock;
        ConnectTo(Sock, Peer);
        Sock.ReportLevel = 8;
        Sock.OnStatus = [&](TComponent*, const std::string&) { ++Fired; };
        Sock.OnDisconnect = [&](TObject*) { ++Fired; };
    }
    EXPECT_EQ(Fired, 0);
    EXPECT_TRUE(Peer.WaitForFinished(1, 2000));
}

TEST_F(ConnectionTest, SocketServicesStartWithTheFirstAndStopWithTheLastComponent)
{
    ASSERT_EQ(WinSock::StartupCount(), 0);
    auto First = std::make_unique<TPowersock>();
    auto Second = std::make_unique<TPowersock>();
    EXPECT_EQ(WinsockUsers, 2);
    EXPECT_EQ(WinSock::StartupCount(), 1);
    ASSERT_EQ(First->WinsockInfo.Count(), 6);
    EXPECT_EQ(First->WinsockInfo[0], "Version= 1.1");
    EXPECT_EQ(First->WinsockInfo[1], "High Version= 1.1");
    EXPECT_EQ(First->WinsockInfo[5], "Max Udp pack size= 65507");
    EXPECT_EQ(Second->WinsockInfo.Count(), 0);
    First.reset();
    EXPECT_EQ(WinSock::StartupCount(), 1);
    Second.reset();
    EXPECT_EQ(WinsockUsers, 0);
    EXPECT_EQ(WinSock::StartupCount(), 0);
    TPowersock Again;   // a later component starts them again
    EXPECT_EQ(WinSock::StartupCount(), 1);
    EXPECT_EQ(Again.WinsockInfo.Count(), 6);
}

TEST_F(ConnectionTest, ThousandConnectDisconnectCyclesLeakNoDescriptor)
{
    TScriptedPeer Peer;
    const int Before = OpenDescriptors();
    {
        TPowersock Sock;
        for (int Cycle = 0; Cycle < 1000; ++Cycle) {
            ConnectTo(Sock, Peer);
            Sock.Disconnect();
            // The peer serves one connection at a time; running ahead of it fills its
            // listen queue, and a dropped connection request is retried only after 1 s.
            ASSERT_TRUE(Peer.WaitForFinished(Cycle + 1, 2000));
        }
    }
    EXPECT_EQ(OpenDescriptors(), Before);
}

TEST_F(ConnectionTest, SocketWindowPassesOnlyHighMessagesToTheComponent)
{
    TTestSock Sock;
    Sock.Succeeded = false;
    PostMessage(Sock.WindowHandle(), 1124, 0, 0);
    bool MarkerSeen = false;   // posted messages arrive in order
    TMessageWindow Marker("MarkerClass", [](HWND Window, unsigned, uintptr_t, intptr_t) -> intptr_t {
        *static_cast<bool*>(Window->Owner) = true;
        return 0;
    });
    Marker.Owner = &MarkerSeen;
    PostMessage(&Marker, 1, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return MarkerSeen; }));
    EXPECT_FALSE(Sock.Succeeded);

    PostMessage(Sock.WindowHandle(), 1130, 0, 0);   // neither a notice nor a lookup answer
    EXPECT_TRUE(PumpUntil([&] { return Sock.Succeeded; }));
    EXPECT_FALSE(Sock.Connected);
    EXPECT_FALSE(Sock.WaitDone);
}

TEST_F(ConnectionTest, AcceptEndsOnCancelOrTakesTheWaitingConnection)
{
    TTestSock Sock;
    TTimedAction Abort(20, [&] { Sock.Abort(); });
    EXPECT_EQ(FailureOf<ESockError>([&] { Sock.Accept(); }), "Accepting Canceled");
    EXPECT_TRUE(Sock.Canceled);

    // A listening socket with a client waiting, and a finished wait.
    TTestSock Listener;
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof Address;
    ASSERT_EQ(bind(Listener.SocketHandle, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
    ASSERT_EQ(listen(Listener.SocketHandle, 1), 0);
    getsockname(Listener.SocketHandle, reinterpret_cast<sockaddr*>(&Address), &Size);
    TTestSock Client;
    Client.Host = "127.0.0.1";
    Client.Port = ntohs(Address.sin_port);
    Client.Connect();
    PostMessage(Listener.WindowHandle(), WM_LOOKUP_DONE, 0, 0);
    const uint16_t Accepted = Listener.Accept();
    EXPECT_NE(Accepted, NO_SOCKET);
    EXPECT_EQ(Listener.RemoteAddress.sin_addr, WinSock::inet_addr("127.0.0.1"));
    EXPECT_EQ(WinSock::closesocket(Accepted), 0);
}

TEST(SocketErrorTest, LookupErrorMessageAndCheckSocketError)
{
    TTestSock Sock;
    const struct {
        int Error;
        const char* Text;   // nullptr: passed over in silence
    } Cases[] = {
        {10061, "10061:Connection refused"},
        {10004, "10004:Interrupted system call"},
        {11004, "11004:Valid name, no data record of requested type"},
        {10100, "Unknown Error No. 10100"},
        {10035, nullptr},
        {10000, nullptr},
        {5, nullptr},
        {0, nullptr},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Error);
        WinSock::WSASetLastError(Case.Error);
        if (Case.Text == nullptr) {
            EXPECT_NO_THROW(Sock.CheckSocketError(WSAEWOULDBLOCK));
            continue;
        }
        EXPECT_EQ(Sock.LookupErrorMessage(static_cast<uint16_t>(Case.Error)), Case.Text);
        EXPECT_EQ(FailureOf<ESockError>([&] { Sock.CheckSocketError(WSAEWOULDBLOCK); }), Case.Text);
    }
    EXPECT_EQ(SocketErrorTable[49].Number, 11004);
}
