// An import plug-in that misbehaves on request, to test the reference host
// itself. What it does depends on words in the file name it is given:
//   slots    calls the service slots 0, 1, 2, 5 and 8
//   outside  sets pixels outside its picture
//   messages shows an owned error message and an unowned one
//   open     asks for a palette file in the open-file dialog; 7 when cancelled
//   huge     asks for a picture of 65535 x 65535
//   crash    writes through a null pointer
//   hang     never returns
// Otherwise it makes a 2 x 2 colour picture with one pixel set, between the
// progress calls.
//
// Built with TESTPLUGIN_CDECL (pvrhost_testplugin_cdecl.ppi) its exports use
// the cdecl convention instead of stdcall: they leave their arguments on the
// host's stack, which the 32-bit host must notice.
#include <windows.h>
#include <commdlg.h>
#include <string.h>

#include "host_api.h"

#ifdef TESTPLUGIN_CDECL
#define TEST_CALL __cdecl
#else
#define TEST_CALL PB_STDCALL
#endif

static const char kInfo[] = "pvrhost test plug-in";
static const char kType[] = "tst|Test|テスト用";

static void Copy(char* buffer, int size, const char* text) {
    if (buffer && size > 0) strncpy(buffer, text, (size_t)size);
}

extern "C" {

int TEST_CALL PB_GetPluginInfo(char* buffer, int size) {
    Copy(buffer, size, kInfo);
    return kPluginKindImport;
}

int TEST_CALL PBI_GetCount(void) { return 1; }

char* TEST_CALL PBI_GetSupportedType(int, char* buffer, int size) {
    Copy(buffer, size, kType);
    return buffer;
}

int TEST_CALL PBI_Execute(int, HWND owner, const char* path, HostImage* image, HostServices* services) {
    if (strstr(path, "crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (strstr(path, "hang")) {
        for (;;) Sleep(100);
    }
    if (strstr(path, "huge")) {
        services->CreateColorImage(image, 65535, 65535, 1, 0);
        return 0;
    }
    if (strstr(path, "slots")) {
        void* slots[] = {services->slot0, services->slot1, services->slot2, services->slot5, services->slot8};
        for (void* slot : slots) ((void(PB_STDCALL*)(void))slot)();
    }
    if (strstr(path, "messages")) {
        MessageBoxA(owner, "テスト", "キャプション", MB_OK | MB_ICONERROR);
        MessageBoxA(nullptr, "layer null", "", MB_OK);
    }
    if (strstr(path, "open")) {
        char palette[MAX_PATH] = {0};
        strncpy(palette, path, sizeof palette - 1);
        const size_t n = strlen(palette);
        if (n >= 4) memcpy(palette + n - 4, ".pvp", 4);
        OPENFILENAMEA ofn;
        memset(&ofn, 0, sizeof ofn);
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.hInstance = GetModuleHandleA(nullptr);
        ofn.lpstrFilter = "pvp\0*.pvp\0";
        ofn.lpstrFile = palette;
        ofn.nMaxFile = MAX_PATH;
        ofn.Flags = OFN_FILEMUSTEXIST;
        ofn.lpstrDefExt = "pvp";
        if (!GetOpenFileNameA(&ofn)) return kStatusCancelled;
    }
    services->CreateColorImage(image, 2, 2, 1, 0);
    if (strstr(path, "outside")) {
        services->SetImagePixel(image, 0, 2, 0, 1);
        services->SetImagePixel(image, 0, -1, 1, 1);
    }
    services->BeginProgress(0, 2);
    services->SetImagePixel(image, 0, 1, 1, 0x80112233u);
    services->StepProgress(0);
    services->StepProgress(1);
    services->EndProgress();
    return 0;
}

}  // extern "C"
