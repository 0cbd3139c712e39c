#include "editor_palettes.h"

#include <stdio.h>
#include <string.h>

#include "palette.h"
#include "texture.h"

const char* EditorPaletteErrorText(int code) {
    switch (code) {
    case kEditorPaletteOk: return "ok";
    case kEditorPaletteBadSize: return "not a colour table: 768 or 772 bytes";
    case kEditorPaletteBadCount: return "the colour table counts no entries, or more than 256";
    case kEditorPaletteBadTransparent: return "the transparent index lies past the entries";
    case kEditorPaletteNoMagic: return "not a GIMP palette: the first line is not \"GIMP Palette\"";
    case kEditorPaletteBadLine: return "a colour line without red, green and blue";
    case kEditorPaletteBadValue: return "a channel outside 0 to 255";
    case kEditorPaletteTooMany: return "more than 256 entries: a .pvp holds at most 256";
    case kEditorPaletteEmpty: return "no entries";
    case kEditorPaletteBadFormat: return "no channel conversion for that ColorFormat (0, 1 or 2)";
    default: return "unknown error";
    }
}

static uint8_t Alpha(uint32_t color) { return (uint8_t)(color >> 24); }

uint32_t ActTransparentIndex(const EditorPalette& palette) {
    for (uint32_t i = 0; i < palette.count && i < kEditorPaletteMaxEntries; i++)
        if (Alpha(palette.colors[i]) == 0) return i;
    return kActNoTransparent;
}

uint32_t ActAlphaLost(const EditorPalette& palette) {
    const uint32_t transparent = ActTransparentIndex(palette);
    uint32_t lost = 0;
    for (uint32_t i = 0; i < palette.count && i < kEditorPaletteMaxEntries; i++)
        if (i != transparent && Alpha(palette.colors[i]) != 255) lost++;
    return lost;
}

// ---- .act

size_t WriteAct(const EditorPalette& palette, uint8_t* out) {
    memset(out, 0, kActFileBytes);
    const uint32_t count = palette.count < kEditorPaletteMaxEntries ? palette.count : (uint32_t)kEditorPaletteMaxEntries;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t c = palette.colors[i];
        out[3 * i] = (uint8_t)(c >> 16);
        out[3 * i + 1] = (uint8_t)(c >> 8);
        out[3 * i + 2] = (uint8_t)c;
    }
    const uint32_t transparent = ActTransparentIndex(palette);
    if (count == kEditorPaletteMaxEntries && transparent == kActNoTransparent) return kActColorBytes;
    out[kActColorBytes] = (uint8_t)(count >> 8);
    out[kActColorBytes + 1] = (uint8_t)count;
    out[kActColorBytes + 2] = (uint8_t)(transparent >> 8);
    out[kActColorBytes + 3] = (uint8_t)transparent;
    return kActFileBytes;
}

int ReadAct(const uint8_t* data, size_t length, EditorPalette* palette) {
    palette->count = 0;
    if (length != kActColorBytes && length != kActFileBytes) return kEditorPaletteBadSize;
    uint32_t count = kEditorPaletteMaxEntries;
    uint32_t transparent = kActNoTransparent;
    if (length == kActFileBytes) {
        count = (uint32_t)data[kActColorBytes] << 8 | data[kActColorBytes + 1];
        transparent = (uint32_t)data[kActColorBytes + 2] << 8 | data[kActColorBytes + 3];
        if (count == 0 || count > kEditorPaletteMaxEntries) return kEditorPaletteBadCount;
        if (transparent != kActNoTransparent && transparent >= count) return kEditorPaletteBadTransparent;
    }
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t alpha = i == transparent ? 0u : 255u;
        palette->colors[i] =
            alpha << 24 | (uint32_t)data[3 * i] << 16 | (uint32_t)data[3 * i + 1] << 8 | data[3 * i + 2];
    }
    palette->count = count;
    return kEditorPaletteOk;
}

// ---- .gpl

