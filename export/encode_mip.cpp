#include "encode_mip.h"

#include <stdlib.h>
#include <string.h>

#include "layout.h"
#include "texture.h"
#include "twiddle.h"

// sRGB code i in linear light, scaled to 0..65535, and the linear value
// halfway between codes i and i + 1 (where rounding back moves up a code).
static const uint16_t kSrgbToLinear[256] = {
    0, 20, 40, 60, 80, 99, 119, 139, 159, 179, 199, 219,
    241, 264, 288, 313, 340, 367, 396, 427, 458, 491, 526, 562,
    599, 637, 677, 718, 761, 805, 851, 898, 947, 997, 1048, 1101,
    1156, 1212, 1270, 1330, 1391, 1453, 1517, 1583, 1651, 1720, 1790, 1863,
    1937, 2013, 2090, 2170, 2250, 2333, 2418, 2504, 2592, 2681, 2773, 2866,
    2961, 3058, 3157, 3258, 3360, 3464, 3570, 3678, 3788, 3900, 4014, 4129,
    4247, 4366, 4488, 4611, 4736, 4864, 4993, 5124, 5257, 5392, 5530, 5669,
    5810, 5953, 6099, 6246, 6395, 6547, 6700, 6856, 7014, 7174, 7335, 7500,
    7666, 7834, 8004, 8177, 8352, 8528, 8708, 8889, 9072, 9258, 9445, 9635,
    9828, 10022, 10219, 10417, 10619, 10822, 11028, 11235, 11446, 11658, 11873, 12090,
    12309, 12530, 12754, 12980, 13209, 13440, 13673, 13909, 14146, 14387, 14629, 14874,
    15122, 15371, 15623, 15878, 16135, 16394, 16656, 16920, 17187, 17456, 17727, 18001,
    18277, 18556, 18837, 19121, 19407, 19696, 19987, 20281, 20577, 20876, 21177, 21481,
    21787, 22096, 22407, 22721, 23038, 23357, 23678, 24002, 24329, 24658, 24990, 25325,
    25662, 26001, 26344, 26688, 27036, 27386, 27739, 28094, 28452, 28813, 29176, 29542,
    29911, 30282, 30656, 31033, 31412, 31794, 32179, 32567, 32957, 33350, 33745, 34143,
    34544, 34948, 35355, 35764, 36176, 36591, 37008, 37429, 37852, 38278, 38706, 39138,
    39572, 40009, 40449, 40891, 41337, 41785, 42236, 42690, 43147, 43606, 44069, 44534,
    45002, 45473, 45947, 46423, 46903, 47385, 47871, 48359, 48850, 49344, 49841, 50341,
    50844, 51349, 51858, 52369, 52884, 53401, 53921, 54445, 54971, 55500, 56032, 56567,
    57105, 57646, 58190, 58737, 59287, 59840, 60396, 60955, 61517, 62082, 62650, 63221,
    63795, 64372, 64952, 65535,
};
static const uint16_t kSrgbThreshold[255] = {
    10, 30, 50, 70, 90, 109, 129, 149, 169, 189, 209, 230,
    252, 276, 300, 326, 353, 382, 411, 442, 475, 508, 543, 580,
    618, 657, 697, 739, 783, 828, 874, 922, 971, 1022, 1075, 1129,
    1184, 1241, 1300, 1360, 1422, 1485, 1550, 1617, 1685, 1755, 1826, 1900,
    1975, 2051, 2130, 2210, 2292, 2375, 2460, 2547, 2636, 2727, 2819, 2914,
    3010, 3107, 3207, 3309, 3412, 3517, 3624, 3733, 3844, 3957, 4071, 4188,
    4306, 4427, 4549, 4673, 4800, 4928, 5058, 5190, 5325, 5461, 5599, 5739,
    5881, 6026, 6172, 6320, 6471, 6623, 6778, 6935, 7093, 7254, 7417, 7582,
    7750, 7919, 8090, 8264, 8440, 8618, 8798, 8980, 9165, 9351, 9540, 9731,
    9925, 10120, 10318, 10518, 10720, 10924, 11131, 11340, 11551, 11765, 11981, 12199,
    12419, 12642, 12867, 13094, 13324, 13556, 13790, 14027, 14266, 14508, 14751, 14998,
    15246, 15497, 15750, 16006, 16264, 16525, 16788, 17053, 17321, 17591, 17864, 18139,
    18416, 18696, 18979, 19264, 19551, 19841, 20134, 20429, 20726, 21026, 21329, 21634,
    21941, 22251, 22564, 22879, 23197, 23517, 23840, 24165, 24493, 24824, 25157, 25493,
    25831, 26172, 26516, 26862, 27211, 27562, 27916, 28273, 28632, 28994, 29359, 29726,
    30096, 30469, 30844, 31222, 31603, 31986, 32372, 32761, 33153, 33547, 33944, 34344,
    34746, 35151, 35559, 35970, 36383, 36799, 37218, 37640, 38064, 38492, 38922, 39354,
    39790, 40228, 40670, 41114, 41560, 42010, 42463, 42918, 43376, 43837, 44301, 44768,
    45237, 45709, 46185, 46663, 47144, 47628, 48114, 48604, 49097, 49592, 50091, 50592,
    51096, 51603, 52113, 52626, 53142, 53661, 54183, 54707, 55235, 55766, 56299, 56836,
    57375, 57918, 58463, 59012, 59563, 60118, 60675, 61235, 61799, 62365, 62935, 63507,
    64083, 64661, 65243,
};

