#include "arguments.h"

#include <string.h>

#include "console.h"
#include "export_palette.h"
#include "files.h"
#include "messages.h"
#include "layout.h"
#include "png.h"
#include "threads.h"

#ifndef OMBR_VERSION
#define OMBR_VERSION "0"
#endif

const char kOmbrVersion[] = OMBR_VERSION;

namespace {

enum { kOptionTaken = 0, kOptionUnknown = -1 };

bool TakeValue(int argc, const char* const* argv, int* i, const char* name, const char** value, FILE* err) {
    const char* arg = argv[*i];
    const size_t n = strlen(name);
    if (strncmp(arg, name, n) == 0 && arg[n] == '=') {
        *value = arg + n + 1;
        return true;
    }
    if (*i + 1 >= argc) {
        Say(err, Text(kTextNeedsValue), name);
        return false;
    }
    *value = argv[++*i];
    return true;
}

bool Matches(const char* arg, const char* name) {
    const size_t n = strlen(name);
    return strncmp(arg, name, n) == 0 && (arg[n] == '\0' || (name[1] == '-' && arg[n] == '='));
}

// A code the layout table says the converter takes.
bool ParseCode(const char* text, const char* name, bool (*taken)(unsigned), int* out, FILE* err) {
    uint64_t value;
    if (ParseNumber(text, 255, &value) && taken((unsigned)value)) {
        *out = (int)value;
        return true;
    }
    Say(err, Text(kTextNotACode), name, text);
    return false;
}

// A number option's value in [low, high].
bool ParseRange(const char* text, const char* name, uint64_t low, uint64_t high, uint64_t* value, FILE* err) {
    if (ParseNumber(text, high, value) && *value >= low) return true;
    Say(err, Text(kTextNotInRange), name, text, (unsigned long long)low,
            (unsigned long long)high);
    return false;
}

bool HelpOrVersion(const char* a, FILE* out) {
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
        Say(out, "%s", Text(kTextHelp));
        return true;
    }
    if (strcmp(a, "--version") == 0 || strcmp(a, "-V") == 0) {
        fprintf(out, "ombr %s\n", OMBR_VERSION);
        return true;
    }
    return false;
}

// The options without a value.
int ParseFlag(const char* a, Options* o) {
    const bool convert = o->command == kCommandDecode || o->command == kCommandEncode ||
                         o->command == kCommandGallery || o->command == kCommandPalette;
    const bool encode = o->command == kCommandEncode;
    if (strcmp(a, "-r") == 0 || strcmp(a, "--recursive") == 0) o->recursive = true;
    else if (o->command == kCommandInfo && strcmp(a, "--json") == 0) o->json = true;
    else if (convert && (strcmp(a, "-f") == 0 || strcmp(a, "--force") == 0)) o->force = true;
    else if (convert && (strcmp(a, "-q") == 0 || strcmp(a, "--quiet") == 0)) o->quiet = true;
    else if (convert && strcmp(a, "--no-wait") == 0) o->noWait = true;
    else if (convert && (strcmp(a, "-v") == 0 || strcmp(a, "--verbose") == 0)) o->verbose = true;
    else if (encode && (strcmp(a, "-n") == 0 || strcmp(a, "--dry-run") == 0)) o->dryRun = true;
    else if (encode && strcmp(a, "--new-palette") == 0) o->unmapped = kUnmappedNewPalette;
    else if (encode && strcmp(a, "--strict-palette") == 0) o->unmapped = kUnmappedRefuse;
    else return kOptionUnknown;
    return kOptionTaken;
}

