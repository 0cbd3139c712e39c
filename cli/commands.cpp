#include "commands.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <vector>

#include "convert.h"
#include "decode.h"
#include "files.h"
#include "json.h"
#include "texture.h"

#ifndef OMBR_VERSION
#define OMBR_VERSION "0"
#endif

const char kOmbrVersion[] = OMBR_VERSION;

namespace {

enum { kCommandInfo = 1, kCommandDecode, kCommandEncode };

const char kUsage[] =
    "usage: ombr info FILE... [--json] [-r]\n"
    "       ombr decode TEXTURE... [-o OUT.png | --out-dir DIR] [--palette PVP] [--raw FILE]\n"
    "       ombr encode IMAGE.png... [-o OUT.pvz|OUT.pvr | --out-dir DIR] [--type N] [--color N]\n"
    "                   [--id N] [--preset auto|none] [--container pvz|pvr]\n"
    "common options: -r/--recursive -f/--force -q/--quiet -v/--verbose; ombr --help, ombr --version\n";

const char kHelp[] =
    "ombr " OMBR_VERSION ": converts Zelvanis PVR/PVZ textures to PNG and back, with the code of the\n"
    "ombrin and ombrout plug-ins.\n"
    "\n"
    "ombr info FILE...\n"
    "  Tells the container, GlobalIndex, ColorFormat, DataType, size, texel data length and\n"
    "  palette file of each texture, and whether the import reads it. --json for scripts.\n"
    "\n"
    "ombr decode TEXTURE...\n"
    "  Writes each .pvr or .pvz texture as a PNG: palette textures as palette PNGs (their .pvp\n"
    "  is taken from beside the texture, as the plug-in finds it), colour textures as RGBA PNGs.\n"
    "  -o OUT.png        the PNG of a single texture (default: beside the texture, .png)\n"
    "  --out-dir DIR     where the PNGs of many textures go (subfolders kept with -r)\n"
    "  --palette PVP     the palette file to use instead of the one beside the texture\n"
    "  --raw FILE        also write the picture's pixel values, 32-bit little-endian, row by row\n"
    "\n"
    "ombr encode IMAGE.png...\n"
    "  Writes each PNG as a texture, and the .pvp palette beside it for DataType 5 and 7. A name\n"
    "  ending in \".pvr\" is written plain, any other as a PVZ container.\n"
    "  -o OUT            the texture of a single picture (default: beside the picture)\n"
    "  --out-dir DIR     where the textures of many pictures go\n"
    "  --container C     pvz (default) or pvr: the extension given to names without one\n"
    "  --type N          DataType: 1, 5, 7, 9 or 13 (0xd) as the export writes them; made by ombr itself:\n"
    "                    2 (mip chain, square), 3 and 4 (VQ, 4 with mips), 16 and 17 (small VQ,\n"
    "                    17 with mips); VQ is square, 2 (16, 17: 4) to 2048, lossy, without alpha.\n"
    "                    A colour PNG as 5 or 7 is quantised to 16 or 256 colours (6 and 8 refused)\n"
    "  --color N         ColorFormat: 0 ARGB1555, 1 RGB565, 2 ARGB4444, 5 or 6 (indices, DataType 1, 13)\n"
    "  --id N            GlobalIndex, 0 to 65535\n"
    "  --preset auto     settings not given are taken from the known texture of the output's file\n"
    "                    name (default); --preset none: defaults instead (DataType 7 for palette\n"
    "                    PNGs, 1 for others; ColorFormat 0; ID 0)\n"
    "\n"
    "Files and folders can be mixed; a folder gives its .pvr/.pvz (decode, info) or .png (encode)\n"
    "files, its subfolders too with -r/--recursive. Existing outputs are kept unless -f/--force.\n"
    "-q/--quiet: no progress bar and no summary; -v/--verbose: one line per file converted.\n"
    "Exit status: 0 all done, 1 some file failed, 2 bad command line.\n";

struct Options {
    int command = 0;
    std::vector<std::string> inputs;
    const char* output = nullptr;
    const char* outDir = nullptr;
    const char* palette = nullptr;
    const char* raw = nullptr;
    bool json = false;
    bool force = false;
    bool recursive = false;
    bool quiet = false;
    bool verbose = false;
    int container = kContainerChoicePvz;
    SettingsChoice choice = NoSettingsChoice();
};

struct Item {
    std::string path;
    std::string relative;   // below the folder it was found in, or the base name
    std::string problem;    // why it cannot even be tried
};

struct Progress {
    FILE* stream;
    bool enabled;
    size_t total;
    size_t done;
    int columns;
    bool shown;
};

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = strlen(suffix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

size_t BaseNameStart(const std::string& path) {
    for (size_t i = path.size(); i > 0; i--)
        if (IsPathSeparator(path[i - 1])) return i;
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t base = BaseNameStart(path);
    return base == 0 ? std::string() : path.substr(0, base - 1);
}

bool Wanted(int command, const std::string& name) {
    if (command == kCommandEncode) return EndsWithNoCase(name, ".png");
    return EndsWithNoCase(name, ".pvr") || EndsWithNoCase(name, ".pvz");
}

void Walk(int command, const std::string& folder, const std::string& relative, bool recursive,
          std::vector<Item>* items, size_t* found) {
    std::vector<FolderEntry> entries;
    if (ListFolder(folder.c_str(), &entries) != 0) {
        items->push_back({folder, relative, "cannot read the folder"});
        return;
    }
    for (const FolderEntry& entry : entries) {
        const std::string path = JoinPath(folder, entry.name);
        const std::string below = relative.empty() ? entry.name : JoinPath(relative, entry.name);
        if (entry.folder) {
            if (recursive) Walk(command, path, below, recursive, items, found);
        } else if (Wanted(command, entry.name)) {
            items->push_back({path, below, std::string()});
            ++*found;
        }
    }
}

std::vector<Item> CollectInputs(const Options& options, bool* anyFolder) {
    std::vector<Item> items;
    *anyFolder = false;
    for (const std::string& input : options.inputs) {
        if (IsDirectory(input.c_str())) {
            *anyFolder = true;
            size_t found = 0;
            Walk(options.command, input, std::string(), options.recursive, &items, &found);
            if (found == 0)
                items.push_back({input, std::string(),
                                 options.command == kCommandEncode
                                     ? (options.recursive ? "no .png files" : "no .png files (-r for subfolders)")
                                     : (options.recursive ? "no .pvr or .pvz files"
                                                          : "no .pvr or .pvz files (-r for subfolders)")});
        } else if (!PathExists(input.c_str())) {
            items.push_back({input, std::string(), "no such file"});
        } else {
            items.push_back({input, input.substr(BaseNameStart(input)), std::string()});
        }
    }
    return items;
}

// ---- progress and messages

void ProgressClear(Progress* p) {
    if (!p->enabled || !p->shown) return;
    fprintf(p->stream, "\r%*s\r", p->columns - 1, "");
    fflush(p->stream);
    p->shown = false;
}

void ProgressDraw(Progress* p, const std::string& name) {
    if (!p->enabled) return;
    const int barWidth = 24;
    const int filled = p->total ? (int)(barWidth * p->done / p->total) : barWidth;
    char head[96];
    snprintf(head, sizeof head, "[%.*s%.*s] %zu/%zu ", filled, "########################", barWidth - filled,
             "........................", p->done, p->total);
    const int room = p->columns - 1 - (int)strlen(head);
    std::string shown = name;
    if (room <= 3) shown.clear();
    else if ((int)shown.size() > room) shown = "..." + shown.substr(shown.size() - (size_t)(room - 3));
    fprintf(p->stream, "\r%s%-*s", head, room > 0 ? room : 0, shown.c_str());
    fflush(p->stream);
    p->shown = true;
}

void Complain(Progress* p, FILE* err, const std::string& path, const char* kind, const char* text) {
    ProgressClear(p);
    fprintf(err, "ombr: %s: %s%s\n", path.c_str(), kind, text);
}

// ---- argument parsing

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

bool ParseCode(const char* text, const char* name, const long* allowed, size_t count, int* out, FILE* err) {
    long value;
    if (ParseNumber(text, 255, &value))
        for (size_t i = 0; i < count; i++)
            if (allowed[i] == value) {
                *out = (int)value;
                return true;
            }
    fprintf(err, "ombr: %s %s: not one of the codes ombr encode takes\n", name, text);
    return false;
}

// 0 parsed; kExitOk for --help/--version (already answered); kExitUsage.
int ParseArguments(int argc, const char* const* argv, Options* o, FILE* out, FILE* err, bool* done) {
    *done = false;
    if (argc < 2) {
        fputs(kUsage, err);
        return kExitUsage;
    }
    const char* command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0 || strcmp(command, "help") == 0) {
        fputs(kHelp, out);
        *done = true;
        return kExitOk;
    }
    if (strcmp(command, "--version") == 0 || strcmp(command, "-V") == 0) {
        fprintf(out, "ombr %s\n", OMBR_VERSION);
        *done = true;
        return kExitOk;
    }
    if (strcmp(command, "info") == 0) o->command = kCommandInfo;
    else if (strcmp(command, "decode") == 0) o->command = kCommandDecode;
    else if (strcmp(command, "encode") == 0) o->command = kCommandEncode;
    else {
        fprintf(err, "ombr: unknown command '%s'\n%s", command, kUsage);
        return kExitUsage;
    }

    static const long kTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 16, 17};
    static const long kColors[] = {0, 1, 2, 5, 6};
    bool optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        const char* a = argv[i];
        const char* v = nullptr;
        const bool decode = o->command == kCommandDecode, encode = o->command == kCommandEncode;
        const bool convert = decode || encode;
        if (optionsEnded || a[0] != '-' || strcmp(a, "-") == 0) {
            o->inputs.push_back(a);
        } else if (strcmp(a, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(kHelp, out);
            *done = true;
            return kExitOk;
        } else if (strcmp(a, "--version") == 0 || strcmp(a, "-V") == 0) {
            fprintf(out, "ombr %s\n", OMBR_VERSION);
            *done = true;
            return kExitOk;
        } else if (strcmp(a, "-r") == 0 || strcmp(a, "--recursive") == 0) {
            o->recursive = true;
        } else if (o->command == kCommandInfo && strcmp(a, "--json") == 0) {
            o->json = true;
        } else if (convert && (strcmp(a, "-f") == 0 || strcmp(a, "--force") == 0)) {
            o->force = true;
        } else if (convert && (strcmp(a, "-q") == 0 || strcmp(a, "--quiet") == 0)) {
            o->quiet = true;
        } else if (convert && (strcmp(a, "-v") == 0 || strcmp(a, "--verbose") == 0)) {
            o->verbose = true;
        } else if (convert && (Matches(a, "-o") || Matches(a, "--output"))) {
            if (!TakeValue(argc, argv, &i, a[1] == 'o' ? "-o" : "--output", &o->output, err)) return kExitUsage;
        } else if (convert && Matches(a, "--out-dir")) {
            if (!TakeValue(argc, argv, &i, "--out-dir", &o->outDir, err)) return kExitUsage;
        } else if (decode && Matches(a, "--palette")) {
            if (!TakeValue(argc, argv, &i, "--palette", &o->palette, err)) return kExitUsage;
        } else if (decode && Matches(a, "--raw")) {
            if (!TakeValue(argc, argv, &i, "--raw", &o->raw, err)) return kExitUsage;
        } else if (encode && Matches(a, "--type")) {
            if (!TakeValue(argc, argv, &i, "--type", &v, err) ||
                !ParseCode(v, "--type", kTypes, sizeof kTypes / sizeof *kTypes, &o->choice.dataType, err))
                return kExitUsage;
        } else if (encode && Matches(a, "--color")) {
            if (!TakeValue(argc, argv, &i, "--color", &v, err) ||
                !ParseCode(v, "--color", kColors, 5, &o->choice.colorFormat, err))
                return kExitUsage;
        } else if (encode && Matches(a, "--id")) {
            long id;
            if (!TakeValue(argc, argv, &i, "--id", &v, err)) return kExitUsage;
            if (!ParseNumber(v, 65535, &id)) {
                fprintf(err, "ombr: --id %s: not a number from 0 to 65535\n", v);
                return kExitUsage;
            }
            o->choice.globalIndex = (int32_t)id;
        } else if (encode && Matches(a, "--preset")) {
            if (!TakeValue(argc, argv, &i, "--preset", &v, err)) return kExitUsage;
            if (strcmp(v, "auto") == 0) o->choice.presets = true;
            else if (strcmp(v, "none") == 0) o->choice.presets = false;
            else {
                fprintf(err, "ombr: --preset %s: auto or none\n", v);
                return kExitUsage;
            }
        } else if (encode && Matches(a, "--container")) {
            if (!TakeValue(argc, argv, &i, "--container", &v, err)) return kExitUsage;
            if (strcmp(v, "pvz") == 0) o->container = kContainerChoicePvz;
            else if (strcmp(v, "pvr") == 0) o->container = kContainerChoicePvr;
            else {
                fprintf(err, "ombr: --container %s: pvz or pvr\n", v);
                return kExitUsage;
            }
        } else {
            fprintf(err, "ombr: %s: unknown option for '%s'\n%s", a, command, kUsage);
            return kExitUsage;
        }
    }
    if (o->inputs.empty()) {
        fprintf(err, "ombr %s: no input files\n%s", command, kUsage);
        return kExitUsage;
    }
    if (o->output && o->outDir) {
        fprintf(err, "ombr: -o and --out-dir exclude each other\n");
        return kExitUsage;
    }
    return 0;
}

