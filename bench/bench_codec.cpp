// The references (memcpy, the host floor) and the texel decoders and encoders
// against the lean in-memory host.
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "bench_host.h"
#include "decode.h"
#include "encode.h"
#include "pictures.h"
#include "texture.h"

static void BM_Memcpy(benchmark::State& state) {
    const size_t bytes = (size_t)state.range(0);
    std::vector<uint8_t> source(bytes, 0x5A), target(bytes, 0);
    for (auto _ : state) {
        memcpy(target.data(), source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}
BENCHMARK(BM_Memcpy)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMicrosecond);

// The least a decoder can cost: one SetImagePixel per texel, row by row,
// through the service table, with the values ready in a row buffer. With
// `unrolled`, four calls per loop pass, as the index and VQ decoders make:
// the loop's own branch then weighs less per call (sides are multiples of 4).
static void HostFloorSet(benchmark::State& state, bool unrolled) {
    const uint32_t side = (uint32_t)state.range(0);
    BenchHost host((size_t)side * side);
    host.Picture((int32_t)side, (int32_t)side);
    std::vector<uint32_t> row(side);
    for (uint32_t x = 0; x < side; x++) row[x] = PictureColour(x, side / 2, side);
    const HostServices* services = &host.services;
    benchmark::DoNotOptimize(services);
    for (auto _ : state) {
        const HostSetImagePixelFn set = services->SetImagePixel;
        for (uint32_t y = 0; y < side; y++) {
            if (unrolled) {
                for (uint32_t x = 0; x < side; x += 4) {
                    set(&host.image, 0, (int32_t)x, (int32_t)y, row[x]);
                    set(&host.image, 0, (int32_t)x + 1, (int32_t)y, row[x + 1]);
                    set(&host.image, 0, (int32_t)x + 2, (int32_t)y, row[x + 2]);
                    set(&host.image, 0, (int32_t)x + 3, (int32_t)y, row[x + 3]);
                }
            } else {
                for (uint32_t x = 0; x < side; x++) set(&host.image, 0, (int32_t)x, (int32_t)y, row[x]);
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * side * side);
}
static void BM_HostFloorSet(benchmark::State& state) { HostFloorSet(state, false); }
static void BM_HostFloorSetUnrolled(benchmark::State& state) { HostFloorSet(state, true); }
BENCHMARK(BM_HostFloorSet)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostFloorSetUnrolled)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The least an encoder can cost: one GetImagePixel per pixel, row by row.
static void HostFloorGet(benchmark::State& state, bool unrolled) {
    const uint32_t side = (uint32_t)state.range(0);
    BenchHost host((size_t)side * side);
    host.Picture((int32_t)side, (int32_t)side);
    for (uint32_t i = 0; i < side * side; i++) host.pixels[i] = PictureColour(i % side, i / side, side);
    const HostServices* services = &host.services;
    benchmark::DoNotOptimize(services);
    for (auto _ : state) {
        const HostGetImagePixelFn get = services->GetImagePixel;
        uint32_t sum = 0;
        for (uint32_t y = 0; y < side; y++) {
            if (unrolled) {
                for (uint32_t x = 0; x < side; x += 4) {
                    sum += get(&host.image, 0, (int32_t)x, (int32_t)y);
                    sum += get(&host.image, 0, (int32_t)x + 1, (int32_t)y);
                    sum += get(&host.image, 0, (int32_t)x + 2, (int32_t)y);
                    sum += get(&host.image, 0, (int32_t)x + 3, (int32_t)y);
                }
            } else {
                for (uint32_t x = 0; x < side; x++) sum += get(&host.image, 0, (int32_t)x, (int32_t)y);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * side * side);
}
static void BM_HostFloorGet(benchmark::State& state) { HostFloorGet(state, false); }
static void BM_HostFloorGetUnrolled(benchmark::State& state) { HostFloorGet(state, true); }
BENCHMARK(BM_HostFloorGet)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostFloorGetUnrolled)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The host pixel the import must produce for texel (x, y) of a layout.
static uint32_t ExpectedPixel(int kind, uint32_t x, uint32_t y, uint32_t side) {
    const LayoutInfo& layout = kLayouts[kind];
    switch (kind) {
    case kLayoutTwiddled8:
    case kLayoutTwiddled4: return LayoutTexel(kind, x, y, side);
    case kLayoutVq:
    case kLayoutSmallVq:
        // Texture row y is image row side - 1 - y; see Decode below.
        return (UnpackColor(layout.colorFormat, (uint16_t)LayoutTexel(kind, x, y, side)) & 0x00FFFFFFu) |
               0xFF000000u;
    default: return UnpackColor(layout.colorFormat, (uint16_t)LayoutTexel(kind, x, y, side));
    }
}

static int Decode(int kind, const std::vector<uint8_t>& file, uint32_t side, BenchHost* host) {
    const uint8_t* data = file.data() + kTextureHeaderSize;
    const size_t length = file.size() - kTextureHeaderSize;
    const unsigned format = kLayouts[kind].colorFormat;
    switch (kind) {
    case kLayoutTwiddled16: return DecodeTwiddled(data, length, side, side, format, &host->services, &host->image);
    case kLayoutTwiddled8: return DecodeTwiddled(data, length, side, side, kModePal8, &host->services, &host->image);
    case kLayoutTwiddled4: return DecodeTwiddled(data, length, side, side, kModePal4, &host->services, &host->image);
    case kLayoutRectangle: return DecodeRectangle(data, length, side, side, format, &host->services, &host->image);
    case kLayoutVq:
        return DecodeVq(data + kVqCodebookBytes, length - kVqCodebookBytes, data, length, side, side, format,
                        &host->services, &host->image);
    case kLayoutSmallVq:
        return DecodeSmallVq(data + kSmallVqCodebookBytes, length - kSmallVqCodebookBytes, data, length, side,
                             side, format, &host->services, &host->image);
    default: return kDecodeNothing;
    }
}

static void BM_Decode(benchmark::State& state, int kind) {
    const uint32_t side = (uint32_t)state.range(0);
    const std::vector<uint8_t>& file = LayoutTexture(kind, side);
    BenchHost host((size_t)side * side);
    host.Picture((int32_t)side, (int32_t)side);
    int result = kDecodeDone;
    for (auto _ : state) result |= Decode(kind, file, side, &host);
    state.SetItemsProcessed((int64_t)state.iterations() * side * side);

    const bool flipped = kind == kLayoutVq || kind == kLayoutSmallVq;
    for (uint32_t y = 0; y < side && result == kDecodeDone; y += 7)
        for (uint32_t x = 0; x < side; x += 3)
            if (host.pixels[(size_t)(flipped ? side - 1 - y : y) * side + x] != ExpectedPixel(kind, x, y, side))
                result = -100;
    if (result != kDecodeDone) state.SkipWithError("the decoded picture is wrong");
}
#define CODEC_SIZES Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond)
BENCHMARK_CAPTURE(BM_Decode, Twiddled16, kLayoutTwiddled16)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Decode, Twiddled8, kLayoutTwiddled8)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Decode, Twiddled4, kLayoutTwiddled4)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Decode, Rectangle, kLayoutRectangle)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Decode, Vq, kLayoutVq)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Decode, SmallVq, kLayoutSmallVq)->CODEC_SIZES;

