// The pictures and texel streams the benchmarks work on, built once per
// process on first use and kept (setup is never timed).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Region of a made-up game texture at (x, y) of a side x side picture: a flat
// sky and ground, flat panels, a disk, a gradient band and a noisy patch.
// Gives 0 to 255; regions are flat except the band and the patch.
uint32_t PictureRegion(uint32_t x, uint32_t y, uint32_t side);
// The same picture as an ARGB1555 texel and as a host colour value.
uint32_t Picture1555(uint32_t x, uint32_t y, uint32_t side);
uint32_t PictureColour(uint32_t x, uint32_t y, uint32_t side);

// Texel streams of the run-length benchmarks.
enum StreamKind {
    kStreamLong = 0,     // one unit repeated: records of count 254
    kStreamSingle = 1,   // no two neighbouring units alike: records of count 0
    kStreamMixed = 2,    // the picture, twiddled
};
// A whole texture (32-byte header, then 1 MiB of 1-byte units as DataType 7 or
// 2 MiB of 2-byte units as DataType 1) and the same texture compressed.
const std::vector<uint8_t>& StreamTexture(int kind, unsigned unit);
const std::vector<uint8_t>& StreamContainer(int kind, unsigned unit);

// Texel layouts of the codec benchmarks.
enum LayoutKind {
    kLayoutTwiddled16 = 0,   // DataType 1, ARGB1555
    kLayoutTwiddled8 = 1,    // DataType 7
    kLayoutTwiddled4 = 2,    // DataType 5
    kLayoutRectangle = 3,    // DataType 9, RGB565
    kLayoutVq = 4,           // DataType 3, ARGB4444
    kLayoutSmallVq = 5,      // DataType 16, RGB565
};
struct LayoutInfo {
    const char* name;
    uint8_t dataType;
    uint8_t colorFormat;
};
extern const LayoutInfo kLayouts[6];
// The texel the picture has at (x, y) in that layout (as texture_maker takes it).
uint32_t LayoutTexel(int kind, uint32_t x, uint32_t y, uint32_t side);
// A .pvr file of the picture in that layout at side x side.
const std::vector<uint8_t>& LayoutTexture(int kind, uint32_t side);
// A .pvz container of the picture in that layout at side x side.
const std::vector<uint8_t>& LayoutContainer(int kind, uint32_t side);
// A 256-entry ARGB1555 .pvp file.
const std::vector<uint8_t>& PaletteFile();
