// In-process speed of the encoder and of the file writer on the largest text.
#include "oth_file.h"
#include "text_encoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// 65,507 bytes of text lines ending in CR LF, the largest text that is accepted.
std::string LargestText()
{
    std::string text;
    for (int i = 0; text.size() < 65505; ++i)
        text += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog.\r\n";
    text.resize(65505);
    return text + "\r\n";
}

void Encode(benchmark::State& state)
{
    std::string text = LargestText();
    static DataBuffer data;
    for (auto _ : state) {
        std::FILE* in = fmemopen(text.data(), text.size(), "rb");
        benchmark::DoNotOptimize(TextFile2DataBuffer(in, data));
        std::fclose(in);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(Encode);

void Write(benchmark::State& state)
{
    const std::string data(65512, 'a');
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::uint32_t size = 0;
    for (auto _ : state) {
        unsigned char* image = DataBuffer2OTHBuffer("big", data.size(), bytes, &size);
        benchmark::DoNotOptimize(image);
        std::free(image);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(Write);

} // namespace

BENCHMARK_MAIN();
