// Base64 of a 64 MiB random source through a buffered stream into an in-memory
// stream, as the attachment writer does it; the source is a file or memory.
#include "codec/NMS_Stream.h"
#include "codec/NMUUE.h"
#include "rtl/Streams.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace {

constexpr int64_t SourceSize = 64 << 20;

const std::string& RandomSource()
{
    static const std::string bytes = [] {
        std::mt19937_64 gen(64);
        std::string s(SourceSize, '\0');
        for (int64_t i = 0; i < SourceSize; i += 8) {
            uint64_t v = gen();
            std::memcpy(s.data() + i, &v, 8);
        }
        return s;
    }();
    return bytes;
}

void EncodeInto(TStream& source, benchmark::State& state)
{
    TMemoryStream target;
    TS_BufferStream buffered(&target);
    TNMUUProcessor uu;
    uu.Method = uuMime;
    uu.SourceStream = &source;
    uu.TargetStream = &buffered;
    uu.Encode();
    const int64_t rest = SourceSize % 45;
    const int64_t expected = SourceSize / 45 * 62 + (rest ? (rest + 2) / 3 * 4 + 2 : 0);
    if (target.Size() != expected)
        state.SkipWithError("unexpected output size");
    benchmark::DoNotOptimize(target.Memory());
}

void BM_EncodeFromMemory(benchmark::State& state)
{
    TMemoryStream source;
    source.WriteBuffer(RandomSource().data(), SourceSize);
    for (auto _ : state)
        EncodeInto(source, state);
    state.SetBytesProcessed(state.iterations() * SourceSize);
}

// A temporary file holding the random source, removed at exit.
class SourceFile {
public:
    SourceFile()
    {
        Path = (std::filesystem::temp_directory_path() / ("qp-bench-" + std::to_string(::getpid()) + ".bin")).string();
        std::ofstream(Path, std::ios::binary).write(RandomSource().data(), SourceSize);
    }
    ~SourceFile() { std::filesystem::remove(Path); }
    std::string Path;
};

void BM_EncodeFromFile(benchmark::State& state)
{
    static SourceFile file;
    for (auto _ : state) {
        TFileStream source(file.Path);
        EncodeInto(source, state);
    }
    state.SetBytesProcessed(state.iterations() * SourceSize);
}

} // namespace

BENCHMARK(BM_EncodeFromMemory)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_EncodeFromFile)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK_MAIN();
