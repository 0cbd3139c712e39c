#include "pvz.h"

#include <string.h>

#include "texture.h"

// Eight bytes of a run: a 1-byte unit repeated, or a 2-byte unit (taken in
// memory order) repeated, so that storing the value writes the run's bytes.
static inline uint64_t RunPattern(const uint8_t* unitBytes, unsigned unit) {
    if (unit == 1) return unitBytes[0] * 0x0101010101010101ull;
    uint16_t value;
    memcpy(&value, unitBytes, 2);
    return value * 0x0001000100010001ull;
}

// Fills `bytes` bytes at `out` with the run `pattern`, using block stores that
// never leave [out, out + bytes): whole 8-byte blocks, then one last block
// ending exactly at the end (it may overlap the one before; `bytes` is a
// multiple of the unit, so the pattern stays in step). Short runs take one
// or two 4-, 2- or 1-byte stores the same way.
static inline void FillRun(uint8_t* out, uint64_t pattern, size_t bytes) {
    if (bytes >= 8) {
        size_t i = 0;
        for (; i + 8 <= bytes; i += 8) memcpy(out + i, &pattern, 8);
        if (i < bytes) memcpy(out + bytes - 8, &pattern, 8);
    } else if (bytes >= 4) {
        const uint32_t block = (uint32_t)pattern;
        memcpy(out, &block, 4);
        memcpy(out + bytes - 4, &block, 4);
    } else if (bytes >= 2) {
        const uint16_t block = (uint16_t)pattern;
        memcpy(out, &block, 2);
        memcpy(out + bytes - 2, &block, 2);
    } else if (bytes == 1) {
        out[0] = (uint8_t)pattern;
    }
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
        size_t bytes = ((size_t)in[unit] + 1) * unit;
        if (bytes > room) {
            bytes = room / unit * unit;
            result = kPvzOverflow;
        }
        FillRun(out, RunPattern(in, unit), bytes);
        out += bytes;
        room -= bytes;
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
    // coded as a unit of its own, padded with a zero byte. A run is followed
    // unit by unit; once it has gone on, 32 and then eight bytes at a time while
    // they match.
    const unsigned blockUnits = 8 / unit;
    size_t pos = 0;
    while (pos < length) {
        const uint8_t lo = data[pos];
        const uint8_t hi = unit == 1 ? lo : pos + 1 < length ? data[pos + 1] : 0;
        size_t next = pos + unit;
        unsigned n = 1;
        while (n < kPvzMaxWrittenRun && next + unit <= length && data[next] == lo &&
               data[next + unit - 1] == hi) {
            next += unit;
            n++;
            const uint64_t pattern = RunPattern(data + pos, unit);   // two whole units: in bounds
            while (n + 4 * blockUnits <= kPvzMaxWrittenRun && next + 32 <= length) {
                uint64_t block[4];
                memcpy(block, data + next, 32);
                if ((block[0] ^ pattern) | (block[1] ^ pattern) | (block[2] ^ pattern) | (block[3] ^ pattern)) break;
                next += 32;
                n += 4 * blockUnits;
            }
            while (n + blockUnits <= kPvzMaxWrittenRun && next + 8 <= length) {
                uint64_t block;
                memcpy(&block, data + next, 8);
                if (block != pattern) break;
                next += 8;
                n += blockUnits;
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
