// The texel decoders, their size rules and the palette conversion, against
// textures laid out by the test maker from a function of (x, y).
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "decode.h"
#include "host_stub.h"
#include "memory_platform.h"
#include "texture_maker.h"
#include "texture.h"

namespace {

uint32_t Hash16(uint32_t x, uint32_t y) { return (x * 0x9E37u + y * 0x79B9u + (x ^ y) * 13u) & 0xFFFF; }

// At most 256 (or 16) distinct 2x2 blocks, so that a VQ codebook holds them.
TexelFunction VqTexels(uint32_t entries) {
    return [entries](uint32_t x, uint32_t y) {
        const uint32_t id = ((x / 2) * 5 + (y / 2) * 11) % entries;
        return ((id * 4 + (x % 2) * 2 + y % 2) * 0x3B5u) & 0xFFFF;
    };
}

// What the host should hold at (x, y) of the picture for texel value v.
uint32_t ExpectedValue(const TextureShape& s, uint32_t v) {
    switch (TexelKindOf(s.dataType, s.colorFormat)) {
    case kTexel4: return v & 15;
    case kTexel8: return v & 255;
    case kTexelVq:
    case kTexelSmallVq: return (MakerColor(s.colorFormat, (uint16_t)v) & 0xFFFFFF) | 0xFF000000;
    default: return MakerColor(s.colorFormat, (uint16_t)v);
    }
}

// Decodes `file` (a .pvr image) into a fresh picture of the header's size.
int Decode(StubHost& host, const std::vector<uint8_t>& file) {
    const TextureInfo info = ReadTextureInfo(file.data());
    host.services.CreateColorImage(&host.image, info.width, info.height, 1, 0);
    return DecodeTexels(file.data() + 16, file.size() - 16, &host.services, &host.image);
}

// Every texel of the picture equals the function's value (VQ: rows reversed).
// From a .pvz: the whole import, a palette file beside the texture.
void ExpectPicture(const TextureShape& s, const TexelFunction& f, bool pvz = false) {
    SCOPED_TRACE(testing::Message() << "DataType " << (int)s.dataType << " ColorFormat " << (int)s.colorFormat
                                    << " " << s.width << "x" << s.height << (pvz ? " .pvz" : ""));
    std::vector<uint8_t> file = MakePvr(s, f);
    ASSERT_FALSE(file.empty());
    StubHost host;
    if (pvz) {
        MemoryPlatform fake;
        fake.Put("t.pvz", PvrToPvz(file));
        fake.Put("t.pvp", MakePaletteFile(256, [](uint32_t i) { return (uint16_t)(0x8000 | i * 0x0421); }));
        ImportOutcome outcome;
        EXPECT_EQ(fake.Import("t.pvz", &host, &outcome), 0);
        EXPECT_EQ(fake.LiveBlocks(), 0u);
        ASSERT_EQ(outcome.decoded, kDecodeDone);
    } else {
        ASSERT_EQ(Decode(host, file), kDecodeDone);
    }
    ASSERT_TRUE(host.created && host.width == s.width && host.height == s.height);
    EXPECT_EQ(host.setPixelCalls, (long)s.width * s.height);
    EXPECT_EQ(host.pixelsOutside, 0);
    const TexelKind kind = TexelKindOf(s.dataType, s.colorFormat);
    const bool reversed = kind == kTexelVq || kind == kTexelSmallVq;
    int wrong = 0;
    for (uint32_t y = 0; y < s.height; y++)
        for (uint32_t x = 0; x < s.width; x++) {
            const uint32_t got = host.Pixel(x, reversed ? s.height - 1 - y : y);
            if (got != ExpectedValue(s, f(x, y)) && ++wrong <= 3)
                ADD_FAILURE() << "texel (" << x << ", " << y << "): " << std::hex << got;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(DecodeTwiddled, ColourTexelsInSquaresAndStrips) {
    const uint16_t sizes[][2] = {{1, 1}, {1, 4}, {8, 1}, {2, 2}, {8, 8}, {256, 128}, {128, 256}, {16, 64}, {2048, 2}};
    for (uint8_t type : {1, 13, 2, 6, 8})
        for (uint8_t cf : {0, 1, 2})
            for (auto& wh : sizes) ExpectPicture({type, cf, wh[0], wh[1], 0}, Hash16);
}

// Each 16-bit value once (texel (x, y) = 256y + x), in each ColorFormat.
TEST(DecodeTwiddled, EveryTexelValueOfEachColorFormat) {
    for (uint8_t type : {1, 9})
        for (uint8_t cf : {0, 1, 2})
            ExpectPicture({type, cf, 256, 256, 0}, [](uint32_t x, uint32_t y) { return y * 256 + x; });
}

// Every layout read from its container: the run units of each DataType.
TEST(DecodePvz, EveryLayoutThroughTheImport) {
    const uint8_t cases[][4] = {
        {1, 0, 16, 16}, {1, 1, 32, 8},  {1, 2, 8, 32},  {13, 2, 16, 16}, {2, 0, 16, 16}, {2, 1, 16, 8},
        {6, 2, 16, 16}, {8, 1, 16, 16}, {6, 5, 16, 16}, {8, 6, 16, 8},   {1, 5, 16, 8},  {1, 6, 8, 16},
        {5, 0, 16, 16}, {5, 2, 32, 8},  {7, 0, 16, 16}, {7, 1, 8, 32},   {9, 0, 16, 8},  {9, 2, 8, 16},
        {9, 1, 3, 5},   {6, 1, 4, 4},   {3, 1, 16, 16}, {4, 0, 32, 32},  {16, 2, 16, 16}, {17, 1, 32, 32},
    };
    for (auto& c : cases) {
        const TexelKind kind = TexelKindOf(c[0], c[1]);
        const TexelFunction f = kind == kTexelVq ? VqTexels(256) : kind == kTexelSmallVq ? VqTexels(16) : Hash16;
        ExpectPicture({c[0], c[1], c[2], c[3], 0}, f, true);
    }
}

TEST(DecodeTwiddled, IndexTexelsInSquaresAndStrips) {
    const uint16_t sizes[][2] = {{2, 2}, {4, 2}, {2, 4}, {16, 8}, {128, 256}, {256, 128}, {64, 2}};
    const uint8_t pairs[][2] = {{5, 2}, {7, 0}, {1, 5}, {1, 6}, {13, 5}, {2, 6}, {6, 5}, {6, 6}, {8, 6}, {8, 5}};
    for (auto& p : pairs)
        for (auto& wh : sizes) ExpectPicture({p[0], p[1], wh[0], wh[1], 0}, Hash16);
    for (auto& p : {pairs[1], pairs[3], pairs[8]}) ExpectPicture({p[0], p[1], 1, 8, 0}, Hash16);   // 8-bit, width 1
}

TEST(DecodeTwiddled, SecondSquareOfAStrip) {
    // 256 x 128 16-bit: texel (200, 7) is unit TwiddleIndex(72, 7) + 16384.
    std::vector<uint8_t> file = MakeBlankTexture({1, 0, 256, 128, 0}, 2 * 256 * 128, 2 * 256 * 128);
    WriteU16(&file[32 + 2 * (MakerTwiddle(72, 7, 128) + 16384)], 0xFFFF);
    StubHost host;
    ASSERT_EQ(Decode(host, file), kDecodeDone);
    EXPECT_TRUE(host.Pixel(200, 7) == 0xFFF8F8F8u && host.Pixel(72, 7) == 0);
    // 4-bit: the second square's units start at byte 8192.
    std::vector<uint8_t> pal4 = MakeBlankTexture({5, 0, 256, 128, 0}, 256 * 128 / 2, 256 * 128 / 2);
    WriteU16(&pal4[32 + 8192], 0x4321);
    StubHost host4;
    ASSERT_EQ(Decode(host4, pal4), kDecodeDone);
    EXPECT_TRUE(host4.Pixel(128, 0) == 1 && host4.Pixel(128, 1) == 2 && host4.Pixel(129, 0) == 3 &&
                host4.Pixel(129, 1) == 4);
}

// 8-bit and 4-bit texels step every second row, 16-bit ones every row.
TEST(DecodeTwiddled, CallOrderAndProgress) {
    const std::vector<std::pair<int, int>> first4 = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}};
    const struct {
        TextureShape shape;
        std::vector<int> steps;
    } cases[] = {{{7, 0, 8, 4, 0}, {0, 2}}, {{5, 0, 8, 4, 0}, {0, 2}}, {{1, 2, 4, 4, 0}, {0, 1, 2, 3}},
                 {{9, 1, 2, 4, 0}, {0, 1, 2, 3}}};
    for (const auto& c : cases) {
        StubHost host;
        ASSERT_EQ(Decode(host, MakePvr(c.shape, Hash16)), kDecodeDone);
        EXPECT_EQ(host.Steps(), c.steps) << (int)c.shape.dataType;
        std::vector<std::pair<int, int>> order = host.SetOrder();
        order.resize(8);
        if (c.shape.dataType == 5) { EXPECT_EQ(order, first4); }
        if (c.shape.dataType == 7) {
            EXPECT_TRUE(order[1] == std::make_pair(0, 1) && order[2] == std::make_pair(1, 0));
        }
    }
}

TEST(DecodeRectangle, RowByRow) {
    for (uint8_t cf : {0, 1, 2})
        for (uint16_t w : {1, 4, 64, 640, 3}) ExpectPicture({9, cf, w, (uint16_t)(w == 640 ? 480 : 8), 0}, Hash16);
}

// Where the full-size level starts and how many bytes the layout reads: mip
// chains of (side * side + 2) / 3 texels in front (5462 for 128, 21846 for
// 256), VQ codebooks of 2048 and 128 bytes. The widest strips and rectangles
// pass the range of a signed 32-bit count.
TEST(MipChains, FullSizeLevelOffsets) {
    const struct {
        uint8_t type, cf;
        uint32_t w, h;
        uint64_t offset, needed;
    } cases[] = {{2, 0, 256, 256, 2 * 21846, 2 * 21846 + 2 * 65536},
                 {8, 6, 256, 256, 21846, 21846 + 65536},
                 {6, 1, 4, 4, 6 / 2, 6 / 2 + 2 * 16},   // odd: 16-bit texels read byte-wise
                 {4, 0, 256, 256, 2048 + 5462, 2048 + 5462 + 128 * 128},
                 {17, 0, 256, 256, 128 + 5462 / 2, 128 + 5462 / 2 + 128 * 128 / 2},
                 {2, 0, 32768, 1024, 2 * 357913942ull, 2 * 357913942ull + 2ull * 32768 * 1024},
                 {9, 0, 8192, 8192, 0, 0x8000000}};   // the largest picture
    for (const auto& c : cases) {
        TexelLayout l;
        ASSERT_EQ(PlanTexels(c.type, c.cf, c.w, c.h, &l), kTextureOk) << (int)c.type;
        EXPECT_TRUE(l.offset == c.offset && l.needed == c.needed) << (int)c.type << ": " << l.offset << " " << l.needed;
    }
    TexelLayout l;
    EXPECT_EQ(PlanTexels(9, 0, 8192, 8193, &l), kTextureBadSize);
}

TEST(DecodeVq, BlockPlacementAndRowOrder) {
    // 4 x 4: index bytes 0-3 paint blocks (0,0), (0,1), (1,0), (1,1).
    std::vector<uint8_t> file = MakeBlankTexture({3, 1, 4, 4, 0}, 2048 + 4, 2048 + 4);
    const uint16_t texels[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (int k = 0; k < 4; k++) WriteU16(&file[32 + 8 * 9 + 2 * k], texels[k]);   // entry 9
    file[32 + 2048 + 0] = 9;
    StubHost host;
    EXPECT_EQ(Decode(host, file), kDecodeDone);
    // Texels 0 to 3 of the entry, the rows reversed.
    const uint32_t at[][3] = {{0, 3, 0xFFF80000}, {0, 2, 0xFF00FC00}, {1, 3, 0xFF0000F8}, {1, 2, 0xFFF8FCF8}};
    for (auto& p : at) EXPECT_EQ(host.Pixel(p[0], p[1]), p[2]) << p[0] << ", " << p[1];
    EXPECT_EQ(host.Steps(), (std::vector<int>{0, 2}));
    // ARGB1555 0x7FFF: the clear alpha bit is ignored.
    StubHost argb;
    Decode(argb, MakePvr({3, 0, 2, 2, 0}, [](uint32_t, uint32_t) { return 0x7FFFu; }));
    EXPECT_EQ(argb.Pixel(0, 0), 0xFFF8F8F8u);

    for (uint8_t type : {3, 4})
        for (uint8_t cf : {0, 1, 2})
            for (uint16_t side : {2, 8, 64, 256}) ExpectPicture({type, cf, side, side, 0}, VqTexels(256));
}

TEST(DecodeSmallVq, NibblePlacementAndRowOrder) {
    // 8 x 8: byte 0 holds blocks (0,0) low and (0,1) high, byte 2 blocks (0,2) and (0,3).
    std::vector<uint8_t> file = MakeBlankTexture({16, 1, 8, 8, 0}, 128 + 8, 128 + 8);
    WriteU16(&file[32 + 8 * 3], 0xF800);   // entry 3, texel 0
    WriteU16(&file[32 + 8 * 5], 0x001F);   // entry 5, texel 0
    file[32 + 128 + 0] = 0x53;
    file[32 + 128 + 2] = 0x30;
    StubHost host;
    EXPECT_EQ(Decode(host, file), kDecodeDone);
    // Blocks (0, 0) to (0, 3): entries 3, 5, 0 and 3, the rows reversed.
    const uint32_t at[][3] = {{0, 7, 0xFFF80000}, {0, 5, 0xFF0000F8}, {0, 3, 0xFF000000}, {0, 1, 0xFFF80000}};
    for (auto& p : at) EXPECT_EQ(host.Pixel(p[0], p[1]), p[2]) << p[0] << ", " << p[1];
    EXPECT_EQ(host.progressSteps, 0u);

    for (uint8_t type : {16, 17})
        for (uint8_t cf : {0, 1, 2})
            for (uint16_t side : {4, 8, 64, 512}) ExpectPicture({type, cf, side, side, 0}, VqTexels(16));
}

TEST(DecodeTexels, NothingToDecode) {
    // DataTypes without decoder and ColorFormats without conversion: no host call.
    const uint8_t cases[][2] = {{0, 0}, {10, 0}, {11, 1}, {12, 2}, {14, 0}, {15, 0}, {18, 0}, {255, 0},
                                {1, 3}, {1, 4}, {13, 7}, {2, 255}, {9, 5}, {9, 3}, {3, 3}, {4, 6}, {16, 5}, {17, 200}};
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (int)c[0] << "/" << (int)c[1]);
        std::vector<uint8_t> file = MakeBlankTexture({c[0], c[1], 8, 8, 0}, 0, 8192, 0x5A);
        StubHost host;
        EXPECT_EQ(Decode(host, file), kDecodeNothing);
        EXPECT_EQ(host.setPixelCalls, 0);
        EXPECT_EQ(host.progressSteps, 0u);
    }
}

