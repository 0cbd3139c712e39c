// The export driver on the memory platform, and the stdio file functions on a
// real disk.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export_core.h"
#include "host_stub.h"
#include "memory_platform.h"
#include "palette.h"
#include "pvz.h"
#include "texts.h"
#include "texture.h"
#include "texture_maker.h"

namespace {

typedef std::vector<uint8_t> Bytes;

int Export(MemoryPlatform& fake, StubHost& host, const char* path, ExportOutcome* outcome = nullptr) {
    const int status = ExportStatus(fake.Export(path, &host, nullptr, outcome));
    EXPECT_TRUE(fake.LiveBlocks() == 0 && fake.badFrees == 0) << "blocks left";
    return status;
}

// The colours the import shows for a written texture (palette entries for
// palette textures).
std::vector<uint32_t> ImportColours(MemoryPlatform& fake, const char* path) {
    StubHost host;
    std::vector<uint32_t> colours;
    if (fake.Import(path, &host) != kStatusDone) return colours;
    for (size_t i = 0; i < (size_t)host.width * host.height; i++)
        colours.push_back(host.Indexed() ? host.image.aPalette[host.pixels[i] & 255] : host.pixels[i]);
    return colours;
}

uint32_t Gradient(int x, int y) { return 0xFF000000u | (uint32_t)(x * 3 + y * 5) << 8 | (uint32_t)(x ^ y); }

// A square layer (the gradient unless told) at (0, 0) and a platform whose
// dialog answers `settings`.
struct Job {
    MemoryPlatform fake;
    StubHost host;
    explicit Job(TextureSettings settings, int side = 128, const LayoutEncoders& encoders = kPluginEncoders,
                 uint32_t (*value)(int x, int y) = Gradient)
        : fake(encoders) {
        fake.settings = settings;
        host.SetSource(side, side, 0, 0, value);
    }
    int Run(const char* path, ExportOutcome* outcome = nullptr) { return Export(fake, host, path, outcome); }
};

// A side of 0 or above 65535, or more than 8192 x 8192 pixels, is refused
// before the dialog; a size the chosen layout does not take after it, each
// with its message and the layer's size and place as the caption.
TEST(ExportDriver, SizeAndLayerRefusals) {
    struct Case {
        int w, h;
        TextureSettings settings;
        const char* text;   // null: written
    } cases[] = {{100, 100, {1, 0, 0}, kLayoutSizeMessage}, {100, 100, {9, 0, 0}, nullptr},
                 {2048, 2048, {13, 2, 0}, kLayoutSizeMessage}, {2048, 1024, {1, 0, 0}, nullptr},
                 {8, 4, {1, 6, 0}, nullptr},                  {1, 8, {13, 5, 0}, kLayoutSizeMessage},
                 {8, 1, {1, 6, 0}, kLayoutSizeMessage},        {1, 8, {1, 6, 0}, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " DataType " << (int)c.settings.dataType);
        StubHost host;
        MemoryPlatform fake;
        fake.settings = c.settings;
        host.SetSource(c.w, c.h, 16, 32, Gradient);
        EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), c.text ? kStatusUnsupported : kStatusDone);
        EXPECT_EQ(fake.settingsDialogs, 1);
        if (!c.text) {
            EXPECT_TRUE(fake.messages.empty() && fake.Has("C:\\a.pvz"));
            continue;
        }
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, c.text);
        EXPECT_EQ(fake.messages[0].caption, "nWidth:" + std::to_string(c.w) + " nHeight:" + std::to_string(c.h) +
                                                " nLeft:16 nTop:32");
        EXPECT_TRUE(fake.messages[0].flags == kMessageOk && fake.Files().empty());
    }
    for (auto size : {std::make_pair(0, 128), std::make_pair(65536, 1), std::make_pair(8192, 8193)}) {
        StubHost host;
        MemoryPlatform fake;
        host.layer.nRight = size.first;   // never read: refused first
        host.layer.nBottom = size.second;
        EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), kStatusUnsupported);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, kPictureSizeMessage);
        EXPECT_TRUE(fake.settingsDialogs == 0 && host.getPixelCalls == 0);
    }
    StubHost host;
    MemoryPlatform fake;
    host.SetSource(1024, 128, 0, 0, Gradient);
    host.image.nLayerCount = 2;
    EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), kStatusCancelled);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(fake.messages[0].text == kLayerCountMessage && fake.messages[0].caption == "ombrout.ppi");
    EXPECT_EQ(fake.messages[0].flags, (unsigned)kMessageIconError);
    host.image.nLayerCount = 1;
    host.image.pLayer = nullptr;   // refused without a message, never read
    EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), kStatusUnsupported);
    EXPECT_TRUE(fake.messages.size() == 1 && fake.settingsDialogs == 0 && fake.Files().empty());
}

