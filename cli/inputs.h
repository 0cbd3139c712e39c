// The files a command works on: its arguments, and with folders, their files.
#pragma once

#include <string>
#include <vector>

#include "arguments.h"

struct Item {
    std::string path;
    std::string relative;   // below the folder it was found in, or the base name
    std::string problem;    // why it cannot even be tried
    bool fromFolder;        // found in a folder rather than named
};

// Every input in order: named files as they are (a missing one with its
// problem), folders as the files in them the command takes (.pvr/.pvz, or
// .png for encode), their subfolders too when recursive. Links to folders
// are followed, but each folder is read once, however many paths lead to
// it. `anyFolder` tells whether a folder was among the arguments.
std::vector<Item> CollectInputs(const Options& options, bool* anyFolder);
