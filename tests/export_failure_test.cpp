// The export against a real disk when things go wrong: a texture or palette
// that cannot be replaced, a folder that does not exist, a full disk, and no
// memory for the texture buffer or the container. The platform's file
// functions are the stdio ones the plug-in uses; failures the disk cannot
// show to root are injected around them. Each failure must give its code,
// leave every file that was there byte for byte as it was, and leave no
// temporary or partial file.
//
// Running as root, chmod does not stop a write, so a read-only file is
// stood in for by a ReplaceTarget that refuses chosen targets (what the
// plug-in's ReplaceTarget does for a read-only file) or by a directory in the
// file's place, which rename cannot replace.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
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

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

// Every file and folder under `dir`: path -> contents ("<dir>" for folders).
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_directory()) {
            files[entry.path().string()] = "<dir>";
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return files;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The memory platform's dialog and heap with the stdio files, whose targets
// can be refused (read-only: CanReplace says no and ReplaceTarget refuses).
struct DiskPlatform : MemoryPlatform {
    DiskPlatform() {
        exporter.files = kStdioFiles;
        exporter.ShowMessage = [](void*, const char*, const char*, unsigned) { ADD_FAILURE() << "message"; };
        exporter.files.ReplaceTarget = [](void* c, const char* temp, const char* target) {
            return static_cast<DiskPlatform*>(c)->refuseReplace.count(target) ? -1 : RenameFileStdio(c, temp, target);
        };
        exporter.files.CanReplace = [](void* c, const char* target) {
            return static_cast<DiskPlatform*>(c)->refuseReplace.count(target) ? 0 : CanReplaceStdio(c, target);
        };
    }
};

uint32_t Gradient(int x, int y) { return 0xFF000000u | (uint32_t)(x * 3 + y * 5) << 8 | (uint32_t)(x ^ y); }

int Export(DiskPlatform& disk, const std::string& path, int side = 128) {
    StubHost host;
    host.SetSource(side, side, 0, 0, Gradient);
    const int status = ExportTexture(path.c_str(), &host.image, &host.services, &disk.exporter);
    EXPECT_EQ(disk.LiveBlocks(), 0u) << "heap blocks left";
    return status;
}

// A folder holding an old texture and palette (or a folder in the texture's
// or palette's place) and the failure to inject; the export must fail with
// `code` and change nothing.
struct Case {
    const char* what;
    const char* texture;          // file name written
    TextureSettings settings;
    int code;
    bool textureIsFolder, paletteIsFolder;
    bool refuseTexture, refusePalette;
};

// Each allocation failing in turn, and a texture that cannot be committed
// after its palette was, are the driver's tests, in memory.
const Case kCases[] = {
    // Both targets are checked before either is replaced: a texture that
    // cannot be replaced keeps the old palette too.
    {"read-only texture", "a.pvz", {5, 2, 1}, kStatusWriteFailed, false, false, true, false},
    {"read-only texture, plain", "a.pvr", {9, 2, 1}, kStatusWriteFailed, false, false, true, false},
    {"folder in the texture's place", "a.pvz", {7, 1, 1}, kStatusWriteFailed, true, false, false, false},
    {"read-only palette", "a.pvz", {5, 2, 1}, kStatusPaletteFailed, false, false, false, true},
    {"read-only palette and texture", "a.pvr", {7, 1, 1}, kStatusPaletteFailed, false, false, true, true},
    {"folder in the palette's place", "a.pvz", {7, 0, 1}, kStatusPaletteFailed, false, true, false, false},
};

TEST(ExportFailure, NothingIsLost) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TestFolder dir;
        ASSERT_FALSE(dir.path.empty());
        const std::string texture = dir / c.texture;
        const std::string palette = dir / "a.pvp";
        if (c.textureIsFolder) {
            ASSERT_EQ(mkdir(texture.c_str(), 0755), 0);
            WriteFile(texture + "/inside", "kept");
        } else {
            WriteFile(texture, "old texture");
        }
        if (c.paletteIsFolder) ASSERT_EQ(mkdir(palette.c_str(), 0755), 0);
        else WriteFile(palette, "old palette");
        WriteFile(dir / "other.pvz", "a neighbour");
        // Files under the names staged files take, or once took: never touched.
        WriteFile(dir / "~0000.tmp", "not ours");
        WriteFile(texture + ".~tmp", "not ours either");
        const auto before = Snapshot(dir.path);

        DiskPlatform disk;
        disk.settings = c.settings;
        if (c.refuseTexture) disk.refuseReplace.insert(texture);
        if (c.refusePalette) disk.refuseReplace.insert(palette);
        EXPECT_EQ(Export(disk, texture), c.code);
        EXPECT_EQ(Snapshot(dir.path), before);
    }
}

