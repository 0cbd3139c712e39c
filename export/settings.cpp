#include "settings.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "presets.h"

const SettingItem kDataTypeItems[kSettingItemCount] = {
    {"1 : Twiddled", 1},
    {"5 : Twiddled Pal(4bit)", 5},
    {"7 : Twiddled Pal(8bit)", 7},
    {"9 : Rectangle", 9},
    {"d : Twiddled", 13},
};

const SettingItem kColorFormatItems[kSettingItemCount] = {
    {"0 : ARGB1555", 0},
    {"1 : RGB565", 1},
    {"2 : ARGB4444", 2},
    {"5 : Pal(4bit)", 5},
    {"6 : Pal(8bit)", 6},
};

void PrepareSettingsRecord(SettingsDialogRecord* record, const HostLayer* layer, const char* path) {
    memset(&record->result, 0, sizeof record->result);
    record->filePreset = UnsetTextureSettings();
    record->tagPreset = UnsetTextureSettings();
    record->presetName = nullptr;
    record->sources = SOURCE_NONE;
    record->tagFields = 0;

    const PresetRow* row = path ? GetPreset(FindFilePreset(path)) : nullptr;
    if (row) {
        record->filePreset = row->settings;
        record->presetName = row->name;
        record->sources = HAS_FILE_PRESET | SOURCE_FILE_NAME;
    }
    if (layer && ParseLayerTag(layer->szName, sizeof layer->szName, &record->tagPreset, &record->tagFields) == 1)
        record->sources = (record->sources & ~0xFFFFu) | HAS_TAG_PRESET | SOURCE_LAYER_TAG;
}

int SelectItemForCode(const SettingItem items[kSettingItemCount], unsigned code) {
    int selected = 0;
    if (code == kUnsetCode) return selected;
    char text[16];
    snprintf(text, sizeof text, "%x", code);
    for (int i = 0; i < kSettingItemCount; i++)
        if (items[i].label[0] == text[0]) selected = i;
    return selected;
}

PresetView ViewPreset(const TextureSettings& preset) {
    return ViewPreset(preset, preset.globalIndex != kUnsetGlobalIndex);
}

PresetView ViewSourcePreset(const SettingsDialogRecord& record, unsigned source) {
    if (source == SOURCE_LAYER_TAG) return ViewPreset(record.tagPreset, (record.tagFields & kTagId) != 0);
    return ViewPreset(record.filePreset);
}

PresetView ViewPreset(const TextureSettings& preset, bool idGiven) {
    PresetView view;
    memset(&view, 0, sizeof view);
    view.dataTypeItem = SelectItemForCode(kDataTypeItems, preset.dataType);
    view.colorFormatItem = SelectItemForCode(kColorFormatItems, preset.colorFormat);
    view.setId = idGiven;
    if (view.setId) snprintf(view.idText, sizeof view.idText, "%d", (int)preset.globalIndex);
    return view;
}

int32_t ParseIdText(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                          text[i] == '\v' || text[i] == '\f'))
        i++;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    // Accumulate the magnitude, held at one past INT32_MAX once beyond it.
    const int64_t limit = (int64_t)INT32_MAX + 1;
    int64_t magnitude = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    if (negative) return (int32_t)(-magnitude);   // -2^31 at most
    return magnitude > INT32_MAX ? INT32_MAX : (int32_t)magnitude;
}

TextureSettings ReadDialogSettings(uint32_t dataTypeItemData, uint32_t colorFormatItemData, const char* idText,
                                   size_t idLength) {
    TextureSettings s;
    s.dataType = (uint8_t)dataTypeItemData;
    s.colorFormat = (uint8_t)colorFormatItemData;
    s.globalIndex = (uint16_t)(uint32_t)ParseIdText(idText, idLength);
    return s;
}

void FormatPresetCaption(char* out, size_t capacity, const char* current, const char* presetName) {
    if (capacity == 0) return;
    snprintf(out, capacity, "%s  [%s]", current, presetName);
}
