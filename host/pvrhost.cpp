// pvrhost: runs a plug-in the way the paint program does.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host.h"
#include "png_io.h"

using nlohmann::json;

static const char kUsage[] =
    "usage:\n"
    "  pvrhost info PLUGIN\n"
    "  pvrhost import PLUGIN TEXTURE [--out IMAGE.png] [--raw FILE] [--report FILE.json]\n"
    "                 [--layer-name TEXT] [--no-layer] [--palette-dialog cancel|PATH]\n"
    "  pvrhost export PLUGIN IMAGE.png TEXTURE [--mode two|grey|indexed|direct] [--layer-name TEXT]\n"
    "                 [--no-layer] [--layers N] [--left X --top Y] [--transparent I]\n"
    "                 [--dialog ok|cancel] [--click file|tag] [--type N] [--color N] [--id TEXT]\n"
    "                 [--report FILE.json]\n"
    "  import and export also take [--hold-dialog SECONDS] [--timeout SECONDS]\n"
    "\n"
    "info prints the plug-in's answers as JSON. import and export run PBI_Execute or PBE_Execute\n"
    "on a host image, answer the plug-in's dialogs and message boxes as told (the open-file dialog\n"
    "is cancelled unless a PATH is given; the settings dialog gets the radio button click, the list\n"
    "items whose item data is N, the ID text, then OK or Cancel), print the status and write the\n"
    "report. --raw writes every host pixel as a little-endian 32-bit word, row by row.\n"
    "--hold-dialog keeps every dialog and message box open that long before answering it and\n"
    "prints its screen rectangle to stderr (for screenshots).\n"
    "--timeout ends the host when the plug-in has not returned after that long (default 60, 0: never).\n"
    "\n"
    "Exit status: 0 the plug-in ran (its status is printed and reported), 2 usage error or a\n"
    "plug-in that cannot be loaded, 1 an output file that cannot be written, 3 the plug-in crashed\n"
    "(the report then has \"status\": null and \"crash\"), 4 the plug-in did not return in time.\n";

struct Export {
    const char* name;
    int argumentBytes;
};
static const Export kImportExports[] = {
    {"PB_GetPluginInfo", 8}, {"PBI_GetCount", 0}, {"PBI_GetSupportedType", 12}, {"PBI_Execute", 20}};
static const Export kExportExports[] = {{"PB_GetPluginInfo", 8},
                                        {"PBE_GetCount", 0},
                                        {"PBE_GetSupportedType", 12},
                                        {"PBE_GetSupportedFormat", 4},
                                        {"PBE_Execute", 20}};

