// The export driver with an in-memory platform, and the stdio file functions
// on a real disk.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "export_core.h"
#include "host_stub.h"
#include "pvz.h"
#include "texts.h"
#include "texture.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Message {
    std::string text, caption;
    unsigned flags;
};

// Disk, dialog, message boxes and heap of one export.
struct FakePlatform {
    std::map<std::string, Bytes> files;
    std::vector<Message> messages;
    int dialogs = 0;
    bool cancel = false;
    TextureSettings settings = {1, 0, 0};
    int failAllocation = 0;   // the n-th allocation fails (1-based)
    int allocations = 0;
    int outstanding = 0;
    std::string failWrite, failReplace;   // a temporary file / target that cannot be written / replaced
    ExportPlatform platform = {};

    FakePlatform() {
        platform.context = platform.allocator.context = this;
        platform.ShowMessage = [](void* c, const char* text, const char* caption, unsigned flags) {
            Self(c)->messages.push_back({text, caption, flags});
        };
        platform.ChooseSettings = [](void* c, const HostLayer*, const char*, TextureSettings* s) {
            Self(c)->dialogs++;
            if (Self(c)->cancel) return -1;
            *s = Self(c)->settings;
            return 0;
        };
        platform.allocator.Alloc = [](void* c, size_t size) -> void* {
            if (++Self(c)->allocations == Self(c)->failAllocation) return nullptr;
            Self(c)->outstanding++;
            return malloc(size);
        };
        platform.allocator.Free = [](void* c, void* block) { Self(c)->outstanding--, free(block); };
        platform.WriteWholeFile = [](void* c, const char* path, const uint8_t* data, size_t length) {
            if (Self(c)->failWrite == path) return -1;
            if (Self(c)->files.count(path)) return (int)kWriteExists;
            Self(c)->files[path] = Bytes(data, data + length);
            return 0;
        };
        platform.ReplaceTarget = [](void* c, const char* temp, const char* target) {
            std::map<std::string, Bytes>& files = Self(c)->files;
            // failReplace: a file that can be neither replaced nor moved (in use).
            if (Self(c)->failReplace == target || Self(c)->failReplace == temp || !files.count(temp)) return -1;
            files[target] = files[temp];
            files.erase(temp);
            return 0;
        };
        platform.RemoveFile = [](void* c, const char* path) { Self(c)->files.erase(path); };
    }
    static FakePlatform* Self(void* c) { return static_cast<FakePlatform*>(c); }
    int Export(StubHost& host, const char* path) {
        return ExportTexture(path, &host.image, &host.services, &platform);
    }
};

uint32_t Gradient(int x, int y) { return 0xFF000000u | (uint32_t)(x * 3 + y * 5) << 8 | (uint32_t)(x ^ y); }

TEST(ExportDriver, SizeAndLayerRefusals) {
    struct Case {
        int w, h, left, top;
        const char* text;
        const char* caption;
    } cases[] = {{100, 100, 0, 0, kHeightMessage, "nWidth:100 nHeight:100 nLeft:0 nTop:0"},
                 {100, 256, 16, 32, kWidthMessage, "nWidth:100 nHeight:256 nLeft:16 nTop:32"},
                 {2048, 2048, 0, 0, kHeightMessage, "nWidth:2048 nHeight:2048 nLeft:0 nTop:0"}};
    for (const Case& c : cases) {
        StubHost host;
        FakePlatform fake;
        host.SetSource(c.w, c.h, c.left, c.top, Gradient);
        EXPECT_EQ(fake.Export(host, "C:\\a.pvz"), kStatusUnsupported);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_TRUE(fake.messages[0].text == c.text && fake.messages[0].caption == c.caption);
        EXPECT_TRUE(fake.messages[0].flags == kMessageOk && fake.dialogs == 0);
    }
    StubHost host;
    FakePlatform fake;
    host.SetSource(1024, 128, 0, 0, Gradient);
    host.image.nLayerCount = 2;
    EXPECT_EQ(fake.Export(host, "C:\\a.pvz"), kStatusCancelled);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(fake.messages[0].text == kLayerCountMessage && fake.messages[0].caption == "ombrout.ppi");
    EXPECT_EQ(fake.messages[0].flags, (unsigned)kMessageIconError);
    host.image.nLayerCount = 1;
    host.image.pLayer = nullptr;   // refused without a message, never read
    EXPECT_EQ(fake.Export(host, "C:\\a.pvz"), kStatusUnsupported);
    EXPECT_TRUE(fake.messages.size() == 1 && fake.dialogs == 0 && fake.files.empty());
}