static uint32_t LinearToSrgb(uint32_t linear) {
    uint32_t low = 0, high = 255;   // the code is the number of thresholds <= linear
    while (low < high) {
        const uint32_t mid = (low + high) / 2;
        if (kSrgbThreshold[mid] <= linear) low = mid + 1;
        else high = mid;
    }
    return low;
}

static uint32_t AverageOfFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t sum = kSrgbToLinear[(a >> shift) & 255] + kSrgbToLinear[(b >> shift) & 255] +
                             kSrgbToLinear[(c >> shift) & 255] + kSrgbToLinear[(d >> shift) & 255];
        result |= LinearToSrgb((sum + 2) / 4) << shift;
    }
    const uint32_t alpha = ((a >> 24) + (b >> 24) + (c >> 24) + (d >> 24) + 2) / 4;
    return result | alpha << 24;
}

int HalvePicture(const uint32_t* picture, size_t count, uint32_t side, uint32_t* half, size_t halfCount) {
    const uint32_t h = side / 2;
    if (side < 2 || side % 2 != 0 || count < (size_t)side * side || halfCount < (size_t)h * h) return -1;
    for (uint32_t y = 0; y < h; y++) {
        const uint32_t* top = picture + (size_t)2 * y * side;
        const uint32_t* bottom = top + side;
        for (uint32_t x = 0; x < h; x++)
            half[(size_t)y * h + x] = AverageOfFour(top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]);
    }
    return 0;
}

// One level of side s, twiddled, `at` bytes into the texel data.
static int WriteLevel(const uint32_t* level, uint32_t s, const ChannelEncode& row, const uint32_t* table,
                      uint64_t at, uint8_t* texels, size_t capacity) {
    if (at > capacity || 2 * (uint64_t)s * s > capacity - at) return -1;
    uint8_t* base = texels + at;
    WalkTwiddled<1>(
        table, s, s,
        [&](uint32_t unit, uint32_t x, uint32_t y) {
            WriteU16(base + 2 * unit, PackColor(row, level[(size_t)y * s + x]));
        },
        [](uint32_t) {});
    return 0;
}

int EncodeMipChain(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   uint8_t* texels, size_t capacity, const Allocator& allocator) {
    TexelLayout layout;
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row || DataTypeLayout(dataType).mipBits != 16 ||
        PlanTexels(dataType, colorFormat, side, side, &layout) != kTextureOk ||
        layout.needed > capacity || count < (size_t)side * side)
        return -1;
    memset(texels, 0, (size_t)layout.needed);
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    if (WriteLevel(picture, side, row->encode, table, layout.offset, texels, capacity) != 0) return -1;
    const size_t room = (size_t)(side / 2) * (side / 2) + 1;
    uint32_t* scratch = (uint32_t*)Acquire(allocator, 2 * room * sizeof(uint32_t));
    if (!scratch) return -1;
    int result = 0;
    const uint32_t* from = picture;
    for (uint32_t s = side / 2; s >= 1 && result == 0; s /= 2) {
        uint32_t* to = from == scratch ? scratch + room : scratch;
        result = HalvePicture(from, (size_t)4 * s * s, 2 * s, to, room);
        // Where the full level of a texture of side s would be.
        if (result == 0)
            result = WriteLevel(to, s, row->encode, table, FullLevelOffset(dataType, s), texels, capacity);
        from = to;
    }
    Release(allocator, scratch);
    return result;
}