// ---- info

void PrintCode(FILE* out, const char* label, unsigned code, const char* name) {
    fprintf(out, "  %-12s %u (%s)", label, code, name ? name : "unknown");
}

void PrintInfoText(FILE* out, const char* path, const TextureSummary& s) {
    fprintf(out, "%s\n", path);
    if (s.readResult != kFileOk) {
        fprintf(out, "  error:       cannot be read\n");
        return;
    }
    const TextureCheck& c = s.check;
    if (s.checkResult == kTextureShortFile || s.checkResult == kTextureBadMagic) {
        fprintf(out, "  error:       %s (%zu bytes)\n", TextureCheckText(s.checkResult), s.fileLength);
        return;
    }
    if (c.container == kContainerPvz)
        fprintf(out, "  %-12s PVZ, %zu bytes (size field %u)\n", "container:", s.fileLength, c.pvzSize);
    else
        fprintf(out, "  %-12s PVR, %zu bytes\n", "container:", s.fileLength);
    fprintf(out, "  %-12s %u (ID %d)\n", "GlobalIndex:", c.info.globalIndex, (int)(int32_t)c.info.globalIndex);
    PrintCode(out, "ColorFormat:", c.info.colorFormat, ColorFormatName(c.info.colorFormat));
    if (c.colorFormat != c.info.colorFormat)
        fprintf(out, ", read as %u (%s)", c.colorFormat, ColorFormatName(c.colorFormat));
    fputc('\n', out);
    PrintCode(out, "DataType:", c.info.dataType, DataTypeName(c.info.dataType));
    fputc('\n', out);
    fprintf(out, "  %-12s %u x %u\n", "size:", (unsigned)c.info.width, (unsigned)c.info.height);
    fprintf(out, "  %-12s %llu bytes (the layout reads %llu)\n", "texel data:", (unsigned long long)c.texelBytes,
            (unsigned long long)c.layout.needed);
    if (!s.paletteNeeded)
        fprintf(out, "  %-12s none used\n", "palette:");
    else if (s.paletteFound)
        fprintf(out, "  %-12s %s, %u entries%s\n", "palette:", s.palettePath, s.paletteEntries,
                HasChannelRow(c.colorFormat) ? "" : " (no colour conversion for their ColorFormat)");
    else
        fprintf(out, "  %-12s %s not found\n", "palette:", s.palettePath[0] ? s.palettePath : "(no path)");
    if (s.checkResult != kTextureOk)
        fprintf(out, "  %-12s refused: %s\n", "import:", TextureCheckText(s.checkResult));
    else if (!s.decodable)
        fprintf(out, "  %-12s nothing to decode (%s)\n", "import:",
                c.layout.decoder == kDecoderNone ? "no texel layout" : "no colour conversion");
    else
        fprintf(out, "  %-12s ok\n", "import:");
}

