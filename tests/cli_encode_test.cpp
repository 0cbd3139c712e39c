// The layouts ombr encode makes itself: mip chains, VQ, small VQ and colour
// pictures quantised to a palette. Each family is encoded to both containers
// and read back through the import (ImportToHost), checked exactly where the
// layout can hold the picture and against a stated PSNR where it cannot.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "convert.h"
#include "decode.h"
#include "memory_host.h"
#include "png.h"
#include "encode_mip.h"
#include "encode_vq.h"
#include "host_stub.h"
#include "texture.h"
#include "texture_maker.h"

namespace fs = std::filesystem;

namespace {

using Picture = std::function<uint32_t(uint32_t x, uint32_t y)>;   // 0xAARRGGBB

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

uint32_t Mix(uint32_t v) {
    v ^= v >> 15;
    v *= 0x2C1B3C6Du;
    return v ^ (v >> 12);
}

// Channels in multiples of 16 up to 240: every ColorFormat holds them exactly.
uint32_t GridColour(uint32_t id) { return Argb(255, (id % 16) * 16, (id / 16 % 16) * 16, (id * 7 % 16) * 16); }

// Pictures of `blocks` distinct 2 x 2 blocks: texel 0 of a block tells it.
Picture Blocks(uint32_t blocks) {
    return [blocks](uint32_t x, uint32_t y) {
        const uint32_t id = (x / 2 + 5 * (y / 2)) % blocks, k = 2 * (x % 2) + y % 2;
        return k == 0 ? GridColour(id) : GridColour(Mix(id * 4 + k) % 4096);
    };
}

uint32_t Smooth(uint32_t x, uint32_t y) {
    return Argb(255, 2 * x + y, 255 - 3 * y, (uint32_t)(128 + 100 * sin(x / 9.0) * cos(y / 13.0)));
}

class Encode : public ::testing::Test {
protected:
    TestFolder dir;
    std::string P(const std::string& name) const { return dir / name; }

    void WritePng(const std::string& name, uint32_t w, uint32_t h, const Picture& picture) {
        std::vector<uint8_t> pixels(4 * (size_t)w * h);
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const uint32_t c = picture(x, y);
                uint8_t* p = &pixels[4 * ((size_t)y * w + x)];
                p[0] = (uint8_t)(c >> 16), p[1] = (uint8_t)(c >> 8), p[2] = (uint8_t)c, p[3] = (uint8_t)(c >> 24);
            }
        PngImage png;
        InitPng(&png);
        png.width = w, png.height = h, png.kind = kPngColor, png.alpha = true, png.pixels = pixels.data();
        uint8_t* data = nullptr;
        size_t length = 0;
        ASSERT_EQ(EncodePng(&png, &data, &length), 0);
        WriteFileBytes(P(name), std::vector<uint8_t>(data, data + length));
        free(data);
    }
    // ombr encode NAME.png -o OUT --type TYPE --color COLOR: 0, or -1 with the reason in `message`.
    int Make(const std::string& png, const std::string& out, int type, int color, std::string* message = nullptr) {
        SettingsChoice choice = NoSettingsChoice();
        choice.dataType = type, choice.colorFormat = color, choice.presets = false;
        const std::string input = P(png), output = P(out);
        const EncodeJob job = {input.c_str(), output.c_str(), false, kContainerChoiceNone, choice, nullptr,
                               kUnmappedNearest, true, false};
        EncodeOutcome outcome;
        ConvertReport report;
        const int result = EncodeImageFile(job, &outcome, &report);
        if (message) *message = report.message;
        EXPECT_TRUE(result != 0 || report.message[0] == '\0') << report.message;
        return result;
    }
    // The square picture the import makes of OUT, as colours (palette entries
    // for indexed pictures).
    std::vector<uint32_t> Import(const std::string& out) {
        MemoryHost host;
        ImportOutcome outcome;
        ConvertReport report;
        std::vector<uint32_t> colours;
        if (ImportToHost(P(out).c_str(), nullptr, &host, &outcome, &report) == 0) {
            const bool indexed = host.image.nColorMode == kColorModeIndexed;
            for (size_t i = 0; i < (size_t)host.width * host.height; i++)
                colours.push_back(indexed ? host.image.aPalette[host.pixels[i] & 255] : host.pixels[i]);
        }
        EXPECT_EQ(report.message[0], '\0') << out << ": " << report.message;
        FreeMemoryHost(&host);
        return colours;
    }
    std::vector<uint8_t> Bytes(const std::string& name) { return ReadFileBytes(P(name)); }
    // Whether encoding PNG as DataType TYPE (ColorFormat 0) fails saying `reason`.
    bool Refused(const std::string& png, int type, const std::string& reason) {
        std::string message;
        const bool failed = Make(png, "no.pvr", type, 0, &message) != 0 && message.find(reason) != std::string::npos;
        EXPECT_TRUE(failed) << png << " as DataType " << type << ": " << message;
        return failed && !fs::exists(P("no.pvr"));
    }
};

