// Export encoders, palette bytes and PVZ runs of exported textures.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "encode.h"
#include "host_stub.h"
#include "palette.h"
#include "texture.h"
#include "texture_maker.h"

namespace {

// A distinct value per pixel; the low bits vary with both coordinates.
uint32_t Coded(int x, int y) { return 0x80000000u | (uint32_t)(y << 12 | x); }
uint32_t Quad(int x, int y) { return (uint32_t)(x % 2 + 2 * (y % 2)); }
uint32_t g_pixel;
uint32_t Constant(int, int) { return g_pixel; }

// Encodes a w x h layer at (16, 32) into a buffer with 8 guard bytes behind it.
std::vector<uint8_t> Encode(StubHost& host, int w, int h, unsigned dataType, unsigned colorFormat,
                            uint32_t (*value)(int, int) = Coded) {
    host.SetSource(w, h, 16, 32, value);
    const size_t length = (size_t)TexelLength(dataType, colorFormat, w, h);
    std::vector<uint8_t> bytes(length + 8, 0xCC);
    const uint8_t chunk[16] = {0, 0, 0, 0, 0, 0, 0, 0, (uint8_t)colorFormat, (uint8_t)dataType};
    EXPECT_EQ(EncodeTexels(bytes.data(), length, chunk, &host.services, &host.image), kEncodeOk);
    for (size_t i = length; i < bytes.size(); i++) EXPECT_EQ(bytes[i], 0xCC);
    return bytes;
}

TEST(ExportEncode, TexelLengths) {   // 0: nothing to pack with
    const uint32_t lengths[][5] = {{5, 0, 128, 128, 8192},    {7, 2, 256, 128, 32768}, {13, 5, 256, 128, 16384},
                                   {1, 6, 256, 128, 32768},   {1, 0, 256, 256, 131072}, {9, 1, 128, 128, 32768},
                                   {9, 5, 128, 128, 0},       {1, 3, 128, 128, 0},      {2, 0, 128, 128, 0}};
    for (auto& c : lengths) EXPECT_EQ(TexelLength(c[0], c[1], c[2], c[3]), c[4]) << c[0] << "/" << c[1];
}

// Every texel lands where the twiddled order puts it, for 16-, 8- and 4-bit
// texels, square and in strips of squares both ways; each pixel is read once
// at the layer's position, with progress after every row or pair of rows.
TEST(ExportEncode, TwiddledPositions) {
    const unsigned layouts[][2] = {{1, 2}, {7, 0}, {1, 6}, {5, 0}, {13, 5}};
    const int shapes[][2] = {{128, 128}, {256, 128}, {128, 256}, {512, 128}, {128, 512}};
    for (const auto& layout : layouts)
        for (const auto& shape : shapes) {
            StubHost host;
            const int w = shape[0], h = shape[1];
            const std::vector<uint8_t> e = Encode(host, w, h, layout[0], layout[1]);
            const unsigned bits = layout[1] == 6 || layout[0] == 7 ? 8 : layout[1] == 5 || layout[0] == 5 ? 4 : 16;
            long wrong = 0;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    const uint32_t t = MakerTwiddle(x, y, 128);
                    if (bits == 16) wrong += ReadU16(&e[2 * t]) != MakerPack(2, Coded(x, y));
                    if (bits == 8) wrong += e[t] != (Coded(x, y) & 0xFF);
                    if (bits == 4) wrong += ((e[t / 2] >> (4 * (t % 2))) & 0xF) != (Coded(x, y) & 0xF);
                }
            EXPECT_EQ(wrong, 0) << layout[0] << "/" << layout[1] << " " << w << "x" << h;
            EXPECT_EQ(host.getPixelCalls, w * h);
            EXPECT_EQ(host.pixelsOutside, 0);
            EXPECT_EQ(host.GetOrder()[0], std::make_pair(16, 32));
            const size_t steps = bits == 16 ? h : h / 2;
            ASSERT_EQ(host.progressSteps, steps);
            EXPECT_EQ(host.lastStep, (int)(bits == 16 ? h - 1 : h - 2));
        }
    // The nibbles of one 4-bit unit: (0,0), (0,1), (1,0), (1,1).
    StubHost host;
    const std::vector<uint8_t> e = Encode(host, 128, 128, 5, 0, Quad);
    EXPECT_EQ(ReadU16(&e[0]), 0x3120);
    // Indices given beside the picture are taken instead of its values.
    std::vector<uint8_t> indices(8 * 4), texels(32);
    for (size_t i = 0; i < indices.size(); i++) indices[i] = (uint8_t)(i * 7);
    host.SetSource(8, 4, 16, 32, Coded);
    ASSERT_EQ(EncodeTwiddled(texels.data(), texels.size(), kModePal8, &host.services, &host.image, indices.data()),
              kEncodeOk);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) EXPECT_EQ(texels[MakerTwiddle(x, y, 4)], indices[y * 8 + x]);
}