TEST(DecodeTexels, RefusesOutsideTheLayouts) {
    struct Case { uint8_t type, cf; uint16_t w, h; int code; };
    const Case cases[] = {
        {1, 0, 0, 8, kTextureBadSize},       {1, 0, 8, 12, kTextureBadSize},
        {0, 0, 3, 4, kTextureOk},            {9, 0, 8, 0, kTextureBadSize},
        {9, 0, 640, 480, kTextureOk},        {14, 0, 65535, 65535, kTextureBadSize},
        {1, 0, 2048, 2048, kTextureTwiddledTooLarge}, {7, 0, 4096, 2048, kTextureTwiddledTooLarge},
        {1, 0, 32768, 1024, kTextureOk},     {5, 0, 1, 8, kTextureTooSmall},
        {7, 0, 8, 1, kTextureTooSmall},      {1, 5, 2, 1, kTextureTooSmall},
        {8, 6, 2, 1, kTextureTooSmall},      {1, 0, 1, 2, kTextureOk},
        {7, 0, 1, 8, kTextureOk},
        {3, 0, 8, 4, kTextureVqShape},       {4, 0, 4096, 4096, kTextureVqShape},
        {3, 0, 2048, 2048, kTextureOk},      {3, 0, 1, 1, kTextureTooSmall},
        {16, 0, 2, 2, kTextureTooSmall},     {17, 0, 4, 4, kTextureOk},
        {9, 0, 32768, 1, kTextureOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (int)c.type << "/" << (int)c.cf << " " << c.w << "x" << c.h);
        TexelLayout layout;
        EXPECT_EQ(PlanTexels(c.type, c.cf, c.w, c.h, &layout), c.code);
        if (c.code == kTextureOk) continue;
        std::vector<uint8_t> file = MakeBlankTexture({c.type, c.cf, c.w, c.h, 0}, 0, 65536);
        StubHost host;
        EXPECT_EQ(DecodeTexels(file.data() + 16, file.size() - 16, &host.services, &host.image), c.code);
        EXPECT_EQ(host.setPixelCalls, 0);
    }
}

