// Malformed inputs swept through the whole import, class by class: every
// truncation of the header and texels, zero, odd and huge sizes, every
// DataType and ColorFormat byte, corrupt PVZ streams and size fields, and
// palette files of every length up to 600 bytes. Each import must give the
// documented code and keep the host's rules: no pixel outside the picture or
// before it exists, progress begun and ended in pairs, a refused file leaves
// the host untouched, and every block is handed back.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_stub.h"
#include "import_core.h"
#include "memory_platform.h"
#include "palette.h"
#include "pvz.h"
#include "texture.h"
#include "texture_maker.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const char kPvr[] = "C:\\tex\\h.pvr";
const char kPvz[] = "C:\\tex\\h.pvz";
const char kPalette[] = "C:\\tex\\h.pvp";
const char kChosen[] = "C:\\pal\\chosen.pvp";
const uint32_t kSentinel = 0x12345678;

struct Outcome {
    int status;
    bool created;
    bool indexed;
    long pixels;           // SetImagePixel calls
    int32_t paletteCount;
    int32_t alpha;
    std::string name;
    std::vector<uint32_t> palette;
    int paletteRead;               // kPalette... of the outcome
    std::vector<size_t> blocks;    // sizes asked for: the file's, then the driver's
    std::vector<uint32_t> picture;
};

// Imports `file` under `path` (with `palette` beside it when not empty) and
// checks the rules that hold whatever the input. Blocks above 64 MiB cannot
// be had; the dialog picks kChosen.
Outcome Import(const char* path, const Bytes& file, const Bytes* palette = nullptr,
               MemoryPlatform* platform = nullptr) {
    MemoryPlatform local;
    MemoryPlatform& fp = platform ? *platform : local;
    fp.allocLimit = 64u << 20;
    fp.chosenPalette = kChosen;
    fp.Put(path, file);
    if (palette) fp.Put(kPalette, *palette);
    StubHost host;
    for (uint32_t& entry : host.image.aPalette) entry = kSentinel;
    host.image.bAlpha = 5;   // set where the texels or entries carry alpha, else left alone
    ImportOutcome outcome;
    const int status = fp.Import(path, &host, &outcome);
    const size_t area = host.pixels ? (size_t)host.width * host.height : 0;
    Outcome o = {status, host.created, host.Indexed(), (long)host.setPixelCalls, host.image.nPaletteCount,
                 host.image.bAlpha, host.layer.szName,
                 std::vector<uint32_t>(host.image.aPalette, host.image.aPalette + 256), outcome.palette, {},
                 std::vector<uint32_t>(host.pixels, host.pixels + area)};
    for (const std::string& line : fp.log)
        if (line.rfind("alloc ", 0) == 0) o.blocks.push_back(std::stoull(line.substr(6)));

    EXPECT_TRUE(fp.LiveBlocks() == 0 && fp.badFrees == 0) << "blocks left";
    EXPECT_EQ(host.pixelsOutside, 0);
    EXPECT_EQ(host.pixelsBeforeCreate, 0);
    EXPECT_LE(host.createCalls, 1);
    EXPECT_EQ(host.progressBegins, host.progressEnds);
    switch (o.status) {
    case kStatusDone:
        EXPECT_TRUE(host.created && host.progressEnds == 1);
        EXPECT_TRUE(o.pixels == 0 || o.pixels == (long)host.width * host.height) << o.pixels;
        EXPECT_EQ(host.stepsOutOfOrder, 0u);
        break;
    case kStatusCancelled:
        EXPECT_TRUE(host.created && o.pixels == 0 && host.progressEnds == 0);
        break;
    default:   // refused: the host was never called
        EXPECT_TRUE(!host.created && o.pixels == 0 && host.progressBegins == 0 && o.name == "Layer 1");
    }
    return o;
}

uint32_t Texel(uint32_t x, uint32_t y) { return (x * 0x0F3Bu + y * 0x1C07u) & 0xFFFF; }
uint32_t FewTexels(uint32_t x, uint32_t y) { return ((x / 2 + y / 2) % 3) * 0x7C1Fu; }
uint16_t Entry(uint32_t i) { return (uint16_t)(0x8000 | (i * 0x0421)); }

