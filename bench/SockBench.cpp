// SendStream of 256 MiB to a loopback peer that discards (goal: at least 1 GB/s), and
// the process CPU time while ReadLn waits 2 s for a reply (goal: under 5% of the wall time).
#include "sock/Psock.h"

#include "ScriptedPeer.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <sys/resource.h>

namespace {

void Connect(TPowersock& Sock, const TScriptedPeer& Peer)
{
    Sock.Host = "127.0.0.1";
    Sock.Port = Peer.Port();
    Sock.TimeOut = 10000;
    Sock.Connect();
}

double ProcessCpuSeconds()
{
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    auto Seconds = [](const timeval& T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
    return Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
}

void BM_SendStream256MiB(benchmark::State& State)
{
    constexpr int64_t Size = int64_t(256) << 20;
    TScriptedPeer Peer;
    Peer.Discard();
    TPowersock Sock;
    Connect(Sock, Peer);
    TMemoryStream Stream;
    Stream.SetSize(Size);
    std::memset(Stream.Memory(), 'x', size_t(Size));
    uint64_t Expected = 0;
    for (auto _ : State) {
        Sock.SendStream(Stream);
        Expected += uint64_t(Size);
        // Count the time until the peer has taken every byte.
        if (!Peer.WaitForDiscarded(Expected, 60000))
            State.SkipWithError("the peer did not receive everything");
    }
    State.SetBytesProcessed(State.iterations() * Size);
}
BENCHMARK(BM_SendStream256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ReadLnWaits2s(benchmark::State& State)
{
    constexpr int Rounds = 3;
    TScriptedPeer Peer;
    for (int Round = 0; Round < Rounds; ++Round)
        Peer.ExpectLine().Pause(2000).Send("250 OK\r\n");
    TPowersock Sock;
    Connect(Sock, Peer);
    double Cpu = 0, Wall = 0;
    for (auto _ : State) {
        Sock.Writeln("NOOP");
        const double CpuBefore = ProcessCpuSeconds();
        const auto WallBefore = std::chrono::steady_clock::now();
        const std::string Reply = Sock.ReadLn();
        Wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - WallBefore).count();
        Cpu += ProcessCpuSeconds() - CpuBefore;
        if (Reply != "250 OK\r\n")
            State.SkipWithError("unexpected reply");
    }
    State.counters["wall_s"] = Wall;
    State.counters["process_cpu_s"] = Cpu;
    State.counters["cpu_percent_of_wall"] = 100.0 * Cpu / Wall;
}
BENCHMARK(BM_ReadLnWaits2s)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