std::string JsonCode(unsigned code, const char* name) {
    char text[32];
    snprintf(text, sizeof text, "%u", code);
    return std::string("{\"code\": ") + text + ", \"name\": " + (name ? JsonQuote(name) : "null") + "}";
}

void PrintInfoJson(FILE* out, const char* path, const TextureSummary& s, bool first) {
    const TextureCheck& c = s.check;
    const bool header = s.readResult == kFileOk && s.checkResult != kTextureShortFile &&
                        s.checkResult != kTextureBadMagic;
    const char* error = s.readResult != kFileOk ? "cannot be read"
                        : s.checkResult != kTextureOk ? TextureCheckText(s.checkResult)
                        : !s.decodable ? (c.layout.decoder == kDecoderNone ? "no texel layout" : "no colour conversion")
                                       : nullptr;
    fprintf(out, "%s\n  {\"file\": %s, \"ok\": %s, \"error\": %s", first ? "" : ",", JsonQuote(path).c_str(),
            error ? "false" : "true", error ? JsonQuote(error).c_str() : "null");
    if (s.readResult == kFileOk) fprintf(out, ", \"fileLength\": %zu", s.fileLength);
    if (header) {
        fprintf(out, ", \"container\": \"%s\"", c.container == kContainerPvz ? "pvz" : "pvr");
        if (c.container == kContainerPvz) fprintf(out, ", \"pvzSize\": %u", c.pvzSize);
        fprintf(out, ", \"globalIndex\": %u", c.info.globalIndex);
        fprintf(out, ", \"colorFormat\": %s", JsonCode(c.info.colorFormat, ColorFormatName(c.info.colorFormat)).c_str());
        fprintf(out, ", \"importColorFormat\": %s", JsonCode(c.colorFormat, ColorFormatName(c.colorFormat)).c_str());
        fprintf(out, ", \"dataType\": %s", JsonCode(c.info.dataType, DataTypeName(c.info.dataType)).c_str());
        fprintf(out, ", \"width\": %u, \"height\": %u", (unsigned)c.info.width, (unsigned)c.info.height);
        fprintf(out, ", \"texelBytes\": %llu, \"layoutBytes\": %llu", (unsigned long long)c.texelBytes,
                (unsigned long long)c.layout.needed);
        fprintf(out, ", \"decodable\": %s", s.decodable ? "true" : "false");
        if (s.paletteNeeded)
            fprintf(out, ", \"palette\": {\"path\": %s, \"found\": %s, \"entries\": %u, \"converted\": %s}",
                    JsonQuote(s.palettePath).c_str(), s.paletteFound ? "true" : "false", s.paletteEntries,
                    HasChannelRow(c.colorFormat) ? "true" : "false");
        else
            fprintf(out, ", \"palette\": null");
    }
    fputc('}', out);
}

