#include "outputs.h"

#include <map>
#include <set>

#include "files.h"
#include "layout.h"
#include "messages.h"
#include "palette.h"
#include "paths.h"

namespace {

// The name a texture of this picture goes by whatever its container: the
// stem without ".png" and without a texture's ending.
std::string TextureStem(const std::string& picture) {
    std::string stem = picture;
    if (EndsWithNoCase(stem, ".png") && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    if (HasTextureEnding(stem.c_str()) && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    return stem;
}

// The names a job writes, as keys that meet where the file system would
// make them one file.
std::vector<std::string> Keys(const Options& o, const Job& job) {
    std::vector<std::string> keys;
    if (o.command == kCommandDecode) {
        keys.push_back(OutputKey(job.output.c_str()));
        if (o.raw) keys.push_back(OutputKey(o.raw));
    } else if (job.pickName) {
        keys.push_back(OutputKey((TextureStem(job.output) + ".*").c_str()));
    } else {
        keys.push_back(OutputKey(job.output.c_str()));
        // Its palette, named as the export names it.
        char palette[kPathRoom];
        if (MakePalettePath(job.output.c_str(), palette, sizeof palette)) keys.push_back(OutputKey(palette));
    }
    return keys;
}

// Names as keys, and where two meet: the same key, or keys that differ only
// in letter case in a folder whose file system takes them for one file
// (asked only when that happens, once a folder).
struct Names {
    std::set<std::string> exact;
    std::set<std::string> folded;
    std::map<std::string, bool>* folds;   // folder: whether it folds case
};

bool Meets(const Names& names, const std::string& key) {
    if (names.exact.count(key)) return true;
    if (!names.folded.count(LowerAscii(key))) return false;
    const std::string folder = FolderOf(key).empty() ? "." : FolderOf(key);
    auto known = names.folds->find(folder);
    if (known == names.folds->end()) known = names.folds->emplace(folder, FolderFoldsCase(folder.c_str())).first;
    return known->second;
}

void Add(Names* names, const std::string& key) {
    names->exact.insert(key);
    names->folded.insert(LowerAscii(key));
}

}  // namespace

void PlanOutputs(const Options& o, std::vector<Job>* jobs) {
    std::map<std::string, bool> folds;
    Names inputs = {{}, {}, &folds}, planned = {{}, {}, &folds};
    for (const Job& job : *jobs) Add(&inputs, OutputKey(job.item.path.c_str()));
    for (Job& job : *jobs) {
        std::string& problem = job.item.problem;
        if (!problem.empty()) continue;
        const std::string& name = o.outDir ? job.item.relative : job.item.path;
        const std::string placed = o.outDir ? JoinPath(o.outDir, name) : name;
        job.pickName = o.command == kCommandEncode && !o.output;
        if (o.output) job.output = o.output;
        else job.output = o.command == kCommandDecode ? ReplaceExtension(placed, ".png") : placed;
        // A texture whose name is picked later is named as it goes by default.
        const std::string said =
            job.pickName ? TextureNameFor(job.output, o.container == kContainerChoiceNone ? kContainerChoicePvz
                                                                                             : o.container)
                         : job.output;
        for (const std::string& key : Keys(o, job)) {
            if (Meets(inputs, key)) problem = TextWith(kTextReplacesInput, said);
            else if (Meets(planned, key)) problem = TextWith(kTextSameOutput, said);
            if (!problem.empty()) break;
        }
        if (!problem.empty()) continue;
        for (const std::string& key : Keys(o, job)) Add(&planned, key);
        const std::string folder = o.outDir ? FolderOf(job.output) : std::string();
        if (!folder.empty() && MakeDirectories(folder.c_str()) != 0) problem = TextWith(kTextNoFolder, folder);
    }
}

static std::string FolderOrHere(const std::string& path) {
    const std::string folder = FolderOf(path);
    return folder.empty() ? (BaseNameStart(path) == 1 ? path.substr(0, 1) : ".") : folder;
}

std::vector<std::string> OutputFolders(const Options& o, const std::vector<Job>& jobs) {
    std::set<std::string> folders;
    for (const Job& job : jobs) {
        if (!job.item.problem.empty()) continue;
        folders.insert(FolderOrHere(job.output));
        if (o.raw) folders.insert(FolderOrHere(o.raw));
    }
    return std::vector<std::string>(folders.begin(), folders.end());
}
