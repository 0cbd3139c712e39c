#include "pvz.h"

#include <string.h>

#include "texture.h"

unsigned PvzUnitSize(unsigned dataType) { return dataType >= 5 && dataType <= 8 ? 1 : 2; }

// Writes `copies` copies of a 2-byte unit with 8-byte block stores.
static void FillUnit16(uint8_t* out, uint8_t lo, uint8_t hi, size_t copies) {
    if (lo == hi) {
        memset(out, lo, 2 * copies);
        return;
    }
    const uint8_t pattern[8] = {lo, hi, lo, hi, lo, hi, lo, hi};
    size_t bytes = 2 * copies;
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) memcpy(out + i, pattern, 8);
    memcpy(out + i, pattern, bytes - i);
}

int PvzExpand(const uint8_t* container, size_t containerLength, uint8_t* destination,
              size_t capacity, size_t* texelBytes) {
    if (texelBytes) *texelBytes = 0;
    if (containerLength < kPvzStream || capacity < kPvzStream) return kPvzTooShort;
    memcpy(destination + kPvzHeader, container + kPvzHeader, kTextureHeaderSize);

    const unsigned unit = PvzUnitSize(container[kPvzHeader + kHeaderDataType]);
    const unsigned recordLength = unit + 1;
    const uint8_t* in = container + kPvzStream;
    const uint8_t* inEnd = in + (containerLength - kPvzStream) / recordLength * recordLength;
    uint8_t* out = destination + kPvzStream;
    size_t room = capacity - kPvzStream;
    int result = kPvzOk;

    for (; in < inEnd; in += recordLength) {
        size_t copies = (size_t)in[unit] + 1;
        size_t bytes = copies * unit;
        if (bytes > room) {
            copies = room / unit;
            result = kPvzOverflow;
        }
        if (unit == 1)
            memset(out, in[0], copies);
        else
            FillUnit16(out, in[0], in[1], copies);
        out += copies * unit;
        room -= copies * unit;
        if (result != kPvzOk) break;
    }
    if (texelBytes) *texelBytes = (size_t)(out - (destination + kPvzStream));
    return result;
}

int PvzCompress(const uint8_t* texture, uint32_t total, const Allocator* allocator,
                uint8_t** container, uint32_t* containerLength) {
    *container = nullptr;
    *containerLength = 0;
    if (total < kTextureHeaderSize) return -1;
    uint64_t capacity = PvzCompressCapacity(total);
    if (capacity > (uint64_t)(size_t)-1) return -1;
    uint8_t* out = (uint8_t*)allocator->Alloc(allocator->context, (size_t)capacity);
    if (!out) return -1;

    memcpy(out + kPvzHeader, texture, kTextureHeaderSize);
    const unsigned unit = PvzUnitSize(texture[kHeaderDataType]);
    const uint8_t* data = texture + kTextureHeaderSize;
    const size_t length = total - kTextureHeaderSize;
    uint8_t* record = out + kPvzStream;

    // A trailing odd byte of 2-byte data (never written by the exporter) is
    // coded as a unit of its own, padded with a zero byte.
    size_t pos = 0;
    while (pos < length) {
        const uint8_t lo = data[pos];
        const uint8_t hi = (unit == 2 && pos + 1 < length) ? data[pos + 1] : 0;
        size_t next = pos + unit;
        unsigned n = 1;
        if (unit == 1) {
            while (next < length && n < kPvzMaxWrittenRun && data[next] == lo) {
                next++;
                n++;
            }
        } else {
            while (next + 1 < length && n < kPvzMaxWrittenRun && data[next] == lo &&
                   data[next + 1] == hi) {
                next += 2;
                n++;
            }
        }
        *record++ = lo;
        if (unit == 2) *record++ = hi;
        *record++ = (uint8_t)(n - 1);
        pos = next;
    }
    WriteU32(out + kPvzSizeField, total);
    *container = out;
    *containerLength = (uint32_t)(record - out);
    return 0;
}