// PSNR over red, green and blue; 99 when equal.
uint32_t SideOf(const std::vector<uint32_t>& got) { return (uint32_t)llround(sqrt((double)got.size())); }

double Psnr(const std::vector<uint32_t>& got, const Picture& picture) {
    const uint32_t side = SideOf(got);
    if (side == 0 || got.size() != (size_t)side * side) return 0;
    double sum = 0;
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t x = 0; x < side; x++)
            for (int shift = 0; shift < 24; shift += 8) {
                const double d = (double)((picture(x, y) >> shift) & 255) -
                                 (double)((got[(size_t)y * side + x] >> shift) & 255);
                sum += d * d;
            }
    return sum == 0 ? 99 : 10 * log10(255.0 * 255 * 3 * side * side / sum);
}

void ExpectPicture(const std::vector<uint32_t>& got, const Picture& picture, bool opaque, const std::string& what) {
    const uint32_t side = SideOf(got);
    ASSERT_TRUE(side > 0 && got.size() == (size_t)side * side) << what;
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t x = 0; x < side; x++) {
            const uint32_t want = opaque ? picture(x, y) | 0xFF000000u : picture(x, y);
            ASSERT_EQ(got[(size_t)y * side + x], want) << what << " at " << x << ", " << y;
        }
}


// Alpha as each ColorFormat keeps it: 1 bit, none, 4 bits.
uint32_t WithAlpha(uint32_t colour, unsigned colorFormat, uint32_t seed) {
    const uint32_t alpha = colorFormat == 0 ? (seed % 3 ? 255 : 0) : colorFormat == 2 ? seed % 16 * 17 : 255;
    return (colour & 0x00FFFFFFu) | alpha << 24;
}

const char* const kContainers[] = {"pvr", "pvz"};

// The levels of a mip chain: the picture, then halved again and again
// (HalvePicture) down to 1 x 1.
std::vector<std::vector<uint32_t>> Levels(const Picture& picture, uint32_t side) {
    std::vector<std::vector<uint32_t>> levels(1);
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t x = 0; x < side; x++) levels[0].push_back(picture(x, y));
    for (uint32_t s = side / 2; s >= 1; s /= 2) {
        std::vector<uint32_t> half((size_t)s * s);
        EXPECT_EQ(HalvePicture(levels.back().data(), levels.back().size(), 2 * s, half.data(), half.size()), 0);
        levels.push_back(half);
    }
    return levels;
}

// The s x s picture one of the import's decoders paints.
template <class Decode>
std::vector<uint32_t> DecodeLevel(uint32_t s, Decode decode) {
    StubHost host;
    EXPECT_EQ(SetHostPicture(&host, (int32_t)s, (int32_t)s, kColorModeDirect), 0);
    host.created = true;
    EXPECT_EQ(decode(&host.services, &host.image), kDecodeDone);
    return std::vector<uint32_t>(host.pixels, host.pixels + (size_t)s * s);
}

