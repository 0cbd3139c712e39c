#include "kmeans.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "layout.h"
#include "texture.h"

uint32_t NearestOnGrid(unsigned colorFormat, uint32_t colour) {
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row) return colour;
    // Each channel's nearest step, packed, and unpacked as the import does.
    const ChannelEncode& e = row->encode;
    uint32_t packed = 0;
    for (int c = 0; c < 3; c++) {   // blue, green, red
        const uint32_t value = (colour >> (8 * c)) & 255, step = e.divisor[c];
        uint32_t q = (value + step / 2) / step;
        if (q > e.mask[c]) q = e.mask[c];
        packed |= q << e.shift[c];
    }
    const uint32_t bits = AlphaBits(colorFormat);
    if (bits != 0) packed |= ((colour >> 24) * ((1u << bits) - 1) + 127) / 255 << e.shift[3];
    return UnpackColor(colorFormat, (uint16_t)packed);
}

static uint32_t ByteSum(const uint32_t* v, unsigned texels) {
    uint32_t sum = 0;
    for (unsigned t = 0; t < texels; t++)
        sum += (v[t] & 255) + ((v[t] >> 8) & 255) + ((v[t] >> 16) & 255) + (v[t] >> 24);
    return sum;
}

// Sum of squared byte differences of two vectors of N bytes. Byte order
// plays no part: both vectors lie in memory alike.
template <unsigned N>
static uint32_t DistanceOf(const uint32_t* a, const uint32_t* b) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(a);
    const uint8_t* q = reinterpret_cast<const uint8_t*>(b);
    uint32_t d = 0;
    for (unsigned i = 0; i < N; i++) {
        const int32_t diff = (int32_t)p[i] - (int32_t)q[i];
        d += (uint32_t)(diff * diff);
    }
    return d;
}

static uint32_t Distance(const uint32_t* a, const uint32_t* b, unsigned texels) {
    switch (texels) {
    case 1: return DistanceOf<4>(a, b);
    case 2: return DistanceOf<8>(a, b);
    case 3: return DistanceOf<12>(a, b);
    default: return DistanceOf<16>(a, b);
    }
}

void PrepareSearch(const uint32_t* book, unsigned entries, unsigned texels, CodebookSearch* search) {
    search->book = book;
    search->entries = entries;
    search->texels = texels;
    for (unsigned i = 0; i < entries; i++) {   // insertion by (sum, number)
        const uint32_t sum = ByteSum(book + (size_t)i * texels, texels);
        unsigned j = i;
        for (; j > 0 && search->sums[j - 1] > sum; j--) {
            search->sums[j] = search->sums[j - 1];
            search->order[j] = search->order[j - 1];
        }
        search->sums[j] = sum;
        search->order[j] = (uint16_t)i;
    }
}

unsigned NearestEntry(const CodebookSearch& s, const uint32_t* vector, uint32_t* distance) {
    const uint32_t sum = ByteSum(vector, s.texels);
    const uint64_t bytes = 4 * s.texels;
    int up = (int)(std::lower_bound(s.sums, s.sums + s.entries, sum) - s.sums), down = up - 1;
    uint32_t best = UINT32_MAX;
    unsigned bestEntry = 0;
    for (;;) {
        const uint64_t du = up < (int)s.entries ? s.sums[up] - sum : 0, dd = down >= 0 ? sum - s.sums[down] : 0;
        const bool upOk = up < (int)s.entries && du * du <= bytes * best;
        const bool downOk = down >= 0 && dd * dd <= bytes * best;
        if (!upOk && !downOk) break;
        for (int side = 0; side < 2; side++) {
            if (side == 0 ? !upOk : !downOk) continue;
            const unsigned e = s.order[side == 0 ? up++ : down--];
            const uint32_t d = Distance(vector, s.book + (size_t)e * s.texels, s.texels);
            if (d < best || (d == best && e < bestEntry)) {
                best = d;
                bestEntry = e;
            }
        }
    }
    *distance = best;
    return bestEntry;
}

