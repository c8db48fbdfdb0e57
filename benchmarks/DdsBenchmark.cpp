// Our DDS decoder on 8192 x 8192 textures in memory, and the PNG encoder on a decoded picture of
// that size (smooth gradients with a little noise, as textures are), each on one and two threads.

#include "Dds.h"
#include "DdsWriter.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr uint32_t side = 8192;

void Decode(benchmark::State& state, modelwriter::DdsEncoding encoding)
{
    modelwriter::DdsSpec spec;
    spec.encoding = encoding;
    spec.dx10 = encoding == modelwriter::DdsEncoding::BC7;
    const modelwriter::Bytes file =
        modelwriter::WriteDdsData(side, side, spec, modelwriter::RandomDdsBlocks(encoding, side, side, 1));
    for (auto _ : state) {
        dds::Image image;
        std::string problem;
        std::vector<std::string> notes;
        if (!dds::Decode(file.data(), file.size(), image, problem, notes, uint64_t{1} << 28, 0,
                         unsigned(state.range(0))))
            state.SkipWithError(problem.c_str());
        benchmark::DoNotOptimize(image.rgba.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t{side} * side);
}

void DecodeDxt1(benchmark::State& state)
{
    Decode(state, modelwriter::DdsEncoding::BC1);
}

void DecodeBc7(benchmark::State& state)
{
    Decode(state, modelwriter::DdsEncoding::BC7);
}

void DecodeA8R8G8B8(benchmark::State& state)
{
    Decode(state, modelwriter::DdsEncoding::A8R8G8B8);
}

dds::Image TexturePicture()
{
    std::mt19937 random(1);
    dds::Image image{side, side, std::vector<uint8_t>(size_t{side} * side * 4)};
    uint8_t* p = image.rgba.data();
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x, p += 4) {
            const uint32_t noise = random() & 7;
            p[0] = uint8_t(x / 32 + noise);
            p[1] = uint8_t(y / 32 + noise);
            p[2] = uint8_t(((x ^ y) >> 5) + noise);
            p[3] = uint8_t(((x / 64) & 1) ? 255 : 128 + (y & 127));
        }
    return image;
}

void EncodePng(benchmark::State& state)
{
    const dds::Image image = TexturePicture();
    const bool withAlpha = state.range(0) != 0;
    const auto threads = unsigned(state.range(1));
    size_t bytes = 0;
    for (auto _ : state)
        bytes = dds::EncodePng(image, withAlpha, threads).size();
    state.counters["MiB"] = double(bytes) / (1 << 20);
    state.SetItemsProcessed(state.iterations() * int64_t{side} * side);
}

BENCHMARK(DecodeDxt1)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeBc7)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeA8R8G8B8)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(EncodePng)
    ->ArgNames({"alpha", "threads"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
