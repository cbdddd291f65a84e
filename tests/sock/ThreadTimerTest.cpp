#include "SockTesting.h"

namespace {

// Milliseconds from now until the first tick of Timer, which must come within Limit.
int64_t FirstTickAfter(TThreadTimer& Timer, const std::function<void()>& AtHalfway, int Limit = 3000)
{
    QElapsedTimer Clock;
    int64_t Tick = -1;
    Clock.start();
    Timer.SetOnTimer([&](TComponent*) {
        if (Tick < 0)
            Tick = Clock.elapsed();
    });
    PumpUntil([&] { return Clock.elapsed() >= Timer.Interval() / 2; }, Limit);
    AtHalfway();
    PumpUntil([&] { return Tick >= 0; }, Limit);
    return Tick;
}

}  // namespace

TEST(ThreadTimerTest, DefaultsAndNoTickBeforeOnTimer)
{
    TThreadTimer Timer;
    EXPECT_TRUE(Timer.Enabled());
    EXPECT_EQ(Timer.Interval(), 1000u);
    EXPECT_FALSE(Timer.OnTimer());
    Timer.SetInterval(5);
    QElapsedTimer Clock;
    Clock.start();
    PumpUntil([&] { return Clock.elapsed() >= 40; });
    int Ticks = 0;
    Timer.SetOnTimer([&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Timer);
        ++Ticks;
    });
    EXPECT_TRUE(PumpUntil([&] { return Ticks >= 2; }));
}

TEST(ThreadTimerTest, IntervalZeroOrDisabledStopsTheTicks)
{
    const struct {
        const char* Name;
        std::function<void(TThreadTimer&)> Stop;
    } Cases[] = {
        {"interval 0", [](TThreadTimer& T) { T.SetInterval(0); }},
        {"disabled", [](TThreadTimer& T) { T.SetEnabled(false); }},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TThreadTimer Timer;
        Timer.SetInterval(5);
        int Ticks = 0;
        Timer.SetOnTimer([&](TComponent*) { ++Ticks; });
        ASSERT_TRUE(PumpUntil([&] { return Ticks >= 1; }));
        Case.Stop(Timer);
        const int Seen = Ticks;
        QElapsedTimer Clock;
        Clock.start();
        PumpUntil([&] { return Clock.elapsed() >= 40; });
        EXPECT_EQ(Ticks, Seen);
    }
}

TEST(ThreadTimerTest, SettersRestartTheIntervalOnlyOnChange)
{
    // Interval 300: a restart at 150 ms moves the first tick to about 450 ms.
    const struct {
        const char* Name;
        std::function<void(TThreadTimer&)> AtHalfway;
        bool Restarts;
    } Cases[] = {
        {"same Enabled", [](TThreadTimer& T) { T.SetEnabled(true); }, false},
        {"same Interval", [](TThreadTimer& T) { T.SetInterval(300); }, false},
        {"new Interval", [](TThreadTimer& T) { T.SetInterval(301); }, true},
        {"OnTimer again", [](TThreadTimer& T) { T.SetOnTimer(T.OnTimer()); }, true},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TThreadTimer Timer;
        Timer.SetInterval(300);
        const int64_t Tick = FirstTickAfter(Timer, [&] { Case.AtHalfway(Timer); });
        ASSERT_GE(Tick, 0);
        if (Case.Restarts)
            EXPECT_GE(Tick, 420);
        else
            EXPECT_LT(Tick, 420);
    }
}

TEST(ThreadTimerTest, RaisingHandlerIsReportedAndTheTimerGoesOn)
{
    std::vector<std::string> Reported;
    SetApplicationExceptionHandler([&](const std::string& Message) { Reported.push_back(Message); });
    TThreadTimer Timer;
    Timer.SetInterval(5);
    int Ticks = 0;
    Timer.SetOnTimer([&](TComponent*) {
        ++Ticks;
        throw Exception("tick failed");
    });
    EXPECT_TRUE(PumpUntil([&] { return Ticks >= 3; }));
    SetApplicationExceptionHandler({});
    ASSERT_GE(Reported.size(), 3u);
    EXPECT_EQ(Reported[0], "tick failed");
    EXPECT_TRUE(Timer.Enabled());
}

TEST(ThreadTimerTest, ApplicationActivationIsIgnored)
{
    TThreadTimer Timer;
    int Ticks = 0;
    Timer.SetInterval(5);
    Timer.SetOnTimer([&](TComponent*) { ++Ticks; });
    PostMessage(Timer.WindowHandle(), WM_ACTIVATEAPP, 1, 0);
    EXPECT_TRUE(PumpUntil([&] { return Ticks >= 1; }));
    EXPECT_EQ(Timer.HandleTimerMessage(WM_USER, 0, 0), 0);
}
