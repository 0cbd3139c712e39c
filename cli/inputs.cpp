#include "inputs.h"

#include <set>
#include <utility>

#include "files.h"
#include "layout.h"
#include "messages.h"
#include "paths.h"

namespace {

struct Walk {
    int command;
    bool recursive;
    std::set<std::pair<uint64_t, uint64_t>> visited;
    std::vector<Item> items;
};

bool Wanted(int command, const std::string& name) {
    if (command == kCommandEncode) return EndsWithNoCase(name, ".png");
    return HasTextureEnding(name.c_str());
}

// False for a folder already read (a folder that cannot be identified is
// read, and its subfolders are still recognised).
bool FirstVisit(Walk* walk, const std::string& folder) {
    FolderIdentity identity;
    if (IdentifyFolder(folder.c_str(), &identity) != 0) return true;
    return walk->visited.insert({identity.volume, identity.index}).second;
}

void WalkFolder(Walk* walk, const std::string& folder, const std::string& relative, size_t* found) {
    std::vector<FolderEntry> entries;
    if (ListFolder(folder.c_str(), &entries) != 0) {
        walk->items.push_back({folder, relative, Text(kTextCannotReadFolder), false});
        return;
    }
    for (const FolderEntry& entry : entries) {
        const std::string path = JoinPath(folder, entry.name);
        const std::string below = relative.empty() ? entry.name : JoinPath(relative, entry.name);
        if (entry.folder) {
            if (walk->recursive && FirstVisit(walk, path)) WalkFolder(walk, path, below, found);
        } else if (Wanted(walk->command, entry.name)) {
            walk->items.push_back({path, below, std::string(), true});
            ++*found;
        }
    }
}

std::string NothingFound(const Options& options) {
    return std::string(Text(options.command == kCommandEncode ? kTextNoPngFiles : kTextNoTextureFiles)) +
           (options.recursive ? "" : Text(kTextSubfoldersHint));
}

}  // namespace

std::vector<Item> CollectInputs(const Options& options, bool* anyFolder) {
    Walk walk;
    walk.command = options.command;
    walk.recursive = options.recursive;
    *anyFolder = false;
    for (const std::string& input : options.inputs) {
        if (IsDirectory(input.c_str())) {
            *anyFolder = true;
            if (!FirstVisit(&walk, input)) continue;   // its files are in already
            size_t found = 0;
            WalkFolder(&walk, input, std::string(), &found);
            if (found == 0) walk.items.push_back({input, std::string(), NothingFound(options), false});
        } else if (!PathExists(input.c_str())) {
            walk.items.push_back({input, std::string(), Text(kTextNoSuchFile), false});
        } else {
            walk.items.push_back({input, input.substr(BaseNameStart(input)), std::string(), false});
        }
    }
    return walk.items;
}