namespace {

enum { kTrainingSample = 8192 };   // distinct vectors the cells grow on

struct Training {
    const uint32_t* vectors;   // the distinct input vectors
    const uint32_t* weights;   // how often each stands in the input
    size_t count;
    unsigned texels;
    unsigned colorFormat;
    uint32_t* book;            // `size` entries in use
    unsigned size;
    uint64_t* sums;            // per entry and byte: the weighted sum of its cell's bytes
    uint64_t weight[kMaxCodebookEntries];
    uint64_t error[kMaxCodebookEntries];      // weighted squared error of the cell
    size_t worst[kMaxCodebookEntries];        // the cell's vector farthest from its entry
    uint32_t worstDistance[kMaxCodebookEntries];
};

int CompareVectors(const uint32_t* a, const uint32_t* b, unsigned texels) {
    for (unsigned t = 0; t < texels; t++)
        if (a[t] != b[t]) return a[t] < b[t] ? -1 : 1;
    return 0;
}

// The distinct vectors in order of their values, and how often each stands.
size_t MakeDistinct(const uint32_t* vectors, size_t count, unsigned texels, size_t* order, uint32_t* distinct,
                    uint32_t* weights) {
    for (size_t i = 0; i < count; i++) order[i] = i;
    std::sort(order, order + count, [&](size_t a, size_t b) {
        const int c = CompareVectors(vectors + a * texels, vectors + b * texels, texels);
        return c < 0 || (c == 0 && a < b);
    });
    size_t n = 0;
    for (size_t i = 0; i < count; i++) {
        const uint32_t* v = vectors + order[i] * texels;
        if (n > 0 && CompareVectors(v, distinct + (n - 1) * texels, texels) == 0) {
            weights[n - 1]++;
            continue;
        }
        memcpy(distinct + n * texels, v, texels * sizeof *v);
        weights[n++] = 1;
    }
    return n;
}

uint64_t Assign(Training* t) {
    CodebookSearch search;
    PrepareSearch(t->book, t->size, t->texels, &search);
    const unsigned bytes = 4 * t->texels;
    memset(t->sums, 0, (size_t)t->size * bytes * sizeof *t->sums);
    for (unsigned e = 0; e < t->size; e++) t->weight[e] = t->error[e] = t->worstDistance[e] = t->worst[e] = 0;
    uint64_t total = 0;
    for (size_t v = 0; v < t->count; v++) {
        const uint32_t* vector = t->vectors + v * t->texels;
        uint32_t d;
        const unsigned e = NearestEntry(search, vector, &d);
        const uint64_t w = t->weights[v];
        t->weight[e] += w;
        t->error[e] += w * d;
        total += w * d;
        if (d > t->worstDistance[e]) {
            t->worstDistance[e] = d;
            t->worst[e] = v;
        }
        uint64_t* sum = t->sums + (size_t)e * bytes;
        for (unsigned b = 0; b < bytes; b++) sum[b] += w * ((vector[b / 4] >> (8 * (b % 4))) & 255);
    }
    return total;
}

// Each entry to the mean of its cell; an empty one to the worst vector of
// the cell of most error.
void Update(Training* t, bool grid) {
    const unsigned bytes = 4 * t->texels;
    for (unsigned e = 0; e < t->size; e++) {
        const uint64_t w = t->weight[e];
        uint32_t* entry = t->book + (size_t)e * t->texels;
        if (w == 0) {
            unsigned j = 0;
            for (unsigned i = 1; i < t->size; i++)
                if (t->error[i] > t->error[j]) j = i;
            if (t->worstDistance[j] == 0) continue;
            memcpy(entry, t->vectors + t->worst[j] * t->texels, t->texels * sizeof *entry);
            t->error[j] = t->worstDistance[j] = 0;
            continue;
        }
        memset(entry, 0, t->texels * sizeof *entry);
        for (unsigned b = 0; b < bytes; b++)
            entry[b / 4] |= (uint32_t)((t->sums[(size_t)e * bytes + b] + w / 2) / w) << (8 * (b % 4));
    }
    if (grid)
        for (size_t i = 0; i < (size_t)t->size * t->texels; i++) t->book[i] = NearestOnGrid(t->colorFormat, t->book[i]);
}

// New entries halfway from a cell's entry to its worst vector.
void Split(Training* t, unsigned target) {
    const unsigned cells = t->size;
    for (unsigned i = 0; i < cells && t->size < target; i++) {
        if (t->worstDistance[i] == 0) continue;
        const uint32_t* entry = t->book + (size_t)i * t->texels;
        const uint32_t* far = t->vectors + t->worst[i] * t->texels;
        uint32_t* added = t->book + (size_t)t->size++ * t->texels;
        for (unsigned k = 0; k < t->texels; k++) {
            added[k] = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const uint32_t c = (entry[k] >> shift) & 255, f = (far[k] >> shift) & 255;
                added[k] |= ((c + f + (f > c ? 1 : 0)) / 2) << shift;
            }
        }
    }
}

