#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>

namespace {

class TMessageEvent : public QEvent {
public:
    TMessageEvent(std::weak_ptr<const void> Source, bool Guarded, unsigned Msg, uintptr_t WParam, intptr_t LParam)
        : QEvent(TMessageWindow::MessageEventType()), Source(std::move(Source)), Guarded(Guarded), Msg(Msg),
          WParam(WParam), LParam(LParam) {}

    std::weak_ptr<const void> Source;
    bool Guarded;

    unsigned Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

uint64_t Delivered = 0;

}  // namespace

uint64_t DeliveredMessageCount()
{
    return Delivered;
}

TMessageWindow::TMessageWindow(const char* ClassName, TWindowProc Proc) : FProc(Proc)
{
    setObjectName(QString::fromLatin1(ClassName));
}

TMessageWindow::~TMessageWindow()
{
    KillTimer(1);
}

QEvent::Type TMessageWindow::MessageEventType()
{
    static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return Type;
}

bool TMessageWindow::SetTimer(unsigned Id, unsigned Interval)
{
    if (Id != 1 || Interval == 0 || Interval > 0x7FFFFFFFu)
        return false;
    KillTimer(Id);
    // Precise: a coarse timer may tick up to 5% early, which would cut a time limit short.
    FTimerId = static_cast<unsigned>(startTimer(static_cast<int>(Interval), Qt::PreciseTimer));
    return FTimerId != 0;
}

void TMessageWindow::KillTimer(unsigned Id)
{
    if (Id != 1 || FTimerId == 0)
        return;
    killTimer(static_cast<int>(FTimerId));
    FTimerId = 0;
}

bool TMessageWindow::event(QEvent* Event)
{
    if (Event->type() != MessageEventType())
        return QObject::event(Event);
    auto* Message = static_cast<TMessageEvent*>(Event);
    if (Message->Guarded && Message->Source.expired())
        return true;
    ++Delivered;
    FProc(this, Message->Msg, Message->WParam, Message->LParam);
    return true;
}

void TMessageWindow::timerEvent(QTimerEvent* Event)
{
    if (FTimerId == 0 || Event->timerId() != static_cast<int>(FTimerId))
        return;
    ++Delivered;
    FProc(this, WM_TIMER, 1, 0);
}

void PostMessage(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    QCoreApplication::postEvent(Window, new TMessageEvent({}, false, Msg, WParam, LParam));
}

void PostMessageFrom(std::weak_ptr<const void> Source, HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam)
{
    QCoreApplication::postEvent(Window, new TMessageEvent(std::move(Source), true, Msg, WParam, LParam));
}

intptr_t DefWindowProc(HWND, unsigned, uintptr_t, intptr_t)
{
    return 0;
}