TEST(ExportDriver, PathsCancelAndUnwritableSettings) {
    StubHost host;
    host.SetSource(256, 128, 0, 0, Gradient);
    FakePlatform fake;
    EXPECT_EQ(fake.Export(host, "a.p"), kStatusWriteFailed);
    EXPECT_EQ(fake.Export(host, std::string(260, 'a').c_str()), kStatusWriteFailed);
    EXPECT_EQ(fake.Export(host, nullptr), kStatusWriteFailed);
    EXPECT_EQ(fake.dialogs, 0);
    fake.cancel = true;
    EXPECT_EQ(fake.Export(host, "C:\\a.pvz"), kStatusCancelled);
    fake.cancel = false;
    for (TextureSettings s : {TextureSettings{5, 5, 0}, TextureSettings{7, 6, 0}, TextureSettings{9, 6, 0},
                              TextureSettings{1, 3, 0}, TextureSettings{2, 0, 0}}) {
        fake.settings = s;
        EXPECT_EQ(fake.Export(host, "C:\\a.pvz"), kStatusUnsupported);
    }
    EXPECT_TRUE(fake.files.empty() && fake.allocations == 0);
    // A palette beside "C:\abcdef" would be "C:\ab.pvp": refused, with a
    // message, before anything is written; other layouts go anywhere.
    for (const char* path : {"C:\\abcdef", "C:\\t.x\\abc", "C:\\t\\a.pv"}) {
        fake.settings = {5, 0, 0};
        fake.messages.clear();
        EXPECT_EQ(fake.Export(host, path), kStatusWriteFailed) << path;
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_TRUE(fake.messages[0].text == kPalettePathMessage && fake.messages[0].flags == kMessageIconError);
    }
    EXPECT_TRUE(fake.files.empty() && fake.allocations == 0);
    fake.settings = {1, 0, 0};
    fake.messages.clear();
    EXPECT_EQ(fake.Export(host, "C:\\abcdef"), kStatusDone);
    EXPECT_TRUE(fake.files.size() == 1 && fake.messages.empty());
    fake.files.clear();
    const std::string longest = std::string(255, 'a') + ".pvr";
    EXPECT_EQ(fake.Export(host, longest.c_str()), kStatusDone);
    EXPECT_EQ(fake.files.size(), 1u);
}

TEST(ExportDriver, PlainOrContainerAndHeader) {
    StubHost host;
    host.SetSource(256, 256, 0, 0, Gradient);
    FakePlatform fake;
    fake.settings = {1, 0, 65535};
    ASSERT_EQ(fake.Export(host, "C:\\tex\\a.pvr"), kStatusDone);
    const Bytes plain = fake.files["C:\\tex\\a.pvr"];
    ASSERT_EQ(plain.size(), 32u + 2 * 256 * 256);
    const uint8_t header[32] = {'G', 'B', 'I', 'X', 8, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0,
                                'P', 'V', 'R', 'T', 8, 0, 2, 0, 0, 1, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(memcmp(plain.data(), header, 32), 0);
    EXPECT_EQ(ReadU16(&plain[32 + 2 * TwiddleIndex(3, 7, 256)]), PackColor(GetChannelRow(0)->encode, Gradient(3, 7)));
    EXPECT_TRUE(host.progressBegins == 1 && host.progressRows == 256);
    EXPECT_EQ(host.progressEnds, 1);

    for (const char* path : {"C:\\tex\\a.PVR", "C:\\tex\\a.pvz", "C:\\tex\\a.tex", "C:\\tex\\apvr"}) {
        ASSERT_EQ(fake.Export(host, path), kStatusDone) << path;
        const Bytes& container = fake.files[path];
        ASSERT_GE(container.size(), 36u);
        EXPECT_EQ(ReadU32(container.data()), plain.size());
        Bytes expanded(4 + plain.size());
        ASSERT_EQ(PvzExpand(container.data(), container.size(), expanded.data(), expanded.size(), nullptr), kPvzOk);
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), expanded.begin() + 4)) << path;
    }
    EXPECT_EQ(fake.files.size(), 5u);   // no temporary file left
    EXPECT_EQ(fake.outstanding, 0);
}

