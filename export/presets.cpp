#include "presets.h"

#include <string.h>

// First occurrence of `key` in the `length` bytes of `text`, or null.
static const char* FindText(const char* text, size_t length, const char* key) {
    const size_t keyLength = strlen(key);
    if (keyLength == 0 || keyLength > length) return nullptr;
    for (size_t i = 0; i + keyLength <= length; i++)
        if (memcmp(text + i, key, keyLength) == 0) return text + i;
    return nullptr;
}

size_t BaseNameOffset(const char* path) {
    size_t base = 0;
    size_t i = 0;
    while (path[i] != '\0') {
        const unsigned char c = (unsigned char)path[i];
        if (c >= 0x7F) {
            // Lead byte: pass over the trail byte, unless the text ends there.
            if (path[i + 1] == '\0') break;
            i += 2;
            continue;
        }
        if (c == '\\') base = i + 1;
        i++;
    }
    return base;
}

int FindFilePreset(const char* path) {
    const char* base = path + BaseNameOffset(path);
    const size_t length = strnlen(base, kPresetNameRoom);
    if (length >= kPresetNameRoom) return -1;
    char name[kPresetNameRoom];
    for (size_t i = 0; i <= length; i++) {
        const char c = base[i];
        name[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
    for (int row = 0; row < kPresetCount; row++)
        if (strcmp(name, kPresetTable[row].name) == 0) return row;
    return -1;
}

const PresetRow* GetPreset(int index) {
    if (index < 0 || index >= kPresetCount) return nullptr;
    return &kPresetTable[index];
}

bool ParseTagNumber(const char* text, size_t capacity, const char* key, uint32_t* number, bool sign) {
    const size_t length = strnlen(text, capacity);
    const char* found = FindText(text, length, key);
    if (!found) return false;
    const char* end = text + length;
    const char* p = found + strlen(key);
    const bool negative = sign && p < end && *p == '-';
    if (negative) p++;
    uint64_t value = 0;
    for (; p < end && *p != ','; p++) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10u + (uint64_t)(*p - '0');
        // A number past 32 bits (past 2^31 below zero) is none: not cut.
        if (value > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
    }
    *number = negative ? 0u - (uint32_t)value : (uint32_t)value;
    return true;
}

int ParseLayerTag(const char* name, size_t capacity, TextureSettings* settings, unsigned* fields) {
    unsigned found = 0;
    if (fields) *fields = found;
    if (!FindText(name, strnlen(name, capacity), "!#")) return 0;
    uint32_t type = 0, color = 0, id = 0, palette = 0;
    // A code must fit its byte: a larger number is refused, never cut.
    const auto code = [&](const char* key, uint32_t* value, unsigned bit) {
        const size_t length = strnlen(name, capacity);
        if (ParseTagNumber(name, capacity, key, value) && *value <= 0xFF) found |= bit;
        else if (FindText(name, length, key)) found |= bit * kTagRefused;
    };
    code("#TYPE:", &type, kTagType);
    code("#COLOR:", &color, kTagColor);
    // The import writes the ID as a signed number: -1 is 0xFFFFFFFF.
    if (ParseTagNumber(name, capacity, "#ID:", &id, true)) found |= kTagId;
    else if (FindText(name, strnlen(name, capacity), "#ID:")) found |= kTagId * kTagRefused;
    // Under DataType 5 and 7, #COLOR names the index width and #PAL the
    // palette entries' format, which is the ColorFormat written.
    const bool palettised = (found & kTagType) && HasPaletteFile(type);
    if (palettised && ParseTagNumber(name, capacity, "#PAL:", &palette) && palette <= 0xFF) {
        color = palette;
        found = (found & ~(kTagColor * kTagRefused)) | kTagColor | kTagPalette;
    }
    if (found & kTagType) settings->dataType = (uint8_t)type;
    if (found & kTagColor) settings->colorFormat = (uint8_t)color;
    if (found & kTagId) settings->globalIndex = id;
    if (fields) *fields = found;
    return 1;
}
