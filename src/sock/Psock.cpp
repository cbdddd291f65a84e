#include "sock/Psock.h"

#include "platform/EventPump.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <exception>

int32_t WinsockUsers = 0;

const TSocketError SocketErrorTable[50] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

namespace {

constexpr int MaxChunk = 65536;

intptr_t PsockWindowProc(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    auto* Owner = static_cast<TPowersock*>(Window->Owner);
    if (Owner == nullptr || Msg < WM_SOCKET_EVENT)
        return DefWindowProc(Window, Msg, WParam, LParam);
    Owner->HandleSocketMessage(Msg, WParam, LParam);
    return 0;
}

intptr_t TimerWindowProc(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    auto* Owner = static_cast<TThreadTimer*>(Window->Owner);
    if (Owner == nullptr)
        return DefWindowProc(Window, Msg, WParam, LParam);
    if (Msg == WM_ACTIVATEAPP)
        return 0;
    return Owner->HandleTimerMessage(Msg, WParam, LParam);
}

std::unique_ptr<TMessageWindow> AllocateWindow(const char* ClassName, TWindowProc Proc, void* Owner)
{
    auto Window = std::make_unique<TMessageWindow>(ClassName, Proc);
    Window->Owner = Owner;
    return Window;
}

}  // namespace

// ---------------------------------------------------------------- TThreadTimer

TThreadTimer::TThreadTimer() : FWindowHandle(AllocateWindow("TmrWindowClass", TimerWindowProc, this)) {}

TThreadTimer::~TThreadTimer()
{
    BeginDestroy();
    FEnabled = false;
    UpdateTimer();
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t Value)
{
    if (Value == FInterval)
        return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    FWindowHandle->KillTimer(1);
    if (FInterval != 0 && FEnabled && FOnTimer && !FWindowHandle->SetTimer(1, FInterval))
        throw Exception("No Timer");
}

void TThreadTimer::FireTimer()
{
    if (!FOnTimer)
        return;
    const TNotifyEvent Handler = FOnTimer;   // the handler may replace itself
    Handler(this);
}

intptr_t TThreadTimer::HandleTimerMessage(unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    if (Msg != WM_TIMER)
        return DefWindowProc(FWindowHandle.get(), Msg, WParam, LParam);
    try {
        FireTimer();
    } catch (const std::exception& E) {
        ApplicationHandleException(E);
    }
    return 0;
}

// ---------------------------------------------------------------- TPowersock: life

TPowersock::TPowersock()
{
    ReportStatus(8, "Create");
    FWindowHandle = AllocateWindow("PsockWindowClass", PsockWindowProc, this);
    HostEntryBuffer = std::make_unique<char[]>(1024);
    TimeoutTimer = std::make_unique<TThreadTimer>();
    TimeoutTimer->SetEnabled(false);
    TimeoutTimer->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
    InitializeWinsock();
}

TPowersock::~TPowersock()
{
    BeginDestroy();
    ReportStatus(8, "Destroy");
    TPowersock::Abort();
    Cancel();
    TimeoutTimer.reset();
    FWindowHandle.reset();   // before the lookup buffer: a pending lookup answers nobody now
    HostEntryBuffer.reset();
    BeingDestroyed = true;
    try {
        CloseSocket();
    } catch (const Exception&) {
        // A failed close has nobody left to tell; the handle goes with the component.
    }
    if (--WinsockUsers == 0)
        WinSock::WSACleanup();
}

