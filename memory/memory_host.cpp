#include "memory_host.h"

#include <stdlib.h>
#include <string.h>

static MemoryHost* Owner(HostImage* image) { return reinterpret_cast<MemoryHost*>(image); }

// The progress services carry no image: they report to the host initialised
// last on their thread (each thread of a batch has its own).
static thread_local MemoryHost* t_progressHost = nullptr;

int ReserveHostPixels(MemoryHost* host, size_t count) {
    if (count <= host->capacity) return 0;
    if (count > (size_t)kMaxHostPixels) return -1;
    uint32_t* block = (uint32_t*)calloc(count > 0 ? count : 1, sizeof(uint32_t));
    if (!block) return -1;
    free(host->pixels);
    host->pixels = block;
    host->capacity = count;
    return 0;
}

static void ForgetPicture(MemoryHost* host) {
    free(host->painted);
    host->painted = nullptr;
    host->width = 0;
    host->height = 0;
}

int SetHostPicture(MemoryHost* host, int32_t width, int32_t height, int32_t colorMode) {
    ForgetPicture(host);
    if (width <= 0 || height <= 0) return -1;
    const uint64_t count = (uint64_t)width * (uint64_t)height;
    if (count > host->maxPixels || count > (uint64_t)SIZE_MAX / sizeof(uint32_t)) return -1;
    if (count > host->capacity) {
        free(host->pixels);
        host->pixels = nullptr;
        host->capacity = 0;
        if (ReserveHostPixels(host, (size_t)count) != 0) return -1;
    } else {
        memset(host->pixels, 0, (size_t)count * sizeof(uint32_t));
    }
    if (host->trackRepaints) {
        host->painted = (uint8_t*)calloc((size_t)count, 1);
        if (!host->painted) return -1;
    }
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
    host->createCalls++;
    if (host->inProgress) host->oddCalls++;
    host->created = true;
    if (SetHostPicture(host, width, height, colorMode) != 0) host->outOfMemory = true;
}

static void PB_STDCALL CreateIndexed(HostImage* image, int32_t width, int32_t height) {
    Create(image, width, height, kColorModeIndexed);
}

static void PB_STDCALL CreateColor(HostImage* image, int32_t width, int32_t height, int32_t one, int32_t zero) {
    if (one != 1 || zero != 0) Owner(image)->oddCalls++;
    Create(image, width, height, kColorModeDirect);
}

static bool Inside(const MemoryHost* host, int32_t x, int32_t y) {
    return host->width > 0 && x >= 0 && y >= 0 && x < host->width && y < host->height;
}

static void Keep(int32_t (*order)[2], uint64_t calls, int32_t x, int32_t y) {
    order[calls - 1][0] = x;
    order[calls - 1][1] = y;
}

// Outside the common case: a call to count as odd, outside the picture,
// before it, or with repaints tracked.
static void SetPixelSlowly(MemoryHost* host, int32_t zero, int32_t x, int32_t y, uint32_t value) {
    if (zero != 0 || !host->inProgress) host->oddCalls++;
    if (!host->created || !Inside(host, x, y)) {
        host->setsRefused++;
        (host->created ? host->pixelsOutside : host->pixelsBeforeCreate)++;
        return;
    }
    const size_t at = (size_t)y * (size_t)host->width + (size_t)x;
    host->pixels[at] = value;
    if (host->painted && host->painted[at]++ != 0) host->pixelsRepainted++;
}

// Every pixel of an import comes through here: the common case is a store
// and one count.
static void PB_STDCALL SetPixel(HostImage* image, int32_t zero, int32_t x, int32_t y, uint32_t value) {
    MemoryHost* host = Owner(image);
    const uint64_t call = ++host->setPixelCalls;
    if (call <= kHostCallsKept) Keep(host->setOrder, call, x, y);
    if ((uint32_t)x < (uint32_t)host->width && (uint32_t)y < (uint32_t)host->height && zero == 0 &&
        host->inProgress && host->created && !host->painted) {
        host->pixels[(size_t)y * (size_t)host->width + (size_t)x] = value;
        return;
    }
    SetPixelSlowly(host, zero, x, y, value);
}

static uint32_t PB_STDCALL GetPixel(HostImage* image, int32_t zero, int32_t x, int32_t y) {
    MemoryHost* host = Owner(image);
    const uint64_t call = ++host->getPixelCalls;
    if (call <= kHostCallsKept) Keep(host->getOrder, call, x, y);
    if ((uint32_t)x < (uint32_t)host->width && (uint32_t)y < (uint32_t)host->height && zero == 0)
        return host->pixels[(size_t)y * (size_t)host->width + (size_t)x];
    if (zero != 0) host->oddCalls++;
    if (!Inside(host, x, y)) {
        host->pixelsOutside++;
        return 0;
    }
    return HostPixel(host, x, y);
}

static void PB_STDCALL BeginProgress(int32_t zero, int32_t rows) {
    MemoryHost* host = t_progressHost;
    if (!host) return;
    if (zero != 0 || host->inProgress) host->oddCalls++;
    host->progressBegins++;
    host->progressRows = rows;
    host->inProgress = true;
}

static void PB_STDCALL StepProgress(int32_t row) {
    MemoryHost* host = t_progressHost;
    if (!host) return;
    if (host->progressSteps < kHostCallsKept) host->steps[host->progressSteps] = row;
    host->progressSteps++;
    if (!host->inProgress || row < 0 || row >= host->progressRows || row <= host->lastStep) host->stepsOutOfOrder++;
    host->lastStep = row;
}

static void PB_STDCALL EndProgress(void) {
    MemoryHost* host = t_progressHost;
    if (!host) return;
    if (!host->inProgress) host->oddCalls++;
    host->progressEnds++;
    host->inProgress = false;
}

void InitMemoryHost(MemoryHost* host) {
    memset(host, 0, sizeof *host);
    host->maxPixels = kMaxHostPixels;
    host->lastStep = -1;
    host->image.pLayer = &host->layer;
    host->image.nLayerCount = 1;
    host->image.nTransparentIndex = -1;
    SetHostLayerName(host, "Layer 1");
    host->services.CreateIndexedImage = CreateIndexed;
    host->services.CreateColorImage = CreateColor;
    host->services.SetImagePixel = SetPixel;
    host->services.GetImagePixel = GetPixel;
    host->services.BeginProgress = BeginProgress;
    host->services.StepProgress = StepProgress;
    host->services.EndProgress = EndProgress;
    t_progressHost = host;
}

void FreeMemoryHost(MemoryHost* host) {
    ForgetPicture(host);
    free(host->pixels);
    host->pixels = nullptr;
    host->capacity = 0;
    if (t_progressHost == host) t_progressHost = nullptr;
}

void SetHostLayerName(MemoryHost* host, const char* name) {
    const size_t room = sizeof host->layer.szName;
    const size_t length = strnlen(name, room - 1);
    memset(host->layer.szName, 0, room);
    memcpy(host->layer.szName, name, length);
}
