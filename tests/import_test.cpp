// The import driver end to end over in-memory files: container choice, checks
// before the picture is created, host call order, layer tag, palette lookup,
// progress, and every block handed back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_stub.h"
#include "import_core.h"
#include "memory_platform.h"
#include "texture_maker.h"
#include "palette.h"
#include "texts.h"

namespace {

struct ImportRun {
    MemoryPlatform fake;
    StubHost host;
    ImportOutcome outcome;
    int status = -1;
    // As the plug-in does: the whole file read, then imported.
    int Import(const std::string& path) {
        status = fake.Import(path.c_str(), &host, &outcome);
        EXPECT_EQ(fake.LiveBlocks(), 0u) << "blocks left after " << path;
        EXPECT_EQ(fake.badFrees, 0u);
        return status;
    }
    // The file put under `path`, then imported.
    int Import(const std::string& path, const std::vector<uint8_t>& file) {
        fake.Put(path, file);
        return Import(path);
    }
    std::string Name() const { return host.layer.szName; }
};

uint32_t Pattern(uint32_t x, uint32_t y) { return (x * 0x1F3u + y * 0x2E1u) & 0xFFFF; }
uint16_t Entry(uint32_t i) { return (uint16_t)(0x8000 | (i * 0x421)); }

TEST(ImportPaths, ContainerByLastThreeCharacters) {
    for (const char* p : {"A.PVR", "a.Pvr", "apvr", "C:\\t\\x.pVr"}) EXPECT_EQ(ContainerOfPath(p), kContainerPvr) << p;
    for (const char* p : {"a.pvz", "a.bin", "a.pv", "a.pvr "}) EXPECT_EQ(ContainerOfPath(p), kContainerPvz) << p;
    // The name tells where to look first; a texture saved under the other
    // container's name still opens, as what it is.
    const std::vector<uint8_t> pvr = MakePvr({1, 0, 4, 4, 0}, Pattern), pvz = PvrToPvz(pvr);
    for (const char* path : {"apvr", "a.pv"})
        for (bool plain : {true, false}) {
            ImportRun r;
            EXPECT_EQ(r.Import(path, plain ? pvr : pvz), 0) << path;
            EXPECT_EQ(r.outcome.check.container, plain ? kContainerPvr : kContainerPvz) << path;
            EXPECT_EQ(r.host.Pixel(3, 2), MakerColor(0, (uint16_t)Pattern(3, 2)));
        }
}

// How much of a file a reader needs: a .pvr's header and the texels its
// layout reads; a .pvz up to the longest stream its size field allows.
TEST(ImportPaths, PlanTextureRead) {
    const std::vector<uint8_t> pvr = MakePvr({1, 0, 8, 8, 0}, Pattern), pvz = PvrToPvz(pvr);
    uint64_t bytes = 0;
    EXPECT_EQ(PlanTextureRead(pvr.data(), kTextureHeadBytes, pvr.size() + 1000, "t.pvr", &bytes), kTextureOk);
    EXPECT_EQ(bytes, pvr.size());
    EXPECT_EQ(PlanTextureRead(pvz.data(), kTextureHeadBytes, pvz.size(), "t.pvz", &bytes), kTextureOk);
    EXPECT_EQ(bytes, pvz.size());
    EXPECT_EQ(PlanTextureRead(pvz.data(), kTextureHeadBytes, pvz.size(), "t.pvr", &bytes), kTextureOk);
    EXPECT_EQ(bytes, pvz.size());   // the other container, by its magics
    // A stream of more records than the size field has units expands beyond it.
    EXPECT_EQ(PlanTextureRead(pvz.data(), kTextureHeadBytes, pvz.size() + 3 * 128, "t.pvz", &bytes),
              kTexturePvzOverflow);
    EXPECT_EQ(PlanTextureRead(pvr.data(), 10, 10, "t.pvr", &bytes), kTextureOk);   // no header: the head only
    EXPECT_EQ(bytes, 10u);
}

TEST(ImportPaths, UnusablePathsAreNotRead) {
    const std::string ok = "C:\\" + std::string(250, 'd') + "\\a.pvr";   // 259 characters
    ASSERT_EQ(ok.size(), 259u);
    const std::vector<uint8_t> pvr = MakePvr({1, 0, 4, 4, 0}, Pattern);
    for (const std::string& path : {ok + "x", std::string("a.p"), std::string("")}) {
        ImportRun r;
        EXPECT_EQ(ImportTexture(path.c_str(), pvr.data(), pvr.size(), &r.host.image, &r.host.services,
                                &r.fake.import, nullptr),
                  2);
        EXPECT_TRUE(r.fake.log.empty());
        EXPECT_FALSE(r.host.created);
    }
    ImportRun r;
    EXPECT_EQ(r.Import(ok, pvr), 0);
}

TEST(ImportTexture, PlainAndCompressedEndToEnd) {
    const TextureShape shape = {1, 2, 256, 128, 7};
    for (bool pvz : {false, true}) {
        ImportRun r;
        const std::string path = pvz ? "t.pvz" : "t.pvr";
        ASSERT_EQ(r.Import(path, pvz ? MakePvz(shape, Pattern) : MakePvr(shape, Pattern)), 0);
        EXPECT_TRUE(!r.host.Indexed() && r.host.width == 256 && r.host.height == 128 && r.host.image.bAlpha == 1);
        EXPECT_EQ(r.Name(), "Layer 1 !#TYPE:1, #COLOR:2, #ID:7");
        EXPECT_TRUE(r.host.progressBegins == 1 && r.host.progressRows == 128 && r.host.progressEnds == 1);
        EXPECT_TRUE(r.host.progressSteps == 128 && r.host.setPixelCalls == 256 * 128);
        EXPECT_EQ(r.host.Pixel(200, 7), MakerColor(2, (uint16_t)Pattern(200, 7)));
        EXPECT_EQ(r.fake.log.front(), "read " + path);
        EXPECT_TRUE(r.outcome.checked == kTextureOk && r.outcome.decoded == kDecodeDone);
        EXPECT_EQ(r.outcome.palette, kPaletteNotNeeded);
        // .pvz: one block for the expansion, (size + 4) raised to 2048.
        if (pvz) { EXPECT_EQ(r.fake.log[2], "alloc 67584"); }
    }
}

TEST(ImportTexture, PvzBlockSize) {
    // (size + 4) raised to 2048: 131104 + 4 -> 133120; the 4 leading bytes always fit.
    const uint64_t sizes[][2] = {{32 + 2 * 256 * 256, 65 * 2048}, {2080, 4096}, {2046, 4096}, {2048, 4096},
                                 {2043, 2048}, {0xFFFFFFFFu, 0x100000800ull}};
    for (auto& c : sizes) EXPECT_EQ(PvzBlockSize((uint32_t)c[0]), c[1]) << c[0];
}

TEST(ImportTexture, PalettisedTextures) {
    // DataType 5, ARGB4444 entries: 16 colours, the palette beside the texture, no dialog.
    ImportRun pal4;
    pal4.fake.Put("a.pvp", MakePaletteFile(16, Entry));
    pal4.host.image.nTransparentIndex = 9;   // alpha levels (8 of 15): the host cannot hold them, left alone
    ASSERT_EQ(pal4.Import("a.pvr", MakePvr({5, 2, 8, 8, 0}, Pattern)), 0);
    EXPECT_TRUE(pal4.host.Indexed() && pal4.host.image.nPaletteCount == 16 && pal4.host.image.bAlpha == 1);
    EXPECT_EQ(pal4.host.image.aPalette[3], MakerColor(2, Entry(3)));
    EXPECT_EQ(pal4.Name(), "Layer 1 !#TYPE:5, #COLOR:5, #ID:0, #PAL:2");
    EXPECT_EQ(pal4.host.Pixel(3, 5), Pattern(3, 5) & 15);
    EXPECT_TRUE(pal4.host.image.nTransparentIndex == 9 && pal4.outcome.palette == kPaletteRead);
    EXPECT_STREQ(pal4.outcome.palettePath, "a.pvp");
    // ARGB1555: one entry of alpha 0 among opaque ones is the transparent
    // index; all opaque, none.
    for (uint32_t clear : {4u, 99u}) {
        ImportRun one;
        one.fake.Put("t.pvp", MakePaletteFile(16, [clear](uint32_t i) { return i == clear ? 0x7FFF : Entry(i); }));
        one.host.image.nTransparentIndex = 9;
        ASSERT_EQ(one.Import("t.pvz", MakePvz({7, 0, 8, 8, 0}, Pattern)), 0);
        EXPECT_EQ(one.host.image.nTransparentIndex, clear == 4 ? 4 : -1);
    }
    for (const std::string& line : pal4.fake.log) EXPECT_NE(line.rfind("dialog", 0), 0u);

    // No palette beside it: the dialog offers the derived name and its choice is read.
    ImportRun chosen;
    chosen.fake.Put("other.pvp", MakePaletteFile(200, Entry));
    chosen.fake.chosenPalette = "other.pvp";
    ASSERT_EQ(chosen.Import("d\\b.pvz", MakePvz({7, 0, 8, 8, 0}, Pattern)), 0);
    EXPECT_NE(std::find(chosen.fake.log.begin(), chosen.fake.log.end(), "dialog d\\b.pvp"), chosen.fake.log.end());
    EXPECT_EQ(chosen.fake.paletteRoom, 260u);
    EXPECT_STREQ(chosen.outcome.palettePath, "other.pvp");
    EXPECT_TRUE(chosen.host.image.nPaletteCount == 200 && chosen.host.Pixel(1, 1) == (Pattern(1, 1) & 255));

    // A chosen palette that cannot be read: silent, count of the import decision.
    ImportRun unreadable;
    unreadable.fake.chosenPalette = "nowhere.pvp";
    ASSERT_EQ(unreadable.Import("c.pvr", MakePvr({7, 0, 8, 8, 0}, Pattern)), 0);
    EXPECT_TRUE(unreadable.host.image.nPaletteCount == 256 && unreadable.host.setPixelCalls == 64);
    EXPECT_EQ(unreadable.outcome.palette, kPaletteUnread);

    // ColorFormat 4 asks for a 16-colour palette; 3 is direct colour with no prompt.
    ImportRun bump, yuv;
    bump.fake.cancelPalette = true;
    EXPECT_EQ(bump.Import("b.pvr", MakePvr({1, 4, 8, 8, 0}, Pattern)), 7);
    EXPECT_TRUE(bump.host.Indexed() && bump.host.image.nPaletteCount == 16);
    EXPECT_EQ(bump.outcome.palette, kPaletteNotChosen);
    EXPECT_EQ(yuv.Import("y.pvr", MakePvr({1, 3, 8, 8, 0}, Pattern)), 0);
    EXPECT_TRUE(!yuv.host.Indexed() && yuv.host.image.bAlpha == 1);
    // No conversion for YUV422.
    EXPECT_TRUE(yuv.host.setPixelCalls == 0 && yuv.outcome.decoded == kDecodeNothing && yuv.host.progressEnds == 1);
}

TEST(ImportTexture, CancelledPaletteLeavesTaggedPictureOnly) {
    ImportRun r;
    r.fake.cancelPalette = true;
    EXPECT_EQ(r.Import("a.pvz", MakePvz({7, 2, 16, 16, 3}, Pattern)), 7);
    EXPECT_TRUE(r.host.created && r.host.image.nPaletteCount == 256);
    EXPECT_EQ(r.Name(), "Layer 1 !#TYPE:7, #COLOR:6, #ID:3, #PAL:2");
    EXPECT_TRUE(r.host.setPixelCalls == 0 && r.host.progressBegins == 0 && r.host.progressEnds == 0);
}

TEST(ImportTexture, LayerTagTexts) {
    const std::pair<uint32_t, const char*> ids[] = {{0xFFFFFFFFu, "#ID:-1"}, {0x80000000u, "#ID:-2147483648"},
                                                   {65535, "#ID:65535"}};
    for (auto& id : ids) {
        ImportRun r;
        ASSERT_EQ(r.Import("i.pvr", MakePvr({9, 0, 4, 4, id.first}, Pattern)), 0);
        EXPECT_EQ(r.Name(), std::string("Layer 1 !#TYPE:9, #COLOR:0, ") + id.second);
    }
    // The tag is cut where the name's room ends, never beyond.
    StubHost host;
    std::string full(kLayerNameRoom - 11, 'n');
    host.SetLayerName(full);
    host.layer.nLeft = 0x11223344;
    EXPECT_EQ(AppendLayerTag(&host.image, 255, 6, 0x80000000u), 0);
    EXPECT_EQ(std::string(host.layer.szName), full + " !#TYPE:25");
    EXPECT_EQ(host.layer.nLeft, 0x11223344);
    memset(host.layer.szName, 'x', sizeof host.layer.szName);   // no terminator at all
    EXPECT_TRUE(AppendLayerTag(&host.image, 1, 0, 0) == 0 && host.layer.nLeft == 0x11223344);
    host.image.pLayer = nullptr;
    EXPECT_EQ(AppendLayerTag(&host.image, 1, 0, 0), -1);
}

TEST(ImportTexture, LayerNullIsShownAndImportGoesOn) {
    ImportRun r;
    r.host.image.pLayer = nullptr;
    EXPECT_EQ(r.Import("n.pvr", MakePvr({1, 0, 4, 4, 0}, Pattern)), 0);
    EXPECT_TRUE(r.fake.layerNulls == 1 && r.host.setPixelCalls == 16);
    EXPECT_STREQ(kLayerNullText, "layer null");
}

TEST(ImportTexture, TypesWithoutDecoderGiveATaggedEmptyPicture) {
    ImportRun r;
    EXPECT_EQ(r.Import("x.pvr", MakePvr({10, 0, 8, 8, 0}, Pattern)), 0);
    EXPECT_TRUE(r.host.created && r.host.setPixelCalls == 0);
    EXPECT_EQ(r.Name(), "Layer 1 !#TYPE:10, #COLOR:0, #ID:0");
    EXPECT_TRUE(r.host.progressBegins == 1 && r.host.progressSteps == 0 && r.host.progressEnds == 1);
}

// Each refused file: code 4, the image untouched, every block freed.
void ExpectRefused(const std::string& path, const std::vector<uint8_t>& file, int check,
                   size_t allocLimit = (size_t)-1) {
    SCOPED_TRACE(path);
    TextureCheck c;
    EXPECT_EQ(CheckTextureFile(file.data(), file.size(), path.c_str(), &c), check);
    ImportRun r;
    r.fake.allocLimit = allocLimit;
    r.host.image.bAlpha = 9;
    EXPECT_EQ(r.Import(path, file), 4);
    EXPECT_EQ(r.outcome.checked, check == kTextureOk ? kTextureNoMemory : check);
    EXPECT_EQ(r.Name(), "Layer 1");
    EXPECT_TRUE(r.host.createCalls == 0 && r.host.image.bAlpha == 9 && r.host.image.nPaletteCount == 0);
}

std::vector<uint8_t> Header(uint8_t type, uint8_t cf, uint16_t w, uint16_t h, uint32_t texelBytes) {
    return MakeBlankTexture({type, cf, w, h, 0}, texelBytes, texelBytes);
}

TEST(ImportRefusals, HeadersAndSizes) {
    std::vector<uint8_t> pvr = MakePvr({1, 0, 4, 4, 0}, Pattern);
    ExpectRefused("s.pvr", std::vector<uint8_t>(pvr.begin(), pvr.begin() + 31), kTextureShortFile);
    const std::vector<uint8_t> pvz = PvrToPvz(pvr);
    ExpectRefused("s.pvz", std::vector<uint8_t>(pvz.begin(), pvz.begin() + 35), kTextureShortFile);
    ExpectRefused("e.pvr", {}, kTextureShortFile);
    std::vector<uint8_t> magic = pvr;
    magic[16] = 'p';
    ExpectRefused("m.pvr", magic, kTextureBadMagic);
    std::vector<uint8_t> moved = pvr;                  // PVRT four bytes late
    memmove(&moved[20], &moved[16], moved.size() - 20);
    memset(&moved[16], 0, 4);
    ExpectRefused("v.pvr", moved, kTextureBadMagic);
    TextureCheck c;

    ExpectRefused("z.pvr", Header(1, 0, 0, 4, 64), kTextureBadSize);
    ExpectRefused("z.pvr", Header(12, 0, 65535, 65535, 64), kTextureBadSize);   // beyond 8192 x 8192 pixels
    ExpectRefused("z.pvr", Header(9, 0, 640, 480, 640 * 480 * 2 - 1), kTextureShortData);
    EXPECT_EQ(CheckTexture(Header(9, 0, 640, 480, 640 * 480 * 2).data(), 32 + 640 * 480 * 2, kContainerPvr, &c),
              kTextureOk);   // rectangles of any size
    EXPECT_EQ(CheckTexture(Header(12, 0, 6, 4, 0).data(), 32, kContainerPvr, &c), kTextureOk);
    ExpectRefused("t.pvr", Header(13, 0, 2048, 2048, 0), kTextureTwiddledTooLarge);
    ExpectRefused("q.pvr", Header(3, 0, 16, 8, 4096), kTextureVqShape);
    ExpectRefused("q.pvr", Header(16, 0, 2, 2, 4096), kTextureTooSmall);
    ExpectRefused("i.pvr", Header(7, 0, 8, 1, 4096), kTextureTooSmall);   // 8-bit texels come in pairs of rows
    ExpectRefused("i.pvz", PvrToPvz(Header(5, 0, 8, 1, 4096)), kTextureTooSmall);
}

TEST(ImportRefusals, PvzContainers) {
    std::vector<uint8_t> good = MakePvz({1, 0, 8, 8, 0}, Pattern);
    EXPECT_EQ(ImportRun().Import("g.pvz", good), 0);
    // Size field above what the layout needs, but the stream stops short.
    std::vector<uint8_t> shortStream = good;
    shortStream.resize(shortStream.size() - 3);
    ExpectRefused("a.pvz", shortStream, kTextureShortData);
    // Stream runs past the size field: refused, nothing written past the block.
    std::vector<uint8_t> longer = good;
    longer.insert(longer.end(), {0x11, 0x22, 0xFF});
    ExpectRefused("b.pvz", longer, kTexturePvzOverflow);
    // Size field below the layout: refused before any block is allocated.
    std::vector<uint8_t> small = good;
    WriteU32(&small[0], 32 + 127);
    ExpectRefused("c.pvz", small, kTexturePvzSizeShort);
    WriteU32(&small[0], 5);
    ExpectRefused("c.pvz", small, kTexturePvzSizeShort);
    ImportRun r;
    EXPECT_EQ(r.Import("c.pvz", small), 4);
    EXPECT_EQ(r.fake.log.size(), 2u);   // the file read and its block only
    // No memory for the expansion block.
    ExpectRefused("g.pvz", good, kTextureOk, 1000);
}

TEST(ImportPlugin, HostTexts) {
    char buffer[80];
    memset(buffer, 'x', sizeof buffer);
    CopyImportInfo(buffer, sizeof buffer);
    EXPECT_TRUE(strcmp(buffer, kImportInfoText) == 0 && buffer[79] == 0);
    memset(buffer, 'x', sizeof buffer);
    CopyImportInfo(buffer, 6);
    EXPECT_TRUE(std::string(buffer, 7) == std::string(kImportInfoText, 5) + '\0' + 'x');
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CopySupportedType(0, buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, kTypeDescriptor);
    EXPECT_TRUE(CopySupportedType(1, buffer, sizeof buffer) == buffer && buffer[0] == 0);
    CopyImportInfo(nullptr, 10);
    CopyImportInfo(buffer, 0);
}

}  // namespace
