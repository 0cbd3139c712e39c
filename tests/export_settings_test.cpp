// Presets, the layer tag and the settings dialog's decisions.
#include <gtest/gtest.h>
#include <string.h>

#include <set>
#include <string>

#include "host_stub.h"
#include "layout.h"
#include "presets.h"
#include "settings.h"

namespace {

TEST(ExportPresets, TableShape) {
    std::set<std::string> names;
    std::set<int> ids;
    int byType[256] = {0};
    for (int i = 0; i < kPresetCount; i++) {
        const PresetRow& row = kPresetTable[i];
        const std::string name = row.name;
        EXPECT_TRUE(name.size() >= 7 && name.size() <= 24) << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_."), std::string::npos) << name;
        EXPECT_EQ(name.substr(name.size() - 4), i < kPresetFirstPvr ? ".pvz" : ".pvr") << i;
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_LE(row.settings.colorFormat, 2) << name;
        EXPECT_LE(row.settings.globalIndex, 2102) << name;
        EXPECT_EQ(FindFilePreset(row.name), i);
        byType[row.settings.dataType]++;
        ids.insert(row.settings.globalIndex);
    }
    EXPECT_TRUE(byType[1] == 101 && byType[9] == 31 && byType[13] == 23 && byType[7] == 20 && byType[5] == 3);
    EXPECT_LT(ids.size(), (size_t)kPresetCount);   // some values are shared
    EXPECT_EQ(*ids.rbegin(), 2102);
    EXPECT_EQ(GetPreset(-1), nullptr);
    EXPECT_EQ(GetPreset(kPresetCount), nullptr);
    EXPECT_EQ(GetPreset(177), &kPresetTable[177]);
}

TEST(ExportPresets, FileNameLookUp) {
    const int hero = FindFilePreset("chr_hero_body.pvz");
    ASSERT_GE(hero, 0);
    EXPECT_EQ(FindFilePreset("C:\\Game\\TEX\\Chr_Hero_BODY.PVZ"), hero);
    // 表 (95 5C) and ソ (83 5C) end in a backslash byte but separate nothing.
    EXPECT_EQ(FindFilePreset("C:\\表\\chr_hero_body.pvz"), hero);
    EXPECT_EQ(FindFilePreset("C:\\ソフト\\chr_hero_body.pvz"), hero);
    EXPECT_EQ(FindFilePreset("C:\\x\\表chr_hero_body.pvz"), -1);
    EXPECT_EQ(BaseNameOffset("C:\\a\\\x81"), 5u);   // a lead byte before the terminator
    EXPECT_EQ(FindFilePreset("tex/chr_hero_body.pvz"), -1);   // "/" separates nothing
    EXPECT_EQ(FindFilePreset("C:\\tex\\"), -1);
    EXPECT_EQ(FindFilePreset(std::string(300, 'a').c_str()), -1);
}

TEST(ExportPresets, TagNumbersAndLayerTag) {
    // Past 32 bits: refused, never cut. With a sign allowed, as the import
    // writes IDs of 2^31 and more.
    struct Case {
        const char* text;
        size_t capacity;
        bool sign, valid;
        uint32_t number;
    } cases[] = {{"x #ID:2102", 64, false, true, 2102}, {"#ID:, #COLOR:3", 64, false, true, 0},
                 {"#ID:", 64, false, true, 0},          {"#ID:4294967309", 64, false, false, 0},
                 {"#ID:4294967295", 64, false, true, 0xFFFFFFFFu}, {"#ID:-1", 64, false, false, 0},
                 {"#ID: 5", 64, false, false, 0},       {"#ID:12 copy", 64, false, false, 0},
                 {"#ID:12表", 64, false, false, 0},     {"#TYPE:1", 64, false, false, 0},
                 {"#ID:5", 3, false, false, 0},         {"#ID:512", 6, false, true, 51},
                 {"#ID:-1", 64, true, true, 0xFFFFFFFFu}, {"#ID:-2147483648", 64, true, true, 0x80000000u},
                 {"#ID:7", 64, true, true, 7}};
    for (const Case& c : cases) {
        uint32_t n = 99;
        EXPECT_EQ(ParseTagNumber(c.text, c.capacity, "#ID:", &n, c.sign), c.valid) << c.text;
        EXPECT_EQ(n, c.valid ? c.number : 99u) << c.text;   // untouched when invalid
    }
    TextureSettings s = UnsetTextureSettings();
    EXPECT_EQ(ParseLayerTag("Layer 1", 64, &s), 0);
    EXPECT_EQ(s.dataType, 255);
    EXPECT_EQ(ParseLayerTag("Layer 1 !#TYPE:13, #COLOR:2, #ID:70000", 64, &s), 1);
    EXPECT_TRUE(s.dataType == 13 && s.colorFormat == 2 && s.globalIndex == 70000);   // never cut to 16 bits
    s = UnsetTextureSettings();
    unsigned fields = 0;
    EXPECT_EQ(ParseLayerTag("a !#TYPE:263, #COLOR:x, #ID:-1", 64, &s, &fields), 1);
    EXPECT_TRUE(s.dataType == 255 && s.colorFormat == 255 && s.globalIndex == 0xFFFFFFFFu);   // 263 is no type
    EXPECT_EQ(fields, (unsigned)(kTagType * kTagRefused | kTagColor * kTagRefused | kTagId));
    EXPECT_EQ(ParseLayerTag("a !#TYPE:7, #COLOR:258, #ID:4294967301, #PAL:2", 64, &s, &fields), 1);
    EXPECT_TRUE(s.dataType == 7 && s.colorFormat == 2);   // #PAL gives the ColorFormat of DataType 7
    EXPECT_EQ(fields, (unsigned)(kTagType | kTagColor | kTagPalette | kTagId * kTagRefused));
    s = UnsetTextureSettings();
    EXPECT_EQ(ParseLayerTag("!#", 64, &s), 1);
    EXPECT_EQ(s.dataType, 255);
    char full[16];   // no terminator within the room
    memcpy(full, "!#TYPE:9, #ID:77", 16);
    EXPECT_EQ(ParseLayerTag(full, sizeof full - 1, &s), 1);
    EXPECT_TRUE(s.dataType == 9 && s.globalIndex == 7);
}

TEST(ExportSettings, PresetViewByFirstHexDigit) {
    const int dataTypes[][2] = {{13, 4}, {16, 0}, {17, 0}, {0x9A, 3}, {0, 0}, {255, 0}, {7, 2}};
    for (const auto& c : dataTypes) EXPECT_EQ(SelectItemForCode(kDataTypeItems, c[0]), c[1]) << c[0];
    const int formats[][2] = {{6, 4}, {3, 0}, {4, 0}, {2, 2}, {255, 0}};
    for (const auto& c : formats) EXPECT_EQ(SelectItemForCode(kColorFormatItems, c[0]), c[1]) << c[0];
    // The lists offer what the plug-in writes: DataTypes 1, 5, 7, 9 and 13,
    // and the ColorFormats some of them take.
    for (unsigned code = 0; code < 256; code++) {
        bool type = false, format = false;
        for (const SettingItem& item : kDataTypeItems) type |= item.code == code;
        for (const SettingItem& item : kColorFormatItems) format |= item.code == code;
        EXPECT_EQ(type, code == 1 || code == 5 || code == 7 || code == 9 || code == 13) << "DataType " << code;
        EXPECT_EQ(format, code <= 2 || code == 5 || code == 6) << "ColorFormat " << code;
    }
    PresetView v = ViewPreset(TextureSettings{7, 6, 2102});
    EXPECT_TRUE(v.dataTypeItem == 2 && v.colorFormatItem == 4 && v.setId);
    EXPECT_STREQ(v.idText, "2102");
    v = ViewPreset(UnsetTextureSettings());
    EXPECT_TRUE(v.dataTypeItem == 0 && v.colorFormatItem == 0 && !v.setId);
}

TEST(ExportSettings, IdTextAndPairs) {
    struct Case {
        const char* text;
        bool valid;
        uint32_t id;
    } cases[] = {{"2102", true, 2102},           {"65548", true, 65548},         {"-1", true, 0xFFFFFFFFu},
                 {"12abc", true, 12},            {"abc", true, 0},               {"", true, 0},
                 {" \t\r\n+7", true, 7},        {"4294967295", true, 0xFFFFFFFFu}, {"-2147483648", true, 0x80000000u},
                 {"4294967296", false, 0},       {"-2147483649", false, 0},      {"99999999999", false, 0},
                 {"- 5", true, 0}};
    for (const Case& c : cases) {
        bool valid = !c.valid;
        EXPECT_EQ(ReadDialogSettings(1, 0, c.text, 32, &valid).globalIndex, c.id) << c.text;
        EXPECT_EQ(valid, c.valid) << c.text;
    }
    uint32_t id = 99;
    EXPECT_TRUE(ParseIdText("123", 2, &id));
    EXPECT_EQ(id, 12u);
    bool valid;
    const TextureSettings s = ReadDialogSettings(0x10D, 0x102, "0", 32, &valid);
    EXPECT_TRUE(s.dataType == 13 && s.colorFormat == 2);
    for (unsigned d = 0; d < 256; d++)
        for (unsigned c = 0; c < 256; c++) {
            const bool typeOk = d == 1 || d == 5 || d == 7 || d == 9 || d == 13;
            const bool formatOk = c <= 2 || ((c == 5 || c == 6) && (d == 1 || d == 13));
            ASSERT_EQ(IsExportablePair(d, c), typeOk && formatOk) << d << "," << c;
        }
}

// What OK makes of a choice for a layer of the record's size.
TEST(ExportSettings, DialogChoice) {
    StubHost host;
    host.SetSource(100, 64, 3, 4, [](int, int) { return 0u; });
    SettingsDialogRecord r;
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\x.pvz");
    EXPECT_TRUE(r.width == 100 && r.height == 64 && r.left == 3 && r.top == 4);
    EXPECT_EQ(CheckDialogChoice(r, {9, 0, 0}, true), kChoiceOk);   // rectangles of any size
    EXPECT_EQ(CheckDialogChoice(r, {9, 0, 0}, false), kChoiceBadId);
    EXPECT_EQ(CheckDialogChoice(r, {1, 0, 0}, true), kChoiceBadSize);
    EXPECT_EQ(CheckDialogChoice(r, {9, 5, 0}, true), kChoiceUnwritablePair);
    EXPECT_EQ(CheckDialogChoice(r, {2, 0, 0}, true), kChoiceUnwritablePair);   // the converter's only
    r.width = 2048, r.height = 8;
    EXPECT_EQ(CheckDialogChoice(r, {5, 2, 0}, true), kChoiceOk);
    r.height = 1;
    EXPECT_EQ(CheckDialogChoice(r, {7, 2, 0}, true), kChoiceBadSize);   // 8-bit indices: rows in pairs
}

TEST(ExportSettings, RecordFromFileNameAndTag) {
    StubHost host;
    SettingsDialogRecord r;
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\new.pvz");
    EXPECT_TRUE(r.sources == 0 && r.presetName == nullptr && r.filePreset.globalIndex == kUnsetGlobalIndex);
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\ENDING_BACK.pvr");
    EXPECT_EQ(r.sources, (uint32_t)(HAS_FILE_PRESET | SOURCE_FILE_NAME));
    EXPECT_STREQ(r.presetName, "ending_back.pvr");
    EXPECT_TRUE(r.filePreset.globalIndex == 2102 && r.tagPreset.dataType == 255);
    host.SetLayerName("Layer 1 !#TYPE:5, #COLOR:5, #ID:3");   // the tag wins
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\ending_back.pvr");
    EXPECT_EQ(r.sources, (uint32_t)(HAS_FILE_PRESET | HAS_TAG_PRESET | SOURCE_LAYER_TAG));
    EXPECT_TRUE(r.tagPreset.colorFormat == 5 && r.tagPreset.globalIndex == 3);
    // A palettised texture's tag: #PAL is its ColorFormat, and its ID is
    // shown whatever its value; #PAL means nothing under other DataTypes.
    host.SetLayerName("Layer 1 !#TYPE:7, #COLOR:6, #ID:65535, #PAL:2");
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\ending_back.pvr");
    PresetView v = ViewSourcePreset(r, SOURCE_LAYER_TAG);
    EXPECT_TRUE(v.dataTypeItem == 2 && v.colorFormatItem == 2 && v.setId);
    EXPECT_STREQ(v.idText, "65535");
    EXPECT_STREQ(ViewSourcePreset(r, SOURCE_FILE_NAME).idText, "2102");
    host.SetLayerName("Layer 1 !#TYPE:13, #COLOR:1, #ID:x, #PAL:2");
    PrepareSettingsRecord(&r, &host.layer, "C:\\out\\x.pvz");
    v = ViewSourcePreset(r, SOURCE_LAYER_TAG);
    EXPECT_TRUE(v.dataTypeItem == 4 && v.colorFormatItem == 1 && !v.setId);
    PrepareSettingsRecord(&r, nullptr, "C:\\out\\x.pvz");
    EXPECT_EQ(r.sources, 0u);

    char caption[256];
    FormatPresetCaption(caption, sizeof caption, "ファイル名から判断(&F)", "ending_back.pvr");
    EXPECT_STREQ(caption, "ファイル名から判断(&F)  [ending_back.pvr]");
    FormatPresetCaption(caption, sizeof caption, std::string(250, 'x').c_str(), "ending_back.pvr");
    EXPECT_EQ(strlen(caption), 255u);
}

}   // namespace
