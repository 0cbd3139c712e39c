// Everything ombr prints, from one place: the progress bar, each file's
// failure and warnings, the -v lines, what `info` tells (text or JSON) and
// the summary.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include <string>

#include "convert.h"

struct Reporter {
    FILE* out;
    FILE* err;
    bool json;
    // The progress bar, on `err` when it is a terminal.
    bool progress;
    size_t total;
    size_t done;
    int columns;
    bool shown;
    size_t printed;   // info records printed so far
};
void InitReporter(Reporter* reporter, FILE* out, FILE* err, bool json, bool progress, size_t total);

// The bar, after `done` files, naming the one just finished; and cleared.
void ShowProgress(Reporter* reporter, const char* name);
void ClearProgress(Reporter* reporter);

// A file that could not be converted, and the warnings of one (lines).
void ReportFailure(Reporter* reporter, const char* path, const char* text);
void ReportWarnings(Reporter* reporter, const char* path, const char* lines);
// The -v line of a file converted.
void ReportDecoded(Reporter* reporter, const char* input, const char* output);
void ReportEncoded(Reporter* reporter, const char* input, const EncodeOutcome& outcome);

// `info`: one record per argument, failures too.
void BeginInfo(Reporter* reporter);
void ReportTextureInfo(Reporter* reporter, const char* path, const TextureSummary& summary);
void ReportPictureInfo(Reporter* reporter, const char* path, const PictureSummary& summary);
void ReportInfoProblem(Reporter* reporter, const char* path, const char* problem);
void EndInfo(Reporter* reporter);

// `gallery`: the -v line of a texture ("PATH: WHAT DETAIL"), and the summary
// ("ombr gallery: N textures (R redone, U unchanged), D not decoded -> PAGE").
void ReportGalleryTexture(Reporter* reporter, const char* path, const char* what, const char* detail);
void ReportGallerySummary(Reporter* reporter, size_t textures, size_t redone, size_t notDecoded, size_t failed,
                          const char* page);

// "ombr decode: N converted, M failed", and the failed files of a batch.
// For encode, `replaced` counts the files of each kReplaced... state
// (unchanged, changed, new, written anew); `dryRun`: nothing was written.
void ReportSummary(Reporter* reporter, const char* command, size_t converted, size_t failed, bool interrupted,
                   const size_t* replaced = nullptr, bool dryRun = false);
void ReportFailedFiles(Reporter* reporter, const std::string* paths, size_t count);
