// What every DataType and ColorFormat code means, in one table each, and the
// rules that follow from them: texel order and size, the mip chain in front
// of the full-size level, the PVZ run unit, the import's picture kind, what the
// export writes, and the size rules a texture must meet before a texel is read.
// Every other place asks these functions; none decides a code's meaning again.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "texture.h"

// Texel order of a DataType; also the decoder that reads it.
enum {
    kDecoderNone = 0,        // nothing is decoded (the picture is created and tagged)
    kDecoderTwiddled = 1,
    kDecoderRectangle = 2,
    kDecoderVq = 3,          // 256-entry codebook, one index byte per 2x2 block
    kDecoderSmallVq = 4,     // 16-entry codebook, one index nibble per 2x2 block
};

// Texel size of a DataType that leaves it to the ColorFormat.
enum { kBitsByColorFormat = 0 };

// Who writes a DataType.
enum {
    kWrittenByNone = 0,
    kWrittenByPlugin = 1,     // the export plug-in (and the converter)
    kWrittenByConverter = 2,  // the converter only (mip chains, VQ)
};

struct DataTypeRow {
    uint8_t decoder;        // kDecoder...: the texel order
    uint8_t texelBits;      // 4, 8, 16, or kBitsByColorFormat (twiddled layouts 1, 2, 6, 8, 13)
    uint8_t mipBits;        // bits of the elements MipChainOffset counts in front of the full level; 0: no chain
    uint8_t pvzUnit;        // PVZ run unit in bytes
    uint8_t writer;         // kWrittenBy...
    const char* name;       // short description, or null for codes without a layout
};
// Every code 0 to 255 has a row; codes without a layout share one.
const DataTypeRow& DataTypeLayout(unsigned dataType);

struct ColorFormatRow {
    const char* name;        // "ARGB1555" ... "PAL8", null above 6
    uint8_t texelBits;       // under kBitsByColorFormat: 16, or 4 (PAL4) and 8 (PAL8) palette indices
    uint16_t indexedEntries; // the import's picture: indexed with 16 or 256 entries, 0 direct colour
    uint8_t alphaBits;       // bits of alpha a 16-bit colour keeps: 1, 4, or 0 (none, or no colour)
};
// Every code 0 to 255 has a row; codes above 6 share one. Which codes have a
// ChannelTable row (16-bit colour with a conversion) says HasChannelRow.
const ColorFormatRow& ColorFormatLayout(unsigned colorFormat);

// Bits of alpha a colour of this ColorFormat keeps (ARGB1555 1, ARGB4444 4,
// every other code 0).
inline unsigned AlphaBits(unsigned colorFormat) { return ColorFormatLayout(colorFormat).alphaBits; }

// The containers, and the one a path names (for reading and writing alike):
// a path whose last three characters are "pvr" in any letter case is a plain
// texture; every other ending (".pvz", none) a PVZ container. The dot plays no
// part; a path of fewer than three characters names a PVZ container.
enum { kContainerPvr = 0, kContainerPvz = 1 };
int ContainerOfPath(const char* path);

// Whether a DataType's texels are palette indices whose colours stand in a
// .pvp file beside the texture (DataType 5 and 7), and how many entries its
// indices reach (16 or 256; 0 for the others).
bool HasPaletteFile(unsigned dataType);
unsigned PaletteIndexLimit(unsigned dataType);
// The entries a texture's texels reach as palette indices: 16 for 4-bit
// indices, 256 for 8-bit ones, 0 when its texels are colours.
unsigned IndexEntries(unsigned dataType, unsigned colorFormat);
// The palette of the picture the import makes of a texture: 16 or 256
// entries where the DataType fixes 4-bit or 8-bit indices (5, 7), else the
// ColorFormat's (5: 16, 6: 256, others 0) whatever the layout; the import
// then reads a .pvp for it (ReadsPaletteFile). Only DataType 5 and 7 are
// written with one (HasPaletteFile).
unsigned ImportPaletteEntries(unsigned dataType, unsigned colorFormat);
inline bool ReadsPaletteFile(unsigned dataType, unsigned colorFormat) {
    return ImportPaletteEntries(dataType, colorFormat) != 0;
}
// The ColorFormat a texture's .pvp entries are read and written in: the
// header's, but for a plain texture of DataType 7 that says RGB565, whose
// palette is ARGB1555.
unsigned PaletteFormat(int container, unsigned dataType, unsigned colorFormat);