void TPowersock::InitializeWinsock()
{
    ReportStatus(8, "Initializing Winsock");
    ++WinsockUsers;
    try {
        if (WinsockUsers == 1) {
            WinSock::WSAStartup(0x0101, WSAData);
            auto Version = [](uint16_t V) { return std::to_string(V >> 8) + "." + std::to_string(V & 0xFF); };
            WinsockInfo.Add("Version= " + Version(WSAData.wVersion));
            WinsockInfo.Add("High Version= " + Version(WSAData.wHighVersion));
            WinsockInfo.Add("Description= " + std::string(WSAData.szDescription, strnlen(WSAData.szDescription, 257)));
            WinsockInfo.Add("System= " + std::string(WSAData.szSystemStatus, strnlen(WSAData.szSystemStatus, 129)));
            WinsockInfo.Add("Max Sockets= " + std::to_string(WSAData.iMaxSockets));
            WinsockInfo.Add("Max Udp pack size= " + std::to_string(WSAData.iMaxUdpDg));
        }
        SocketHandle = OpenSocket(6);
        WinSock::SetLinger(SocketHandle, 0);   // closing resets at once; result not needed
        if (WinSock::WSAAsyncSelect(SocketHandle, WindowHandle(), WM_SOCKET_EVENT, SOCKET_EVENT_MASK) != 0)
            CheckSocketError(WSAEWOULDBLOCK);
    } catch (const Exception&) {
        if (SocketHandle != NO_SOCKET)
            WinSock::closesocket(SocketHandle);
        SocketHandle = NO_SOCKET;
        if (--WinsockUsers == 0)
            WinSock::WSACleanup();
        throw ESockError("Initializaton of windows sockets failed");
    }
}

uint16_t TPowersock::OpenSocket(int Protocol)
{
    const TSocket Socket = WinSock::socket(WINSOCK_AF_INET, WINSOCK_SOCK_STREAM, Protocol);
    if (Socket >= 0 && Socket < NO_SOCKET)
        return static_cast<uint16_t>(Socket);
    if (Socket >= 0)
        WinSock::closesocket(Socket);
    throw ERangeError();
}

void TPowersock::CloseSocket()
{
    ReportStatus(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle == NO_SOCKET)
        return;
    if (WinSock::closesocket(SocketHandle) != 0) {
        CheckSocketError(WSAEWOULDBLOCK);
        return;
    }
    // The handle is gone even if OnDisconnect raises: the fresh socket is opened anyway,
    // so the component never holds a closed (and perhaps reused) descriptor.
    SocketHandle = NO_SOCKET;
    std::exception_ptr HandlerFailure;
    if (!Destroying() && OnDisconnect) {
        try {
            OnDisconnect(this);
        } catch (...) {
            HandlerFailure = std::current_exception();
        }
    }
    if (!BeingDestroyed)
        OpenFreshSocket();
    if (HandlerFailure)
        std::rethrow_exception(HandlerFailure);
}

void TPowersock::OpenFreshSocket()
{
    SocketHandle = OpenSocket(0);
    if (WinSock::WSAAsyncSelect(SocketHandle, WindowHandle(), WM_SOCKET_EVENT, SOCKET_EVENT_MASK) != 0)
        CheckSocketError(WSAEWOULDBLOCK);
}

// ---------------------------------------------------------------- waiting

template <class TDone>
void TPowersock::WaitUntil(TDone Done)
{
    ProcessMessages();
    while (!Done())
        WaitMessage();
}

void TPowersock::Cancel()
{
    ReportStatus(8, "Canceling");
    Canceled = true;
}

void TPowersock::Abort()
{
    ReportStatus(8, "Abort");
    Cancel();
}

