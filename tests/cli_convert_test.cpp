// ombr commands run through RunOmbr, as the binary runs them: the PNG and
// raw files decode writes, round trips of every pair the export writes,
// refusals, outputs, info and the command line itself.
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "convert.h"
#include "export_core.h"
#include "host_stub.h"
#include "import_core.h"
#include "memory_platform.h"
#include "paths.h"
#include "png.h"
#include "texture.h"
#include "texture_maker.h"

namespace fs = std::filesystem;

namespace {

struct Ran {
    int status;
    std::string out, err;
};

Ran Ombr(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"ombr"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    FILE* files[2] = {tmpfile(), tmpfile()};
    Ran r = {RunOmbr((int)argv.size(), argv.data(), files[0], files[1]), "", ""};
    for (FILE* f : files) {
        rewind(f);
        for (int c; (c = fgetc(f)) != EOF;) (f == files[0] ? r.out : r.err) += (char)c;
        fclose(f);
    }
    return r;
}

std::vector<uint32_t> ReadRaw(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::vector<uint32_t> values(bytes.size() / 4);
    for (size_t i = 0; i < values.size(); i++) values[i] = ReadU32(bytes.data() + 4 * i);
    return values;
}

uint32_t Argb(const uint8_t rgba[4]) {
    return (uint32_t)rgba[3] << 24 | (uint32_t)rgba[0] << 16 | (uint32_t)rgba[1] << 8 | rgba[2];
}

struct PngFile {
    PngImage png;
    explicit PngFile(const fs::path& path) {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        char error[kPngErrorRoom];
        if (DecodePng(bytes.data(), bytes.size(), 4096, 4096 * 4096, &png, error, sizeof error) != 0) InitPng(&png);
    }
    ~PngFile() { FreePng(&png); }
};

using PixelFn = std::function<uint32_t(uint32_t, uint32_t)>;

// A picture whose pixel (x, y) is value(x, y): 0xAARRGGBB for colour and grey
// pictures, an index for palette ones (palette entry i = entry(i), 0xAARRGGBB).
void WritePicture(const fs::path& path, uint32_t w, uint32_t h, int kind, const PixelFn& value,
                  uint32_t paletteCount = 0, const std::function<uint32_t(uint32_t)>& entry = nullptr) {
    PngImage png;
    InitPng(&png);
    png.width = w, png.height = h, png.kind = kind, png.alpha = true, png.paletteCount = paletteCount;
    for (uint32_t i = 0; i < paletteCount; i++) {
        const uint32_t c = entry(i);
        const uint8_t rgba[4] = {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c, (uint8_t)(c >> 24)};
        memcpy(png.palette[i], rgba, 4);
    }
    const uint32_t bytes = PngPixelBytes(png);
    std::vector<uint8_t> pixels(bytes * (size_t)w * h);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            const uint32_t c = value(x, y);
            uint8_t* p = &pixels[bytes * ((size_t)y * w + x)];
            if (bytes == 1) p[0] = (uint8_t)c;
            else p[0] = (uint8_t)(c >> 16), p[1] = (uint8_t)(c >> 8), p[2] = (uint8_t)c, p[3] = (uint8_t)(c >> 24);
        }
    png.pixels = pixels.data();
    uint8_t* data = nullptr;
    size_t length = 0;
    ASSERT_EQ(EncodePng(&png, &data, &length), 0);
    WriteFileBytes(path, std::vector<uint8_t>(data, data + length));
    free(data);
}

class CliFiles : public ::testing::Test {
protected:
    TestFolder folder;
    const fs::path dir = folder.path;
    std::string P(const std::string& name) const { return (dir / name).string(); }
    bool NoTempFiles() const {   // staged files are named "~hhhh.tmp"
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.path().filename().string()[0] == '~') return false;
        return true;
    }
    // Runs ombr with every argument that names a file (has a dot) in the folder.
    Ran Cli(std::vector<std::string> args) {
        for (std::string& a : args)
            if (a[0] != '-' && a.find('.') != std::string::npos) a = P(a);
        return Ombr(args);
    }
    // The header of a texture written here: a name ending in "r" is a plain .pvr.
    TextureInfo Header(const std::string& name) const {
        const std::vector<uint8_t> file = ReadFileBytes(P(name));
        const size_t at = tolower(name.back()) == 'r' ? 0 : 4;
        if (file.size() < at + 32) return TextureInfo{};
        return ReadTextureInfo(file.data() + at);
    }
};

