// The converter's staged files on a disk kept in memory, with Windows paths
// in UTF-8: names tied to the run, path limits counted as Windows counts
// them, and a pair whose commit is cut after any number of changes to the
// disk (what a kill leaves: nothing more changes) made whole by the journal,
// for a pair in one folder and a pair across two.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "encode.h"
#include "export_core.h"
#include "pair_journal.h"

namespace {

// Files by full path; after `left` changes (-1: no end) the disk stands
// still, while every call still says it succeeded, as a killed run leaves it.
struct Disk {
    std::map<std::string, std::string> files;
    int left = -1;
    std::string refused;   // a target no file may be moved to
    unsigned long next = 0;
    bool Change() {
        if (left == 0) return false;
        if (left > 0) left--;
        return true;
    }
    static Disk* Of(void* context) { return static_cast<Disk*>(context); }
};

int Write(void* c, const char* path, const uint8_t* data, size_t length) {
    Disk* d = Disk::Of(c);
    if (d->files.count(path)) return kWriteExists;
    if (d->Change()) d->files[path] = std::string((const char*)data, length);
    return 0;
}

int Move(void* c, const char* from, const char* to) {
    Disk* d = Disk::Of(c);
    if (to == d->refused) return -1;
    if (!d->files.count(from)) return d->left == 0 ? 0 : -1;
    if (d->Change()) {
        d->files[to] = d->files[from];
        d->files.erase(from);
    }
    return 0;
}

void Remove(void* c, const char* path) {
    if (Disk::Of(c)->Change()) Disk::Of(c)->files.erase(path);
}

long Read(void* c, const char* path, uint8_t* out, size_t room) {
    auto found = Disk::Of(c)->files.find(path);
    if (found == Disk::Of(c)->files.end()) return -1;
    const size_t n = found->second.size() < room ? found->second.size() : room;
    memcpy(out, found->second.data(), n);
    return found->second.size() > room ? (long)room + 1 : (long)n;
}

unsigned long Run(void*) { return 4242; }
unsigned long Next(void* c) { return Disk::Of(c)->next++; }
bool Holds(void*, const char*) { return true; }

const ExportFiles kDiskFiles = {Write,   Move,    Remove,            nullptr, Read,
                                nullptr, Run,     Next,              nullptr, nullptr,
                                kPathsWindowsUtf8, 259, CommitJournaledPair, Holds, nullptr};

struct Platform {
    Disk disk;
    ExportPlatform platform;
    Platform() { InitExportPlatform(&platform, &disk, kDiskFiles, kConverterEncoders); }
};

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// What the next run does in the folders of the pair: journals, each with
// its other half (the same name in another folder), then the dead run's
// staged files.
void Recover(Platform* p) {
    p->disk.left = -1;
    std::vector<std::string> journals, staged;
    for (const auto& [path, bytes] : p->disk.files) {
        unsigned long run;
        bool journal;
        if (ParseStagedName(BaseName(path).c_str(), &run, &journal)) (journal ? journals : staged).push_back(path);
    }
    for (const std::string& journal : journals) {
        if (!p->disk.files.count(journal)) continue;
        const char* partner = nullptr;
        for (const std::string& other : journals)
            if (other != journal && BaseName(other) == BaseName(journal) && p->disk.files.count(other))
                partner = other.c_str();
        const int recovered = RecoverPairJournal(p->platform.files, &p->disk, journal.c_str(), partner);
        EXPECT_TRUE(recovered != kRecoverFailed && recovered != kRecoverRefused && recovered != kRecoverWaiting)
            << journal << ": " << recovered;
    }
    for (const std::string& file : staged) p->disk.files.erase(file);
}

}  // namespace