int RunInfo(const Options& o, FILE* out, FILE* err) {
    bool anyFolder;
    const std::vector<Item> items = CollectInputs(o, &anyFolder);
    bool failed = false;
    bool first = true;
    if (o.json) fputc('[', out);
    for (const Item& item : items) {
        if (!item.problem.empty()) {
            fprintf(err, "ombr: %s: %s\n", item.path.c_str(), item.problem.c_str());
            failed = true;
            continue;
        }
        const int picture = PrintPictureInfo(out, item.path.c_str(), o.json, first);
        if (picture >= 0) {
            failed |= picture != 0;
            first = false;
            continue;
        }
        TextureSummary summary;
        InspectTexture(item.path.c_str(), &summary);
        if (summary.readResult != kFileOk || summary.checkResult != kTextureOk || !summary.decodable)
            failed = true;
        if (o.json) {
            PrintInfoJson(out, item.path.c_str(), summary, first);
        } else {
            if (!first) fputc('\n', out);
            PrintInfoText(out, item.path.c_str(), summary);
        }
        first = false;
    }
    if (o.json) fputs(first ? "]\n" : "\n]\n", out);
    return failed ? kExitFailed : kExitOk;
}

// ---- decode and encode

std::string PlanOutput(const Options& o, const Item& item) {
    if (o.output) return o.output;
    const bool decode = o.command == kCommandDecode;
    const std::string& name = o.outDir ? item.relative : item.path;
    std::string planned = decode ? ReplaceExtension(name, ".png") : TextureNameFor(name, o.container);
    return o.outDir ? JoinPath(o.outDir, planned) : planned;
}

