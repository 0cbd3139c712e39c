// Files are written whole under a temporary name beside their target and
// only then moved over it, so a failed export never destroys a file.
#include <stdio.h>
#include <string.h>

#include "export_core.h"

static const char kTempSuffix[] = ".~tmp";
static_assert(sizeof kTempSuffix - 1 == kTempSuffixLength, "suffix length");

int StageFile(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
              StagedFile* file) {
    file->staged = false;
    file->target = target;
    file->temp[0] = '\0';
    const size_t targetLength = strnlen(target, kExportPathRoom);
    if (targetLength >= kExportPathRoom) return -1;
    memcpy(file->temp, target, targetLength);
    memcpy(file->temp + targetLength, kTempSuffix, sizeof kTempSuffix);
    if (platform->WriteWholeFile(platform->context, file->temp, data, length) != 0) return -1;
    file->staged = true;
    return 0;
}

int CommitFile(const ExportPlatform* platform, StagedFile* file) {
    if (!file->staged) return -1;
    file->staged = false;
    if (platform->ReplaceTarget(platform->context, file->temp, file->target) == 0) return 0;
    platform->RemoveFile(platform->context, file->temp);
    return -1;
}

void DiscardFile(const ExportPlatform* platform, StagedFile* file) {
    if (!file->staged) return;
    file->staged = false;
    platform->RemoveFile(platform->context, file->temp);
}

int WriteFileStdio(void*, const char* path, const uint8_t* data, size_t length) {
    FILE* f = fopen(path, "wb");
    if (!f) return -1;
    // Some C libraries report a failed final flush (a full disk) from neither
    // fwrite nor fclose: flush first and look at the stream's error flag.
    const bool written = (length == 0 || fwrite(data, 1, length, f) == length) && fflush(f) == 0 && !ferror(f);
    const bool closed = fclose(f) == 0;
    if (written && closed) return 0;
    remove(path);
    return -1;
}

void RemoveFileStdio(void*, const char* path) { remove(path); }

int CanReplaceStdio(void*, const char* target) {
    FILE* existing = fopen(target, "rb");
    if (!existing) return 1;   // nothing there (or nothing readable) to keep
    fclose(existing);
    // Opening for update changes nothing, and fails for a folder or a
    // read-only file.
    FILE* update = fopen(target, "r+b");
    if (!update) return 0;
    fclose(update);
    return 1;
}

int RenameFileStdio(void*, const char* temp, const char* target) { return rename(temp, target) == 0 ? 0 : -1; }
