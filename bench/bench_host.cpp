#include "bench_host.h"

#include <stdlib.h>
#include <string.h>

#include "palette.h"

void ResetHeap(CountingHeap* heap) { memset(heap, 0, sizeof *heap); }

void* HeapAllocate(CountingHeap* heap, size_t size, bool zeroed) {
    const size_t bytes = size ? size : 1;
    void* block = zeroed ? calloc(bytes, 1) : malloc(bytes);
    if (!block) return nullptr;
    heap->allocations++;
    heap->totalBytes += bytes;
    if (heap->live < CountingHeap::kMaxBlocks) {
        heap->blocks[heap->live].address = block;
        heap->blocks[heap->live].size = size;
        heap->live++;
        heap->liveBytes += size;
        if (heap->liveBytes > heap->peakBytes) heap->peakBytes = heap->liveBytes;
    } else {
        heap->untracked++;
    }
    return block;
}

void HeapRelease(CountingHeap* heap, void* block) {
    if (!block) return;
    for (unsigned i = 0; i < heap->live; i++) {
        if (heap->blocks[i].address == block) {
            heap->liveBytes -= heap->blocks[i].size;
            heap->blocks[i] = heap->blocks[heap->live - 1];
            heap->live--;
            free(block);
            return;
        }
    }
    heap->untracked++;
    free(block);
}

// The import platform: whole files from memory into zero-filled counted blocks.
static const std::vector<uint8_t>* FindFile(const ImportBench* bench, const char* path) {
    for (const MemoryFile& file : bench->files)
        if (file.path && strcmp(file.path, path) == 0) return file.bytes;
    return nullptr;
}

static int ReadMemoryFile(void* context, const char* path, uint8_t** block, size_t* size) {
    ImportBench* bench = (ImportBench*)context;
    *block = nullptr;
    *size = 0;
    const std::vector<uint8_t>* file = FindFile(bench, path);
    if (!file) return -1;
    uint8_t* bytes = (uint8_t*)HeapAllocate(&bench->heap, file->size(), true);
    if (!bytes) return -2;
    memcpy(bytes, file->data(), file->size());
    *block = bytes;
    *size = file->size();
    return 0;
}
static void* AllocImportBlock(void* context, size_t size) {
    return HeapAllocate(&((ImportBench*)context)->heap, size, true);
}
static void FreeImportBlock(void* context, void* block) { HeapRelease(&((ImportBench*)context)->heap, block); }
static int ChooseMemoryPalette(void* context, char* path, size_t) {
    return FindFile((ImportBench*)context, path) ? 0 : -1;
}
static void IgnoreLayerNull(void*) {}

void SetUpImport(ImportBench* bench, const char* texturePath, const std::vector<uint8_t>* texture,
                 const char* palettePath, const std::vector<uint8_t>* palette) {
    bench->files[0] = {texturePath, texture};
    bench->files[1] = {palettePath, palette};
    ResetHeap(&bench->heap);
    bench->platform.context = bench;
    bench->platform.ReadWholeFile = ReadMemoryFile;
    bench->platform.AllocBlock = AllocImportBlock;
    bench->platform.FreeBlock = FreeImportBlock;
    bench->platform.ChoosePaletteFile = ChooseMemoryPalette;
    bench->platform.ShowLayerNull = IgnoreLayerNull;
}

// The export platform: files land in preallocated sinks, the heap is counted.
static void CountMessage(void* context, const char*, const char*, unsigned) { ((ExportBench*)context)->messages++; }
static int FixedSettings(void* context, const HostLayer*, const char*, TextureSettings* settings) {
    *settings = ((ExportBench*)context)->settings;
    return 0;
}
static void* ExportAlloc(void* context, size_t size) { return HeapAllocate(&((ExportBench*)context)->heap, size, false); }
static void ExportFree(void* context, void* block) { HeapRelease(&((ExportBench*)context)->heap, block); }
static int WriteSink(void* context, const char* path, const uint8_t* data, size_t length) {
    ExportBench* bench = (ExportBench*)context;
    (void)path;   // staged names tell nothing of their target: the bytes do
    if (length == 0) return 0;   // a name reserved to keep an old palette aside
    const bool palette = length >= 4 && memcmp(data, "PVPL", 4) == 0;
    std::vector<uint8_t>& sink = palette ? bench->palette : bench->texture;
    if (length > sink.size()) return -1;
    memcpy(sink.data(), data, length);
    (palette ? bench->paletteLength : bench->textureLength) = length;
    bench->writes++;
    return 0;
}
static int KeepTarget(void*, const char*, const char*) { return 0; }
static void RemoveNothing(void*, const char*) {}

void SetUpExport(ExportBench* bench, TextureSettings settings, size_t textureCapacity) {
    bench->settings = settings;
    ResetHeap(&bench->heap);
    bench->texture.assign(textureCapacity, 0);
    bench->palette.assign(kPaletteMaxFileSize, 0);
    bench->platform.context = bench;
    bench->platform.ShowMessage = CountMessage;
    bench->platform.ChooseSettings = FixedSettings;
    bench->platform.allocator = {ExportAlloc, ExportFree, bench};
    bench->platform.WriteWholeFile = WriteSink;
    bench->platform.ReplaceTarget = KeepTarget;
    bench->platform.RemoveFile = RemoveNothing;
}
