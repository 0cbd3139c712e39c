// The benchmarks' host is the shared in-memory host (cli/memory_host.h), its
// storage allocated once, before anything is timed or counted; the codecs and
// the host floor loops run on the same host, so its cost is the same for
// both. Also the in-memory import and export platforms with a counting heap.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "alloc.h"
#include "export_core.h"
#include "host_api.h"
#include "host_stub.h"
#include "import_core.h"

struct BenchHost : StubHost {
    // Room for a picture of up to `capacity` pixels.
    explicit BenchHost(size_t capacity) { ReserveHostPixels(this, capacity); }
    // A created direct-colour picture of width x height with a layer covering
    // it, pixels cleared, progress begun (as after CreateColorImage and
    // BeginProgress, where the decoders run).
    void Picture(int32_t w, int32_t h) {
        SetHostPicture(this, w, h, kColorModeDirect);
        created = true;
        inProgress = true;
    }
};

// Malloc-backed heap that records every block it hands out: the number of
// allocations, the bytes live and the most bytes live at once.
struct CountingHeap {
    enum { kMaxBlocks = 8 };
    struct Block {
        void* address;
        size_t size;
    };
    Block blocks[kMaxBlocks];
    unsigned live;
    unsigned allocations;
    unsigned untracked;   // blocks beyond kMaxBlocks or unknown frees
    size_t liveBytes;
    size_t peakBytes;
    size_t totalBytes;    // as the global tally counts them
};
void ResetHeap(CountingHeap* heap);
void* HeapAllocate(CountingHeap* heap, size_t size, bool zeroed);
void HeapRelease(CountingHeap* heap, void* block);

// Files held in memory, read by the import platform.
struct MemoryFile {
    const char* path;
    const std::vector<uint8_t>* bytes;
};

struct ImportBench {
    MemoryFile files[2];   // the texture and, maybe, its palette
    CountingHeap heap;
    ImportPlatform platform;
};
// The texture at `texturePath`; `palettePath` may be null.
void SetUpImport(ImportBench* bench, const char* texturePath, const std::vector<uint8_t>* texture,
                 const char* palettePath, const std::vector<uint8_t>* palette);

struct ExportBench {
    TextureSettings settings;
    CountingHeap heap;
    ExportPlatform platform = {};
    std::vector<uint8_t> texture;   // what the texture file received; capacity reserved
    std::vector<uint8_t> palette;   // what the palette file received; capacity reserved
    size_t textureLength = 0;
    size_t paletteLength = 0;
    unsigned writes = 0;
    unsigned messages = 0;
};
// Sinks for a texture of up to `textureCapacity` bytes and a palette file.
void SetUpExport(ExportBench* bench, TextureSettings settings, size_t textureCapacity);
