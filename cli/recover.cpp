// What runs that died left in the folders a batch writes to.
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "encode.h"
#include "export_core.h"
#include "files.h"
#include "outputs.h"
#include "paths.h"

namespace {

std::string FolderOrHere(const std::string& path) {
    const std::string folder = FolderOf(path);
    return folder.empty() ? (BaseNameStart(path) == 1 ? path.substr(0, 1) : ".") : folder;
}

struct DeadFile {
    std::string path;
    unsigned long run;
    bool journal;
};

}  // namespace

void RecoverOutputFolders(const Options& o, const std::vector<Job>& jobs, FILE* err) {
    std::set<std::string> folders;
    for (const Job& job : jobs) {
        if (!job.item.problem.empty()) continue;
        folders.insert(FolderOrHere(job.output));
        if (o.raw) folders.insert(FolderOrHere(o.raw));
    }
    std::vector<DeadFile> dead;
    for (const std::string& folder : folders) {
        std::vector<FolderEntry> entries;
        if (ListFolder(folder.c_str(), &entries) != 0) continue;
        for (const FolderEntry& entry : entries) {
            DeadFile file = {JoinPath(folder, entry.name), 0, false};
            if (!entry.folder && ParseStagedName(entry.name.c_str(), &file.run, &file.journal) &&
                !RunIsAlive(file.run))
                dead.push_back(file);
        }
    }
    if (dead.empty()) return;
    ExportPlatform platform;
    InitExportPlatform(&platform, nullptr, kConverterFiles, kConverterEncoders);
    // Journals first, in every folder: they name staged files of both
    // folders of a pair. A run whose journal cannot be finished keeps its
    // files for a later try.
    std::set<unsigned long> kept;
    for (const DeadFile& file : dead) {
        if (!file.journal || !PathExists(file.path.c_str())) continue;   // a copy finished with another
        const int recovered = RecoverPairJournal(&platform, file.path.c_str());
        if (recovered == kRecoverFailed) {
            kept.insert(file.run);
            Say(err, "ombr: %s: cannot finish the files an interrupted run left there\n", file.path.c_str());
        } else if (recovered != kRecoverUnreadable) {
            Say(err, "ombr: %s: %s the pair of files an interrupted run was replacing there\n",
                FolderOrHere(file.path).c_str(), recovered == kRecoverCompleted ? "completed" : "put back");
        }
    }
    for (const DeadFile& file : dead)
        if (!file.journal && !kept.count(file.run)) platform.files.RemoveFile(platform.context, file.path.c_str());
}
