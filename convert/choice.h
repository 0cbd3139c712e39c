// What a command line may ask of one conversion, in the terms of the
// conversions themselves: the settings it gives and the container it names.
#pragma once

#include <stdint.h>

enum { kContainerChoiceNone = -1, kContainerChoicePvz = 0, kContainerChoicePvr = 1 };

// What the command line asked for of the settings; -1 where it said nothing.
struct SettingsChoice {
    int dataType;
    int colorFormat;
    int64_t globalIndex;
    bool presets;   // --preset auto: fill what is missing from the known-texture table
};
inline SettingsChoice NoSettingsChoice() {
    SettingsChoice c = {-1, -1, -1, true};
    return c;
}

// The PNG compression a conversion uses where nothing names one.
enum { kPngLevelDefault = -1 };
