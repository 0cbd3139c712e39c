// The import plug-in's Win32 side: its exports, and the file, memory and
// dialog calls the portable driver (import_core) asks for.
#include <windows.h>
#include <commdlg.h>
#include <stddef.h>
#include <stdio.h>

#include "host_api.h"
#include "import_core.h"
#include "texts.h"
#include "texts_win32.h"

static HINSTANCE g_module;   // kept on process attach

// OPENFILENAMEA without the three fields Windows 2000 added
// (OPENFILENAME_SIZE_VERSION_400A): 76 bytes in the 32-bit plug-in.
static const DWORD kOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76, "OPENFILENAMEA 4.0");
#endif

namespace {

struct Win32Context {
    HWND owner;   // owns the open-file dialog
};

// The file, or its first `limit` bytes, in a new zero-filled global block.
int Win32ReadFile(void*, const char* path, size_t limit, uint8_t** block, size_t* size) {
    *block = nullptr;
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    // A file of 4 GiB or more cannot be held in one block of this process.
    if (length == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return -3;
    }
    if (high != 0 && limit > 0xFFFFFFFFu) {
        CloseHandle(file);
        return -2;
    }
    if (high != 0 || length > limit) length = (DWORD)limit;
    uint8_t* memory = (uint8_t*)GlobalAlloc(GPTR, length);
    if (!memory) {
        CloseHandle(file);
        return -2;
    }
    DWORD read = 0;
    BOOL ok = ReadFile(file, memory, length, &read, nullptr);
    CloseHandle(file);
    if (!ok || read != length) {
        GlobalFree(memory);
        return -3;
    }
    *block = memory;
    *size = length;
    return 0;
}

void* Win32AllocBlock(void*, size_t size) { return GlobalAlloc(GPTR, size); }

void Win32FreeBlock(void*, void* block) {
    if (block) GlobalFree(block);
}

int Win32ChoosePaletteFile(void* context, char* path, size_t capacity) {
    FILE* probe = fopen(path, "r");
    if (probe) {
        fclose(probe);
        return 0;
    }
    static const char kFilter[] = "pvp\0*.pvp\0";   // the literal adds the closing empty string
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = kOpenFileNameSize;
    dialog.hwndOwner = static_cast<Win32Context*>(context)->owner;
    dialog.hInstance = GetModuleHandleA(nullptr);
    dialog.lpstrFilter = kFilter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = (DWORD)capacity;
    dialog.lpstrFileTitle = nullptr;
    dialog.Flags = OFN_FILEMUSTEXIST;
    dialog.lpstrDefExt = "pvp";
    return GetOpenFileNameA(&dialog) ? 0 : -1;
}

void Win32ShowLayerNull(void*) { ShowSjisMessage(nullptr, kLayerNullText, "", MB_OK); }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" uint16_t PB_STDCALL PB_GetPluginInfo(char* buffer, int size) {
    CopyImportInfo(buffer, size);
    return kPluginKindImport;
}

extern "C" int PB_STDCALL PBI_GetCount(void) { return 1; }

extern "C" char* PB_STDCALL PBI_GetSupportedType(int index, char* buffer, int size) {
    return CopySupportedType(index, buffer, size);
}

extern "C" int PB_STDCALL PBI_Execute(int, HWND owner, const char* path, HostImage* image,
                                      HostServices* services) {
    Win32Context context = {owner};
    const ImportPlatform platform = {
        &context,          Win32ReadFile,          Win32AllocBlock,
        Win32FreeBlock,    Win32ChoosePaletteFile, Win32ShowLayerNull,
    };
    // The whole file in one block, as the texture's own bytes.
    uint8_t* file = nullptr;
    size_t length = 0;
    if (!path || Win32ReadFile(&context, path, (size_t)-1, &file, &length) != 0) return kStatusReadFailed;
    const int status = ImportTexture(path, file, length, image, services, &platform, nullptr);
    Win32FreeBlock(&context, file);
    return status;
}
