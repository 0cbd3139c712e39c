#include "encode_vq.h"

#include <stdlib.h>
#include <string.h>

#include "kmeans.h"
#include "layout.h"
#include "encode_mip.h"
#include "texture.h"
#include "twiddle.h"

enum { kBlockTexels = 4 };

namespace {

struct VqPlan {
    bool small;
    bool mips;
    unsigned entries;
    size_t mapStart;        // byte where the index map (its chain) begins
    uint64_t fullPosition;  // index of the picture's own map in the chain
    const ChannelRow* row;
};

// Block (bx, by) of the texture of a picture of side s (s >= 2): its texel k
// covers column 2bx + k / 2 and texture row 2by + k % 2, which is picture row
// s - 1 - (2by + k % 2). Blocks row by row, alpha made opaque.
void ExtractBlocks(const uint32_t* picture, uint32_t s, uint32_t* blocks) {
    const uint32_t b = s / 2;
    for (uint32_t by = 0; by < b; by++)
        for (uint32_t bx = 0; bx < b; bx++)
            for (uint32_t k = 0; k < kBlockTexels; k++) {
                const uint32_t x = 2 * bx + k / 2, row = s - 1 - (2 * by + k % 2);
                blocks[((size_t)by * b + bx) * kBlockTexels + k] = picture[(size_t)row * s + x] | 0xFF000000u;
            }
}

// The first `entries` distinct blocks (on the format's grid) in raster
// order of the picture: the texture's last block row first.
int FirstBlocks(const uint32_t* blocks, uint32_t b, unsigned colorFormat, unsigned entries, uint32_t* book) {
    unsigned made = 0;
    for (uint32_t by = b; by-- > 0 && made < entries;)
        for (uint32_t bx = 0; bx < b && made < entries; bx++) {
            uint32_t v[kBlockTexels];
            for (int k = 0; k < kBlockTexels; k++)
                v[k] = NearestOnGrid(colorFormat, blocks[((size_t)by * b + bx) * kBlockTexels + k]);
            bool known = false;
            for (unsigned e = 0; e < made && !known; e++) known = memcmp(book + e * kBlockTexels, v, sizeof v) == 0;
            if (!known) memcpy(book + made++ * kBlockTexels, v, sizeof v);
        }
    for (unsigned e = made; e < entries; e++) memcpy(book + e * kBlockTexels, book, sizeof(uint32_t) * kBlockTexels);
    return made > 0 ? 0 : -1;
}

// The squared difference of red, green and blue of two host colours.
uint32_t RgbDistance(uint32_t a, uint32_t b) {
    uint32_t sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = (int)((a >> shift) & 255) - (int)((b >> shift) & 255);
        sum += (uint32_t)(d * d);
    }
    return sum;
}

unsigned ReadIndex(const VqPlan& plan, const uint8_t* texels, uint64_t position) {
    if (!plan.small) return texels[plan.mapStart + position];
    const uint8_t byte = texels[plan.mapStart + position / 2];
    return position % 2 ? byte >> 4 : byte & 0x0F;
}

void WriteIndex(const VqPlan& plan, uint8_t* texels, uint64_t position, unsigned e) {
    if (!plan.small) {
        texels[plan.mapStart + position] = (uint8_t)e;
        return;
    }
    uint8_t& byte = texels[plan.mapStart + position / 2];
    byte = (uint8_t)(position % 2 ? (byte & 0x0F) | (e << 4) : (byte & 0xF0) | e);
}

// The index map of one level of side s (>= 2) at index `position` of the chain.
void MapLevel(const VqPlan& plan, const CodebookSearch& search, const uint32_t* blocks, uint32_t s,
              uint64_t position, const uint32_t* table, uint8_t* texels) {
    const uint32_t b = s / 2;
    WalkTwiddled<1>(
        table, b, b,
        [&](uint32_t t, uint32_t bx, uint32_t by) {
            uint32_t d;
            const unsigned e = NearestEntry(search, blocks + ((size_t)by * b + bx) * kBlockTexels, &d);
            WriteIndex(plan, texels, position + t, e);
        },
        [](uint32_t) {});
}

}  // namespace

