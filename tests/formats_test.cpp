// The shared texture arithmetic, containers and texts.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "layout.h"
#include "palette.h"
#include "pvz.h"
#include "texts.h"
#include "texture.h"

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

TEST(Twiddle, TableAndIndex) {
    uint32_t t[kTwiddleTableSize];
    BuildTwiddleTable(t);
    // t[1023]: 4^0 + 4^1 + ... + 4^9.
    const uint32_t table[][2] = {{1, 1}, {2, 4}, {3, 5}, {5, 17}, {31, 0x155}, {1023, 0x55555}};
    for (auto& c : table) EXPECT_EQ(t[c[0]], c[1]) << c[0];
    // Within a square, y's bit is the lowest. A 256 x 128 texture is two
    // 128 x 128 squares side by side; 128 x 256 one above the other.
    const uint32_t places[][3] = {{0, 1, 1},   {1, 0, 2},           {2, 0, 8},    {130, 5, 16384 + 25},
                                  {200, 7, 16384 + 8341}, {0, 128, 16384}, {255, 127, 32767}};
    for (auto& c : places) EXPECT_EQ(TwiddleIndex(t, c[0], c[1], 128), c[2]) << c[0] << "," << c[1];
    EXPECT_EQ(TwiddleIndex(130, 5, 128), 128u * 128 + 25);
}

TEST(Twiddle, EveryIndexOnceInAStrip) {
    uint32_t t[kTwiddleTableSize];
    BuildTwiddleTable(t);
    const uint32_t w = 64, h = 16;
    std::vector<int> seen(w * h, 0);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t i = TwiddleIndex(t, x, y, 16);
            ASSERT_LT(i, w * h);
            seen[i]++;
        }
    for (int count : seen) EXPECT_EQ(count, 1);
}

// Sums of 4^k below the level: (side * side + 2) / 3; the largest need 64
// bits once doubled for 16-bit texels.
TEST(MipChain, Offsets) {
    const uint64_t offsets[][2] = {{0, 1},   {1, 1},    {2, 2},     {4, 6},         {8, 22},   {16, 86},
                                   {32, 342}, {64, 1366}, {128, 5462}, {256, 21846}, {1024, 349526},
                                   {32768, 357913942}};
    for (auto& c : offsets) EXPECT_EQ(MipChainOffset((uint32_t)c[0]), c[1]) << c[0];
}

// Each field at the top of its byte, the low bits zero; 1-bit alpha to 255,
// 4-bit alpha times 17; RGB565 opaque.
TEST(Colour, Unpack) {
    const uint32_t unpacked[][3] = {
        {kColorArgb1555, 0xFFFF, Argb(255, 248, 248, 248)}, {kColorArgb1555, 0x7FFF, Argb(0, 248, 248, 248)},
        {kColorArgb1555, 0x8000, Argb(255, 0, 0, 0)},       {kColorRgb565, 0xF800, Argb(255, 248, 0, 0)},
        {kColorRgb565, 0xFFFF, Argb(255, 248, 252, 248)},   {kColorArgb4444, 0x0FFF, Argb(0, 240, 240, 240)},
        {kColorArgb4444, 0xF000, Argb(255, 0, 0, 0)},       {kColorArgb4444, 0x8000, Argb(136, 0, 0, 0)},
        {kColorRgb565, 0x001F, Argb(255, 0, 0, 248)},       {kColorRgb565, 0x07E0, Argb(255, 0, 252, 0)}};
    for (auto& c : unpacked) EXPECT_EQ(UnpackColor(c[0], (uint16_t)c[1]), c[2]) << c[0] << " " << c[1];
    EXPECT_FALSE(HasChannelRow(kColorYuv422));
    EXPECT_EQ(GetChannelRow(kColorPal8), nullptr);
}

