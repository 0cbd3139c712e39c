// The ombr command line: the commands, their options, and what they mean.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "choice.h"

enum { kCommandInfo = 1, kCommandDecode, kCommandEncode, kCommandGallery, kCommandPalette };
enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };


struct Options {
    int command = 0;
    std::vector<std::string> inputs;
    const char* output = nullptr;    // gallery: the folder of the page
    const char* outDir = nullptr;
    const char* palette = nullptr;   // decode: the palette to use; encode: the palette to keep
    const char* raw = nullptr;
    bool json = false;
    bool force = false;
    bool dryRun = false;     // encode: plan and compare, write nothing
    bool recursive = false;
    bool quiet = false;
    bool noWait = false;             // decode, encode: fail at once when another run writes to a folder
    bool verbose = false;
    int container = kContainerChoiceNone;
    int unmapped = 1;                // kUnmapped... of export_palette.h: nearest by default
    unsigned jobs = 0;               // 0: one per processor
    int pngLevel = kPngLevelDefault;
    SettingsChoice choice = NoSettingsChoice();   // palette: --color in colorFormat
};

// 0 parsed; kExitOk with *done for --help and --version (answered on `out`);
// kExitUsage (said on `err`).
int ParseArguments(int argc, const char* const* argv, Options* options, FILE* out, FILE* err, bool* done);

// Parses a decimal or 0x-prefixed hexadecimal number in [0, max].
bool ParseNumber(const char* text, uint64_t max, uint64_t* value);

extern const char kOmbrVersion[];