Bytes Make(const TextureShape& shape) {
    const TexelKind kind = TexelKindOf(shape.dataType, shape.colorFormat);
    return MakePvr(shape, kind == kTexelVq || kind == kTexelSmallVq ? FewTexels : Texel);
}

// One texture of each decoded layout, 8 x 8 (16 x 8 for the strips).
const TextureShape kLayouts[] = {{1, 0, 8, 8, 1},  {1, 5, 16, 8, 2}, {1, 6, 8, 16, 3}, {2, 2, 8, 8, 4},
                                {5, 1, 8, 8, 5},  {6, 0, 8, 8, 6},  {7, 2, 8, 8, 7},  {8, 6, 8, 8, 8},
                                {9, 1, 16, 8, 9}, {13, 2, 8, 8, 10}, {3, 0, 8, 8, 11}, {4, 1, 8, 8, 12},
                                {16, 2, 8, 8, 13}, {17, 0, 8, 8, 14}};

TEST(ImportHostile, EveryTruncation) {
    const Bytes palette = MakePaletteFile(256, Entry);
    for (const TextureShape& shape : kLayouts) {
        const Bytes pvr = Make(shape);
        ASSERT_FALSE(pvr.empty());
        const Bytes pvz = PvrToPvz(pvr);
        for (const char* path : {kPvr, kPvz}) {
            const Bytes& file = path == kPvr ? pvr : pvz;
            SCOPED_TRACE(testing::Message() << (int)shape.dataType << " " << path);
            EXPECT_EQ(Import(path, file, &palette).status, kStatusDone);
            // Every shorter file: within the size field, a header field, the stream or the texels.
            for (size_t length = 0; length < file.size(); length++)
                ASSERT_EQ(Import(path, Bytes(file.begin(), file.begin() + length), &palette).status,
                          kStatusUnsupported) << "cut at " << length;
        }
        // One byte short with the header saying so: the texels are short, and the .pvz's size field.
        Bytes cut(pvr.begin(), pvr.end() - 1);
        WriteU32(&cut[20], (uint32_t)cut.size() - 24);
        const Bytes cutPvz = PvrToPvz(cut);
        TextureCheck check;
        EXPECT_EQ(CheckTextureFile(cut.data(), cut.size(), kPvr, &check), kTextureShortData) << (int)shape.dataType;
        EXPECT_EQ(CheckTextureFile(cutPvz.data(), cutPvz.size(), kPvz, &check), kTexturePvzSizeShort);
    }
    // Without a decoder the header alone is a whole texture.
    const Bytes header = MakeHeader({10, 0, 8, 8, 0}, 0);
    EXPECT_EQ(Import(kPvr, header).status, kStatusDone);
    EXPECT_EQ(Import(kPvr, Bytes(header.begin(), header.end() - 1)).status, kStatusUnsupported);
}

TEST(ImportHostile, MagicsAndReadFailures) {
    const Bytes pvr = Make({1, 0, 8, 8, 0});
    for (size_t at : {0, 1, 2, 3, 16, 17, 18, 19}) {
        Bytes bad = pvr;
        bad[at] ^= 0x20;   // "gBIX", "pVRT": the magics are case-sensitive
        EXPECT_EQ(Import(kPvr, bad).status, kStatusUnsupported) << at;
        Bytes badPvz = PvrToPvz(pvr);
        badPvz[4 + at] ^= 0x20;
        EXPECT_EQ(Import(kPvz, badPvz).status, kStatusUnsupported) << at;
    }
    Bytes otherLength = pvr;
    WriteU32(&otherLength[4], 0xFFFFFFFF);   // the GBIX length is never read
    EXPECT_EQ(Import(kPvr, otherLength).status, kStatusDone);
    // A palette that cannot be read: the picture is painted, its palette left as created.
    const Bytes pal = Make({7, 0, 8, 8, 0});
    for (int failure : {-1, -2, -3}) {
        MemoryPlatform fp;
        fp.readFailures[kPalette] = failure;
        const Bytes palette = MakePaletteFile(256, Entry);
        const Outcome o = Import(kPvr, pal, &palette, &fp);
        EXPECT_EQ(o.status, kStatusDone);
        EXPECT_TRUE(o.paletteRead == kPaletteUnread && o.palette[0] == kSentinel && o.pixels == 64) << failure;
    }
}

