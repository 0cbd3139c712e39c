// The editors' palette files both ways, byte for byte against their documented
// layouts: the Adobe Color Table (768 bytes of RGB triples, then a big-endian
// count and transparent index), the GIMP palette (text lines), the swatch and
// the game's .pvp (texture_maker's PVPL file); then `ombr palette` on files.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands.h"
#include "editor_palettes.h"
#include "files.h"
#include "palette.h"
#include "png.h"
#include "texture.h"
#include "texture_maker.h"

namespace {

// `ombr ARGS...`: its status and what it said on stderr.
int Ombr(std::vector<const char*> args, std::string* said) {
    args.insert(args.begin(), "ombr");
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    const int status = RunOmbr((int)args.size(), args.data(), out, err);
    said->clear();
    rewind(err);
    for (int c; (c = fgetc(err)) != EOF;) *said += (char)c;
    fclose(out);
    fclose(err);
    return status;
}

}  // namespace

TEST(PaletteFormats, EveryFileKindBothWays) {
    // 20 ARGB4444 entries: entry 3 and 7 transparent, entry 5 half.
    std::vector<uint16_t> words;
    for (uint32_t i = 0; i < 20; i++) words.push_back((uint16_t)(0xF000 | (i * 0x0731u & 0x0FFF)));
    words[3] = 0x0ABC, words[5] = 0x8123, words[7] = 0x0000;
    EditorPalette palette = {20, {}};
    for (uint32_t i = 0; i < 20; i++) palette.colors[i] = UnpackColor(kColorArgb4444, words[i]);
    const std::vector<uint8_t> pvp = MakePaletteFile(20, [&](uint32_t i) { return words[i]; });

    // .pvp: PVPL, the entries little-endian after 16 bytes, and back.
    uint8_t built[kPaletteMaxFileSize];
    ASSERT_EQ(PvpFromPalette(palette, kColorArgb4444, built), pvp.size());
    EXPECT_EQ(std::vector<uint8_t>(built, built + pvp.size()), pvp);
    EXPECT_EQ(PvpColorsChanged(palette, kColorArgb4444), 0u);
    EXPECT_EQ(PvpColorsChanged(palette, kColorArgb1555), 1u);   // the half-transparent entry 5
    EditorPalette read;
    ASSERT_EQ(PaletteFromPvp(pvp.data(), pvp.size(), kColorArgb4444, &read), kEditorPaletteOk);
    EXPECT_EQ(read.count, 20u);
    EXPECT_EQ(0, memcmp(read.colors, palette.colors, 20 * 4));
    EXPECT_EQ(PaletteFromPvp(pvp.data(), 17, kColorArgb4444, &read), kEditorPaletteEmpty);
    EXPECT_EQ(PaletteFromPvp(pvp.data(), pvp.size(), 3, &read), kEditorPaletteBadFormat);

    // .act: 256 triples, unused ones zero; count 20 and transparent index 3, big-endian.
    uint8_t act[kActFileBytes];
    ASSERT_EQ(WriteAct(palette, act), 772u);
    for (uint32_t i = 0; i < 20; i++)
        EXPECT_EQ((uint32_t)act[3 * i] << 16 | act[3 * i + 1] << 8 | act[3 * i + 2], palette.colors[i] & 0xFFFFFF) << i;
    EXPECT_EQ(std::vector<uint8_t>(act + 60, act + 768), std::vector<uint8_t>(708, 0));
    EXPECT_EQ(std::vector<uint8_t>(act + 768, act + 772), (std::vector<uint8_t>{0x00, 0x14, 0x00, 0x03}));
    EXPECT_EQ(ActAlphaLost(palette), 2u);   // entry 5 (half) and 7 (a second transparent one)
    ASSERT_EQ(ReadAct(act, 772, &read), kEditorPaletteOk);
    ASSERT_EQ(read.count, 20u);
    for (uint32_t i = 0; i < 20; i++)
        EXPECT_EQ(read.colors[i], (palette.colors[i] & 0xFFFFFF) | (i == 3 ? 0u : 0xFF000000u)) << i;
    EditorPalette full = {256, {}};
    for (uint32_t i = 0; i < 256; i++) full.colors[i] = 0xFF000000u | i << 16 | (255 - i) << 8 | (i * 7 & 0xFF);
    ASSERT_EQ(WriteAct(full, act), 768u);   // 256 opaque entries: the triples alone
    EXPECT_EQ(std::vector<uint8_t>(act + 765, act + 768), (std::vector<uint8_t>{255, 0, 255 * 7 & 0xFF}));
    ASSERT_EQ(ReadAct(act, 768, &read), kEditorPaletteOk);
    EXPECT_EQ(read.count, 256u);
    EXPECT_EQ(0, memcmp(read.colors, full.colors, sizeof full.colors));
    act[768] = 0, act[769] = 4, act[770] = 0xFF, act[771] = 0xFF;   // 4 entries, none transparent
    ASSERT_EQ(ReadAct(act, 772, &read), kEditorPaletteOk);
    EXPECT_EQ(read.count, 4u);
    EXPECT_EQ(read.colors[3], full.colors[3]);
    act[770] = 0, act[771] = 4;
    EXPECT_EQ(ReadAct(act, 772, &read), kEditorPaletteBadTransparent);
    act[769] = 0;
    EXPECT_EQ(ReadAct(act, 772, &read), kEditorPaletteBadCount);
    EXPECT_EQ(ReadAct(act, 771, &read), kEditorPaletteBadSize);

    // .gpl: the header, then "R G B" right-aligned in 3 characters, a tab, index and alpha.
    const EditorPalette three = {3, {0xFF000000u, 0x80FF8000u, 0x000A0B0Cu}};
    char text[kGplMaxBytes];
    const size_t length = WriteGpl(three, "ob0214\t\xff", text, sizeof text);
    EXPECT_EQ(std::string(text, length),
              "GIMP Palette\nName: ob0214 ?\nColumns: 16\n#\n"
              "  0   0   0\t0 a255\n255 128   0\t1 a128\n 10  11  12\t2 a0\n");
    uint32_t line = 0;
    ASSERT_EQ(ReadGpl(text, length, &read, &line), kEditorPaletteOk);
    EXPECT_EQ(read.count, 3u);
    EXPECT_EQ(0, memcmp(read.colors, three.colors, 3 * 4));
    ASSERT_EQ(WriteGpl(three, "x", text, 40), 0u);   // no room: nothing
    const std::string gimp = "GIMP Palette\r\nName: Old\r\nColumns: 4\r\n# made by hand\r\n\r\n"
                             "255 0 0 Red\r\n  0\t128 255\r\n1 2 3 7 a9 but not ours\r\n4 5 6\t9 a200\r\n";
    ASSERT_EQ(ReadGpl(gimp.data(), gimp.size(), &read, &line), kEditorPaletteOk);
    EXPECT_EQ(std::vector<uint32_t>(read.colors, read.colors + read.count),
              (std::vector<uint32_t>{0xFFFF0000u, 0xFF0080FFu, 0xFF010203u, 0xC8040506u}));
    const struct {
        const char* text;
        int why;
        uint32_t line;
    } bad[] = {{"JASC-PAL\n1 2 3\n", kEditorPaletteNoMagic, 1},
               {"GIMP Palette\n1 2 3\n4 300 5\n", kEditorPaletteBadValue, 3},
               {"GIMP Palette\n#\n1 2\n", kEditorPaletteBadLine, 3},
               {"GIMP Palette\nName: none\n", kEditorPaletteEmpty, 0}};
    for (const auto& b : bad) {
        EXPECT_EQ(ReadGpl(b.text, strlen(b.text), &read, &line), b.why) << b.text;
        EXPECT_EQ(line, b.line) << b.text;
    }
    std::string many = "GIMP Palette\n";
    for (int i = 0; i < 257; i++) many += "1 2 3\n";
    EXPECT_EQ(ReadGpl(many.data(), many.size(), &read, &line), kEditorPaletteTooMany);

    // The swatch: 16 cells of 16 x 16 to a row; a short row ends in index `count`.
    uint32_t width, height;
    SwatchSize(20, &width, &height);
    ASSERT_EQ(width * 1000 + height, 256u * 1000 + 32);
    std::vector<uint8_t> cells(width * height);
    LayOutSwatch(20, cells.data());
    for (const auto& [at, cell] : {std::pair{0u, 0}, {15 * 256 + 31, 1}, {16 * 256 + 63, 19}, {16 * 256 + 64, 20},
                                   {31 * 256 + 255, 20}})
        EXPECT_EQ(cells[at], cell) << at;
    SwatchSize(256, &width, &height);
    EXPECT_EQ(width * 1000 + height, 256u * 1000 + 256);

    // `ombr palette` on files: the entries' format from the texture beside the .pvp.
    TestFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const std::string dir = folder.path;
    const TextureShape shape = {5, kColorArgb4444, 8, 8, 7};
    ASSERT_TRUE(WriteFileBytes(dir + "/tex.pvz",
                               MakePvz(shape, [](uint32_t x, uint32_t y) { return (x + y) % 16; })));
    ASSERT_TRUE(WriteFileBytes(dir + "/tex.pvp", pvp));
    std::string said;
    const std::string pvpPath = dir + "/tex.pvp", gpl = dir + "/tex.gpl", act2 = dir + "/tex.act";
    ASSERT_EQ(Ombr({"palette", pvpPath.c_str(), "-o", gpl.c_str()}, &said), 0) << said;
    const size_t gplLength = WriteGpl(palette, "tex", text, sizeof text);
    const std::vector<uint8_t> gplBytes = ReadFileBytes(gpl);
    EXPECT_EQ(std::string(gplBytes.begin(), gplBytes.end()), std::string(text, gplLength));
    const std::string back = dir + "/back.pvp";
    ASSERT_EQ(Ombr({"palette", gpl.c_str(), "-o", back.c_str(), "--color", "2"}, &said), 0) << said;
    EXPECT_EQ(ReadFileBytes(back), pvp);   // every entry, its alpha too, in order
    ASSERT_EQ(Ombr({"palette", pvpPath.c_str(), "-o", act2.c_str()}, &said), 0);
    EXPECT_NE(said.find("2 entries come back opaque"), std::string::npos) << said;
    ASSERT_EQ(ReadAct(ReadFileBytes(act2).data(), 772, &read), kEditorPaletteOk);
    EXPECT_EQ(read.colors[4], palette.colors[4]);
    EXPECT_EQ(Ombr({"palette", back.c_str(), "-o", act2.c_str()}, &said), 1);   // exists: kept
    ASSERT_EQ(Ombr({"palette", back.c_str(), "-o", act2.c_str(), "-f"}, &said), 0);
    EXPECT_NE(said.find("taken as 0 (ARGB1555)"), std::string::npos) << said;   // no texture "back" beside it
    const std::string swatch = dir + "/tex.png";
    ASSERT_EQ(Ombr({"palette", pvpPath.c_str(), "-o", swatch.c_str()}, &said), 0);
    const std::vector<uint8_t> png = ReadFileBytes(swatch);
    PngImage image;
    char error[kPngErrorRoom];
    ASSERT_EQ(DecodePng(png.data(), png.size(), 4096, 4096 * 4096, &image, error, sizeof error), 0) << error;
    EXPECT_EQ(image.width * 1000 + image.height, 256u * 1000 + 32);
    EXPECT_EQ(image.paletteCount, 21u);
    EXPECT_EQ(image.pixels[16 * 256 + 64], 20);
    EXPECT_EQ(image.palette[5][3], (uint8_t)(palette.colors[5] >> 24));
    FreePng(&image);
}
