// VQ quality and speed: each test picture encoded as DataType 3 (256 entries)
// and 16 (16 entries) with the trained codebook and with the baseline (the
// first distinct blocks in raster order), written as a .pvr, read back through
// the converter's ImportToHost (the import driver and its VQ decoders) and
// compared with the picture: PSNR over red, green and blue. Then the encode
// time (processor time, best of two) of a 1024 x 1024 texture. Prints markdown tables (bench/README.md);
// not a test, nothing is judged.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "convert.h"
#include "decode.h"
#include "export_core.h"
#include "texture.h"
#include "encode_vq.h"

namespace {

uint32_t Hash(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return h ^ (h >> 12);
}

uint32_t Rgb(int r, int g, int b) {
    auto clamp = [](int v) { return (uint32_t)(v < 0 ? 0 : v > 255 ? 255 : v); };
    return 0xFF000000u | clamp(r) << 16 | clamp(g) << 8 | clamp(b);
}

// The test pictures, as functions of (x, y) on a side x side picture.
uint32_t Gradient(uint32_t x, uint32_t y, uint32_t s) {
    return Rgb((int)(255 * x / s), (int)(255 * y / s), (int)(255 * (2 * s - 1 - x - y) / (2 * s)));
}
uint32_t Noise(uint32_t x, uint32_t y, uint32_t) {
    const uint32_t h = Hash(x, y);
    return Rgb(h & 255, (h >> 8) & 255, (h >> 16) & 255);
}
uint32_t Photo(uint32_t x, uint32_t y, uint32_t s) {   // smooth shapes, soft light, a little grain
    const double u = 4.0 * x / s, v = 4.0 * y / s;
    const double light = 0.5 + 0.5 * sin(u * 1.3 + 0.4) * cos(v * 0.9 - 0.2);
    const double blob = exp(-((u - 2.6) * (u - 2.6) + (v - 1.4) * (v - 1.4)) * 1.5);
    const int grain = (int)(Hash(x, y) % 7) - 3;
    return Rgb((int)(40 + 150 * light + 60 * blob) + grain, (int)(70 + 110 * light * (1 - blob)) + grain,
               (int)(120 + 100 * cos(u * 0.7 + v * 0.5) * (1 - light)) + grain);
}
uint32_t Tiles(uint32_t x, uint32_t y, uint32_t s) {   // hard edges off the 2 x 2 grid, 64 colours
    const uint32_t tile = s / 21 + 1, tx = (x + 3) / tile, ty = (y + 5) / tile;
    if ((x + y) % (s / 8) < 3) return Rgb(250, 250, 240);
    const uint32_t h = Hash(tx, ty) % 64;
    return Rgb((int)(h & 3) * 80, (int)((h >> 2) & 3) * 80, (int)(h >> 4) * 80);
}

struct Picture {
    const char* name;
    uint32_t side;
    std::vector<uint32_t> pixels;
};

Picture Make(const char* name, uint32_t (*f)(uint32_t, uint32_t, uint32_t), uint32_t side) {
    Picture p = {name, side, std::vector<uint32_t>((size_t)side * side)};
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t x = 0; x < side; x++) p.pixels[(size_t)y * side + x] = f(x, y, side);
    return p;
}

bool LoadSample(Picture* p) {
    MemoryHost host;
    ImportOutcome outcome;
    ConvertReport report;
    bool ok = ImportToHost(OMBR_SAMPLE, nullptr, &host, &outcome, &report) == 0;
    if (ok) {
        const size_t count = (size_t)host.width * host.height;
        *p = {"samples/tiles.pvz", (uint32_t)host.width, std::vector<uint32_t>(host.pixels, host.pixels + count)};
    } else {
        fprintf(stderr, "bench_vq: %s: %s\n", OMBR_SAMPLE, report.message);
    }
    FreeMemoryHost(&host);
    return ok;
}

