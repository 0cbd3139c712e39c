// Before a batch writes anything: the lock of every folder it writes to,
// and there what runs that died left (their journals and staged files).
#include "recover.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "files.h"
#include "pair_journal.h"
#include "paths.h"
#include "run_locks.h"

namespace {

struct Folder {
    std::string path;
    FolderIdentity identity;
};

void SayWaiting(void* err, const char* folder) {
    Say(static_cast<FILE*>(err), "ombr: waiting for another run of ombr writing to %s\n", folder);
}

struct Leftover {
    std::string folder;
    std::string name;
    unsigned long run;
    bool journal;
};

}  // namespace

int GuardFolders(const std::vector<std::string>& paths, bool wait, FILE* err) {
    // One order for every run, by what the folders are: two runs that want
    // the same folders never wait for each other both.
    std::vector<Folder> folders;
    for (const std::string& path : paths) {
        Folder folder = {path, {0, 0}};
        if (IdentifyFolder(path.c_str(), &folder.identity) == 0) folders.push_back(folder);
    }
    std::sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        return a.identity.volume != b.identity.volume ? a.identity.volume < b.identity.volume
                                                      : a.identity.index < b.identity.index;
    });
    std::vector<std::string> held;
    for (size_t i = 0; i < folders.size(); i++) {
        const Folder& folder = folders[i];
        if (i > 0 && folder.identity.volume == folders[i - 1].identity.volume &&
            folder.identity.index == folders[i - 1].identity.index)
            continue;   // one folder by two paths
        const int result = HoldFolder(folder.path.c_str(), wait, SayWaiting, err);
        if (result == kFolderBusy) {
            Say(err, "ombr: %s: another run of ombr is writing there\n", folder.path.c_str());
            LetGoFolders();
            return -1;
        }
        if (result == kFolderHeld) held.push_back(folder.path);
    }

    std::vector<Leftover> left;
    for (const std::string& folder : held) {
        std::vector<FolderEntry> entries;
        if (ListFolder(folder.c_str(), &entries) != 0) continue;
        for (const FolderEntry& entry : entries) {
            Leftover file = {folder, entry.name, 0, false};
            if (!entry.folder && ParseStagedName(entry.name.c_str(), &file.run, &file.journal)) left.push_back(file);
        }
    }
    // Journals first: a pair's other half is the journal of the same name in
    // another of these folders. A journal left as it is keeps its run's files.
    std::set<unsigned long> kept;
    std::set<std::string> done;
    for (const Leftover& file : left) {
        const std::string path = JoinPath(file.folder, file.name);
        if (!file.journal || done.count(path) || !PathExists(path.c_str())) continue;
        std::string partner;
        for (const Leftover& other : left)
            if (other.journal && other.name == file.name && other.folder != file.folder && partner.empty())
                partner = JoinPath(other.folder, other.name);
        done.insert(path);
        if (!partner.empty()) done.insert(partner);
        const int recovered = RecoverPairJournal(kConverterFiles, nullptr, path.c_str(),
                                                 partner.empty() ? nullptr : partner.c_str());
        if (recovered == kRecoverCompleted || recovered == kRecoverRolledBack) {
            Say(err, "ombr: %s: %s the pair of files an interrupted run was replacing there\n", file.folder.c_str(),
                recovered == kRecoverCompleted ? "completed" : "put back");
        } else if (recovered == kRecoverFailed || recovered == kRecoverWaiting || recovered == kRecoverRefused) {
            kept.insert(file.run);
            Say(err, "ombr: %s: %s\n", path.c_str(),
                recovered == kRecoverFailed    ? "cannot finish the files an interrupted run left there"
                : recovered == kRecoverWaiting ? "left as it is: the other half of its pair is in a folder this run "
                                                 "does not write to"
                                               : "left as it is: not a journal of this user's naming only files of "
                                                 "its own folder");
        }
    }
    for (const Leftover& file : left)
        if (!file.journal && !kept.count(file.run))
            kConverterFiles.RemoveFile(nullptr, JoinPath(file.folder, file.name).c_str());
    return 0;
}