static int Encode(int kind, std::vector<uint8_t>* texels, BenchHost* host) {
    const unsigned format = kLayouts[kind].colorFormat;
    switch (kind) {
    case kLayoutTwiddled16: return EncodeTwiddled(texels->data(), texels->size(), format, &host->services, &host->image);
    case kLayoutTwiddled8:
        return EncodeTwiddled(texels->data(), texels->size(), kModePal8, &host->services, &host->image);
    case kLayoutTwiddled4:
        return EncodeTwiddled(texels->data(), texels->size(), kModePal4, &host->services, &host->image);
    case kLayoutRectangle: return EncodeRectangle(texels->data(), texels->size(), format, &host->services, &host->image);
    default: return kEncodeRefused;
    }
}

static void BM_Encode(benchmark::State& state, int kind) {
    const uint32_t side = (uint32_t)state.range(0);
    const std::vector<uint8_t>& expected = LayoutTexture(kind, side);
    BenchHost host((size_t)side * side);
    host.Picture((int32_t)side, (int32_t)side);
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t x = 0; x < side; x++) host.pixels[(size_t)y * side + x] = ExpectedPixel(kind, x, y, side);
    std::vector<uint8_t> texels(expected.size() - kTextureHeaderSize, 0);
    int result = kEncodeOk;
    for (auto _ : state) {
        result |= Encode(kind, &texels, &host);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * side * side);
    // The pictures survive the round trip exactly: the encoder must give the
    // maker's texel bytes back.
    if (result != kEncodeOk || memcmp(texels.data(), expected.data() + kTextureHeaderSize, texels.size()) != 0)
        state.SkipWithError("the encoded texels are wrong");
}
BENCHMARK_CAPTURE(BM_Encode, Twiddled16, kLayoutTwiddled16)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Encode, Twiddled8, kLayoutTwiddled8)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Encode, Twiddled4, kLayoutTwiddled4)->CODEC_SIZES;
BENCHMARK_CAPTURE(BM_Encode, Rectangle, kLayoutRectangle)->CODEC_SIZES;
