// Makes test textures and palettes from a seeded pixel function, for the
// end-to-end tests that run the plug-ins in the reference host.
//
//   make_texture pvr|pvz OUT --type N --color N --size WxH [--id N] [--seed N] [--texels FILE]
//   make_texture palette OUT --count N [--seed N] [--entries FILE]
//
// pvr / pvz write the texture as a plain file or a PVZ container. --texels
// writes the value of the pixel function for every texel, row by row, as
// little-endian 32-bit words: a 16-bit texel in the ColorFormat for colour
// layouts (VQ included), a palette index (only its low 4 or 8 bits) for 4-bit
// and 8-bit layouts. palette writes a PVPL file of N entries; --entries writes
// them as little-endian 32-bit words.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "texture_maker.h"

static uint32_t Mix(uint32_t a, uint32_t b, uint32_t seed) {
    uint32_t h = a * 0x9E3779B1u ^ (b + seed * 0x85EBCA77u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// The pixel function of a texture. VQ layouts draw every 2x2 block from a
// fixed set of codebook entries (at most 256, or 16 for small VQ) so that any
// size can be laid out; every other layout takes a hash of (x, y).
static TexelFunction PixelFunction(const TextureShape& shape, uint32_t seed) {
    const TexelKind kind = TexelKindOf(shape.dataType, shape.colorFormat);
    if (kind == kTexelVq || kind == kTexelSmallVq) {
        const uint32_t entries = kind == kTexelVq ? 256 : 16;
        return [=](uint32_t x, uint32_t y) {
            const uint32_t e = Mix(x / 2, y / 2 + 0x10000u, seed) % entries;
            const uint32_t k = (x % 2) * 2 + y % 2;
            return Mix(4 * e + k, 0xABCDu, seed) & 0xFFFFu;
        };
    }
    const uint32_t mask = kind == kTexel4 ? 0xFu : kind == kTexel8 ? 0xFFu : 0xFFFFu;
    return [=](uint32_t x, uint32_t y) { return Mix(x, y, seed) & mask; };
}

static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

static void PutU32(std::vector<uint8_t>* out, uint32_t v) {
    for (int b = 0; b < 4; b++) out->push_back((uint8_t)(v >> (8 * b)));
}

static int Usage() {
    fputs("usage:\n"
          "  make_texture pvr|pvz OUT --type N --color N --size WxH [--id N] [--seed N] [--texels FILE]\n"
          "  make_texture palette OUT --count N [--seed N] [--entries FILE]\n",
          stderr);
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1], out = argv[2];
    long type = -1, color = -1, count = -1;
    unsigned long width = 0, height = 0, id = 0, seed = 1;
    std::string texels, entries;
    for (int i = 3; i < argc; i++) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (option == "--type") type = strtol(value, nullptr, 0);
        else if (option == "--color") color = strtol(value, nullptr, 0);
        else if (option == "--count") count = strtol(value, nullptr, 0);
        else if (option == "--id") id = strtoul(value, nullptr, 0);
        else if (option == "--seed") seed = strtoul(value, nullptr, 0);
        else if (option == "--texels") texels = value;
        else if (option == "--entries") entries = value;
        else if (option == "--size") {
            char* end = nullptr;
            width = strtoul(value, &end, 10);
            if (!end || *end != 'x') return Usage();
            height = strtoul(end + 1, nullptr, 10);
        } else {
            return Usage();
        }
    }

    if (command == "palette") {
        if (count < 0 || count > 0xFFFF) return Usage();
        auto entry = [&](uint32_t i) { return (uint16_t)(Mix(i, 0x5A5Au, (uint32_t)seed) & 0xFFFFu); };
        if (!WriteFile(out, MakePaletteFile((uint32_t)count, entry))) {
            fprintf(stderr, "make_texture: cannot write %s\n", out.c_str());
            return 1;
        }
        if (!entries.empty()) {
            std::vector<uint8_t> words;
            for (uint32_t i = 0; i < (uint32_t)count; i++) PutU32(&words, entry(i));
            if (!WriteFile(entries, words)) return 1;
        }
        return 0;
    }
    if (command != "pvr" && command != "pvz") return Usage();
    if (type < 0 || type > 255 || color < 0 || color > 255 || width == 0 || height == 0 || width > 0xFFFF ||
        height > 0xFFFF)
        return Usage();

    const TextureShape shape = {(uint8_t)type, (uint8_t)color, (uint16_t)width, (uint16_t)height, (uint32_t)id};
    const TexelFunction texel = PixelFunction(shape, (uint32_t)seed);
    const std::vector<uint8_t> file = command == "pvr" ? MakePvr(shape, texel) : MakePvz(shape, texel);
    if (file.empty()) {
        fprintf(stderr, "make_texture: the layout cannot hold this texture\n");
        return 1;
    }
    if (!WriteFile(out, file)) {
        fprintf(stderr, "make_texture: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!texels.empty()) {
        std::vector<uint8_t> words;
        words.reserve((size_t)width * height * 4);
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++) PutU32(&words, texel(x, y));
        if (!WriteFile(texels, words)) return 1;
    }
    return 0;
}
