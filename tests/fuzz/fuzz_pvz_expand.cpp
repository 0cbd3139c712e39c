// PvzExpand alone: into a destination of exactly `capacity` bytes (so that
// AddressSanitizer sees any write past it), compared byte for byte with a
// plain one-unit-at-a-time expansion written from the container layout.
//   byte 0      capacity choice: 0 exactly what the stream needs, 1 one byte
//               less, 2 one byte more, 3 no texelBytes output; otherwise
//               bytes 1-2 give the capacity (little-endian), at most 8 bytes
//               more than the stream needs
//   bytes 3-    the container
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "pvz.h"

namespace {

// Streams that expand beyond 32 KiB are skipped: they take the same paths
// as shorter ones, only slower.
enum { kFiller = 0xA5, kMaxNeeded = 1 << 15 };

struct Reference {
    int result;
    size_t texelBytes;
    std::vector<uint8_t> out;
};

// Record by record, unit by unit, stopping at the first unit that does not fit.
Reference Expand(const uint8_t* c, size_t length, size_t capacity) {
    Reference r = {0, 0, std::vector<uint8_t>(capacity, kFiller)};
    if (length < 36 || capacity < 36) {
        r.result = kPvzTooShort;
        return r;
    }
    for (size_t i = 4; i < 36; i++) r.out[i] = c[i];
    const size_t unit = (c[29] >= 5 && c[29] <= 8) ? 1 : 2;
    size_t out = 36;
    for (size_t at = 36; at + unit + 1 <= length; at += unit + 1) {
        for (int n = 0; n <= c[at + unit]; n++) {
            if (out + unit > capacity) {
                r.result = kPvzOverflow;
                r.texelBytes = out - 36;
                return r;
            }
            for (size_t b = 0; b < unit; b++) r.out[out++] = c[at + b];
        }
    }
    r.texelBytes = out - 36;
    return r;
}

// Texel bytes the whole stream stands for.
size_t StreamBytes(const uint8_t* c, size_t length) {
    if (length < 36) return 0;
    const size_t unit = (c[29] >= 5 && c[29] <= 8) ? 1 : 2;
    size_t bytes = 0;
    for (size_t at = 36; at + unit + 1 <= length; at += unit + 1) bytes += ((size_t)c[at + unit] + 1) * unit;
    return bytes;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t* container = data + 3;
    const size_t length = size - 3;
    const size_t needed = 36 + StreamBytes(container, length);
    if (needed > kMaxNeeded) return 0;
    size_t capacity = (size_t)data[1] | (size_t)data[2] << 8;
    if (data[0] <= 3) {   // from what the stream needs
        capacity = needed;
        if (data[0] == 1) capacity--;
        if (data[0] == 2) capacity++;
    } else if (capacity > needed + 8) {   // more room changes nothing but the time taken
        capacity = needed + 8;
    }
    const Reference expected = Expand(container, length, capacity);

    uint8_t* destination = (uint8_t*)malloc(capacity ? capacity : 1);
    FUZZ_CHECK(destination != nullptr);
    memset(destination, kFiller, capacity);
    size_t texelBytes = (size_t)-1;
    const int result = PvzExpand(container, length, destination, capacity, data[0] == 3 ? nullptr : &texelBytes);

    FUZZ_CHECK(result == expected.result);
    if (data[0] != 3) FUZZ_CHECK(texelBytes == expected.texelBytes);
    FUZZ_CHECK(capacity == 0 || memcmp(destination, expected.out.data(), capacity) == 0);
    free(destination);
    return 0;
}
