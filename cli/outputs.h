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

// Every folder the batch's jobs write to (GuardFolders of recover.h holds
// them and finishes what runs that died there left).
std::vector<std::string> OutputFolders(const Options& options, const std::vector<Job>& jobs);
