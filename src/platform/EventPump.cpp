#include "platform/EventPump.h"

#include "platform/MessageWindow.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>

namespace {

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
    QAbstractEventDispatcher* Dispatcher = QAbstractEventDispatcher::instance();
    const uint64_t Before = DeliveredMessageCount();
    const QMetaObject::Connection Check =
        QObject::connect(Dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
            if (DeliveredMessageCount() != Before || (Done && Done()))
                Dispatcher->interrupt();
        });
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QObject::disconnect(Check);
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
