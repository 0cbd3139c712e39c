// The converter as its users run it: `ombr decode` of a folder of textures
// to PNGs and `ombr encode` of the PNGs back, through RunOmbr, files on disk,
// at one job and at one job per processor; and one decode at each PNG level.
// Textures per second in real time (the work is on several threads). Each
// case checks what it wrote: the first picture's pixels, the textures byte
// for byte.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "files.h"
#include "pictures.h"
#include "png.h"
#include "texture.h"
#include "threads.h"

namespace fs = std::filesystem;

namespace {

// The work folder of this process, removed at exit.
const fs::path& WorkFolder() {
    static const fs::path folder = fs::temp_directory_path() / ("ombr_bench_convert." + std::to_string(getpid()));
    return folder;
}

std::string Count(int count) { return std::to_string(count); }

// `count` copies of the made-up game texture (DataType 1, ARGB1555, ID 4242)
// at side x side in <work>/<side>x<count>/tex, made once.
fs::path TextureFolder(uint32_t side, int count) {
    const fs::path folder = WorkFolder() / (std::to_string(side) + "x" + Count(count)) / "tex";
    if (fs::exists(folder)) return folder;
    fs::create_directories(folder);
    const std::vector<uint8_t>& file = LayoutContainer(kLayoutTwiddled16, side);
    for (int i = 0; i < count; i++) {
        char name[32];
        snprintf(name, sizeof name, "t%03d.pvz", i);
        FILE* f = fopen((folder / name).c_str(), "wb");
        if (f) {
            fwrite(file.data(), 1, file.size(), f);
            fclose(f);
        }
    }
    return folder;
}

int Ombr(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"ombr"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    return RunOmbr((int)argv.size(), argv.data(), stdout, stderr);
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    uint8_t* data = nullptr;
    size_t length = 0;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path.c_str(), &data, &length) == kFileOk) bytes.assign(data, data + length);
    free(data);
    return bytes;
}

// The PNG holds the picture, as RGBA of the ARGB1555 texels.
bool SamePicture(const fs::path& png, uint32_t side) {
    const std::vector<uint8_t> file = ReadFile(png);
    PngImage image;
    char error[kPngErrorRoom];
    if (DecodePng(file.data(), file.size(), side, (uint64_t)side * side, &image, error, sizeof error) != 0) return false;
    bool same = image.width == side && image.height == side && image.kind == kPngColor;
    for (uint32_t y = 0; same && y < side; y++)
        for (uint32_t x = 0; same && x < side; x++) {
            const uint8_t* p = image.pixels + 4 * ((size_t)y * side + x);
            const uint32_t argb = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
            same = argb == UnpackColor(kColorArgb1555, (uint16_t)LayoutTexel(kLayoutTwiddled16, x, y, side));
        }
    FreePng(&image);
    return same;
}

unsigned Jobs(int64_t arg) { return arg > 0 ? (unsigned)arg : ProcessorCount(); }

// Args: jobs (0: one per processor), side, textures.
void BM_ConvertDecode(benchmark::State& state) {
    const unsigned jobs = Jobs(state.range(0));
    const uint32_t side = (uint32_t)state.range(1);
    const int count = (int)state.range(2);
    const fs::path textures = TextureFolder(side, count);
    const fs::path pngs = textures.parent_path() / ("png-j" + std::to_string(jobs));
    int status = 0;
    for (auto _ : state)
        status |= Ombr({"decode", textures.string(), "--out-dir", pngs.string(), "-f", "-q", "-j",
                        std::to_string(jobs)});
    state.SetItemsProcessed((int64_t)state.iterations() * count);
    state.counters["jobs"] = jobs;
    if (status != 0 || !SamePicture(pngs / "t000.png", side)) state.SkipWithError("the PNGs are wrong");
}

void BM_ConvertEncode(benchmark::State& state) {
    const unsigned jobs = Jobs(state.range(0));
    const uint32_t side = (uint32_t)state.range(1);
    const int count = (int)state.range(2);
    const fs::path textures = TextureFolder(side, count);
    const fs::path pngs = textures.parent_path() / "png-source";
    const fs::path back = textures.parent_path() / ("back-j" + std::to_string(jobs));
    int status = fs::exists(pngs) ? 0 : Ombr({"decode", textures.string(), "--out-dir", pngs.string(), "-q"});
    for (auto _ : state)
        status |= Ombr({"encode", pngs.string(), "--out-dir", back.string(), "-f", "-q", "-j", std::to_string(jobs),
                        "--type", "1", "--color", "0", "--id", "4242"});
    state.SetItemsProcessed((int64_t)state.iterations() * count);
    state.counters["jobs"] = jobs;
    const std::vector<uint8_t>& expected = LayoutContainer(kLayoutTwiddled16, side);
    bool same = status == 0;
    for (int i = 0; same && i < count; i++) {
        char name[32];
        snprintf(name, sizeof name, "t%03d.pvz", i);
        same = ReadFile(back / name) == expected;
    }
    if (!same) state.SkipWithError("the textures are wrong");
}

// Args: PNG level (-1: none given, ombr's choice), side. One texture decoded
// to one PNG, one job.
void BM_ConvertPngLevel(benchmark::State& state) {
    const int level = (int)state.range(0);
    const uint32_t side = (uint32_t)state.range(1);
    const fs::path texture = TextureFolder(side, 1) / "t000.pvz";
    const fs::path png = texture.parent_path().parent_path() / ("level" + std::to_string(level) + ".png");
    int status = 0;
    std::vector<std::string> args = {"decode", texture.string(), "-o", png.string(), "-f", "-q"};
    if (level >= 0) args.insert(args.end(), {"--png-level", std::to_string(level)});
    for (auto _ : state) status |= Ombr(args);
    state.SetItemsProcessed((int64_t)state.iterations());
    state.counters["png_bytes"] = (double)fs::file_size(png);
    if (status != 0 || !SamePicture(png, side)) state.SkipWithError("the PNG is wrong");
}

}  // namespace

// Smoke sizes (/128/4, level /128) and the measured ones (64 textures of 1024).
BENCHMARK(BM_ConvertDecode)->Args({1, 128, 4})->Args({0, 128, 4})->Args({1, 1024, 64})->Args({0, 1024, 64})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertEncode)->Args({1, 128, 4})->Args({0, 128, 4})->Args({1, 1024, 64})->Args({0, 1024, 64})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertPngLevel)->Args({-1, 128})->Args({-1, 1024})->Args({0, 1024})->Args({1, 1024})->Args({3, 1024})
    ->Args({5, 1024})->Args({6, 1024})->Args({9, 1024})->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(WorkFolder(), ignored);
    return 0;
}
