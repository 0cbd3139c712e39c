#include "memory_host.h"

#include <stdlib.h>
#include <string.h>

static MemoryHost* Owner(HostImage* image) { return reinterpret_cast<MemoryHost*>(image); }

int SetHostPicture(MemoryHost* host, int32_t width, int32_t height, int32_t colorMode) {
    free(host->pixels);
    host->pixels = nullptr;
    host->width = 0;
    host->height = 0;
    if (width <= 0 || height <= 0) return -1;
    const uint64_t count = (uint64_t)width * (uint64_t)height;
    if (count > kMaxHostPixels || count > (uint64_t)SIZE_MAX / sizeof(uint32_t)) return -1;
    host->pixels = (uint32_t*)calloc((size_t)count, sizeof(uint32_t));
    if (!host->pixels) return -1;
    host->width = width;
    host->height = height;
    host->image.nColorMode = colorMode;
    host->layer.nLeft = 0;
    host->layer.nTop = 0;
    host->layer.nRight = width;
    host->layer.nBottom = height;
    return 0;
}

static void Create(HostImage* image, int32_t width, int32_t height, int32_t colorMode) {
    MemoryHost* host = Owner(image);
    host->created = true;
    if (SetHostPicture(host, width, height, colorMode) != 0) host->outOfMemory = true;
}

static void PB_STDCALL CreateIndexed(HostImage* image, int32_t width, int32_t height) {
    Create(image, width, height, kColorModeIndexed);
}

static void PB_STDCALL CreateColor(HostImage* image, int32_t width, int32_t height, int32_t, int32_t) {
    Create(image, width, height, kColorModeDirect);
}

static bool Inside(const MemoryHost* host, int32_t x, int32_t y) {
    return host->pixels && x >= 0 && y >= 0 && x < host->width && y < host->height;
}

static void PB_STDCALL SetPixel(HostImage* image, int32_t, int32_t x, int32_t y, uint32_t value) {
    MemoryHost* host = Owner(image);
    if (!Inside(host, x, y)) {
        host->pixelsOutside++;
        return;
    }
    HostPixel(host, x, y) = value;
    host->pixelsSet++;
}

static uint32_t PB_STDCALL GetPixel(HostImage* image, int32_t, int32_t x, int32_t y) {
    MemoryHost* host = Owner(image);
    if (!Inside(host, x, y)) {
        host->pixelsOutside++;
        return 0;
    }
    return HostPixel(host, x, y);
}

// The converter shows progress per file, not per row.
static void PB_STDCALL BeginProgress(int32_t, int32_t) {}
static void PB_STDCALL StepProgress(int32_t) {}
static void PB_STDCALL EndProgress(void) {}

void InitMemoryHost(MemoryHost* host) {
    memset(host, 0, sizeof *host);
    host->image.pLayer = &host->layer;
    host->image.nLayerCount = 1;
    host->image.nTransparentIndex = -1;
    static const char kLayerName[] = "Layer 1";
    memcpy(host->layer.szName, kLayerName, sizeof kLayerName);
    host->services.CreateIndexedImage = CreateIndexed;
    host->services.CreateColorImage = CreateColor;
    host->services.SetImagePixel = SetPixel;
    host->services.GetImagePixel = GetPixel;
    host->services.BeginProgress = BeginProgress;
    host->services.StepProgress = StepProgress;
    host->services.EndProgress = EndProgress;
}

void FreeMemoryHost(MemoryHost* host) {
    free(host->pixels);
    host->pixels = nullptr;
    host->width = 0;
    host->height = 0;
}
