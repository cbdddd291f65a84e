#include "platform/WinSock.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace WinSock {
namespace {

thread_local int LastError = 0;
int Startups = 0;

int Fail(int Error)
{
    LastError = Error;
    return SOCKET_ERROR;
}

int FailErrno()
{
    return Fail(ErrnoToWinSock(errno));
}

// One registered socket: turns readiness into posted notification messages.
class TSocketNotice {
public:
    TSocketNotice(TSocket Socket, HWND Window, unsigned Msg, uint32_t Mask)
        : Socket(Socket), Window(Window), Msg(Msg), Mask(Mask),
          Reader(Socket, QSocketNotifier::Read), Writer(Socket, QSocketNotifier::Write)
    {
        Reader.setEnabled(false);
        Writer.setEnabled(false);
        QObject::connect(&Reader, &QSocketNotifier::activated, [this] { ReadReady(); });
        QObject::connect(&Writer, &QSocketNotifier::activated, [this] { WriteReady(); });
        // A socket that is already connected or listening reads at once.
        int Listening = 0;
        socklen_t Size = sizeof Listening;
        sockaddr_in Peer{};
        socklen_t PeerSize = sizeof Peer;
        WasConnected = getpeername(Socket, reinterpret_cast<sockaddr*>(&Peer), &PeerSize) == 0;
        if ((getsockopt(Socket, SOL_SOCKET, SO_ACCEPTCONN, &Listening, &Size) == 0 && Listening) || WasConnected)
            StartReading();
    }

    void StartReading()
    {
        Reading = true;
        Reader.setEnabled(true);
    }

    // Any recv (peek or not) or accept allows the next read notice.
    void Rearm()
    {
        if (Reading && !Closed)
            Reader.setEnabled(true);
    }

    void ConnectStarted()
    {
        ConnectPending = true;
        Writer.setEnabled(true);
    }

    void ConnectFinished(int Error)
    {
        ConnectPending = false;
        if (Error == 0) {
            WasConnected = true;
            StartReading();
        }
        Post(FD_CONNECT, static_cast<uint16_t>(Error));
    }

    void WakeWhenWritable() { Writer.setEnabled(true); }

    // Whether the socket ever had a connection (a reset one had, a fresh one not).
    bool EverConnected() const { return WasConnected; }

    // The error the notifier took from the socket, handed out once.
    int TakePendingError() { return std::exchange(PendingError, 0); }

private:
    void Post(uint16_t Event, uint16_t Error)
    {
        if ((Mask & Event) && Window)
            PostMessageFrom(Token, Window, Msg, static_cast<uintptr_t>(Socket),
                            static_cast<intptr_t>(MAKELONG(Event, Error)));
    }

    void ReadReady()
    {
        Reader.setEnabled(false);
        int Listening = 0;
        socklen_t Size = sizeof Listening;
        if (getsockopt(Socket, SOL_SOCKET, SO_ACCEPTCONN, &Listening, &Size) == 0 && Listening) {
            Post(FD_ACCEPT, 0);
            return;
        }
        char Byte;
        const ssize_t Count = ::recv(Socket, &Byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (Count > 0) {
            Post(FD_READ, 0);
        } else if (Count == 0) {
            Closed = true;
            Post(FD_CLOSE, 0);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            Reader.setEnabled(true);
        } else {
            // The socket reports its error once; keep it for the program's next call.
            PendingError = errno;
            Closed = true;
            Post(FD_CLOSE, static_cast<uint16_t>(ErrnoToWinSock(errno)));
        }
    }

    void WriteReady()
    {
        Writer.setEnabled(false);
        if (!ConnectPending)
            return;   // a wake-up for a waiting sender: the activation itself was the point
        int Error = 0;
        socklen_t Size = sizeof Error;
        if (getsockopt(Socket, SOL_SOCKET, SO_ERROR, &Error, &Size) != 0)
            Error = errno;
        ConnectFinished(Error == 0 ? 0 : ErrnoToWinSock(Error));
    }

    TSocket Socket;
    std::shared_ptr<const int> Token = std::make_shared<const int>(0);   // ends with the registration
    QPointer<TMessageWindow> Window;
    unsigned Msg;
    uint32_t Mask;
    QSocketNotifier Reader;
    QSocketNotifier Writer;
    bool Reading = false;
    bool Closed = false;
    bool ConnectPending = false;
    bool WasConnected = false;
    int PendingError = 0;
};

std::unordered_map<TSocket, std::unique_ptr<TSocketNotice>>& Notices()
{
    static std::unordered_map<TSocket, std::unique_ptr<TSocketNotice>> Table;
    return Table;
}

// Lookups still allowed to answer, by task handle.
std::unordered_map<uintptr_t, std::shared_ptr<const int>>& Lookups()
{
    static std::unordered_map<uintptr_t, std::shared_ptr<const int>> Table;
    return Table;
}

TSocketNotice* NoticeOf(TSocket Socket)
{
    auto Found = Notices().find(Socket);
    return Found == Notices().end() ? nullptr : Found->second.get();
}

struct TErrnoRow {
    int Errno;
    int WinSockError;
};

// errno to WinSock error numbers. EPIPE is what a send meets on a connection the peer
// reset; a WinSock program sees that as a reset too.
constexpr TErrnoRow ErrnoTable[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},         {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},          {ENFILE, 10024},         {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},       {EINPROGRESS, 10035},     {EALREADY, 10037},       {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},     {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},  {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},  {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},   {ECONNRESET, 10054},
    {EPIPE, 10054},        {ENOBUFS, 10055},         {ENOMEM, 10055},         {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},   {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},   {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},       {EUSERS, 10068},         {EDQUOT, 10069},
    {ESTALE, 10070},       {EREMOTE, 10071},
};

}  // namespace