TEST(ImportHostile, ZeroOddAndHugeSizes) {
    const uint16_t sides[] = {0, 1, 2, 3, 6, 1024, 2048, 4096, 32768, 65535};
    for (uint8_t dataType : {1, 2, 3, 5, 7, 9, 16, 10}) {
        for (uint16_t w : sides) {
            for (uint16_t h : {(uint16_t)0, (uint16_t)1, (uint16_t)8, (uint16_t)3, w}) {
                // The header with 4 KiB of texels: never enough for the large sizes.
                Bytes file = MakeBlankTexture({dataType, 0, w, h, 0}, 4096, 4096, 0x5A);
                const uint64_t texels = (uint64_t)w * h;
                const bool powers = IsPowerOfTwo(w) && IsPowerOfTwo(h);
                const uint32_t m = w < h ? w : h;
                bool fits = powers && 2 * texels <= 4096;
                if (dataType == 5) fits = powers && m >= 2 && texels / 2 <= 4096;
                if (dataType == 7) fits = powers && h >= 2 && texels <= 4096;
                if (dataType == 9) fits = w >= 1 && h >= 1 && 2 * texels <= 4096;   // rectangles of any size
                // A mip chain of (w * w + 2) / 3 texels in front.
                if (dataType == 2) fits = powers && 2 * (((uint64_t)w * w + 2) / 3 + texels) <= 4096;
                if (dataType == 3) fits = powers && w == h && w >= 2 && 2048 + texels / 4 <= 4096;
                if (dataType == 16) fits = powers && w == h && w >= 4 && 128 + texels / 8 <= 4096;
                if (dataType == 10) fits = w >= 1 && h >= 1;   // no decoder: any size
                if (dataType == 10 && texels > (1u << 20)) continue;   // a picture too large for the stub
                for (const char* path : {kPvr, kPvz}) {
                    const Bytes bytes = path == kPvr ? file : PvrToPvz(file);
                    const Outcome o = Import(path, bytes);
                    EXPECT_EQ(o.status, fits ? kStatusDone : kStatusUnsupported)
                        << (int)dataType << " " << w << "x" << h << " " << path;
                    if (o.status == kStatusDone && dataType != 10) { EXPECT_EQ(o.pixels, (long)texels); }
                }
            }
        }
    }
}

// The picture the import creates for a DataType / ColorFormat pair (the
// ColorFormat as the import uses it): indexed entries (0: direct colour), the
// colour code of the layer tag, and whether it paints pixels.
struct Picture {
    int entries, tagColor;
    bool paints;
};
Picture ExpectedPicture(unsigned dataType, unsigned cf) {
    const bool colour = cf <= 2, indices = cf == 5 || cf == 6;
    const bool twiddled = dataType == 1 || dataType == 2 || dataType == 6 || dataType == 8 || dataType == 13;
    const bool blocks = dataType == 3 || dataType == 4 || dataType == 9 || dataType == 16 || dataType == 17;
    const bool paints = twiddled ? colour || indices : blocks && colour;
    if (dataType == 7 || dataType == 5) return {dataType == 7 ? 256 : 16, dataType == 7 ? 6 : 5, true};
    if (cf == 4 || cf == 5 || cf == 6) return {cf == 6 ? 256 : 16, (int)cf, paints};
    return {0, (int)cf, paints};
}

