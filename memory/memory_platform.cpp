#include "memory_platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kTrackedBlocks = 64 };   // live blocks held without allocating

// The platform's entries: the context is the MemoryPlatform.
struct MemoryPlatformCalls {
    static MemoryPlatform* Self(void* context) { return static_cast<MemoryPlatform*>(context); }

    static int ReadBlock(void* context, const char* path, size_t limit, uint8_t** block, size_t* size) {
        *block = nullptr;
        *size = 0;
        MemoryPlatform* m = Self(context);
        m->Log("read ", path);
        const auto failure = m->readFailures.find(path);
        if (failure != m->readFailures.end()) return failure->second;
        const MemoryPlatform::File* file = m->Slot(path);
        if (!file) return -1;
        const size_t length = file->bytes.size() < limit ? file->bytes.size() : limit;
        uint8_t* bytes = (uint8_t*)m->Allocate(length, true);
        if (!bytes) return -2;
        if (length) memcpy(bytes, file->bytes.data(), length);
        *block = bytes;
        *size = length;
        return 0;
    }
    static void* AllocBlock(void* context, size_t size) { return Self(context)->Allocate(size, true); }
    static void* AllocHeap(void* context, size_t size) { return Self(context)->Allocate(size, false); }
    static void FreeBlock(void* context, void* block) { Self(context)->Release(block); }
    static int ChoosePalette(void* context, char* path, size_t capacity) {
        MemoryPlatform* m = Self(context);
        m->paletteRoom = capacity;
        if (m->Slot(path)) return 0;
        m->Log("dialog ", path);
        m->paletteDialogs++;
        if (m->cancelPalette) return -1;
        snprintf(path, capacity, "%s", m->chosenPalette.c_str());
        return 0;
    }
    static void LayerNull(void* context) { Self(context)->layerNulls++; }

    static void ShowMessage(void* context, const char* text, const char* caption, unsigned flags) {
        Self(context)->messages.push_back({text, caption, flags});
    }
    static int ChooseSettings(void* context, const HostLayer* layer, const char* path, TextureSettings* settings) {
        MemoryPlatform* m = Self(context);
        m->Log("settings ", path);
        m->settingsDialogs++;
        if (m->chooseSettings) return m->chooseSettings(layer, path, settings);
        if (m->cancelSettings) return -1;
        *settings = m->settings;
        return 0;
    }

    static int WriteWholeFile(void* context, const char* path, const uint8_t* data, size_t length) {
        MemoryPlatform* m = Self(context);
        m->Log("write ", path);
        if (m->failWrite.count(path)) return -1;
        if (m->Slot(path)) return kWriteExists;
        m->NewSlot(path)->bytes.assign(data, data + length);
        return 0;
    }
    static int ReplaceTarget(void* context, const char* temp, const char* target) {
        MemoryPlatform* m = Self(context);
        m->Log("replace ", target);
        MemoryPlatform::File* from = m->Slot(temp);
        if (!from || m->failReplace.count(target) || m->failReplace.count(temp)) return -1;
        MemoryPlatform::File* to = m->Slot(target);
        if (to) {
            to->bytes.swap(from->bytes);
            from->exists = false;
        } else {
            from->name.assign(target);
        }
        return 0;
    }
    static void RemoveFile(void* context, const char* path) {
        MemoryPlatform* m = Self(context);
        m->Log("remove ", path);
        if (MemoryPlatform::File* file = m->Slot(path)) file->exists = false;
    }
    static int CanReplace(void* context, const char* target) {
        return Self(context)->refuseReplace.count(target) ? 0 : 1;
    }
    static long ReadFile(void* context, const char* path, uint8_t* out, size_t room) {
        MemoryPlatform* m = Self(context);
        m->Log("read ", path);
        const MemoryPlatform::File* file = m->Slot(path);
        if (!file || m->readFailures.count(path)) return -1;
        const size_t length = file->bytes.size();
        if (room && length) memcpy(out, file->bytes.data(), length < room ? length : room);
        return length > room ? (long)room + 1 : (long)length;
    }
};

const ExportFiles kMemoryFiles = {MemoryPlatformCalls::WriteWholeFile, MemoryPlatformCalls::ReplaceTarget,
                                  MemoryPlatformCalls::RemoveFile,     MemoryPlatformCalls::CanReplace,
                                  MemoryPlatformCalls::ReadFile,       nullptr,
                                  nullptr, nullptr, nullptr, nullptr, kPathsAnsi, 0, nullptr, nullptr, nullptr};