TEST(CliStaging, NamesAndPathLimitsOfUtf8WindowsPaths) {
    Platform p;
    // U+3041 is E3 81 81 in UTF-8: as code page 932 its last byte would be
    // a lead byte hiding the separator after it. (Escapes: this file's
    // literals are compiled to code page 932.)
    StagedFile file;
    ASSERT_EQ(StageFile(p.platform.files, &p.disk, "C:\\\xE3\x81\x81\\a.pvz", (const uint8_t*)"x", 1, &file), 0);
    EXPECT_STREQ(file.temp, "C:\\\xE3\x81\x81\\~4242-0.tmp");
    ASSERT_EQ(StageFile(p.platform.files, &p.disk, "C:\\\xE3\x81\x81\\a.pvz", (const uint8_t*)"y", 1, &file), 0);
    EXPECT_STREQ(file.temp, "C:\\\xE3\x81\x81\\~4242-1.tmp");
    // 259 UTF-16 units fit however many bytes they take; 260 do not.
    std::string folder = "C:\\";
    for (int i = 0; i < 245; i++) folder += "\xE6\x97\xA5";   // U+65E5: 3 bytes, 1 unit each: 248 units
    const std::string longest = folder + "\\abcdef.pvz";
    ASSERT_EQ(longest.size(), 3 + 245 * 3 + 11u);
    EXPECT_TRUE(ExportPathFits(p.platform.files, longest.c_str()));
    EXPECT_FALSE(ExportPathFits(p.platform.files, (folder + "\\abcdefg.pvz").c_str()));
    // Staged beside it in a shorter form where the folder leaves less room.
    ASSERT_EQ(StageFile(p.platform.files, &p.disk, (folder + "\\a.pvz").c_str(), (const uint8_t*)"z", 1, &file), 0);
    EXPECT_EQ(BaseName(file.temp), "~4242-2");

    unsigned long run = 0;
    bool journal = false;
    EXPECT_TRUE(ParseStagedName("~4242-j17.tmp", &run, &journal) && run == 4242 && journal);
    EXPECT_TRUE(ParseStagedName("~7-3", &run, &journal) && run == 7 && !journal);
    for (const char* other : {"~0000.tmp", "~12-.tmp", "~-1.tmp", "~12-3.tmpx", "a~1-2.tmp", "~1-2.TMP"})
        EXPECT_FALSE(ParseStagedName(other, &run, &journal)) << other;
}

// Every cut of a pair's commit, in one folder and across two, with and
// without an old palette: after the next run's recovery both files are old
// or both new, and nothing staged is left. A texture that cannot go in
// brings the old pair back at once.
#define KATAKANA_NAME "\xE3\x83\x86\xE3\x82\xAF\xE3\x82\xB9\xE3\x83\x81\xE3\x83\xA3"   // five characters in UTF-8
TEST(CliStaging, EveryCutOfAPairIsMadeWhole) {
    const struct {
        const char* palette;
        const char* texture;
        bool old;
    } pairs[] = {
        {"C:\\t\\" KATAKANA_NAME ".pvp", "C:\\t\\" KATAKANA_NAME ".pvz", true},
        {"C:\\t\\a.pvp", "C:\\t\\a.pvz", false},
        {"C:\\png\\a.png", "D:\\raw\\a.raw", true},
    };
    for (const auto& pair : pairs) {
        const std::map<std::string, std::string> oldFiles =
            pair.old ? std::map<std::string, std::string>{{pair.palette, "old palette"}, {pair.texture, "old texture"}}
                     : std::map<std::string, std::string>{};
        const std::map<std::string, std::string> newFiles = {{pair.palette, "new palette"},
                                                             {pair.texture, "new texture"}};
        int cuts = 0;
        for (int left = 0;; left++) {
            Platform p;
            p.disk.files = oldFiles;
            StagedFile palette, texture;
            ASSERT_EQ(StageFile(p.platform.files, &p.disk, pair.palette, (const uint8_t*)"new palette", 11, &palette), 0);
            ASSERT_EQ(StageFile(p.platform.files, &p.disk, pair.texture, (const uint8_t*)"new texture", 11, &texture), 0);
            p.disk.left = left;
            const int committed = CommitPair(p.platform.files, &p.disk, &palette, &texture);
            const bool whole = p.disk.left != 0;   // the commit ran to its end
            Recover(&p);
            EXPECT_TRUE(p.disk.files == oldFiles || p.disk.files == newFiles)
                << pair.texture << ", cut after " << left << " changes: " << p.disk.files.size() << " files";
            if (whole) {
                EXPECT_EQ(committed, 0);
                EXPECT_EQ(p.disk.files, newFiles);
                break;
            }
            cuts++;
        }
        EXPECT_GE(cuts, 4) << pair.texture;

        // A texture that cannot be moved in (no crash): the old palette is
        // back, nothing of ours is left, no recovery needed.
        Platform p;
        p.disk.files = oldFiles;
        p.disk.refused = pair.texture;
        StagedFile palette, texture;
        ASSERT_EQ(StageFile(p.platform.files, &p.disk, pair.palette, (const uint8_t*)"new palette", 11, &palette), 0);
        ASSERT_EQ(StageFile(p.platform.files, &p.disk, pair.texture, (const uint8_t*)"new texture", 11, &texture), 0);
        EXPECT_EQ(CommitPair(p.platform.files, &p.disk, &palette, &texture), kCommitLastNotIn);
        EXPECT_EQ(p.disk.files, oldFiles) << pair.texture;
    }
}