static int PlanVq(unsigned dataType, unsigned colorFormat, uint32_t side, size_t capacity, VqPlan* plan,
                  uint64_t* needed) {
    TexelLayout layout;
    plan->row = GetChannelRow(colorFormat);
    if (!plan->row || PlanTexels(dataType, colorFormat, side, side, &layout) != kTextureOk || layout.needed > capacity)
        return -1;
    plan->entries = VqCodebookEntries(dataType);
    if (plan->entries == 0) return -1;
    plan->small = layout.decoder == kDecoderSmallVq;
    plan->mips = DataTypeLayout(dataType).mipBits != 0;
    plan->mapStart = plan->small ? kSmallVqCodebookBytes : kVqCodebookBytes;
    plan->fullPosition = (layout.offset - plan->mapStart) * (plan->small ? 2 : 1);
    *needed = layout.needed;
    return 0;
}

// The maps of the levels of side side / 2 down to 1, each halved from the
// one before; the 1 x 1 level as a block of four equal texels.
static int MapSmallerLevels(const VqPlan& plan, const CodebookSearch& search, const uint32_t* picture, uint32_t side,
                            const uint32_t* table, uint8_t* texels, const Allocator& allocator) {
    const size_t room = (size_t)(side / 2) * (side / 2) + 1;
    uint32_t* scratch = (uint32_t*)Acquire(allocator, 3 * room * sizeof(uint32_t));
    if (!scratch) return -1;
    uint32_t* blocks = scratch + 2 * room;
    const uint32_t* from = picture;
    int result = 0;
    for (uint32_t s = side / 2; s >= 1 && result == 0; s /= 2) {
        uint32_t* to = from == scratch ? scratch + room : scratch;
        result = HalvePicture(from, (size_t)4 * s * s, 2 * s, to, room);
        if (result != 0) break;
        if (s >= 2) {
            ExtractBlocks(to, s, blocks);
            // Where a texture of side s has its map: MipChainOffset of its
            // block grid, in indices (a small map's can fall mid-byte).
            MapLevel(plan, search, blocks, s, MipChainOffset(s / 2), table, texels);
        } else {
            const uint32_t texel = to[0] | 0xFF000000u, block[kBlockTexels] = {texel, texel, texel, texel};
            uint32_t d;
            WriteIndex(plan, texels, 0, NearestEntry(search, block, &d));
        }
        from = to;
    }
    Release(allocator, scratch);
    return result;
}

int EncodeVqTexels(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   int codebookKind, uint8_t* texels, size_t capacity, const Allocator& allocator) {
    VqPlan plan;
    uint64_t needed = 0;
    if (PlanVq(dataType, colorFormat, side, capacity, &plan, &needed) != 0 || count < (size_t)side * side) return -1;
    const uint32_t b = side / 2;
    const size_t blockCount = (size_t)b * b;
    uint32_t* blocks = (uint32_t*)Acquire(allocator, (blockCount * kBlockTexels + 1) * sizeof(uint32_t));
    if (!blocks) return -1;
    memset(texels, 0, (size_t)needed);
    ExtractBlocks(picture, side, blocks);
    uint32_t book[kMaxCodebookEntries * kBlockTexels];
    int result = codebookKind == kVqFirstBlocks
                     ? FirstBlocks(blocks, b, colorFormat, plan.entries, book)
                     : (TrainCodebook(blocks, blockCount, kBlockTexels, colorFormat, plan.entries, book, allocator) < 0 ? -1 : 0);
    if (result == 0) {
        for (unsigned i = 0; i < plan.entries * kBlockTexels; i++)
            WriteU16(texels + 2 * i, PackColor(plan.row->encode, book[i]));
        CodebookSearch search;
        PrepareSearch(book, plan.entries, kBlockTexels, &search);
        uint32_t table[kTwiddleTableSize];
        BuildTwiddleTable(table);
        MapLevel(plan, search, blocks, side, plan.fullPosition, table, texels);
        if (plan.mips) result = MapSmallerLevels(plan, search, picture, side, table, texels, allocator);
    }
    Release(allocator, blocks);
    return result;
}

