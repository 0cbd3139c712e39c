// Makes the bundled sample texture samples/tiles.pvz: a 256 x 256 RGB565
// twiddled texture (DataType 1) in a PVZ container, drawn from a formula.
//   make_sample OUT.pvz
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "pvz.h"
#include "texture.h"

static uint32_t SampleColour(int x, int y) {
    // Checker tiles with a radial glow and a diagonal stripe, all on integer maths.
    int tile = ((x / 32) + (y / 32)) & 1;
    int dx = x - 128, dy = y - 128;
    int r2 = dx * dx + dy * dy;
    int glow = r2 < 96 * 96 ? 255 - r2 * 255 / (96 * 96) : 0;
    int red = tile ? 200 : 40;
    int green = (x * 255) / 255 / 2 + glow / 2;
    int blue = (y * 255) / 255 / 2 + (tile ? 0 : 90);
    if (((x + y) / 8) % 8 == 0) red = green = blue = 250;
    if (green > 255) green = 255;
    if (blue > 255) blue = 255;
    return 0xFF000000u | (uint32_t)red << 16 | (uint32_t)green << 8 | (uint32_t)blue;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_sample OUT.pvz\n");
        return 2;
    }
    const uint16_t side = 256;
    const uint32_t texelLength = 2u * side * side;
    std::vector<uint8_t> texture(kTextureHeaderSize + texelLength);
    WriteTextureHeader(texture.data(), 1001, kColorRgb565, kTypeTwiddled, side, side, texelLength);
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            uint16_t texel = PackColor(kChannelTable[kColorRgb565].encode, SampleColour(x, y));
            WriteU16(texture.data() + kTextureHeaderSize + 2 * TwiddleIndex(table, x, y, side), texel);
        }
    uint8_t* container = nullptr;
    uint32_t length = 0;
    if (PvzCompress(texture.data(), (uint32_t)texture.size(), &kHeapAllocator, &container, &length) != 0) {
        fprintf(stderr, "make_sample: out of memory\n");
        return 1;
    }
    FILE* f = fopen(argv[1], "wb");
    bool ok = f && fwrite(container, 1, length, f) == length;
    ok = f && fclose(f) == 0 && ok;
    free(container);
    if (!ok) {
        fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    printf("%s: %u bytes\n", argv[1], length);
    return 0;
}
