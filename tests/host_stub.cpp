#include "host_stub.h"

#include <stdlib.h>

void StubHost::SetSource(int w, int h, int left, int top, uint32_t (*value)(int x, int y)) {
    if (SetHostPicture(this, left + w, top + h, image.nColorMode) != 0) abort();
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            HostPixel(this, x, y) = x >= left && y >= top ? value(x - left, y - top) : 0xDEADBEEF;
    layer.nLeft = left;
    layer.nTop = top;
}

std::vector<int> StubHost::Steps() const {
    return std::vector<int>(steps, steps + (progressSteps < kHostCallsKept ? progressSteps : (uint64_t)kHostCallsKept));
}

static std::vector<std::pair<int, int>> Order(const int32_t (*order)[2], uint64_t calls) {
    std::vector<std::pair<int, int>> kept;
    for (uint64_t i = 0; i < calls && i < kHostCallsKept; i++) kept.emplace_back(order[i][0], order[i][1]);
    return kept;
}

std::vector<std::pair<int, int>> StubHost::SetOrder() const { return Order(setOrder, setPixelCalls); }
std::vector<std::pair<int, int>> StubHost::GetOrder() const { return Order(getOrder, getPixelCalls); }