TEST(Colour, Pack) {
    const uint32_t packed[][3] = {
        {kColorArgb1555, Argb(128, 127, 127, 127), 0xBDEF}, {kColorArgb4444, Argb(128, 128, 128, 128), 0x8888},
        {kColorRgb565, Argb(0, 255, 0, 0), 0xF800},         {kColorRgb565, Argb(255, 255, 0, 0), 0xF800},
        {kColorArgb1555, Argb(0x80, 0xFF, 0x80, 0), 0xFE00}, {kColorArgb1555, Argb(0x7F, 0xFF, 0x80, 0), 0x7E00},
        {kColorRgb565, Argb(0, 0x12, 0x34, 0x56), 0x11AA},  {kColorArgb4444, Argb(0x7F, 0x10, 0x20, 0x30), 0x7123},
        {kColorArgb1555, 0xFFFFFFFF, 0xFFFF},               {kColorArgb4444, 0xFFFFFFFF, 0xFFFF}};
    for (auto& c : packed) EXPECT_EQ(PackColor(kChannelTable[c[0]].encode, c[1]), c[2]) << c[0] << " " << c[1];
    // White with full alpha loses its low bits on the way through.
    EXPECT_EQ(UnpackColor(kColorArgb1555, PackColor(kChannelTable[kColorArgb1555].encode, ~0u)), 0xFFF8F8F8u);
    EXPECT_EQ(UnpackColor(kColorArgb4444, PackColor(kChannelTable[kColorArgb4444].encode, ~0u)), 0xFFF0F0F0u);
}

TEST(Colour, EveryValueOnTheGridSurvivesARoundTrip) {
    for (unsigned format : {kColorArgb1555, kColorRgb565, kColorArgb4444})
        for (uint32_t v = 0; v < 0x10000; v++)
            ASSERT_EQ(PackColor(kChannelTable[format].encode, UnpackColor(format, (uint16_t)v)), v) << format;
}

TEST(Header, WriteAndRead) {
    uint8_t h[kTextureHeaderSize];
    memset(h, 0xCC, sizeof h);
    WriteTextureHeader(h, 65535, kColorArgb4444, kTypeTwiddled, 128, 256, 2 * 128 * 256);
    EXPECT_TRUE(HasTextureMagics(h));
    EXPECT_EQ(memcmp(h + 8, "\xFF\xFF\0\0", 4), 0);
    EXPECT_TRUE(ReadU32(h + 4) == 8 && ReadU32(h + 20) == 8 + 2 * 128 * 256 && ReadU32(h + 12) == 0);
    EXPECT_EQ(ReadU16(h + 26), 0u);
    const TextureInfo info = ReadTextureInfo(h);
    EXPECT_TRUE(info.globalIndex == 65535 && info.colorFormat == kColorArgb4444 && info.dataType == kTypeTwiddled);
    EXPECT_TRUE(info.width == 128 && info.height == 256);
    h[19] = 't';
    EXPECT_FALSE(HasTextureMagics(h));
}

TEST(Names, Codes) {
    EXPECT_STREQ(ColorFormatName(0), "ARGB1555");
    EXPECT_STREQ(ColorFormatName(6), "PAL8");
    EXPECT_EQ(ColorFormatName(7), nullptr);
    EXPECT_NE(DataTypeName(17), nullptr);
    EXPECT_EQ(DataTypeName(10), nullptr);
    EXPECT_EQ(DataTypeName(18), nullptr);
}