int EncodeVqOnCodebook(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                       const uint8_t* old, size_t oldLength, const uint8_t* changed, uint8_t* texels, size_t capacity,
                       VqKeptCost* cost, const Allocator& allocator) {
    memset(cost, 0, sizeof *cost);
    VqPlan plan;
    uint64_t needed = 0;
    if (PlanVq(dataType, colorFormat, side, capacity, &plan, &needed) != 0 || count < (size_t)side * side ||
        !old || !changed || oldLength < needed)
        return -1;
    const uint32_t b = side / 2;
    const size_t blockCount = (size_t)b * b;
    uint32_t* blocks = (uint32_t*)Acquire(allocator, (blockCount * kBlockTexels + 1) * sizeof(uint32_t));
    if (!blocks) return -1;
    // The old texture whole: its codebook, the codes of every block, the
    // smaller levels' maps.
    memcpy(texels, old, (size_t)needed);
    ExtractBlocks(picture, side, blocks);
    uint32_t book[kMaxCodebookEntries * kBlockTexels];
    for (unsigned i = 0; i < plan.entries * kBlockTexels; i++)
        book[i] = UnpackColor(colorFormat, ReadU16(texels + 2 * i)) | 0xFF000000u;
    CodebookSearch search;
    PrepareSearch(book, plan.entries, kBlockTexels, &search);
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    WalkTwiddled<1>(
        table, b, b,
        [&](uint32_t t, uint32_t bx, uint32_t by) {
            bool differs = false;
            for (uint32_t k = 0; k < kBlockTexels; k++) {
                const uint32_t x = 2 * bx + k / 2, row = side - 1 - (2 * by + k % 2);
                if (changed[(size_t)row * side + x]) differs = true;
            }
            const uint32_t* block = blocks + ((size_t)by * b + bx) * kBlockTexels;
            if (!differs) {
                // How near the kept code is to what the block shows: the
                // codebook's own quality, to judge the changed blocks by.
                const unsigned e = ReadIndex(plan, texels, plan.fullPosition + t);
                for (uint32_t k = 0; k < kBlockTexels; k++) cost->keptError += RgbDistance(block[k], book[e * kBlockTexels + k]);
                cost->keptBlocks++;
                return;
            }
            uint32_t d;
            const unsigned e = NearestEntry(search, block, &d);
            WriteIndex(plan, texels, plan.fullPosition + t, e);
            cost->changedBlocks++;
            cost->changedError += d;
        },
        [](uint32_t) {});
    int result = 0;
    if (plan.mips && cost->changedBlocks > 0)
        result = MapSmallerLevels(plan, search, picture, side, table, texels, allocator);
    Release(allocator, blocks);
    return result;
}

int VqPictureError(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   const uint8_t* texels, size_t length, uint64_t* error) {
    *error = 0;
    VqPlan plan;
    uint64_t needed = 0;
    if (PlanVq(dataType, colorFormat, side, length, &plan, &needed) != 0 || count < (size_t)side * side) return -1;
    uint32_t book[kMaxCodebookEntries * kBlockTexels];
    for (unsigned i = 0; i < plan.entries * kBlockTexels; i++) book[i] = UnpackColor(colorFormat, ReadU16(texels + 2 * i));
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    const uint32_t b = side / 2;
    uint64_t sum = 0;
    WalkTwiddled<1>(
        table, b, b,
        [&](uint32_t t, uint32_t bx, uint32_t by) {
            const unsigned e = ReadIndex(plan, texels, plan.fullPosition + t);
            for (uint32_t k = 0; k < kBlockTexels; k++) {
                const uint32_t x = 2 * bx + k / 2, row = side - 1 - (2 * by + k % 2);
                sum += RgbDistance(picture[(size_t)row * side + x], book[e * kBlockTexels + k]);
            }
        },
        [](uint32_t) {});
    *error = sum;
    return 0;
}
