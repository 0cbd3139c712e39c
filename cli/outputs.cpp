#include "outputs.h"

#include <set>

#include "files.h"
#include "paths.h"

std::string TextureNameFor(const std::string& picture, int containerChoice) {
    std::string stem = picture;
    if (EndsWithNoCase(stem, ".png") && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    if ((EndsWithNoCase(stem, ".pvz") || EndsWithNoCase(stem, ".pvr")) && stem.size() - 4 > BaseNameStart(stem))
        return stem;
    return stem + (containerChoice == kContainerChoicePvr ? ".pvr" : ".pvz");
}

namespace {

// The name a texture of this picture goes by whatever its container: the
// stem without ".png" and without ".pvr" / ".pvz".
std::string TextureStem(const std::string& picture) {
    std::string stem = picture;
    for (const char* end : {".png", ".pvr", ".pvz"})
        if (EndsWithNoCase(stem, end) && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
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
        keys.push_back(OutputKey(ReplaceExtension(job.output, ".pvp").c_str()));
    }
    return keys;
}

}  // namespace

void PlanOutputs(const Options& o, std::vector<Job>* jobs) {
    std::set<std::string> inputs;
    for (const Job& job : *jobs) inputs.insert(OutputKey(job.item.path.c_str()));
    std::set<std::string> planned;
    for (Job& job : *jobs) {
        std::string& problem = job.item.problem;
        if (!problem.empty()) continue;
        const std::string& name = o.outDir ? job.item.relative : job.item.path;
        const std::string placed = o.outDir ? JoinPath(o.outDir, name) : name;
        job.pickName = o.command == kCommandEncode && !o.output;
        if (o.output) job.output = o.output;
        else job.output = o.command == kCommandDecode ? ReplaceExtension(placed, ".png") : placed;
        for (const std::string& key : Keys(o, job)) {
            if (inputs.count(key)) problem = "an output would replace an input: " + job.output;
            else if (planned.count(key)) problem = "another input already goes to " + job.output;
            if (!problem.empty()) break;
        }
        if (!problem.empty()) continue;
        for (const std::string& key : Keys(o, job)) planned.insert(key);
        const std::string folder = o.outDir ? FolderOf(job.output) : std::string();
        if (!folder.empty() && MakeDirectories(folder.c_str()) != 0) problem = "cannot create the folder " + folder;
    }
}
