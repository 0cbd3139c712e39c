// Files, blocks and dialogs in memory for the import and export drivers: the
// tests, the benchmarks and the fuzz targets run the drivers on it instead of
// a disk and a user. It answers as it is told (the knobs below), records what
// it was asked, and counts every block it hands out.
//
// Once storage is reserved (ReserveFiles) and the log is off, nothing it does
// during a driver call allocates beyond the blocks it counts, so that a
// benchmark can prove a driver allocates only those.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export_core.h"
#include "import_core.h"
#include "memory_host.h"

struct MemoryPlatform {
    // The export writes with `encoders`.
    explicit MemoryPlatform(const LayoutEncoders& encoders = kPluginEncoders);
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;
    ~MemoryPlatform();   // frees the blocks still live

    ImportPlatform import;
    ExportPlatform exporter;   // filled by InitExportPlatform with the files below

    // ---- files: name -> bytes, names taken as they are
    void Put(const std::string& name, const std::vector<uint8_t>& bytes);
    const std::vector<uint8_t>* Find(const char* name) const;   // null when there is none
    bool Has(const std::string& name) const { return Find(name.c_str()) != nullptr; }
    void Remove(const std::string& name);
    std::map<std::string, std::vector<uint8_t>> Files() const;
    // Room for `count` more files of up to `bytes` bytes each, taken now.
    void ReserveFiles(size_t count, size_t bytes);

    // ---- what goes wrong
    size_t allocLimit = SIZE_MAX;   // blocks of more bytes cannot be had
    uint64_t failAllocation = 0;    // the n-th allocation asked for (1-based) fails; 0: none
    std::map<std::string, int, std::less<>> readFailures;   // ReadFile of that name gives the code (-1 ... -3)
    std::set<std::string, std::less<>> failWrite;      // WriteWholeFile of these names fails
    std::set<std::string, std::less<>> failReplace;    // ReplaceTarget onto or from these names fails (in use)
    std::set<std::string, std::less<>> refuseReplace;  // CanReplace says no (read-only)

    // ---- the user
    bool cancelPalette = false;    // the palette dialog (opened when no file is beside the texture)
    std::string chosenPalette;     // what it picks otherwise
    bool cancelSettings = false;   // the settings dialog
    TextureSettings settings = {1, 0, 0};   // what it answers otherwise
    // Answers the settings dialog instead of the two above when set.
    std::function<int(const HostLayer* layer, const char* path, TextureSettings* settings)> chooseSettings;

    // ---- what was asked
    struct Message {
        std::string text, caption;
        unsigned flags;
    };
    std::vector<Message> messages;
    // "read PATH", "alloc BYTES", "dialog PATH" (the palette dialog opened),
    // "settings PATH", "write PATH", "replace TARGET", "remove PATH".
    std::vector<std::string> log;
    bool logging = true;
    int paletteDialogs = 0;
    size_t paletteRoom = 0;        // the capacity the last palette choice was given
    int settingsDialogs = 0;
    int layerNulls = 0;

    // ---- blocks (import blocks and the export's heap alike)
    uint64_t attempts = 0;         // allocations asked for
    uint64_t allocations = 0;      // and had
    size_t lastBlock = 0;          // bytes of the last allocation asked for
    size_t liveBytes = 0, peakBytes = 0;
    uint64_t totalBytes = 0;       // of the allocations had
    uint64_t badFrees = 0;         // blocks freed that were not live
    size_t LiveBlocks() const { return live_.size(); }
    // Starts the counts afresh (the live blocks stay live).
    void ResetCounts();

    // ---- the drivers
    // What the import plug-in does: the whole file read through ReadFile
    // (status 2 when it cannot be), ImportTexture on its bytes, the block freed.
    int Import(const char* path, MemoryHost* host, ImportOutcome* outcome = nullptr);
    // ExportPicture of the host's layer: a kExport... code.
    int Export(const char* path, MemoryHost* host, const ExportOptions* options = nullptr,
               ExportOutcome* outcome = nullptr);

    // The raw services, for platforms built otherwise.
    void* Allocate(size_t size, bool zeroed);
    void Release(void* block);

private:
    struct File {
        std::string name;
        std::vector<uint8_t> bytes;
        bool exists;
    };
    std::vector<File> files_;
    struct Block {
        void* address;
        size_t size;
    };
    std::vector<Block> live_;

    File* Slot(const char* name);
    const File* Slot(const char* name) const;
    File* NewSlot(const char* name);
    void Log(const char* what, const char* name);
    void Log(const char* what, size_t number);

    friend struct MemoryPlatformCalls;
};

// The export's file functions on a MemoryPlatform (the context).
extern const ExportFiles kMemoryFiles;
