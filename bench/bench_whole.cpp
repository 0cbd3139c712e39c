// Whole import and export of a 1024 x 1024 texture through the drivers, in
// memory, and the heap they use: only the blocks the design names, each once.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "bench_host.h"
#include "decode.h"
#include "pictures.h"
#include "pvz.h"
#include "texture.h"

enum { kSide = 1024 };
static const char kTexturePath[] = "bench.pvz";
static const char kPalettePath[] = "bench.pvp";

static void ResetLayerName(BenchHost* host) {
    memset(host->layer.szName, 0, sizeof host->layer.szName);
    memcpy(host->layer.szName, "Layer 1", 8);
}

// Host pixels of the picture as the import leaves them and the export reads them.
static void FillPicture(BenchHost* host, int kind) {
    host->Picture(kSide, kSide);
    const unsigned format = kLayouts[kind].colorFormat;
    for (uint32_t y = 0; y < kSide; y++)
        for (uint32_t x = 0; x < kSide; x++) {
            const uint32_t texel = LayoutTexel(kind, x, y, kSide);
            host->pixels[(size_t)y * kSide + x] =
                kind == kLayoutTwiddled16 ? UnpackColor(format, (uint16_t)texel) : texel;
        }
}

static bool SamePicture(const BenchHost& host, int kind) {
    BenchHost expected((size_t)kSide * kSide);
    FillPicture(&expected, kind);
    return host.width == kSide && host.height == kSide &&
           memcmp(host.pixels, expected.pixels, sizeof(uint32_t) * kSide * kSide) == 0;
}

static void BM_WholeImport(benchmark::State& state) {
    const std::vector<uint8_t>& file = LayoutContainer(kLayoutTwiddled16, kSide);
    BenchHost host((size_t)kSide * kSide);
    ImportBench bench;
    SetUpImport(&bench, kTexturePath, &file, nullptr, nullptr);
    int status = kStatusDone;
    for (auto _ : state) {
        ResetLayerName(&host);
        status |= ImportTexture(kTexturePath, &host.image, &host.services, &bench.platform);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * kSide * kSide);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file.size());
    if (status != kStatusDone || !SamePicture(host, kLayoutTwiddled16)) state.SkipWithError("the import is wrong");
}
BENCHMARK(BM_WholeImport)->Unit(benchmark::kMillisecond);

static void BM_WholeExport(benchmark::State& state) {
    const std::vector<uint8_t>& expected = LayoutContainer(kLayoutTwiddled16, kSide);
    BenchHost host((size_t)kSide * kSide);
    FillPicture(&host, kLayoutTwiddled16);
    ExportBench bench;
    const uint32_t total = kTextureHeaderSize + 2 * kSide * kSide;
    SetUpExport(&bench, {kTypeTwiddled, kColorArgb1555, 4242}, (size_t)PvzCompressCapacity(total));
    int status = kStatusDone;
    for (auto _ : state) status |= ExportTexture(kTexturePath, &host.image, &host.services, &bench.platform);
    state.SetItemsProcessed((int64_t)state.iterations() * kSide * kSide);
    if (status != kStatusDone || bench.textureLength != expected.size() ||
        memcmp(bench.texture.data(), expected.data(), expected.size()) != 0)
        state.SkipWithError("the export is wrong");
}
BENCHMARK(BM_WholeExport)->Unit(benchmark::kMillisecond);

// What a measured call allocated: through its platform heap, and anything else.
struct HeapReport {
    size_t peakBytes = 0;
    unsigned platformAllocations = 0;
    uint64_t otherAllocations = 0;
    uint64_t otherBytes = 0;
    bool balanced = true;   // every platform block freed, none untracked
};

static void Account(const CountingHeap& heap, const AllocationTally& before, HeapReport* report) {
    const AllocationTally after = CurrentAllocations();
    report->peakBytes = heap.peakBytes;
    report->platformAllocations = heap.allocations;
    report->otherAllocations = after.calls - before.calls - heap.allocations;
    report->otherBytes = after.bytes - before.bytes - heap.totalBytes;
    report->balanced = heap.live == 0 && heap.untracked == 0;
}

