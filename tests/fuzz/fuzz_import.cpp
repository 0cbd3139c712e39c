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
#include "memory_platform.h"
#include "palette.h"
#include "texture.h"

namespace {

const char kPathPvr[] = "C:\\tex\\fuzz.pvr";
const char kPathPvz[] = "C:\\tex\\fuzz.pvz";
const char kPathUpper[] = "C:\\tex\\FUZZ.PVR";
const char kPathBin[] = "C:\\tex\\fuzz.bin";
const char kChosenPath[] = "D:\\other\\chosen.pvp";

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
bool PictureTooLarge(const uint8_t* texture, size_t size, const char* path) {
    TextureCheck check;
    if (CheckTextureFile(texture, size, path, &check) != kTextureOk) return false;
    return (uint64_t)check.info.width * check.info.height > kFuzzMaxPixels;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const ImportInput in = SplitImportInput(data, size);
    const uint8_t flags = in.flags;
    const uint8_t* palette = in.palette;
    const size_t paletteSize = in.paletteSize;
    const uint8_t* texture = in.texture;
    const size_t textureSize = in.textureSize;

    const bool pvz = flags & kImportFlagPvz;
    const char* path = flags & kImportFlagOddPath ? (pvz ? kPathBin : kPathUpper) : (pvz ? kPathPvz : kPathPvr);
    FUZZ_CHECK(ContainerOfPath(path) == (pvz ? kContainerPvz : kContainerPvr));
    if (PictureTooLarge(texture, textureSize, path)) return 0;

    MemoryHost host;
    InitMemoryHost(&host);
    host.maxPixels = kFuzzMaxPixels;
    host.trackRepaints = true;
    host.image.pLayer = flags & kImportFlagNoLayer ? nullptr : &host.layer;
    size_t nameLength = flags & kImportFlagLongName ? kLayerNameRoom - 1 - (flags >> 7) * 20 : 7;
    memset(host.layer.szName, 'L', nameLength);

    // The palette file beside the texture, or the one the dialog picks (read
    // into blocks of their exact size, so that reading past the end shows).
    MemoryPlatform files;
    files.allocLimit = kFuzzMaxBlock;
    char derivedPalette[kImportPathCapacity];
    FUZZ_CHECK(MakePalettePath(path, derivedPalette, sizeof derivedPalette));
    const std::vector<uint8_t> paletteFile(palette, palette + paletteSize);
    if (flags & kImportFlagPaletteBeside) files.Put(derivedPalette, paletteFile);
    if (flags & kImportFlagChosenReadable) files.Put(kChosenPath, paletteFile);
    files.cancelPalette = flags & kImportFlagCancel;
    files.chosenPalette = kChosenPath;

    // The texture's bytes are the caller's: `data` ends where they end.
    ImportOutcome outcome;
    const int status = ImportTexture(path, texture, textureSize, &host.image, &host.services, &files.import, &outcome);

    FUZZ_CHECK(files.LiveBlocks() == 0 && files.badFrees == 0);   // every block handed back, on every path
    CheckHostCalls(host);
    FUZZ_CHECK(host.layer.szName[kLayerNameRoom - 1] == '\0');
    FUZZ_CHECK(host.image.nPaletteCount >= 0 && host.image.nPaletteCount <= 256);
    FUZZ_CHECK(files.layerNulls == (host.created && !host.image.pLayer ? 1 : 0));
    // The dialog opens on the derived name only when no file is beside the texture.
    for (const std::string& line : files.log)
        FUZZ_CHECK(line.rfind("dialog ", 0) != 0 || line == std::string("dialog ") + derivedPalette);
    FUZZ_CHECK(files.paletteDialogs == 0 || files.paletteRoom == kImportPathCapacity);
    FUZZ_CHECK(outcome.checked == kTextureOk || status == kStatusUnsupported);
    switch (status) {
    case kStatusDone:
        FUZZ_CHECK(host.created && host.progressBegins == 1);
        // A texture is painted whole or, without a decoder or conversion, not at all.
        FUZZ_CHECK(host.setPixelCalls == 0 || HostPixelsSet(&host) == (uint64_t)host.width * (uint64_t)host.height);
        FUZZ_CHECK((outcome.decoded == kDecodeDone) == (host.setPixelCalls != 0));
        FUZZ_CHECK(outcome.palette != kPaletteNotChosen);
        FUZZ_CHECK(outcome.palette != kPaletteRead || (flags & (kImportFlagPaletteBeside | kImportFlagChosenReadable)));
        break;
    case kStatusUnsupported:   // refused before the host is called
        FUZZ_CHECK(!host.created && host.progressBegins == 0 && files.paletteDialogs == 0);
        FUZZ_CHECK(outcome.checked != kTextureOk);
        break;
    case kStatusCancelled:   // the picture exists; the palette dialog was cancelled
        FUZZ_CHECK(host.created && host.progressBegins == 0 && files.paletteDialogs == 1 && host.setPixelCalls == 0);
        FUZZ_CHECK((flags & (kImportFlagPaletteBeside | kImportFlagCancel)) == kImportFlagCancel);
        FUZZ_CHECK(outcome.palette == kPaletteNotChosen);
        break;
    default:   // 2 is for unusable paths only, and these are not
        FUZZ_CHECK(false);
    }
    FreeMemoryHost(&host);
    return 0;
}
