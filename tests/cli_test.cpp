// The converter's parts: output names and numbers of the command line, the
// choice of texture settings, the host picture each kind of PNG becomes, the
// in-memory host, the PNG interface and JSON strings.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "picture.h"
#include "messages.h"
#include "memory_host.h"
#include "outputs.h"
#include "paths.h"
#include "png.h"

namespace {

TEST(CliNames, OutputNamesAndNumbers) {
    EXPECT_EQ(ReplaceExtension("a/b.c/tex.pvz", ".png"), "a/b.c/tex.png");
    EXPECT_EQ(ReplaceExtension("a/b.c/tex", ".png"), "a/b.c/tex.png");
    EXPECT_EQ(ReplaceExtension(".hidden", ".png"), ".hidden.png");
    EXPECT_EQ(TextureNameFor("dir/a.PNG", kContainerChoicePvr), "dir/a.pvr");
    EXPECT_EQ(TextureNameFor("dir/a.pvr.png", kContainerChoicePvz), "dir/a.pvr");
    EXPECT_EQ(TextureNameFor("dir/a.PVZ.png", kContainerChoicePvr), "dir/a.PVZ");
    EXPECT_EQ(TextureNameFor("dir/.png", kContainerChoicePvz), "dir/.png.pvz");
    EXPECT_EQ(JoinPath("out/", "a.png"), "out/a.png");
    EXPECT_EQ(JoinPath("", "a.png"), "a.png");
    // The name a picture's own texture had, when it has the picture's stem;
    // else the default container.
    const struct {
        const char* stem;
        const char* source;
        int container;
        const char* name;
        bool byDefault;
    } picks[] = {{"/nowhere/a.png", "A.PVR", kContainerChoiceNone, "/nowhere/A.PVR", false},
                 {"/nowhere/a.png", "b.pvr", kContainerChoiceNone, "/nowhere/a.pvz", true},
                 {"/nowhere/a.png", "x/a.pvr", kContainerChoiceNone, "/nowhere/a.pvz", true},
                 {"/nowhere/a.png", "A.PVR", kContainerChoicePvz, "/nowhere/a.pvz", false},
                 {"/nowhere/a.pvr.png", nullptr, kContainerChoicePvz, "/nowhere/a.pvr", false}};
    for (const auto& pick : picks) {
        char out[kPathRoom];
        bool byDefault = !pick.byDefault;
        ConvertReport report;
        ClearReport(&report);
        ASSERT_EQ(PickTextureName(pick.stem, pick.source, pick.container, out, sizeof out, &byDefault, &report), 0);
        EXPECT_STREQ(out, pick.name);
        EXPECT_EQ(byDefault, pick.byDefault) << pick.name;
    }

    const struct {
        const char* text;
        uint64_t most, value;
    } numbers[] = {{"0xd", 255, 13}, {"65535", 65535, 65535}, {"0xFFFFFFFF", 0xFFFFFFFFu, 0xFFFFFFFFu}};
    uint64_t v = 99;
    for (const auto& n : numbers) EXPECT_TRUE(ParseNumber(n.text, n.most, &v) && v == n.value) << n.text;
    for (const char* bad : {"65536", "99999999999999999999999", "", "-1", "+1", "1x", "0x", " 1", "d"})
        EXPECT_FALSE(ParseNumber(bad, 65535, &v)) << bad;
    EXPECT_FALSE(ParseNumber("4294967296", 0xFFFFFFFFu, &v));
}

// Each setting from the command line, else the PNG's tag, else the texture
// being replaced, else the known-texture table, else the defaults.
TEST(CliSettings, CommandLineTagTexturePresetDefaults) {
    const SettingsChoice none = NoSettingsChoice();
    ResolvedSettings r = ResolveSettings(none, "out/unknown.pvz", kPngColor, nullptr, nullptr);
    EXPECT_TRUE(r.settings.dataType == 1 && r.settings.colorFormat == 0 && r.settings.globalIndex == 0);
    EXPECT_TRUE(r.source[0] == kFromDefault && r.source[1] == kFromDefault && r.source[2] == kFromDefault);
    EXPECT_EQ(r.presetName, nullptr);
    EXPECT_EQ(ResolveSettings(none, "unknown.pvz", kPngIndexed, nullptr, nullptr).settings.dataType, 7);

    // The row of the output's base name, found in any letter case: the
    // known sys_black.pvr is DataType 1, ColorFormat 1, ID 1.
    const char* path = "SOME/FOLDER/SYS_BLACK.PVR";
    r = ResolveSettings(none, path, kPngColor, nullptr, nullptr);
    EXPECT_TRUE(r.settings.dataType == 1 && r.settings.colorFormat == 1 && r.settings.globalIndex == 1);
    EXPECT_TRUE(r.source[0] == kFromPreset && r.source[1] == kFromPreset && r.source[2] == kFromPreset);
    EXPECT_STREQ(r.presetName, "sys_black.pvr");
    // The texture being replaced comes before the row, the tag before both,
    // the command line before all; --preset none ignores the row.
    const ReplacedTexture replaced = {true, kContainerPvz, {4242, 2, 13, 128, 128}};
    SettingsChoice some = NoSettingsChoice();
    some.colorFormat = 1;
    r = ResolveSettings(some, path, kPngColor, "!#TYPE:9, #ID:-1", &replaced);
    EXPECT_TRUE(r.settings.dataType == 9 && r.settings.colorFormat == 1 && r.settings.globalIndex == 0xFFFFFFFFu);
    EXPECT_TRUE(r.source[0] == kFromTag && r.source[1] == kFromCommandLine && r.source[2] == kFromTag);
    EXPECT_EQ(r.presetName, nullptr);
    r = ResolveSettings(some, path, kPngColor, "no tag", &replaced);
    EXPECT_TRUE(r.settings.dataType == 13 && r.settings.colorFormat == 1 && r.settings.globalIndex == 4242);
    EXPECT_EQ(r.source[2], kFromTexture);
    some.globalIndex = 0xFFFFFFFF;
    some.presets = false;
    r = ResolveSettings(some, path, kPngColor, nullptr, nullptr);
    EXPECT_TRUE(r.settings.dataType == 1 && r.settings.colorFormat == 1 && r.settings.globalIndex == 0xFFFFFFFFu);
    EXPECT_EQ(r.presetName, nullptr);
}

TEST(CliSettings, PngToHostPictures) {
    PngImage png;
    InitPng(&png);
    png.width = 4, png.height = 2, png.kind = kPngIndexed, png.paletteCount = 4;
    const uint8_t palette[4][4] = {{10, 20, 30, 255}, {1, 2, 3, 0}, {4, 5, 6, 255}, {7, 8, 9, 255}};
    memcpy(png.palette, palette, sizeof palette);
    uint8_t indices[8] = {0, 1, 2, 3, 3, 2, 1, 0};
    png.pixels = indices;
    ConvertReport report;
    MemoryHost host;
    // Index layouts get an indexed picture with the one transparent entry marked.
    ASSERT_EQ(PngToHost(png, {7, 0, 0}, &host, &report), 0);
    EXPECT_TRUE(host.image.nColorMode == kColorModeIndexed && host.image.nPaletteCount == 4);
    EXPECT_EQ(host.image.nTransparentIndex, 1);
    EXPECT_EQ(host.image.aPalette[0], 0xFF0A141Eu);
    EXPECT_EQ(HostPixel(&host, 3, 0), 3u);
    EXPECT_EQ(host.layer.nRight, 4);
    FreeMemoryHost(&host);
    // Colour layouts get the colours, alpha included.
    ASSERT_EQ(PngToHost(png, {1, 2, 0}, &host, &report), 0);
    EXPECT_EQ(host.image.nColorMode, kColorModeDirect);
    EXPECT_EQ(HostPixel(&host, 1, 0), 0x00010203u);
    FreeMemoryHost(&host);
    // Two transparent entries: none is marked (the export writes each entry's
    // own alpha).
    png.palette[2][3] = 0;
    report.warning[0] = '\0';
    ASSERT_EQ(PngToHost(png, {5, 0, 0}, &host, &report), 0);
    EXPECT_EQ(host.image.nTransparentIndex, -1);
    EXPECT_STREQ(report.warning, "");
    FreeMemoryHost(&host);
    // Grey: the level in red, green and blue, so also in the index byte.
    uint8_t grey[4 * 8];
    for (int i = 0; i < 8; i++) memset(grey + 4 * i, i * 30, 3), grey[4 * i + 3] = 200;
    png.kind = kPngGrey, png.pixels = grey;
    ASSERT_EQ(PngToHost(png, {1, 6, 0}, &host, &report), 0);
    EXPECT_EQ(host.image.nColorMode, kColorModeGrey);
    EXPECT_EQ(HostPixel(&host, 2, 0), 0xC83C3C3Cu);
    FreeMemoryHost(&host);
    // Under DataType 7 its grey colours go to the palette.
    ASSERT_EQ(PngToHost(png, {7, 0, 0}, &host, &report), 0);
    EXPECT_EQ(host.image.nColorMode, kColorModeDirect);
    EXPECT_EQ(HostPixel(&host, 2, 0), 0xC83C3C3Cu);
    FreeMemoryHost(&host);
}

TEST(CliMemoryHost, KeepsWritesInsideThePicture) {
    MemoryHost host;
    InitMemoryHost(&host);
    host.services.SetImagePixel(&host.image, 0, 0, 0, 1);   // before any picture
    host.services.CreateColorImage(&host.image, 4, 3, 1, 0);
    ASSERT_TRUE(host.pixels);
    host.services.SetImagePixel(&host.image, 0, 3, 2, 0xAABBCCDDu);
    for (int xy : {-1, 4}) host.services.SetImagePixel(&host.image, 0, xy, 0, 5);
    host.services.SetImagePixel(&host.image, 0, 0, 3, 5);
    EXPECT_EQ(host.services.GetImagePixel(&host.image, 0, 3, 2), 0xAABBCCDDu);
    EXPECT_EQ(host.services.GetImagePixel(&host.image, 0, 9, 9), 0u);
    EXPECT_EQ(HostPixelsSet(&host), 1u);
    EXPECT_EQ(host.pixelsOutside, 4u);
    EXPECT_EQ(host.pixelsBeforeCreate, 1u);
    EXPECT_EQ(host.oddCalls, 5u);   // every pixel set outside progress
    // A picture beyond what the host holds is reported, not attempted.
    host.services.CreateIndexedImage(&host.image, 32768, 16384);
    EXPECT_TRUE(host.outOfMemory);
    EXPECT_EQ(host.width, 0);
    FreeMemoryHost(&host);
    // Repaints are told when asked for.
    InitMemoryHost(&host);
    host.trackRepaints = true;
    host.services.CreateColorImage(&host.image, 2, 2, 1, 0);
    for (int i = 0; i < 3; i++) host.services.SetImagePixel(&host.image, 0, 1, 1, 7);
    EXPECT_EQ(host.pixelsRepainted, 2u);
    FreeMemoryHost(&host);
}

// ---- PNG

std::vector<uint8_t> Encode(const PngImage& png) {
    uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(EncodePng(&png, &data, &length), 0);
    std::vector<uint8_t> bytes(data, data + length);
    free(data);
    return bytes;
}

// A PNG chunk with its length and CRC, for files laid out by hand.
std::string Chunk(const char* type, const std::string& body) {
    std::string c;
    for (int shift = 24; shift >= 0; shift -= 8) c += (char)(body.size() >> shift);
    c += std::string(type, 4) + body;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 4; i < c.size(); i++) {
        crc ^= (uint8_t)c[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int shift = 24; shift >= 0; shift -= 8) c += (char)(crc >> shift);
    return c;
}

// Text as a zlib stream of one stored block (so zTXt needs no compressor).
std::string Stored(const std::string& text) {
    uint32_t a = 1, b = 0;
    for (unsigned char c : text) a = (a + c) % 65521, b = (b + a) % 65521;
    const uint16_t n = (uint16_t)text.size();
    std::string z = {'\x78', '\x01', '\x01', (char)n, (char)(n >> 8), (char)~n, (char)(~n >> 8)};
    z += text;
    for (uint32_t v : {b >> 8, b, a >> 8, a}) z += (char)v;
    return z;
}

TEST(CliPng, IndexedPicturesKeepIndicesPaletteAndTransparency) {
    PngImage png;
    InitPng(&png);
    png.width = 5, png.height = 3, png.kind = kPngIndexed, png.paletteCount = 200;
    for (int i = 0; i < 200; i++) {
        png.palette[i][0] = (uint8_t)i, png.palette[i][1] = (uint8_t)(255 - i), png.palette[i][2] = 7;
        png.palette[i][3] = i == 5 ? 0 : i == 6 ? 128 : 255;
    }
    uint8_t pixels[15];
    for (int i = 0; i < 15; i++) pixels[i] = (uint8_t)(i * 13);
    png.pixels = pixels;
    const std::vector<uint8_t> file = Encode(png);
    PngImage back;
    char error[kPngErrorRoom];
    ASSERT_EQ(DecodePng(file.data(), file.size(), 64, 64 * 64, &back, error, sizeof error), 0) << error;
    EXPECT_TRUE(back.kind == kPngIndexed && back.paletteCount == 200u);
    EXPECT_EQ(memcmp(back.palette, png.palette, 200 * 4), 0);
    EXPECT_EQ(memcmp(back.pixels, pixels, 15), 0);
    FreePng(&back);
    // Too large for the caller's limit, cut short, or not a PNG: refused.
    EXPECT_EQ(DecodePng(file.data(), file.size(), 4, 64 * 64, &back, error, sizeof error), kPngTooLarge);
    EXPECT_EQ(back.pixels, nullptr);
    EXPECT_EQ(DecodePng(file.data(), file.size() / 2, 64, 64 * 64, &back, error, sizeof error), kPngBadData);
    const uint8_t junk[40] = {0x89, 'P', 'N', 'G'};
    EXPECT_EQ(DecodePng(junk, sizeof junk, 64, 64 * 64, &back, error, sizeof error), kPngNotPng);

    // Palette PNGs of 1, 2 and 4 bits a pixel, as other programs write them.
    for (uint8_t depth : {1, 2, 4}) {
        SCOPED_TRACE((int)depth);
        const uint32_t width = 7, height = 3, stride = (width * depth + 7) / 8;   // rows end inside a byte
        const unsigned entries = 1u << depth;
        auto index = [&](uint32_t x, uint32_t y) { return (x * 3 + y) % entries; };
        std::string rows((stride + 1) * height, '\0');   // each row after its filter byte (none)
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++) {
                char& b = rows[y * (stride + 1) + 1 + x * depth / 8];
                b = (char)((uint8_t)b | index(x, y) << (8 - depth - x * depth % 8));
            }
        const std::string ihdr = {0, 0, 0, (char)width, 0, 0, 0, (char)height, (char)depth, 3, 0, 0, 0};
        const std::string f = std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) +
                              Chunk("PLTE", std::string(3 * entries, '\0')) + Chunk("IDAT", Stored(rows)) +
                              Chunk("IEND", "");
        ASSERT_EQ(DecodePng((const uint8_t*)f.data(), f.size(), 64, 64 * 64, &back, error, sizeof error), 0) << error;
        EXPECT_EQ(back.paletteCount, entries);
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++) EXPECT_EQ(back.pixels[y * width + x], index(x, y)) << x << "," << y;
        FreePng(&back);
    }
}