// The whole .pvr of the picture, or empty.
std::vector<uint8_t> Encode(const Picture& p, unsigned dataType, unsigned colorFormat, int kind) {
    TexelLayout layout;
    if (PlanTexels(dataType, colorFormat, p.side, p.side, &layout) != kTextureOk) return {};
    std::vector<uint8_t> file(kTextureHeaderSize + (size_t)layout.needed);
    WriteTextureHeader(file.data(), 0, (uint8_t)colorFormat, (uint8_t)dataType, (uint16_t)p.side, (uint16_t)p.side,
                       (uint32_t)layout.needed);
    if (EncodeVqTexels(p.pixels.data(), p.pixels.size(), p.side, dataType, colorFormat, kind,
                       file.data() + kTextureHeaderSize, (size_t)layout.needed, kHeapAllocator) != 0)
        return {};
    return file;
}

double Psnr(const Picture& p, const std::vector<uint8_t>& file, const std::string& path) {
    if (file.empty() || WriteFileStdio(nullptr, path.c_str(), file.data(), file.size()) != 0) return -1;
    MemoryHost host;
    ImportOutcome outcome;
    ConvertReport report;
    double psnr = -1;
    if (ImportToHost(path.c_str(), nullptr, &host, &outcome, &report) == 0 && host.width == (int32_t)p.side) {
        double sum = 0;
        for (size_t i = 0; i < p.pixels.size(); i++)
            for (int shift = 0; shift < 24; shift += 8) {
                const double d = (double)((p.pixels[i] >> shift) & 255) - (double)((host.pixels[i] >> shift) & 255);
                sum += d * d;
            }
        const double mse = sum / (3.0 * (double)p.pixels.size());
        psnr = mse == 0 ? 99.0 : 10 * log10(255.0 * 255.0 / mse);
    }
    FreeMemoryHost(&host);
    remove(path.c_str());
    return psnr;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t side = argc > 1 ? (uint32_t)atoi(argv[1]) : 512;
    std::vector<Picture> pictures = {Make("gradients", Gradient, side), Make("noise", Noise, side),
                                     Make("photo-like", Photo, side), Make("hard-edged tiles", Tiles, side)};
    Picture sample;
    if (!LoadSample(&sample)) return 1;
    pictures.push_back(sample);
    const std::string temp = "bench_vq_" + std::to_string((long)getpid()) + ".pvr";

    bool allBeaten = true;
    printf("| Picture | ColorFormat | VQ (3): trained | first blocks | small VQ (16): trained | first blocks |\n");
    printf("|---|---|---|---|---|---|\n");
    for (const Picture& p : pictures) {
        for (unsigned format = 0; format < 3; format++) {
            double v[4];
            for (int i = 0; i < 4; i++)
                v[i] = Psnr(p, Encode(p, i < 2 ? kTypeVq : kTypeSmallVq, format, i % 2 ? kVqFirstBlocks : kVqTrained),
                            temp);
            allBeaten = allBeaten && v[0] > v[1] && v[2] > v[3];
            printf("| %s (%u) | %u %s | %.2f dB | %.2f dB | %.2f dB | %.2f dB |\n", p.name, p.side, format,
                   ColorFormatName(format), v[0], v[1], v[2], v[3]);
        }
    }

    printf("\n| Picture, 1024 x 1024, RGB565, CPU time | DataType 3 | DataType 4 | DataType 16 | DataType 17 |\n");
    printf("|---|---|---|---|---|\n");
    const unsigned types[4] = {kTypeVq, kTypeVqMips, kTypeSmallVq, kTypeSmallVqMips};
    for (uint32_t (*f)(uint32_t, uint32_t, uint32_t) : {Gradient, Noise, Photo, Tiles}) {
        const Picture p = Make(f == Gradient ? "gradients" : f == Noise ? "noise" : f == Photo ? "photo-like"
                                                                                             : "hard-edged tiles",
                               f, 1024);
        printf("| %s |", p.name);
        for (unsigned type : types) {
            double best = 1e9;
            for (int run = 0; run < 2; run++) {
                // Processor time of this process: the machine is shared.
                const clock_t start = clock();
                const bool ok = !Encode(p, type, kColorRgb565, kVqTrained).empty();
                const double took = 1000.0 * (double)(clock() - start) / CLOCKS_PER_SEC;
                if (ok && took < best) best = took;
            }
            printf(" %.0f ms |", best);
        }
        printf("\n");
    }
    if (!allBeaten) fprintf(stderr, "bench_vq: the trained codebook did not beat the baseline everywhere\n");
    return allBeaten ? 0 : 1;
}
