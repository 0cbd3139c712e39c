// The PVPL palette file (.pvp): 16 header bytes, then 16-bit entries in the
// ColorFormat of the texture that uses it.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kPaletteHeaderSize = 16,
    kPaletteMaxEntries = 256,
    kPaletteMaxFileSize = kPaletteHeaderSize + 2 * kPaletteMaxEntries,   // 528
    // A palette file an export keeps is kept whole, whatever it holds past
    // the entries the texture reaches, up to this length; a longer one is
    // not kept (a new palette is written).
    kPaletteKeptMaxFileSize = 16384,
};

extern const char kMagicPvpl[4];

// Entries a reader takes from a palette file of this length: (length - 16) / 2
// rounded down, 0 for files shorter than the header. Not limited to 256.
uint32_t PaletteFileEntryCount(size_t fileLength);

// The entries a texture's .pvp is written with: 16 for 4-bit indices; for
// 8-bit ones 128 where the first 128 hold every colour the picture has
// (`colours`), else 256.
uint32_t PaletteFileEntries(uint32_t indexEntries, uint32_t colours);

// Writes the 16-byte header and `count` entries (at most 256) into `out`,
// which holds at least 16 + 2 * count bytes; returns the file length.
size_t BuildPaletteFile(uint8_t* out, const uint16_t* entries, uint32_t count);

// The .pvp path of a texture: the path with its last four characters replaced
// by ".pvp", the length unchanged. Gives false, writing nothing, when the
// path is shorter than four characters or does not fit `capacity` with its
// terminator.
bool MakePalettePath(const char* texturePath, char* out, size_t capacity);
// Whether the first `length` bytes of a texture path end in a dot and three
// characters of their own (no separator): only then does the palette that
// MakePalettePath names keep from another file's name.
bool HasPaletteExtension(const char* path, size_t length);