void Describe(char* out, size_t room, const Options& o, const Item& item, const std::string& output,
              const EncodeOutcome& outcome) {
    if (o.command == kCommandDecode) {
        snprintf(out, room, "%s -> %s", item.path.c_str(), output.c_str());
        return;
    }
    const TextureSettings& s = outcome.settings;
    snprintf(out, room, "%s -> %s (DataType %u, ColorFormat %u, ID %u%s%s)%s%s", item.path.c_str(), output.c_str(),
             (unsigned)s.dataType, (unsigned)s.colorFormat, (unsigned)s.globalIndex,
             outcome.presetName ? ", preset " : "", outcome.presetName ? outcome.presetName : "",
             outcome.wrotePalette ? " + " : "", outcome.wrotePalette ? outcome.palettePath : "");
}

int RunConvert(const Options& o, FILE* out, FILE* err) {
    const bool decode = o.command == kCommandDecode;
    bool anyFolder;
    std::vector<Item> items = CollectInputs(o, &anyFolder);
    if ((o.output || o.raw) && (items.size() > 1 || anyFolder)) {
        fprintf(err, "ombr: %s takes a single input file; use --out-dir for many\n", o.output ? "-o" : "--raw");
        return kExitUsage;
    }
    if (o.outDir && MakeDirectories(o.outDir) != 0) {
        fprintf(err, "ombr: cannot create the folder %s\n", o.outDir);
        return kExitFailed;
    }

    Progress progress = {err, !o.quiet && items.size() > 1 && IsTerminal(err), items.size(), 0,
                         TerminalColumns(err), false};
    std::set<std::string> planned;
    std::vector<std::string> failures;
    size_t converted = 0;
    for (const Item& item : items) {
        ProgressDraw(&progress, item.path);
        std::string problem = item.problem;
        std::string output;
        if (problem.empty()) {
            output = PlanOutput(o, item);
            if (!planned.insert(output).second) problem = "another input already goes to " + output;
        }
        if (problem.empty() && o.outDir) {
            const std::string folder = FolderOf(output);
            if (!folder.empty() && MakeDirectories(folder.c_str()) != 0) problem = "cannot create the folder " + folder;
        }
        ConvertReport report;
        report.warning[0] = '\0';
        EncodeOutcome outcome;
        memset(&outcome, 0, sizeof outcome);
        if (problem.empty()) {
            int result;
            if (decode) {
                const DecodeJob job = {item.path.c_str(), output.c_str(), o.raw, o.palette, o.force};
                result = DecodeTextureFile(job, &report);
            } else {
                const EncodeJob job = {item.path.c_str(), output.c_str(), o.choice, o.force};
                result = EncodeImageFile(job, &outcome, &report);
            }
            if (result != 0) problem = report.message;
        }
        progress.done++;
        if (report.warning[0]) Complain(&progress, err, item.path, "warning: ", report.warning);
        if (!problem.empty()) {
            Complain(&progress, err, item.path, "", problem.c_str());
            failures.push_back(item.path);
            continue;
        }
        converted++;
        if (o.verbose) {
            char line[3 * kReportRoom];
            Describe(line, sizeof line, o, item, output, outcome);
            ProgressClear(&progress);
            fprintf(out, "%s\n", line);
            fflush(out);
        }
    }
    ProgressClear(&progress);
    if (!o.quiet)
        fprintf(out, "ombr %s: %zu converted, %zu failed\n", decode ? "decode" : "encode", converted,
                failures.size());
    if (failures.size() > 0 && items.size() > 1)
        for (const std::string& path : failures) fprintf(err, "ombr: failed: %s\n", path.c_str());
    return failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

std::string ReplaceExtension(const std::string& path, const char* extension) {
    const size_t base = BaseNameStart(path);
    const size_t dot = path.rfind('.');
    std::string stem = dot != std::string::npos && dot > base ? path.substr(0, dot) : path;
    return stem + extension;
}

std::string TextureNameFor(const std::string& picture, int containerChoice) {
    std::string stem = picture;
    if (EndsWithNoCase(stem, ".png") && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    if ((EndsWithNoCase(stem, ".pvz") || EndsWithNoCase(stem, ".pvr")) && stem.size() - 4 > BaseNameStart(stem))
        return stem;
    return stem + (containerChoice == kContainerChoicePvr ? ".pvr" : ".pvz");
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (IsPathSeparator(folder.back())) return folder + name;
    return folder + kPathSeparator + name;
}

bool ParseNumber(const char* text, long max, long* value) {
    if (!text || !*text) return false;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (!*text) return false;
    }
    unsigned long v = 0;
    for (const char* p = text; *p; p++) {
        int digit;
        if (*p >= '0' && *p <= '9') digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
        else return false;
        v = v * base + digit;
        if (v > (unsigned long)max) return false;
    }
    *value = (long)v;
    return true;
}

int RunOmbr(int argc, const char* const* argv, FILE* out, FILE* err) {
    Options options;
    bool done = false;
    const int parsed = ParseArguments(argc, argv, &options, out, err, &done);
    if (done || parsed != 0) return parsed;
    const int status = options.command == kCommandInfo ? RunInfo(options, out, err) : RunConvert(options, out, err);
    fflush(out);
    fflush(err);
    return status;
}
