#pragma once

#include <stdint.h>

#include <vector>

struct PngImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;      // every pixel as 0xAARRGGBB
    bool indexed = false;            // a palette PNG
    std::vector<uint32_t> palette;   // its palette, 0xAARRGGBB (alpha from tRNS)
    std::vector<uint8_t> index;      // each pixel's palette index, as stored (palette PNGs)
};

bool LoadPng(const char* path, PngImage* image);
// Writes an RGBA PNG from 0xAARRGGBB pixels.
bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb);