// The options every command takes with a value, and those of decode.
int ParseCommonValue(int argc, const char* const* argv, int* i, Options* o, FILE* err) {
    const char* a = argv[*i];
    const bool decode = o->command == kCommandDecode;
    const bool gallery = o->command == kCommandGallery;
    const bool convert = decode || gallery || o->command == kCommandEncode || o->command == kCommandPalette;
    const char* v = nullptr;
    uint64_t number;
    if (Matches(a, "-j") || Matches(a, "--jobs")) {
        if (!TakeValue(argc, argv, i, a[1] == 'j' ? "-j" : "--jobs", &v, err) ||
            !ParseRange(v, "-j", 1, 256, &number, err))
            return kExitUsage;
        o->jobs = (unsigned)number;
    } else if (convert && (Matches(a, "-o") || Matches(a, "--output"))) {
        if (!TakeValue(argc, argv, i, a[1] == 'o' ? "-o" : "--output", &o->output, err)) return kExitUsage;
    } else if ((decode || o->command == kCommandEncode || o->command == kCommandInfo) && Matches(a, "--out-dir")) {
        if (!TakeValue(argc, argv, i, "--out-dir", &o->outDir, err)) return kExitUsage;
    } else if ((decode || o->command == kCommandEncode || o->command == kCommandInfo) && Matches(a, "--palette")) {
        if (!TakeValue(argc, argv, i, "--palette", &o->palette, err)) return kExitUsage;
    } else if (decode && Matches(a, "--raw")) {
        if (!TakeValue(argc, argv, i, "--raw", &o->raw, err)) return kExitUsage;
    } else if ((decode || gallery) && Matches(a, "--png-level")) {
        if (!TakeValue(argc, argv, i, "--png-level", &v, err) ||
            !ParseRange(v, "--png-level", kPngFastestLevel, kPngSmallestLevel, &number, err))
            return kExitUsage;
        o->pngLevel = (int)number;
    } else {
        return kOptionUnknown;
    }
    return kOptionTaken;
}

// The settings of encode.
int ParseEncodeValue(int argc, const char* const* argv, int* i, Options* o, FILE* err) {
    const char* a = argv[*i];
    const char* v = nullptr;
    uint64_t number;
    if (o->command == kCommandPalette && Matches(a, "--color")) {
        if (!TakeValue(argc, argv, i, "--color", &v, err) ||
            !ParseRange(v, "--color", 0, kChannelRowCount - 1, &number, err))
            return kExitUsage;
        o->choice.colorFormat = (int)number;
        return kOptionTaken;
    }
    if (o->command != kCommandEncode && o->command != kCommandInfo) return kOptionUnknown;
    if (Matches(a, "--type")) {
        if (!TakeValue(argc, argv, i, "--type", &v, err) ||
            !ParseCode(v, "--type", IsWrittenDataType, &o->choice.dataType, err))
            return kExitUsage;
    } else if (Matches(a, "--color")) {
        if (!TakeValue(argc, argv, i, "--color", &v, err) ||
            !ParseCode(v, "--color", IsWrittenColorFormat, &o->choice.colorFormat, err))
            return kExitUsage;
    } else if (Matches(a, "--id")) {
        if (!TakeValue(argc, argv, i, "--id", &v, err) || !ParseRange(v, "--id", 0, UINT32_MAX, &number, err))
            return kExitUsage;
        o->choice.globalIndex = (int64_t)number;
    } else if (Matches(a, "--preset")) {
        if (!TakeValue(argc, argv, i, "--preset", &v, err)) return kExitUsage;
        if (strcmp(v, "auto") != 0 && strcmp(v, "none") != 0) {
            Say(err, Text(kTextPresetChoice), v);
            return kExitUsage;
        }
        o->choice.presets = strcmp(v, "auto") == 0;
    } else if (Matches(a, "--container")) {
        if (!TakeValue(argc, argv, i, "--container", &v, err)) return kExitUsage;
        if (strcmp(v, "pvz") != 0 && strcmp(v, "pvr") != 0) {
            Say(err, Text(kTextContainerChoice), v);
            return kExitUsage;
        }
        o->container = strcmp(v, "pvr") == 0 ? kContainerChoicePvr : kContainerChoicePvz;
    } else {
        return kOptionUnknown;
    }
    return kOptionTaken;
}