TEST(CliPng, GreyAndColourPictures) {
    PngImage png;
    InitPng(&png);
    uint8_t pixels[16] = {10, 10, 10, 255, 20, 20, 20, 0, 30, 30, 30, 128, 40, 40, 40, 255};
    png.width = 2, png.height = 2, png.pixels = pixels;
    for (int kind : {kPngGrey, kPngColor})
        for (bool alpha : {false, true}) {
            png.kind = kind, png.alpha = alpha;
            const std::vector<uint8_t> file = Encode(png);
            PngImage back;
            char error[kPngErrorRoom];
            ASSERT_EQ(DecodePng(file.data(), file.size(), 64, 64 * 64, &back, error, sizeof error), 0);
            EXPECT_TRUE(back.kind == kind && back.alpha == alpha) << kind << alpha;
            EXPECT_TRUE(back.pixels[4] == 20 && back.pixels[7] == (alpha ? 0 : 255)) << kind << alpha;
            FreePng(&back);
        }
}

TEST(CliPng, TextsWhereverTheyLieAndLimitsFromTheHeader) {
    PngImage png;
    InitPng(&png);
    uint8_t pixels[64] = {};
    png.width = 8, png.height = 2, png.kind = kPngColor, png.pixels = pixels;
    snprintf(png.tag, sizeof png.tag, "!#TYPE:1, #COLOR:2, #ID:7");
    snprintf(png.source, sizeof png.source, "C:\\tex\\\xE7\x9F\xB3.pvz");   // UTF-8
    const std::vector<uint8_t> bytes = Encode(png);
    const std::string file(bytes.begin(), bytes.end());
    // Both texts are written before the image data, a name beyond ASCII as iTXt.
    EXPECT_LT(file.find("tEXtombr texture settings"), file.find("IDAT"));
    EXPECT_LT(file.find(std::string("iTXtombr texture file\0\0\0\0\0", 26)), file.find("IDAT"));
    char error[kPngErrorRoom];
    PngImage back;
    ASSERT_EQ(DecodePng(bytes.data(), bytes.size(), 8, 16, &back, error, sizeof error), 0) << error;
    EXPECT_STREQ(back.tag, "!#TYPE:1, #COLOR:2, #ID:7");
    EXPECT_STREQ(back.source, "C:\\tex\\\xE7\x9F\xB3.pvz");
    FreePng(&back);

    // Editors move text chunks after the image data and write zTXt or iTXt:
    // the first of each keyword counts, wherever it lies.
    png.tag[0] = png.source[0] = '\0';
    const std::vector<uint8_t> plain = Encode(png);
    const std::string head(plain.begin(), plain.begin() + 33), end(plain.end() - 12, plain.end());
    const std::string data(plain.begin() + 33, plain.end() - 12);
    const std::string tag("ombr texture settings\0", 22), name("ombr texture file\0", 18);
    struct Layout {
        std::string before, after;
        const char* tag;
        const char* source;
    } layouts[] = {
        {"", Chunk("tEXt", tag + "after"), "after", ""},
        {Chunk("zTXt", tag + '\0' + Stored("zipped")), Chunk("tEXt", tag + "second"), "zipped", ""},
        {"", Chunk("iTXt", tag + std::string("\0\0en\0\0", 6) + "intl") +
                 Chunk("iTXt", name + std::string(4, 0) + "a.pvr"),
         "intl", "a.pvr"},
        {Chunk("tEXt", std::string("Comment\0x", 9)), Chunk("zTXt", name + '\0' + Stored("b.pvz")), "", "b.pvz"},
    };
    for (const Layout& l : layouts) {
        const std::string f = head + l.before + data + l.after + end;
        ASSERT_EQ(DecodePng((const uint8_t*)f.data(), f.size(), 8, 16, &back, error, sizeof error), 0) << error;
        EXPECT_STREQ(back.tag, l.tag);
        EXPECT_STREQ(back.source, l.source);
        FreePng(&back);
    }
    // A comment of 17 MiB in 17 KB of zTXt: past what the decoder keeps, refused.
    const std::string big(17u << 20, 'a');
    std::string zipped(compressBound(big.size()), '\0');
    uLongf zippedLength = zipped.size();
    ASSERT_EQ(compress2((Bytef*)&zipped[0], &zippedLength, (const Bytef*)big.data(), big.size(), 9), Z_OK);
    zipped.resize(zippedLength);
    const std::string bomb = head + Chunk("zTXt", std::string("Comment\0\0", 9) + zipped) + data + end;
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_EQ(DecodePng((const uint8_t*)bomb.data(), bomb.size(), 8, 16, &back, error, sizeof error), kPngBadData);
    EXPECT_EQ(back.pixels, nullptr);

    // The header alone tells the size and kind; the limits refuse a picture
    // before its pixels are read, even one whose data is cut short.
    uint32_t width = 0, height = 0;
    int kind = 0;
    ASSERT_EQ(PeekPng(bytes.data(), 33, &width, &height, &kind), 0);
    EXPECT_TRUE(width == 8u && height == 2u && kind == kPngColor);
    EXPECT_EQ(PeekPng(bytes.data(), 32, &width, &height, &kind), kPngNotPng);
    EXPECT_EQ(DecodePng(bytes.data(), bytes.size(), 7, 16, &back, error, sizeof error), kPngTooLarge);
    EXPECT_STREQ(error, "picture of 8 x 2 is too large (at most 7 pixels a side)");
    EXPECT_EQ(DecodePng(bytes.data(), 40, 8, 15, &back, error, sizeof error), kPngTooLarge);
    EXPECT_STREQ(error, "picture of 8 x 2 is too large (at most 15 pixels)");
    EXPECT_EQ(back.pixels, nullptr);
}

TEST(CliJson, Strings) {
    EXPECT_EQ(JsonQuote("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    EXPECT_EQ(JsonQuote("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(JsonQuote("\x83\x5C.pvz"), "\"\\ufffd\\\\.pvz\"");          // Shift-JIS bytes
    EXPECT_EQ(JsonQuote("\xE3\x81"), "\"\\ufffd\\ufffd\"");               // cut short
    EXPECT_EQ(JsonQuote("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");   // a surrogate
}

}  // namespace
