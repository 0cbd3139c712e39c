// The export's text handling on arbitrary bytes, each text in a buffer of its
// exact size: the layer tag (unterminated, bounded by its capacity), the
// preset lookup by file name (terminated), the whole settings preparation
// from a layer name that fills szName, and the ID text of the dialog. Each
// answer is compared with a plain re-reading of the same rule.
//   byte 0   what to run: 0 tag, 1 file name, 2 settings record, 3 ID text
//   bytes 1- the text
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "presets.h"
#include "settings.h"

namespace {

// The number after `key` in `text` up to "," or the end, as the tag rule
// says: at most `limit`; with `sign`, a leading "-" negates it (down to -2^31).
bool TagNumber(const std::string& text, const char* key, uint32_t* number, bool sign = false,
               uint64_t limit = 0xFFFFFFFFu) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return false;
    size_t i = at + strlen(key);
    const bool negative = sign && i < text.size() && text[i] == '-';
    if (negative) i++;
    uint64_t value = 0;
    for (; i < text.size() && text[i] != ','; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10u + (uint64_t)(text[i] - '0');
        if (value > (negative ? 0x80000000u : limit)) return false;
    }
    *number = negative ? 0u - (uint32_t)value : (uint32_t)value;
    return true;
}

void CheckTag(const char* name, size_t capacity) {
    const std::string text(name, strnlen(name, capacity));
    TextureSettings settings = {11, 22, 3333};
    const int found = ParseLayerTag(name, capacity, &settings);
    if (text.find("!#") == std::string::npos) {
        FUZZ_CHECK(found == 0 && settings.dataType == 11 && settings.colorFormat == 22 &&
                   settings.globalIndex == 3333);
        return;
    }
    FUZZ_CHECK(found == 1);
    uint32_t n, type;
    FUZZ_CHECK(settings.dataType == (TagNumber(text, "#TYPE:", &n, false, 255) ? n : 11));
    // DataType 5 and 7 take their ColorFormat from #PAL where it has one.
    const bool palettised = TagNumber(text, "#TYPE:", &type, false, 255) && (type == 5 || type == 7);
    if (palettised && TagNumber(text, "#PAL:", &n, false, 255))
        FUZZ_CHECK(settings.colorFormat == n);
    else
        FUZZ_CHECK(settings.colorFormat == (TagNumber(text, "#COLOR:", &n, false, 255) ? n : 22));
    FUZZ_CHECK(settings.globalIndex == (TagNumber(text, "#ID:", &n, true) ? n : 3333u));
}

// The base name: after the last backslash that is not the second byte of a
// double-byte character (lead bytes 0x7F and above).
std::string BaseName(const char* path) {
    size_t base = 0;
    const size_t length = strlen(path);
    for (size_t i = 0; i < length; i++) {
        if ((unsigned char)path[i] >= 0x7F) {
            i++;
            continue;
        }
        if (path[i] == '\\') base = i + 1;
    }
    return std::string(path + base);
}

void CheckFileName(const char* path) {
    const size_t offset = BaseNameOffset(path);
    FUZZ_CHECK(offset <= strlen(path));
    std::string base = BaseName(path);
    FUZZ_CHECK(base == path + offset);
    for (char& c : base)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    int expected = -1;
    for (int row = 0; row < kPresetCount && expected < 0; row++)
        if (base == kPresetTable[row].name) expected = row;
    FUZZ_CHECK(FindFilePreset(path) == expected);
}

void CheckRecord(const uint8_t* text, size_t size) {
    // The layer name takes the first bytes and may fill szName without a
    // terminator; the path takes the rest (terminated).
    HostLayer* layer = (HostLayer*)malloc(sizeof(HostLayer));
    FUZZ_CHECK(layer != nullptr);
    memset(layer, 0, sizeof *layer);
    const size_t nameLength = size < sizeof layer->szName ? size : sizeof layer->szName;
    memcpy(layer->szName, text, nameLength);
    if (size <= sizeof layer->szName) memset(layer->szName + nameLength, 'x', sizeof layer->szName - nameLength);
    const size_t pathLength = size - nameLength;
    char* path = (char*)malloc(pathLength + 1);
    FUZZ_CHECK(path != nullptr);
    memcpy(path, text + nameLength, pathLength);
    path[pathLength] = '\0';

    SettingsDialogRecord record;
    PrepareSettingsRecord(&record, layer, path);
    const bool tag = strnlen(layer->szName, sizeof layer->szName) >= 2 &&
                     std::string(layer->szName, strnlen(layer->szName, sizeof layer->szName)).find("!#") !=
                         std::string::npos;
    const int row = FindFilePreset(path);
    FUZZ_CHECK(((record.sources & HAS_TAG_PRESET) != 0) == tag);
    FUZZ_CHECK(((record.sources & HAS_FILE_PRESET) != 0) == (row >= 0));
    FUZZ_CHECK(SelectedSource(record) == (tag ? SOURCE_LAYER_TAG : row >= 0 ? SOURCE_FILE_NAME : SOURCE_NONE));
    FUZZ_CHECK(row < 0 || record.presetName == kPresetTable[row].name);
    for (const TextureSettings* preset : {&record.filePreset, &record.tagPreset}) {
        const PresetView view = ViewPreset(*preset);
        FUZZ_CHECK(view.dataTypeItem >= 0 && view.dataTypeItem < kSettingItemCount);
        FUZZ_CHECK(view.colorFormatItem >= 0 && view.colorFormatItem < kSettingItemCount);
        FUZZ_CHECK(memchr(view.idText, '\0', sizeof view.idText) != nullptr);
    }
    PrepareSettingsRecord(&record, nullptr, nullptr);
    FUZZ_CHECK(record.sources == SOURCE_NONE);
    free(path);
    free(layer);
}

// The ID edit's text: blanks, a sign, digits; no ID outside -2^31 to 2^32 - 1
// (a negative one stands for its 32-bit pattern).
void CheckIdText(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && text[i] != '\0' && strchr(" \t\n\r\v\f", text[i])) i++;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int64_t limit = negative ? (int64_t)1 << 31 : (int64_t)UINT32_MAX;
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9' && value <= limit; i++) value = value * 10 + (text[i] - '0');
    const bool valid = value <= limit;
    const uint32_t id = !valid ? 0 : negative ? 0u - (uint32_t)value : (uint32_t)value;
    uint32_t parsed = 99;
    FUZZ_CHECK(ParseIdText(text, length, &parsed) == valid && parsed == id);
    bool idValid = !valid;
    FUZZ_CHECK(ReadDialogSettings(0x1FF, 0x102, text, length, &idValid).globalIndex == id && idValid == valid);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t* text = data + 1;
    const size_t length = size - 1;
    // Exactly `length` bytes (one more, the terminator, for the file name).
    const bool terminated = (data[0] & 3) == 1;
    char* exact = (char*)malloc(length + (terminated ? 1 : 0));
    FUZZ_CHECK(exact != nullptr || length + terminated == 0);
    if (length) memcpy(exact, text, length);
    if (terminated) exact[length] = '\0';
    switch (data[0] & 3) {
    case 0:
        CheckTag(exact, length);
        break;
    case 1:
        CheckFileName(exact);
        break;
    case 2:
        CheckRecord(text, length);
        break;
    case 3:
        CheckIdText(exact, length);
        break;
    }
    free(exact);
    return 0;
}
