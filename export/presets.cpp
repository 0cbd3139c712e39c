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
    uint32_t value = 0;
    for (; p < end && *p != ','; p++) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10u + (uint32_t)(*p - '0');   // wraps on overflow
    }
    *number = negative ? 0u - value : value;
    return true;
}

int ParseLayerTag(const char* name, size_t capacity, TextureSettings* settings, unsigned* fields) {
    unsigned found = 0;
    if (fields) *fields = found;
    if (!FindText(name, strnlen(name, capacity), "!#")) return 0;
    uint32_t type = 0, color = 0, id = 0, palette = 0;
    if (ParseTagNumber(name, capacity, "#TYPE:", &type)) found |= kTagType;
    if (ParseTagNumber(name, capacity, "#COLOR:", &color)) found |= kTagColor;
    // The import writes the ID as a signed number: -1 is 0xFFFFFFFF.
    if (ParseTagNumber(name, capacity, "#ID:", &id, true)) found |= kTagId;
    // Under DataType 5 and 7, #COLOR names the index width and #PAL the
    // palette entries' format, which is the ColorFormat written.
    const bool palettised = (found & kTagType) && HasPaletteFile(type & 0xFF);
    if (palettised && ParseTagNumber(name, capacity, "#PAL:", &palette)) {
        color = palette;
        found |= kTagColor | kTagPalette;
    }
    if (found & kTagType) settings->dataType = (uint8_t)type;
    if (found & kTagColor) settings->colorFormat = (uint8_t)color;
    if (found & kTagId) settings->globalIndex = id;
    if (fields) *fields = found;
    return 1;
}
