// Whole import and export of a 1024 x 1024 texture through the drivers, in
// memory, and the heap they use: only the blocks the design names, each once.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "bench_host.h"
#include "decode.h"
#include "memory_platform.h"
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

// Host pixels of the picture as the import leaves them and the export reads
// them: colours, or the indices of an indexed picture.
static void FillPicture(BenchHost* host, int kind) {
    host->Picture(kSide, kSide);
    if (kind != kLayoutTwiddled16) {
        host->image.nColorMode = kColorModeIndexed;
        host->image.nPaletteCount = 256;
        for (uint32_t i = 0; i < 256; i++) host->image.aPalette[i] = 0xFF000000u | i * 0x010203u;
    }
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

// Files and settings of the export benchmarks: storage for every file an
// export of `total` texture bytes writes (texture, palette, their staged
// copies, the old palette kept aside), taken before anything is counted.
static void SetUpExport(MemoryPlatform* files, TextureSettings settings, uint32_t total) {
    files->logging = false;
    files->settings = settings;
    files->ReserveFiles(5, (size_t)PvzCompressCapacity(total));
}

static void BM_WholeImport(benchmark::State& state) {
    const std::vector<uint8_t>& file = LayoutContainer(kLayoutTwiddled16, kSide);
    BenchHost host((size_t)kSide * kSide);
    MemoryPlatform files;
    files.logging = false;
    files.Put(kTexturePath, file);
    int status = kStatusDone;
    for (auto _ : state) {
        ResetLayerName(&host);
        status |= files.Import(kTexturePath, &host);
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
    const uint32_t total = kTextureHeaderSize + 2 * kSide * kSide;
    MemoryPlatform files;
    SetUpExport(&files, {kTypeTwiddled, kColorArgb1555, 4242}, total);
    int status = kExportOk;
    for (auto _ : state) status |= files.Export(kTexturePath, &host);
    state.SetItemsProcessed((int64_t)state.iterations() * kSide * kSide);
    const std::vector<uint8_t>* written = files.Find(kTexturePath);
    if (status != kExportOk || !written || *written != expected) state.SkipWithError("the export is wrong");
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

static void Account(const MemoryPlatform& heap, const AllocationTally& before, HeapReport* report) {
    const AllocationTally after = CurrentAllocations();
    report->peakBytes = heap.peakBytes;
    report->platformAllocations = (unsigned)heap.allocations;
    report->otherAllocations = after.calls - before.calls - heap.allocations;
    report->otherBytes = after.bytes - before.bytes - heap.totalBytes;
    report->balanced = heap.LiveBlocks() == 0 && heap.badFrees == 0;
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
    MemoryPlatform files;
    files.logging = false;
    files.Put(kTexturePath, file);
    if (palettised) files.Put(kPalettePath, palette);
    // The expanded block is the size field rounded up to 2048 bytes.
    const size_t budget = file.size() + kPvzHeader + texture + 2047 + (palettised ? palette.size() : 0);
    HeapReport report;
    int status = kStatusDone;
    for (auto _ : state) {
        ResetLayerName(&host);
        files.ResetCounts();
        const AllocationTally before = CurrentAllocations();
        status |= files.Import(kTexturePath, &host);
        Account(files, before, &report);
    }
    if (status != kStatusDone || !SamePicture(host, kind)) state.SkipWithError("the import is wrong");
    else Publish(state, report, budget, palettised ? 3 : 2);
}
BENCHMARK_CAPTURE(BM_PeakImport, Twiddled16, kLayoutTwiddled16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeakImport, Twiddled8, kLayoutTwiddled8)->Unit(benchmark::kMillisecond);

// Export as .pvz: the texture buffer and the container; the palette file's
// bytes live on the stack (an indexed picture keeps its own palette).
static void BM_PeakExport(benchmark::State& state, int kind) {
    const LayoutInfo& layout = kLayouts[kind];
    const std::vector<uint8_t>& expected = LayoutContainer(kind, kSide);
    const uint32_t total = (uint32_t)LayoutTexture(kind, kSide).size();
    BenchHost host((size_t)kSide * kSide);
    FillPicture(&host, kind);
    MemoryPlatform files;
    SetUpExport(&files, {layout.dataType, layout.colorFormat, 4242}, total);
    const size_t budget = total + (size_t)PvzCompressCapacity(total);
    HeapReport report;
    int status = kExportOk;
    for (auto _ : state) {
        files.ResetCounts();
        const AllocationTally before = CurrentAllocations();
        status |= files.Export(kTexturePath, &host);
        Account(files, before, &report);
    }
    const std::vector<uint8_t>* written = files.Find(kTexturePath);
    if (status != kExportOk || !written || *written != expected)
        state.SkipWithError("the export is wrong");
    else Publish(state, report, budget, 2);
}
BENCHMARK_CAPTURE(BM_PeakExport, Twiddled16, kLayoutTwiddled16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeakExport, Twiddled8, kLayoutTwiddled8)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