// DataType 2: the level of side s twiddled where a texture of side s has its
// full level, packed as the export packs every colour. Gives the pixels wrong.
size_t WrongMipLevels(const std::vector<uint8_t>& file, unsigned cf, const std::vector<std::vector<uint32_t>>& levels) {
    const uint8_t* texels = file.data() + kTextureHeaderSize;
    size_t wrong = 0;
    for (size_t level = 1; level < levels.size(); level++) {
        const uint32_t s = (uint32_t)1 << (levels.size() - 1 - level);
        const uint64_t at = FullLevelOffset(kTypeTwiddledMips, s);
        if (file.size() < kTextureHeaderSize + at + 2 * s * s) return levels[level].size();
        const std::vector<uint32_t> got = DecodeLevel(s, [&](const HostServices* services, HostImage* image) {
            return DecodeTwiddled(texels + at, 2 * s * s, s, s, cf, services, image);
        });
        for (size_t i = 0; i < got.size(); i++)
            wrong += got[i] != MakerColor((uint8_t)cf, MakerPack((uint8_t)cf, levels[level][i]));
    }
    return wrong;
}

// A VQ block as the codebook holds it: texel k at (k / 2, 1 - k % 2) of a
// 2 x 2 square (texture rows run bottom to top), alpha opaque.
using Block = std::array<uint32_t, 4>;
Block BlockAt(const std::vector<uint32_t>& picture, uint32_t s, uint32_t bx, uint32_t by) {
    Block b;
    for (uint32_t k = 0; k < 4; k++) b[k] = picture[(size_t)(2 * by + 1 - k % 2) * s + 2 * bx + k / 2] | 0xFF000000u;
    return b;
}

uint32_t Distance(const Block& a, const Block& b) {
    uint32_t sum = 0;
    for (int k = 0; k < 4; k++)
        for (int shift = 0; shift < 32; shift += 8) {
            const int d = (int)((a[k] >> shift) & 255) - (int)((b[k] >> shift) & 255);
            sum += (uint32_t)(d * d);
        }
    return sum;
}

// DataType 4 and 17: the map of the level of side s at index
// MipChainOffset(s / 2) of the chain behind the codebook, the 1 x 1 level's
// at index 0. Each level is decoded where the decoder takes its size (its
// one block read at its place where not); every block must be a codebook
// entry nearest to the level's own block. Gives the blocks that are not.
size_t WrongVqBlocks(const std::vector<uint8_t>& file, unsigned type, unsigned cf,
                     const std::vector<std::vector<uint32_t>>& levels) {
    const bool small = type == kTypeSmallVqMips;
    const size_t bookBytes = small ? kSmallVqCodebookBytes : kVqCodebookBytes;
    const uint8_t* texels = file.data() + kTextureHeaderSize;
    std::vector<Block> book(small ? 16 : 256);
    for (size_t e = 0; e < book.size(); e++)
        for (int k = 0; k < 4; k++) book[e][k] = MakerColor(cf, ReadU16(texels + 2 * (4 * e + k))) | 0xFF000000u;
    const auto nearest = [&](const Block& got, const Block& want) {
        uint32_t best = UINT32_MAX;
        for (const Block& entry : book) best = std::min(best, Distance(entry, want));
        return Distance(got, want) == best && std::find(book.begin(), book.end(), got) != book.end();
    };
    const uint8_t* chain = texels + bookBytes;
    size_t wrong = 0;
    for (size_t level = 1; level < levels.size(); level++) {
        const std::vector<uint32_t>& want = levels[level];
        const uint32_t s = (uint32_t)1 << (levels.size() - 1 - level);
        const uint64_t at = s == 1 ? 0 : MipChainOffset(s / 2);
        if (s < (small ? 4u : 2u)) {
            const unsigned index = small ? (chain[at / 2] >> (4 * (at % 2))) & 15 : chain[at];
            const uint32_t c = want[0] | 0xFF000000u;
            const Block one = {c, c, c, c};
            wrong += !nearest(book[index], s == 1 ? one : BlockAt(want, s, 0, 0));
            continue;
        }
        const uint8_t* map = chain + (small ? at / 2 : at);
        const size_t mapBytes = (size_t)(s / 2) * (s / 2) / (small ? 2 : 1);
        const std::vector<uint32_t> got = DecodeLevel(s, [&](const HostServices* services, HostImage* image) {
            return small ? DecodeSmallVq(map, mapBytes, texels, bookBytes, s, s, cf, services, image)
                         : DecodeVq(map, mapBytes, texels, bookBytes, s, s, cf, services, image);
        });
        for (uint32_t by = 0; by < s / 2; by++)
            for (uint32_t bx = 0; bx < s / 2; bx++)
                wrong += !nearest(BlockAt(got, s, bx, by), BlockAt(want, s, bx, by));
    }
    return wrong;
}

}  // namespace

