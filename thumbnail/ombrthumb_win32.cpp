// The Explorer thumbnail handler for .pvr and .pvz (64-bit in-process COM
// server): reads the texture, and the .pvp beside it when the shell names the
// file, and hands the bytes to MakeTextureThumbnail (thumbnail_core.cpp).
// Registers itself for the current user only (HKCU\Software\Classes).
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shlobj.h>
#include <thumbcache.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "import_core.h"
#include "ombrthumb_ids.h"
#include "palette.h"
#include "thumbnail_core.h"

namespace {

HMODULE g_module;
// Objects alive and locks on the server: COM's DllCanUnloadNow needs them.
LONG g_objects;

// Files longer than this are not read for a thumbnail.
const uint64_t kMaxTextureRead = (uint64_t)64 << 20;

// ---- reading, every length bounded

// Reads up to `length` bytes into `out` from a stream: the bytes read.
size_t ReadStream(IStream* stream, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ULONG want = length - done > 0x10000000 ? 0x10000000 : (ULONG)(length - done);
        ULONG got = 0;
        const HRESULT hr = stream->Read(out + done, want, &got);
        if (FAILED(hr) || got == 0 || got > want) break;
        done += got;
    }
    return done;
}

size_t ReadHandle(HANDLE file, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const DWORD want = length - done > 0x10000000 ? 0x10000000 : (DWORD)(length - done);
        DWORD got = 0;
        if (!ReadFile(file, out + done, want, &got, nullptr) || got == 0 || got > want) break;
        done += got;
    }
    return done;
}

// A whole texture, as much as the import reads of it, through `read`:
// S_OK and a block to free(), or a failure.
template <typename Read>
HRESULT ReadTextureBytes(uint64_t fileLength, const char* name, Read read, uint8_t** bytes, size_t* length) {
    *bytes = nullptr;
    *length = 0;
    uint8_t head[kTextureHeadBytes];
    const size_t headLength = read(head, fileLength < sizeof head ? (size_t)fileLength : sizeof head);
    uint64_t want = 0;
    if (PlanTextureRead(head, headLength, fileLength, name, &want) != kTextureOk) return E_FAIL;
    if (want < headLength) want = headLength;
    if (want > kMaxTextureRead) return E_FAIL;
    uint8_t* block = (uint8_t*)malloc((size_t)want + 1);
    if (!block) return E_OUTOFMEMORY;
    memcpy(block, head, headLength);
    const size_t rest = read(block + headLength, (size_t)want - headLength);
    *bytes = block;
    *length = headLength + rest;
    return S_OK;
}