// The tally must see operator new and malloc, or the checks prove nothing.
static bool TallySeesAllocations() {
    const AllocationTally before = CurrentAllocations();
    int* array = new int[4];
    benchmark::DoNotOptimize(array);
    delete[] array;
    void* block = malloc(16);
    benchmark::DoNotOptimize(block);
    free(block);
    return CurrentAllocations().calls - before.calls == 2;
}

static void Publish(benchmark::State& state, const HeapReport& report, size_t budget, unsigned allocations) {
    if (!TallySeesAllocations()) {
        state.SkipWithError("allocations are not being counted");
        return;
    }
    state.counters["peak_bytes"] = (double)report.peakBytes;
    state.counters["budget_bytes"] = (double)budget;
    state.counters["platform_allocs"] = report.platformAllocations;
    state.counters["other_allocs"] = (double)report.otherAllocations;
    if (report.otherAllocations != 0 || report.otherBytes != 0)
        state.SkipWithError("allocations outside the platform heap");
    else if (!report.balanced)
        state.SkipWithError("a platform block was not freed");
    else if (report.peakBytes > budget)
        state.SkipWithError("peak memory above the budget");
    else if (report.platformAllocations != allocations)
        state.SkipWithError("unexpected number of platform blocks");
}

// Import of a .pvz: the file block, the expanded block and, for palettised
// textures, the palette file block; nothing per row or texel.
static void BM_PeakImport(benchmark::State& state, int kind) {
    const bool palettised = kind != kLayoutTwiddled16;
    const std::vector<uint8_t>& file = LayoutContainer(kind, kSide);
    const std::vector<uint8_t>& palette = PaletteFile();
    const size_t texture = LayoutTexture(kind, kSide).size();
    BenchHost host((size_t)kSide * kSide);
    ImportBench bench;
    SetUpImport(&bench, kTexturePath, &file, kPalettePath, palettised ? &palette : nullptr);
    // The expanded block is the size field rounded up to 2048 bytes.
    const size_t budget = file.size() + kPvzHeader + texture + 2047 + (palettised ? palette.size() : 0);
    HeapReport report;
    int status = kStatusDone;
    for (auto _ : state) {
        ResetLayerName(&host);
        ResetHeap(&bench.heap);
        const AllocationTally before = CurrentAllocations();
        status |= ImportTexture(kTexturePath, &host.image, &host.services, &bench.platform);
        Account(bench.heap, before, &report);
    }
    if (status != kStatusDone || !SamePicture(host, kind)) state.SkipWithError("the import is wrong");
    else Publish(state, report, budget, palettised ? 3 : 2);
}
BENCHMARK_CAPTURE(BM_PeakImport, Twiddled16, kLayoutTwiddled16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeakImport, Twiddled8, kLayoutTwiddled8)->Unit(benchmark::kMillisecond);

// Export as .pvz: the texture buffer and the container; the palette file's
// bytes live on the stack.
static void BM_PeakExport(benchmark::State& state, int kind) {
    const LayoutInfo& layout = kLayouts[kind];
    const std::vector<uint8_t>& expected = LayoutContainer(kind, kSide);
    const uint32_t total = (uint32_t)LayoutTexture(kind, kSide).size();
    BenchHost host((size_t)kSide * kSide);
    FillPicture(&host, kind);
    ExportBench bench;
    SetUpExport(&bench, {layout.dataType, layout.colorFormat, 4242}, (size_t)PvzCompressCapacity(total));
    const size_t budget = total + (size_t)PvzCompressCapacity(total);
    HeapReport report;
    int status = kStatusDone;
    for (auto _ : state) {
        ResetHeap(&bench.heap);
        const AllocationTally before = CurrentAllocations();
        status |= ExportTexture(kTexturePath, &host.image, &host.services, &bench.platform);
        Account(bench.heap, before, &report);
    }
    if (status != kStatusDone || bench.textureLength != expected.size() ||
        memcmp(bench.texture.data(), expected.data(), expected.size()) != 0)
        state.SkipWithError("the export is wrong");
    else Publish(state, report, budget, 2);
}
BENCHMARK_CAPTURE(BM_PeakExport, Twiddled16, kLayoutTwiddled16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeakExport, Twiddled8, kLayoutTwiddled8)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
