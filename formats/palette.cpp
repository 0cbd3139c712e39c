#include "palette.h"

#include <string.h>

#include "texture.h"

const char kMagicPvpl[4] = {'P', 'V', 'P', 'L'};

uint32_t PaletteFileEntries(uint32_t indexEntries, uint32_t colours) {
    return indexEntries <= 16 ? 16 : colours <= 128 ? 128 : 256;
}

uint32_t PaletteFileEntryCount(size_t fileLength) {
    if (fileLength < kPaletteHeaderSize) return 0;
    size_t n = (fileLength - kPaletteHeaderSize) / 2;
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)n;
}

size_t BuildPaletteFile(uint8_t* out, const uint16_t* entries, uint32_t count) {
    if (count > kPaletteMaxEntries) count = kPaletteMaxEntries;
    memset(out, 0, kPaletteHeaderSize);
    memcpy(out, kMagicPvpl, 4);
    WriteU32(out + 4, 2 * count + 8);
    WriteU16(out + 14, count);
    for (uint32_t i = 0; i < count; i++) WriteU16(out + kPaletteHeaderSize + 2 * i, entries[i]);
    return kPaletteHeaderSize + 2 * (size_t)count;
}

bool MakePalettePath(const char* texturePath, char* out, size_t capacity) {
    size_t length = strnlen(texturePath, capacity);
    if (length >= capacity || length < 4) return false;
    memcpy(out, texturePath, length - 4);
    memcpy(out + length - 4, ".pvp", 5);
    return true;
}

bool HasPaletteExtension(const char* path, size_t length) {
    if (length < 4 || path[length - 4] != '.') return false;
    for (size_t i = length - 3; i < length; i++)
        if (path[i] == '\\' || path[i] == '/') return false;
    return true;
}
