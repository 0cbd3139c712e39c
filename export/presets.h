// The table of known texture file names with the settings each needs, and the
// layer-name tag that the import leaves behind.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "settings.h"

struct PresetRow {
    const char* name;   // lower-case file name with its extension
    TextureSettings settings;
};

enum {
    kPresetCount = 178,
    kPresetFirstPvr = 164,     // rows 0-163 name .pvz files, 164-177 .pvr files
    kPresetNameRoom = 256,     // longest base name looked up, terminator included
};
extern const PresetRow kPresetTable[kPresetCount];

// Offset of the base name in `path`: the byte after the last backslash, where
// a byte of 0x7F or above starts a double-byte character whose second byte
// is never a separator. Forward slashes are not separators.
size_t BaseNameOffset(const char* path);

// Index of the row whose name equals the path's base name with ASCII letters
// lowered, or -1.
int FindFilePreset(const char* path);

// The row for an index from 0 to 177; null for any other.
const PresetRow* GetPreset(int index);

// Which fields of a layer tag held a valid number.
enum { kTagType = 1, kTagColor = 2, kTagId = 4, kTagPalette = 8 };
// Times kTagType, kTagColor or kTagId: the tag names that field, but its
// number is none (not digits, or too large for the field): refused.
enum { kTagRefused = 16 };

// Reads the " !#TYPE:%d, #COLOR:%d, #ID:%d" tag and the ", #PAL:%d" that
// follows it for DataType 5 and 7: 0 when `name` has no "!#" (nothing
// changed); otherwise 1, with each field that has a valid number set (a
// type and colour of 0 to 255, all 32 bits of the ID, which may carry a
// minus sign as the import writes IDs of 2^31 and more; a field whose number
// does not fit is refused, never cut). Under DataType 5 and 7 a valid #PAL, the palette
// entries' format, is the ColorFormat (#COLOR names the index width there).
// `capacity` bounds the scan of `name`; `fields` (may be null) receives the
// kTag... bits of the numbers found.
int ParseLayerTag(const char* name, size_t capacity, TextureSettings* settings, unsigned* fields = nullptr);

// The decimal number right after the first `key` in `text` (at most
// `capacity` bytes are looked at), ended by "," or the end of the text, with
// a leading "-" when `sign` (the number's 32-bit negation). Returns true and
// the number when valid: one past 32 bits (past 2^31 with the sign) is not.
bool ParseTagNumber(const char* text, size_t capacity, const char* key, uint32_t* number, bool sign = false);