// Staged files take new names of their own in the target's folder: two of
// them never share one, a file already there is never replaced or removed,
// and a target as long as the path room allows is still staged beside it.
TEST(ExportFailure, StagedNamesOfTheirOwn) {
    TestFolder dir;
    WriteFile(dir / "~0000.tmp", "not ours");
    WriteFile(dir / "~0001.tmp", "nor this");
    const std::string longest = dir / std::string(kExportPathRoom - 2 - dir.path.size() - 4, 'n') + ".pvz";
    ASSERT_EQ(longest.size(), (size_t)kExportPathRoom - 1);
    // A folder that leaves room for five characters only: "~hhhh".
    const std::string deep = dir / std::string(kExportPathRoom - 7 - dir.path.size() - 1, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    const std::string cramped = deep + "/a.pvz";
    ASSERT_EQ(cramped.size(), (size_t)kExportPathRoom - 1);
    for (const std::string& texture : {dir / "a.Pvp", longest, cramped}) {
        DiskPlatform disk;
        disk.settings = {5, 2, 1};
        EXPECT_EQ(Export(disk, texture), kStatusDone) << texture;
        auto after = Snapshot(dir.path);
        EXPECT_TRUE(after[dir / "~0000.tmp"] == "not ours" && after[dir / "~0001.tmp"] == "nor this");
        EXPECT_EQ(after[texture].substr(4, 4), "GBIX");   // PVZ containers all three
    }
    auto after = Snapshot(dir.path);
    EXPECT_EQ(after.size(), 9u);   // the two, the folder, each texture and its palette, nothing staged left
    EXPECT_EQ(after[dir / "a.pvp"].size(), 48u);
}

// What the plug-in tells of a save that failed: the file and the reason.
TEST(ExportFailure, SaveFailureNamesTheFileAndTheReason) {
    ExportOutcome outcome = {};
    snprintf(outcome.palettePath, sizeof outcome.palettePath, "C:\\t\\a.pvp");
    bool (*const there)(const char*) = [](const char*) { return true; };
    bool (*const missing)(const char*) = [](const char*) { return false; };
    const struct {
        int result;
        bool (*folderExists)(const char*);
        const char* file;
        const char* text;
    } cases[] = {
        {kExportTextureNotStaged, missing, "C:\\t\\a.pvz", kSaveFolderMissingMessage},
        {kExportTextureNotStaged, there, "C:\\t\\a.pvz", kSaveFolderRefusedMessage},
        {kExportTextureNotCommitted, there, "C:\\t\\a.pvz", kSaveTargetRefusedMessage},
        {kExportPaletteNotStaged, missing, "C:\\t\\a.pvp", kSaveFolderMissingMessage},
        {kExportPaletteNotCommitted, there, "C:\\t\\a.pvp", kSaveTargetRefusedMessage},
        {kExportNoMemory, there, "C:\\t\\a.pvz", kSaveNoMemoryMessage},
        {kExportBadPath, there, "C:\\t\\a.pvz", kSavePathMessage},
    };
    for (const auto& c : cases) {
        SaveFailure failure = {};
        ASSERT_TRUE(DescribeSaveFailure(c.result, "C:\\t\\a.pvz", outcome, c.folderExists, &failure)) << c.result;
        EXPECT_STREQ(failure.file, c.file);
        EXPECT_EQ(failure.text, c.text);
    }
    // Cancelled, done, or refused with a message of its own: nothing more is said.
    for (int result : {kExportOk, kExportCancelled, kExportBadPalettePath, kExportTooManyLayers}) {
        SaveFailure failure = {};
        EXPECT_FALSE(DescribeSaveFailure(result, "C:\\t\\a.pvz", outcome, there, &failure)) << result;
    }
}

TEST(ExportFailure, FolderThatDoesNotExist) {
    TestFolder dir;
    for (TextureSettings settings : {TextureSettings{1, 0, 0}, TextureSettings{5, 0, 0}}) {
        DiskPlatform disk;
        disk.settings = settings;
        const int code = settings.dataType == 5 ? kStatusPaletteFailed : kStatusWriteFailed;
        EXPECT_EQ(Export(disk, dir / "missing/a.pvz"), code);
        EXPECT_EQ(Export(disk, dir / "missing/a.pvr"), code);
    }
    EXPECT_TRUE(Snapshot(dir.path).empty());
}

// Runs the export in a child process whose files may not grow beyond
// `limit` bytes (SIGXFSZ ignored, so writes fail with EFBIG); gives its code.
int ExportOnFullDisk(const std::string& path, TextureSettings settings, rlim_t limit) {
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(100);
        DiskPlatform disk;
        disk.settings = settings;
        StubHost host;
        host.SetSource(256, 256, 0, 0, Gradient);
        const int status = ExportTexture(path.c_str(), &host.image, &host.services, &disk.exporter);
        _exit(disk.LiveBlocks() == 0 ? status : 101);
    }
    int wstatus = 0;
    if (child < 0 || waitpid(child, &wstatus, 0) != child || !WIFEXITED(wstatus)) return -1;
    return WEXITSTATUS(wstatus);
}

