// Windows Sockets 1.1 on POSIX sockets: the calls the socket layer makes, returning
// WinSock error numbers, with asynchronous notifications posted to a message window.
#pragma once

#include "platform/MessageWindow.h"

#include <cstdint>
#include <string>

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;   // inet_addr's "not an address"
constexpr int WINSOCK_AF_INET = 2;
constexpr int WINSOCK_SOCK_STREAM = 1;

// Notification event codes (low 16 bits of a notification's LParam).
constexpr uint16_t FD_READ = 1;
constexpr uint16_t FD_OOB = 4;
constexpr uint16_t FD_ACCEPT = 8;
constexpr uint16_t FD_CONNECT = 16;
constexpr uint16_t FD_CLOSE = 32;

// Error numbers the socket layer names.
constexpr uint16_t WSAEWOULDBLOCK = 10035;
constexpr uint16_t WSAENOTCONN = 10057;
constexpr uint16_t WSAECONNRESET = 10054;
constexpr uint16_t WSAHOST_NOT_FOUND = 11001;
constexpr uint16_t WSATRY_AGAIN = 11002;
constexpr uint16_t WSANO_RECOVERY = 11003;
constexpr uint16_t WSANO_DATA = 11004;
constexpr uint16_t WSASYSCALLFAILURE = 10107;   // an errno with no WinSock number

constexpr uint32_t MAKELONG(uint16_t Low, uint16_t High) { return uint32_t(Low) | (uint32_t(High) << 16); }
constexpr uint16_t WSAGETSELECTEVENT(intptr_t LParam) { return uint16_t(LParam & 0xFFFF); }
constexpr uint16_t WSAGETSELECTERROR(intptr_t LParam) { return uint16_t((LParam >> 16) & 0xFFFF); }

struct WSADATA {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    uint16_t iMaxSockets = 0;
    uint16_t iMaxUdpDg = 0;
};

// A 16-byte IPv4 socket address; port and address in network byte order.
struct SOCKADDR_IN {
    uint16_t sin_family = 0;
    uint16_t sin_port = 0;
    uint32_t sin_addr = 0;
    uint8_t sin_zero[8] = {};
};

namespace WinSock {

// Start-up and clean-up are counted; the services run while the count is above 0.
int WSAStartup(uint16_t VersionRequested, WSADATA& Data);
int WSACleanup();
int StartupCount();

// The error number of the last failed call on this thread.
int WSAGetLastError();
void WSASetLastError(int Error);
// The one errno-to-WinSock mapping (unknown errno values give WSASYSCALLFAILURE).
int ErrnoToWinSock(int Errno);

TSocket socket(int Family, int Type, int Protocol);
// SO_LINGER on with a linger time of Seconds.
int SetLinger(TSocket Socket, uint16_t Seconds);
// Makes the socket non-blocking and posts Msg to Window for the events in Mask.
// A read notice is not repeated until the socket is read (recv, with or without peek).
int WSAAsyncSelect(TSocket Socket, HWND Window, unsigned Msg, uint32_t Mask);
uint32_t inet_addr(const char* Text);
// Starts an IPv4 lookup of Name; its completion is posted to Window as Msg with the
// lookup error in the high 16 bits, and on success the first IPv4 address (4 bytes,
// network byte order) is written to the start of Buffer. A window destroyed before
// the answer gets nothing. Returns a non-zero task handle (the message's WParam).
uintptr_t WSAAsyncGetHostByName(HWND Window, unsigned Msg, const char* Name, char* Buffer, int BufferLength);
// Ends a lookup: from now on it writes nothing and its message, even one already
// queued, is dropped.
int WSACancelAsyncRequest(uintptr_t Task);
int connect(TSocket Socket, const SOCKADDR_IN& Address);
// Bytes taken, 0, or SOCKET_ERROR. Never raises SIGPIPE.
int send(TSocket Socket, const char* Buffer, int Length);
constexpr int MSG_PEEK_FLAG = 1;
int recv(TSocket Socket, char* Buffer, int Length, int Flags);
TSocket accept(TSocket Socket, SOCKADDR_IN& Address);
int closesocket(TSocket Socket);
// Wakes the event pump once when Socket can take more bytes (after a would-block send).
void WakeWhenWritable(TSocket Socket);

}  // namespace WinSock