TEST(ExportDriver, PaletteFiles) {
    struct Case {
        int colorMode;
        int paletteCount;
        TextureSettings settings;
        size_t total, paletteSize;
    } cases[] = {{4, 0, {5, 0, 1}, 8224, 48},          {kColorModeGrey, 0, {7, 0, 1}, 32 + 16384, 528},
                 {kColorModeTwoColour, 0, {7, 2, 1}, 32 + 16384, 272},
                 {kColorModeIndexed, 16, {9, 1, 1}, 32 + 32768, 0}, {kColorModeIndexed, 256, {1, 1, 1}, 32 + 32768, 0},
                 {kColorModeIndexed, 16, {13, 5, 1}, 32 + 8192, 0}};
    for (const Case& c : cases) {
        StubHost host;
        host.SetSource(128, 128, 0, 0, Gradient);
        host.image.nColorMode = c.colorMode;
        host.image.nPaletteCount = c.paletteCount;
        FakePlatform fake;
        fake.settings = c.settings;
        ASSERT_EQ(fake.Export(host, "C:\\t\\b.pvr"), kStatusDone);
        EXPECT_EQ(fake.files["C:\\t\\b.pvr"].size(), c.total);
        EXPECT_EQ(fake.files.size(), c.paletteSize ? 2u : 1u);
        if (!c.paletteSize) continue;
        const Bytes& p = fake.files["C:\\t\\b.pvp"];
        ASSERT_EQ(p.size(), c.paletteSize);
        if (c.colorMode == kColorModeGrey) {   // ARGB1555, alpha 0: bit 15 clear
            EXPECT_EQ(ReadU16(&p[16 + 2 * 255]), 0x7FFF);
        }
        if (c.colorMode == kColorModeTwoColour) {   // ARGB4444: black, white, then zero
            EXPECT_EQ(ReadU16(&p[16]), 0x0000);
            EXPECT_EQ(ReadU16(&p[18]), 0x0FFF);
            EXPECT_EQ(ReadU16(&p[20]), 0x0000);
        }
    }
    // A texture named like its own palette file keeps only the texture.
    StubHost host;
    host.SetSource(128, 128, 0, 0, Gradient);
    FakePlatform fake;
    fake.settings = {5, 0, 1};
    ASSERT_EQ(fake.Export(host, "C:\\t\\b.pvp"), kStatusDone);
    ASSERT_EQ(fake.files.size(), 1u);
    EXPECT_EQ(ReadU32(fake.files["C:\\t\\b.pvp"].data()), 8224u);
}

// Every failure leaves the old files as they were and no staged file: a
// texture that cannot be committed after its palette was puts the old
// palette back.
TEST(ExportDriver, FailuresLoseNothing) {
    const std::map<std::string, Bytes> old = {{"C:\\t\\b.pvz", {1, 2, 3}}, {"C:\\t\\b.pvp", {4, 5}}};
    struct Case {
        int failAllocation;
        const char* failWrite;
        const char* failReplace;
        int code;
    } cases[] = {{1, "", "", kStatusNoMemory},
                 {2, "", "", kStatusNoMemory},
                 {0, "C:\\t\\~0000.tmp", "", kStatusPaletteFailed},   // the palette is staged first
                 {0, "C:\\t\\~0001.tmp", "", kStatusWriteFailed},
                 {0, "", "C:\\t\\b.pvp", kStatusPaletteFailed},
                 {0, "", "C:\\t\\b.pvz", kStatusWriteFailed}};
    for (const Case& c : cases) {
        StubHost host;
        host.SetSource(128, 128, 0, 0, Gradient);
        FakePlatform fake;
        fake.settings = {7, 1, 0};
        fake.files = old;
        fake.failAllocation = c.failAllocation;
        fake.failWrite = c.failWrite;
        fake.failReplace = c.failReplace;
        EXPECT_EQ(fake.Export(host, "C:\\t\\b.pvz"), c.code) << c.failAllocation << c.failWrite << c.failReplace;
        EXPECT_TRUE(fake.outstanding == 0 && fake.messages.empty());
        EXPECT_EQ(fake.files, old);
    }
    // A plain texture takes one allocation only.
    StubHost host;
    host.SetSource(128, 128, 0, 0, Gradient);
    FakePlatform fake;
    fake.failAllocation = 2;
    EXPECT_EQ(fake.Export(host, "C:\\t\\b.pvr"), kStatusDone);
    EXPECT_EQ(fake.allocations, 1);
}

TEST(ExportDriver, StdioFilesOnDisk) {
    char folder[] = "/tmp/ombrout_testXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    StubHost host;
    host.SetSource(128, 128, 0, 0, Gradient);
    FakePlatform fake;
    fake.platform.WriteWholeFile = WriteFileStdio;
    fake.platform.ReplaceTarget = RenameFileStdio;
    fake.platform.RemoveFile = RemoveFileStdio;
    fake.settings = {5, 2, 4};

    const std::string texture = dir + "/c.pvz";
    ASSERT_EQ(fake.Export(host, texture.c_str()), kStatusDone);
    struct stat st;
    ASSERT_EQ(stat((dir + "/c.pvp").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 48);
    ASSERT_EQ(stat(texture.c_str(), &st), 0);
    EXPECT_EQ(access((texture + ".~tmp").c_str(), F_OK), -1);

    // A folder that does not exist; a directory in the texture's place.
    EXPECT_EQ(fake.Export(host, (dir + "/none/c.pvz").c_str()), kStatusPaletteFailed);
    const std::string blocked = dir + "/d.pvz";
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    EXPECT_EQ(fake.Export(host, blocked.c_str()), kStatusWriteFailed);
    EXPECT_EQ(access((blocked + ".~tmp").c_str(), F_OK), -1);
    EXPECT_EQ(stat(blocked.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

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
    remove((dir + "/c.pvp").c_str());
    remove((dir + "/d.pvp").c_str());
    remove(texture.c_str());
    rmdir(blocked.c_str());
    EXPECT_EQ(rmdir(folder), 0);   // nothing else was left behind
}

}   // namespace
