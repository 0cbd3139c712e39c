// Texture settings for export and the portable logic of the settings dialog:
// the two item lists, the record the dialog works on, preset selection, the ID
// text conversion and the check that a DataType/ColorFormat pair can be
// written. The Win32 dialog procedure only moves these values to and from its
// controls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"
#include "layout.h"

struct TextureSettings {
    uint8_t dataType;
    uint8_t colorFormat;
    uint32_t globalIndex;   // all 32 bits of the GBIX chunk
};

// In a preset these values mark a field as unset (a layer tag says which of
// its fields it holds instead: any ID is a tag's own).
enum : uint32_t { kUnsetCode = 255, kUnsetGlobalIndex = 0xFFFFFFFFu };

inline TextureSettings UnsetTextureSettings() {
    TextureSettings s = {kUnsetCode, kUnsetCode, kUnsetGlobalIndex};
    return s;
}

// `sources`: the selected source in the low 16 bits, plus which presets exist.
enum {
    SOURCE_NONE = 0,
    SOURCE_LAYER_TAG = 1,
    SOURCE_FILE_NAME = 2,
    HAS_FILE_PRESET = 0x10000,
    HAS_TAG_PRESET = 0x20000,
};

struct SettingsDialogRecord {
    TextureSettings result;       // read from the controls on OK; all zero before
    TextureSettings filePreset;   // the PresetTable match; unset when none
    TextureSettings tagPreset;    // parsed from the layer tag; unset before parsing
    const char* presetName;       // name of the matched PresetRow, or null
    uint32_t sources;
    unsigned tagFields;           // kTag... bits: the tag's fields that held a number
    int32_t width, height;        // the layer's, which the layout must take
    int32_t left, top;            // and where it lies (for the size message's caption)
};

inline unsigned SelectedSource(const SettingsDialogRecord& record) { return record.sources & 0xFFFF; }

// Steps 1 to 3 of ChooseTextureSettings: clears the record, looks the file
// name up in the PresetTable and parses the layer tag (the tag wins the
// selection when both exist), and keeps the layer's size. `layer` may be null.
void PrepareSettingsRecord(SettingsDialogRecord* record, const HostLayer* layer, const char* path);

// One item of a dialog list: its label and the code it stands for.
struct SettingItem {
    const char* label;
    uint8_t code;
};
enum { kSettingItemCount = 5 };
extern const SettingItem kDataTypeItems[kSettingItemCount];
extern const SettingItem kColorFormatItems[kSettingItemCount];

// The item a preset code selects: item 0, or for a code other than 255 the
// last item whose label starts with the first character of the code in
// lower-case hexadecimal.
int SelectItemForCode(const SettingItem items[kSettingItemCount], unsigned code);

// What ApplyPreset puts into the three controls.
struct PresetView {
    int dataTypeItem;
    int colorFormatItem;
    bool setId;          // false: the ID edit keeps its text
    char idText[12];     // decimal GlobalIndex when setId
};
// `idGiven`: the preset carries an ID, whatever its value; without it a
// GlobalIndex of 0xFFFF means none.
PresetView ViewPreset(const TextureSettings& preset);
PresetView ViewPreset(const TextureSettings& preset, bool idGiven);
// The view of the file-name preset or of the layer tag (SOURCE_...): a
// tag's ID is shown whatever its value, 65535 included.
PresetView ViewSourcePreset(const SettingsDialogRecord& record, unsigned source);

// The ID edit's text as a GlobalIndex: leading blanks, tabs and line breaks
// skipped, an optional sign, digits up to the first other character; no
// digits give 0. A negative number stands for its 32-bit pattern (-1 is
// 4294967295, as the layer tag shows IDs of 2^31 and more). False for a
// number outside -2147483648 to 4294967295, which no ID is. Reads at most
// `length` characters (it stops earlier at a zero).
bool ParseIdText(const char* text, size_t length, uint32_t* id);

// The settings OK reads: the item data of both lists' selections (low 8 bits
// kept) and the ID text; `idValid` false when the text is no ID.
TextureSettings ReadDialogSettings(uint32_t dataTypeItemData, uint32_t colorFormatItemData,
                                   const char* idText, size_t idLength, bool* idValid);

// What OK makes of a choice: kChoiceOk ends the dialog; the others show
// their message and leave it open.
enum {
    kChoiceOk = 0,
    kChoiceUnwritablePair,   // the type and colour type have nothing to write with
    kChoiceBadSize,          // the picture's size is not one the type takes
    kChoiceBadId,            // the ID text is no ID
};
[[nodiscard]] int CheckDialogChoice(const SettingsDialogRecord& record, const TextureSettings& chosen, bool idValid);

// Caption of the file-name radio button once a row matched: `current`
// followed by "  [name]", cut to fit `capacity` (with its terminator).
void FormatPresetCaption(char* out, size_t capacity, const char* current, const char* presetName);
