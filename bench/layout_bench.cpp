// Layout of the 4219-byte SHA-256 counter stream (33,754 dots): the engine's indexed search
// against the literal newest-first scan. Prints both times and their ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "literal_layout.h"
#include "quorvel.h"
#include "sha256.h"

namespace {
const std::vector<uint8_t>& stream() {
    static const std::vector<uint8_t> bytes = qvtest::counter_digest_stream(4219);
    return bytes;
}

size_t engine_layout(const std::vector<uint8_t>& bytes) {
    Dot* chain = dot_place(9, 9, nullptr);
    chain = dot_place(5, 9, chain);
    size_t dots = 2;
    for (uint8_t byte : bytes)
        for (int mask = 1; mask <= 128; mask <<= 1, ++dots)
            chain = dot_place((byte & mask) ? 6 : 4, 9, chain);
    dot_free_chain(chain);
    return dots;
}

void BM_LayoutIndexed(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(engine_layout(stream()));
    state.counters["dots"] = double(2 + 8 * stream().size());
}
BENCHMARK(BM_LayoutIndexed)->Unit(benchmark::kMillisecond);

void BM_LayoutLiteral(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(qvtest::literal_layout(stream(), nullptr));
}
BENCHMARK(BM_LayoutLiteral)->Unit(benchmark::kMillisecond)->Iterations(1);

double seconds(void (*run)()) {
    auto t0 = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stream();
    double indexed = seconds([] { engine_layout(stream()); });
    double literal = seconds([] { qvtest::literal_layout(stream(), nullptr); });
    std::printf("layout of %zu dots: indexed %.1f ms, literal scan %.1f ms, ratio %.0fx\n",
                2 + 8 * stream().size(), indexed * 1e3, literal * 1e3, literal / indexed);
    return 0;
}