// A Unix path as Wine's Z: drive sees it; every '/' becomes '\'.
static std::string WindowsPath(const std::string& path) {
    std::string out = path[0] == '/' ? "Z:" + path : path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

// Finds an export by its plain name and checks its decorated twin.
static FARPROC Resolve(HMODULE module, const Export& e, json* exports) {
    FARPROC plain = GetProcAddress(module, e.name);
    char decorated[64];
    snprintf(decorated, sizeof decorated, "_%s@%d", e.name, e.argumentBytes);
    FARPROC twin = GetProcAddress(module, decorated);
    (*exports)[e.name] = {{"found", plain != nullptr}, {"decorated", decorated},
                          {"decorated_same_address", plain != nullptr && plain == twin}};
    return plain;
}

// After a text was copied into `buffer` with room `size`, the buffer having
// held 0x7F bytes: nothing was written past `size`, and a text shorter than
// `size` is followed by zeros up to it.
static bool CopiedWithin(const char* buffer, size_t size, size_t room) {
    for (size_t i = strnlen(buffer, size); i < size; i++)
        if (buffer[i] != 0) return false;
    for (size_t i = size; i < room; i++)
        if (buffer[i] != 0x7F) return false;
    return true;
}

static json ImbalanceJson(const std::vector<Imbalance>& seen) {
    json out = json::array();
    for (const Imbalance& i : seen) out.push_back({{"call", i.call}, {"bytes", i.bytes}});
    return out;
}

// PB_GetPluginInfo: the text and kind, and whether a copy shorter than the
// text stays within its room.
static void InfoText(FARPROC fn, json* out, std::vector<Imbalance>* seen) {
    char buffer[512];
    memset(buffer, 0x7F, sizeof buffer);
    const uintptr_t whole[] = {(uintptr_t)buffer, sizeof buffer - 1};
    short kind = (short)CallPlugin("PB_GetPluginInfo", fn, whole, 2, seen);
    bool within = CopiedWithin(buffer, sizeof buffer - 1, sizeof buffer);
    buffer[sizeof buffer - 1] = 0;
    (*out)["info"] = AnsiToUtf8(buffer);
    (*out)["kind"] = kind;
    memset(buffer, 0x7F, sizeof buffer);
    const uintptr_t shorter[] = {(uintptr_t)buffer, 8};
    CallPlugin("PB_GetPluginInfo", fn, shorter, 2, seen);
    (*out)["info_copy_bounded"] = within && CopiedWithin(buffer, 8, sizeof buffer);
}

// P?I_GetSupportedType: the descriptor, the pointer returned and a bounded copy.
static void InfoType(const char* name, FARPROC fn, json* out, std::vector<Imbalance>* seen) {
    char buffer[512];
    memset(buffer, 0x7F, sizeof buffer);
    const uintptr_t whole[] = {0, (uintptr_t)buffer, sizeof buffer - 1};
    uintptr_t returned = CallPlugin(name, fn, whole, 3, seen);
    bool within = CopiedWithin(buffer, sizeof buffer - 1, sizeof buffer);
    buffer[sizeof buffer - 1] = 0;
    (*out)["type"] = AnsiToUtf8(buffer);
    (*out)["type_returns_buffer"] = returned == (uintptr_t)buffer;
    memset(buffer, 0x7F, sizeof buffer);
    const uintptr_t shorter[] = {0, (uintptr_t)buffer, 8};
    CallPlugin(name, fn, shorter, 3, seen);
    (*out)["type_copy_bounded"] = within && CopiedWithin(buffer, 8, sizeof buffer);
}

static HMODULE LoadPlugin(const std::string& pluginPath) {
    HMODULE module = LoadLibraryA(WindowsPath(pluginPath).c_str());
    if (!module) fprintf(stderr, "pvrhost: cannot load %s (error %lu)\n", pluginPath.c_str(), GetLastError());
    return module;
}

static int Info(const std::string& pluginPath) {
    HMODULE module = LoadPlugin(pluginPath);
    if (!module) return 2;
    json out, exports = json::object();
    std::vector<Imbalance> seen;
    bool isExport = GetProcAddress(module, "PBE_Execute") != nullptr;
    const Export* list = isExport ? kExportExports : kImportExports;
    size_t count = isExport ? sizeof kExportExports / sizeof *list : sizeof kImportExports / sizeof *list;
    FARPROC procs[5] = {};
    for (size_t i = 0; i < count; i++) procs[i] = Resolve(module, list[i], &exports);
    if (procs[0]) InfoText(procs[0], &out, &seen);
    if (procs[1]) out["count"] = (int)CallPlugin(list[1].name, procs[1], nullptr, 0, &seen);
    if (procs[2]) InfoType(list[2].name, procs[2], &out, &seen);
    if (isExport && procs[3]) {
        const uintptr_t first[] = {0};
        out["format"] = (int)CallPlugin(list[3].name, procs[3], first, 1, &seen);
    }
    out["exports"] = exports;
    out["stack_imbalance"] = ImbalanceJson(seen);
    printf("%s\n", out.dump(2).c_str());
    FreeLibrary(module);
    return 0;
}

static json DialogJson(const SeenDialog& d) {
    json j = {{"kind", d.kind}};
    if (d.kind == "settings") {
        j["caption"] = d.caption;
        j["data_type"] = d.dataTypeLabel;
        j["color_format"] = d.colorFormatLabel;
        j["id"] = d.idText;
        json radios = json::object();
        for (const SeenRadio& r : d.radios)
            radios[std::to_string(r.id)] = {{"text", r.text}, {"enabled", r.enabled},
                                            {"checked", r.checked}};
        j["radios"] = radios;
        return j;
    }
    j["file_name"] = AnsiToUtf8(d.fileName);
    j["struct_size"] = d.structSize;
    j["flags"] = d.flags;
    j["max_file"] = d.maxFile;
    j["owner_is_host"] = d.ownerIsHost;
    j["filter"] = d.filter;
    j["def_ext"] = d.defExt;
    j["result"] = d.result;
    j["chosen"] = AnsiToUtf8(d.chosen);
    return j;
}

static json ImageJson(const Host& host) {
    const HostImage& im = host.image;
    json palette = json::array();
    for (uint32_t entry : im.aPalette) palette.push_back(entry);
    json refused = json::array();
    for (auto& r : host.refusedPictures) refused.push_back({r.first, r.second});
    return {{"created", host.created ? json(host.created) : json(nullptr)},
            {"width", host.width},
            {"height", host.height},
            {"color_mode", im.nColorMode},
            {"layer_name", im.pLayer ? json(AnsiToUtf8(im.pLayer->szName)) : json(nullptr)},
            {"b_alpha", im.bAlpha},
            {"palette_count", im.nPaletteCount},
            {"transparent_index", im.nTransparentIndex},
            {"palette", palette},
            {"create_refused", refused}};
}

static json Report(const Host& host, int status) {
    json begin = json::array();
    for (auto& b : host.beginProgress) begin.push_back({b.first, b.second});
    json calls = {{"set_pixel", host.setPixelCalls},   {"get_pixel", host.getPixelCalls},
                  {"begin_progress", begin},            {"step_progress", host.stepProgress},
                  {"end_progress", host.endProgress},   {"bad_slots", host.badSlots},
                  {"pixels_outside", host.pixelsOutside}};
    json messages = json::array();
    for (const SeenMessage& m : host.messages)
        messages.push_back({{"text", m.text}, {"caption", m.caption}, {"flags", m.flags}, {"owned", m.owned},
                            {"wide", m.wide}});
    // Which window owned each message box, in the same order.
    json owners = json::array();
    for (const SeenMessage& m : host.messages) owners.push_back(m.owner);
    json dialogs = json::array();
    for (const SeenDialog& d : host.dialogs) dialogs.push_back(DialogJson(d));
    return {{"status", status},     {"image", ImageJson(host)}, {"calls", calls},
            {"messages", messages}, {"dialogs", dialogs},       {"crash", nullptr},
            {"message_owners", owners}, {"stack_imbalance", ImbalanceJson(host.stackImbalance)}};
}

static bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(WindowsPath(path).c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// What the crash handler needs to report a plug-in that crashed.
struct CrashContext {
    const Host* host = nullptr;   // set while a plug-in call may be running
    HMODULE module = nullptr;
    std::string reportPath;
    json exports;
};
static CrashContext g_crash;

// An exception nobody handled (a plug-in that crashed): say so, write the
// report with "status": null and the exception, and end with exit status 3
// at once (Wine would otherwise start its debugger).
static LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    const BYTE* address = (const BYTE*)r->ExceptionAddress;
    fprintf(stderr, "pvrhost: crashed: exception 0x%08lX at %p\n", (unsigned long)r->ExceptionCode, (void*)address);
    fflush(stderr);
    if (g_crash.host && !g_crash.reportPath.empty()) {
        const BYTE* base = (const BYTE*)g_crash.module;
        const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
        const bool inPlugin = address >= base && address < base + nt->OptionalHeader.SizeOfImage;
        char code[16];
        snprintf(code, sizeof code, "0x%08lX", (unsigned long)r->ExceptionCode);
        json report = Report(*g_crash.host, 0);
        report["status"] = nullptr;
        report["crash"] = {{"code", code}, {"in_plugin", inPlugin},
                           {"plugin_offset", inPlugin ? json(address - base) : json(nullptr)}};
        report["exports"] = g_crash.exports;
        WriteText(g_crash.reportPath, report.dump(2));
    }
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Ends the host with exit status 4 unless `returned` is signalled within
// `seconds` of the start (0: no limit).
struct Watchdog {
    HANDLE returned;
    DWORD milliseconds;
};
static DWORD WINAPI WatchdogThread(void* param) {
    const Watchdog* w = (const Watchdog*)param;
    if (WaitForSingleObject(w->returned, w->milliseconds) == WAIT_TIMEOUT) {
        fprintf(stderr, "pvrhost: the plug-in did not return within %lu s\n", (unsigned long)(w->milliseconds / 1000));
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 4);
    }
    return 0;
}

struct Options {
    std::vector<std::string> positional;
    std::string out, raw, report, layerName = "Layer 1", mode, paletteDialog = "cancel";
    bool noLayer = false;
    double timeout = 60;
    int layers = 1, left = 0, top = 0, transparent = -1;
    DialogAnswers answers;
};

static bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) return false;
            *into = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--out") { if (!value(&o->out)) return false; }
        else if (a == "--raw") { if (!value(&o->raw)) return false; }
        else if (a == "--report") { if (!value(&o->report)) return false; }
        else if (a == "--layer-name") { if (!value(&o->layerName)) return false; }
        else if (a == "--no-layer") o->noLayer = true;
        else if (a == "--palette-dialog") { if (!value(&o->paletteDialog)) return false; }
        else if (a == "--mode") { if (!value(&o->mode)) return false; }
        else if (a == "--layers") { if (!value(&v)) return false; o->layers = atoi(v.c_str()); }
        else if (a == "--left") { if (!value(&v)) return false; o->left = atoi(v.c_str()); }
        else if (a == "--top") { if (!value(&v)) return false; o->top = atoi(v.c_str()); }
        else if (a == "--transparent") { if (!value(&v)) return false; o->transparent = atoi(v.c_str()); }
        else if (a == "--dialog") { if (!value(&v)) return false; o->answers.ok = v != "cancel"; }
        else if (a == "--click") {
            if (!value(&v)) return false;
            o->answers.clickRadio = v == "file" ? 112 : v == "tag" ? 111 : 0;
        }
        else if (a == "--type") { if (!value(&v)) return false; o->answers.dataType = atoi(v.c_str()); }
        else if (a == "--color") { if (!value(&v)) return false; o->answers.colorFormat = atoi(v.c_str()); }
        else if (a == "--id") { if (!value(&o->answers.idText)) return false; o->answers.setId = true; }
        else if (a == "--timeout") { if (!value(&v)) return false; o->timeout = atof(v.c_str()); }
        else if (a == "--hold-dialog") {
            if (!value(&v)) return false;
            o->answers.holdMs = (int)(atof(v.c_str()) * 1000);
        }
        else if (a.compare(0, 2, "--") == 0) return false;
        else o->positional.push_back(a);
    }
    return true;
}