// Lloyd iterations until the error falls by less than 1/512.
void Iterate(Training* t, int rounds, bool grid) {
    uint64_t previous = UINT64_MAX;
    for (int r = 0; r < rounds; r++) {
        const uint64_t total = Assign(t);
        if (total == 0 || (previous != UINT64_MAX && (total >= previous || previous - total <= previous / 512)))
            break;
        previous = total;
        Update(t, grid);
    }
}

// Spare room for a training: a sample of the vectors and a second codebook.
struct Scratch {
    uint32_t* sampleVectors;   // kTrainingSample x texels
    uint32_t* sampleWeights;   // kTrainingSample
    size_t* order;             // one per distinct vector
    uint32_t book[kMaxCodebookEntries * kMaxVectorTexels];
};

// From the weighted mean: cells split until there are `entries`, with Lloyd
// iterations after each split and at the end.
void Grow(Training* t, unsigned entries) {
    t->size = 1;
    memcpy(t->book, t->vectors, t->texels * sizeof *t->book);
    Assign(t);
    Update(t, false);
    while (t->size < entries) {
        Split(t, t->size * 2 < entries ? t->size * 2 : entries);
        Iterate(t, 3, false);
    }
    Iterate(t, 6, false);
}

// Start A: Grow on every k-th distinct vector (in their order) when there
// are many, then Lloyd iterations on all of them.
uint64_t GrowFromSample(Training* t, unsigned entries, Scratch* scratch) {
    Training sample = *t;
    if (t->count > kTrainingSample) {
        const size_t stride = (t->count + kTrainingSample - 1) / kTrainingSample;
        sample.count = 0;
        for (size_t i = 0; i < t->count; i += stride, sample.count++) {
            memcpy(scratch->sampleVectors + sample.count * t->texels, t->vectors + i * t->texels,
                   t->texels * sizeof *t->vectors);
            scratch->sampleWeights[sample.count] = t->weights[i];
        }
        sample.vectors = scratch->sampleVectors;
        sample.weights = scratch->sampleWeights;
    }
    Grow(&sample, entries);
    t->size = sample.size;
    Iterate(t, 2, false);
    return Assign(t);
}

