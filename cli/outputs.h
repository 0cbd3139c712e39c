// Output planning: before anything runs, every input gets its outputs, in
// input order, so that no two jobs ever write one file and no job writes
// over an input.
#pragma once

#include <string>
#include <vector>

#include "arguments.h"
#include "convert.h"
#include "inputs.h"

// One file of a batch: its input, its planned outputs, and what came of it.
struct Job {
    Item item;
    std::string output;     // decode: the PNG; encode: the texture, or with pickName its folder and stem
    bool pickName;          // encode: the texture's name is picked when the job runs (PickTextureName)
    ConvertReport report;
    EncodeOutcome encoded;
    TextureSummary texture; // info of a texture
    PictureSummary picture; // info of a PNG
    bool isPicture;         // info: a PNG
    bool failed;
    bool finished;          // under the batch's lock
};

// The PNG a texture decodes to, the texture a picture encodes to (or its
// stem), and their folders made. A job whose outputs (the texture's stem
// with any container and its .pvp; the PNG; --raw) would meet another's, or
// fall on an input, gets its problem instead. Names that differ only in
// letter case meet where the folder's file system takes them for one file.
void PlanOutputs(const Options& options, std::vector<Job>* jobs);

// Before a batch writes anything: in every folder it writes to, what runs
// that died there left (their staged files and journals, told by the run id
// in their names) is finished or removed: a pair cut by a crash comes back
// whole, old or new (see CommitPair). Says on `err` what it finished.
void RecoverOutputFolders(const Options& options, const std::vector<Job>& jobs, FILE* err);