// Length of the UTF-8 character at `s` (at most `left` bytes), or 0 when
// the bytes there are not one.
static size_t Utf8Character(const unsigned char* s, size_t left) {
    size_t length;
    uint32_t value, minimum;
    if (s[0] < 0x80) return 1;
    if (s[0] >= 0xC2 && s[0] <= 0xDF) length = 2, minimum = 0x80, value = s[0] & 0x1Fu;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF) length = 3, minimum = 0x800, value = s[0] & 0x0Fu;
    else if (s[0] >= 0xF0 && s[0] <= 0xF4) length = 4, minimum = 0x10000, value = s[0] & 0x07u;
    else return 0;
    if (length > left) return 0;
    for (size_t i = 1; i < length; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        value = value << 6 | (s[i] & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

// The palette's name as a .gpl line holds it: valid UTF-8 without control
// characters, cut at a whole character to fit `room`.
static void CleanName(const char* name, char* out, size_t room) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name ? name : "");
    const size_t total = strlen(reinterpret_cast<const char*>(s));
    size_t used = 0;
    for (size_t at = 0; at < total;) {
        size_t length = Utf8Character(s + at, total - at);
        if (used + (length ? length : 1) + 1 > room) break;
        if (length == 0) {
            out[used++] = '?';
            at++;
        } else if (length == 1 && (s[at] < 0x20 || s[at] == 0x7F)) {
            out[used++] = ' ';
            at++;
        } else {
            memcpy(out + used, s + at, length);
            used += length;
            at += length;
        }
    }
    out[used] = '\0';
}

size_t WriteGpl(const EditorPalette& palette, const char* name, char* out, size_t room) {
    char clean[kGplNameRoom];
    CleanName(name, clean, sizeof clean);
    size_t used = 0;
    int n = snprintf(out, room, "GIMP Palette\nName: %s\nColumns: 16\n#\n", clean);
    if (n < 0 || (size_t)n >= room) return 0;
    used = (size_t)n;
    for (uint32_t i = 0; i < palette.count && i < kEditorPaletteMaxEntries; i++) {
        const uint32_t c = palette.colors[i];
        n = snprintf(out + used, room - used, "%3u %3u %3u\t%u a%u\n", (unsigned)(c >> 16 & 0xFF),
                     (unsigned)(c >> 8 & 0xFF), (unsigned)(c & 0xFF), (unsigned)i, (unsigned)(c >> 24));
        if (n < 0 || (size_t)n >= room - used) return 0;
        used += (size_t)n;
    }
    return used;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static bool StartsWith(const char* line, size_t length, const char* prefix) {
    const size_t n = strlen(prefix);
    return length >= n && memcmp(line, prefix, n) == 0;
}

// A decimal number (at most 9 digits) at line[*at], blanks before it
// skipped: true with the number, *at past it.
static bool TakeNumber(const char* line, size_t length, size_t* at, uint32_t* value) {
    while (*at < length && IsBlank(line[*at])) ++*at;
    size_t digits = 0;
    uint32_t v = 0;
    while (*at < length && line[*at] >= '0' && line[*at] <= '9') {
        if (++digits > 9) return false;
        v = v * 10 + (uint32_t)(line[*at] - '0');
        ++*at;
    }
    *value = v;
    return digits > 0;
}

// The alpha an entry's name "N aA" gives, or 255.
static uint32_t AlphaOfName(const char* name, size_t length) {
    size_t at = 0;
    uint32_t index, alpha;
    if (!TakeNumber(name, length, &at, &index) || at >= length || name[at] != ' ') return 255;
    at++;
    if (at >= length || name[at] != 'a') return 255;
    at++;
    if (!TakeNumber(name, length, &at, &alpha) || alpha > 255) return 255;
    while (at < length && IsBlank(name[at])) at++;
    return at == length ? alpha : 255;
}

// One colour line: 0, or a kEditorPalette... code.
static int ReadColorLine(const char* line, size_t length, uint32_t* color) {
    size_t at = 0;
    uint32_t rgb[3];
    for (int c = 0; c < 3; c++) {
        if (!TakeNumber(line, length, &at, &rgb[c])) return kEditorPaletteBadLine;
        if (at < length && !IsBlank(line[at])) return kEditorPaletteBadLine;
        if (rgb[c] > 255) return kEditorPaletteBadValue;
    }
    while (at < length && IsBlank(line[at])) at++;
    *color = AlphaOfName(line + at, length - at) << 24 | rgb[0] << 16 | rgb[1] << 8 | rgb[2];
    return kEditorPaletteOk;
}

int ReadGpl(const char* text, size_t length, EditorPalette* palette, uint32_t* lineNumber) {
    palette->count = 0;
    *lineNumber = 0;
    uint32_t number = 0;
    bool header = true;   // a "Name: " or "Columns: " line may still come
    for (size_t start = 0; start < length;) {
        const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
        const size_t next = end ? (size_t)(end - text) + 1 : length;
        size_t lineLength = next - start - (end ? 1 : 0);
        const char* line = text + start;
        start = next;
        if (lineLength > 0 && line[lineLength - 1] == '\r') lineLength--;
        *lineNumber = ++number;
        if (number == 1) {
            if (!StartsWith(line, lineLength, "GIMP Palette")) return kEditorPaletteNoMagic;
            continue;
        }
        if (header && (StartsWith(line, lineLength, "Name: ") || StartsWith(line, lineLength, "Columns: ")))
            continue;
        header = false;
        size_t blank = 0;
        while (blank < lineLength && IsBlank(line[blank])) blank++;
        if (blank == lineLength || line[0] == '#') continue;
        if (palette->count == kEditorPaletteMaxEntries) return kEditorPaletteTooMany;
        const int read = ReadColorLine(line, lineLength, &palette->colors[palette->count]);
        if (read != kEditorPaletteOk) return read;
        palette->count++;
    }
    if (number == 0) return kEditorPaletteNoMagic;
    *lineNumber = 0;
    return palette->count ? kEditorPaletteOk : kEditorPaletteEmpty;
}

// ---- swatch

void SwatchSize(uint32_t count, uint32_t* width, uint32_t* height) {
    if (count > kEditorPaletteMaxEntries) count = kEditorPaletteMaxEntries;
    const uint32_t columns = count < kSwatchColumns ? count : (uint32_t)kSwatchColumns;
    const uint32_t rows = (count + kSwatchColumns - 1) / kSwatchColumns;
    *width = (columns ? columns : 1) * kSwatchCell;
    *height = (rows ? rows : 1) * kSwatchCell;
}

void LayOutSwatch(uint32_t count, uint8_t* indices) {
    if (count > kEditorPaletteMaxEntries) count = kEditorPaletteMaxEntries;
    uint32_t width, height;
    SwatchSize(count, &width, &height);
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++) {
            const uint32_t cell = y / kSwatchCell * kSwatchColumns + x / kSwatchCell;
            indices[(size_t)y * width + x] = (uint8_t)(cell < count ? cell : count);
        }
}

