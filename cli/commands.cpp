#include "commands.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <utility>
#include <vector>

#include "convert.h"
#include "decode.h"
#include "files.h"
#include "json.h"
#include "palette.h"
#include "png.h"
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
    "                   [--png-level N]\n"
    "       ombr encode IMAGE.png... [-o OUT.pvz|OUT.pvr | --out-dir DIR] [--type N] [--color N]\n"
    "                   [--id N] [--preset auto|none] [--container pvz|pvr]\n"
    "common options: -r/--recursive -j/--jobs N -f/--force -q/--quiet -v/--verbose; ombr --help, ombr --version\n";

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
    "  --png-level N     PNG compression: 0 none (stored) to 9 smallest; default 5\n"
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
    "files, its subfolders too with -r/--recursive (links followed, each folder read once).\n"
    "Existing outputs are kept unless -f/--force. -j/--jobs N: files converted at once (default:\n"
    "one per processor; -j 1 one after the other); messages keep the order of the inputs.\n"
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
    unsigned jobs = 0;   // 0: one per processor
    int pngLevel = kPngDefaultLevel;
    SettingsChoice choice = NoSettingsChoice();
};

struct Item {
    std::string path;
    std::string relative;   // below the folder it was found in, or the base name
    std::string problem;    // why it cannot even be tried, or why it failed
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

// ---- collecting the inputs

// Folders are followed through links, and each is read once however many
// paths lead to it: the first path it is met by names its outputs.
struct Walk {
    int command;
    bool recursive;
    std::set<std::pair<uint64_t, uint64_t>> visited;
    std::vector<Item> items;
};

bool Wanted(int command, const std::string& name) {
    if (command == kCommandEncode) return EndsWithNoCase(name, ".png");
    return EndsWithNoCase(name, ".pvr") || EndsWithNoCase(name, ".pvz");
}

// False for a folder already read (a folder that cannot be identified is
// read, and its subfolders are still recognised).
bool FirstVisit(Walk* walk, const std::string& folder) {
    FolderIdentity identity;
    if (IdentifyFolder(folder.c_str(), &identity) != 0) return true;
    return walk->visited.insert({identity.volume, identity.index}).second;
}

void WalkFolder(Walk* walk, const std::string& folder, const std::string& relative, size_t* found) {
    std::vector<FolderEntry> entries;
    if (ListFolder(folder.c_str(), &entries) != 0) {
        walk->items.push_back({folder, relative, "cannot read the folder"});
        return;
    }
    for (const FolderEntry& entry : entries) {
        const std::string path = JoinPath(folder, entry.name);
        const std::string below = relative.empty() ? entry.name : JoinPath(relative, entry.name);
        if (entry.folder) {
            if (walk->recursive && FirstVisit(walk, path)) WalkFolder(walk, path, below, found);
        } else if (Wanted(walk->command, entry.name)) {
            walk->items.push_back({path, below, std::string()});
            ++*found;
        }
    }
}

const char* NothingFound(const Options& options) {
    if (options.command == kCommandEncode)
        return options.recursive ? "no .png files" : "no .png files (-r for subfolders)";
    return options.recursive ? "no .pvr or .pvz files" : "no .pvr or .pvz files (-r for subfolders)";
}

std::vector<Item> CollectInputs(const Options& options, bool* anyFolder) {
    Walk walk;
    walk.command = options.command;
    walk.recursive = options.recursive;
    *anyFolder = false;
    for (const std::string& input : options.inputs) {
        if (IsDirectory(input.c_str())) {
            *anyFolder = true;
            if (!FirstVisit(&walk, input)) continue;   // its files are in already
            size_t found = 0;
            WalkFolder(&walk, input, std::string(), &found);
            if (found == 0) walk.items.push_back({input, std::string(), NothingFound(options)});
        } else if (!PathExists(input.c_str())) {
            walk.items.push_back({input, std::string(), "no such file"});
        } else {
            walk.items.push_back({input, input.substr(BaseNameStart(input)), std::string()});
        }
    }
    return walk.items;
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

// A number option's value in [low, high].
bool ParseRange(const char* text, const char* name, long low, long high, long* value, FILE* err) {
    if (ParseNumber(text, high, value) && *value >= low) return true;
    fprintf(err, "ombr: %s %s: not a number from %ld to %ld\n", name, text, low, high);
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
    const bool convert = o->command == kCommandDecode || o->command == kCommandEncode;
    if (strcmp(a, "-r") == 0 || strcmp(a, "--recursive") == 0) o->recursive = true;
    else if (o->command == kCommandInfo && strcmp(a, "--json") == 0) o->json = true;
    else if (convert && (strcmp(a, "-f") == 0 || strcmp(a, "--force") == 0)) o->force = true;
    else if (convert && (strcmp(a, "-q") == 0 || strcmp(a, "--quiet") == 0)) o->quiet = true;
    else if (convert && (strcmp(a, "-v") == 0 || strcmp(a, "--verbose") == 0)) o->verbose = true;
    else return kOptionUnknown;
    return kOptionTaken;
}

// The options every command takes with a value, and those of decode.
int ParseCommonValue(int argc, const char* const* argv, int* i, Options* o, FILE* err) {
    const char* a = argv[*i];
    const bool decode = o->command == kCommandDecode;
    const bool convert = decode || o->command == kCommandEncode;
    const char* v = nullptr;
    long number;
    if (Matches(a, "-j") || Matches(a, "--jobs")) {
        if (!TakeValue(argc, argv, i, a[1] == 'j' ? "-j" : "--jobs", &v, err) ||
            !ParseRange(v, "-j", 1, 256, &number, err))
            return kExitUsage;
        o->jobs = (unsigned)number;
    } else if (convert && (Matches(a, "-o") || Matches(a, "--output"))) {
        if (!TakeValue(argc, argv, i, a[1] == 'o' ? "-o" : "--output", &o->output, err)) return kExitUsage;
    } else if (convert && Matches(a, "--out-dir")) {
        if (!TakeValue(argc, argv, i, "--out-dir", &o->outDir, err)) return kExitUsage;
    } else if (decode && Matches(a, "--palette")) {
        if (!TakeValue(argc, argv, i, "--palette", &o->palette, err)) return kExitUsage;
    } else if (decode && Matches(a, "--raw")) {
        if (!TakeValue(argc, argv, i, "--raw", &o->raw, err)) return kExitUsage;
    } else if (decode && Matches(a, "--png-level")) {
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
    static const long kTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 16, 17};
    static const long kColors[] = {0, 1, 2, 5, 6};
    const char* a = argv[*i];
    const char* v = nullptr;
    long number;
    if (o->command != kCommandEncode) return kOptionUnknown;
    if (Matches(a, "--type")) {
        if (!TakeValue(argc, argv, i, "--type", &v, err) ||
            !ParseCode(v, "--type", kTypes, sizeof kTypes / sizeof *kTypes, &o->choice.dataType, err))
            return kExitUsage;
    } else if (Matches(a, "--color")) {
        if (!TakeValue(argc, argv, i, "--color", &v, err) ||
            !ParseCode(v, "--color", kColors, 5, &o->choice.colorFormat, err))
            return kExitUsage;
    } else if (Matches(a, "--id")) {
        if (!TakeValue(argc, argv, i, "--id", &v, err) || !ParseRange(v, "--id", 0, 65535, &number, err))
            return kExitUsage;
        o->choice.globalIndex = (int32_t)number;
    } else if (Matches(a, "--preset")) {
        if (!TakeValue(argc, argv, i, "--preset", &v, err)) return kExitUsage;
        if (strcmp(v, "auto") != 0 && strcmp(v, "none") != 0) {
            fprintf(err, "ombr: --preset %s: auto or none\n", v);
            return kExitUsage;
        }
        o->choice.presets = strcmp(v, "auto") == 0;
    } else if (Matches(a, "--container")) {
        if (!TakeValue(argc, argv, i, "--container", &v, err)) return kExitUsage;
        if (strcmp(v, "pvz") != 0 && strcmp(v, "pvr") != 0) {
            fprintf(err, "ombr: --container %s: pvz or pvr\n", v);
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
    else {
        fprintf(err, "ombr: unknown command '%s'\n%s", command, kUsage);
        return kExitUsage;
    }
    return 0;
}

// 0 parsed; kExitOk for --help/--version (already answered); kExitUsage.
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
        if (parsed == kOptionUnknown) fprintf(err, "ombr: %s: unknown option for '%s'\n%s", a, argv[1], kUsage);
        if (parsed != kOptionTaken) return kExitUsage;
    }
    if (o->inputs.empty()) {
        fprintf(err, "ombr %s: no input files\n%s", argv[1], kUsage);
        return kExitUsage;
    }
    if (o->output && o->outDir) {
        fprintf(err, "ombr: -o and --out-dir exclude each other\n");
        return kExitUsage;
    }
    if (o->jobs == 0) o->jobs = ProcessorCount();
    return 0;
}

// ---- batches: every input a job, converted on o.jobs threads, reported in
// input order whatever order they finish in

struct Job {
    Item item;
    std::string output;
    ConvertReport report;
    EncodeOutcome outcome;
    TextureSummary summary;   // info
    bool failed;
    bool finished;            // under the batch's lock
};

struct Batch {
    const Options* options;
    FILE* out;
    FILE* err;
    std::vector<Job> jobs;
    Progress progress;
    size_t reported;          // jobs whose messages are out, a prefix of `jobs`
    size_t converted;
    std::vector<std::string> failures;
};

void SetUpBatch(Batch* batch, const Options& o, FILE* out, FILE* err, std::vector<Item>* items) {
    batch->options = &o;
    batch->out = out;
    batch->err = err;
    batch->jobs.resize(items->size());
    for (size_t i = 0; i < items->size(); i++) {
        Job& job = batch->jobs[i];
        job.item = std::move((*items)[i]);
        memset(&job.report, 0, sizeof job.report);
        memset(&job.outcome, 0, sizeof job.outcome);
        memset(&job.summary, 0, sizeof job.summary);
        job.failed = false;
        job.finished = false;
    }
    batch->progress = {err, false, items->size(), 0, 80, false};
    batch->reported = 0;
    batch->converted = 0;
}

// The pool: every index below `count` handed to work() once, in increasing
// order, by `threads` threads (the calling one among them); after each,
// finish() under the pool's lock, so finish calls never overlap. One thread
// (or no lock to be had): all in the calling thread, in order.
typedef void (*BatchStep)(void* context, size_t index);
struct Pool {
    size_t count;
    size_t next;   // the next index to hand out, under the lock
    BatchStep work;
    BatchStep finish;
    void* context;
    ThreadLock* lock;
};

void PoolWorker(void* argument) {
    Pool* pool = static_cast<Pool*>(argument);
    for (;;) {
        if (pool->lock) LockThreads(pool->lock);
        const size_t index = pool->next < pool->count ? pool->next++ : pool->count;
        if (pool->lock) UnlockThreads(pool->lock);
        if (index == pool->count) return;
        pool->work(pool->context, index);
        if (pool->lock) LockThreads(pool->lock);
        pool->finish(pool->context, index);
        if (pool->lock) UnlockThreads(pool->lock);
    }
}

void RunPool(size_t count, unsigned threads, BatchStep work, BatchStep finish, void* context) {
    const unsigned more = (unsigned)(threads > 1 && count > 1 ? (threads < count ? threads : count) - 1 : 0);
    Pool pool = {count, 0, work, finish, context, more > 0 ? NewThreadLock() : nullptr};
    if (pool.lock) RunOnThreads(more, PoolWorker, &pool);
    else PoolWorker(&pool);
    FreeThreadLock(pool.lock);
}

// Marks a job finished and reports every finished job that is next in order.
void FinishInOrder(Batch* batch, size_t index, void (*report)(Batch*, Job*)) {
    batch->jobs[index].finished = true;
    batch->progress.done++;
    while (batch->reported < batch->jobs.size() && batch->jobs[batch->reported].finished)
        report(batch, &batch->jobs[batch->reported++]);
    ProgressDraw(&batch->progress, batch->jobs[index].item.path);
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

void InspectWork(void* context, size_t index) {
    Job& job = static_cast<Batch*>(context)->jobs[index];
    if (!job.item.problem.empty()) {
        job.failed = true;
        return;
    }
    if (EndsWithNoCase(job.item.path, ".png")) return;   // read and told in order, by ReportInspected
    TextureSummary& summary = job.summary;
    InspectTexture(job.item.path.c_str(), &summary);
    job.failed = summary.readResult != kFileOk || summary.checkResult != kTextureOk || !summary.decodable;
}

void ReportInspected(Batch* batch, Job* job) {
    const char* path = job->item.path.c_str();
    const int picture = job->item.problem.empty() ? PrintPictureInfo(batch->out, path, batch->options->json,
                                                                      batch->converted == 0)
                                                  : -1;
    if (picture >= 0) {
        job->failed = picture != 0;
        batch->converted++;
    } else if (!job->item.problem.empty()) {
        fprintf(batch->err, "ombr: %s: %s\n", path, job->item.problem.c_str());
    } else if (batch->options->json) {
        PrintInfoJson(batch->out, path, job->summary, batch->converted == 0);
        batch->converted++;
    } else {
        if (batch->converted > 0) fputc('\n', batch->out);
        PrintInfoText(batch->out, path, job->summary);
        batch->converted++;
    }
    if (job->failed) batch->failures.push_back(job->item.path);
}

void InspectFinish(void* context, size_t index) {
    FinishInOrder(static_cast<Batch*>(context), index, ReportInspected);
}

int RunInfo(const Options& o, FILE* out, FILE* err) {
    bool anyFolder;
    std::vector<Item> items = CollectInputs(o, &anyFolder);
    Batch batch;
    SetUpBatch(&batch, o, out, err, &items);
    if (o.json) fputc('[', out);
    RunPool(batch.jobs.size(), o.jobs, InspectWork, InspectFinish, &batch);
    if (o.json) fputs(batch.converted == 0 ? "]\n" : "\n]\n", out);
    return batch.failures.empty() ? kExitOk : kExitFailed;
}

// ---- decode and encode

std::string PlanOutput(const Options& o, const Item& item) {
    if (o.output) return o.output;
    const bool decode = o.command == kCommandDecode;
    const std::string& name = o.outDir ? item.relative : item.path;
    std::string planned = decode ? ReplaceExtension(name, ".png") : TextureNameFor(name, o.container);
    return o.outDir ? JoinPath(o.outDir, planned) : planned;
}

// The palette file an encode may write beside its texture ("" for none):
// unless the command line names a colour DataType, the settings of each
// picture decide, so the name is kept for it.
std::string PlannedPalette(const Options& o, const std::string& output) {
    const int type = o.choice.dataType;
    char palette[kImportPathCapacity];
    if (o.command != kCommandEncode || (type >= 0 && type != kTypePal4 && type != kTypePal8) ||
        !MakePalettePath(output.c_str(), palette, sizeof palette) || output == palette)
        return std::string();
    return palette;
}

// Outputs and their folders, in input order before anything runs: the first
// input that goes to a name (texture or palette) keeps it, so no two jobs
// ever write one file.
void PlanOutputs(Batch* batch) {
    const Options& o = *batch->options;
    std::set<std::string> planned;
    for (Job& job : batch->jobs) {
        std::string& problem = job.item.problem;
        if (!problem.empty()) continue;
        job.output = PlanOutput(o, job.item);
        const std::string palette = PlannedPalette(o, job.output);
        if (planned.count(job.output) || (!palette.empty() && planned.count(palette))) {
            problem = "another input already goes to " + (planned.count(job.output) ? job.output : palette);
            continue;
        }
        planned.insert(job.output);
        if (!palette.empty()) planned.insert(palette);
        const std::string folder = o.outDir ? FolderOf(job.output) : std::string();
        if (!folder.empty() && MakeDirectories(folder.c_str()) != 0) problem = "cannot create the folder " + folder;
    }
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

// One file, on any thread: it touches only its own job.
void ConvertWork(void* context, size_t index) {
    const Batch* batch = static_cast<Batch*>(context);
    const Options& o = *batch->options;
    Job& job = static_cast<Batch*>(context)->jobs[index];
    if (!job.item.problem.empty()) {
        job.failed = true;
        return;
    }
    int result;
    if (o.command == kCommandDecode) {
        DecodeJob decode = {job.item.path.c_str(), job.output.c_str(), o.raw, o.palette, o.force};
        decode.pngLevel = o.pngLevel;
        result = DecodeTextureFile(decode, &job.report);
    } else {
        const EncodeJob encode = {job.item.path.c_str(), job.output.c_str(), o.choice, o.force};
        result = EncodeImageFile(encode, &job.outcome, &job.report);
    }
    if (result != 0) {
        job.item.problem = job.report.message;
        job.failed = true;
    }
}

void ReportConverted(Batch* batch, Job* job) {
    Progress* progress = &batch->progress;
    if (job->report.warning[0]) Complain(progress, batch->err, job->item.path, "warning: ", job->report.warning);
    if (job->failed) {
        Complain(progress, batch->err, job->item.path, "", job->item.problem.c_str());
        batch->failures.push_back(job->item.path);
        return;
    }
    batch->converted++;
    if (batch->options->verbose) {
        char line[3 * kReportRoom];
        Describe(line, sizeof line, *batch->options, job->item, job->output, job->outcome);
        ProgressClear(progress);
        fprintf(batch->out, "%s\n", line);
        fflush(batch->out);
    }
}

void ConvertFinish(void* context, size_t index) {
    FinishInOrder(static_cast<Batch*>(context), index, ReportConverted);
}

int RunConvert(const Options& o, FILE* out, FILE* err) {
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
    Batch batch;
    SetUpBatch(&batch, o, out, err, &items);
    batch.progress.enabled = !o.quiet && batch.jobs.size() > 1 && IsTerminal(err);
    batch.progress.columns = TerminalColumns(err);
    PlanOutputs(&batch);
    ProgressDraw(&batch.progress, std::string());
    RunPool(batch.jobs.size(), o.jobs, ConvertWork, ConvertFinish, &batch);
    ProgressClear(&batch.progress);
    if (!o.quiet)
        fprintf(out, "ombr %s: %zu converted, %zu failed\n", o.command == kCommandDecode ? "decode" : "encode",
                batch.converted, batch.failures.size());
    if (batch.failures.size() > 0 && batch.jobs.size() > 1)
        for (const std::string& path : batch.failures) fprintf(err, "ombr: failed: %s\n", path.c_str());
    return batch.failures.empty() ? kExitOk : kExitFailed;
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
