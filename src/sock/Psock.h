// The socket component: one TCP client connection offered as blocking-style
// operations on the GUI thread, with time limits, cancellation, status texts and
// socket error texts; its line and stream transport; and the timer component.
#pragma once

#include "platform/MessageWindow.h"
#include "platform/WinSock.h"
#include "rtl/Classes.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The component base: knows whether its destruction has begun.
class TComponent : public TObject {
public:
    virtual ~TComponent() = default;
    bool Destroying() const { return FDestroying; }

protected:
    void BeginDestroy() { FDestroying = true; }

private:
    bool FDestroying = false;
};

// Events: an empty function is an unassigned event and is skipped.
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;

// Message numbers of the socket window.
constexpr unsigned WM_SOCKET_EVENT = WM_USER + 101;    // 1125
constexpr unsigned WM_LOOKUP_DONE = WM_USER + 102;     // 1126
constexpr uint32_t SOCKET_EVENT_MASK = FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;   // 61
constexpr uint16_t NO_SOCKET = 65535;

// Fires OnTimer every Interval milliseconds through the ticks of its hidden window.
class TThreadTimer : public TComponent {
public:
    TThreadTimer();
    ~TThreadTimer() override;
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    uint32_t Interval() const { return FInterval; }
    void SetInterval(uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

    intptr_t HandleTimerMessage(unsigned Msg, uintptr_t WParam, intptr_t LParam);
    HWND WindowHandle() const { return FWindowHandle.get(); }

protected:
    virtual void FireTimer();
    // Stops timer 1 and starts it afresh when it should run; "No Timer" when refused.
    void UpdateTimer();

private:
    uint32_t FInterval = 1000;
    std::unique_ptr<TMessageWindow> FWindowHandle;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};

class TPowersock : public TComponent {
public:
    TPowersock();
    ~TPowersock() override;
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    // Published properties.
    std::string Host;
    int32_t Port = 0;          // only the low 16 bits are used
    int32_t TimeOut = 0;       // milliseconds, 0 = no limit; must not be negative
    int32_t ReportLevel = 1;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    // Declared here, published by the SMTP component.
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketSent;

    // Connection.
    virtual void Connect();
    virtual void Disconnect();
    void CheckConnection();
    virtual void Abort();

    // Data operations.
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    // Length 0 means up to the block's first NUL.
    void SendBuffer(const char* Block, uint16_t Length);
    std::string ReadLn();
    virtual std::string Transaction(const std::string& Command);
    void SendStream(TStream& Stream);
    virtual uint16_t Accept();

    std::string LookupErrorMessage(uint16_t Error);

    // Called by the hidden window for messages numbered 1125 and above.
    void HandleSocketMessage(unsigned Msg, uintptr_t WParam, intptr_t LParam);

    // State readable by users of the component.
    TStringList WinsockInfo;
    int32_t BytesSent = 0;
    int32_t BytesTotal = 0;
    bool Canceled = false;
    bool Succeeded = false;
    bool TimedOut = false;
    bool WaitDone = false;
    bool Connected = false;
    std::string LastStatus;
    std::string LastReply;
    int16_t ReplyNumber = 0;
    uint16_t SocketHandle = NO_SOCKET;
    SOCKADDR_IN RemoteAddress;

protected:
    void ReportStatus(uint8_t Level, const std::string& Text);
    // Raises the text of the last socket error unless it is Ignorable or 10000 and below.
    void CheckSocketError(uint16_t Ignorable);
    void ResolveHost();
    void InitializeWinsock();
    void CloseSocket();
    void Cancel();
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TObject* Sender);
    bool DataAvailable();

    HWND WindowHandle() const { return FWindowHandle.get(); }

    static constexpr int IoBufferSize = 65537;
    char IoBuffer[IoBufferSize] = {};
    bool BeingDestroyed = false;
    std::unique_ptr<TThreadTimer> TimeoutTimer;
    WSADATA WSAData;
    std::unique_ptr<char[]> HostEntryBuffer;

private:
    // Runs events until Done() holds, blocking while nothing is pending.
    template <class TDone>
    void WaitUntil(TDone Done);
    uint16_t OpenSocket(int Protocol);
    // Opens and registers the socket that replaces a closed one.
    void OpenFreshSocket();

    std::unique_ptr<TMessageWindow> FWindowHandle;
    // The error of the peer's close that replaced the socket during the running
    // ReadLn (0 orderly, else the WinSock error), -1 when none did.
    int PeerCloseError = -1;
};

// Field N (from 1) of Text split at Delimiter; empty when there is no such field.
std::string NthField(const std::string& Text, char Delimiter, int32_t N);

// The number of live components that took part in the socket services' start-up.
extern int32_t WinsockUsers;

struct TSocketError {
    int32_t Number;
    const char* Text;
};
extern const TSocketError SocketErrorTable[50];