TEST(ExportFailure, FullDisk) {
    struct FullCase {
        const char* name;
        TextureSettings settings;
        rlim_t limit;
        int code;
    } cases[] = {
        {"a.pvr", {1, 0, 0}, 4096, kStatusWriteFailed},         // 131104 bytes do not fit
        {"a.pvz", {1, 0, 0}, 64, kStatusWriteFailed},           // nor the container
        {"a.pvr", {7, 0, 0}, 100, kStatusPaletteFailed},        // the 528-byte palette does not fit
        {"a.pvr", {7, 0, 0}, 1024, kStatusWriteFailed},         // the palette fits, the texture not
        {"a.pvr", {5, 2, 0}, 40, kStatusPaletteFailed},         // nor a 48-byte palette
    };
    for (const FullCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " limit " << c.limit);
        TestFolder dir;
        WriteFile(dir / c.name, std::string(200, 'T'));   // longer than some limits: never rewritten
        WriteFile(dir / "a.pvp", "old palette");
        const auto before = Snapshot(dir.path);
        EXPECT_EQ(ExportOnFullDisk(dir / c.name, c.settings, c.limit), c.code);
        EXPECT_EQ(Snapshot(dir.path), before);
    }
    // The same exports with room to spare replace both files.
    TestFolder dir;
    WriteFile(dir / "a.pvr", "old");
    WriteFile(dir / "a.pvp", "old");
    EXPECT_EQ(ExportOnFullDisk(dir / "a.pvr", {7, 0, 0}, 1 << 20), kStatusDone);
    auto after = Snapshot(dir.path);
    EXPECT_TRUE(after.size() == 2 && after[dir / "a.pvr"].size() == 32 + 256 * 256);
    EXPECT_EQ(after[dir / "a.pvp"].size(), 528u);   // a direct-colour image of many colours: quantised to 256
}

}   // namespace
