// Where each setting of `ombr encode` comes from.
#include <string.h>

#include "convert.h"
#include "png.h"
#include "presets.h"

const char* SettingSourceName(int source) {
    switch (source) {
    case kFromCommandLine: return "the command line";
    case kFromTag: return "the PNG's settings";
    case kFromTexture: return "the texture being replaced";
    case kFromPreset: return "the known-texture table";
    default: return "the defaults";
    }
}

namespace {

struct Candidates {
    bool given[kFromDefault + 1];
    uint32_t value[kFromDefault + 1];
};

// The first source that has the setting.
uint32_t Pick(const Candidates& c, int* source) {
    for (int s = kFromCommandLine; s < kFromDefault; s++)
        if (c.given[s]) {
            *source = s;
            return c.value[s];
        }
    *source = kFromDefault;
    return c.value[kFromDefault];
}

void Offer(Candidates* c, int source, bool given, uint32_t value) {
    c->given[source] = given;
    c->value[source] = value;
}

}  // namespace

ResolvedSettings ResolveSettings(const SettingsChoice& choice, const char* outputPath, int pngKind, const char* tag,
                                 const ReplacedTexture* replaced) {
    // The table is searched by the base name: the dialog's own search ends
    // names at backslashes (double-byte aware), this system's paths also at
    // slashes, which are never the second byte of a double-byte character.
    const char* name = outputPath ? strrchr(outputPath, '/') : nullptr;
    name = name ? name + 1 : outputPath;
    SettingsDialogRecord record;
    PrepareSettingsRecord(&record, nullptr, choice.presets ? name : nullptr);
    const TextureSettings& preset = record.filePreset;
    TextureSettings tagged = UnsetTextureSettings();
    unsigned fields = 0;
    if (tag) ParseLayerTag(tag, kPngTextRoom, &tagged, &fields);
    const bool old = replaced && replaced->exists;

    Candidates type = {}, colour = {}, id = {};
    Offer(&type, kFromCommandLine, choice.dataType >= 0, (uint32_t)choice.dataType);
    Offer(&type, kFromTag, fields & kTagType, tagged.dataType);
    Offer(&type, kFromTexture, old, old ? replaced->info.dataType : 0);
    Offer(&type, kFromPreset, preset.dataType != kUnsetCode, preset.dataType);
    Offer(&type, kFromDefault, true, pngKind == kPngIndexed ? kTypePal8 : kTypeTwiddled);
    Offer(&colour, kFromCommandLine, choice.colorFormat >= 0, (uint32_t)choice.colorFormat);
    Offer(&colour, kFromTag, fields & kTagColor, tagged.colorFormat);
    Offer(&colour, kFromTexture, old, old ? replaced->info.colorFormat : 0);
    Offer(&colour, kFromPreset, preset.colorFormat != kUnsetCode, preset.colorFormat);
    Offer(&colour, kFromDefault, true, kColorArgb1555);
    Offer(&id, kFromCommandLine, choice.globalIndex >= 0, (uint32_t)choice.globalIndex);
    Offer(&id, kFromTag, fields & kTagId, tagged.globalIndex);
    Offer(&id, kFromTexture, old, old ? replaced->info.globalIndex : 0);
    Offer(&id, kFromPreset, preset.globalIndex != kUnsetGlobalIndex, preset.globalIndex);
    Offer(&id, kFromDefault, true, 0);

    ResolvedSettings r;
    r.settings.dataType = (uint8_t)Pick(type, &r.source[0]);
    r.settings.colorFormat = (uint8_t)Pick(colour, &r.source[1]);
    r.settings.globalIndex = Pick(id, &r.source[2]);
    const bool usedPreset = r.source[0] == kFromPreset || r.source[1] == kFromPreset || r.source[2] == kFromPreset;
    r.presetName = usedPreset ? record.presetName : nullptr;
    r.refusedTag = fields & (kTagType | kTagColor | kTagId) * kTagRefused;
    return r;
}
