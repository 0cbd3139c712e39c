#include "host_stub.h"

#include <string.h>

static StubHost* g_current = nullptr;   // progress calls carry no image

static StubHost* Owner(HostImage* image) { return reinterpret_cast<StubHost*>(image); }

static void Create(HostImage* image, int32_t width, int32_t height, bool indexed) {
    StubHost* host = Owner(image);
    host->createCalls++;
    host->created = true;
    host->indexed = indexed;
    host->width = width;
    host->height = height;
    host->pixels.assign((size_t)(width > 0 ? width : 0) * (height > 0 ? height : 0), 0);
}

static void PB_STDCALL StubCreateIndexed(HostImage* image, int32_t width, int32_t height) {
    Create(image, width, height, true);
}
static void PB_STDCALL StubCreateColor(HostImage* image, int32_t width, int32_t height, int32_t, int32_t) {
    Create(image, width, height, false);
}
static void PB_STDCALL StubSetPixel(HostImage* image, int32_t, int32_t x, int32_t y, uint32_t value) {
    StubHost* host = Owner(image);
    host->setPixelCalls++;
    if (host->setOrder.size() < 64) host->setOrder.emplace_back(x, y);
    if (!host->created) {
        host->pixelsBeforeCreate++;
        return;
    }
    if (x < 0 || y < 0 || x >= host->width || y >= host->height) {
        host->pixelsOutside++;
        return;
    }
    host->pixels[(size_t)y * host->width + x] = value;
}
static uint32_t PB_STDCALL StubGetPixel(HostImage* image, int32_t, int32_t x, int32_t y) {
    StubHost* host = Owner(image);
    host->getPixelCalls++;
    if (host->getOrder.size() < 64) host->getOrder.emplace_back(x, y);
    if (x < 0 || y < 0 || x >= host->sourceWidth || y >= host->sourceHeight) {
        host->pixelsOutside++;
        return 0;
    }
    return host->source[(size_t)y * host->sourceWidth + x];
}
static void PB_STDCALL StubBegin(int32_t zero, int32_t rows) {
    if (g_current) g_current->beginProgress.emplace_back(zero, rows);
}
static void PB_STDCALL StubStep(int32_t row) {
    if (g_current) g_current->stepProgress.push_back(row);
}
static void PB_STDCALL StubEnd() {
    if (g_current) g_current->endProgress++;
}

StubHost::StubHost() {
    memset(&image, 0, sizeof image);
    memset(&layer, 0, sizeof layer);
    memset(&services, 0, sizeof services);
    image.pLayer = &layer;
    image.nLayerCount = 1;
    SetLayerName("Layer 1");
    services.CreateIndexedImage = StubCreateIndexed;
    services.CreateColorImage = StubCreateColor;
    services.SetImagePixel = StubSetPixel;
    services.GetImagePixel = StubGetPixel;
    services.BeginProgress = StubBegin;
    services.StepProgress = StubStep;
    services.EndProgress = StubEnd;
    g_current = this;
}

StubHost::~StubHost() {
    if (g_current == this) g_current = nullptr;
}

void StubHost::SetLayerName(const std::string& name) {
    memset(layer.szName, 0, sizeof layer.szName);
    memcpy(layer.szName, name.data(), name.size() < sizeof layer.szName ? name.size() : sizeof layer.szName - 1);
}

void StubHost::SetSource(int w, int h, int left, int top, uint32_t (*value)(int x, int y)) {
    sourceWidth = left + w;
    sourceHeight = top + h;
    source.assign((size_t)sourceWidth * sourceHeight, 0xDEADBEEF);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) source[(size_t)(top + y) * sourceWidth + left + x] = value(x, y);
    layer.nLeft = left;
    layer.nTop = top;
    layer.nRight = left + w;
    layer.nBottom = top + h;
}
