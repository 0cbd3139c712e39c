// The PVZ container: a 32-bit size, the 32-byte TextureHeader, then the texel
// data as run records of 1-byte units (DataType 5 to 8) or 2-byte units.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"
#include "layout.h"

enum {
    kPvzSizeField = 0,
    kPvzHeader = 4,
    kPvzStream = 36,           // first run record; also the least container length
    kPvzMaxRunUnits = 256,     // a record's count 255 stands for 256 units
    kPvzMaxWrittenRun = 255,   // the exporter never writes count 255
};

enum {
    kPvzOk = 0,
    kPvzTooShort = -1,    // fewer than 36 bytes: no header to copy
    kPvzOverflow = -2,    // the stream expands beyond the destination's capacity
};

// Expands `container` into `destination`, laid out like the container: bytes
// 0-3 untouched, the header at 4-35, texels from 36. Writes nothing at or past
// destination + capacity: a stream that would is cut off there and gives
// kPvzOverflow. Bytes left over after the last whole record are ignored.
// `texelBytes` (may be null) receives the texel bytes written.
[[nodiscard]] int PvzExpand(const uint8_t* container, size_t containerLength, uint8_t* destination,
                            size_t capacity, size_t* texelBytes);

// Compresses a whole texture (32 header bytes and the texel data, `total`
// bytes) into a newly allocated container. On success returns 0 and hands over
// the buffer (freed with the same allocator) and its valid length; when no
// memory can be had, or `total` is shorter than the header, returns -1 with
// null and 0.
[[nodiscard]] int PvzCompress(const uint8_t* texture, uint32_t total, const Allocator* allocator,
                              uint8_t** container, uint32_t* containerLength);

// Bytes PvzCompress allocates for a texture of `total` bytes.
inline uint64_t PvzCompressCapacity(uint32_t total) { return 2 * (uint64_t)total + 4; }
