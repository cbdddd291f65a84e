#include "platform/EventPump.h"

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

void WaitMessage()
{
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
