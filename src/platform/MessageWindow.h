// Hidden message windows: a QObject that receives posted messages (number and two
// parameters) and timer ticks and hands each one to its window procedure.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>

class TMessageWindow;
using HWND = TMessageWindow*;
using TWindowProc = intptr_t (*)(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam);

constexpr unsigned WM_ACTIVATEAPP = 28;
constexpr unsigned WM_TIMER = 275;
constexpr unsigned WM_USER = 1024;

class TMessageWindow : public QObject {
public:
    // ClassName only names the object; there is no class registry to fill.
    TMessageWindow(const char* ClassName, TWindowProc Proc);
    ~TMessageWindow() override;

    // The window's one slot of per-window storage (index 0): its owner.
    void* Owner = nullptr;

    // Starts (or restarts with a full new interval) timer Id; false when refused
    // (an interval of 0 is refused, as on the original platform).
    bool SetTimer(unsigned Id, unsigned Interval);
    void KillTimer(unsigned Id);

    // The custom event type that carries posted messages.
    static QEvent::Type MessageEventType();

protected:
    bool event(QEvent* Event) override;
    void timerEvent(QTimerEvent* Event) override;

private:
    TWindowProc FProc;
    unsigned FTimerId = 0;   // the platform id of timer 1, 0 when stopped
};

// Queues a message for Window; it is handed to the window procedure by the event pump.
// Messages still queued when the window is destroyed are dropped.
void PostMessage(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam);
// The same, for a message that is dropped at delivery when its Source has ended
// (a closed socket, a canceled lookup), so that no stale notice reaches a reused handle.
void PostMessageFrom(std::weak_ptr<const void> Source, HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam);

// What a window procedure returns for a message it does not handle.
intptr_t DefWindowProc(HWND Window, unsigned Msg, uintptr_t WParam, intptr_t LParam);
