// PvzCompress then PvzExpand gives any texel data back byte for byte, for
// both unit sizes; the container is what the exporter promises: the size
// field, the header copied, no record with count 255, maximal runs, a length
// within the 2 * total + 4 bytes allocated, and one allocation freed by the
// caller (none left when the allocation fails).
//   byte 0   DataType (decides the unit: 1 byte for 5 to 8, else 2)
//   byte 1   bit 0: the allocation fails
//   bytes 2- the texel data
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "pvz.h"
#include "texture.h"

namespace {

struct CountingHeap {
    bool fail;
    int outstanding;
    int allocations;
    size_t lastSize;
};

void* Alloc(void* c, size_t size) {
    CountingHeap* heap = static_cast<CountingHeap*>(c);
    heap->allocations++;
    heap->lastSize = size;
    if (heap->fail) return nullptr;
    heap->outstanding++;
    return malloc(size);   // exact size: any write past it is reported
}
void Free(void* c, void* block) {
    static_cast<CountingHeap*>(c)->outstanding--;
    free(block);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t dataType = data[0];
    const bool fail = data[1] & 1;
    const size_t texels = size - 2;
    const uint32_t total = (uint32_t)(kTextureHeaderSize + texels);

    uint8_t* texture = (uint8_t*)malloc(total);
    FUZZ_CHECK(texture != nullptr);
    WriteTextureHeader(texture, 0x1234, data[1] >> 1, dataType, 8, 8, (uint32_t)texels);
    if (texels) memcpy(texture + kTextureHeaderSize, data + 2, texels);

    CountingHeap heap = {fail, 0, 0, 0};
    const Allocator allocator = {Alloc, Free, &heap};
    uint8_t* container = (uint8_t*)1;
    uint32_t length = 1;
    const int result = PvzCompress(texture, total, &allocator, &container, &length);
    FUZZ_CHECK(heap.allocations == 1 && heap.lastSize == PvzCompressCapacity(total));
    if (fail) {
        FUZZ_CHECK(result != 0 && container == nullptr && length == 0 && heap.outstanding == 0);
        free(texture);
        return 0;
    }
    FUZZ_CHECK(result == 0 && container != nullptr && heap.outstanding == 1);
    FUZZ_CHECK(length >= kPvzStream && length <= PvzCompressCapacity(total));
    FUZZ_CHECK(ReadU32(container) == total);
    FUZZ_CHECK(memcmp(container + kPvzHeader, texture, kTextureHeaderSize) == 0);

    // Records: whole, never count 255, and a run is split only at 255 units.
    const unsigned unit = PvzUnitSize(dataType);
    FUZZ_CHECK(unit == ((dataType >= 5 && dataType <= 8) ? 1u : 2u));
    const size_t record = unit + 1;
    FUZZ_CHECK((length - kPvzStream) % record == 0);
    // (The padded last unit of odd 2-byte data is a record of its own.)
    const size_t records = (length - kPvzStream) / record;
    const bool oddTail = unit == 2 && texels % 2 == 1;
    for (size_t i = 0; i < records; i++) {
        const uint8_t* r = container + kPvzStream + i * record;
        FUZZ_CHECK(r[unit] != 255);
        const bool padRecord = oddTail && i == records - 1;
        if (i > 0 && !padRecord && memcmp(r - record, r, unit) == 0) FUZZ_CHECK(r[-1] == 254);
    }

    // Expanded into exactly the bytes it needs. A trailing odd byte of 2-byte
    // data comes back padded with a zero byte.
    const size_t padded = texels + (unit == 2 ? texels % 2 : 0);
    const size_t capacity = kPvzHeader + kTextureHeaderSize + padded;
    uint8_t* expanded = (uint8_t*)malloc(capacity);
    FUZZ_CHECK(expanded != nullptr);
    memset(expanded, 0x5A, kPvzHeader);
    size_t texelBytes = 0;
    FUZZ_CHECK(PvzExpand(container, length, expanded, capacity, &texelBytes) == kPvzOk);
    FUZZ_CHECK(texelBytes == padded);
    FUZZ_CHECK(ReadU32(expanded) == 0x5A5A5A5Au);   // the size field is not copied
    FUZZ_CHECK(memcmp(expanded + kPvzHeader, texture, total) == 0);
    if (padded != texels) FUZZ_CHECK(expanded[capacity - 1] == 0);

    allocator.Free(allocator.context, container);
    FUZZ_CHECK(heap.outstanding == 0);
    free(expanded);
    free(texture);
    return 0;
}
