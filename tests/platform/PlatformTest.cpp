#include "platform/EventPump.h"
#include "platform/MessageWindow.h"
#include "platform/WinSock.h"

#include "ScriptedPeer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <vector>

namespace {

struct TMessage {
    unsigned Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

// A window whose procedure records every message; Owner points at the record.
intptr_t RecordingProc(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    static_cast<std::vector<TMessage>*>(Window->Owner)->push_back({Msg, WParam, LParam});
    return 0;
}

struct TRecordingWindow {
    std::vector<TMessage> Messages;
    TMessageWindow Window{"TestWindowClass", RecordingProc};
    TRecordingWindow() { Window.Owner = &Messages; }

    // Pumps until Count messages arrived or Milliseconds passed.
    bool PumpFor(size_t Count, int Milliseconds)
    {
        QElapsedTimer Clock;
        Clock.start();
        while (Messages.size() < Count && Clock.elapsed() < Milliseconds)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
        return Messages.size() >= Count;
    }
};

// Pumps for a short while, for checks that something does not arrive.
void PumpBriefly(int Milliseconds)
{
    QElapsedTimer Clock;
    Clock.start();
    while (Clock.elapsed() < Milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

class WinSockTest : public testing::Test {
protected:
    void SetUp() override { WinSock::WSAStartup(0x0101, Data); }
    void TearDown() override { WinSock::WSACleanup(); }

    // A registered socket connecting to Port on 127.0.0.1.
    TSocket ConnectTo(uint16_t Port)
    {
        const TSocket Socket = WinSock::socket(WINSOCK_AF_INET, WINSOCK_SOCK_STREAM, 6);
        EXPECT_GE(Socket, 0);
        EXPECT_EQ(WinSock::WSAAsyncSelect(Socket, &Window.Window, 1125, 61), 0);
        SOCKADDR_IN Address;
        Address.sin_family = WINSOCK_AF_INET;
        Address.sin_port = qToBigEndian(Port);
        Address.sin_addr = WinSock::inet_addr("127.0.0.1");
        if (WinSock::connect(Socket, Address) != 0) {
            EXPECT_EQ(WinSock::WSAGetLastError(), WSAEWOULDBLOCK);
        }
        return Socket;
    }

    std::vector<uint16_t> Events() const
    {
        std::vector<uint16_t> Codes;
        for (const TMessage& M : Window.Messages)
            Codes.push_back(WSAGETSELECTEVENT(M.LParam));
        return Codes;
    }

    WSADATA Data;
    TRecordingWindow Window;
};

}  // namespace

TEST(MessageWindowTest, PostedMessagesReachTheProcedureInOrder)
{
    TRecordingWindow W;
    PostMessage(&W.Window, 1125, 7, 0x00200001);
    PostMessage(&W.Window, 1126, 8, -1);
    ASSERT_TRUE(W.PumpFor(2, 1000));
    EXPECT_EQ(W.Messages[0].Msg, 1125u);
    EXPECT_EQ(W.Messages[0].WParam, 7u);
    EXPECT_EQ(W.Messages[0].LParam, 0x00200001);
    EXPECT_EQ(W.Messages[1].Msg, 1126u);
    EXPECT_EQ(W.Messages[1].LParam, -1);
}

TEST(MessageWindowTest, MessagesFromAnEndedSourceAreDropped)
{
    TRecordingWindow W;
    auto Source = std::make_shared<int>(0);
    PostMessageFrom(Source, &W.Window, 1125, 1, 0);
    Source.reset();
    PostMessage(&W.Window, 1126, 2, 0);
    ASSERT_TRUE(W.PumpFor(1, 1000));
    PumpBriefly(20);
    ASSERT_EQ(W.Messages.size(), 1u);
    EXPECT_EQ(W.Messages[0].Msg, 1126u);
}

TEST(MessageWindowTest, TimerOneTicksAsWmTimerUntilKilled)
{
    TRecordingWindow W;
    EXPECT_FALSE(W.Window.SetTimer(1, 0));
    ASSERT_TRUE(W.Window.SetTimer(1, 10));
    ASSERT_TRUE(W.PumpFor(2, 2000));
    EXPECT_EQ(W.Messages[0].Msg, WM_TIMER);
    EXPECT_EQ(W.Messages[0].WParam, 1u);
    W.Window.KillTimer(1);
    W.Messages.clear();
    PumpBriefly(40);
    EXPECT_TRUE(W.Messages.empty());
}

// A time limit must never end a wait early: no first tick comes before its interval.
TEST(MessageWindowTest, TimerNeverTicksBeforeItsInterval)
{
    constexpr int Timers = 12;
    TRecordingWindow W[Timers];
    QElapsedTimer Clock;
    int64_t FirstTick[Timers];
    Clock.start();
    for (int I = 0; I < Timers; ++I) {
        FirstTick[I] = -1;
        ASSERT_TRUE(W[I].Window.SetTimer(1, unsigned(45 + 3 * I)));   // intervals 45 to 78 ms
    }
    while (Clock.elapsed() < 2000) {
        for (int I = 0; I < Timers; ++I)
            if (FirstTick[I] < 0 && !W[I].Messages.empty())
                FirstTick[I] = Clock.nsecsElapsed();
        if (std::count(FirstTick, FirstTick + Timers, -1) == 0)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 1);
    }
    for (int I = 0; I < Timers; ++I) {
        SCOPED_TRACE(45 + 3 * I);
        ASSERT_GE(FirstTick[I], 0);
        EXPECT_GE(FirstTick[I], (45 + 3 * I) * int64_t(1000000));
    }
}

TEST(EventPumpTest, WaitMessageReturnsOnceAPostedMessageRan)
{
    TRecordingWindow W;
    PostMessage(&W.Window, 1125, 0, 0);
    WaitMessage({});
    EXPECT_EQ(W.Messages.size(), 1u);
}

// A message posted while a posted event runs must not be slept through, whatever the
// dispatcher: the wait returns once it was delivered.
TEST(EventPumpTest, WaitMessageReturnsAfterAMessagePostedByAnEventHandler)
{
    TRecordingWindow W;
    QMetaObject::invokeMethod(&W.Window, [&] { PostMessage(&W.Window, 1126, 0, 0); }, Qt::QueuedConnection);
    QElapsedTimer Clock;
    Clock.start();
    for (int Round = 0; Round < 3 && W.Messages.empty(); ++Round) {
        W.Window.SetTimer(1, 2000);   // only a safety net: the wait must end long before
        WaitMessage({});
    }
    W.Window.KillTimer(1);
    ASSERT_EQ(W.Messages.size(), 1u);
    EXPECT_EQ(W.Messages[0].Msg, 1126u);
    EXPECT_LT(Clock.elapsed(), 1000);
}

// A handler that runs a loop of its own during a wait (a modal dialog) must not find that
// loop woken over and over by the wait, once the wait has what it was waiting for.
TEST(EventPumpTest, NestedLoopDuringAWaitDoesNotSpin)
{
    TRecordingWindow W;
    int NestedRounds = 0;
    QMetaObject::invokeMethod(
        &W.Window,
        [&] {
            PostMessage(&W.Window, 1125, 0, 0);   // delivered inside the nested loop
            QEventLoop Nested;
            const auto Count = QObject::connect(QAbstractEventDispatcher::instance(),
                                                &QAbstractEventDispatcher::aboutToBlock, [&] {
                                                    if (++NestedRounds == 1000)
                                                        Nested.quit();   // spinning: end it all the same
                                                });
            QTimer::singleShot(100, &Nested, &QEventLoop::quit);
            Nested.exec();
            QObject::disconnect(Count);
        },
        Qt::QueuedConnection);
    W.Window.SetTimer(1, 2000);   // safety net
    for (int Round = 0; Round < 3 && W.Messages.empty(); ++Round)
        WaitMessage({});
    W.Window.KillTimer(1);
    ASSERT_EQ(W.Messages.size(), 1u);
    EXPECT_LT(NestedRounds, 50);
}

TEST(EventPumpTest, WaitMessageDoesNotBlockWhenDoneAlreadyHolds)
{
    bool Done = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { Done = true; }, Qt::QueuedConnection);
    TRecordingWindow W;
    W.Window.SetTimer(1, 2000);   // safety net
    QElapsedTimer Clock;
    Clock.start();
    WaitMessage([&] { return Done; });
    W.Window.KillTimer(1);
    EXPECT_TRUE(Done);
    EXPECT_LT(Clock.elapsed(), 1000);
}

TEST(EventPumpTest, ExceptionsGoToTheInstalledHandler)
{
    std::string Seen;
    SetApplicationExceptionHandler([&](const std::string& Message) { Seen = Message; });
    ApplicationHandleException(std::runtime_error("boom"));
    SetApplicationExceptionHandler({});
    EXPECT_EQ(Seen, "boom");
}

TEST(WinSockErrorTest, ErrnoValuesMapToWinSockNumbers)
{
    const struct {
        int Errno;
        int Expected;
    } Cases[] = {
        {EWOULDBLOCK, 10035}, {EAGAIN, 10035},     {EINPROGRESS, 10035}, {ECONNREFUSED, 10061},
        {ENOTCONN, 10057},    {ECONNRESET, 10054}, {EPIPE, 10054},       {ETIMEDOUT, 10060},
        {EADDRINUSE, 10048},  {ENOTSOCK, 10038},   {ENOENT, WSASYSCALLFAILURE},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(WinSock::ErrnoToWinSock(Case.Errno), Case.Expected) << "errno " << Case.Errno;
}

TEST(WinSockStartupTest, CallsNeedAStartupAndStartupsAreCounted)
{
    ASSERT_EQ(WinSock::StartupCount(), 0);
    EXPECT_EQ(WinSock::socket(WINSOCK_AF_INET, WINSOCK_SOCK_STREAM, 6), INVALID_SOCKET);
    EXPECT_EQ(WinSock::WSAGetLastError(), 10093);
    WSADATA Data;
    WinSock::WSAStartup(0x0101, Data);
    WinSock::WSAStartup(0x0101, Data);
    EXPECT_EQ(Data.wVersion, 0x0101);
    EXPECT_EQ(WinSock::StartupCount(), 2);
    EXPECT_EQ(WinSock::WSACleanup(), 0);
    EXPECT_EQ(WinSock::WSACleanup(), 0);
    EXPECT_EQ(WinSock::WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WinSock::StartupCount(), 0);
}

TEST_F(WinSockTest, ConnectReadAndCloseNotices)
{
    TScriptedPeer Peer;
    Peer.Send("a").Pause(30).Send("b").Pause(30).Close();
    const TSocket Socket = ConnectTo(Peer.Port());
    ASSERT_TRUE(Window.PumpFor(2, 2000));
    EXPECT_EQ(Events()[0], FD_CONNECT);
    EXPECT_EQ(WSAGETSELECTERROR(Window.Messages[0].LParam), 0);
    EXPECT_EQ(Window.Messages[0].WParam, uintptr_t(Socket));
    EXPECT_EQ(Events()[1], FD_READ);

    // Unread, the second byte and the close bring no further notice.
    QElapsedTimer Clock;
    Clock.start();
    int Queued = 0;
    while (Peer.Finished() == 0 && Clock.elapsed() < 2000)
        PumpBriefly(5);
    ioctl(Socket, FIONREAD, &Queued);
    EXPECT_EQ(Queued, 2);
    PumpBriefly(20);
    EXPECT_EQ(Window.Messages.size(), 2u);

    // Reading allows the next notice: data remains, then the close.
    char Buffer[4];
    EXPECT_EQ(WinSock::recv(Socket, Buffer, 1, 0), 1);
    ASSERT_TRUE(Window.PumpFor(3, 2000));
    EXPECT_EQ(Events()[2], FD_READ);
    EXPECT_EQ(WinSock::recv(Socket, Buffer, 4, WinSock::MSG_PEEK_FLAG), 1);
    EXPECT_EQ(WinSock::recv(Socket, Buffer, 4, 0), 1);
    ASSERT_TRUE(Window.PumpFor(4, 2000));
    EXPECT_EQ(Events()[3], FD_CLOSE);
    EXPECT_EQ(WSAGETSELECTERROR(Window.Messages[3].LParam), 0);
    EXPECT_EQ(WinSock::recv(Socket, Buffer, 4, 0), 0);
    EXPECT_EQ(WinSock::closesocket(Socket), 0);
}

TEST_F(WinSockTest, ResetArrivesAsCloseWithTheResetError)
{
    TScriptedPeer Peer;
    Peer.Pause(30).Reset();   // after the connect notice
    const TSocket Socket = ConnectTo(Peer.Port());
    ASSERT_TRUE(Window.PumpFor(2, 2000));
    EXPECT_EQ(Events()[1], FD_CLOSE);
    EXPECT_EQ(WSAGETSELECTERROR(Window.Messages[1].LParam), WSAECONNRESET);
    WinSock::closesocket(Socket);
}

TEST_F(WinSockTest, RefusedConnectArrivesAsConnectNoticeWithError)
{
    const TSocket Socket = ConnectTo(TScriptedPeer::ClosedPort());
    ASSERT_TRUE(Window.PumpFor(1, 2000));
    EXPECT_EQ(Events()[0], FD_CONNECT);
    EXPECT_EQ(WSAGETSELECTERROR(Window.Messages[0].LParam), 10061);
    PumpBriefly(20);
    EXPECT_EQ(Window.Messages.size(), 1u);
    WinSock::closesocket(Socket);
}

TEST_F(WinSockTest, SendAndRecvReportWinSockErrors)
{
    const TSocket Socket = WinSock::socket(WINSOCK_AF_INET, WINSOCK_SOCK_STREAM, 6);
    ASSERT_EQ(WinSock::WSAAsyncSelect(Socket, &Window.Window, 1125, 61), 0);
    char Byte = 0;
    EXPECT_EQ(WinSock::recv(Socket, &Byte, 1, WinSock::MSG_PEEK_FLAG), SOCKET_ERROR);
    EXPECT_EQ(WinSock::WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(WinSock::send(Socket, &Byte, 1), SOCKET_ERROR);
    EXPECT_EQ(WinSock::WSAGetLastError(), WSAENOTCONN);   // never connected: not a reset
    EXPECT_EQ(WinSock::closesocket(Socket), 0);
    EXPECT_EQ(WinSock::closesocket(Socket), SOCKET_ERROR);
    EXPECT_EQ(WinSock::WSAGetLastError(), 10009);
}

TEST_F(WinSockTest, LookupAnswersWithTheFirstIPv4AddressOrAnError)
{
    char Buffer[1024] = {};
    const uintptr_t Task = WinSock::WSAAsyncGetHostByName(&Window.Window, 1126, "localhost", Buffer, sizeof Buffer);
    ASSERT_TRUE(Window.PumpFor(1, 5000));
    EXPECT_EQ(Window.Messages[0].Msg, 1126u);
    EXPECT_EQ(Window.Messages[0].WParam, Task);
    EXPECT_EQ(WSAGETSELECTERROR(Window.Messages[0].LParam), 0);
    uint32_t Address;
    std::memcpy(&Address, Buffer, 4);
    EXPECT_EQ(Address, WinSock::inet_addr("127.0.0.1"));

    WinSock::WSAAsyncGetHostByName(&Window.Window, 1126, "no such host", Buffer, sizeof Buffer);
    ASSERT_TRUE(Window.PumpFor(2, 5000));
    EXPECT_NE(WSAGETSELECTERROR(Window.Messages[1].LParam), 0);
}

TEST_F(WinSockTest, CanceledLookupOrDestroyedWindowGetsNothing)
{
    char Buffer[1024] = {};
    const uintptr_t Canceled = WinSock::WSAAsyncGetHostByName(&Window.Window, 1126, "localhost", Buffer, sizeof Buffer);
    EXPECT_EQ(WinSock::WSACancelAsyncRequest(Canceled), 0);
    {
        TRecordingWindow Doomed;
        WinSock::WSAAsyncGetHostByName(&Doomed.Window, 1126, "localhost", Buffer, sizeof Buffer);
    }
    // A later lookup on the live window answers; the two before it never do.
    const uintptr_t Live = WinSock::WSAAsyncGetHostByName(&Window.Window, 1127, "localhost", Buffer, sizeof Buffer);
    ASSERT_TRUE(Window.PumpFor(1, 5000));
    PumpBriefly(30);
    ASSERT_EQ(Window.Messages.size(), 1u);
    EXPECT_EQ(Window.Messages[0].WParam, Live);
}