TEST(ExportEncode, RectangleIndicesAndPacking) {
    StubHost host;
    std::vector<uint8_t> e = Encode(host, 256, 128, 9, 0);
    long wrong = 0;
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 256; x++)
            wrong += ReadU16(&e[2 * (y * 256 + x)]) != MakerPack(0, Coded(x, y));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(host.progressSteps, 128u);
    // Packed as 16-bit colour, a pixel of an indexed, grey or two-colour
    // picture is the colour it stands for; as indices, the value itself (its
    // low 4 or 8 bits). Indexed entries 5 and 6 are white; 6 is the
    // transparent one, and the host's own alpha byte is not used.
    const struct {
        int32_t mode;
        uint32_t pixel;
        unsigned dataType, format;
        uint16_t unit;
    } cases[] = {{kColorModeDirect, 0x80FF8000, 9, 0, 0xFE00},  {kColorModeDirect, 0x7FFF8000, 9, 0, 0x7E00},
                 {kColorModeDirect, 0x00123456, 1, 1, 0x11AA},  {kColorModeDirect, 0xFF123456, 13, 1, 0x11AA},
                 {kColorModeDirect, 0x7F102030, 9, 2, 0x7123},  {kColorModeDirect, 0x80808080, 1, 2, 0x8888},
                 {kColorModeDirect, 0x00000011, 5, 0, 0x1111},  {kColorModeDirect, 0x12345678, 7, 1, 0x7878},
                 {kColorModeIndexed, 0x105, 1, 0, 0xFFFF},      {kColorModeIndexed, 0x106, 9, 0, 0x7FFF},
                 {kColorModeIndexed, 0x105, 13, 1, 0xFFFF},     {kColorModeIndexed, 0x105, 7, 0, 0x0505},
                 {kColorModeGrey, 0x80, 1, 2, 0xF888},          {kColorModeGrey, 0x10, 9, 0, 0x8842},
                 {kColorModeTwoColour, 1, 13, 2, 0xFFFF},       {kColorModeTwoColour, 0, 1, 0, 0x8000}};
    for (const auto& c : cases) {
        StubHost picture;
        picture.image.nColorMode = c.mode;
        picture.image.aPalette[5] = picture.image.aPalette[6] = 0x00FFFFFF;
        picture.image.nTransparentIndex = 6;
        g_pixel = c.pixel;
        e = Encode(picture, 128, 128, c.dataType, c.format, Constant);
        EXPECT_EQ(ReadU16(&e[0]), c.unit) << c.mode << ": " << std::hex << c.pixel;
        EXPECT_EQ(ReadU16(&e[e.size() - 10]), c.unit);
    }
}