TEST(ImportHostile, EveryDataTypeAndColorFormatByte) {
    const Bytes palette = MakePaletteFile(300, Entry);   // more entries than a palette holds
    for (unsigned dataType = 0; dataType < 256; dataType++) {
        for (unsigned colorFormat = 0; colorFormat < 256; colorFormat++) {
            Bytes file = MakeHeader({(uint8_t)dataType, (uint8_t)colorFormat, 8, 8, 0x80000000u}, 4096);
            for (int i = 0; i < 4096; i++) file.push_back((uint8_t)(i * 37 + 11));
            for (bool pvz : {false, true}) {
                if (pvz && dataType % 7 != 0 && colorFormat % 7 != 0) continue;   // a sample of the containers
                const Outcome o = Import(pvz ? kPvz : kPvr, pvz ? PvrToPvz(file) : file, &palette);
                const unsigned used = (!pvz && dataType == 7 && colorFormat == 1) ? 0 : colorFormat;
                const Picture d = ExpectedPicture(dataType, used);
                SCOPED_TRACE(testing::Message() << dataType << "/" << colorFormat << (pvz ? " pvz" : " pvr"));
                ASSERT_EQ(o.status, kStatusDone);
                EXPECT_EQ(o.indexed, d.entries != 0);
                EXPECT_EQ(o.pixels, d.paints ? 64 : 0);
                EXPECT_EQ(o.alpha, used != 1 ? 1 : 5);
                char tag[64];
                snprintf(tag, sizeof tag, "Layer 1 !#TYPE:%u, #COLOR:%d, #ID:-2147483648", dataType, d.tagColor);
                if (dataType == 5 || dataType == 7)   // the palette's format, as stored
                    snprintf(tag + strlen(tag), sizeof tag - strlen(tag), ", #PAL:%u", colorFormat);
                EXPECT_EQ(o.name, tag);
                // The palette file converts where its format has a conversion.
                EXPECT_EQ(o.paletteCount, d.entries && used <= 2 ? 256 : d.entries);
                EXPECT_EQ(o.palette[255], d.entries && used <= 2 ? MakerColor(used, Entry(255)) : kSentinel);
            }
        }
    }
}

