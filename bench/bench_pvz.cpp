// The run-length container: expansion (bytes of output per second) and
// compression (bytes of input per second) of three kinds of stream.
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "pictures.h"
#include "pvz.h"
#include "texture.h"

static void BM_PvzExpand(benchmark::State& state, int kind) {
    const unsigned unit = (unsigned)state.range(0);
    const std::vector<uint8_t>& texture = StreamTexture(kind, unit);
    const std::vector<uint8_t>& container = StreamContainer(kind, unit);
    const size_t texelLength = texture.size() - kTextureHeaderSize;
    // The driver's capacity: the size field plus its own four bytes.
    std::vector<uint8_t> block(kPvzHeader + texture.size(), 0);
    int result = kPvzOk;
    size_t written = 0;
    for (auto _ : state) {
        result |= PvzExpand(container.data(), container.size(), block.data(), block.size(), &written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)texelLength);
    state.counters["ratio"] = (double)container.size() / (double)texture.size();
    if (result != kPvzOk || written != texelLength ||
        memcmp(block.data() + kPvzHeader, texture.data(), texture.size()) != 0)
        state.SkipWithError("the expanded texture is wrong");
}
#define STREAM_UNITS Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)
BENCHMARK_CAPTURE(BM_PvzExpand, long, kStreamLong)->STREAM_UNITS;
BENCHMARK_CAPTURE(BM_PvzExpand, single, kStreamSingle)->STREAM_UNITS;
BENCHMARK_CAPTURE(BM_PvzExpand, mixed, kStreamMixed)->STREAM_UNITS;

// One preallocated block handed out again and again, so that the timing is
// the compressor's and not the allocator's (a fresh multi-megabyte block
// costs page faults on every touch).
struct Arena {
    std::vector<uint8_t> block;
};
static void* ArenaAlloc(void* context, size_t size) {
    Arena* arena = (Arena*)context;
    return size <= arena->block.size() ? arena->block.data() : nullptr;
}
static void ArenaFree(void*, void*) {}

static void BM_PvzCompress(benchmark::State& state, int kind) {
    const unsigned unit = (unsigned)state.range(0);
    const std::vector<uint8_t>& texture = StreamTexture(kind, unit);
    const std::vector<uint8_t>& expected = StreamContainer(kind, unit);
    Arena arena;
    arena.block.assign((size_t)PvzCompressCapacity((uint32_t)texture.size()), 0);
    const Allocator allocator = {ArenaAlloc, ArenaFree, &arena};
    int result = 0;
    uint8_t* container = nullptr;
    uint32_t length = 0;
    for (auto _ : state) {
        result |= PvzCompress(texture.data(), (uint32_t)texture.size(), &allocator, &container, &length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(texture.size() - kTextureHeaderSize));
    // The container must expand to the texture again.
    std::vector<uint8_t> back(kPvzHeader + texture.size(), 0);
    size_t written = 0;
    if (result != 0 || length != expected.size() ||
        PvzExpand(container, length, back.data(), back.size(), &written) != kPvzOk ||
        memcmp(back.data() + kPvzHeader, texture.data(), texture.size()) != 0)
        state.SkipWithError("the container is wrong");
}
BENCHMARK_CAPTURE(BM_PvzCompress, long, kStreamLong)->STREAM_UNITS;
BENCHMARK_CAPTURE(BM_PvzCompress, single, kStreamSingle)->STREAM_UNITS;
BENCHMARK_CAPTURE(BM_PvzCompress, mixed, kStreamMixed)->STREAM_UNITS;
