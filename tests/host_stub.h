// An in-memory host for the native tests: it implements the service slots the
// plug-ins call and records every call.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "host_api.h"

struct StubHost {
    HostImage image;   // first member: the services find the StubHost from it
    HostLayer layer;
    HostServices services;

    bool created = false;
    int createCalls = 0;
    bool indexed = false;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;   // row by row; 0 until set

    long setPixelCalls = 0;
    long getPixelCalls = 0;
    long pixelsOutside = 0;         // SetImagePixel or GetImagePixel outside the picture
    long pixelsBeforeCreate = 0;
    std::vector<std::pair<int, int>> setOrder;   // first positions set, up to 64
    std::vector<std::pair<int, int>> getOrder;   // first positions read, up to 64
    std::vector<std::pair<int, int>> beginProgress;
    std::vector<int> stepProgress;
    int endProgress = 0;

    // A host image of the given size to export from: the layer covers
    // (left, top) to (left + width, top + height) in an image that is as large
    // as needed; GetImagePixel answers from `source`.
    std::vector<uint32_t> source;
    int sourceWidth = 0;
    int sourceHeight = 0;

    StubHost();
    StubHost(const StubHost&) = delete;
    StubHost& operator=(const StubHost&) = delete;
    ~StubHost();

    void SetLayerName(const std::string& name);
    // Prepares an image of width x height at (left, top) for export; pixel
    // (x, y) of the layer is value(x, y).
    void SetSource(int width, int height, int left, int top, uint32_t (*value)(int x, int y));
    uint32_t Pixel(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