bool Says(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- decode: the converter's own part of reading a texture (the layouts
// themselves are the import's tests): the PNG's kind and palette, the raw
// file, both containers; a colour, a palette, an index and a VQ layout.

TEST_F(CliFiles, DecodesTexturesToPngAndRawFiles) {
    // indices: palette entries of an index layout (0: colour); blocks: the
    // distinct 2x2 blocks of a VQ layout (0: not VQ); grey: indices without
    // a palette file, shown as grey levels 255 / (indices - 1) apart.
    const struct {
        uint8_t dataType, colorFormat;
        uint16_t width, height;
        uint32_t indices, blocks;
        bool grey;
    } cases[] = {{2, 1, 16, 8, 0, 0, false}, {7, 1, 8, 32, 256, 0, false}, {8, 6, 16, 8, 256, 0, true},
                 {1, 5, 16, 8, 16, 0, true}, {17, 1, 32, 32, 0, 16, false}};
    for (const auto& c : cases) {
        // VQ layouts hold few distinct 2x2 blocks; every texel still depends on its place.
        const auto texel = [&](uint32_t x, uint32_t y) -> uint32_t {
            if (!c.blocks) return MixBits(x, y, c.dataType) & 0xFFFF;
            const uint32_t block = (x / 2 * 3 + y / 2 * 5) % c.blocks;
            return MixBits(block, (x & 1) * 2 + (y & 1), 7) & 0xFFFF;
        };
        const auto entry = [](uint32_t i) { return (uint16_t)(0x8000 | i * 0x0421); };
        for (const std::string extension : {".pvr", ".pvz"}) {
            const std::string name = "t" + std::to_string(c.dataType) + "_" + std::to_string(c.colorFormat);
            SCOPED_TRACE(name + extension);
            const bool plain = extension == ".pvr";
            const TextureShape shape = {c.dataType, c.colorFormat, c.width, c.height, 77};
            WriteFileBytes(P(name + extension), plain ? MakePvr(shape, texel) : MakePvz(shape, texel));
            if (c.indices) WriteFileBytes(P(name + ".pvp"), MakePaletteFile(c.indices, entry));
            const Ran r = Cli({"decode", name + extension, "-o", name + ".png", "--raw", name + ".raw", "-f", "-q"});
            ASSERT_EQ(r.status, 0) << r.err;

            const std::vector<uint32_t> raw = ReadRaw(P(name + ".raw"));
            ASSERT_EQ(raw.size(), (size_t)c.width * c.height);
            PngFile png(P(name + ".png"));
            ASSERT_EQ(png.png.kind, c.indices ? kPngIndexed : kPngColor);
            size_t wrong = 0;
            for (uint32_t y = 0; y < c.height; y++)
                for (uint32_t x = 0; x < c.width; x++) {
                    uint32_t want = MakerColor(c.colorFormat, (uint16_t)texel(x, y));
                    if (c.indices) want = texel(x, y) % c.indices;
                    if (c.blocks) want = MakerColor(c.colorFormat, (uint16_t)texel(x, c.height - 1 - y)) | 0xFF000000u;
                    const size_t i = (size_t)y * c.width + x;
                    wrong += raw[i] != want;
                    wrong += (c.indices ? png.png.pixels[i] : Argb(png.png.pixels + 4 * i)) != want;
                }
            EXPECT_EQ(wrong, 0u);
            if (!c.indices) continue;
            ASSERT_EQ(png.png.paletteCount, c.indices);
            // A plain texture of DataType 7 that says RGB565 has ARGB1555 entries.
            const uint8_t paletteFormat = plain && c.dataType == 7 && c.colorFormat == 1 ? 0 : c.colorFormat;
            for (uint32_t i = 0; i < c.indices; i++)
                EXPECT_EQ(Argb(png.png.palette[i]), c.grey ? 0xFF000000u | i * (255 / (c.indices - 1)) * 0x010101u
                                                           : MakerColor(paletteFormat, entry(i))) << i;
            if (c.grey) { EXPECT_EQ(r.err, ""); }
        }
    }
    EXPECT_TRUE(NoTempFiles());
}

TEST_F(CliFiles, DecodeFailuresAreNamedAndLeaveNothing) {
    const auto texel = [](uint32_t x, uint32_t y) { return x + y; };
    WriteFileBytes(P("pal.pvz"), MakePvz({7, 0, 16, 16, 0}, texel));
    Ran r = Cli({"decode", "pal.pvz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Says(r.err, "pal.pvp not found (give one with --palette)")) << r.err;
    WriteFileBytes(P("other.pvp"), MakePaletteFile(256, [](uint32_t i) { return (uint16_t)i; }));
    EXPECT_EQ(Cli({"decode", "pal.pvz", "--palette", "other.pvp"}).status, 0);
    EXPECT_TRUE(fs::exists(P("pal.png")));

    std::vector<uint8_t> magic = MakePvr({1, 0, 16, 16, 0}, texel), cut = magic, layout = magic;
    magic[16] = 'X';
    cut.resize(cut.size() - 2);
    layout[kHeaderDataType] = 10;
    WriteFileBytes(P("magic.pvr"), magic);
    WriteFileBytes(P("cut.pvr"), cut);
    WriteFileBytes(P("layout.pvr"), layout);
    WriteFileBytes(P("yuv.pvr"), MakePvr({1, 3, 16, 16, 0}, texel));
    const std::pair<const char*, const char*> refused[] = {
        {"magic.pvr", "not a texture the import reads: GBIX or PVRT magic missing"},
        {"cut.pvr", "not a texture the import reads: fewer texel bytes than the layout addresses"},
        {"layout.pvr", "DataType 10 has no texel layout: nothing to decode"},
        {"yuv.pvr", "ColorFormat 3 (YUV422) has no colour conversion: nothing to decode"},
        {"missing.pvr", "no such file"},
    };
    for (const auto& [file, message] : refused) {
        r = Cli({"decode", file});
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_TRUE(Says(r.err, std::string(file) + ": " + message)) << r.err;
        EXPECT_FALSE(fs::exists(P(ReplaceExtension(file, ".png"))));
    }
    EXPECT_TRUE(NoTempFiles());
}

// ---- encode, then decode: a picture encoded with the options that name its
// layout (each pair the export writes is the byte-for-byte test below)

TEST_F(CliFiles, ColourLayoutsRoundTripOnTheirGrid) {
    const struct {
        int dataType, colorFormat;
        uint32_t width, height;
    } cases[] = {{1, 0, 128, 128}, {13, 2, 256, 128}, {9, 1, 128, 256}};
    for (const auto& c : cases) {
        const std::string base = "c" + std::to_string(c.dataType) + "_" + std::to_string(c.colorFormat);
        SCOPED_TRACE(base);
        // Colours the format holds exactly.
        const auto color = [&](uint32_t x, uint32_t y) {
            return MakerColor(c.colorFormat, (uint16_t)MixBits(x, y, 3));
        };
        WritePicture(P(base + ".png"), c.width, c.height, kPngColor, color);
        for (const std::string extension : {".pvz", ".pvr"}) {
            Ran r = Cli({"encode", base + ".png", "-o", base + extension, "--type", std::to_string(c.dataType),
                         "--color", std::to_string(c.colorFormat), "--id", "0x1234", "-f"});
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<uint8_t> file = ReadFileBytes(P(base + extension));
            const TextureInfo info = Header(base + extension);
            EXPECT_TRUE(info.dataType == c.dataType && info.colorFormat == c.colorFormat);
            EXPECT_EQ(info.globalIndex, 0x1234u);
            EXPECT_EQ(extension == ".pvr" ? file.size() : ReadU32(file.data()), 32 + 2 * (size_t)c.width * c.height);

            r = Cli({"decode", base + extension, "--raw", base + ".raw", "-o", base + "_back.png", "-f"});
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<uint32_t> raw = ReadRaw(P(base + ".raw"));
            ASSERT_EQ(raw.size(), (size_t)c.width * c.height);
            size_t wrong = 0;
            for (uint32_t y = 0; y < c.height; y++)
                for (uint32_t x = 0; x < c.width; x++) wrong += raw[(size_t)y * c.width + x] != color(x, y);
            EXPECT_EQ(wrong, 0u);
        }
    }
}

TEST_F(CliFiles, IndexLayoutsKeepIndicesAndPalettes) {
    // 40 colours on the ARGB4444 grid, entry 3 the one transparent entry.
    const auto entry = [](uint32_t i) {
        const uint32_t c = MakerColor(2, (uint16_t)(0xF000 | MixBits(i, 0, 9)));
        return i == 3 ? c & 0x00FFFFFFu : c;
    };
    const auto index8 = [](uint32_t x, uint32_t y) { return MixBits(x, y, 1) % 40; };
    const auto index4 = [](uint32_t x, uint32_t y) { return MixBits(x, y, 2) % 16; };
    WritePicture(P("p8.png"), 256, 128, kPngIndexed, index8, 40, entry);
    WritePicture(P("p4.png"), 128, 256, kPngIndexed, index4, 40, entry);
    const struct {
        const char* png;
        int dataType, colorFormat;
        uint32_t width, height, paletteEntries;   // 0: no palette file
    } cases[] = {
        {"p8.png", 7, 2, 256, 128, 128}, {"p4.png", 5, 2, 128, 256, 16},
        {"p8.png", 1, 6, 256, 128, 0},   {"p4.png", 13, 5, 128, 256, 0},
    };
    for (const auto& c : cases) {
        const std::string base = "i" + std::to_string(c.dataType) + "_" + std::to_string(c.colorFormat);
        SCOPED_TRACE(base);
        Ran r = Cli({"encode", c.png, "-o", base + ".pvz", "--type", std::to_string(c.dataType), "--color",
                     std::to_string(c.colorFormat)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fs::exists(P(base + ".pvp")) ? fs::file_size(P(base + ".pvp")) : 0,
                  c.paletteEntries ? 16 + 2 * c.paletteEntries : 0);
        r = Cli({"decode", base + ".pvz", "--raw", base + ".raw"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<uint32_t> raw = ReadRaw(P(base + ".raw"));
        ASSERT_EQ(raw.size(), (size_t)c.width * c.height);
        const bool four = c.dataType == 5 || c.colorFormat == 5;
        size_t wrong = 0;
        for (uint32_t y = 0; y < c.height; y++)
            for (uint32_t x = 0; x < c.width; x++)
                wrong += raw[(size_t)y * c.width + x] != (four ? index4(x, y) : index8(x, y));
        EXPECT_EQ(wrong, 0u);
        if (!c.paletteEntries) continue;
        PngFile back(P(base + ".png"));
        ASSERT_EQ(back.png.paletteCount, c.paletteEntries);
        for (uint32_t i = 0; i < std::min(c.paletteEntries, 40u); i++) EXPECT_EQ(Argb(back.png.palette[i]), entry(i)) << i;
    }
}

// A grey picture: its levels are the indices where indices are stored
// without a palette file; under DataType 5 and 7 its colours go to the
// palette; under a colour layout, its colours.
TEST_F(CliFiles, GreyPicturesServeAsIndicesAndAsColour) {
    const auto grey = [](uint32_t x, uint32_t y) { return 0xFF000000u | ((x * 7 + y * 3) & 255) * 0x010101u; };
    WritePicture(P("g.png"), 128, 128, kPngGrey, grey);
    ASSERT_EQ(Cli({"encode", "g.png", "-o", "i.pvz", "--type", "1", "--color", "6"}).status, 0);
    ASSERT_EQ(Cli({"encode", "g.png", "-o", "g.pvz", "--type", "7"}).status, 0);
    ASSERT_EQ(Cli({"decode", "g.pvz", "--raw", "g.raw", "-o", "g_back.png"}).status, 0);
    PngFile palette(P("g_back.png"));
    EXPECT_EQ(palette.png.paletteCount, 128u);   // 32 levels of ARGB1555
    // Packed as the colour layouts pack them: the low 3 bits dropped.
    const uint32_t level = grey(9, 5) & 255, shown = Argb(palette.png.palette[ReadRaw(P("g.raw"))[5 * 128 + 9]]);
    EXPECT_EQ(shown, 0xFF000000u | (level & 0xF8) * 0x010101u) << std::hex << shown;
    ASSERT_EQ(Cli({"encode", "g.png", "-o", "h.pvr", "--type", "1", "--color", "2"}).status, 0);
    ASSERT_EQ(Cli({"decode", "h.pvr", "--raw", "h.raw", "-o", "h_back.png"}).status, 0);
    EXPECT_EQ(ReadRaw(P("h.raw"))[5 * 128 + 9], 0xFF000000u | (level & 0xF0) * 0x010101u);   // ARGB4444: 4 bits
    ASSERT_EQ(Cli({"decode", "i.pvz", "--raw", "i.raw"}).status, 0);
    EXPECT_EQ(ReadRaw(P("i.raw"))[5 * 128 + 9], level);   // the grey level is the index
}

TEST_F(CliFiles, EncodeRefusesWhatTheExportCannotWrite) {
    const auto flat = [](uint32_t x, uint32_t) { return 0xFF000000u | x; };
    WritePicture(P("small.png"), 100, 100, kPngColor, flat);
    WritePicture(P("narrow.png"), 100, 128, kPngColor, flat);
    WritePicture(P("ok.png"), 128, 128, kPngColor, flat);
    WritePicture(P("many.png"), 128, 128, kPngIndexed, [](uint32_t x, uint32_t) { return x % 32; }, 32,
                 [](uint32_t i) { return 0xFF000000u | i * 0x080808u; });
    WritePicture(P("grey.png"), 128, 128, kPngGrey, [](uint32_t x, uint32_t) { return 0xFF000000u | x * 0x010101u; });
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"small.png"}, "a 100 x 100 picture cannot be DataType 1: a side of 0, a twiddled side not a power of two"},
        {{"narrow.png", "--type", "13"}, "a 100 x 128 picture cannot be DataType 13"},
        {{"ok.png", "--type", "9", "--color", "5"}, "DataType 9 is written with ColorFormat 0, 1 or 2, not 5"},
        {{"ok.png", "--type", "1", "--color", "6"},
         "stores palette indices without a palette file: give a palette or grey PNG"},
        {{"many.png", "--type", "1", "--color", "5"}, "keeps 16 colours, but the picture uses index 31"},
        {{"grey.png", "--type", "1", "--color", "5"}, "keeps 16 colours, but the picture uses grey level 127"},
        {{"missing.png"}, "no such file"},
    };
    for (auto [args, message] : cases) {
        args.insert(args.begin(), "encode");
        args.insert(args.end(), {"-o", "a.pvz"});
        const Ran r = Cli(args);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_TRUE(Says(r.err, message)) << r.err;
        EXPECT_FALSE(fs::exists(P("a.pvz")) || fs::exists(P("a.pvp")));
    }
    Ran r = Cli({"encode", "ok.png", "-o", "nofolder/a.pvz"});
    EXPECT_TRUE(Says(r.err, "cannot write " + P("nofolder/a.pvz"))) << r.err;
    // Sizes the layout takes, whatever they are; more colours than DataType 5
    // holds are quantised, with a warning.
    EXPECT_EQ(Cli({"encode", "small.png", "-o", "r.pvz", "--type", "9"}).status, 0);
    r = Cli({"encode", "many.png", "-o", "m.pvz", "--type", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Says(r.err, "the picture has more colours than DataType 5 holds (16)")) << r.err;
    EXPECT_TRUE(NoTempFiles());
}

TEST_F(CliFiles, OutputsContainersAndPresets) {
    WritePicture(P("a.png"), 128, 128, kPngIndexed, [](uint32_t x, uint32_t y) { return (x ^ y) & 3; }, 4,
                 [](uint32_t i) { return 0xFF000000u | i * 60; });
    WriteFileBytes(P("a.pvp"), {1, 2, 3});
    // Existing outputs, the palette among them, are kept unless forced.
    Ran r = Cli({"encode", "a.png", "--type", "7"});   // a.pvz and a.pvp beside a.png
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Says(r.err, "a.pvp exists (use --force to replace it)")) << r.err;
    EXPECT_FALSE(fs::exists(P("a.pvz")));
    EXPECT_EQ(fs::file_size(P("a.pvp")), 3u);
    r = Cli({"encode", "a.png", "--type", "7", "--force", "-v"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Says(r.out, "(DataType 7, ColorFormat 0, ID 0) + " + P("a.pvp"))) << r.out;
    EXPECT_EQ(fs::file_size(P("a.pvp")), 16u + 2 * 128);
    const std::vector<uint8_t> written = ReadFileBytes(P("a.pvz"));
    EXPECT_EQ(Cli({"encode", "a.png", "--type", "9", "--color", "1"}).status, 1);
    EXPECT_EQ(ReadFileBytes(P("a.pvz")), written);
    r = Cli({"decode", "a.pvz"});
    EXPECT_TRUE(Says(r.err, "a.png exists"));

    // A name ending in "pvr" in any letter case is written plain; one that
    // does not end in ".pvr" says so.
    ASSERT_EQ(Cli({"encode", "a.png", "--container", "pvr", "--type", "9"}).status, 0);
    EXPECT_EQ(ReadFileBytes(P("a.pvr"))[0], 'G');
    r = Cli({"encode", "a.png", "-o", "b.PVR", "--type", "9"});
    EXPECT_EQ(ReadFileBytes(P("b.PVR"))[0], 'G');
    EXPECT_FALSE(Says(r.err, "written as a plain texture")) << r.err;
    r = Cli({"encode", "a.png", "-o", "b.xpvr", "--type", "9"});
    EXPECT_TRUE(Says(r.err, "ends in \"pvr\": it is written as a plain texture")) << r.err;
    r = Cli({"encode", "a.png", "-o", "b.pvz", "--type", "9"});
    EXPECT_EQ(ReadU32(ReadFileBytes(P("b.pvz")).data()), 32u + 2 * 128 * 128);

    // A known texture name brings its settings (DataType 9, ColorFormat 2,
    // ID 1600); the command line still wins.
    r = Cli({"encode", "a.png", "-o", "title_logo.pvz", "--id", "7", "-v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Says(r.out, "preset title_logo.pvz")) << r.out;
    const TextureInfo info = Header("title_logo.pvz");
    EXPECT_TRUE(info.dataType == 9 && info.colorFormat == 2 && info.globalIndex == 7u);
    EXPECT_TRUE(NoTempFiles());
}

// What encode takes from the texture it replaces: its settings after the
// command line and the PNG's, and its palette, kept as it is while it holds
// the picture's colours; its name, for a picture given without one.
TEST_F(CliFiles, EncodeKeepsWhatTheReplacedTextureHas) {
    const auto entry = [](uint32_t i) { return (uint16_t)(0xF000 | MixBits(i, 3, 3) % 0x1000); };
    const std::vector<uint8_t> pvp = MakePaletteFile(256, entry);
    WriteFileBytes(P("t.pvz"), MakePvz({7, 2, 16, 16, 4242}, [](uint32_t x, uint32_t y) { return x + 16 * y; }));
    WriteFileBytes(P("t.pvp"), pvp);
    // A colour picture of the palette's colours, under no settings of its own.
    const auto colour = [&](uint32_t x, uint32_t y) { return MakerColor(2, entry((x * 3 + y) % 200)); };
    WritePicture(P("c.png"), 16, 16, kPngColor, colour);
    Ran r = Cli({"encode", "c.png", "-o", "t.pvz", "-f"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(P("t.pvp")), pvp);
    const TextureInfo info = Header("t.pvz");
    EXPECT_TRUE(info.dataType == 7 && info.colorFormat == 2 && info.globalIndex == 4242u);
    ASSERT_EQ(Cli({"decode", "t.pvz", "--raw", "t.raw", "-f"}).status, 0);
    EXPECT_EQ(ReadRaw(P("t.raw"))[16 * 5 + 3], (3 * 3 + 5) % 200u);   // the entry of each pixel's colour

    // One colour the palette lacks: the nearest entry (said), a new palette,
    // or nothing written.
    WritePicture(P("d.png"), 16, 16, kPngColor,
                 [&](uint32_t x, uint32_t y) { return x + y ? colour(x, y) : 0xFF123456u; });
    r = Cli({"encode", "d.png", "-o", "t.pvz", "-f"});
    EXPECT_TRUE(Says(r.err, "1 colours (1 pixels) are not in the palette")) << r.err;
    EXPECT_EQ(ReadFileBytes(P("t.pvp")), pvp);
    r = Cli({"encode", "d.png", "-o", "t.pvz", "-f", "--strict-palette"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Says(r.err, "(--strict-palette)")) << r.err;
    EXPECT_EQ(ReadFileBytes(P("t.pvp")), pvp);
    r = Cli({"encode", "d.png", "-o", "u.pvz", "-f", "--palette", "t.pvp", "--new-palette", "--type", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadFileBytes(P("u.pvp")), pvp);
    EXPECT_EQ(ReadFileBytes(P("t.pvp")), pvp);

    // Without -o: the texture of that stem already there, in its container.
    WriteFileBytes(P("c.pvr"), MakePvr({9, 1, 16, 16, 5}, [](uint32_t, uint32_t) { return 0u; }));
    ASSERT_EQ(Cli({"encode", "c.png", "-f"}).status, 0);
    EXPECT_FALSE(fs::exists(P("c.pvz")));
    const TextureInfo plain = Header("c.pvr");
    EXPECT_TRUE(plain.dataType == 9 && plain.colorFormat == 1 && plain.globalIndex == 5u);
    EXPECT_TRUE(NoTempFiles());
}

// ---- info, batches and the command line

TEST_F(CliFiles, InfoTellsWhatTheImportSees) {
    const auto texel = [](uint32_t x, uint32_t y) { return x * 7 + y; };
    WriteFileBytes(P("a.pvz"), MakePvz({5, 2, 32, 16, 0xFFFFFFFF}, texel));
    WriteFileBytes(P("a.pvp"), MakePaletteFile(16, [](uint32_t i) { return (uint16_t)i; }));
    WriteFileBytes(P("b.pvr"), MakePvr({7, 1, 16, 16, 12}, texel));
    std::vector<uint8_t> cut = MakePvr({9, 0, 16, 16, 0}, texel);
    cut.resize(100);
    WriteFileBytes(P("c.pvr"), cut);
    WriteFileBytes(P("d.pvz"), {1, 2, 3});

    Ran r = Cli({"info", "--json", "a.pvz", "b.pvr", "c.pvr", "d.pvz"});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json textures = nlohmann::json::parse(r.out);
    ASSERT_EQ(textures.size(), 4u);
    EXPECT_EQ(textures[3].count("width"), 0u);
    r = Cli({"info", "a.pvz"});
    EXPECT_EQ(r.status, 0);
    for (const char* line : {"GlobalIndex: 4294967295 (ID -1)", "16 entries", "import:      ok"})
        EXPECT_TRUE(Says(r.out, line)) << r.out;

    // A decoded picture carries the settings encode takes back.
    ASSERT_EQ(Cli({"decode", "a.pvz"}).status, 0);
    WritePicture(P("plain.png"), 16, 16, kPngColor, [](uint32_t, uint32_t) { return 0xFF000000u; });
    r = Cli({"info", "--json", "a.png", "plain.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    const nlohmann::json pictures = nlohmann::json::parse(r.out);
    const struct {
        const nlohmann::json& records;
        const char* at;
        nlohmann::json want;
    } fields[] = {
        {textures, "/0/ok", true}, {textures, "/0/kind", "texture"}, {textures, "/0/container", "pvz"},
        {textures, "/0/pvzSize", 32 + 32 * 16 / 2}, {textures, "/0/globalIndex", 0xFFFFFFFFu},
        {textures, "/0/dataType/code", 5}, {textures, "/0/dataType/name", "twiddled, 4-bit palette"},
        {textures, "/0/colorFormat/name", "ARGB4444"}, {textures, "/0/width", 32},
        {textures, "/0/texelBytes", 32 * 16 / 2}, {textures, "/0/palette/entries", 16},
        {textures, "/1/container", "pvr"},
        {textures, "/1/importColorFormat/code", 0},   // a plain DataType 7 texture reads RGB565 as ARGB1555
        {textures, "/1/palette/found", false},
        {textures, "/2/error", "fewer texel bytes than the layout addresses"}, {textures, "/2/texelBytes", 100 - 32},
        {textures, "/3/ok", false}, {pictures, "/0/kind", "png"},
        {pictures, "/0/tag", "!#TYPE:5, #COLOR:5, #ID:-1, #PAL:2"}, {pictures, "/0/picture/paletteEntries", 16},
        {pictures, "/0/encode/output", P("a.pvz")},
        {pictures, "/0/encode/colorFormat/value", 2},   // the palette's format, not the index width
        {pictures, "/0/encode/globalIndex/value", 0xFFFFFFFFu},   // "-1": all 32 bits
        {pictures, "/0/encode/globalIndex/from", "the PNG's settings"},
        {pictures, "/1/encode/dataType/from", "the defaults"},
    };
    for (const auto& f : fields) {
        const nlohmann::json::json_pointer at(f.at);
        EXPECT_EQ(f.records.contains(at) ? f.records[at] : nlohmann::json(), f.want) << f.at;
    }
    r = Cli({"info", "a.png"});
    for (const char* line : {"DataType:    5", "ColorFormat: 2 (ARGB4444)", "32 x 16"})
        EXPECT_TRUE(Says(r.out, line)) << r.out;
    fs::create_directories(dir / "empty");
    r = Ombr({"info", P("empty")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Says(r.err, "no .pvr or .pvz files"));
    r = Ombr({"info", "--json", P("empty"), P("missing.xyz")});
    const nlohmann::json neither = nlohmann::json::parse(r.out);
    EXPECT_TRUE(neither.size() == 2 && neither[1]["kind"] == nullptr && neither[1]["error"] == "no such file");
}

TEST_F(CliFiles, BatchOutputsAndTheirConflicts) {
    const auto texel = [](uint32_t x, uint32_t y) { return MixBits(x, y, 5); };
    fs::create_directories(dir / "in" / "sub");
    WriteFileBytes(dir / "in" / "a.pvz", MakePvz({1, 2, 16, 16, 1}, texel));
    WriteFileBytes(dir / "in" / "a.pvr", MakePvr({1, 2, 16, 16, 1}, texel));
    WriteFileBytes(dir / "in" / "sub" / "d.pvz", MakePvz({13, 0, 8, 8, 3}, texel));
    // Subfolders are kept below --out-dir; two inputs never share an output.
    Ran r = Ombr({"decode", P("in"), "--out-dir", P("out"), "-r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(dir / "out" / "sub" / "d.png"));
    EXPECT_TRUE(Says(r.err, "a.pvz: another input already goes to " + P("out/a.png"))) << r.err;
    EXPECT_TRUE(Says(r.out, "ombr decode: 2 converted, 1 failed")) << r.out;
    // One bad file does not stop the others; d.pvz.png has the stem of d.png
    // (the texture and palette d.png makes): it is refused.
    WriteFileBytes(dir / "out" / "bad.png", {0x89, 'P', 'N', 'G'});
    fs::copy_file(dir / "out" / "sub" / "d.png", dir / "out" / "sub" / "d.pvz.png");
    r = Ombr({"encode", P("out"), "-r", "--out-dir", P("again"), "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Says(r.err, "ombr: failed: " + P("out/bad.png"))) << r.err;
    EXPECT_TRUE(Says(r.err, "d.pvz.png: another input already goes to " + P("again/sub/d.pvz"))) << r.err;
    // Each under the name its PNG carries: a.png was made from a.pvr.
    EXPECT_TRUE(fs::exists(dir / "again" / "sub" / "d.pvz") && fs::exists(dir / "again" / "a.pvr"));
}

// ---- round trips: what a user opens comes back byte for byte

typedef std::map<std::string, std::vector<uint8_t>> FileMap;

// The plug-ins' cores on the memory platform: the import, then the export
// with the dialog's OK on the layer tag's preset.
bool CoreRoundTrip(MemoryPlatform& core, const std::string& path) {
    StubHost host;
    if (core.Import(path.c_str(), &host) != kStatusDone) return false;
    core.chooseSettings = [](const HostLayer* layer, const char* name, TextureSettings* settings) {
        SettingsDialogRecord record;
        PrepareSettingsRecord(&record, layer, name);
        if (SelectedSource(record) != SOURCE_LAYER_TAG) return -1;
        const PresetView view = ViewSourcePreset(record, SOURCE_LAYER_TAG);
        const char* id = view.setId ? view.idText : "0";
        bool idValid = false;
        *settings = ReadDialogSettings(kDataTypeItems[view.dataTypeItem].code,
                                       kColorFormatItems[view.colorFormatItem].code, id, strlen(id), &idValid);
        return CheckDialogChoice(record, *settings, idValid) == kChoiceOk ? 0 : -1;   // OK refuses the rest
    };
    return ExportStatus(core.Export(path.c_str(), &host)) == kStatusDone;
}

// Every pair the export writes, from both containers, at sides from 128 to
// 1024 and IDs of all 32 bits, through the cores the plug-ins use and through
// ombr decode / encode with no options. Palettes are opaque but for one
// entry of alpha 0 for the cores (all the paint program holds); through the
// converter they carry every alpha level their format has. A plain .pvr of
// DataType 7 with ColorFormat 1 reads its palette as ARGB1555 and is not
// written back the same way (see the README).
TEST_F(CliFiles, OpenedTexturesComeBackByteForByte) {
    const struct {
        uint16_t width, height;
    } sizes[] = {{128, 128}, {256, 128}, {128, 256}, {1024, 128}, {128, 1024}, {512, 256}};
    const uint32_t ids[] = {0, 1, 777, 2102, 65535, 0x80000000u, 0xFFFFFFFFu};
    int n = 0;
    for (uint8_t dataType : {1, 9, 13, 5, 7}) {
        for (uint8_t colorFormat : {0, 1, 2}) {
            for (bool plain : {false, true}) {
                if (plain && dataType == 7 && colorFormat == 1) continue;
                n++;
                const auto size = sizes[n % 6];
                const TextureShape shape = {dataType, colorFormat, size.width, size.height, ids[n % 7]};
                const uint32_t entries = dataType == 5 ? 16 : n % 2 ? 256 : 128;
                const uint32_t salt = (uint32_t)n;
                const auto texel = [&](uint32_t x, uint32_t y) {
                    const uint32_t v = MixBits(x, y, salt);
                    return dataType == 7 ? v % entries : v;
                };
                const std::string name = "t" + std::to_string(n) + (plain ? ".pvr" : ".pvz");
                const std::string palette = "t" + std::to_string(n) + ".pvp";
                const std::vector<uint8_t> texture = plain ? MakePvr(shape, texel) : MakePvz(shape, texel);
                ASSERT_FALSE(texture.empty());
                const bool palettised = dataType == 5 || dataType == 7;
                SCOPED_TRACE(name + " DataType " + std::to_string(dataType) + " ColorFormat " +
                             std::to_string(colorFormat));

                // The host's palette model: opaque, entry 3 transparent.
                const uint16_t opaque = colorFormat == 0 ? 0x8000 : colorFormat == 2 ? 0xF000 : 0;
                const uint16_t colour = colorFormat == 0 ? 0x7FFF : colorFormat == 2 ? 0x0FFF : 0xFFFF;
                FileMap in = {{name, texture}};
                if (palettised)
                    in[palette] = MakePaletteFile(entries, [&](uint32_t i) {
                        return (uint16_t)((MixBits(i, 0, salt) & colour) | (i == 3 ? 0 : opaque));
                    });
                MemoryPlatform core;
                for (const auto& file : in) core.Put(file.first, file.second);
                ASSERT_TRUE(CoreRoundTrip(core, name));
                EXPECT_EQ(core.Files(), in);

                // The converter: any entries, alpha levels included.
                WriteFileBytes(P(name), texture);
                const std::vector<uint8_t> entriesFile =
                    MakePaletteFile(entries, [&](uint32_t i) { return (uint16_t)MixBits(i, 1, salt); });
                if (palettised) WriteFileBytes(P(palette), entriesFile);
                const std::string picture = "t" + std::to_string(n) + (plain ? "r" : "z") + ".png";
                ASSERT_EQ(Cli({"decode", name, "-o", picture}).status, 0);
                fs::create_directories(dir / "back");
                const Ran r = Cli({"encode", picture, "-o", "back/" + name});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(ReadFileBytes(P("back/" + name)), texture);
                if (palettised) { EXPECT_EQ(ReadFileBytes(P("back/" + palette)), entriesFile); }
            }
        }
    }
    EXPECT_EQ(n, 29);
    EXPECT_TRUE(NoTempFiles());
}

TEST(CliCommandLine, HelpVersionAndUsageErrors) {
    Ran r = Ombr({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("ombr ") + kOmbrVersion + "\n");
    r = Ombr({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Says(r.out, "ombr encode IMAGE.png"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Ombr({"decode", "--help"}).status, 0);
    // The types only the converter writes are taken (then the missing file fails).
    for (const char* type : {"2", "3", "4", "16", "17", "0x11"})
        EXPECT_EQ(Ombr({"encode", "missing.png", "--type", type, "-q"}).status, 1) << type;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"convert", "a.pvz"},
        {"decode"},
        {"decode", "a.pvz", "--bogus"},
        {"decode", "a.pvz", "-o"},
        {"decode", "a.pvz", "-o", "x.png", "--out-dir", "d"},
        {"decode", "a.pvz", "b.pvz", "-o", "x.png"},
        {"decode", "a.pvz", "b.pvz", "--raw", "x.raw"},
        {"decode", "a.pvz", "--type", "1"},   // an encode option
        {"info", "a.pvz", "--force"},
        {"encode", "a.png", "--type", "10"},
        {"encode", "a.png", "--color", "4"},
        {"encode", "a.png", "--id", "4294967296"},
        {"encode", "a.png", "--preset", "maybe"},
        {"encode", "a.png", "--container", "zip"},
    };
    for (const auto& args : bad) {
        r = Ombr(args);
        EXPECT_EQ(r.status, 2) << (args.size() > 2 ? args[2] : "");
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
    // "--" ends the options; "--name=value" forms are taken.
    r = Ombr({"decode", "--", "-missing.pvz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Says(r.err, "-missing.pvz: no such file"));
    EXPECT_EQ(Ombr({"encode", "--type=0xd", "--color=2", "--id=1", "-q", "--", "nothing.png"}).status, 1);
}

}  // namespace