// Start B: the most frequent distinct vectors, then Lloyd iterations; keeps
// hard-edged pictures' exact blocks, which averaging cells can lose. Tried
// only when those vectors stand for at least a quarter of the input
// (otherwise UINT64_MAX).
uint64_t GrowFromFrequent(Training* t, unsigned entries, Scratch* scratch) {
    size_t* order = scratch->order;
    for (size_t i = 0; i < t->count; i++) order[i] = i;
    const uint32_t* w = t->weights;
    std::partial_sort(order, order + entries, order + t->count,
                      [w](size_t a, size_t b) { return w[a] > w[b] || (w[a] == w[b] && a < b); });
    uint64_t all = 0, covered = 0;
    for (size_t i = 0; i < t->count; i++) all += w[i];
    for (unsigned e = 0; e < entries; e++) covered += w[order[e]];
    if (4 * covered < all) return UINT64_MAX;
    for (unsigned e = 0; e < entries; e++)
        memcpy(t->book + (size_t)e * t->texels, t->vectors + order[e] * t->texels, t->texels * sizeof *t->book);
    t->size = entries;
    Iterate(t, 3, false);
    return Assign(t);
}

// The better of both starts, then Lloyd iterations on the grid.
void Train(Training* t, unsigned entries, Scratch* scratch) {
    const uint64_t grown = GrowFromSample(t, entries, scratch);
    Training frequent = *t;
    frequent.book = scratch->book;
    if (GrowFromFrequent(&frequent, entries, scratch) < grown)
        memcpy(t->book, scratch->book, (size_t)entries * t->texels * sizeof *t->book);
    for (size_t i = 0; i < (size_t)t->size * t->texels; i++) t->book[i] = NearestOnGrid(t->colorFormat, t->book[i]);
    Iterate(t, 3, true);
}

}  // namespace

int TrainCodebook(const uint32_t* vectors, size_t count, unsigned texels, unsigned colorFormat, unsigned entries,
                  uint32_t* codebook, const Allocator& allocator) {
    if (texels < 1 || texels > kMaxVectorTexels || entries < 1 || entries > kMaxCodebookEntries) return -1;
    uint32_t* rounded = (uint32_t*)Acquire(allocator, (count * texels + 1) * sizeof(uint32_t));
    uint32_t* distinct = (uint32_t*)Acquire(allocator, (count * texels + 1) * sizeof(uint32_t));
    uint32_t* weights = (uint32_t*)Acquire(allocator, (count + 1) * sizeof(uint32_t));
    size_t* order = (size_t*)Acquire(allocator, (count + 1) * sizeof(size_t));
    uint64_t* sums = (uint64_t*)Acquire(allocator, kMaxCodebookEntries * 4 * kMaxVectorTexels * sizeof(uint64_t));
    Scratch* scratch = (Scratch*)Acquire(allocator, sizeof(Scratch));
    uint32_t* sample = (uint32_t*)Acquire(allocator, (size_t)kTrainingSample * (texels + 1) * sizeof(uint32_t));
    int made = -1;
    if (rounded && distinct && weights && order && sums && scratch && sample) {
        *scratch = Scratch{sample, sample + (size_t)kTrainingSample * texels, order, {}};
        for (size_t i = 0; i < count * texels; i++) rounded[i] = NearestOnGrid(colorFormat, vectors[i]);
        const size_t n = MakeDistinct(rounded, count, texels, order, distinct, weights);
        if (n <= entries) {
            memcpy(codebook, distinct, n * texels * sizeof *codebook);
            made = (int)n;
        } else {
            Training* t = (Training*)Acquire(allocator, sizeof(Training));
            if (t) {
                *t = Training{distinct, weights, n, texels, colorFormat, codebook, 0, sums, {}, {}, {}, {}};
                Train(t, entries, scratch);
                made = (int)entries;
                Release(allocator, t);
            }
        }
        if (made == 0) memset(codebook, 0, (size_t)entries * texels * sizeof *codebook);
        for (unsigned e = made > 0 ? (unsigned)made : entries; e < entries; e++)
            memcpy(codebook + (size_t)e * texels, codebook, texels * sizeof *codebook);
    }
    Release(allocator, rounded);
    Release(allocator, distinct);
    Release(allocator, weights);
    Release(allocator, order);
    Release(allocator, sums);
    Release(allocator, scratch);
    Release(allocator, sample);
    return made;
}
