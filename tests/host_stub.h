// The in-memory host (memory/memory_host.h) as the native tests hold it: set up
// and freed with the test's scope, with the helpers the tests share.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "memory_host.h"

struct StubHost : MemoryHost {
    StubHost() { InitMemoryHost(this); }
    StubHost(const StubHost&) = delete;
    StubHost& operator=(const StubHost&) = delete;
    ~StubHost() { FreeMemoryHost(this); }

    void SetLayerName(const std::string& name) { SetHostLayerName(this, name.c_str()); }
    // Prepares an image of (left + width) x (top + height) for export, its
    // layer at (left, top): pixel (x, y) of the layer is value(x, y), every
    // pixel outside it 0xDEADBEEF. The colour mode stays as set.
    void SetSource(int width, int height, int left, int top, uint32_t (*value)(int x, int y));
    uint32_t Pixel(int x, int y) const { return HostPixel(this, x, y); }
    bool Indexed() const { return image.nColorMode == kColorModeIndexed; }
    // The kept rows of StepProgress and positions of Set/GetImagePixel.
    std::vector<int> Steps() const;
    std::vector<std::pair<int, int>> SetOrder() const;
    std::vector<std::pair<int, int>> GetOrder() const;
};