static void SetLayerName(Host* host, const std::string& name) {
    memset(host->layer.szName, 0, sizeof host->layer.szName);
    strncpy(host->layer.szName, name.c_str(), sizeof host->layer.szName - 1);
}

// The host image that the export reads, from the PNG (MakeHostImage).
static bool PrepareExportImage(const Options& o, Host* host) {
    HostPng png;
    if (!LoadPng(WindowsPath(o.positional[1]).c_str(), &png)) {
        fprintf(stderr, "pvrhost: cannot read %s as PNG\n", o.positional[1].c_str());
        return false;
    }
    MakeHostImage(png, o.mode, o.left, o.top, &host->image, &host->layer, &host->source, &host->sourceWidth,
                  &host->sourceHeight);
    return true;
}

// Ends the host if the plug-in has not returned within the --timeout.
static Watchdog* StartWatchdog(double seconds) {
    static Watchdog watchdog;
    watchdog.returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watchdog.milliseconds = (DWORD)(seconds * 1000);
    if (seconds > 0 && watchdog.returned) CloseHandle(CreateThread(nullptr, 0, WatchdogThread, &watchdog, 0, nullptr));
    return &watchdog;
}

// The picture as the paint program would save it: an indexed picture as a
// palette PNG of its nPaletteCount entries (more if a pixel's index lies
// beyond them) and each pixel's own index, others as RGBA. Entries and pixels
// keep their alpha only where bAlpha says the picture has alpha.
static bool SavePicture(const char* path, const Host& host) {
    const uint32_t opaque = host.image.bAlpha ? 0 : 0xFF000000u;
    if (strcmp(host.created, "indexed") == 0) {
        std::vector<uint8_t> index(host.pixels.size());
        const int32_t count = host.image.nPaletteCount;
        size_t entries = count < 1 ? 1 : count > 256 ? 256 : (size_t)count;
        for (size_t i = 0; i < index.size(); i++) {
            index[i] = (uint8_t)host.pixels[i];
            if (index[i] >= entries) entries = index[i] + 1u;
        }
        std::vector<uint32_t> palette(entries);
        for (size_t e = 0; e < entries; e++) palette[e] = host.image.aPalette[e] | opaque;
        return SaveIndexedPng(path, host.width, host.height, palette, index);
    }
    std::vector<uint32_t> argb(host.pixels.size());
    for (size_t i = 0; i < argb.size(); i++) argb[i] = host.pixels[i] | opaque;
    return SavePng(path, host.width, host.height, argb);
}

