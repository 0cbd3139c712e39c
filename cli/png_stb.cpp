// png.h through stb_image / stb_image_write, for the Windows build. stb
// expands palettes on reading and writes no palette PNGs: palette files are
// read as colour pictures (grey ones stay grey) and indexed pictures are
// written as RGBA.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "png.h"

const bool kPngKeepsIndices = false;
const char kPngTagKeyword[] = "ombr texture settings";
const char kPngSourceKeyword[] = "ombr texture file";

enum { kPngSignature = 8, kPngChunkFrame = 12, kPngAfterIhdr = kPngSignature + kPngChunkFrame + 13 };

// The CRC of PNG chunks (ISO 3309, reflected, polynomial 0xEDB88320).
static uint32_t PngCrc(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc ^ 0xFFFFFFFFu;
}

static uint32_t ReadBigEndian(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void WriteBigEndian(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24), p[1] = (uint8_t)(v >> 16), p[2] = (uint8_t)(v >> 8), p[3] = (uint8_t)v;
}

// stb reads no text chunks: the first tEXt chunk with our keyword, found by
// walking the chunks up to the image data.
static void ReadTag(const uint8_t* data, size_t length, PngImage* image) {
    const size_t keyword = sizeof kPngTagKeyword;   // with its zero separator
    for (size_t at = kPngSignature; length - at >= kPngChunkFrame;) {
        const uint32_t size = ReadBigEndian(data + at);
        if (size > length - at - kPngChunkFrame || memcmp(data + at + 4, "IDAT", 4) == 0) return;
        const uint8_t* body = data + at + 8;
        if (memcmp(data + at + 4, "tEXt", 4) == 0 && size >= keyword && memcmp(body, kPngTagKeyword, keyword) == 0) {
            snprintf(image->tag, sizeof image->tag, "%.*s", (int)(size - keyword), (const char*)body + keyword);
            return;
        }
        at += kPngChunkFrame + size;
    }
}

// stb writes no text chunks: the tag goes in as a tEXt chunk right after
// IHDR, with its CRC. 0, or -1 (no memory: the buffer is as it was).
static int InsertTag(const char* tag, uint8_t** data, size_t* length) {
    const size_t keyword = sizeof kPngTagKeyword;
    const size_t text = strnlen(tag, kPngTextRoom);
    if (text == 0) return 0;
    if (*length < kPngAfterIhdr) return -1;
    const size_t chunk = kPngChunkFrame + keyword + text;
    uint8_t* grown = (uint8_t*)malloc(*length + chunk);
    if (!grown) return -1;
    uint8_t* p = grown + kPngAfterIhdr;
    memcpy(grown, *data, kPngAfterIhdr);
    WriteBigEndian(p, (uint32_t)(keyword + text));
    memcpy(p + 4, "tEXt", 4);
    memcpy(p + 8, kPngTagKeyword, keyword);
    memcpy(p + 8 + keyword, tag, text);
    WriteBigEndian(p + 8 + keyword + text, PngCrc(p + 4, 4 + keyword + text));
    memcpy(p + chunk, *data + kPngAfterIhdr, *length - kPngAfterIhdr);
    free(*data);
    *data = grown;
    *length += chunk;
    return 0;
}

void InitPng(PngImage* image) { memset(image, 0, sizeof *image); }

void FreePng(PngImage* image) {
    free(image->pixels);
    image->pixels = nullptr;
}

// PNG colour type, byte 25 of a file that starts with its signature and IHDR.
static int ColorType(const uint8_t* data, size_t length) {
    static const uint8_t kStart[16] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (length < 33 || memcmp(data, kStart, sizeof kStart) != 0) return -1;
    return data[25];
}

int DecodePng(const uint8_t* data, size_t length, uint32_t maxSide, PngImage* image, char* error,
              size_t errorRoom) {
    InitPng(image);
    const int colorType = ColorType(data, length);
    int width = 0, height = 0, channels = 0;
    if (colorType < 0 || length > 0x7FFFFFFF ||
        !stbi_info_from_memory(data, (int)length, &width, &height, &channels)) {
        snprintf(error, errorRoom, "not a PNG");
        return -1;
    }
    if (width <= 0 || height <= 0 || (uint32_t)width > maxSide || (uint32_t)height > maxSide) {
        snprintf(error, errorRoom, "picture of %d x %d is too large", width, height);
        return -1;
    }
    uint8_t* pixels = stbi_load_from_memory(data, (int)length, &width, &height, &channels, 4);
    if (!pixels) {
        snprintf(error, errorRoom, "cannot read PNG: %s", stbi_failure_reason());
        return -1;
    }
    const size_t count = (size_t)width * (size_t)height;
    image->pixels = (uint8_t*)malloc(4 * count);
    if (!image->pixels) {
        stbi_image_free(pixels);
        snprintf(error, errorRoom, "out of memory");
        return -1;
    }
    memcpy(image->pixels, pixels, 4 * count);
    stbi_image_free(pixels);
    image->width = (uint32_t)width;
    image->height = (uint32_t)height;
    image->kind = colorType == 0 || colorType == 4 ? kPngGrey : kPngColor;
    image->alpha = colorType == 4 || colorType == 6;
    for (size_t i = 0; i < count && !image->alpha; i++)
        if (image->pixels[4 * i + 3] != 255) image->alpha = true;
    ReadTag(data, length, image);
    return 0;
}

namespace {

struct Buffer {
    uint8_t* data;
    size_t length;
    size_t capacity;
    bool failed;
};

void Append(void* context, void* bytes, int size) {
    Buffer* b = static_cast<Buffer*>(context);
    if (b->failed || size <= 0) return;
    if (b->length + (size_t)size > b->capacity) {
        size_t capacity = b->capacity ? b->capacity : 4096;
        while (capacity < b->length + (size_t)size) capacity *= 2;
        uint8_t* grown = (uint8_t*)realloc(b->data, capacity);
        if (!grown) {
            b->failed = true;
            return;
        }
        b->data = grown;
        b->capacity = capacity;
    }
    memcpy(b->data + b->length, bytes, (size_t)size);
    b->length += (size_t)size;
}

}  // namespace

int EncodePngAtLevel(const PngImage* image, int level, uint8_t** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (image->width == 0 || image->height == 0 || image->width > 0x7FFFFFFF / 4 || image->height > 0x7FFFFFFF)
        return -1;
    const size_t count = (size_t)image->width * image->height;
    uint8_t* rgba = image->pixels;
    uint8_t* expanded = nullptr;
    if (image->kind == kPngIndexed) {
        expanded = (uint8_t*)malloc(4 * count);
        if (!expanded) return -1;
        for (size_t i = 0; i < count; i++) memcpy(expanded + 4 * i, image->palette[image->pixels[i]], 4);
        rgba = expanded;
    }
    // stb keeps the level in one variable for the whole program: a batch
    // encodes every file at the same level, so it is only written when it
    // changes, before the batch's threads read it.
    if (stbi_write_png_compression_level != level) stbi_write_png_compression_level = level;
    Buffer buffer = {nullptr, 0, 0, false};
    const int written = stbi_write_png_to_func(Append, &buffer, (int)image->width, (int)image->height, 4, rgba,
                                               (int)image->width * 4);
    free(expanded);
    if (!written || buffer.failed || InsertTag(image->tag, &buffer.data, &buffer.length) != 0) {
        free(buffer.data);
        return -1;
    }
    *data = buffer.data;
    *length = buffer.length;
    return 0;
}