TEST(ImportHostile, CorruptPvzStreams) {
    const Bytes pvr16 = Make({1, 0, 8, 8, 0});   // 128 texel bytes, 2-byte units
    const Bytes pvr8 = Make({7, 0, 8, 8, 0});    // 64 texel bytes, 1-byte units
    const Bytes palette = MakePaletteFile(16, Entry);
    for (const Bytes& pvr : {pvr16, pvr8}) {
        const Bytes pvz = PvrToPvz(pvr);
        const unsigned record = pvr[25] == 7 ? 2 : 3;
        // One or two bytes after the last whole record are ignored.
        for (uint8_t extra : {1, 2}) {
            if (extra >= record) continue;
            Bytes odd = pvz;
            odd.insert(odd.end(), extra, 0xEE);
            EXPECT_EQ(Import(kPvz, odd, &palette).status, kStatusDone);
        }
        // A run longer than written (count 255), or a record too many: beyond the size field.
        Bytes overlong = pvz;
        overlong.back() = 255;
        EXPECT_EQ(Import(kPvz, overlong, &palette).status, kStatusUnsupported);
        Bytes more = pvz;
        more.insert(more.end(), pvz.end() - record, pvz.end());
        EXPECT_EQ(Import(kPvz, more, &palette).status, kStatusUnsupported);
        // Only the header, no stream.
        EXPECT_EQ(Import(kPvz, Bytes(pvz.begin(), pvz.begin() + 36), &palette).status, kStatusUnsupported);
        // Size fields: below the header, one byte short of the texels, a little
        // or far more than the stream, and the 32-bit maximum.
        const uint32_t size = ReadU32(pvz.data());
        for (uint32_t field : {0u, 31u, 32u, size - 1, size, size + 1, size + 5000, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            Bytes resized = pvz;
            WriteU32(resized.data(), field);
            const Outcome o = Import(kPvz, resized, &palette);
            // A size field that claims more than the layout reads costs no
            // more memory: the block holds what the layout reads (a platform
            // without blocks of 2 GiB still opens it).
            const bool ok = field >= size;
            EXPECT_EQ(o.status, ok ? kStatusDone : kStatusUnsupported) << field;
            if (ok) { EXPECT_EQ(o.blocks.at(1), 2048u) << field; }   // 4 + 32 + 128 or 64, raised to 2048
        }
    }
    // Size fields near a multiple of 2048: the block always has room for
    // the 4 leading bytes, the header and the texels.
    for (uint32_t field : {2044u, 2045u, 2046u, 2047u, 2048u}) {
        Bytes pvz = PvrToPvz(pvr16);
        WriteU32(pvz.data(), field);
        const Outcome o = Import(kPvz, pvz);
        EXPECT_EQ(o.status, kStatusDone);
        EXPECT_GE(o.blocks.at(1), pvr16.size() + 4);
    }
    // Count 255 expands to 256 units: one record paints a 16 x 16 texture.
    Bytes one = MakeHeader({1, 1, 16, 16, 0}, 512);
    Bytes container = one;
    container.insert(container.begin(), 4, 0);
    WriteU32(container.data(), (uint32_t)one.size() + 512);
    container.insert(container.end(), {0x1F, 0x00, 0xFF});
    const Outcome o = Import(kPvz, container);
    EXPECT_TRUE(o.status == kStatusDone && o.pixels == 256);
}

// Small VQ mip textures (DataType 17) have an odd texel length: the last unit
// of their container is padded with a zero byte, one byte beyond the size
// field. They import exactly as the plain texture does, for any size field
// of that length or more; a whole unit beyond is refused.
TEST(ImportHostile, OddTexelLengthInTwoByteUnits) {
    for (uint16_t side : {4, 8, 64}) {
        const Bytes pvr = Make({17, 1, side, side, 0});
        ASSERT_EQ((pvr.size() - 32) % 2, 1u);
        const Outcome plain = Import(kPvr, pvr);
        ASSERT_EQ(plain.status, kStatusDone);
        ASSERT_EQ(plain.pixels, side * side);
        const Bytes pvz = PvrToPvz(pvr);
        for (uint32_t more : {0u, 1u, 2u, 2047u}) {
            Bytes resized = pvz;
            WriteU32(resized.data(), (uint32_t)pvr.size() + more);
            const Outcome o = Import(kPvz, resized);
            EXPECT_EQ(o.status, kStatusDone) << side << " +" << more;
            EXPECT_EQ(o.picture, plain.picture) << side << " +" << more;
        }
        Bytes beyond = pvz;
        beyond.insert(beyond.end(), {0, 0, 0});   // one more unit
        EXPECT_EQ(Import(kPvz, beyond).status, kStatusUnsupported);
    }
}

TEST(ImportHostile, PaletteFilesOfEveryLength) {
    struct Case {
        TextureShape shape;
        unsigned format;   // the ColorFormat the palette is read in; 255: none
        int32_t count;     // the count the import decision sets
    } cases[] = {{{5, 2, 8, 8, 0}, 2, 16}, {{7, 0, 8, 8, 0}, 0, 256}, {{1, 5, 8, 8, 0}, 255, 16}};
    const Bytes all = MakePaletteFile(292, Entry);   // 600 bytes
    ASSERT_EQ(all.size(), 600u);
    for (const Case& c : cases) {
        const Bytes pvr = Make(c.shape);
        for (size_t length = 0; length <= 600; length++) {
            const Bytes palette(all.begin(), all.begin() + length);
            const int32_t n = length < 16 ? 0 : (int32_t)std::min<size_t>((length - 16) / 2, 256);
            for (bool beside : {true, false}) {
                MemoryPlatform fp;
                if (!beside) fp.Put(kChosen, palette);   // picked in the dialog
                const Outcome o = Import(kPvr, pvr, beside ? &palette : nullptr, &fp);
                SCOPED_TRACE(testing::Message() << (int)c.shape.dataType << " palette of " << length << " bytes");
                ASSERT_EQ(o.status, kStatusDone);
                EXPECT_EQ(fp.paletteDialogs, beside ? 0 : 1);
                EXPECT_EQ(o.paletteRead, c.format == 255 ? kPaletteNoConversion : kPaletteRead);
                if (c.format == 255) {   // no conversion: the palette stays as created
                    EXPECT_EQ(o.paletteCount, c.count);
                    EXPECT_EQ(o.palette[0], kSentinel);
                    continue;
                }
                EXPECT_EQ(o.paletteCount, n);
                for (int32_t i = 0; i < 256; i++)
                    ASSERT_EQ(o.palette[i], i < n ? MakerColor(c.format, Entry(i)) : kSentinel) << i;
            }
        }
    }
    // No palette file at all: the dialog's choice cannot be read, or it is cancelled.
    const Bytes pvr = Make({5, 0, 8, 8, 0});
    const Outcome unread = Import(kPvr, pvr);
    EXPECT_TRUE(unread.status == kStatusDone && unread.paletteRead == kPaletteUnread);
    EXPECT_TRUE(unread.paletteCount == 16 && unread.palette[0] == kSentinel && unread.pixels == 64);
    MemoryPlatform cancel;
    cancel.cancelPalette = true;
    EXPECT_EQ(Import(kPvr, pvr, nullptr, &cancel).status, kStatusCancelled);
}

}   // namespace