TEST(ExportDriver, PathsCancelAndUnwritableSettings) {
    StubHost host;
    host.SetSource(256, 128, 0, 0, Gradient);
    MemoryPlatform fake;
    EXPECT_EQ(Export(fake, host, "a.p"), kStatusWriteFailed);
    EXPECT_EQ(Export(fake, host, std::string(260, 'a').c_str()), kStatusWriteFailed);
    EXPECT_EQ(Export(fake, host, nullptr), kStatusWriteFailed);
    EXPECT_EQ(fake.settingsDialogs, 0);
    fake.cancelSettings = true;
    EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), kStatusCancelled);
    fake.cancelSettings = false;
    // Pairs with nothing to pack with, and the layouts only the converter writes.
    for (TextureSettings s : {TextureSettings{5, 5, 0}, TextureSettings{7, 6, 0}, TextureSettings{9, 6, 0},
                              TextureSettings{1, 3, 0}, TextureSettings{2, 0, 0}, TextureSettings{3, 1, 0}}) {
        fake.settings = s;
        EXPECT_EQ(Export(fake, host, "C:\\a.pvz"), kStatusUnsupported);
    }
    EXPECT_TRUE(fake.Files().empty() && fake.attempts == 0 && fake.messages.empty());
    // A palette beside "C:\abcdef" would be "C:\ab.pvp": refused, with a
    // message, before anything is written; other layouts go anywhere.
    for (const char* path : {"C:\\abcdef", "C:\\t.x\\abc", "C:\\t\\a.pv"}) {
        fake.settings = {5, 0, 0};
        fake.messages.clear();
        EXPECT_EQ(Export(fake, host, path), kStatusWriteFailed) << path;
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_TRUE(fake.messages[0].text == kPalettePathMessage && fake.messages[0].flags == kMessageIconError);
    }
    EXPECT_TRUE(fake.Files().empty() && fake.attempts == 0);
    fake.settings = {1, 0, 0};
    fake.messages.clear();
    EXPECT_EQ(Export(fake, host, "C:\\abcdef"), kStatusDone);
    EXPECT_TRUE(fake.Files().size() == 1 && fake.messages.empty());
    fake.Remove("C:\\abcdef");
    const std::string longest = std::string(255, 'a') + ".pvr";
    EXPECT_EQ(Export(fake, host, longest.c_str()), kStatusDone);
    EXPECT_EQ(fake.Files().size(), 1u);
}

