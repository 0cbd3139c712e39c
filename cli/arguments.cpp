#include "arguments.h"

#include <string.h>

#include "export_palette.h"
#include "files.h"
#include "layout.h"
#include "png.h"

#ifndef OMBR_VERSION
#define OMBR_VERSION "0"
#endif

const char kOmbrVersion[] = OMBR_VERSION;

namespace {

const char kUsage[] =
    "usage: ombr info FILE... [--json] [-r]\n"
    "       ombr decode TEXTURE... [-o OUT.png | --out-dir DIR] [--palette PVP] [--raw FILE]\n"
    "                   [--png-level N]\n"
    "       ombr encode IMAGE.png... [-o OUT.pvz|OUT.pvr | --out-dir DIR] [--type N] [--color N]\n"
    "                   [--id N] [--preset auto|none] [--container pvz|pvr] [--palette PVP]\n"
    "                   [--new-palette | --strict-palette]\n"
    "       ombr gallery FOLDER... -o OUT_DIR [--png-level N]\n"
    "       ombr palette PALETTE -o OUT.act|.gpl|.png|.pvp [--color N]\n"
    "common options: -r/--recursive -j/--jobs N -f/--force -q/--quiet -v/--verbose; ombr --help, ombr --version\n";

const char kHelp[] =
    "ombr " OMBR_VERSION ": converts Zelvanis PVR/PVZ textures to PNG and back, with the code of the\n"
    "ombrin and ombrout plug-ins.\n"
    "\n"
    "ombr info FILE...\n"
    "  Tells the container, GlobalIndex, ColorFormat, DataType, size, texel data length and\n"
    "  palette file of each texture, and whether the import reads it; of a PNG, the settings\n"
    "  encode would write it with, and where each comes from. --json for scripts.\n"
    "\n"
    "ombr decode TEXTURE...\n"
    "  Writes each .pvr or .pvz texture as a PNG: palette textures as palette PNGs (their .pvp\n"
    "  is taken from beside the texture, as the plug-in finds it), colour textures as RGBA PNGs.\n"
    "  The PNG carries the texture's settings and file name.\n"
    "  -o OUT.png        the PNG of a single texture (default: beside the texture, .png)\n"
    "  --out-dir DIR     where the PNGs of many textures go (subfolders kept with -r)\n"
    "  --palette PVP     the palette file to use instead of the one beside the texture\n"
    "  --raw FILE        also write the picture's pixel values, 32-bit little-endian, row by row\n"
    "  --png-level N     PNG compression: 0 none (stored) to 9 smallest; default 5\n"
    "\n"
    "ombr encode IMAGE.png...\n"
    "  Writes each PNG as a texture, and the .pvp palette beside it for DataType 5 and 7. A name\n"
    "  ending in \".pvr\" (any letter case) is written plain, any other as a PVZ container.\n"
    "  -o OUT            the texture of a single picture (default: beside the picture, under the\n"
    "                    name the PNG carries, or of the texture already there)\n"
    "  --out-dir DIR     where the textures of many pictures go\n"
    "  --container C     pvz or pvr: the extension of a name that none of the above gives (pvz)\n"
    "  --type N          DataType: 1, 5, 7, 9 or 13 (0xd) as the export writes them; made by ombr itself:\n"
    "                    2 (mip chain, square), 3 and 4 (VQ, 4 with mips), 16 and 17 (small VQ,\n"
    "                    17 with mips); VQ is square, 2 (16, 17: 4) to 2048, lossy, without alpha.\n"
    "                    6 and 8 are refused\n"
    "  --color N         ColorFormat: 0 ARGB1555, 1 RGB565, 2 ARGB4444, 5 or 6 (indices, DataType 1, 13)\n"
    "  --id N            GlobalIndex, 0 to 4294967295\n"
    "  --preset auto     settings not given are taken from the known texture of the output's file\n"
    "                    name (default); --preset none skips that table\n"
    "  Settings not given come from the PNG's own, then the texture being replaced, then the\n"
    "  known-texture table, then the defaults (DataType 7 for palette PNGs, 1 for others;\n"
    "  ColorFormat 0; ID 0), which ombr names when it uses them.\n"
    "  --palette PVP     the palette DataType 5 and 7 keep (default: the .pvp of the texture being\n"
    "                    replaced); its file is written back unchanged, each pixel given the\n"
    "                    entry of its colour. Colours it lacks get the nearest entry (counted), or:\n"
    "  --new-palette     a new palette for a picture with colours the palette lacks\n"
    "  --strict-palette  refuse such a picture\n"
    "\n"
    "ombr gallery FOLDER... -o OUT_DIR\n"
    "  Writes OUT_DIR/index.html, a page that shows every texture (thumbnails, settings, filters,\n"
    "  1:1 and 2:1 views) and lists those that do not decode, with the pictures beside it; it\n"
    "  works offline from that folder. Run again, it redoes only the textures that changed\n"
    "  (-f: all). --png-level N as for decode.\n"
    "\n"
    "ombr palette PALETTE -o OUT\n"
    "  Converts a palette between the game's .pvp and the editors' .act (Adobe Color Table) and\n"
    "  .gpl (GIMP palette), or draws it as a .png swatch, entries in their order.\n"
    "  --color N         the ColorFormat of the .pvp's entries: 0 ARGB1555, 1 RGB565, 2 ARGB4444\n"
    "                    (default: that of the texture of the same name beside the .pvp, else 0)\n"
    "\n"
    "Files and folders can be mixed; a folder gives its .pvr/.pvz (decode, info) or .png (encode)\n"
    "files, its subfolders too with -r/--recursive (links followed, each folder read once).\n"
    "Existing outputs are kept unless -f/--force. -j/--jobs N: files converted at once (default:\n"
    "one per processor; -j 1 one after the other); messages keep the order of the inputs.\n"
    "-q/--quiet: no progress bar and no summary; -v/--verbose: one line per file converted.\n"
    "A run waits for another one writing to the same folder (with a line saying so); --no-wait:\n"
    "it fails at once instead.\n"
    "Exit status: 0 all done, 1 some file failed, 2 bad command line, 130 interrupted.\n";

enum { kOptionTaken = 0, kOptionUnknown = -1 };

bool TakeValue(int argc, const char* const* argv, int* i, const char* name, const char** value, FILE* err) {
    const char* arg = argv[*i];
    const size_t n = strlen(name);
    if (strncmp(arg, name, n) == 0 && arg[n] == '=') {
        *value = arg + n + 1;
        return true;
    }
    if (*i + 1 >= argc) {
        fprintf(err, "ombr: %s needs a value\n", name);
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
    Say(err, "ombr: %s %s: not one of the codes ombr encode takes\n", name, text);
    return false;
}

// A number option's value in [low, high].
bool ParseRange(const char* text, const char* name, uint64_t low, uint64_t high, uint64_t* value, FILE* err) {
    if (ParseNumber(text, high, value) && *value >= low) return true;
    Say(err, "ombr: %s %s: not a number from %llu to %llu\n", name, text, (unsigned long long)low,
            (unsigned long long)high);
    return false;
}

bool HelpOrVersion(const char* a, FILE* out) {
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
        fputs(kHelp, out);
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
    } else if ((decode || o->command == kCommandEncode) && Matches(a, "--out-dir")) {
        if (!TakeValue(argc, argv, i, "--out-dir", &o->outDir, err)) return kExitUsage;
    } else if ((decode || o->command == kCommandEncode) && Matches(a, "--palette")) {
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
        if (!TakeValue(argc, argv, i, "--color", &v, err) || !ParseRange(v, "--color", 0, 2, &number, err))
            return kExitUsage;
        o->choice.colorFormat = (int)number;
        return kOptionTaken;
    }
    if (o->command != kCommandEncode) return kOptionUnknown;
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
            Say(err, "ombr: --preset %s: auto or none\n", v);
            return kExitUsage;
        }
        o->choice.presets = strcmp(v, "auto") == 0;
    } else if (Matches(a, "--container")) {
        if (!TakeValue(argc, argv, i, "--container", &v, err)) return kExitUsage;
        if (strcmp(v, "pvz") != 0 && strcmp(v, "pvr") != 0) {
            Say(err, "ombr: --container %s: pvz or pvr\n", v);
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
        fputs(kUsage, err);
        return kExitUsage;
    }
    const char* command = argv[1];
    if (strcmp(command, "help") == 0 || HelpOrVersion(command, out)) {
        if (strcmp(command, "help") == 0) fputs(kHelp, out);
        *done = true;
        return kExitOk;
    }
    if (strcmp(command, "info") == 0) o->command = kCommandInfo;
    else if (strcmp(command, "decode") == 0) o->command = kCommandDecode;
    else if (strcmp(command, "encode") == 0) o->command = kCommandEncode;
    else if (strcmp(command, "gallery") == 0) o->command = kCommandGallery;
    else if (strcmp(command, "palette") == 0) o->command = kCommandPalette;
    else {
        Say(err, "ombr: unknown command '%s'\n%s", command, kUsage);
        return kExitUsage;
    }
    return 0;
}

// What no single option can tell wrong.
int CheckCombination(const char* command, const Options* o, FILE* err) {
    if (o->inputs.empty()) {
        fprintf(err, "ombr %s: no input files\n%s", command, kUsage);
        return kExitUsage;
    }
    if ((o->command == kCommandGallery || o->command == kCommandPalette) && !o->output) {
        fprintf(err, "ombr %s: -o names the %s\n%s", command,
                o->command == kCommandGallery ? "folder of the page" : "palette to write", kUsage);
        return kExitUsage;
    }
    if (o->command == kCommandPalette && o->inputs.size() != 1) {
        fprintf(err, "ombr palette: one palette at a time\n");
        return kExitUsage;
    }
    if (o->output && o->outDir) {
        fprintf(err, "ombr: -o and --out-dir exclude each other\n");
        return kExitUsage;
    }
    if (o->output && o->raw && SamePath(o->output, o->raw)) {
        fprintf(err, "ombr: -o and --raw name the same file\n");
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
        if (parsed == kOptionUnknown) Say(err, "ombr: %s: unknown option for '%s'\n%s", a, argv[1], kUsage);
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
