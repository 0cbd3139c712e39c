// PNG files through stb_image and stb_image_write. The palette of a
// palette PNG is read from its PLTE and tRNS chunks; its pixels come from
// stb_image as colours and are matched back to the first palette entry of the
// same colour.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#include <stb_image_write.h>

#include <stdio.h>
#include <string.h>

#include "png_io.h"

static uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static bool ReadFileBytes(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

bool LoadPng(const char* path, PngImage* image) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes) || bytes.size() < 8 || memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
        return false;
    // Chunk walk: colour type from IHDR, the palette from PLTE and tRNS.
    int colorType = -1;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        uint32_t length = BigEndian32(&bytes[at]);
        if (length > bytes.size() - at - 12) break;
        const uint8_t* type = &bytes[at + 4];
        const uint8_t* data = &bytes[at + 8];
        if (memcmp(type, "IHDR", 4) == 0 && length >= 13) colorType = data[9];
        if (memcmp(type, "PLTE", 4) == 0) {
            image->palette.clear();
            for (uint32_t i = 0; i + 3 <= length && image->palette.size() < 256; i += 3)
                image->palette.push_back(0xFF000000u | (uint32_t)data[i] << 16 | (uint32_t)data[i + 1] << 8 | data[i + 2]);
        }
        if (memcmp(type, "tRNS", 4) == 0 && colorType == 3)
            for (uint32_t i = 0; i < length && i < image->palette.size(); i++)
                image->palette[i] = (image->palette[i] & 0x00FFFFFFu) | (uint32_t)data[i] << 24;
        at += 12 + (size_t)length;
    }
    image->indexed = colorType == 3 && !image->palette.empty();
    int w = 0, h = 0, channels = 0;
    uint8_t* rgba = stbi_load_from_memory(bytes.data(), (int)bytes.size(), &w, &h, &channels, 4);
    if (!rgba) return false;
    image->width = w;
    image->height = h;
    image->argb.resize((size_t)w * h);
    image->index.assign((size_t)w * h, 0);
    for (size_t i = 0; i < image->argb.size(); i++) {
        const uint8_t* p = rgba + 4 * i;
        uint32_t argb = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
        image->argb[i] = argb;
        if (image->indexed)
            for (size_t e = 0; e < image->palette.size(); e++)
                if (image->palette[e] == argb) {
                    image->index[i] = (uint8_t)e;
                    break;
                }
    }
    stbi_image_free(rgba);
    return true;
}

bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> rgba((size_t)width * height * 4);
    for (size_t i = 0; i < argb.size() && i < (size_t)width * height; i++) {
        rgba[4 * i + 0] = (uint8_t)(argb[i] >> 16);
        rgba[4 * i + 1] = (uint8_t)(argb[i] >> 8);
        rgba[4 * i + 2] = (uint8_t)argb[i];
        rgba[4 * i + 3] = (uint8_t)(argb[i] >> 24);
    }
    return width > 0 && height > 0 && stbi_write_png(path, width, height, 4, rgba.data(), width * 4) != 0;
}
