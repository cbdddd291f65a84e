#include "platform/EventPump.h"

#include "platform/MessageWindow.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <cstdio>

namespace {

int WaitDepth = 0;   // waits running, nested in one another

TExceptionHandler& Handler()
{
    static TExceptionHandler Current;
    return Current;
}

}  // namespace

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitMessage(const std::function<bool()>& Done)
{
    // Some dispatchers run the posted events and then still block; looking again just
    // before they block keeps a wait from sleeping through what it was waiting for.
    // Only this wait's own blocking is looked at: a loop that a handler runs meanwhile
    // (a modal dialog, another wait) must be left to block, or it would spin.
    QAbstractEventDispatcher* Dispatcher = QAbstractEventDispatcher::instance();
    QThread* Thread = QThread::currentThread();
    const int Level = Thread->loopLevel();
    const int Depth = ++WaitDepth;
    const uint64_t Before = DeliveredMessageCount();
    struct TGuard {
        QMetaObject::Connection Check;
        ~TGuard()
        {
            QObject::disconnect(Check);
            --WaitDepth;
        }
    } Guard;
    Guard.Check = QObject::connect(Dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
        if (WaitDepth != Depth || Thread->loopLevel() != Level)
            return;
        if (DeliveredMessageCount() != Before || (Done && Done()))
            Dispatcher->interrupt();
    });
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void SetApplicationExceptionHandler(TExceptionHandler NewHandler)
{
    Handler() = std::move(NewHandler);
}

void ApplicationHandleException(const std::exception& E)
{
    if (Handler())
        Handler()(E.what());
    else
        std::fprintf(stderr, "%s\n", E.what());
}
