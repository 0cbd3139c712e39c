// The ombr command line: `ombr info`, `ombr decode`, `ombr encode`, their
// options, batches of files and folders, the progress bar and the summary.
#pragma once

#include <stdio.h>

#include <string>

// Runs one command line (argv[0] is the program). Normal output goes to
// `out`, errors, warnings and the progress bar to `err`. Exit status: 0 when
// every file was handled, 1 when any failed, 2 for a bad command line.
int RunOmbr(int argc, const char* const* argv, FILE* out, FILE* err);

// "1.0.0": the project's version.
extern const char kOmbrVersion[];

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };
enum { kContainerChoicePvz = 0, kContainerChoicePvr = 1 };

// Output names. `path` keeps its folders; the extension is that of the base
// name (a leading dot does not start one).
std::string ReplaceExtension(const std::string& path, const char* extension);
// The texture written for a picture: "a.png" gives "a.pvz" (or "a.pvr");
// "a.pvr.png" gives "a.pvr" whatever the choice.
std::string TextureNameFor(const std::string& picture, int containerChoice);
std::string JoinPath(const std::string& folder, const std::string& name);
// Parses a decimal or 0x-prefixed hexadecimal number in [0, max].
bool ParseNumber(const char* text, long max, long* value);
