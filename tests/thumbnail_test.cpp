// The thumbnail handler's portable part: the box filter, the thumbnail's
// size, and textures through the import's decoding with and without their
// palette.
#include <gtest/gtest.h>

#include <vector>

#include "texture_maker.h"
#include "thumbnail_core.h"

namespace {

ThumbnailInput Input(const std::vector<uint8_t>& texture, const char* name, uint32_t side,
                     const std::vector<uint8_t>* palette = nullptr) {
    return {texture.data(), texture.size(), name, palette ? palette->data() : nullptr, palette ? palette->size() : 0,
            side, 0};
}

TEST(Thumbnail, BoxFilterWeighsCoveredAreaAndAlpha) {
    // Three pixels into two: each output pixel covers one and a half.
    const uint32_t source[3] = {0xFFFF0000u, 0x0000FF00u, 0xFF0000FFu};
    uint32_t out[2];
    ShrinkPicture(source, 3, 1, out, 2, 1);
    EXPECT_EQ(out[0], 0xAAFF0000u);   // the transparent green adds no colour, a third less alpha
    EXPECT_EQ(out[1], 0xAA0000FFu);
    // Four into one: the mean, colours by alpha.
    const uint32_t square[4] = {0xFF000000u, 0xFFFFFFFFu, 0x80FF0000u, 0x00000000u};
    ShrinkPicture(square, 2, 2, out, 1, 1);
    EXPECT_EQ(out[0], 0xA0996666u);   // alpha 638 / 4; red 255 * (255 + 128) / 638, green 255 * 255 / 638

    // The longer side to the box, never enlarged, never below one pixel.
    const uint32_t sizes[][5] = {{1024, 256, 96, 96, 24}, {64, 32, 256, 64, 32}, {1000, 3, 96, 96, 1}};
    for (auto& c : sizes) {
        uint32_t w, h;
        ThumbnailSize(c[0], c[1], c[2], &w, &h);
        EXPECT_TRUE(w == c[3] && h == c[4]) << c[0] << "x" << c[1] << ": " << w << "x" << h;
    }
}

TEST(Thumbnail, TexturesAsTheImportDecodesThem) {
    ThumbnailPicture picture;
    // RGB565 red, 8 x 8 shrunk to 4 x 4.
    const std::vector<uint8_t> red = MakePvz({1, 1, 8, 8, 0}, [](uint32_t, uint32_t) { return 0xF800u; });
    ASSERT_EQ(MakeTextureThumbnail(Input(red, "C:\\t\\red.pvz", 4), &picture), kThumbnailOk);
    ASSERT_TRUE(picture.width == 4 && picture.height == 4);
    for (int i = 0; i < 16; i++) EXPECT_EQ(picture.pixels[i], 0xFFF80000u);
    FreeThumbnail(&picture);
    EXPECT_FALSE(ThumbnailNeedsPalette(red.data(), red.size(), "red.pvz"));

    // 8-bit palettised, every texel entry 51: the .pvp's ARGB4444 blue (its
    // bits at the top of the byte), or without the .pvp grey 51.
    const std::vector<uint8_t> indexed = MakePvr({7, 2, 8, 8, 0}, [](uint32_t, uint32_t) { return 51u; });
    const std::vector<uint8_t> palette =
        MakePaletteFile(256, [](uint32_t i) { return (uint16_t)(i == 51 ? 0xF00F : 0); });
    EXPECT_TRUE(ThumbnailNeedsPalette(indexed.data(), indexed.size(), "x.pvr"));
    ASSERT_EQ(MakeTextureThumbnail(Input(indexed, "x.pvr", 96, &palette), &picture), kThumbnailOk);
    ASSERT_EQ(picture.width * picture.height, 64u);
    EXPECT_TRUE(picture.pixels[0] == 0xFF0000F0u && picture.pixels[63] == 0xFF0000F0u);
    FreeThumbnail(&picture);
    ASSERT_EQ(MakeTextureThumbnail(Input(indexed, "x.pvr", 96), &picture), kThumbnailOk);
    EXPECT_EQ(picture.pixels[0], 0xFF333333u);
    FreeThumbnail(&picture);

    // Refused: bytes that are no texture, a cut one, one above the size allowed.
    const std::vector<uint8_t> junk(100, 'P');
    EXPECT_EQ(MakeTextureThumbnail(Input(junk, "x.pvr", 96), &picture), kThumbnailRefused);
    EXPECT_TRUE(picture.pixels == nullptr && picture.width == 0);
    const std::vector<uint8_t> cut(indexed.begin(), indexed.begin() + 40);
    EXPECT_EQ(MakeTextureThumbnail(Input(cut, "x.pvr", 96), &picture), kThumbnailRefused);
    ThumbnailInput small = Input(red, "x.pvz", 96);
    small.maxPixels = 63;
    EXPECT_EQ(MakeTextureThumbnail(small, &picture), kThumbnailTooLarge);
    EXPECT_TRUE(picture.pixels == nullptr);
}

}  // namespace
