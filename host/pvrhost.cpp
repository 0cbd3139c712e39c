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
    "\n"
    "info prints the plug-in's answers as JSON. import and export run PBI_Execute or PBE_Execute\n"
    "on a host image, answer the plug-in's dialogs and message boxes as told (the open-file dialog\n"
    "is cancelled unless a PATH is given; the settings dialog gets the radio button click, the list\n"
    "items whose item data is N, the ID text, then OK or Cancel), print the status and write the\n"
    "report. --raw writes every host pixel as a little-endian 32-bit word, row by row.\n";

typedef short(PB_STDCALL* GetPluginInfoFn)(char* buffer, int size);
typedef int(PB_STDCALL* GetCountFn)(void);
typedef char*(PB_STDCALL* GetSupportedTypeFn)(int index, char* buffer, int size);
typedef int(PB_STDCALL* GetSupportedFormatFn)(int index);
typedef int(PB_STDCALL* ExecuteFn)(int reserved, HWND owner, const char* path, HostImage* image,
                                   HostServices* services);

// An export as the function type it has.
template <typename F>
static F As(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc));
}

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

static int Info(const std::string& pluginPath) {
    HMODULE module = LoadLibraryA(WindowsPath(pluginPath).c_str());
    if (!module) {
        fprintf(stderr, "pvrhost: cannot load %s (error %lu)\n", pluginPath.c_str(), GetLastError());
        return 2;
    }
    json out, exports = json::object();
    bool isExport = GetProcAddress(module, "PBE_Execute") != nullptr;
    const Export* list = isExport ? kExportExports : kImportExports;
    size_t count = isExport ? sizeof kExportExports / sizeof *list : sizeof kImportExports / sizeof *list;
    FARPROC procs[5] = {};
    for (size_t i = 0; i < count; i++) procs[i] = Resolve(module, list[i], &exports);
    char buffer[512];
    if (procs[0]) {
        memset(buffer, 0x7F, sizeof buffer);
        short kind = As<GetPluginInfoFn>(procs[0])(buffer, sizeof buffer - 1);
        buffer[sizeof buffer - 1] = 0;
        out["info"] = AnsiToUtf8(buffer);
        out["kind"] = kind;
    }
    if (procs[1]) out["count"] = As<GetCountFn>(procs[1])();
    if (procs[2]) {
        memset(buffer, 0x7F, sizeof buffer);
        char* returned = As<GetSupportedTypeFn>(procs[2])(0, buffer, sizeof buffer - 1);
        buffer[sizeof buffer - 1] = 0;
        out["type"] = AnsiToUtf8(buffer);
        out["type_returns_buffer"] = returned == buffer;
    }
    if (isExport && procs[3]) out["format"] = As<GetSupportedFormatFn>(procs[3])(0);
    out["exports"] = exports;
    printf("%s\n", out.dump(2).c_str());
    FreeLibrary(module);
    return 0;
}

static json Report(const Host& host, int status) {
    const HostImage& im = host.image;
    json palette = json::array();
    for (uint32_t entry : im.aPalette) palette.push_back(entry);
    json image = {{"created", host.created ? json(host.created) : json(nullptr)},
                  {"width", host.width},
                  {"height", host.height},
                  {"color_mode", im.nColorMode},
                  {"layer_name", im.pLayer ? json(AnsiToUtf8(im.pLayer->szName)) : json(nullptr)},
                  {"b_alpha", im.bAlpha},
                  {"palette_count", im.nPaletteCount},
                  {"transparent_index", im.nTransparentIndex},
                  {"palette", palette}};
    json begin = json::array();
    for (auto& b : host.beginProgress) begin.push_back({b.first, b.second});
    json calls = {{"set_pixel", host.setPixelCalls},   {"get_pixel", host.getPixelCalls},
                  {"begin_progress", begin},            {"step_progress", host.stepProgress},
                  {"end_progress", host.endProgress},   {"bad_slots", host.badSlots},
                  {"pixels_outside", host.pixelsOutside}};
    json messages = json::array();
    for (const SeenMessage& m : host.messages)
        messages.push_back({{"text", AnsiToUtf8(m.text)}, {"caption", AnsiToUtf8(m.caption)},
                            {"flags", m.flags}, {"owned", m.owned}});
    json dialogs = json::array();
    for (const SeenDialog& d : host.dialogs) {
        json j = {{"kind", d.kind}};
        if (d.kind == "settings") {
            j["caption"] = AnsiToUtf8(d.caption);
            j["data_type"] = AnsiToUtf8(d.dataTypeLabel);
            j["color_format"] = AnsiToUtf8(d.colorFormatLabel);
            j["id"] = AnsiToUtf8(d.idText);
            json radios = json::object();
            for (const SeenRadio& r : d.radios)
                radios[std::to_string(r.id)] = {{"text", AnsiToUtf8(r.text)}, {"enabled", r.enabled},
                                                {"checked", r.checked}};
            j["radios"] = radios;
        } else {
            j["file_name"] = AnsiToUtf8(d.fileName);
            j["struct_size"] = d.structSize;
            j["flags"] = d.flags;
            j["max_file"] = d.maxFile;
            j["owner_is_host"] = d.ownerIsHost;
            j["filter"] = d.filter;
            j["def_ext"] = d.defExt;
        }
        dialogs.push_back(j);
    }
    return {{"status", status}, {"image", image}, {"calls", calls}, {"messages", messages}, {"dialogs", dialogs}};
}

static bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(WindowsPath(path).c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

struct Options {
    std::vector<std::string> positional;
    std::string out, raw, report, layerName = "Layer 1", mode, paletteDialog = "cancel";
    bool noLayer = false;
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
        else if (a.compare(0, 2, "--") == 0) return false;
        else o->positional.push_back(a);
    }
    return true;
}

static void SetLayerName(Host* host, const std::string& name) {
    memset(host->layer.szName, 0, sizeof host->layer.szName);
    strncpy(host->layer.szName, name.c_str(), sizeof host->layer.szName - 1);
}

static int Run(bool isImport, const Options& o) {
    const std::string& pluginPath = o.positional[0];
    HMODULE module = LoadLibraryA(WindowsPath(pluginPath).c_str());
    if (!module) {
        fprintf(stderr, "pvrhost: cannot load %s (error %lu)\n", pluginPath.c_str(), GetLastError());
        return 2;
    }
    json exports = json::object();
    ExecuteFn execute = As<ExecuteFn>(Resolve(module, isImport ? kImportExports[3] : kExportExports[4], &exports));
    if (!execute) {
        fprintf(stderr, "pvrhost: %s has no %s\n", pluginPath.c_str(), isImport ? "PBI_Execute" : "PBE_Execute");
        return 2;
    }

    static Host host;
    InitHost(&host);
    host.window = CreateHostWindow();
    host.answers = o.answers;
    if (o.paletteDialog != "cancel") host.answers.paletteChoice = WindowsPath(o.paletteDialog);
    SetLayerName(&host, o.layerName);
    if (o.noLayer) host.image.pLayer = nullptr;
    host.image.nLayerCount = o.layers;
    host.image.nTransparentIndex = o.transparent;

    std::string texture;
    if (isImport) {
        texture = WindowsPath(o.positional[1]);
    } else {
        PngImage png;
        if (!LoadPng(WindowsPath(o.positional[1]).c_str(), &png)) {
            fprintf(stderr, "pvrhost: cannot read %s as PNG\n", o.positional[1].c_str());
            return 2;
        }
        texture = WindowsPath(o.positional[2]);
        std::string mode = o.mode.empty() ? (png.indexed ? "indexed" : "direct") : o.mode;
        HostImage& im = host.image;
        im.nColorMode = mode == "two" ? 1 : mode == "grey" ? 2 : mode == "indexed" ? 3 : 4;
        host.sourceWidth = o.left + png.width;
        host.sourceHeight = o.top + png.height;
        host.source.assign((size_t)host.sourceWidth * host.sourceHeight, 0);
        for (int y = 0; y < png.height; y++)
            for (int x = 0; x < png.width; x++) {
                size_t i = (size_t)y * png.width + x;
                uint32_t argb = png.argb[i];
                uint32_t value = argb;
                if (mode == "indexed") value = png.indexed ? png.index[i] : (argb & 0xFF);
                if (mode == "grey") value = png.indexed ? png.index[i] : ((argb >> 16) & 0xFF);
                if (mode == "two") value = png.indexed ? (png.index[i] & 1) : (((argb >> 16) & 0xFF) >= 128);
                host.source[(size_t)(o.top + y) * host.sourceWidth + o.left + x] = value;
            }
        for (size_t e = 0; e < png.palette.size() && e < 256; e++) im.aPalette[e] = png.palette[e];
        im.nPaletteCount = (int32_t)png.palette.size();
        host.layer.nLeft = o.left;
        host.layer.nTop = o.top;
        host.layer.nRight = o.left + png.width;
        host.layer.nBottom = o.top + png.height;
    }

    InstallDialogHooks(module);
    int status = execute(0, host.window, texture.c_str(), &host.image, &host.services);
    RemoveDialogHooks();
    printf("status %d\n", status);

    int result = 0;
    if (!o.out.empty() && host.created) {
        std::vector<uint32_t> argb(host.pixels.size());
        for (size_t i = 0; i < argb.size(); i++) {
            uint32_t v = host.pixels[i];
            if (strcmp(host.created, "indexed") == 0) v = host.image.aPalette[v & 0xFF];
            if (!host.image.bAlpha) v |= 0xFF000000u;
            argb[i] = v;
        }
        if (!SavePng(WindowsPath(o.out).c_str(), host.width, host.height, argb)) {
            fprintf(stderr, "pvrhost: cannot write %s\n", o.out.c_str());
            result = 1;
        }
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
    DestroyWindow(host.window);
    FreeLibrary(module);
    return result;
}

int main(int argc, char** argv) {
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