// ---- .pvp

int PaletteFromPvp(const uint8_t* file, size_t length, unsigned colorFormat, EditorPalette* palette) {
    palette->count = 0;
    if (!HasChannelRow(colorFormat)) return kEditorPaletteBadFormat;
    uint32_t count = PaletteFileEntryCount(length);
    if (count > kPaletteMaxEntries) count = kPaletteMaxEntries;
    if (count == 0) return kEditorPaletteEmpty;
    for (uint32_t i = 0; i < count; i++)
        palette->colors[i] = UnpackColor(colorFormat, ReadU16(file + kPaletteHeaderSize + 2 * (size_t)i));
    palette->count = count;
    return kEditorPaletteOk;
}

size_t PvpFromPalette(const EditorPalette& palette, unsigned colorFormat, uint8_t* out) {
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row || palette.count == 0 || palette.count > kPaletteMaxEntries) return 0;
    uint16_t entries[kPaletteMaxEntries];
    for (uint32_t i = 0; i < palette.count; i++) entries[i] = PackColor(row->encode, palette.colors[i]);
    return BuildPaletteFile(out, entries, palette.count);
}

uint32_t PvpColorsChanged(const EditorPalette& palette, unsigned colorFormat) {
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row) return palette.count;
    uint32_t changed = 0;
    for (uint32_t i = 0; i < palette.count && i < kEditorPaletteMaxEntries; i++)
        if (UnpackColor(colorFormat, PackColor(row->encode, palette.colors[i])) != palette.colors[i]) changed++;
    return changed;
}
