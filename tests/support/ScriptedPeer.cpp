#include "ScriptedPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(uint16_t Port)
{
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Address;
}

uint16_t BoundPort(int Socket)
{
    sockaddr_in Address{};
    socklen_t Size = sizeof Address;
    getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Size);
    return ntohs(Address.sin_port);
}

}  // namespace

TScriptedPeer::TScriptedPeer()
{
    FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in Address = Loopback(0);
    if (FListener < 0 || bind(FListener, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0
        || listen(FListener, 16) != 0 || pipe2(FStopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("scripted peer cannot listen");
    FPort = BoundPort(FListener);
    FThread = std::thread([this] { Run(); });
}

TScriptedPeer::~TScriptedPeer()
{
    const char Stop = 1;
    (void)!write(FStopPipe[1], &Stop, 1);
    FThread.join();
    close(FListener);
    close(FStopPipe[0]);
    close(FStopPipe[1]);
}

TScriptedPeer& TScriptedPeer::Add(TStep Step)
{
    std::lock_guard Guard(FLock);
    FScript.push_back(std::move(Step));
    return *this;
}

TScriptedPeer& TScriptedPeer::Send(std::string Bytes) { return Add({TStep::Send, std::move(Bytes)}); }
TScriptedPeer& TScriptedPeer::Pause(int Milliseconds) { return Add({TStep::Pause, {}, size_t(Milliseconds)}); }
TScriptedPeer& TScriptedPeer::ExpectLine() { return ExpectUntil("\n"); }
TScriptedPeer& TScriptedPeer::ExpectUntil(std::string Marker) { return Add({TStep::Until, std::move(Marker)}); }
TScriptedPeer& TScriptedPeer::ExpectBytes(size_t Count) { return Add({TStep::Bytes, {}, Count}); }
TScriptedPeer& TScriptedPeer::Close() { return Add({TStep::Close}); }
TScriptedPeer& TScriptedPeer::Reset() { return Add({TStep::Reset}); }
TScriptedPeer& TScriptedPeer::Discard() { return Add({TStep::Discard}); }

TScriptedPeer& TScriptedPeer::Answer(std::function<std::string(const std::string& Line)> Reply)
{
    return Add({TStep::Answer, {}, 0, std::move(Reply)});
}

std::string TScriptedPeer::Received() const
{
    std::lock_guard Guard(FLock);
    return FReceived;
}

uint64_t TScriptedPeer::Discarded() const
{
    std::lock_guard Guard(FLock);
    return FDiscarded;
}

int TScriptedPeer::Connections() const
{
    std::lock_guard Guard(FLock);
    return FConnections;
}

int TScriptedPeer::Finished() const
{
    std::lock_guard Guard(FLock);
    return FFinished;
}

bool TScriptedPeer::WaitForReceived(size_t Bytes, int Milliseconds) const
{
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, std::chrono::milliseconds(Milliseconds),
                             [&] { return FReceived.size() >= Bytes; });
}

bool TScriptedPeer::WaitForFinished(int Count, int Milliseconds) const
{
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, std::chrono::milliseconds(Milliseconds), [&] { return FFinished >= Count; });
}

uint16_t TScriptedPeer::ClosedPort()
{
    const int Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in Address = Loopback(0);
    bind(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    const uint16_t Port = BoundPort(Socket);
    close(Socket);
    return Port;
}

bool TScriptedPeer::Wait(int Fd, int Milliseconds) const
{
    pollfd Fds[2] = {{Fd, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
    const int Ready = poll(Fds, 2, Milliseconds);
    return Ready > 0 && Fds[1].revents == 0;
}

void TScriptedPeer::Run()
{
    while (Wait(FListener, -1)) {
        const int Connection = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Connection < 0)
            continue;
        {
            std::lock_guard Guard(FLock);
            ++FConnections;
        }
        Serve(Connection);
        {
            std::lock_guard Guard(FLock);
            ++FFinished;
        }
        FChanged.notify_all();
    }
}

bool TScriptedPeer::ReadSome(int Connection, std::string& Pending)
{
    if (!Wait(Connection, -1))
        return false;
    char Buffer[65536];
    const ssize_t Count = recv(Connection, Buffer, sizeof Buffer, 0);
    if (Count <= 0)
        return false;
    Pending.append(Buffer, size_t(Count));
    {
        std::lock_guard Guard(FLock);
        FReceived.append(Buffer, size_t(Count));
    }
    FChanged.notify_all();
    return true;
}

void TScriptedPeer::Serve(int Connection)
{
    std::vector<TStep> Script;
    {
        std::lock_guard Guard(FLock);
        Script = FScript;
    }
    std::string Pending;   // received and not yet consumed by a step
    bool Open = true;
    for (const TStep& Step : Script) {
        if (!Open)
            break;
        switch (Step.Kind) {
        case TStep::Send:
            send(Connection, Step.Data.data(), Step.Data.size(), MSG_NOSIGNAL);
            break;
        case TStep::Pause:
            if (Wait(FStopPipe[0], int(Step.Count)))
                Open = false;   // stopping
            break;
        case TStep::Until: {
            size_t Found;
            while ((Found = Pending.find(Step.Data)) == std::string::npos && (Open = ReadSome(Connection, Pending))) {
            }
            if (Open)
                Pending.erase(0, Found + Step.Data.size());
            break;
        }
        case TStep::Bytes:
            while (Pending.size() < Step.Count && (Open = ReadSome(Connection, Pending))) {
            }
            if (Open)
                Pending.erase(0, Step.Count);
            break;
        case TStep::Answer:
            for (;;) {
                const size_t End = Pending.find('\n');
                if (End == std::string::npos) {
                    if (!(Open = ReadSome(Connection, Pending)))
                        break;
                    continue;
                }
                const std::string Reply = Step.Reply(Pending.substr(0, End + 1));
                Pending.erase(0, End + 1);
                if (!Reply.empty())
                    send(Connection, Reply.data(), Reply.size(), MSG_NOSIGNAL);
            }
            break;
        case TStep::Close:
            close(Connection);
            return;
        case TStep::Reset: {
            const linger Abortive{1, 0};
            setsockopt(Connection, SOL_SOCKET, SO_LINGER, &Abortive, sizeof Abortive);
            close(Connection);
            return;
        }
        case TStep::Discard: {
            std::vector<char> Buffer(1 << 20);
            ssize_t Count;
            while (Wait(Connection, -1) && (Count = recv(Connection, Buffer.data(), Buffer.size(), 0)) > 0) {
                std::lock_guard Guard(FLock);
                FDiscarded += uint64_t(Count);
            }
            Open = false;
            break;
        }
        }
    }
    // The script is done: silent, reading on until the client closes.
    while (Open && ReadSome(Connection, Pending)) {
    }
    close(Connection);
}
