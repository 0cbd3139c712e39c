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
    record->width = layer ? (int32_t)((uint32_t)layer->nRight - (uint32_t)layer->nLeft) : 0;
    record->height = layer ? (int32_t)((uint32_t)layer->nBottom - (uint32_t)layer->nTop) : 0;
    record->left = layer ? layer->nLeft : 0;
    record->top = layer ? layer->nTop : 0;

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
    if (view.setId) snprintf(view.idText, sizeof view.idText, "%u", (unsigned)preset.globalIndex);
    return view;
}

bool ParseIdText(const char* text, size_t length, uint32_t* id) {
    *id = 0;
    size_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                          text[i] == '\v' || text[i] == '\f'))
        i++;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    // The magnitude, held just past the largest allowed once beyond it.
    const uint64_t limit = negative ? (uint64_t)1 << 31 : UINT32_MAX;
    uint64_t magnitude = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
        magnitude = magnitude * 10 + (uint64_t)(text[i] - '0');
        if (magnitude > limit) return false;
    }
    *id = negative ? (uint32_t)(0 - magnitude) : (uint32_t)magnitude;
    return true;
}

TextureSettings ReadDialogSettings(uint32_t dataTypeItemData, uint32_t colorFormatItemData, const char* idText,
                                   size_t idLength, bool* idValid) {
    TextureSettings s;
    s.dataType = (uint8_t)dataTypeItemData;
    s.colorFormat = (uint8_t)colorFormatItemData;
    *idValid = ParseIdText(idText, idLength, &s.globalIndex);
    return s;
}

int CheckDialogChoice(const SettingsDialogRecord& record, const TextureSettings& chosen, bool idValid) {
    if (!IsExportablePair(chosen.dataType, chosen.colorFormat)) return kChoiceUnwritablePair;
    uint64_t needed;
    if (CheckWritable(chosen.dataType, chosen.colorFormat, (uint32_t)record.width, (uint32_t)record.height,
                      kWrittenByPlugin, &needed) != kTextureOk)
        return kChoiceBadSize;
    return idValid ? kChoiceOk : kChoiceBadId;
}

void FormatPresetCaption(char* out, size_t capacity, const char* current, const char* presetName) {
    if (capacity == 0) return;
    snprintf(out, capacity, "%s  [%s]", current, presetName);
}
