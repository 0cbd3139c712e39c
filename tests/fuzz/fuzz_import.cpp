// The whole import path, from the bytes of a .pvr or .pvz file (and of a
// palette file) to the host calls, on the in-memory host, which tells
// afterwards what was called: SetImagePixel only inside the picture created,
// never before it exists, never twice on one pixel; one picture at most;
// progress begun and ended in pairs with the rows in between; every block
// handed back; the status code one of those documented, and what it promises
// about the host.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "import_core.h"
#include "import_input.h"
#include "memory_host.h"
#include "palette.h"
#include "texture.h"

namespace {

const char kPathPvr[] = "C:\\tex\\fuzz.pvr";
const char kPathPvz[] = "C:\\tex\\fuzz.pvz";
const char kPathUpper[] = "C:\\tex\\FUZZ.PVR";
const char kPathBin[] = "C:\\tex\\fuzz.bin";
const char kChosenPath[] = "D:\\other\\chosen.pvp";

// Files and blocks of one import.
struct FuzzPlatform {
    const char* texturePath;
    const uint8_t* texture;
    size_t textureSize;
    const uint8_t* palette;
    size_t paletteSize;
    uint8_t flags;
    std::vector<void*> live;
    int reads = 0, dialogs = 0, layerNull = 0;
    char derivedPalette[kImportPathCapacity];

    static FuzzPlatform* Self(void* c) { return static_cast<FuzzPlatform*>(c); }