// Writes --out (the picture as PNG), --raw and --report; 1 when one of them
// cannot be written.
static int WriteOutputs(const Options& o, const Host& host, int status, const json& exports) {
    int result = 0;
    if (!o.out.empty() && host.created && !SavePicture(WindowsPath(o.out).c_str(), host)) {
        fprintf(stderr, "pvrhost: cannot write %s\n", o.out.c_str());
        result = 1;
    }
    if (!o.raw.empty()) {
        std::string bytes;
        for (uint32_t v : host.pixels)
            for (int b = 0; b < 4; b++) bytes.push_back((char)(v >> (8 * b)));
        if (!WriteText(o.raw, bytes)) result = 1;
    }
    if (!o.report.empty()) {
        json report = Report(host, status);
        report["exports"] = exports;
        if (!WriteText(o.report, report.dump(2))) result = 1;
    }
    return result;
}

// Sets up the host image (import: empty; export: from the PNG) and its
// answers; false when the PNG cannot be read.
static bool PrepareHost(bool isImport, const Options& o, Host* host) {
    InitHost(host);
    host->window = CreateHostWindow();
    host->answers = o.answers;
    if (o.paletteDialog != "cancel") host->answers.paletteChoice = WindowsPath(o.paletteDialog);
    SetLayerName(host, o.layerName);
    if (o.noLayer) host->image.pLayer = nullptr;
    host->image.nLayerCount = o.layers;
    host->image.nTransparentIndex = o.transparent;
    return isImport || PrepareExportImage(o, host);
}

