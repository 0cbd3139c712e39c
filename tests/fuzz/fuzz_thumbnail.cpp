// The thumbnail handler's portable entry, fed the import's inputs (the same
// layout and seeds as fuzz_import): the texture and its palette as bytes,
// the side from the flags. Explorer runs this on any file named .pvr or .pvz:
// whatever the bytes, a picture of the promised size or a failure with none,
// nothing read outside the input, every block freed.
#include <stdint.h>
#include <string.h>

#include "fuzz_check.h"
#include "import_core.h"
#include "import_input.h"
#include "thumbnail_core.h"

namespace {

const uint32_t kSides[8] = {1, 7, 16, 32, 40, 96, 256, 1024};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const ImportInput in = SplitImportInput(data, size);
    const uint8_t flags = in.flags;
    const uint8_t* texture = in.texture;
    const size_t textureSize = in.textureSize;

    const char* name = flags & kImportFlagOddPath ? (flags & kImportFlagPvz ? "C:\\t\\x.PVZ" : "x.bin")
                                                  : (flags & kImportFlagPvz ? "x.pvz" : "C:\\t\\x.pvr");
    const bool withPalette = flags & kImportFlagPaletteBeside;
    const uint32_t side = kSides[flags >> 4 & 7];
    ThumbnailInput input = {texture, textureSize, name, withPalette ? in.palette : nullptr,
                            withPalette ? in.paletteSize : 0, side, kFuzzMaxPixels};
    (void)ThumbnailNeedsPalette(texture, textureSize, name);
    ThumbnailPicture picture;
    const int result = MakeTextureThumbnail(input, &picture);
    FUZZ_CHECK(result == kThumbnailOk || result == kThumbnailRefused || result == kThumbnailTooLarge ||
               result == kThumbnailNoMemory);
    TextureCheck check;
    const bool isTexture = CheckTextureFile(texture, textureSize, name, &check) == kTextureOk;
    if (result == kThumbnailOk) {
        // A texture the import takes, at most as large as allowed, its longer
        // side shrunk to `side` when it was longer.
        FUZZ_CHECK(isTexture && picture.pixels);
        const uint32_t width = check.info.width, height = check.info.height;
        FUZZ_CHECK((uint64_t)width * height <= kFuzzMaxPixels);
        const uint32_t longer = width > height ? width : height;
        const uint32_t outLonger = picture.width > picture.height ? picture.width : picture.height;
        FUZZ_CHECK(picture.width >= 1 && picture.height >= 1 && outLonger == (longer < side ? longer : side));
        FUZZ_CHECK(longer > side || (picture.width == width && picture.height == height));
        FUZZ_CHECK((picture.width <= width) && (picture.height <= height));
        // Shrunk, a fully transparent pixel has no colour.
        if (longer > side)
            for (size_t i = 0; i < (size_t)picture.width * picture.height; i++)
                FUZZ_CHECK(picture.pixels[i] >> 24 != 0 || picture.pixels[i] == 0);
    } else {
        FUZZ_CHECK(!picture.pixels && picture.width == 0 && picture.height == 0);
        FUZZ_CHECK(result != kThumbnailTooLarge || (isTexture && (uint64_t)check.info.width * check.info.height > kFuzzMaxPixels));
    }
    FreeThumbnail(&picture);
    return 0;
}