TEST(DecodeTexels, RefusesShortData) {
    // One byte less than the layout addresses, for every decoder.
    const TextureShape shapes[] = {{1, 0, 16, 8, 0}, {2, 1, 8, 8, 0}, {5, 0, 8, 8, 0}, {6, 6, 8, 8, 0},
                                 {7, 0, 8, 16, 0}, {9, 2, 8, 4, 0}, {3, 0, 8, 8, 0}, {4, 0, 8, 8, 0},
                                 {16, 0, 8, 8, 0}, {17, 0, 8, 8, 0}};
    // The bytes each layout addresses: mip chains of 22 and 6 elements in
    // front of the 8 x 8 levels, codebooks of 2048 and 128 bytes.
    const uint64_t needed[] = {256, 2 * 22 + 128, 32, 22 / 2 + 64, 128, 64, 2048 + 16, 2048 + 6 + 16,
                               128 + 8, 128 + 6 / 2 + 8};
    for (size_t i = 0; i < sizeof shapes / sizeof shapes[0]; i++) {
        const TextureShape& s = shapes[i];
        SCOPED_TRACE(testing::Message() << (int)s.dataType);
        std::vector<uint8_t> file = MakePvr(s, s.dataType == 16 || s.dataType == 17 ? VqTexels(16) : VqTexels(256));
        TexelLayout layout;
        ASSERT_EQ(PlanTexels(s.dataType, s.colorFormat, s.width, s.height, &layout), kTextureOk);
        ASSERT_EQ(layout.needed, needed[i]);
        ASSERT_EQ(file.size(), 32 + needed[i]);
        file.pop_back();
        StubHost host;
        EXPECT_EQ(DecodeTexels(file.data() + 16, file.size() - 16, &host.services, &host.image), kTextureShortData);
        EXPECT_EQ(host.setPixelCalls, 0);
    }
    // Each decoder checks the length it is handed by itself.
    StubHost host;
    std::vector<uint8_t> data(4096, 0x33);
    EXPECT_EQ(DecodeTwiddled(data.data(), 2 * 8 * 4 - 1, 8, 4, 0, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeTwiddled(data.data(), 8 * 4 - 1, 8, 4, 6, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeTwiddled(data.data(), 8 * 4 / 2 - 1, 8, 4, 5, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeRectangle(data.data(), 2 * 8 * 4 - 1, 8, 4, 0, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeVq(data.data(), 15, data.data(), 2048, 8, 8, 0, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeSmallVq(data.data(), 7, data.data(), 128, 8, 8, 0, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(host.setPixelCalls, 0);
    EXPECT_EQ(DecodeVq(data.data(), 1, data.data(), 2047, 2, 2, 0, &host.services, &host.image), kTextureShortData);
    EXPECT_EQ(DecodeSmallVq(data.data(), 2, data.data(), 127, 4, 4, 0, &host.services, &host.image),
              kTextureShortData);
    // Texel data ending before the full-size level or the index map begins.
    for (uint8_t type : {2, 4, 17}) {
        std::vector<uint8_t> file = MakeBlankTexture({type, 0, 8, 8, 0}, 0, 10);
        EXPECT_EQ(DecodeTexels(file.data() + 16, file.size() - 16, &host.services, &host.image), kTextureShortData);
    }
    EXPECT_EQ(host.setPixelCalls, 0);
}

// The entries a file of each length gives are the import's test
// (ImportHostile.PaletteFilesOfEveryLength); here what the conversion leaves
// alone: the transparent index, and everything for an entry format without
// a conversion.
TEST(ApplyPalette, CountsAndFormats) {
    const std::vector<uint8_t> file = MakePaletteFile(300, [](uint32_t i) { return (uint16_t)(0x8000 | i * 0x41); });
    for (unsigned cf : {0u, 3u, 4u, 5u, 6u, 7u, 255u}) {
        StubHost host;
        host.image.nPaletteCount = 99;
        host.image.nTransparentIndex = 0x1234;
        host.image.aPalette[0] = 0xCAFE;
        ApplyPalette(&host.image, file.data(), file.size(), cf);
        EXPECT_EQ(host.image.nPaletteCount, cf == 0 ? 256 : 99) << cf;
        EXPECT_EQ(host.image.aPalette[0], cf == 0 ? 0xFF000000u : 0xCAFEu) << cf;
        EXPECT_EQ(host.image.nTransparentIndex, 0x1234);
    }
}

}  // namespace