// Who writes what, at which sizes, and the palette rules of the layout table.
TEST(Layout, WritersSizesAndPalettes) {
    const unsigned plugin = kWrittenByPlugin, converter = kWrittenByConverter;
    // DataType, ColorFormat, written by the plug-in, by the converter.
    const unsigned pairs[][4] = {{1, 5, 1, 1},  {13, 2, 1, 1}, {9, 1, 1, 1}, {7, 0, 1, 1}, {2, 0, 0, 1}, {3, 1, 0, 1},
                                 {4, 2, 0, 1},  {16, 0, 0, 1}, {17, 1, 0, 1}, {6, 0, 0, 0}, {8, 1, 0, 0}, {2, 5, 0, 0},
                                 {9, 6, 0, 0},  {1, 3, 0, 0},  {10, 0, 0, 0}};
    for (auto& p : pairs) {
        EXPECT_EQ(IsWritablePair(p[0], p[1], plugin), p[2] == 1) << p[0] << "/" << p[1];
        EXPECT_EQ(IsWritablePair(p[0], p[1], converter), p[3] == 1) << p[0] << "/" << p[1];
    }
    for (unsigned code = 0; code < 256; code++) {
        const bool written = code == 1 || code == 2 || code == 3 || code == 4 || code == 5 || code == 7 || code == 9 ||
                             code == 13 || code == 16 || code == 17;
        EXPECT_EQ(IsWrittenDataType(code), written) << code;
        EXPECT_EQ(IsWrittenColorFormat(code), code <= 2 || code == 5 || code == 6) << code;
        EXPECT_EQ(AlphaBits(code), code == 0 ? 1u : code == 2 ? 4u : 0u) << code;
        EXPECT_EQ(PaletteIndexLimit(code), code == 5 ? 16u : code == 7 ? 256u : 0u) << code;
        EXPECT_EQ(HasPaletteFile(code), code == 5 || code == 7);
    }
    // Only a plain texture of DataType 7 that says RGB565 has ARGB1555 entries.
    EXPECT_EQ(PaletteFormat(kContainerPvr, 7, 1), 0u);
    EXPECT_EQ(PaletteFormat(kContainerPvz, 7, 1), 1u);
    EXPECT_EQ(PaletteFormat(kContainerPvr, 5, 1), 1u);

    struct Size {
        unsigned dataType, colorFormat, writer;
        uint32_t width, height;
        int result;
        uint64_t needed;
    } sizes[] = {{9, 0, plugin, 640, 480, kTextureOk, 2 * 640 * 480},   // rectangles of any size
                 {1, 0, plugin, 2048, 1024, kTextureOk, 2 * 2048 * 1024},
                 {1, 0, plugin, 1024, 2048 * 2, kTextureOk, 2 * 1024 * 4096},
                 {1, 0, plugin, 2048, 2048, kTextureTwiddledTooLarge, 0},
                 {1, 0, plugin, 96, 128, kTextureBadSize, 0},
                 {5, 0, plugin, 1, 8, kTextureTooSmall, 0},   // 4-bit indices: both sides of 2 or more
                 {7, 0, plugin, 8, 1, kTextureTooSmall, 0},   // 8-bit indices: a height of 2 or more
                 {7, 0, plugin, 1, 8, kTextureOk, 8},
                 {2, 0, plugin, 16, 16, kTextureNotWritten, 0},
                 {2, 0, converter, 16, 8, kTextureNotSquare, 0},
                 {2, 0, converter, 1, 1, kTextureOk, 4}   ,
                 {3, 0, converter, 4096, 4096, kTextureVqShape, 0},
                 {16, 0, converter, 2, 2, kTextureTooSmall, 0},
                 {9, 0, plugin, 8193, 8192, kTextureBadSize, 0}};
    for (const Size& c : sizes) {
        uint64_t needed = 99;
        EXPECT_EQ(CheckWritable(c.dataType, c.colorFormat, c.width, c.height, c.writer, &needed), c.result)
            << c.dataType << " " << c.width << "x" << c.height;
        EXPECT_EQ(needed, c.needed) << c.dataType << " " << c.width << "x" << c.height;
    }
    TexelLayout layout;
    ASSERT_EQ(PlanTexels(17, 1, 8, 8, &layout), kTextureOk);
    EXPECT_TRUE(layout.dataType == 17 && layout.decoder == kDecoderSmallVq);
}

std::vector<uint8_t> Texture(uint8_t dataType, const std::vector<uint8_t>& texels) {
    std::vector<uint8_t> t(kTextureHeaderSize);
    WriteTextureHeader(t.data(), 7, 0, dataType, 128, 128, (uint32_t)texels.size());
    t.insert(t.end(), texels.begin(), texels.end());
    return t;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& texture) {
    uint8_t* out = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(PvzCompress(texture.data(), (uint32_t)texture.size(), &kHeapAllocator, &out, &length), 0);
    std::vector<uint8_t> c(out, out + length);
    free(out);
    return c;
}

