// ombrout.ppi: the DLL entry, the five exports and the Win32 side of the
// export platform (message boxes, the settings dialog, replacing files).
#include "ombrout_win32.h"

#include "export_core.h"
#include "texts.h"
#include "texts_win32.h"

static_assert(kMessageOk == MB_OK, "MB_OK");
static_assert(kMessageIconError == MB_ICONERROR, "MB_ICONERROR");

static HINSTANCE g_module = nullptr;   // set once at process attach

HINSTANCE PluginModule() { return g_module; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

static void ShowMessageWin32(void* context, const char* text, const char* caption, unsigned flags) {
    ShowSjisMessage((HWND)context, text, caption, flags);
}

static int ChooseSettingsWin32(void* context, const HostLayer* layer, const char* path,
                               TextureSettings* settings) {
    return ChooseTextureSettings((HWND)context, layer, path, settings);
}

// A read-only file or a folder is never replaced (Windows refuses a read-only
// file; not every implementation of MoveFileExA does).
static int CanReplaceWin32(void*, const char* target) {
    const DWORD attributes = GetFileAttributesA(target);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

static int ReplaceFileWin32(void* context, const char* temp, const char* target) {
    if (!CanReplaceWin32(context, target)) return -1;
    return MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

// Exported under the names of ombrout.def.
extern "C" {

uint16_t PB_STDCALL PB_GetPluginInfo(char* buffer, int size) {
    CopyHostText(buffer, size, kExportInfoText);
    return kPluginKindExport;
}

int PB_STDCALL PBE_GetCount() { return 1; }

char* PB_STDCALL PBE_GetSupportedType(int index, char* buffer, int size) {
    CopyHostText(buffer, size, index == 0 ? kTypeDescriptor : "");
    return buffer;
}

int PB_STDCALL PBE_GetSupportedFormat(int index) { return index == 0 ? 0x3C : 0; }

int PB_STDCALL PBE_Execute(int, HWND owner, const char* path, HostImage* image,
                                                 HostServices* services) {
    // Names that differ in letter case are one file on Windows.
    // ANSI paths of at most 259 bytes, staged "~hhhh.tmp", no journal.
    static const ExportFiles kFiles = {WriteFileStdio,  ReplaceFileWin32, RemoveFileStdio, CanReplaceWin32,
                                       ReadFileStdio,   nullptr,          nullptr,         nullptr,
                                       nullptr,         nullptr,          kPathsAnsi,      0,
                                       nullptr,         nullptr,          nullptr};
    ExportPlatform platform;
    InitExportPlatform(&platform, owner, kFiles, kPluginEncoders);
    platform.ShowMessage = ShowMessageWin32;
    platform.ChooseSettings = ChooseSettingsWin32;
    ExportOutcome outcome;
    const int result = ExportPicture(path, image, services, &platform, nullptr, &outcome);
    // A save that fails says which file and why before the host hears its code.
    SaveFailure failure;
    if (DescribeSaveFailure(result, path, outcome, FolderOfPathExists, &failure))
        ShowSjisMessage(owner, failure.text, kExportCaption, MB_ICONERROR, failure.file);
    return ExportStatus(result);
}

}   // extern "C"