MemoryPlatform::MemoryPlatform(const LayoutEncoders& encoders) {
    import = {this,
              MemoryPlatformCalls::ReadBlock,
              MemoryPlatformCalls::AllocBlock,
              MemoryPlatformCalls::FreeBlock,
              MemoryPlatformCalls::ChoosePalette,
              MemoryPlatformCalls::LayerNull};
    InitExportPlatform(&exporter, this, kMemoryFiles, encoders);
    exporter.ShowMessage = MemoryPlatformCalls::ShowMessage;
    exporter.ChooseSettings = MemoryPlatformCalls::ChooseSettings;
    exporter.allocator = {MemoryPlatformCalls::AllocHeap, MemoryPlatformCalls::FreeBlock, this};
    live_.reserve(kTrackedBlocks);
}

MemoryPlatform::~MemoryPlatform() {
    for (const Block& block : live_) free(block.address);
}

// ---- files

MemoryPlatform::File* MemoryPlatform::Slot(const char* name) {
    for (File& file : files_)
        if (file.exists && file.name == name) return &file;
    return nullptr;
}

const MemoryPlatform::File* MemoryPlatform::Slot(const char* name) const {
    return const_cast<MemoryPlatform*>(this)->Slot(name);
}

// A file slot for a new name: a free one (its storage reused) or a new one.
MemoryPlatform::File* MemoryPlatform::NewSlot(const char* name) {
    File* slot = nullptr;
    for (File& file : files_)
        if (!file.exists) {
            slot = &file;
            break;
        }
    if (!slot) {
        files_.push_back(File{std::string(), std::vector<uint8_t>(), false});
        slot = &files_.back();
        slot->name.reserve(kExportPathRoom);
    }
    slot->name.assign(name);
    slot->bytes.clear();
    slot->exists = true;
    return slot;
}

void MemoryPlatform::Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    File* file = Slot(name.c_str());
    if (!file) file = NewSlot(name.c_str());
    file->bytes = bytes;
}

const std::vector<uint8_t>* MemoryPlatform::Find(const char* name) const {
    const File* file = Slot(name);
    return file ? &file->bytes : nullptr;
}

void MemoryPlatform::Remove(const std::string& name) {
    if (File* file = Slot(name.c_str())) file->exists = false;
}

std::map<std::string, std::vector<uint8_t>> MemoryPlatform::Files() const {
    std::map<std::string, std::vector<uint8_t>> all;
    for (const File& file : files_)
        if (file.exists) all[file.name] = file.bytes;
    return all;
}

void MemoryPlatform::ReserveFiles(size_t count, size_t bytes) {
    for (size_t i = 0; i < count; i++) {
        files_.push_back(File{std::string(), std::vector<uint8_t>(), false});
        files_.back().name.reserve(kExportPathRoom);
        files_.back().bytes.reserve(bytes);
    }
}

// ---- blocks

void* MemoryPlatform::Allocate(size_t size, bool zeroed) {
    Log("alloc ", size);
    attempts++;
    lastBlock = size;
    if (size > allocLimit || attempts == failAllocation) return nullptr;
    const size_t bytes = size ? size : 1;
    void* block = zeroed ? calloc(bytes, 1) : malloc(bytes);
    if (!block) return nullptr;
    allocations++;
    totalBytes += bytes;
    live_.push_back({block, size});
    liveBytes += size;
    if (liveBytes > peakBytes) peakBytes = liveBytes;
    return block;
}

void MemoryPlatform::Release(void* block) {
    if (!block) return;
    for (size_t i = 0; i < live_.size(); i++) {
        if (live_[i].address != block) continue;
        liveBytes -= live_[i].size;
        live_[i] = live_.back();
        live_.pop_back();
        free(block);
        return;
    }
    badFrees++;
}

void MemoryPlatform::ResetCounts() {
    attempts = allocations = totalBytes = badFrees = 0;
    lastBlock = 0;
    peakBytes = liveBytes;
}

void MemoryPlatform::Log(const char* what, const char* name) {
    if (logging) log.push_back(std::string(what) + name);
}

void MemoryPlatform::Log(const char* what, size_t number) {
    if (logging) log.push_back(what + std::to_string(number));
}

// ---- the drivers

int MemoryPlatform::Import(const char* path, MemoryHost* host, ImportOutcome* outcome) {
    uint8_t* file = nullptr;
    size_t length = 0;
    if (!path || import.ReadFile(this, path, SIZE_MAX, &file, &length) != 0) return kStatusReadFailed;
    const int status = ImportTexture(path, file, length, &host->image, &host->services, &import, outcome);
    Release(file);
    return status;
}

int MemoryPlatform::Export(const char* path, MemoryHost* host, const ExportOptions* options, ExportOutcome* outcome) {
    return ExportPicture(path, &host->image, &host->services, &exporter, options, outcome);
}