std::vector<uint8_t> Stream(const std::vector<uint8_t>& container) {
    return std::vector<uint8_t>(container.begin() + kPvzStream, container.end());
}

// `count` 2-byte units a b.
std::vector<uint8_t> Units(int count, uint8_t a, uint8_t b) {
    std::vector<uint8_t> units;
    for (int i = 0; i < count; i++) units.insert(units.end(), {a, b});
    return units;
}

// A record is a unit and how many more of it follow (at most 254 more); with
// no two neighbours equal, one record per unit. DataType 6 and 8 use 1-byte
// units, 1, 9 and 13 two.
TEST(Pvz, RunRecords) {
    const struct {
        uint8_t type;
        std::vector<uint8_t> texels, stream;
    } cases[] = {{kTypeTwiddled, {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xCD, 0xAB}, {0x34, 0x12, 2, 0xCD, 0xAB, 0}},
                 {kTypePal8, std::vector<uint8_t>(300, 0xAB), {0xAB, 0xFE, 0xAB, 0x2C}},
                 {kTypeTwiddled, Units(255, 1, 2), {1, 2, 254}},
                 {kTypeTwiddled, Units(256, 1, 2), {1, 2, 254, 1, 2, 0}},
                 {kTypeRectangle, Units(600, 9, 9), {9, 9, 254, 9, 9, 254, 9, 9, 89}},
                 {kTypeTwiddledMipsByte, {1, 2, 3}, {1, 0, 2, 0, 3, 0}},
                 {kTypeTwiddledD, {5, 5, 5, 5}, {5, 5, 1}}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> container = Compress(Texture(c.type, c.texels));
        EXPECT_EQ(Stream(container), c.stream) << (int)c.type << " " << c.texels.size();
        EXPECT_EQ(ReadU32(container.data()), 32 + c.texels.size());
    }
}

TEST(Pvz, EmptyTextureAndUnitSizes) {
    auto c = Compress(Texture(kTypeTwiddled, {}));
    ASSERT_EQ(c.size(), 36u);
    EXPECT_EQ(ReadU32(c.data()), 32u);
    for (unsigned type = 0; type < 256; type++) EXPECT_EQ(PvzUnitSize(type), type >= 5 && type <= 8 ? 1u : 2u);
}

TEST(Pvz, ExpandMirrorsTheContainer) {
    std::vector<uint8_t> texels;
    for (int i = 0; i < 1000; i++) texels.push_back((uint8_t)(i / 7));
    for (uint8_t type : {kTypeTwiddled, kTypePal4, kTypePal8, kTypeRectangle}) {
        auto texture = Texture(type, texels);
        auto c = Compress(texture);
        std::vector<uint8_t> out(4 + texture.size() + 100, 0);
        size_t written = 99;
        EXPECT_EQ(PvzExpand(c.data(), c.size(), out.data(), 4 + texture.size(), &written), kPvzOk);
        EXPECT_EQ(written, texels.size());
        EXPECT_EQ(ReadU32(out.data()), 0u);
        EXPECT_TRUE(std::equal(texture.begin(), texture.end(), out.begin() + 4));
        EXPECT_EQ(out[4 + texture.size()], 0);
    }
}

TEST(Pvz, ExpandEdgeCases) {
    std::vector<uint8_t> c(kPvzStream, 0);
    WriteTextureHeader(c.data() + 4, 0, 0, kTypeTwiddled, 128, 128, 0);
    std::vector<uint8_t> out(64, 0xEE);
    size_t written = 7;
    // Header only.
    EXPECT_EQ(PvzExpand(c.data(), c.size(), out.data(), out.size(), &written), kPvzOk);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(out[4], 'G');
    EXPECT_EQ(out[36], 0xEE);
    // Count 255 writes 256 units; 1 or 2 leftover bytes are ignored.
    c.insert(c.end(), {0x11, 0x22, 0xFF, 0x33, 0x44});
    out.assign(4 + 32 + 512, 0);
    EXPECT_EQ(PvzExpand(c.data(), c.size(), out.data(), out.size(), &written), kPvzOk);
    EXPECT_EQ(written, 512u);
    EXPECT_EQ(out[36 + 510], 0x11);
    EXPECT_EQ(out[36 + 511], 0x22);
    // One byte less room: cut off exactly at the capacity.
    std::vector<uint8_t> small(4 + 32 + 511 + 16, 0xEE);
    EXPECT_EQ(PvzExpand(c.data(), c.size(), small.data(), 4 + 32 + 511, &written), kPvzOverflow);
    EXPECT_EQ(written, 510u);
    EXPECT_EQ(small[4 + 32 + 510], 0xEE);
    // Too short for a header.
    EXPECT_EQ(PvzExpand(c.data(), 35, out.data(), out.size(), &written), kPvzTooShort);
}

