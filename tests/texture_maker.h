// Synthesises PVR textures, PVZ containers and PVPL palettes for tests and
// fuzz seeds: the texel data of any DataType / ColorFormat / size is laid out
// from a function of (x, y), written from the layout rules directly (texel
// index T = TwiddleIndex, byte T for 8-bit, nibble T for 4-bit), not from the
// decoders' unit arithmetic.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// The value of texel (x, y), row 0 being the first row of the texture: a
// 16-bit texel in the texture's ColorFormat for colour layouts (VQ included),
// a palette index for 4-bit and 8-bit layouts (only its low 4 or 8 bits are
// stored).
using TexelFunction = std::function<uint32_t(uint32_t x, uint32_t y)>;

struct TextureShape {
    uint8_t dataType;
    uint8_t colorFormat;
    uint16_t width;
    uint16_t height;
    uint32_t globalIndex;
};

enum TexelKind {
    kTexelNone,      // DataType without layout: 16-bit rows are written
    kTexel16,        // 16-bit colour, twiddled
    kTexel8,         // 8-bit index, twiddled
    kTexel4,         // 4-bit index, twiddled
    kTexelRect,      // 16-bit colour, rectangle
    kTexelVq,        // 256-entry codebook, byte index map
    kTexelSmallVq,   // 16-entry codebook, nibble index map
};
TexelKind TexelKindOf(uint8_t dataType, uint8_t colorFormat);

// The host colour 0xAARRGGBB of a 16-bit texel or palette entry in
// ColorFormat 0 (ARGB1555), 1 (RGB565) or 2 (ARGB4444), from the formats' bit
// fields: each colour field at the top of its byte, the low bits zero;
// alpha scaled to 0..255 (1 bit to 255, 4 bits times 17), RGB565 opaque.
uint32_t MakerColor(uint8_t colorFormat, uint16_t v);

// The 16-bit texel of host colour 0xAARRGGBB in ColorFormat 0, 1 or 2: the
// top bits of each channel in its field (RGB565 drops alpha).
uint16_t MakerPack(uint8_t colorFormat, uint32_t argb);

// The twiddled index of (x, y) in squares of the smaller side m: bits of x
// and y interleaved, y's lowest, the squares one after the other.
uint32_t MakerTwiddle(uint32_t x, uint32_t y, uint32_t m);

// The bytes of a .pvz run's unit: 1 for DataType 5 to 8, 2 for the others.
unsigned MakerPvzUnit(uint8_t dataType);

// Bytes in front of the full-size level (mip chains; VQ: the codebook and
// any mip chain in front of the index map).
uint64_t MakerLevelOffset(uint8_t dataType, uint32_t width);

// Lays out the texel data. Bytes in front of the full-size level get a
// varying filler (so a wrong offset shows), unused codebook entries too.
// False when the layout cannot express the function: a VQ texture with more
// distinct 2x2 blocks than codebook entries, or sizes outside the layout.
bool MakeTexelData(const TextureShape& shape, const TexelFunction& texel, std::vector<uint8_t>* data);

// The 32-byte header as the exporter writes it for `texelLength` bytes.
std::vector<uint8_t> MakeHeader(const TextureShape& shape, uint32_t texelLength);
// The header for `texelLength` bytes, then `bytes` bytes of `fill` (more or
// fewer than the header says, as a test needs).
std::vector<uint8_t> MakeBlankTexture(const TextureShape& shape, uint32_t texelLength, size_t bytes, uint8_t fill = 0);
// A whole .pvr file; empty when MakeTexelData fails.
std::vector<uint8_t> MakePvr(const TextureShape& shape, const TexelFunction& texel);
// The same texture as a .pvz container; empty when MakeTexelData fails.
std::vector<uint8_t> MakePvz(const TextureShape& shape, const TexelFunction& texel);
// Compresses a .pvr file image into a .pvz container.
std::vector<uint8_t> PvrToPvz(std::vector<uint8_t> pvr);
// A PVPL file of `count` entries, entry i = entry(i).
std::vector<uint8_t> MakePaletteFile(uint32_t count, const std::function<uint16_t(uint32_t)>& entry);

// What the tests that go through files share: a hash of a place (pictures
// and texels that depend on it), whole files read and written, and a fresh
// folder under /tmp removed with everything in it.
uint32_t MixBits(uint32_t x, uint32_t y, uint32_t salt);
std::vector<uint8_t> ReadFileBytes(const std::string& path);   // empty when unreadable
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
struct TestFolder {
    std::string path;   // empty when it could not be made
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};
