// Palette files of picture editors, to and from the colours of a game
// palette: the Adobe Color Table (.act), the GIMP palette (.gpl), a swatch
// picture, and the game's own .pvp. Plain C++: no allocation, no exceptions;
// every read stays inside the bytes it is given.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { kEditorPaletteMaxEntries = 256 };

// A palette as the host keeps one: colours 0xAARRGGBB, in their order.
struct EditorPalette {
    uint32_t count;   // 1 to 256 once read
    uint32_t colors[kEditorPaletteMaxEntries];
};

// Why a palette file cannot be read.
enum {
    kEditorPaletteOk = 0,
    kEditorPaletteBadSize = -1,         // .act: neither 768 nor 772 bytes
    kEditorPaletteBadCount = -2,        // .act: a count of 0 or above 256
    kEditorPaletteBadTransparent = -3,  // .act: a transparent index past the count
    kEditorPaletteNoMagic = -4,         // .gpl: the first line is not "GIMP Palette"
    kEditorPaletteBadLine = -5,         // .gpl: a colour line without three numbers
    kEditorPaletteBadValue = -6,        // .gpl: a channel outside 0 to 255
    kEditorPaletteTooMany = -7,         // more than 256 entries
    kEditorPaletteEmpty = -8,           // no entries
    kEditorPaletteBadFormat = -9,       // .pvp: a ColorFormat without a channel row
};
// English description of a kEditorPalette... code.
const char* EditorPaletteErrorText(int code);

// Entries whose alpha a format cannot keep: the .act keeps one transparent
// entry (the first of alpha 0; every other entry comes back opaque), the
// .gpl keeps every alpha in the entry's name.
uint32_t ActAlphaLost(const EditorPalette& palette);

// ---- Adobe Color Table (.act)
//
// 256 RGB triples (768 bytes; entries past the count are zero), then, when
// the palette has fewer than 256 entries or a transparent entry, the entry
// count and the transparent index (0xFFFF: none), each 2 bytes big-endian.
enum { kActColorBytes = 768, kActFileBytes = 772, kActNoTransparent = 0xFFFF };

// The transparent index an .act gives the palette: its first entry of
// alpha 0, or kActNoTransparent.
uint32_t ActTransparentIndex(const EditorPalette& palette);
// Lays the table out in `out` (kActFileBytes); returns its length, 768 or 772.
size_t WriteAct(const EditorPalette& palette, uint8_t* out);
// Reads a table of 768 bytes (256 opaque entries) or 772 (count and
// transparent index; that entry gets alpha 0, every other 255).
[[nodiscard]] int ReadAct(const uint8_t* data, size_t length, EditorPalette* palette);

// ---- GIMP palette (.gpl)
//
// "GIMP Palette", "Name: NAME", "Columns: 16", "#", then one line an entry:
// red, green and blue right-aligned in 3 characters, a tab, and the entry's
// name, its index and alpha ("12 a255"). Lines end in a line feed.
enum { kGplNameRoom = 128, kGplMaxBytes = 6144 };

// Writes the palette under `name` (cut to kGplNameRoom - 1 bytes at a whole
// UTF-8 character; control characters become spaces and bytes that are not
// UTF-8 question marks) into `out` of `room` bytes; returns the length, or 0
// when `room` is too small (kGplMaxBytes always holds it).
size_t WriteGpl(const EditorPalette& palette, const char* name, char* out, size_t room);
// Reads a GIMP palette: the "GIMP Palette" line, an optional "Name: " and
// "Columns: " line, then comments ("#"), empty lines and colour lines (three
// numbers 0 to 255 separated by blanks or tabs, then an optional name; a
// name "N aA" gives the entry alpha A, any other alpha 255). Lines may end
// in CR LF. On a bad line, `line` receives its number (1 for the first).
[[nodiscard]] int ReadGpl(const char* text, size_t length, EditorPalette* palette, uint32_t* line);

// ---- Swatch picture
//
// One cell of kSwatchCell x kSwatchCell pixels an entry, kSwatchColumns to a
// row, in order; the cells of a short last row past the count take index
// `count` (an extra, transparent entry of the picture's palette).
enum { kSwatchCell = 16, kSwatchColumns = 16 };
void SwatchSize(uint32_t count, uint32_t* width, uint32_t* height);
// Fills `indices` (width x height bytes, row by row) with each pixel's entry.
void LayOutSwatch(uint32_t count, uint8_t* indices);

// ---- The game's .pvp
//
// Reads the entries the import takes from a .pvp of `length` bytes
// ((length - 16) / 2, at most 256) as colours of `colorFormat` (0, 1 or 2).
[[nodiscard]] int PaletteFromPvp(const uint8_t* file, size_t length, unsigned colorFormat, EditorPalette* palette);
// Packs every entry in `colorFormat` (0, 1 or 2) with the channel table and
// lays out the .pvp in `out` (kPaletteMaxFileSize bytes); returns its length,
// or 0 for a ColorFormat without a channel row or a palette of no entries.
size_t PvpFromPalette(const EditorPalette& palette, unsigned colorFormat, uint8_t* out);
// Entries whose colour does not come back the same from `colorFormat`.
uint32_t PvpColorsChanged(const EditorPalette& palette, unsigned colorFormat);