TEST(Pvz, CompressFailsWithoutMemory) {
    Allocator none = {[](void*, size_t) -> void* { return nullptr; }, [](void*, void*) {}, nullptr};
    auto texture = Texture(kTypeTwiddled, {1, 2});
    uint8_t* out = (uint8_t*)1;
    uint32_t length = 5;
    EXPECT_EQ(PvzCompress(texture.data(), (uint32_t)texture.size(), &none, &out, &length), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(Palette, FileLayout) {
    uint16_t entries[256];
    for (int i = 0; i < 256; i++) entries[i] = (uint16_t)(0x1000 + i);
    uint8_t file[kPaletteMaxFileSize];
    ASSERT_EQ(BuildPaletteFile(file, entries, 16), 48u);
    EXPECT_EQ(memcmp(file, "PVPL\x28\0\0\0\0\0\0\0\0\0\x10\0", 16), 0);
    EXPECT_EQ(ReadU16(file + 16 + 2 * 15), 0x100F);
    ASSERT_EQ(BuildPaletteFile(file, entries, 256), 528u);
    EXPECT_TRUE(ReadU32(file + 4) == 520 && ReadU16(file + 14) == 256);
    const uint32_t counts[][2] = {{0, 0}, {15, 0}, {16, 0}, {17, 0}, {48, 16}, {49, 16}, {600, 292}};
    for (auto& c : counts) EXPECT_EQ(PaletteFileEntryCount(c[0]), c[1]) << c[0];
}

TEST(Palette, Path) {
    char out[260];
    ASSERT_TRUE(MakePalettePath("C:\\tex\\a.pvz", out, sizeof out));
    EXPECT_STREQ(out, "C:\\tex\\a.pvp");
    ASSERT_TRUE(MakePalettePath("apvr", out, sizeof out));
    EXPECT_STREQ(out, ".pvp");
    EXPECT_FALSE(MakePalettePath("a.p", out, sizeof out));
    std::string longPath(259, 'x');
    EXPECT_TRUE(MakePalettePath(longPath.c_str(), out, sizeof out));
    longPath += 'x';
    EXPECT_FALSE(MakePalettePath(longPath.c_str(), out, sizeof out));
}

TEST(Texts, ShiftJisBytes) {
    // "PC用" then the katakana: 用 is 0x97 0x70 in code page 932, ゼ 0x83 0x5B.
    const char* d = kTypeDescriptor;
    ASSERT_EQ(memcmp(d, "pvz;pvr|Zelvanis PVZ|PC\x97\x70\x83\x5B", 27), 0);
    EXPECT_EQ(strlen(kTypeDescriptor), 23u + 2 + 2 * 6 + 3 + 2 * 4);
    // 画 is 0x89 0xE6; the size messages are all double-byte but for the digits.
    EXPECT_EQ(memcmp(kPictureSizeMessage, "\x89\xE6", 2), 0);
    EXPECT_STREQ(kExportCaption, "ombrout.ppi");
    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    CopyHostText(buffer, 4, "layer null");   // cut short, and terminated
    EXPECT_EQ(memcmp(buffer, "lay\0", 4), 0);
    EXPECT_EQ(buffer[4], 'z');
    CopyHostText(buffer, 8, "ab");
    EXPECT_EQ(memcmp(buffer, "ab\0\0\0\0\0\0", 8), 0);
}

}  // namespace