// Name of a ColorFormat code ("ARGB1555" ... "PAL8"), or null for codes above 6.
const char* ColorFormatName(unsigned colorFormat);
// Short description of a DataType code ("twiddled", "VQ, mip chain", ...), or null.
const char* DataTypeName(unsigned dataType);

// Bits of one texel: 4, 8 or 16 (VQ: of one codebook texel); 0 for a
// DataType without layout.
unsigned TexelBits(unsigned dataType, unsigned colorFormat);

// Whether a DataType is one of the VQ layouts (a codebook of 2x2 blocks and
// a map of their indices), and how many entries its codebook holds: 256, 16
// for small VQ, 0 for the others.
bool IsVqLayout(unsigned dataType);
unsigned VqCodebookEntries(unsigned dataType);
// Bits of alpha the pixels of a texture keep whose colours are stored in
// ColorFormat `colours` (the header's, or for DataType 5 and 7 its palette's,
// PaletteFormat): none under the VQ layouts, which show every block opaque,
// else AlphaBits(colours).
unsigned KeptAlphaBits(unsigned dataType, unsigned colours);

// The ending a file of a container is named with (".pvr", ".pvz"), and
// whether a name ends in either, in any letter case: how textures are found
// among a folder's files and how a texture is named from a picture.
const char* ContainerEnding(int container);
bool HasTextureEnding(const char* name);

// Modes of the twiddled codecs besides the ColorFormats of 16-bit texels.
enum { kModePal4 = 5, kModePal8 = 6 };
// The mode of a texture's texels: kModePal4 or kModePal8 for 4-bit and 8-bit
// indices, else the ColorFormat; and back, the bits of a mode's texels.
unsigned TexelMode(unsigned dataType, unsigned colorFormat);
inline unsigned ModeBits(unsigned mode) { return mode == kModePal4 ? 4 : mode == kModePal8 ? 8 : 16; }

// The largest picture any texture may ask the host for (8192 x 8192 pixels):
// a lying header cannot make the host allocate gigabytes.
enum : uint32_t { kMaxPicturePixels = 1u << 26 };

// A header's texture as the readers use it, checked against its layout.
// Offsets count bytes from the start of the texel data; `needed` is the number
// of texel bytes the layout addresses, offset included.
struct TexelLayout {
    unsigned dataType;
    int decoder;            // kDecoder...
    unsigned mode;          // twiddled: kModePal4, kModePal8 or the ColorFormat; else the ColorFormat
    unsigned colorFormat;   // the ColorFormat the texels are read with
    uint32_t width, height;
    uint64_t offset;        // full-size level (texel layouts) or index map (VQ)
    uint64_t needed;
};

// Why a texture cannot be read. 0 is fine; every failure is negative.
enum {
    kTextureOk = 0,
    kTextureShortFile = -1,        // shorter than its header (32 bytes .pvr, 36 bytes .pvz)
    kTextureBadMagic = -2,         // "GBIX" or "PVRT" not at its place
    kTextureBadSize = -3,          // a side of 0, a twiddled side not a power of two, or too many pixels
    kTextureTwiddledTooLarge = -4, // smaller side above 1024 in a twiddled layout
    kTextureVqShape = -5,          // VQ texture not square, not a power of two, or a side above 2048
    kTextureTooSmall = -6,         // too small for its layout (see PlanTexels)
    kTextureShortData = -7,        // fewer texel bytes than the layout addresses
    kTexturePvzSizeShort = -8,     // .pvz size field minus 32 below what the layout needs
    kTexturePvzOverflow = -9,      // .pvz stream expands beyond its size field
    kTexturePvzTooLarge = -10,     // .pvz block too large to allocate
    kTextureNoMemory = -11,        // .pvz block could not be allocated
    // Why a picture of a size cannot be written with some codes (CheckWritable):
    kTextureNotWritten = -20,      // the DataType or the pair is not written by this writer
    kTextureNotSquare = -21,       // a mip chain of texels (DataType 2) is square
    kTextureOver4GiB = -22,        // the texture would pass 4 GiB
};
// English description of a kTexture... code, for a converter's messages.
[[nodiscard]] const char* TextureResultText(int code);