    static void* Alloc(void* c, size_t size) {
        if (size > kFuzzMaxBlock) return nullptr;
        void* block = calloc(size, 1);   // exact size: any overrun is reported
        FUZZ_CHECK(block != nullptr);
        Self(c)->live.push_back(block);
        return block;
    }
    static void Free(void* c, void* block) {
        std::vector<void*>& live = Self(c)->live;
        for (size_t i = 0; i < live.size(); i++) {
            if (live[i] == block) {
                live.erase(live.begin() + (long)i);
                free(block);
                return;
            }
        }
        FUZZ_CHECK(false);   // not a live block
    }
    static int Read(void* c, const char* path, uint8_t** block, size_t* size) {
        FuzzPlatform* f = Self(c);
        *block = nullptr;
        *size = 0;
        f->reads++;
        FUZZ_CHECK(strnlen(path, kImportPathCapacity) < kImportPathCapacity);
        const uint8_t* bytes = nullptr;
        size_t length = 0;
        if (strcmp(path, f->texturePath) == 0) {
            bytes = f->texture, length = f->textureSize;
        } else if (f->flags & kImportFlagPaletteBeside && strcmp(path, f->derivedPalette) == 0) {
            bytes = f->palette, length = f->paletteSize;
        } else if (f->flags & kImportFlagChosenReadable && strcmp(path, kChosenPath) == 0) {
            bytes = f->palette, length = f->paletteSize;
        } else {
            return -1;
        }
        uint8_t* copy = (uint8_t*)Alloc(c, length);
        if (!copy) return -2;
        if (length) memcpy(copy, bytes, length);
        *block = copy;
        *size = length;
        return 0;
    }
    static int Choose(void* c, char* path, size_t capacity) {
        FuzzPlatform* f = Self(c);
        f->dialogs++;
        FUZZ_CHECK(capacity == kImportPathCapacity);
        FUZZ_CHECK(strcmp(path, f->derivedPalette) == 0);   // the derived name is offered
        if (f->flags & kImportFlagPaletteBeside) return 0;
        if (f->flags & kImportFlagCancel) return -1;
        memcpy(path, kChosenPath, sizeof kChosenPath);
        return 0;
    }
    static void LayerNull(void* c) { Self(c)->layerNull++; }
};

// What the host saw, call by call: one picture at most, of a size it holds;
// pixels set once each, inside it and between BeginProgress (over its rows)
// and EndProgress; progress steps in order; nothing read back.
void CheckHostCalls(const MemoryHost& host) {
    FUZZ_CHECK(host.createCalls <= 1 && !host.outOfMemory);
    FUZZ_CHECK(host.oddCalls == 0);
    FUZZ_CHECK(host.pixelsBeforeCreate == 0 && host.pixelsOutside == 0 && host.pixelsRepainted == 0);
    FUZZ_CHECK(host.getPixelCalls == 0);   // the import never reads pixels
    FUZZ_CHECK(host.progressBegins <= 1 && host.progressBegins == host.progressEnds && !host.inProgress);
    FUZZ_CHECK(host.progressBegins == 0 || host.progressRows == host.height);
    FUZZ_CHECK(host.stepsOutOfOrder == 0);
}

// A texture the import would take, with a picture above kFuzzMaxPixels.
bool PictureTooLarge(const uint8_t* texture, size_t size, int container) {
    TextureCheck check;
    if (CheckTexture(texture, size, container, &check) != kTextureOk) return false;
    return (uint64_t)check.info.width * check.info.height > kFuzzMaxPixels;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t flags = data[0];
    size_t paletteSize = (size_t)data[1] | (size_t)data[2] << 8;
    if (paletteSize > size - 3) paletteSize = size - 3;
    const uint8_t* palette = data + 3;
    const uint8_t* texture = palette + paletteSize;
    const size_t textureSize = size - 3 - paletteSize;

    const bool pvz = flags & kImportFlagPvz;
    const char* path = flags & kImportFlagOddPath ? (pvz ? kPathBin : kPathUpper) : (pvz ? kPathPvz : kPathPvr);
    FUZZ_CHECK(ContainerOfPath(path) == (pvz ? kContainerPvz : kContainerPvr));
    if (PictureTooLarge(texture, textureSize, pvz ? kContainerPvz : kContainerPvr)) return 0;

    // Palette bytes in a block of their own size, so that reading past the
    // file's end shows even where the texture follows in `data`.
    std::vector<uint8_t> paletteCopy(palette, palette + paletteSize);

    MemoryHost host;
    InitMemoryHost(&host);
    host.maxPixels = kFuzzMaxPixels;
    host.trackRepaints = true;
    host.image.pLayer = flags & kImportFlagNoLayer ? nullptr : &host.layer;
    size_t nameLength = flags & kImportFlagLongName ? kLayerNameRoom - 1 - (flags >> 7) * 20 : 7;
    memset(host.layer.szName, 'L', nameLength);

    FuzzPlatform fp;
    fp.texturePath = path;
    fp.texture = texture;
    fp.textureSize = textureSize;
    fp.palette = paletteCopy.data();
    fp.paletteSize = paletteSize;
    fp.flags = flags;
    FUZZ_CHECK(MakePalettePath(path, fp.derivedPalette, sizeof fp.derivedPalette));
    const ImportPlatform platform = {&fp, FuzzPlatform::Read, FuzzPlatform::Alloc, FuzzPlatform::Free,
                                     FuzzPlatform::Choose, FuzzPlatform::LayerNull};

    const int status = ImportTexture(path, &host.image, &host.services, &platform);

    FUZZ_CHECK(fp.live.empty());   // every block handed back, on every path
    CheckHostCalls(host);
    FUZZ_CHECK(host.layer.szName[kLayerNameRoom - 1] == '\0');
    FUZZ_CHECK(host.image.nPaletteCount >= 0 && host.image.nPaletteCount <= 256);
    FUZZ_CHECK(fp.layerNull == (host.created && !host.image.pLayer ? 1 : 0));
    switch (status) {
    case kStatusDone:
        FUZZ_CHECK(host.created && host.progressBegins == 1);
        // A texture is painted whole or, without a decoder or conversion, not at all.
        FUZZ_CHECK(host.setPixelCalls == 0 || HostPixelsSet(&host) == (uint64_t)host.width * (uint64_t)host.height);
        break;
    case kStatusUnsupported:   // refused before the host is called
        FUZZ_CHECK(!host.created && host.progressBegins == 0 && fp.dialogs == 0);
        break;
    case kStatusCancelled:   // the picture exists; the palette dialog was cancelled
        FUZZ_CHECK(host.created && host.progressBegins == 0 && fp.dialogs == 1 && host.setPixelCalls == 0);
        FUZZ_CHECK((flags & (kImportFlagPaletteBeside | kImportFlagCancel)) == kImportFlagCancel);
        break;
    case kStatusReadFailed:   // only a texture the platform has no block for
        FUZZ_CHECK(textureSize > kFuzzMaxBlock && !host.created);
        break;
    default:
        FUZZ_CHECK(false);
    }
    FreeMemoryHost(&host);
    return 0;
}