// A name ending in "pvr" in any letter case is written plain, any other as a
// PVZ container; the ID keeps all 32 bits.
TEST(ExportDriver, PlainOrContainerAndHeader) {
    Job job({1, 0, 0x8001FFFFu}, 256);
    MemoryPlatform& fake = job.fake;
    const StubHost& host = job.host;
    ExportOutcome outcome;
    ASSERT_EQ(job.Run("C:\\tex\\a.pvr", &outcome), kStatusDone);
    EXPECT_EQ(outcome.container, kContainerPvr);
    const Bytes plain = *fake.Find("C:\\tex\\a.pvr");
    ASSERT_EQ(plain.size(), 32u + 2 * 256 * 256);
    const uint8_t header[32] = {'G', 'B', 'I', 'X', 8, 0, 0, 0, 0xFF, 0xFF, 1, 0x80, 0, 0, 0, 0,
                                'P', 'V', 'R', 'T', 8, 0, 2, 0, 0, 1, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(memcmp(plain.data(), header, 32), 0);
    EXPECT_EQ(ReadU16(&plain[32 + 2 * MakerTwiddle(3, 7, 256)]), MakerPack(0, Gradient(3, 7)));
    EXPECT_TRUE(host.progressBegins == 1 && host.progressRows == 256 && host.progressEnds == 1);
    for (const char* path : {"C:\\tex\\b.PVR", "C:\\tex\\apvr"}) {
        ASSERT_EQ(job.Run(path), kStatusDone) << path;
        EXPECT_EQ(*fake.Find(path), plain) << path;
    }
    for (const char* path : {"C:\\tex\\a.pvz", "C:\\tex\\a.tex", "C:\\tex\\a.pvr "}) {
        ASSERT_EQ(job.Run(path, &outcome), kStatusDone) << path;
        EXPECT_EQ(outcome.container, kContainerPvz);
        const Bytes& container = *fake.Find(path);
        ASSERT_GE(container.size(), 36u);
        EXPECT_EQ(ReadU32(container.data()), plain.size());
        Bytes expanded(4 + plain.size());
        ASSERT_EQ(PvzExpand(container.data(), container.size(), expanded.data(), expanded.size(), nullptr), kPvzOk);
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), expanded.begin() + 4)) << path;
    }
    EXPECT_EQ(fake.Files().size(), 6u);   // no temporary file left
}

