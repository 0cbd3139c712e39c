// How fuzz_import splits its input, shared with the seed maker:
//   byte 0      flags (below)
//   bytes 1-2   palette length P, little-endian (cut to what follows)
//   P bytes     the palette file
//   the rest    the texture file
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

enum {
    kImportFlagPvz = 1,              // path ends ".pvz" (else ".pvr")
    kImportFlagPaletteBeside = 2,    // the .pvp beside the texture exists
    kImportFlagCancel = 4,           // no palette beside: the dialog is cancelled
    kImportFlagChosenReadable = 8,   // the palette chosen in the dialog can be read
    kImportFlagNoLayer = 16,         // the host image has no layer
    kImportFlagLongName = 32,        // the layer name nearly fills szName
    kImportFlagOddPath = 64,         // ".PVR" / ".bin" instead of ".pvr" / ".pvz"
};

// Textures that the import would accept with a picture above this many
// pixels are skipped before the driver is called (refused ones still go
// through it), and the fuzz platform refuses blocks above kFuzzMaxBlock
// bytes, so memory and time per input stay bounded. Sizes above these are
// swept by tests/import_hostile_test.cpp.
enum : uint32_t { kFuzzMaxPixels = 1u << 16, kFuzzMaxBlock = 1u << 20 };

// The parts of an input (at least 3 bytes): the palette and the texture,
// each ending where the input's bytes say.
struct ImportInput {
    uint8_t flags;
    const uint8_t* palette;
    size_t paletteSize;
    const uint8_t* texture;
    size_t textureSize;
};
inline ImportInput SplitImportInput(const uint8_t* data, size_t size) {
    size_t paletteSize = (size_t)data[1] | (size_t)data[2] << 8;
    if (paletteSize > size - 3) paletteSize = size - 3;
    return {data[0], data + 3, paletteSize, data + 3 + paletteSize, size - 3 - paletteSize};
}

inline std::vector<uint8_t> MakeImportInput(uint8_t flags, const std::vector<uint8_t>& palette,
                                            const std::vector<uint8_t>& texture) {
    std::vector<uint8_t> input = {flags, (uint8_t)palette.size(), (uint8_t)(palette.size() >> 8)};
    input.insert(input.end(), palette.begin(), palette.end());
    input.insert(input.end(), texture.begin(), texture.end());
    return input;
}