void TPowersock::TimerOn()
{
    ReportStatus(8, "Timer On");
    TimedOut = false;
    if (TimeOut < 0)
        throw ERangeError();
    TimeoutTimer->SetInterval(static_cast<uint32_t>(TimeOut));
    TimeoutTimer->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    ReportStatus(8, "Timer Off");
    TimeoutTimer->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject*)
{
    ReportStatus(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    WaitDone = true;
    Abort();
}

// ---------------------------------------------------------------- connection

void TPowersock::ResolveHost()
{
    ReportStatus(8, "Resolve Host");
    if (Host.size() > static_cast<size_t>(MaxChunk))
        throw ERangeError("Host name too long");
    std::memcpy(IoBuffer, Host.data(), Host.size());
    IoBuffer[Host.size()] = '\0';
    RemoteAddress.sin_addr = WinSock::inet_addr(IoBuffer);
    if (RemoteAddress.sin_addr != INADDR_NONE_VALUE)
        return;
    RemoteAddress.sin_addr = 0;
    TimerOn();
    WaitDone = false;
    const uintptr_t Task =
        WinSock::WSAAsyncGetHostByName(WindowHandle(), WM_LOOKUP_DONE, IoBuffer, HostEntryBuffer.get(), 1024);
    WaitUntil([this] { return WaitDone || TimedOut || Canceled; });
    // A lookup given up on must not answer a later one through the shared buffer.
    WinSock::WSACancelAsyncRequest(Task);
    TimerOff();
    if (TimedOut)
        throw ESockError("Host Lookup Timed Out");
    if (Canceled)
        throw ESockError("Host Lookup Canceled");
    if (!Succeeded)
        throw ESockError("Host Lookup Failed");
    std::memcpy(&RemoteAddress.sin_addr, HostEntryBuffer.get(), 4);
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect()
{
    ReportStatus(8, "Connecting");
    Canceled = false;
    if (Connected)
        throw ESockError("Already connected");
    for (int Attempts = 0;; ++Attempts) {
        try {
            ResolveHost();
        } catch (const ESockError& E) {
            if (E.Message == "Host Lookup Timed Out" || E.Message == "Host Lookup Canceled")
                throw;
            // Any other lookup failure counts as no address.
        }
        if (RemoteAddress.sin_addr != 0)
            break;
        if (Attempts > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool Handled = false;
        OnInvalidHost(Handled);
        if (!Handled)
            throw ESockError("Null Remote Address");
    }
    RemoteAddress.sin_family = WINSOCK_AF_INET;
    RemoteAddress.sin_port = qToBigEndian(static_cast<uint16_t>(Port & 0xFFFF));
    WaitDone = false;
    Succeeded = true;
    if (WinSock::connect(SocketHandle, RemoteAddress) != 0)
        CheckSocketError(WSAEWOULDBLOCK);
    TimerOn();
    WaitUntil([this] { return Connected || TimedOut || Canceled || !Succeeded; });
    TimerOff();
    if (!TimedOut && !Canceled && Succeeded)
        return;
    if (!TimedOut && !Canceled) {
        // A socket whose connect was refused cannot be connected again everywhere:
        // it is replaced quietly so that the next Connect starts afresh.
        WinSock::closesocket(SocketHandle);
        SocketHandle = NO_SOCKET;
        OpenFreshSocket();
    }
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw ESockError(TimedOut ? "Connection Timed out" : Canceled ? "Connection Canceled" : "Connection Failed");
}

void TPowersock::Disconnect()
{
    ReportStatus(8, "Disconnecting");
    CloseSocket();
}

void TPowersock::CheckConnection()
{
    ReportStatus(8, "Checking Connection");
    for (int Attempts = 0; !Connected; ++Attempts) {
        if (Attempts > 0 || !OnConnectionRequired)
            throw Exception("Not Connected");
        bool Handled = false;
        OnConnectionRequired(Handled);
        if (!Handled)
            throw Exception("Not Connected");
    }
}

bool TPowersock::DataAvailable()
{
    ReportStatus(8, "Data Available");
    char Byte;   // not IoBuffer: a ReadLn may be waiting with its bytes there
    return WinSock::recv(SocketHandle, &Byte, 1, WinSock::MSG_PEEK_FLAG) >= 1;
}

void TPowersock::HandleSocketMessage(unsigned Msg, uintptr_t, intptr_t LParam)
{
    const uint16_t Error = WSAGETSELECTERROR(LParam);
    Succeeded = Error == 0;
    try {
        if (Msg == WM_LOOKUP_DONE) {
            WaitDone = true;
        } else if (Msg == WM_SOCKET_EVENT) {
            switch (WSAGETSELECTEVENT(LParam)) {
            case FD_CONNECT:
                if (Succeeded) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case FD_CLOSE:
                if (!DataAvailable()) {
                    PeerCloseError = Error;
                    CloseSocket();
                }
                break;
            case FD_ACCEPT:
                Connected = true;
                break;
            default:
                break;
            }
        }
    } catch (const std::exception&) {
        // A notification has no caller to take a failure: it is dropped.
    }
}

// ---------------------------------------------------------------- status and errors

void TPowersock::ReportStatus(uint8_t Level, const std::string& Text)
{
    if (Level > ReportLevel)
        return;
    LastStatus = Text;
    if (Destroying() || !OnStatus)
        return;
    try {
        OnStatus(this, LastStatus);
    } catch (const std::exception&) {
        // Status reports never fail an operation.
    }
}

void TPowersock::CheckSocketError(uint16_t Ignorable)
{
    const int Error = WinSock::WSAGetLastError();
    if (Error != Ignorable && Error > 10000)
        throw ESockError(LookupErrorMessage(static_cast<uint16_t>(Error)));
}

std::string TPowersock::LookupErrorMessage(uint16_t Error)
{
    ReportStatus(8, "Looking Up Error Message");
    for (const TSocketError& Row : SocketErrorTable)
        if (Row.Number == Error)
            return std::to_string(Error) + ":" + Row.Text;
    return "Unknown Error No. " + std::to_string(Error);
}

// ---------------------------------------------------------------- data

void TPowersock::SendBuffer(const char* Block, uint16_t Length)
{
    ReportStatus(4, "Sending Buffer");
    TimerOn();
    try {
        if (!Canceled) {
            const int Total = Length != 0 ? Length : static_cast<int>(strnlen(Block, MaxChunk));
            if (Total > 65535)
                throw ERangeError();
            int Remaining = Total;
            do {
                const int Count = WinSock::send(SocketHandle, Block + (Total - Remaining), Remaining);
                if (Count == 0)
                    break;
                if (Count > 0) {
                    Remaining -= Count;
                    continue;
                }
                CheckSocketError(WSAEWOULDBLOCK);
                // The socket keeps refusing: wait for room, letting the time limit and Abort end it.
                WinSock::WakeWhenWritable(SocketHandle);
                WaitMessage();
            } while (Remaining > 0 && !Canceled);
        }
        if (Canceled) {
            Canceled = false;
            throw EAbortError("Socket send aborted");
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
}

void TPowersock::Write(const std::string& Text)
{
    ReportStatus(8, "Write");
    const size_t Length = strnlen(Text.data(), std::min(Text.size(), static_cast<size_t>(MaxChunk)));
    std::memcpy(IoBuffer, Text.data(), Length);
    IoBuffer[Length] = '\0';
    SendBuffer(IoBuffer, 0);
}

void TPowersock::Writeln(const std::string& Text)
{
    ReportStatus(8, "Writeln");
    Write(Text + "\r\n");
}

std::string TPowersock::ReadLn()
{
    ReportStatus(8, "ReadLn");
    std::string Line;
    int Taken = 0;
    int LineEnd = -1;
    bool NotConnected = false;
    PeerCloseError = -1;
    TimerOn();
    try {
        do {
            if (Taken > MaxChunk)
                throw ERangeError();
            const int Room = std::min(MaxChunk, IoBufferSize - Taken);
            const int Count = WinSock::recv(SocketHandle, IoBuffer + Taken, Room, WinSock::MSG_PEEK_FLAG);
            if (Count == 0) {
                TimerOff();
                return {};
            }
            bool Idle = false;
            if (Count < 0) {
                if (WinSock::WSAGetLastError() == WSAENOTCONN) {
                    NotConnected = true;
                    break;
                }
                CheckSocketError(WSAEWOULDBLOCK);
                Idle = true;
            } else if (const void* Lf = std::memchr(IoBuffer + Taken, '\n', static_cast<size_t>(Count))) {
                LineEnd = static_cast<int>(static_cast<const char*>(Lf) - IoBuffer);
                break;
            } else {
                Line.resize(static_cast<size_t>(Taken + Count));
                const int Got = WinSock::recv(SocketHandle, Line.data() + Taken, Count, 0);
                if (Got < 0)
                    CheckSocketError(WSAEWOULDBLOCK);
                Taken += std::max(Got, 0);
                Line.resize(static_cast<size_t>(Taken));
            }
            if (Idle && !Canceled)
                WaitMessage();
            else
                ProcessMessages();
        } while (!Canceled);
        if (Canceled) {
            Canceled = false;
            throw EAbortError("Socket readln aborted");
        }
        if (NotConnected) {
            // The socket was replaced under the wait. When the peer's close did it, answer as
            // for a close seen directly: an orderly one is the empty line, a reset its error.
            if (PeerCloseError == 0) {
                TimerOff();
                return {};
            }
            throw ESockError(LookupErrorMessage(PeerCloseError > 0 ? PeerCloseError : WSAENOTCONN));
        }
        Line.resize(static_cast<size_t>(LineEnd + 1));
        const int Got = WinSock::recv(SocketHandle, Line.data() + Taken, LineEnd + 1 - Taken, 0);
        if (Got < 0)
            CheckSocketError(WSAEWOULDBLOCK);
        Line.resize(static_cast<size_t>(Taken + std::max(Got, 0)));
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    return Line;
}

std::string TPowersock::Transaction(const std::string& Command)
{
    ReportStatus(8, "Transaction");
    ReplyNumber = 0;
    Writeln(Command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        ReportStatus(1, LastReply);
        size_t Digits = 0;
        while (Digits < LastReply.size() && Digits < 10 && LastReply[Digits] >= '0' && LastReply[Digits] <= '9')
            ++Digits;
        if (Digits > 0) {
            uint64_t Value = std::stoull(LastReply.substr(0, Digits));
            if (Value > 2147483647)
                Value = 0;   // not a 32-bit number: counts as none
            if (Value > 32767)
                throw ERangeError();
            ReplyNumber = static_cast<int16_t>(Value);
        }
    }
    return LastReply;
}

void TPowersock::SendStream(TStream& Stream)
{
    ReportStatus(8, "SendStream");
    Stream.SetPosition(0);
    if (!Canceled) {
        const int64_t Size = Stream.Size();
        if (Size > 2147483647)
            throw ERangeError("Stream too large to send");
        BytesSent = 0;
        BytesTotal = static_cast<int32_t>(Size);
        do {
            const int Got = static_cast<int>(Stream.Read(IoBuffer, std::min<int64_t>(Size - Stream.Position(), MaxChunk)));
            int Remaining = Got;
            do {
                const int Count = WinSock::send(SocketHandle, IoBuffer + (Got - Remaining), Remaining);
                if (Count == 0)
                    return;
                bool Blocked = false;
                if (Count > 0) {
                    Remaining -= Count;
                    BytesSent += Count;
                    if (OnPacketSent)
                        OnPacketSent(this);
                } else {
                    CheckSocketError(WSAEWOULDBLOCK);
                    Blocked = true;
                }
                if (Blocked && !Canceled) {
                    WinSock::WakeWhenWritable(SocketHandle);
                    WaitMessage();
                } else {
                    ProcessMessages();
                }
            } while (Remaining > 0 && !Canceled);
        } while (Stream.Position() != Size && !Canceled);
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

uint16_t TPowersock::Accept()
{
    ReportStatus(4, "Accepting");
    while (!WaitDone && !Canceled)
        WaitMessage();
    if (Canceled)
        throw ESockError("Accepting Canceled");
    if (!Succeeded)
        throw ESockError("Error creating Data Connection");
    SOCKADDR_IN Peer;
    const TSocket Socket = WinSock::accept(SocketHandle, Peer);
    if (Socket < 0 || Socket >= NO_SOCKET) {
        if (Socket >= 0)
            WinSock::closesocket(Socket);
        throw ERangeError();
    }
    WinSock::WSAAsyncSelect(Socket, WindowHandle(), WM_SOCKET_EVENT, SOCKET_EVENT_MASK);
    RemoteAddress = Peer;
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    return static_cast<uint16_t>(Socket);
}

// ---------------------------------------------------------------- text helper

std::string NthField(const std::string& Text, char Delimiter, int32_t N)
{
    std::string Field;
    int32_t Count = 0;
    for (const char C : Text) {
        if (C == Delimiter)
            ++Count;
        else if (Count == N - 1)
            Field += C;
        if (Count == N)
            break;
    }
    return Field;
}