// One PBI_Execute or PBE_Execute, under the crash handler and the watchdog,
// with the dialogs answered (InstallDialogHooks done).
static int Execute(const char* name, FARPROC fn, const std::string& texture, HMODULE module, const Options& o,
                   const json& exports, Host* host) {
    g_crash.module = module;
    g_crash.reportPath = o.report.empty() ? std::string() : WindowsPath(o.report);
    g_crash.exports = exports;
    g_crash.host = host;
    Watchdog* watchdog = StartWatchdog(o.timeout);
    const uintptr_t args[] = {0, (uintptr_t)host->window, (uintptr_t)texture.c_str(), (uintptr_t)&host->image,
                              (uintptr_t)&host->services};
    const int status = (int)(int32_t)CallPlugin(name, fn, args, 5, &host->stackImbalance);
    RemoveDialogHooks();
    if (watchdog->returned) SetEvent(watchdog->returned);
    g_crash.host = nullptr;
    printf("status %d\n", status);
    return status;
}

static int Run(bool isImport, const Options& o) {
    const std::string& pluginPath = o.positional[0];
    const Export& entry = isImport ? kImportExports[3] : kExportExports[4];
    static Host host;
    json exports = json::object();
    FARPROC execute = nullptr;
    int result = 2;
    HMODULE module = LoadPlugin(pluginPath);
    if (module) execute = Resolve(module, entry, &exports);
    if (module && !execute) fprintf(stderr, "pvrhost: %s has no %s\n", pluginPath.c_str(), entry.name);
    if (execute && PrepareHost(isImport, o, &host)) {
        // A dialog nobody answers would hold the run until the watchdog: none may show.
        if (!InstallDialogHooks(module)) {
            RemoveDialogHooks();
            fprintf(stderr, "pvrhost: cannot answer the dialogs of %s\n", pluginPath.c_str());
        } else {
            const std::string texture = WindowsPath(o.positional[isImport ? 1 : 2]);
            const int status = Execute(entry.name, execute, texture, module, o, exports, &host);
            result = WriteOutputs(o, host, status, exports);
        }
    }
    if (host.window) DestroyWindow(host.window);
    if (module) FreeLibrary(module);
    return result;
}

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(OnCrash);
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    Options o;
    if (argc < 3 || !ParseOptions(argc, argv, &o)) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::string command = argv[1];
    if (command == "info" && o.positional.size() == 1) return Info(o.positional[0]);
    if (command == "import" && o.positional.size() == 2) return Run(true, o);
    if (command == "export" && o.positional.size() == 3) return Run(false, o);
    fputs(kUsage, stderr);
    return 2;
}
