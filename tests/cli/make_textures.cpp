// Writes one texture of every layout the import reads into a folder, with
// the .pvp palette of each palettised one: the inputs of the end-to-end tests
// of ombr.
//   cli_make_textures OUT_DIR
#include <stdio.h>

#include <string>
#include <vector>

#include "import_core.h"
#include "texture_maker.h"

namespace {

struct Layout {
    uint8_t dataType, colorFormat;
    uint16_t width, height;
    const char* extension;
};

const Layout kLayouts[] = {
    {1, 0, 64, 64, ".pvz"},   {1, 1, 128, 32, ".pvr"},  {1, 2, 32, 128, ".pvz"}, {13, 1, 64, 64, ".pvr"},
    {2, 2, 64, 64, ".pvz"},   {6, 0, 64, 32, ".pvr"},   {8, 1, 32, 64, ".pvz"},  {1, 5, 64, 64, ".pvr"},
    {1, 6, 64, 32, ".pvz"},   {5, 2, 64, 64, ".pvz"},   {5, 0, 128, 32, ".pvr"}, {7, 0, 64, 64, ".pvz"},
    {7, 1, 64, 64, ".pvr"},   {7, 1, 32, 64, ".pvz"},   {9, 0, 64, 32, ".pvz"},  {9, 2, 32, 64, ".pvr"},
    {3, 1, 64, 64, ".pvz"},   {4, 0, 64, 64, ".pvr"},   {16, 2, 32, 32, ".pvz"}, {17, 1, 64, 64, ".pvr"},
};

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (WriteFileBytes(path, bytes)) return true;
    fprintf(stderr, "cli_make_textures: cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: cli_make_textures OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const Layout& l : kLayouts) {
        const TexelKind kind = TexelKindOf(l.dataType, l.colorFormat);
        const bool vq = kind == kTexelVq || kind == kTexelSmallVq;
        const auto texel = [&](uint32_t x, uint32_t y) -> uint32_t {
            if (!vq) return MixBits(x, y, l.dataType) & 0xFFFF;
            const uint32_t block = (x / 2 * 3 + y / 2 * 5) % (kind == kTexelSmallVq ? 16 : 250);
            return MixBits(block, (x & 1) * 2 + (y & 1), 11) & 0xFFFF;
        };
        const TextureShape shape = {l.dataType, l.colorFormat, l.width, l.height, 1000u + l.dataType};
        const std::string name = dir + "/dt" + std::to_string(l.dataType) + "_cf" + std::to_string(l.colorFormat) +
                                 "_" + std::to_string(l.width) + "x" + std::to_string(l.height);
        const bool plain = std::string(l.extension) == ".pvr";
        if (!Write(name + l.extension, plain ? MakePvr(shape, texel) : MakePvz(shape, texel))) return 1;
        const ImportDecision decision = DecideImport(l.dataType, l.colorFormat);
        if (decision.indexed &&
            !Write(name + ".pvp", MakePaletteFile((uint32_t)decision.paletteCount,
                                                  [](uint32_t i) { return (uint16_t)MixBits(i, 0, 3); })))
            return 1;
    }
    return 0;
}
