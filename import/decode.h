// Texel decoders of the import: the dispatcher, the twiddled, rectangle and VQ
// decoders, the palette conversion, and the size rules every layout must meet
// before a single texel is read. Everything here is portable and makes no call
// but the host's pixel and progress services.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"
#include "layout.h"

// Results of the decoders: 0 when every texel was handed to the host; 1 when
// nothing was to be decoded (a DataType without decoder, a ColorFormat without
// conversion); a negative kTexture... code when the sizes or the data length
// lie outside the layout, and then no host call at all is made.
enum { kDecodeDone = 0, kDecodeNothing = 1 };

// Decodes the texel data (`length` bytes) of a texture planned by PlanTexels,
// by its decoder.
[[nodiscard]]
int DecodeLayout(const TexelLayout& layout, const uint8_t* data, size_t length, const HostServices* services,
                 HostImage* image);

// Decodes the texture chunk: the 16-byte head of the PVRT chunk (ColorFormat
// at byte 8, DataType at 9, width and height at 12 and 14) followed by the
// texel data; `chunkLength` counts both.
[[nodiscard]] int DecodeTexels(const uint8_t* chunk, size_t chunkLength, const HostServices* services,
                               HostImage* image);

// Twiddled texels from `data` (`length` bytes): mode 5 4-bit indices, mode 6
// 8-bit indices, 0-2 16-bit colour in that ColorFormat; other modes decode
// nothing.
[[nodiscard]] int DecodeTwiddled(const uint8_t* data, size_t length, uint32_t width, uint32_t height, unsigned mode,
                                 const HostServices* services, HostImage* image);

// Row-by-row 16-bit colour texels in ColorFormat 0-2.
[[nodiscard]] int DecodeRectangle(const uint8_t* data, size_t length, uint32_t width, uint32_t height,
                                  unsigned colorFormat, const HostServices* services, HostImage* image);

// VQ: a 256-entry codebook (2048 bytes) and one index byte per 2x2 block.
// Texture row r goes to image row height - 1 - r; alpha is always 255.
[[nodiscard]] int DecodeVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
                           size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
                           const HostServices* services, HostImage* image);

// Small VQ: a 16-entry codebook (128 bytes) and one 4-bit index per block.
[[nodiscard]] int DecodeSmallVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
                                size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
                                const HostServices* services, HostImage* image);

// Converts the entries of a whole .pvp file (`length` bytes) into aPalette
// and sets nPaletteCount: (length - 16) / 2 entries, at most 256, 0 for a
// file shorter than its header. A ColorFormat without conversion changes
// neither the entries nor the count.
void ApplyPalette(HostImage* image, const uint8_t* file, size_t length, unsigned colorFormat);
