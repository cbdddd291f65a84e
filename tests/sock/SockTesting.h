// Shared helpers of the socket component tests.
#pragma once

#include "platform/EventPump.h"
#include "sock/Psock.h"

#include "ScriptedPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// Opens the protected steps to the tests and records every status text.
class TTestSock : public TPowersock {
public:
    TTestSock()
    {
        OnStatus = [this](TComponent* Sender, const std::string& Status) {
            EXPECT_EQ(Sender, this);
            Statuses.push_back(Status);
        };
    }

    using TPowersock::CheckSocketError;
    using TPowersock::WindowHandle;

    std::vector<std::string> Statuses;
};

// Drops every message posted to a window while it lives: a notice or lookup answer
// that never comes.
class TSwallowMessages : public QObject {
public:
    explicit TSwallowMessages(QObject* Target) : FTarget(Target) { FTarget->installEventFilter(this); }
    ~TSwallowMessages() override { FTarget->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* Event) override { return Event->type() == TMessageWindow::MessageEventType(); }

private:
    QObject* FTarget;
};

// Calls Action from the tick of a timer after Milliseconds, once.
class TTimedAction {
public:
    TTimedAction(uint32_t Milliseconds, std::function<void()> Action) : FAction(std::move(Action))
    {
        FTimer.SetInterval(Milliseconds);
        FTimer.SetOnTimer([this](TComponent*) {
            FTimer.SetEnabled(false);
            FAction();
        });
    }

private:
    std::function<void()> FAction;
    TThreadTimer FTimer;
};

inline void ConnectTo(TPowersock& Sock, const TScriptedPeer& Peer)
{
    Sock.Host = "127.0.0.1";
    Sock.Port = Peer.Port();
    Sock.TimeOut = 5000;
    Sock.Connect();
}

// Pumps events until Done() or Milliseconds passed.
template <class TDone>
bool PumpUntil(TDone Done, int Milliseconds = 2000)
{
    QElapsedTimer Clock;
    Clock.start();
    while (!Done() && Clock.elapsed() < Milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return Done();
}

inline int OpenDescriptors()
{
    int Count = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++Count;
    return Count;
}

// The message of the exception of type E that Action raises, or a note that it raised none.
template <class E, class TAction>
std::string FailureOf(TAction Action)
{
    try {
        Action();
    } catch (const E& Failure) {
        return Failure.what();
    }
    return "(no exception)";
}
