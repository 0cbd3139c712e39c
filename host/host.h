// pvrhost: the reference host that stands in for the paint program. It loads
// a plug-in, gives it an image record, a layer record and the service table,
// answers its dialogs and message boxes, and records everything it saw.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "host_api.h"

// One message box the plug-in showed.
struct SeenMessage {
    std::string text;      // UTF-8, from code page 932 (MessageBoxA) or UTF-16 (MessageBoxW)
    std::string caption;
    bool wide;             // shown through MessageBoxW
    unsigned flags;
    bool owned;
    std::string owner;     // "host", "settings-dialog", "other" or "none"
};

// The state a dialog opened with.
struct SeenRadio {
    int id;
    std::string text;
    bool enabled;
    bool checked;
};
struct SeenDialog {
    std::string kind;      // "settings" or "open-file"
    std::string caption;
    std::string dataTypeLabel;
    std::string colorFormatLabel;
    std::string idText;
    std::vector<SeenRadio> radios;
    std::string fileName;  // open-file: the name offered
    // open-file: the record the plug-in filled
    unsigned structSize = 0;
    unsigned flags = 0;
    unsigned maxFile = 0;
    bool ownerIsHost = false;
    std::string filter;    // with '|' for the separating zeros
    std::string defExt;
    int result = -1;       // open-file: what GetOpenFileNameA returned (1 or 0)
    std::string chosen;    // open-file: the path it handed back, when 1
};

// How the host answers the dialogs.
struct DialogAnswers {
    // open-file: cancel when empty, else the path to choose
    std::string paletteChoice;
    // settings dialog
    bool ok = true;
    int clickRadio = 0;      // 0, 111 or 112
    int dataType = -1;       // item data to select, -1 leaves the list alone
    int colorFormat = -1;
    bool setId = false;
    std::string idText;
    // Every dialog and message box is answered this many milliseconds after it
    // opens (0: at once), its screen rectangle printed to stderr first.
    int holdMs = 0;
};

// A call into the plug-in after which the stack pointer was off: `bytes` the
// callee left on the stack (negative: removed beyond its arguments).
struct Imbalance {
    std::string call;
    long bytes;
};

// Calls the plug-in's export `fn` (named `name`) with `count` (at most 5)
// arguments as stdcall, and notes in `seen` a call that leaves the stack
// pointer elsewhere than stdcall does (32-bit hosts only; a 64-bit process
// has one calling convention).
uintptr_t CallPlugin(const char* name, FARPROC fn, const uintptr_t* args, int count, std::vector<Imbalance>* seen);

// The host's picture and everything that happened to it.
struct Host {
    HostImage image;
    HostLayer layer;
    HostServices services;

    const char* created = nullptr;   // "indexed", "direct" or null
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;    // the created picture, row by row

    // Export: the host's own image, which GetImagePixel reads (image coordinates).
    std::vector<uint32_t> source;
    int sourceWidth = 0;
    int sourceHeight = 0;

    long setPixelCalls = 0;
    long getPixelCalls = 0;
    long pixelsOutside = 0;
    std::vector<std::pair<int, int>> beginProgress;
    std::vector<int> stepProgress;
    int endProgress = 0;
    std::vector<std::string> badSlots;
    // Pictures refused for their size (width, height): more than kMaxPixels.
    std::vector<std::pair<int, int>> refusedPictures;

    std::vector<Imbalance> stackImbalance;   // calls into the plug-in that left the stack off

    std::vector<SeenMessage> messages;
    std::vector<SeenDialog> dialogs;
    DialogAnswers answers;
    HWND window = nullptr;
};

// The largest picture the host makes, in pixels: a texture header that asks
// for more (up to 65535 x 65535) is refused instead of taking gigabytes.
enum { kMaxPixels = 1 << 26 };

extern Host* g_host;

void InitHost(Host* host);

// Installs the dialog automation for one plug-in module: its imports of
// MessageBoxA, MessageBoxW and GetOpenFileNameA are routed through recorders, and a CBT hook
// answers every dialog the thread opens.
bool InstallDialogHooks(HMODULE plugin);
void RemoveDialogHooks();
HWND CreateHostWindow();

// Text from code page 932 to UTF-8.
std::string AnsiToUtf8(const std::string& text);
// Text from UTF-16 to UTF-8.
std::string WideToUtf8(const wchar_t* text);