TEST_F(Encode, MipChainsHoldThePictureAndEveryLevel) {
    for (unsigned cf = 0; cf < 3; cf++) {
        const Picture picture = [cf](uint32_t x, uint32_t y) {
            return WithAlpha(GridColour(Mix(x * 64 + y) % 4096), cf, Mix(x + 7 * y));
        };
        WritePng("m.png", 64, 64, picture);
        for (const char* ext : kContainers) {
            const std::string out = "m" + std::to_string(cf) + "." + ext;
            ASSERT_EQ(Make("m.png", out, 2, (int)cf), 0);
            ExpectPicture(Import(out), picture, false, out);
        }
        // The smaller levels, each at its place, against the picture halved
        // again and again: exact for DataType 2, the nearest codebook entries
        // for DataType 4 and 17 (whose full levels VqAndSmallVq checks).
        const std::vector<std::vector<uint32_t>> levels = Levels(picture, 64);
        EXPECT_EQ(WrongMipLevels(Bytes("m" + std::to_string(cf) + ".pvr"), cf, levels), 0u) << cf;
        for (int type : {kTypeVqMips, kTypeSmallVqMips}) {
            const std::string out = "v" + std::to_string(type) + std::to_string(cf) + ".pvr";
            ASSERT_EQ(Make("m.png", out, type, (int)cf), 0);
            EXPECT_EQ(WrongVqBlocks(Bytes(out), type, cf, levels), 0u) << out;
        }
    }
    // A flat picture: unit 0 is zero, every unit of every level its colour.
    const uint32_t flat = Argb(255, 96, 160, 32);
    WritePng("flat.png", 16, 16, [flat](uint32_t, uint32_t) { return flat; });
    ASSERT_EQ(Make("flat.png", "flat.pvr", 2, 1), 0);
    const std::vector<uint8_t> file = Bytes("flat.pvr");
    ASSERT_EQ(file.size(), kTextureHeaderSize + 2 * (MipChainOffset(16) + 256));
    EXPECT_EQ(ReadU16(file.data() + kTextureHeaderSize), 0);
    for (size_t at = kTextureHeaderSize + 2; at < file.size(); at += 2)
        ASSERT_EQ(ReadU16(file.data() + at), MakerPack(1, flat)) << at;
    // White beside black halves to the grey of half the light, sRGB 188, not 128.
    WritePng("half.png", 2, 2, [](uint32_t x, uint32_t) { return x == 0 ? 0xFFFFFFFFu : 0xFF000000u; });
    ASSERT_EQ(Make("half.png", "half.pvr", 2, 1), 0);
    EXPECT_EQ(ReadU16(Bytes("half.pvr").data() + kTextureHeaderSize + 2), MakerPack(1, 0xFFBCBCBC));

    WritePng("wide.png", 64, 32, Smooth);
    EXPECT_TRUE(Refused("wide.png", 2, "square"));
    for (int type : {6, 8}) EXPECT_TRUE(Refused("m.png", type, "recorded nowhere"));
}