// The palette of DataType 5 and 7: an indexed picture's own; for a direct-
// colour, grey or two-colour picture the .pvp already beside the target when
// every colour is in it, otherwise a quantised one. Indexed pictures under
// the colour layouts, and as indices of DataType 1 and 13, write no palette.
TEST(ExportDriver, PaletteFiles) {
    struct Case {
        int colorMode;
        int paletteCount;
        TextureSettings settings;
        size_t total, paletteSize;
        int source;
    } cases[] = {{4, 0, {5, 0, 1}, 8224, 48, kPaletteSourceQuantised},   // more colours than the palette holds
                 {kColorModeGrey, 0, {7, 0, 1}, 32 + 16384, 272, kPaletteSourceQuantised},   // 128 grey levels
                 {kColorModeTwoColour, 0, {7, 2, 1}, 32 + 16384, 272, kPaletteSourceQuantised},
                 {kColorModeIndexed, 200, {7, 2, 1}, 32 + 16384, 528, kPaletteSourcePicture},
                 {kColorModeIndexed, 16, {9, 1, 1}, 32 + 32768, 0, 0},
                 {kColorModeIndexed, 256, {1, 1, 1}, 32 + 32768, 0, 0},
                 {kColorModeIndexed, 16, {13, 5, 1}, 32 + 8192, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colorMode << " as DataType " << (int)c.settings.dataType);
        Job job(c.settings);
        MemoryPlatform& fake = job.fake;
        job.host.image.nColorMode = c.colorMode;
        job.host.image.nPaletteCount = c.paletteCount;
        for (int i = 0; i < 256; i++) job.host.image.aPalette[i] = 0xFF000000u | (uint32_t)i * 0x030507u;
        PixelColours colours;   // what each pixel stands for
        BuildPixelColours(&job.host.image, &colours);
        ExportOutcome outcome;
        ASSERT_EQ(job.Run("C:\\t\\b.pvr", &outcome), kStatusDone);
        EXPECT_EQ(fake.Find("C:\\t\\b.pvr")->size(), c.total);
        EXPECT_EQ(fake.Files().size(), c.paletteSize ? 2u : 1u);
        if (!c.paletteSize) continue;
        EXPECT_TRUE(outcome.wrotePalette && outcome.paletteSource == c.source);
        EXPECT_STREQ(outcome.palettePath, "C:\\t\\b.pvp");
        ASSERT_EQ(fake.Find("C:\\t\\b.pvp")->size(), c.paletteSize);
        // Read back, every pixel shows the colour it stood for where the
        // picture has no more colours than the palette holds.
        const std::vector<uint32_t> back = ImportColours(fake, "C:\\t\\b.pvr");
        ASSERT_EQ(back.size(), 128u * 128);
        if (c.colorMode == 4) {
            EXPECT_EQ(std::set<uint32_t>(back.begin(), back.end()).size(), 16u);
            continue;
        }
        // A picture's own entries are packed as every colour is, and so are
        // the quantiser's for a picture of no more colours than the palette
        // holds (grey levels: the low bits dropped).
        size_t wrong = 0;
        for (int y = 0; y < 128; y++)
            for (int x = 0; x < 128; x++)
                wrong += back[(size_t)y * 128 + x] != MakerColor(c.settings.colorFormat,
                                                                 MakerPack(c.settings.colorFormat,
                                                                           PixelColour(colours, Gradient(x, y))));
        EXPECT_EQ(wrong, 0u);
    }
    // A known palette holding every colour of the picture is kept as it is;
    // one colour outside it, and a new one is made.
    const auto entry = [](uint32_t i) { return (uint16_t)(0x8000 | i * 0x0842); };
    const Bytes known = MakePaletteFile(16, entry);
    for (bool outside : {false, true}) {
        Job job({5, 0, 1}, 64, kPluginEncoders,
                [](int x, int y) { return MakerColor(0, (uint16_t)(0x8000 | ((x + y) % 16) * 0x0842)); });
        MemoryPlatform& fake = job.fake;
        if (outside) HostPixel(&job.host, 5, 5) = 0xFF123456u;
        fake.Put("C:\\t\\b.pvp", known);
        ExportOutcome outcome;
        ASSERT_EQ(job.Run("C:\\t\\b.pvz", &outcome), kStatusDone);
        EXPECT_EQ(outcome.paletteSource, outside ? kPaletteSourceQuantised : kPaletteSourceKept);
        EXPECT_EQ(*fake.Find("C:\\t\\b.pvp") == known, !outside);
        if (!outside) {
            EXPECT_EQ(ImportColours(fake, "C:\\t\\b.pvz")[64 * 7 + 3], MakerColor(0, entry(10)));
        }
    }
    // A texture named like its own palette file keeps only the texture.
    Job same({5, 0, 1});
    ASSERT_EQ(same.Run("C:\\t\\b.pvp"), kStatusDone);
    ASSERT_EQ(same.fake.Files().size(), 1u);
    EXPECT_EQ(ReadU32(same.fake.Find("C:\\t\\b.pvp")->data()), 8224u);
}

