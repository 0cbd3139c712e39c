// The import driver: from a texture path, its bytes and a palette file to the
// host calls that build the picture. File access, memory blocks and dialogs
// come from an ImportPlatform, so the same driver serves the plug-in (Win32
// calls) and native tools and tests (anything else).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decode.h"
#include "host_api.h"
#include "texture.h"

enum { kImportPathCapacity = 260 };   // path buffers, terminator included

// What the driver needs from its surroundings. Every block it is handed or
// allocates goes back through FreeBlock before ImportTexture returns.
struct ImportPlatform {
    void* context;
    // Reads a file, or its first `limit` bytes when it is longer, into a new
    // zero-filled block: 0 done; -1 not opened; -2 no memory; -3 fewer bytes
    // read than the file holds. Sets *block and *size to null and 0 before
    // anything else.
    int (*ReadFile)(void* context, const char* path, size_t limit, uint8_t** block, size_t* size);
    // A zero-filled block, or null when no memory can be had.
    void* (*AllocBlock)(void* context, size_t size);
    void (*FreeBlock)(void* context, void* block);
    // Makes `path` (capacity bytes) name the palette file to read: 0 when the
    // file beside the texture exists or the user chose one; -1 when cancelled.
    int (*ChoosePaletteFile)(void* context, char* path, size_t capacity);
    // Tells the user that the image has no layer ("layer null").
    void (*ShowLayerNull)(void* context);
};

// Host image kind, palette size and tag colour code derived from a header.
struct ImportDecision {
    bool indexed;
    int32_t paletteCount;   // 256, 16 or 0
    int tagColor;
};
ImportDecision DecideImport(unsigned dataType, unsigned colorFormat);

// Everything known about a texture before the host is called.
struct TextureCheck {
    int container;          // kContainerPvr or kContainerPvz
    unsigned headerBase;    // 0 (.pvr) or 4 (.pvz)
    TextureInfo info;       // as stored in the file
    unsigned colorFormat;   // as the import uses it (a plain .pvr of DataType 7 reads 1 as 0)
    ImportDecision decision;
    TexelLayout layout;
    uint64_t texelBytes;    // texel bytes present (.pvz: after expansion)
    uint32_t pvzSize;       // .pvz: the size field
    uint64_t pvzBlockSize;  // .pvz: the block the driver allocates for the expansion
};

// Validates a whole file as read (`container` from ContainerOfPath) without
// any host call or allocation: header length, magics, sizes, texel data
// length, and for .pvz the size field and the length the stream expands to.
// Gives kTextureOk or the first failing kTexture... code; `check` is filled
// as far as the file could be read.
[[nodiscard]] int CheckTexture(const uint8_t* file, size_t length, int container, TextureCheck* check);
// CheckTexture in the container the path names, and where the magics are not
// at their place there, in the other one (a texture saved under the other
// container's name still opens).
[[nodiscard]] int CheckTextureFile(const uint8_t* file, size_t length, const char* path, TextureCheck* check);

// How much of a file of `fileLength` bytes at `path` a reader needs, from its
// first bytes `head` (36 hold every header): a .pvr's header and the texels
// its layout reads (nothing after them is used); a .pvz's header and the
// longest run stream its size field allows (a longer file expands beyond it
// and is refused whatever it holds). The head itself for a file without a
// header, and never more than the file. Gives kTextureOk, or
// kTexturePvzOverflow for a .pvz longer than that.
enum { kTextureHeadBytes = 36 };
[[nodiscard]] int PlanTextureRead(const uint8_t* head, size_t headLength, uint64_t fileLength, const char* path,
                                  uint64_t* readBytes);

// Bytes the driver allocates for the expansion of a .pvz whose size field is
// `size`: size + 4 raised to a multiple of 2048. CheckTexture gives the block
// of a texture (pvzBlockSize): this, or where the size field claims more than
// the layout reads, the block of just what it reads.
uint64_t PvzBlockSize(uint32_t size);
// Expands a checked .pvz (CheckTexture gave kTextureOk) into `block` of
// check.pvzBlockSize zero-filled bytes, laid out as the container: 0 with the
// texel bytes in `texelLength` (at least what the layout reads), or -1.
[[nodiscard]] int ExpandCheckedPvz(const uint8_t* file, size_t length, const TextureCheck& check, uint8_t* block,
                                   size_t* texelLength);

// The layer tag of a texture: " !#TYPE:%d, #COLOR:%d, #ID:%d", and for
// DataType 5 and 7 ", #PAL:%d" after it, the palette's ColorFormat as the
// file stores it. Cut to fit `room` (terminator included); gives its length.
enum { kLayerTagRoom = 64 };
size_t FormatLayerTag(char* out, size_t room, unsigned dataType, int tagColor, uint32_t globalIndex,
                      unsigned colorFormat);

// Appends the layer tag to the layer name, cut short where szName has no
// more room. Gives 0, or -1 (nothing done) when the image has no layer.
int AppendLayerTag(HostImage* image, unsigned dataType, int tagColor, uint32_t globalIndex,
                   unsigned colorFormat = 0);

// The host keeps one transparent palette entry: a palette whose entries are
// all opaque but exactly one of alpha 0 makes that entry nTransparentIndex,
// one with every entry opaque sets -1 (none); any other palette (several
// transparent entries, or alpha levels between) leaves it alone.
void SetTransparentIndex(HostImage* image);

// What an import did, besides its status code.
enum {
    kPaletteNotNeeded = 0,
    kPaletteRead = 1,         // read and converted into the host palette
    kPaletteUnread = 2,       // chosen, but not read: the palette stays as the host made it
    kPaletteNoConversion = 3, // read, but its entries' ColorFormat has no conversion
    kPaletteNotChosen = 4,    // the user cancelled the choice (status 7)
};
struct ImportOutcome {
    int checked;             // kTexture...: CheckTextureFile's result
    TextureCheck check;      // what it found
    int palette;             // kPalette...
    char palettePath[kImportPathCapacity];   // the palette file read or tried
    int decoded;             // DecodeLayout's result: kDecodeDone, kDecodeNothing, or a kTexture... code
};

// Imports a texture, the `length` bytes of `file` read from `path`, into
// the host image; the palette file comes through the platform. Gives a
// status code: 0 done, 2 the path is unusable, 4 the content is refused
// (image untouched), 7 the palette was not chosen. `outcome` (may be null)
// tells what was found and done. `file` stays the caller's.
[[nodiscard]] int ImportTexture(const char* path, const uint8_t* file, size_t length, HostImage* image,
                                const HostServices* services, const ImportPlatform* platform, ImportOutcome* outcome);

// The host's text queries: copy at most `size` bytes, zero-padded, and always
// terminated inside the buffer.
void CopyImportInfo(char* buffer, int size);
// Copies the descriptor of file type `index` (only 0 exists; others give an
// empty text) and returns the buffer.
char* CopySupportedType(int index, char* buffer, int size);
