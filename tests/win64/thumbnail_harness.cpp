// Drives the thumbnail handler as the shell does, for the tests under 64-bit
// Wine: LoadLibrary, DllGetClassObject, IClassFactory::CreateInstance, one of
// the Initialize calls, GetThumbnail, and DllCanUnloadNow after the release.
//   thumbnail_harness DLL file|stream TEXTURE SIDE OUT
//     file: IInitializeWithFile on the path; stream: IInitializeWithStream on
//     the file's bytes in memory (a stream that names no file). OUT gets the
//     width, height and alpha type as little-endian 32-bit words, then the
//     bitmap's pixels, blue, green, red, alpha, top row first.
//   thumbnail_harness DLL register
//     DllRegisterServer, the keys it wrote, DllUnregisterServer, the keys left.
// Exit: 0 done; 1 Initialize or GetThumbnail failed (the HRESULT on stdout);
// 2 usage or set-up; 3 the server would not unload.
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <thumbcache.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "ombrthumb_ids.h"

typedef HRESULT(__stdcall* GetClassObjectFunction)(REFCLSID, REFIID, void**);
typedef HRESULT(__stdcall* ServerFunction)(void);

static void ShowKey(const wchar_t* key) {
    wchar_t value[600] = {0};
    DWORD size = sizeof value - sizeof(wchar_t);
    const LONG status = RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    printf("%ls = %ls\n", key, status == ERROR_SUCCESS ? value : L"(none)");
}

static int Register(HMODULE dll) {
    ServerFunction reg = (ServerFunction)(void*)GetProcAddress(dll, "DllRegisterServer");
    ServerFunction unreg = (ServerFunction)(void*)GetProcAddress(dll, "DllUnregisterServer");
    if (!reg || !unreg) return 2;
    wchar_t clsid[120], pvr[120], pvz[120];
    swprintf(clsid, 120, L"Software\\Classes\\CLSID\\%ls\\InprocServer32", kThumbnailClsidText);
    swprintf(pvr, 120, L"Software\\Classes\\.pvr\\%ls", kThumbnailShellExKey);
    swprintf(pvz, 120, L"Software\\Classes\\.pvz\\%ls", kThumbnailShellExKey);
    for (int round = 0; round < 2; round++) {
        const HRESULT hr = round == 0 ? reg() : unreg();
        printf("%s 0x%08lx\n", round == 0 ? "registered" : "unregistered", (unsigned long)hr);
        ShowKey(clsid);
        ShowKey(pvr);
        ShowKey(pvz);
    }
    return 0;
}

static bool ReadWhole(const wchar_t* path, HGLOBAL* memory) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return false;
    fseek(f, 0, SEEK_END);
    const long length = ftell(f);
    fseek(f, 0, SEEK_SET);
    *memory = GlobalAlloc(GMEM_MOVEABLE, length > 0 ? (SIZE_T)length : 1);
    bool ok = *memory != nullptr;
    if (ok && length > 0) {
        void* p = GlobalLock(*memory);
        ok = fread(p, 1, (size_t)length, f) == (size_t)length;
        GlobalUnlock(*memory);
    }
    fclose(f);
    return ok;
}

static int Thumbnail(HMODULE dll, const wchar_t* mode, const wchar_t* texture, UINT side, const wchar_t* out) {
    GetClassObjectFunction get = (GetClassObjectFunction)(void*)GetProcAddress(dll, "DllGetClassObject");
    ServerFunction canUnload = (ServerFunction)(void*)GetProcAddress(dll, "DllCanUnloadNow");
    if (!get || !canUnload) return 2;
    IClassFactory* factory = nullptr;
    if (FAILED(get(kThumbnailClsid, IID_IClassFactory, (void**)&factory))) return 2;
    IThumbnailProvider* provider = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), (void**)&provider);
    factory->Release();
    if (FAILED(hr)) return 2;
    if (wcscmp(mode, L"file") == 0) {
        IInitializeWithFile* init = nullptr;
        if (FAILED(provider->QueryInterface(__uuidof(IInitializeWithFile), (void**)&init))) return 2;
        hr = init->Initialize(texture, STGM_READ);
        init->Release();
    } else {
        HGLOBAL memory = nullptr;
        IStream* stream = nullptr;
        if (!ReadWhole(texture, &memory) || FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) return 2;
        IInitializeWithStream* init = nullptr;
        if (FAILED(provider->QueryInterface(__uuidof(IInitializeWithStream), (void**)&init))) return 2;
        hr = init->Initialize(stream, STGM_READ);
        init->Release();
        stream->Release();
    }
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) hr = provider->GetThumbnail(side, &bitmap, &alpha);
    provider->Release();
    if (FAILED(hr)) {
        printf("failed 0x%08lx\n", (unsigned long)hr);
        return canUnload() == S_OK ? 1 : 3;
    }
    BITMAP info;
    if (!GetObjectW(bitmap, sizeof info, &info) || info.bmBitsPixel != 32) return 2;
    const unsigned width = (unsigned)info.bmWidth, height = (unsigned)info.bmHeight;
    BITMAPINFO want;
    ZeroMemory(&want, sizeof want);
    want.bmiHeader.biSize = sizeof want.bmiHeader;
    want.bmiHeader.biWidth = (LONG)width;
    want.bmiHeader.biHeight = -(LONG)height;
    want.bmiHeader.biPlanes = 1;
    want.bmiHeader.biBitCount = 32;
    want.bmiHeader.biCompression = BI_RGB;
    unsigned char* pixels = (unsigned char*)malloc((size_t)width * height * 4 + 1);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, height, pixels, &want, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(bitmap);
    FILE* f = _wfopen(out, L"wb");
    if (!f || rows != (int)height) return 2;
    const unsigned header[3] = {width, height, (unsigned)alpha};
    fwrite(header, 4, 3, f);
    fwrite(pixels, 4, (size_t)width * height, f);
    fclose(f);
    free(pixels);
    printf("thumbnail %ux%u alpha type %u\n", width, height, (unsigned)alpha);
    return canUnload() == S_OK ? 0 : 3;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: thumbnail_harness DLL file|stream TEXTURE SIDE OUT | DLL register\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        fprintf(stderr, "thumbnail_harness: cannot load %ls (%lu)\n", argv[1], GetLastError());
        return 2;
    }
    int result = 2;
    if (wcscmp(argv[2], L"register") == 0) result = Register(dll);
    else if (argc == 6) result = Thumbnail(dll, argv[2], argv[3], (UINT)_wtoi(argv[4]), argv[5]);
    fflush(stdout);
    return result;
}