// The command word, or --help / --version in its place (answered: *done).
int ParseCommand(int argc, const char* const* argv, Options* o, FILE* out, FILE* err, bool* done) {
    if (argc < 2) {
        // Started without arguments (a double-click): how to drop files.
        Say(err, "%s\n%s", Text(kTextDropHelp), Text(kTextUsage));
        return kExitUsage;
    }
    const char* command = argv[1];
    if (strcmp(command, "help") == 0 || HelpOrVersion(command, out)) {
        if (strcmp(command, "help") == 0) Say(out, "%s", Text(kTextHelp));
        *done = true;
        return kExitOk;
    }
    if (strcmp(command, "info") == 0) o->command = kCommandInfo;
    else if (strcmp(command, "decode") == 0) o->command = kCommandDecode;
    else if (strcmp(command, "encode") == 0) o->command = kCommandEncode;
    else if (strcmp(command, "gallery") == 0) o->command = kCommandGallery;
    else if (strcmp(command, "palette") == 0) o->command = kCommandPalette;
    else {
        Say(err, Text(kTextUnknownCommand), command);
        Say(err, "%s", Text(kTextUsage));
        return kExitUsage;
    }
    return 0;
}

// What no single option can tell wrong.
int CheckCombination(const char* command, const Options* o, FILE* err) {
    if (o->inputs.empty()) {
        Say(err, Text(kTextNoInputs), command);
        Say(err, "%s", Text(kTextUsage));
        return kExitUsage;
    }
    if ((o->command == kCommandGallery || o->command == kCommandPalette) && !o->output) {
        Say(err, "%s%s", Text(o->command == kCommandGallery ? kTextGalleryNeedsOutput : kTextPaletteNeedsOutput),
            Text(kTextUsage));
        return kExitUsage;
    }
    if (o->command == kCommandPalette && o->inputs.size() != 1) {
        Say(err, "%s", Text(kTextOnePalette));
        return kExitUsage;
    }
    if (o->output && o->outDir) {
        Say(err, "%s", Text(kTextOutputOrOutDir));
        return kExitUsage;
    }
    if (o->output && o->raw && SamePath(o->output, o->raw)) {
        Say(err, "%s", Text(kTextOutputIsRaw));
        return kExitUsage;
    }
    return 0;
}

}  // namespace

int ParseArguments(int argc, const char* const* argv, Options* o, FILE* out, FILE* err, bool* done) {
    *done = false;
    const int command = ParseCommand(argc, argv, o, out, err, done);
    if (*done || command != 0) return command;
    bool optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        const char* a = argv[i];
        if (optionsEnded || a[0] != '-' || strcmp(a, "-") == 0) {
            o->inputs.push_back(a);
            continue;
        }
        if (strcmp(a, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (HelpOrVersion(a, out)) {
            *done = true;
            return kExitOk;
        }
        int parsed = ParseFlag(a, o);
        if (parsed == kOptionUnknown) parsed = ParseCommonValue(argc, argv, &i, o, err);
        if (parsed == kOptionUnknown) parsed = ParseEncodeValue(argc, argv, &i, o, err);
        if (parsed == kOptionUnknown) {
            Say(err, Text(kTextUnknownOption), a, argv[1]);
            Say(err, "%s", Text(kTextUsage));
        }
        if (parsed != kOptionTaken) return kExitUsage;
    }
    const int combined = CheckCombination(argv[1], o, err);
    if (combined != 0) return combined;
    if (o->jobs == 0) o->jobs = ProcessorCount();
    return 0;
}

bool ParseNumber(const char* text, uint64_t max, uint64_t* value) {
    if (!text || !*text) return false;
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (!*text) return false;
    }
    uint64_t v = 0;
    for (const char* p = text; *p; p++) {
        unsigned digit;
        if (*p >= '0' && *p <= '9') digit = (unsigned)(*p - '0');
        else if (base == 16 && *p >= 'a' && *p <= 'f') digit = (unsigned)(*p - 'a' + 10);
        else if (base == 16 && *p >= 'A' && *p <= 'F') digit = (unsigned)(*p - 'A' + 10);
        else return false;
        v = v * base + digit;
        if (v > max) return false;
    }
    *value = v;
    return true;
}
