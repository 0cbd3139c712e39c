// How fuzz_encode splits its input, shared with the seed maker:
//   byte 0      DataType: kEncodeTypes[byte % 12]
//   byte 1      ColorFormat: kEncodeFormats[byte % 6]
//   bytes 2-5   GlobalIndex, little-endian
//   byte 6      flags (below)
//   byte 7      with kEncodeFlagFailAllocation, the allocation that fails: byte % 8 + 1
//   bytes 8, 9  width and height: 1 + byte % 64, or 2^(byte % 7) with kEncodeFlagPowerOfTwo
//   byte 10     picture kind: kPngIndexed + byte % 3; bit 7: it carries alpha
//   byte 11     indexed: palette entries - 1
//   bytes 12-13 length K of the palette file beside the texture, little-endian (cut to what follows)
//   K bytes     that palette file (with kEncodeFlagKnownPalette)
//   the rest    the picture: indexed, 4 bytes a palette entry (RGBA) then one byte a pixel;
//               grey and colour, 4 bytes a pixel (RGBA; grey takes red for all three);
//               repeated to fill the picture
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Every DataType anyone writes, and two no one does.
static const uint8_t kEncodeTypes[12] = {1, 2, 3, 4, 5, 7, 9, 13, 16, 17, 6, 8};
// The colours, the indices, and one without a conversion.
static const uint8_t kEncodeFormats[6] = {0, 1, 2, 5, 6, 3};

enum {
    kEncodeFlagPvr = 1,              // the texture is named ".pvr" (else ".pvz")
    kEncodeFlagKnownPalette = 2,     // a .pvp is beside the texture
    kEncodeFlagUnmapped = 4 | 8,     // kUnmapped... (3: nearest) for colours that palette lacks
    kEncodeFlagMapIndexed = 16,      // an indexed picture maps onto that palette too
    kEncodeFlagPowerOfTwo = 32,      // sides are powers of two
    kEncodeFlagFailAllocation = 64,  // one allocation of the export's heap fails
};
enum { kEncodeHeaderBytes = 14, kEncodeMaxSide = 64 };

inline std::vector<uint8_t> MakeEncodeInput(uint8_t typeIndex, uint8_t formatIndex, uint32_t id, uint8_t flags,
                                            uint8_t width, uint8_t height, uint8_t kind,
                                            const std::vector<uint8_t>& palette, const std::vector<uint8_t>& picture) {
    std::vector<uint8_t> input = {typeIndex, formatIndex, (uint8_t)id, (uint8_t)(id >> 8), (uint8_t)(id >> 16),
                                  (uint8_t)(id >> 24), flags, 0, width, height, kind, 255,
                                  (uint8_t)palette.size(), (uint8_t)(palette.size() >> 8)};
    input.insert(input.end(), palette.begin(), palette.end());
    input.insert(input.end(), picture.begin(), picture.end());
    return input;
}