// Exact for a picture of as many distinct blocks as the codebook has entries
// (alpha is not kept); within a PSNR bound for a smooth one; the same bytes
// every time.
TEST_F(Encode, VqAndSmallVqHoldTheirBlocks) {
    struct Family {
        int types[2];
        uint32_t entries, side;
        double bound;   // dB, for the smooth picture (ARGB4444 is the least precise)
    };
    for (const Family& f : {Family{{3, 4}, 256, 64, 32.0}, Family{{16, 17}, 16, 32, 24.0}}) {
        const Picture blocks = Blocks(f.entries);
        WritePng("b.png", f.side, f.side, [&](uint32_t x, uint32_t y) { return WithAlpha(blocks(x, y), 2, x); });
        WritePng("s.png", 64, 64, Smooth);
        for (int type : f.types)
            for (unsigned cf = 0; cf < 3; cf++)
                for (const char* ext : kContainers) {
                    const std::string out = "b" + std::to_string(type) + std::to_string(cf) + "." + ext;
                    ASSERT_EQ(Make("b.png", out, type, (int)cf), 0);
                    ExpectPicture(Import(out), blocks, true, out);
                    const std::string smooth = "s" + out;
                    ASSERT_EQ(Make("s.png", smooth, type, (int)cf), 0);
                    EXPECT_GE(Psnr(Import(smooth), Smooth), f.bound) << smooth;
                }
        ASSERT_EQ(Make("s.png", "again.pvz", f.types[1], 1), 0);
        EXPECT_EQ(Bytes("again.pvz"), Bytes("sb" + std::to_string(f.types[1]) + "1.pvz"));
    }
    WritePng("wide.png", 64, 32, Smooth);
    EXPECT_TRUE(Refused("wide.png", 3, "not square"));
    WritePng("tiny.png", 2, 2, Smooth);
    EXPECT_TRUE(Refused("tiny.png", 16, ""));
    EXPECT_EQ(Make("tiny.png", "tiny.pvr", 3, 0), 0);
}

// The trained codebook against the first distinct blocks in raster order.
TEST_F(Encode, VqBeatsTheFirstBlocks) {
    const uint32_t side = 64;
    for (int kind : {kVqTrained, kVqFirstBlocks}) {
        std::vector<uint32_t> picture;
        for (uint32_t y = 0; y < side; y++)
            for (uint32_t x = 0; x < side; x++) picture.push_back(Smooth(x, y));
        TexelLayout layout;
        ASSERT_EQ(PlanTexels(kTypeVq, kColorRgb565, side, side, &layout), kTextureOk);
        std::vector<uint8_t> file(kTextureHeaderSize + layout.needed);
        WriteTextureHeader(file.data(), 0, kColorRgb565, kTypeVq, side, side, (uint32_t)layout.needed);
        ASSERT_EQ(EncodeVqTexels(picture.data(), picture.size(), side, kTypeVq, kColorRgb565, kind,
                                 file.data() + kTextureHeaderSize, layout.needed, kHeapAllocator),
                  0);
        ASSERT_TRUE(WriteFileBytes(P(kind == kVqTrained ? "trained.pvr" : "first.pvr"), file));
    }
    const double trained = Psnr(Import("trained.pvr"), Smooth);
    const double first = Psnr(Import("first.pvr"), Smooth);
    EXPECT_GT(trained, first + 3) << trained << " dB against " << first << " dB";
}

// Colour pictures as DataType 5 and 7: exact with no more colours than the
// palette holds (alpha as the palette's format keeps it), close otherwise;
// the palette written beside the texture; the same bytes every time.
TEST_F(Encode, ColourPicturesAreQuantisedToPalettes) {
    for (unsigned cf = 0; cf < 3; cf++) {
        const Picture few = [cf](uint32_t x, uint32_t y) {
            const uint32_t id = Mix(x + 32 * y) % 16;
            return WithAlpha(GridColour(id * 37), cf, id);
        };
        WritePng("few.png", 32, 32, few);
        for (const char* ext : kContainers) {
            const std::string out = "few" + std::to_string(cf) + ext + "." + ext;
            ASSERT_EQ(Make("few.png", out, 5, (int)cf), 0);
            ASSERT_EQ(Bytes(out.substr(0, out.size() - 3) + "pvp").size(), 48u);
            ExpectPicture(Import(out), few, false, out);
        }
    }
    // ARGB1555 entries: a plain .pvr of DataType 7 with ColorFormat 1 reads its palette as ARGB1555.
    WritePng("s.png", 64, 64, Smooth);
    for (const char* ext : kContainers) {
        const std::string out = std::string("many") + ext + "." + ext;
        ASSERT_EQ(Make("s.png", out, 7, 0), 0);
        EXPECT_GE(Psnr(Import(out), Smooth), 34.0) << out;
    }
    ASSERT_EQ(Make("s.png", "again.pvz", 7, 0), 0);
    EXPECT_EQ(Bytes("again.pvz"), Bytes("manypvz.pvz"));
    EXPECT_EQ(Bytes("again.pvp"), Bytes("manypvz.pvp"));
}