HANDLE OpenForReading(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The extension of a path as the core takes it ("x.pvr"): its last four
// characters, when they are ASCII.
void NameOfPath(const wchar_t* path, char* name, size_t room) {
    const size_t length = path ? wcslen(path) : 0;
    snprintf(name, room, "x.pvr");
    if (length < 4) return;
    char extension[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 4; i++) {
        const wchar_t c = path[length - 4 + i];
        if (c == 0 || c > 0x7E) return;
        extension[i] = (char)c;
    }
    snprintf(name, room, "x%s", extension);
}

// A full path (a drive or a share), which the .pvp can be found beside.
bool IsFullPath(const wchar_t* path) {
    return path && ((path[0] && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
                    (path[0] == L'\\' && path[1] == L'\\'));
}

// ---- the handler

class TextureThumbnail : public IThumbnailProvider, public IInitializeWithStream, public IInitializeWithFile {
public:
    TextureThumbnail() { InterlockedIncrement(&g_objects); }
    virtual ~TextureThumbnail() {
        free(texture_);
        free(palette_);
        InterlockedDecrement(&g_objects);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IThumbnailProvider)))
            *out = static_cast<IThumbnailProvider*>(this);
        else if (IsEqualIID(iid, __uuidof(IInitializeWithStream)))
            *out = static_cast<IInitializeWithStream*>(this);
        else if (IsEqualIID(iid, __uuidof(IInitializeWithFile)))
            *out = static_cast<IInitializeWithFile*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return (ULONG)left;
    }

    // The shell's usual way: a stream, which may name its file.
    STDMETHODIMP Initialize(IStream* stream, DWORD) override {
        if (initialised_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
        if (!stream) return E_INVALIDARG;
        STATSTG stat;
        memset(&stat, 0, sizeof stat);
        // A stream that tells nothing is read to its end, as far as a texture goes.
        if (FAILED(stream->Stat(&stat, STATFLAG_DEFAULT))) {
            memset(&stat, 0, sizeof stat);
            stat.cbSize.QuadPart = kMaxTextureRead;
        }
        NameOfPath(stat.pwcsName, name_, sizeof name_);
        const bool named = IsFullPath(stat.pwcsName);
        wchar_t* path = named ? stat.pwcsName : nullptr;
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        const HRESULT hr = ReadTextureBytes(
            stat.cbSize.QuadPart, name_, [stream](uint8_t* out, size_t n) { return ReadStream(stream, out, n); },
            &texture_, &length_);
        if (SUCCEEDED(hr) && path) ReadPalette(path);
        CoTaskMemFree(stat.pwcsName);
        initialised_ = SUCCEEDED(hr);
        return hr;
    }

    // The file itself, when the shell offers it: the .pvp beside it is read too.
    STDMETHODIMP Initialize(LPCWSTR path, DWORD) override {
        if (initialised_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
        if (!path) return E_INVALIDARG;
        HANDLE file = OpenForReading(path);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        LARGE_INTEGER size;
        HRESULT hr = E_FAIL;
        NameOfPath(path, name_, sizeof name_);
        if (GetFileSizeEx(file, &size) && size.QuadPart >= 0)
            hr = ReadTextureBytes(
                (uint64_t)size.QuadPart, name_, [file](uint8_t* out, size_t n) { return ReadHandle(file, out, n); },
                &texture_, &length_);
        CloseHandle(file);
        if (SUCCEEDED(hr)) ReadPalette(path);
        initialised_ = SUCCEEDED(hr);
        return hr;
    }

    STDMETHODIMP GetThumbnail(UINT side, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override {
        if (!bitmap) return E_POINTER;
        *bitmap = nullptr;
        if (alpha) *alpha = WTSAT_UNKNOWN;
        if (!initialised_) return E_UNEXPECTED;
        ThumbnailInput input = {texture_, length_, name_, palette_, paletteLength_, side, 0};
        ThumbnailPicture picture;
        const int made = MakeTextureThumbnail(input, &picture);
        if (made != kThumbnailOk) return made == kThumbnailNoMemory ? E_OUTOFMEMORY : E_FAIL;
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = (LONG)picture.width;
        info.bmiHeader.biHeight = -(LONG)picture.height;   // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP made_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!made_bitmap || !bits) {
            if (made_bitmap) DeleteObject(made_bitmap);
            FreeThumbnail(&picture);
            return E_OUTOFMEMORY;
        }
        // 0xAARRGGBB words are the DIB's blue, green, red, alpha bytes.
        memcpy(bits, picture.pixels, (size_t)picture.width * picture.height * 4);
        FreeThumbnail(&picture);
        *bitmap = made_bitmap;
        if (alpha) *alpha = WTSAT_ARGB;
        return S_OK;
    }

private:
    // The .pvp beside a palettised texture (its last four characters
    // replaced, as the import finds it); none when it cannot be read.
    void ReadPalette(const wchar_t* texturePath) {
        if (!ThumbnailNeedsPalette(texture_, length_, name_)) return;
        const size_t length = wcslen(texturePath);
        if (length < 4 || length > 32767) return;
        wchar_t* path = (wchar_t*)malloc((length + 1) * sizeof(wchar_t));
        if (!path) return;
        memcpy(path, texturePath, (length - 4) * sizeof(wchar_t));
        memcpy(path + length - 4, L".pvp", 5 * sizeof(wchar_t));
        HANDLE file = OpenForReading(path);
        free(path);
        if (file == INVALID_HANDLE_VALUE) return;
        palette_ = (uint8_t*)malloc(kPaletteMaxFileSize);
        if (palette_) paletteLength_ = ReadHandle(file, palette_, kPaletteMaxFileSize);
        CloseHandle(file);
    }

    LONG refs_ = 1;
    bool initialised_ = false;
    char name_[16] = "x.pvr";
    uint8_t* texture_ = nullptr;
    size_t length_ = 0;
    uint8_t* palette_ = nullptr;   // null: no palette
    size_t paletteLength_ = 0;
};

class Factory : public IClassFactory {
public:
    Factory() { InterlockedIncrement(&g_objects); }
    virtual ~Factory() { InterlockedDecrement(&g_objects); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return (ULONG)left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        TextureThumbnail* thumbnail = new (std::nothrow) TextureThumbnail;
        if (!thumbnail) return E_OUTOFMEMORY;
        const HRESULT hr = thumbnail->QueryInterface(iid, out);
        thumbnail->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_objects);
        else InterlockedDecrement(&g_objects);
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

// ---- registration, for the current user

const wchar_t kClasses[] = L"Software\\Classes\\";
const wchar_t* const kExtensions[] = {L".pvr", L".pvz"};

HRESULT SetKeyText(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
    HKEY handle;
    LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(handle, name, 0, REG_SZ, (const BYTE*)text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return HRESULT_FROM_WIN32(status);
}

void KeyPath(wchar_t* out, size_t room, const wchar_t* a, const wchar_t* b) {
    _snwprintf(out, room, L"%ls%ls\\%ls", kClasses, a, b);
    out[room - 1] = 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kThumbnailClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new (std::nothrow) Factory;
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT __stdcall DllCanUnloadNow(void) { return g_objects == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT __stdcall DllRegisterServer(void) {
    wchar_t module[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(g_module, module, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return E_FAIL;
    wchar_t key[160];
    _snwprintf(key, 160, L"%lsCLSID\\%ls", kClasses, kThumbnailClsidText);
    key[159] = 0;
    HRESULT hr = SetKeyText(key, nullptr, L"ombr texture thumbnails");
    wcscat(key, L"\\InprocServer32");
    if (SUCCEEDED(hr)) hr = SetKeyText(key, nullptr, module);
    if (SUCCEEDED(hr)) hr = SetKeyText(key, L"ThreadingModel", L"Apartment");
    for (const wchar_t* extension : kExtensions) {
        KeyPath(key, 160, extension, kThumbnailShellExKey);
        if (SUCCEEDED(hr)) hr = SetKeyText(key, nullptr, kThumbnailClsidText);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return hr;
}

// Removes what DllRegisterServer wrote; a type's handler that is another's stays.
extern "C" HRESULT __stdcall DllUnregisterServer(void) {
    wchar_t key[160];
    for (const wchar_t* extension : kExtensions) {
        KeyPath(key, 160, extension, kThumbnailShellExKey);
        wchar_t value[64] = {0};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS &&
            _wcsicmp(value, kThumbnailClsidText) == 0)
            RegDeleteKeyW(HKEY_CURRENT_USER, key);
    }
    _snwprintf(key, 160, L"%lsCLSID\\%ls", kClasses, kThumbnailClsidText);
    key[159] = 0;
    const LONG status = RegDeleteTreeW(HKEY_CURRENT_USER, key);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}