// Why a texture that reads puts no pixels in the picture: its DataType has
// no texel layout, or its texels' ColorFormat no colour conversion.
enum { kUndecodedNoLayout = 0, kUndecodedNoConversion = 1 };
int UndecodedReason(const TexelLayout& layout);
const char* UndecodedText(int reason);   // "no texel layout" or "no colour conversion"

// Bytes of a twiddled texture's texels at `bits` per texel, or a negative
// code: sides not powers of two or the smaller one above 1024; 4-bit texels
// need both sides of at least 2, 8-bit ones a height of at least 2 (texels
// are taken in pairs of rows).
[[nodiscard]] int TwiddledExtent(uint32_t width, uint32_t height, unsigned bits, uint64_t* bytes);
// Bytes of a row-by-row texture of 16-bit texels: any sides of at least 1.
[[nodiscard]] int RectangleExtent(uint32_t width, uint32_t height, uint64_t* bytes);
// Bytes of a VQ index map: square sides, powers of two, 2 to 2048 (small VQ 4 to 2048).
[[nodiscard]] int VqExtent(uint32_t width, uint32_t height, bool small, uint64_t* indexBytes);

// Bytes in front of a texture's full-size level: the codebook of the VQ
// layouts and the smaller levels of a mip chain (counted from the width, or
// for VQ from the block grid's side, width / 2).
uint64_t FullLevelOffset(unsigned dataType, uint32_t width);

// Chooses the decoder for a header's codes and checks the sides against that
// layout and kMaxPicturePixels. Gives kTextureOk and fills `layout`, or a
// negative code (the layout is then filled as far as it could be).
[[nodiscard]] int PlanTexels(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height,
                             TexelLayout* layout);

// Whether a planned texture paints pixels: a decoder, and palette indices
// or 16-bit colour with a ChannelTable row.
inline bool LayoutPaints(const TexelLayout& layout) {
    return layout.decoder != kDecoderNone && (ModeBits(layout.mode) != 16 || HasChannelRow(layout.mode));
}

// The run unit of a PVZ container in bytes: 1 for DataType 5 to 8, else 2.
unsigned PvzUnitSize(unsigned dataType);

// Whether a writer (kWrittenByPlugin, or kWrittenByConverter for everything
// the converter writes) writes a texture with these codes: a DataType it
// writes and a ColorFormat with a channel row, or under the twiddled layouts
// without a mip chain that leave the texel size to it, the palette codes 5
// and 6. The mip chains whose elements are not 16-bit colour (DataType 6 and
// 8) are written by none: the format of their palette is recorded nowhere.
bool IsWritablePair(unsigned dataType, unsigned colorFormat, unsigned writer);
// Why no writer writes a DataType that has a texel layout (DataType 6 and
// 8), or null.
const char* NotWrittenReason(unsigned dataType);
inline bool IsExportablePair(unsigned dataType, unsigned colorFormat) {
    return IsWritablePair(dataType, colorFormat, kWrittenByPlugin);
}

// Why a picture of this size cannot be written with these codes: 0
// (kTextureOk), the size codes of PlanTexels, or kTextureNotWritten,
// kTextureNotSquare or kTextureOver4GiB.
// `needed` receives the texel bytes the layout takes (full level and all in front).
[[nodiscard]]
int CheckWritable(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height, unsigned writer,
                  uint64_t* needed);

// Whether a code is one the converter takes for --type (a DataType anyone
// writes) and --color (a ColorFormat with a channel row, or the index codes).
bool IsWrittenDataType(unsigned dataType);
bool IsWrittenColorFormat(unsigned colorFormat);

// Bytes of texel data the export writes for these codes at this size; 0 when
// the pair is not exportable.
uint64_t TexelLength(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height);
