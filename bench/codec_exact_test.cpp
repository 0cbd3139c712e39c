// The fast paths of the codec against the plain definitions they replace:
// colour packing through per-call byte tables (every channel value, against
// the top bits of each channel), and run-length expansion and compression
// against byte-by-byte versions of the container rules. The decoders' every
// texel value is checked with the import's layouts, the encoders' twiddled
// places with the export's.
#include <string.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "bench_host.h"
#include "decode.h"
#include "encode.h"
#include "pvz.h"
#include "texture.h"
#include "texture_maker.h"

namespace {

// Pixel (x, y) of a 256 x 256 picture: every channel takes every value.
uint32_t ChannelMix(uint32_t x, uint32_t y) { return x | y << 8 | (x ^ y) << 16 | ((x * 7 + y) & 255) << 24; }

TEST(CodecExact, EncodersPackEveryChannelValueToItsTopBits) {
    for (unsigned format = kColorArgb1555; format <= kColorArgb4444; format++) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        BenchHost host(256 * 256);
        host.Picture(256, 256);
        for (uint32_t y = 0; y < 256; y++)
            for (uint32_t x = 0; x < 256; x++) host.pixels[y * 256 + x] = ChannelMix(x, y);
        std::vector<uint8_t> rect(2 * 256 * 256), twiddled(2 * 256 * 256);
        ASSERT_EQ(EncodeRectangle(rect.data(), rect.size(), format, &host.services, &host.image), kEncodeOk);
        ASSERT_EQ(EncodeTwiddled(twiddled.data(), twiddled.size(), format, &host.services, &host.image), kEncodeOk);
        int wrong = 0;
        for (uint32_t y = 0; y < 256; y++) {
            for (uint32_t x = 0; x < 256; x++) {
                const uint16_t expected = MakerPack((uint8_t)format, ChannelMix(x, y));
                wrong += ReadU16(rect.data() + 2 * (y * 256 + x)) != expected;
                wrong += ReadU16(twiddled.data() + 2 * MakerTwiddle(x, y, 256)) != expected;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// The container rules, one byte at a time.
std::vector<uint8_t> ReferenceCompress(const std::vector<uint8_t>& texture) {
    const unsigned unit = MakerPvzUnit(texture[kHeaderDataType]);
    std::vector<uint8_t> out(kPvzStream, 0);
    WriteU32(out.data(), (uint32_t)texture.size());
    memcpy(out.data() + kPvzHeader, texture.data(), kTextureHeaderSize);
    const size_t length = texture.size() - kTextureHeaderSize;
    const uint8_t* data = texture.data() + kTextureHeaderSize;
    for (size_t pos = 0; pos < length;) {
        const uint8_t lo = data[pos];
        const uint8_t hi = unit == 2 && pos + 1 < length ? data[pos + 1] : 0;
        size_t next = pos + unit;
        unsigned n = 1;
        while (n < kPvzMaxWrittenRun && next + unit <= length && data[next] == lo &&
               (unit == 1 || data[next + 1] == hi)) {
            next += unit;
            n++;
        }
        out.push_back(lo);
        if (unit == 2) out.push_back(hi);
        out.push_back((uint8_t)(n - 1));
        pos = next;
    }
    return out;
}

std::vector<uint8_t> ReferenceExpand(const std::vector<uint8_t>& container, size_t capacity, uint8_t filler) {
    std::vector<uint8_t> out(capacity, filler);
    memcpy(out.data() + kPvzHeader, container.data() + kPvzHeader, kTextureHeaderSize);
    const unsigned unit = MakerPvzUnit(container[kPvzHeader + kHeaderDataType]);
    size_t o = kPvzStream;
    for (size_t i = kPvzStream; i + unit + 1 <= container.size(); i += unit + 1)
        for (unsigned c = 0; c <= container[i + unit] && o + unit <= capacity; c++)
            for (unsigned b = 0; b < unit; b++) out[o++] = container[i + b];
    return out;
}

// Texel data of runs of every length from 1 to 300 units, with an odd byte
// at the end when `odd`. Neighbouring 2-byte runs differ in their high byte
// only, every other time.
std::vector<uint8_t> RunTexture(uint8_t dataType, bool odd) {
    const unsigned unit = MakerPvzUnit(dataType);
    std::vector<uint8_t> texture(kTextureHeaderSize, 0);
    WriteTextureHeader(texture.data(), 7, kColorRgb565, dataType, 8, 8, 0);
    for (unsigned run = 1; run <= 300; run++) {
        for (unsigned i = 0; i < run; i++) {
            if (unit == 1) {
                texture.push_back((uint8_t)(run * 3 + 1));
            } else {
                texture.push_back((uint8_t)(run / 2 * 5 + 1));
                texture.push_back((uint8_t)(run * 3));
            }
        }
    }
    if (odd) texture.push_back(0x77);
    return texture;
}

TEST(CodecExact, CompressionWritesTheRecordsOfTheContainerRules) {
    for (uint8_t dataType : {kTypePal8, kTypeTwiddled}) {
        for (bool odd : {false, true}) {
            const std::vector<uint8_t> texture = RunTexture(dataType, odd);
            uint8_t* container = nullptr;
            uint32_t length = 0;
            ASSERT_EQ(PvzCompress(texture.data(), (uint32_t)texture.size(), &kHeapAllocator, &container, &length), 0);
            const std::vector<uint8_t> got(container, container + length);
            kHeapAllocator.Free(kHeapAllocator.context, container);
            EXPECT_EQ(got, ReferenceCompress(texture)) << "type " << (int)dataType << " odd " << odd;
        }
    }
}

TEST(CodecExact, ExpansionStoresOnlyInsideItsRunsAndCapacity) {
    for (uint8_t dataType : {kTypePal8, kTypeTwiddled}) {
        const unsigned unit = MakerPvzUnit(dataType);
        const std::vector<uint8_t> container = ReferenceCompress(RunTexture(dataType, false));
        // The whole expansion, more room, then cuts at every byte near the end
        // and in the middle.
        const size_t texels = kPvzHeader + RunTexture(dataType, false).size();
        std::vector<size_t> capacities = {texels, texels + 1, texels + 7};
        for (size_t cut = texels - 40; cut < texels; cut++) capacities.push_back(cut);
        for (size_t cut = texels / 2 - 20; cut < texels / 2 + 20; cut++) capacities.push_back(cut);
        for (size_t capacity : capacities) {
            std::vector<uint8_t> got(capacity + 16, 0xEE);
            size_t written = 0;
            const int result = PvzExpand(container.data(), container.size(), got.data(), capacity, &written);
            const std::vector<uint8_t> expected = ReferenceExpand(container, capacity, 0xEE);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << "capacity " << capacity;
            EXPECT_EQ(std::vector<uint8_t>(got.begin() + capacity, got.end()), std::vector<uint8_t>(16, 0xEE))
                << "capacity " << capacity;
            EXPECT_EQ(result, capacity >= texels ? kPvzOk : kPvzOverflow) << "capacity " << capacity;
            EXPECT_EQ(written, ((capacity >= texels ? texels : capacity) - kPvzStream) / unit * unit)
                << "capacity " << capacity;
        }
    }
}

}  // namespace