// Every failure leaves the old files as they were and no staged file: a
// texture that cannot be committed after its palette was puts the old
// palette back.
TEST(ExportDriver, FailuresLoseNothing) {
    const std::map<std::string, Bytes> old = {{"C:\\t\\b.pvz", {1, 2, 3}}, {"C:\\t\\b.pvp", {4, 5}}};
    const auto withOld = [&](Job& job) -> Job& {
        for (const auto& file : old) job.fake.Put(file.first, file.second);
        return job;
    };
    for (const char* path : {"C:\\t\\b.pvz", "C:\\t\\b.pvr"}) {
        // Each allocation of a successful export fails in turn: the picture's
        // colours, the indices, the quantiser's work (one table to look for an
        // exact palette, eight blocks of training), the texture buffer, the
        // container (.pvz only).
        Job probe({7, 1, 0});
        ASSERT_EQ(withOld(probe).Run(path), kStatusDone);
        ASSERT_EQ(probe.fake.attempts, path[9] == 'z' ? 13u : 12u);
        for (uint64_t n = 1; n <= probe.fake.attempts; n++) {
            Job job({7, 1, 0});
            withOld(job).fake.failAllocation = n;
            EXPECT_EQ(job.Run(path), kStatusNoMemory) << path << " allocation " << n;
            EXPECT_EQ(job.fake.Files(), old);
        }
    }
    struct Case {
        const char* failWrite;
        const char* failReplace;
        int code;
    } cases[] = {{"C:\\t\\~0000.tmp", "", kStatusPaletteFailed},   // the palette is staged first
                 {"C:\\t\\~0001.tmp", "", kStatusWriteFailed},
                 {"", "C:\\t\\b.pvp", kStatusPaletteFailed},
                 {"", "C:\\t\\b.pvz", kStatusWriteFailed}};   // the old palette is put back
    for (const Case& c : cases) {
        Job job({7, 1, 0});
        withOld(job).fake.failWrite.insert(c.failWrite);
        job.fake.failReplace.insert(c.failReplace);
        EXPECT_EQ(job.Run("C:\\t\\b.pvz"), c.code) << c.failWrite << c.failReplace;
        EXPECT_TRUE(job.fake.messages.empty());
        EXPECT_EQ(job.fake.Files(), old);
    }
    // A plain texture takes one allocation only.
    Job plain({1, 0, 0});
    plain.fake.failAllocation = 2;
    EXPECT_EQ(plain.Run("C:\\t\\b.pvr"), kStatusDone);
    EXPECT_EQ(plain.fake.attempts, 1u);
    // The converter's mip chain and VQ take their work memory from the
    // platform too: each of those allocations fails the export cleanly.
    for (const TextureSettings settings : {TextureSettings{2, 0, 0}, TextureSettings{4, 1, 0}}) {
        Job probe(settings, 32, kConverterEncoders);
        ASSERT_EQ(probe.Run("C:\\t\\m.pvr"), kStatusDone);
        EXPECT_GT(probe.fake.attempts, 2u) << (int)settings.dataType;   // more than the buffer and the picture
        for (uint64_t n = 1; n <= probe.fake.attempts; n++) {
            Job job(settings, 32, kConverterEncoders);
            job.fake.failAllocation = n;
            EXPECT_EQ(job.Run("C:\\t\\m.pvr"), kStatusNoMemory) << (int)settings.dataType << " " << n;
            EXPECT_TRUE(job.fake.Files().empty());
        }
    }
}

TEST(ExportDriver, StdioFilesOnDisk) {
    TestFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const std::string dir = folder.path;
    Job job({5, 2, 4});
    job.fake.exporter.files = kStdioFiles;
    const std::string texture = dir + "/c.pvz";
    ASSERT_EQ(job.Run(texture.c_str()), kStatusDone);
    struct stat st;
    ASSERT_EQ(stat((dir + "/c.pvp").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 48);
    ASSERT_EQ(stat(texture.c_str(), &st), 0);
    // A directory in the texture's place (a folder that does not exist: ExportFailure.FolderThatDoesNotExist).
    const std::string blocked = dir + "/d.pvz";
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    EXPECT_EQ(job.Run(blocked.c_str()), kStatusWriteFailed);
    EXPECT_TRUE(stat(blocked.c_str(), &st) == 0 && S_ISDIR(st.st_mode));

    // A write error that only shows when the file is closed.
    const std::string full = dir + "/full";
    if (symlink("/dev/full", full.c_str()) == 0) {
        const uint8_t data[100] = {0};
        // A staged name is a new file: an existing one (here a link to a
        // device) is neither written through nor removed.
        EXPECT_EQ(WriteFileStdio(nullptr, full.c_str(), data, sizeof data), (int)kWriteExists);
        EXPECT_EQ(access(full.c_str(), F_OK), 0);
        remove(full.c_str());
    }
    namespace fs = std::filesystem;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);   // the pair, the folder
}

}   // namespace