TEST(ExportEncode, RefusesWhatItCannotEncodeSafely) {
    StubHost host;
    host.SetSource(128, 128, 0, 0, Coded);
    std::vector<uint8_t> buffer(2 * 128 * 128, 0xCC);
    uint8_t* b = buffer.data();
    const HostServices* s = &host.services;
    EXPECT_EQ(EncodeTwiddled(b, buffer.size() - 1, 0, s, &host.image), kEncodeRefused);   // short capacity
    EXPECT_EQ(EncodeTwiddled(b, 8191, kModePal4, s, &host.image), kEncodeRefused);
    EXPECT_EQ(EncodeRectangle(b, buffer.size() - 1, 0, s, &host.image), kEncodeRefused);
    EXPECT_EQ(EncodeTwiddled(b, buffer.size(), 3, s, &host.image), kEncodeRefused);   // no row to pack with
    EXPECT_EQ(EncodeRectangle(b, buffer.size(), 5, s, &host.image), kEncodeRefused);
    const uint8_t mips[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    EXPECT_EQ(EncodeTexels(b, buffer.size(), mips, s, &host.image), kEncodeRefused);
    host.layer.nRight = 96;   // not a power of two
    EXPECT_EQ(EncodeTwiddled(b, buffer.size(), 0, s, &host.image), kEncodeRefused);
    host.layer.nRight = host.layer.nBottom = 2048;   // smaller side above 1024
    std::vector<uint8_t> big(2u * 2048 * 2048);
    EXPECT_EQ(EncodeTwiddled(big.data(), big.size(), 0, s, &host.image), kEncodeRefused);
    host.image.pLayer = nullptr;
    EXPECT_EQ(EncodeTwiddled(b, buffer.size(), 0, s, &host.image), kEncodeRefused);
    EXPECT_EQ(host.getPixelCalls, 0);
    for (uint8_t v : buffer) ASSERT_EQ(v, 0xCC);
}

// The colours a picture's palette stands for: grey levels and black and
// white opaque; an indexed picture's entries opaque but the transparent one,
// or each with its own alpha where the host kept alpha (bAlpha, and not every
// entry's alpha 0), one partial alpha for all included.
TEST(ExportPalette, FromEachColourMode) {
    StubHost host;
    uint32_t c[256];
    int32_t count = -7;
    host.image.nColorMode = kColorModeTwoColour;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(count == 2 && c[0] == 0xFF000000u && c[1] == 0xFFFFFFFFu && c[2] == 0);
    host.image.nColorMode = kColorModeGrey;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(count == 256 && c[200] == 0xFFC8C8C8u);
    host.image.nColorMode = kColorModeIndexed;
    host.image.nPaletteCount = 300;
    host.image.nTransparentIndex = 5;
    for (int i = 0; i < 256; i++) host.image.aPalette[i] = 0x00000203u | (uint32_t)i << 16;
    for (int alpha : {0, 1}) {
        host.image.bAlpha = alpha;   // no alpha, or every entry's 0: the host's own alpha byte is not used
        HostPaletteColours(&host.image, c, &count);
        EXPECT_TRUE(count == 256 && c[7] == 0xFF070203u && c[5] == 0x00050203u) << alpha;
    }
    for (int i = 0; i < 256; i++) host.image.aPalette[i] = 0x11000203u | (uint32_t)i << 16;
    host.image.bAlpha = 0;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(c[7] == 0xFF070203u && c[5] == 0x00050203u);
    host.image.bAlpha = 1;   // every entry of one partial alpha, kept
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(c[7] == 0x11070203u && c[5] == 0x11050203u);
    host.image.aPalette[3] = 0x80030203u;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(c[3] == 0x80030203u && c[7] == 0x11070203u && c[5] == 0x11050203u);
    host.image.nPaletteCount = 0;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_EQ(count, 0);
    host.image.nColorMode = 4;
    HostPaletteColours(&host.image, c, &count);
    EXPECT_TRUE(count == 0 && c[7] == 0);
}

TEST(ExportPalette, FileBytes) {
    uint32_t p[256] = {0xFFFFFFFFu, 0x80FF8000u};
    uint8_t out[kPaletteMaxFileSize];
    const int32_t cases[][3] = {{16, 256, 16},  {256, 2, 128},   {256, 128, 128}, {256, 0, 128},
                                {256, -3, 128}, {256, 129, 256}, {256, 256, 256}};   // indices reach, count in, entries
    for (const auto& c : cases) {
        int32_t count = c[1];
        const size_t length = BuildPaletteBytes(0, c[0], p, &count, out, sizeof out);
        // The file's layout is Palette.FileLayout's; here its count and entries.
        EXPECT_TRUE(length == 16u + 2 * c[2] && count == c[2] && ReadU16(out + 14) == c[2]) << c[0] << " " << c[1];
        EXPECT_TRUE(ReadU16(out + 16) == (c[1] > 0 ? 0xFFFF : 0) && ReadU16(out + 18) == (c[1] > 1 ? 0xFE00 : 0));
        EXPECT_EQ(ReadU16(out + length - 2), 0);
    }
    int32_t count = 2;   // no row for a palette code; a short buffer: nothing built, count kept
    EXPECT_EQ(BuildPaletteBytes(5, 256, p, &count, out, sizeof out), 0u);
    EXPECT_EQ(BuildPaletteBytes(0, 256, p, &count, out, 271), 0u);
    EXPECT_EQ(count, 2);
}

}   // namespace
