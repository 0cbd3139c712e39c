// The host's service table: the slots the plug-ins may call, and recorders for
// every slot they must not.
#include <string.h>

#include "host.h"

Host* g_host = nullptr;

static void Create(HostImage* image, int32_t width, int32_t height, const char* kind) {
    Host* host = g_host;
    if (image != &host->image) host->badSlots.push_back("create: foreign image record");
    if ((long long)(width > 0 ? width : 0) * (height > 0 ? height : 0) > kMaxPixels) {
        host->refusedPictures.emplace_back(width, height);
        return;
    }
    host->created = kind;
    host->width = width > 0 ? width : 0;
    host->height = height > 0 ? height : 0;
    host->pixels.assign((size_t)host->width * host->height, 0);
    image->nColorMode = strcmp(kind, "indexed") == 0 ? kColorModeIndexed : kColorModeDirect;
}

static void PB_STDCALL CreateIndexedImage(HostImage* image, int32_t width, int32_t height) {
    Create(image, width, height, "indexed");
}

static void PB_STDCALL CreateColorImage(HostImage* image, int32_t width, int32_t height, int32_t one,
                                        int32_t zero) {
    if (one != 1 || zero != 0) g_host->badSlots.push_back("CreateColorImage: arguments other than 1, 0");
    Create(image, width, height, "direct");
}

static void PB_STDCALL SetImagePixel(HostImage*, int32_t, int32_t x, int32_t y, uint32_t value) {
    Host* host = g_host;
    host->setPixelCalls++;
    if (!host->created || x < 0 || y < 0 || x >= host->width || y >= host->height) {
        host->pixelsOutside++;
        return;
    }
    host->pixels[(size_t)y * host->width + x] = value;
}

static uint32_t PB_STDCALL GetImagePixel(HostImage*, int32_t, int32_t x, int32_t y) {
    Host* host = g_host;
    host->getPixelCalls++;
    if (x < 0 || y < 0 || x >= host->sourceWidth || y >= host->sourceHeight) {
        host->pixelsOutside++;
        return 0;
    }
    return host->source[(size_t)y * host->sourceWidth + x];
}

static void PB_STDCALL BeginProgress(int32_t zero, int32_t rows) { g_host->beginProgress.emplace_back(zero, rows); }
static void PB_STDCALL StepProgress(int32_t row) { g_host->stepProgress.push_back(row); }
static void PB_STDCALL EndProgress() { g_host->endProgress++; }

// Slots the plug-ins never call: a call is recorded, whatever its arguments.
#define BAD_SLOT(n) \
    static void PB_STDCALL BadSlot##n() { g_host->badSlots.push_back("slot " #n); }
BAD_SLOT(0)
BAD_SLOT(1)
BAD_SLOT(2)
BAD_SLOT(5)
BAD_SLOT(8)

void InitHost(Host* host) {
    g_host = host;
    memset(&host->image, 0, sizeof host->image);
    memset(&host->layer, 0, sizeof host->layer);
    memset(&host->services, 0, sizeof host->services);
    strcpy(host->layer.szName, "Layer 1");
    host->image.pLayer = &host->layer;
    host->image.nLayerCount = 1;
    host->image.nTransparentIndex = -1;
    HostServices& s = host->services;
    s.slot0 = (void*)BadSlot0;
    s.slot1 = (void*)BadSlot1;
    s.slot2 = (void*)BadSlot2;
    s.CreateIndexedImage = CreateIndexedImage;
    s.CreateColorImage = CreateColorImage;
    s.slot5 = (void*)BadSlot5;
    s.SetImagePixel = SetImagePixel;
    s.GetImagePixel = GetImagePixel;
    s.slot8 = (void*)BadSlot8;
    s.BeginProgress = BeginProgress;
    s.StepProgress = StepProgress;
    s.EndProgress = EndProgress;
}

std::string AnsiToUtf8(const std::string& text) {
    if (text.empty()) return text;
    int wide = MultiByteToWideChar(932, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(932, 0, text.data(), (int)text.size(), &w[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string WideToUtf8(const wchar_t* text) {
    if (!text || !*text) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}