int ErrnoToWinSock(int Errno)
{
    for (const TErrnoRow& Row : ErrnoTable)
        if (Row.Errno == Errno)
            return Row.WinSockError;
    return WSASYSCALLFAILURE;
}

int WSAGetLastError()
{
    return LastError;
}

void WSASetLastError(int Error)
{
    LastError = Error;
}

int WSAStartup(uint16_t VersionRequested, WSADATA& Data)
{
    Data = WSADATA{};
    Data.wVersion = VersionRequested;
    Data.wHighVersion = 0x0101;
    std::strcpy(Data.szDescription, "POSIX sockets with Qt notifications");
    std::strcpy(Data.szSystemStatus, "Running");
    rlimit Files{};
    getrlimit(RLIMIT_NOFILE, &Files);
    Data.iMaxSockets = static_cast<uint16_t>(Files.rlim_cur > 65535 ? 65535 : Files.rlim_cur);
    Data.iMaxUdpDg = 65507;
    ++Startups;
    return 0;
}

int WSACleanup()
{
    if (Startups == 0)
        return Fail(10093);
    --Startups;
    return 0;
}

int StartupCount()
{
    return Startups;
}

TSocket socket(int Family, int Type, int Protocol)
{
    if (Startups == 0) {
        Fail(10093);
        return INVALID_SOCKET;
    }
    const TSocket Socket = ::socket(Family == WINSOCK_AF_INET ? AF_INET : Family,
                                    (Type == WINSOCK_SOCK_STREAM ? SOCK_STREAM : Type) | SOCK_CLOEXEC, Protocol);
    if (Socket < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    // Every command line is awaited by the other side: send it at once instead of
    // holding it back until the previous segment is acknowledged.
    if (Type == WINSOCK_SOCK_STREAM) {
        const int On = 1;
        setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    }
    return Socket;
}

int SetLinger(TSocket Socket, uint16_t Seconds)
{
    const linger Value{1, Seconds};
    return setsockopt(Socket, SOL_SOCKET, SO_LINGER, &Value, sizeof Value) == 0 ? 0 : FailErrno();
}

int WSAAsyncSelect(TSocket Socket, HWND Window, unsigned Msg, uint32_t Mask)
{
    const int Flags = fcntl(Socket, F_GETFL);
    if (Flags < 0 || fcntl(Socket, F_SETFL, Flags | O_NONBLOCK) < 0)
        return FailErrno();
    Notices().erase(Socket);
    Notices().emplace(Socket, std::make_unique<TSocketNotice>(Socket, Window, Msg, Mask));
    return 0;
}

uint32_t inet_addr(const char* Text)
{
    return ::inet_addr(Text);
}

uintptr_t WSAAsyncGetHostByName(HWND Window, unsigned Msg, const char* Name, char* Buffer, int BufferLength)
{
    static uintptr_t Tasks = 0;
    const uintptr_t Task = ++Tasks;
    std::weak_ptr<const int> Alive = Lookups().emplace(Task, std::make_shared<const int>(0)).first->second;
    // The answer comes through the application object; a window gone by then gets nothing.
    const QPointer<TMessageWindow> Target(Window);
    QHostInfo::lookupHost(QString::fromLatin1(Name), QCoreApplication::instance(), [=](const QHostInfo& Info) {
        if (!Target) {
            Lookups().erase(Task);
            return;
        }
        if (Alive.expired())
            return;
        uint16_t Error = WSANO_DATA;
        if (Info.error() == QHostInfo::HostNotFound)
            Error = WSAHOST_NOT_FOUND;
        else if (Info.error() != QHostInfo::NoError)
            Error = WSATRY_AGAIN;
        for (const QHostAddress& Address : Info.addresses()) {
            if (Error != WSANO_DATA || Address.protocol() != QAbstractSocket::IPv4Protocol || BufferLength < 4)
                continue;
            const uint32_t Value = htonl(Address.toIPv4Address());
            std::memcpy(Buffer, &Value, 4);
            Error = 0;
        }
        PostMessageFrom(Alive, Target, Msg, Task, static_cast<intptr_t>(MAKELONG(0, Error)));
    });
    return Task;
}

int WSACancelAsyncRequest(uintptr_t Task)
{
    return Lookups().erase(Task) == 1 ? 0 : Fail(10022);
}

int connect(TSocket Socket, const SOCKADDR_IN& Address)
{
    sockaddr_in Target{};
    Target.sin_family = Address.sin_family == WINSOCK_AF_INET ? AF_INET : Address.sin_family;
    Target.sin_port = Address.sin_port;
    Target.sin_addr.s_addr = Address.sin_addr;
    TSocketNotice* Notice = NoticeOf(Socket);
    if (::connect(Socket, reinterpret_cast<const sockaddr*>(&Target), sizeof Target) == 0) {
        if (Notice)
            Notice->ConnectFinished(0);
        return 0;
    }
    const int Error = errno;
    if (Notice && Error == EINPROGRESS) {
        Notice->ConnectStarted();
        return Fail(WSAEWOULDBLOCK);
    }
    // On a registered socket a refusal found at once still arrives as the connect
    // notification, the way it does when the answer takes a while.
    if (Notice && (Error == ECONNREFUSED || Error == ENETUNREACH || Error == EHOSTUNREACH || Error == ETIMEDOUT)) {
        Notice->ConnectFinished(ErrnoToWinSock(Error));
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(ErrnoToWinSock(Error));
}

// An error the notifier took from the socket, as the result of the program's call.
static int PendingErrorOf(TSocket Socket)
{
    TSocketNotice* Notice = NoticeOf(Socket);
    return Notice ? Notice->TakePendingError() : 0;
}

int send(TSocket Socket, const char* Buffer, int Length)
{
    if (const int Error = PendingErrorOf(Socket))
        return Fail(ErrnoToWinSock(Error));
    const ssize_t Count = ::send(Socket, Buffer, static_cast<size_t>(Length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Count >= 0)
        return static_cast<int>(Count);
    const int Error = errno;
    // POSIX answers EPIPE on a socket that never connected too; WinSock calls that not connected.
    if (Error == EPIPE) {
        const TSocketNotice* Notice = NoticeOf(Socket);
        if (Notice && !Notice->EverConnected())
            return Fail(WSAENOTCONN);
    }
    return Fail(ErrnoToWinSock(Error));
}

int recv(TSocket Socket, char* Buffer, int Length, int Flags)
{
    if (const int Error = PendingErrorOf(Socket))
        return Fail(ErrnoToWinSock(Error));
    const ssize_t Count = ::recv(Socket, Buffer, static_cast<size_t>(Length),
                                 MSG_DONTWAIT | ((Flags & MSG_PEEK_FLAG) ? MSG_PEEK : 0));
    const int Error = errno;
    if (TSocketNotice* Notice = NoticeOf(Socket))
        Notice->Rearm();
    return Count < 0 ? Fail(ErrnoToWinSock(Error)) : static_cast<int>(Count);
}

TSocket accept(TSocket Socket, SOCKADDR_IN& Address)
{
    sockaddr_in Peer{};
    socklen_t Size = sizeof Peer;
    const TSocket Accepted = ::accept4(Socket, reinterpret_cast<sockaddr*>(&Peer), &Size, SOCK_CLOEXEC);
    const int Error = errno;
    if (TSocketNotice* Notice = NoticeOf(Socket))
        Notice->Rearm();
    if (Accepted < 0) {
        Fail(ErrnoToWinSock(Error));
        return INVALID_SOCKET;
    }
    Address.sin_family = WINSOCK_AF_INET;
    Address.sin_port = Peer.sin_port;
    Address.sin_addr = Peer.sin_addr.s_addr;
    return Accepted;
}

int closesocket(TSocket Socket)
{
    Notices().erase(Socket);   // notifiers go before their descriptor
    return ::close(Socket) == 0 ? 0 : FailErrno();
}

void WakeWhenWritable(TSocket Socket)
{
    if (TSocketNotice* Notice = NoticeOf(Socket))
        Notice->WakeWhenWritable();
}

}  // namespace WinSock
