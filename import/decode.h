// Texel decoders of the import: the dispatcher, the twiddled, rectangle and VQ
// decoders, the palette conversion, and the size rules every layout must meet
// before a single texel is read. Everything here is portable and makes no call
// but the host's pixel and progress services.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"

// Why a texture cannot be imported. 0 is fine; every failure is negative and
// the driver answers all of them with status 4.
enum {
    kTextureOk = 0,
    kTextureShortFile = -1,        // shorter than its header (32 bytes .pvr, 36 bytes .pvz)
    kTextureBadMagic = -2,         // "GBIX" or "PVRT" not at its place
    kTextureBadSize = -3,          // a width or height of 0 or not a power of two
    kTextureTwiddledTooLarge = -4, // smaller side above 1024 in a twiddled layout
    kTextureVqShape = -5,          // VQ texture not square, or a side above 2048
    kTextureTooSmall = -6,         // a side below 2 (indices, VQ) or 4 (small VQ)
    kTextureShortData = -7,        // fewer texel bytes than the layout addresses
    kTexturePvzSizeShort = -8,     // .pvz size field minus 32 below what the layout needs
    kTexturePvzOverflow = -9,      // .pvz stream expands beyond its size field
    kTexturePvzTooLarge = -10,     // .pvz block too large to allocate
    kTextureNoMemory = -11,        // .pvz block could not be allocated
};

// English description of a kTexture... code, for a converter's messages.
const char* TextureCheckText(int code);

// Which decoder a DataType selects.
enum {
    kDecoderNone = 0,        // DataType 0, 10-12, 14, 15, above 17: nothing is decoded
    kDecoderTwiddled = 1,    // 1, 2, 5, 6, 7, 8, 13
    kDecoderRectangle = 2,   // 9
    kDecoderVq = 3,          // 3, 4
    kDecoderSmallVq = 4,     // 16, 17
};

// Modes of DecodeTwiddled besides the ColorFormats of 16-bit colour texels.
enum { kModePal4 = 5, kModePal8 = 6 };

// Where a texture's texels lie. Offsets count bytes from the start of the
// texel data; `needed` is the number of texel bytes the layout addresses,
// offset included (64-bit: mip offsets of wide textures pass 32 bits).
struct TexelLayout {
    int decoder;        // kDecoder...
    unsigned mode;      // twiddled: kModePal4, kModePal8 or a ColorFormat; else the ColorFormat
    uint64_t offset;    // full-size level (texel layouts) or index map (VQ layouts)
    uint64_t needed;
};

// The size rules of each layout, shared by the checks and the decoders. Each
// gives kTextureOk and the bytes the texels (the index map for VQ) take, or a
// negative code: sides not powers of two; a twiddled smaller side above 1024;
// a VQ texture not square or above 2048; index modes with a side below 2, VQ
// below 2, small VQ below 4.
int TwiddledExtent(uint32_t width, uint32_t height, unsigned mode, uint64_t* bytes);
int RectangleExtent(uint32_t width, uint32_t height, uint64_t* bytes);
int VqExtent(uint32_t width, uint32_t height, bool small, uint64_t* indexBytes);

// Chooses the decoder for a header and checks that the width and height lie
// within that layout. Gives kTextureOk and fills `layout`, or a negative code.
int PlanTexels(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height,
               TexelLayout* layout);

// Results of the decoders: 0 when every texel was handed to the host; 1 when
// nothing was to be decoded (a DataType without decoder, a ColorFormat without
// conversion); a negative kTexture... code when the sizes or the data length
// lie outside the layout, and then no host call at all is made.
enum { kDecodeDone = 0, kDecodeNothing = 1 };

// Decodes the texture chunk: the 16-byte head of the PVRT chunk (ColorFormat
// at byte 8, DataType at 9, width and height at 12 and 14) followed by the
// texel data; `chunkLength` counts both.
int DecodeTexels(const uint8_t* chunk, size_t chunkLength, const HostServices* services,
                 HostImage* image);

// Twiddled texels from `data` (`length` bytes): mode 5 4-bit indices, mode 6
// 8-bit indices, 0-2 16-bit colour in that ColorFormat; other modes decode
// nothing.
int DecodeTwiddled(const uint8_t* data, size_t length, uint32_t width, uint32_t height, unsigned mode,
                   const HostServices* services, HostImage* image);

// Row-by-row 16-bit colour texels in ColorFormat 0-2.
int DecodeRectangle(const uint8_t* data, size_t length, uint32_t width, uint32_t height,
                    unsigned colorFormat, const HostServices* services, HostImage* image);

// VQ: a 256-entry codebook (2048 bytes) and one index byte per 2x2 block.
// Texture row r goes to image row height - 1 - r; alpha is always 255.
int DecodeVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
             size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
             const HostServices* services, HostImage* image);

// Small VQ: a 16-entry codebook (128 bytes) and one 4-bit index per block.
int DecodeSmallVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
                  size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
                  const HostServices* services, HostImage* image);

// Converts the entries of a whole .pvp file (`length` bytes) into aPalette
// and sets nPaletteCount: (length - 16) / 2 entries, at most 256, 0 for a
// file shorter than its header. A ColorFormat without conversion changes
// neither the entries nor the count.
void ApplyPalette(HostImage* image, const uint8_t* file, size_t length, unsigned colorFormat);
