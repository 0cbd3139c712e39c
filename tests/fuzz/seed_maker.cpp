// Writes the seed corpora of the fuzz targets: valid textures of every layout
// at small sizes, made by the project's own texture maker and compressor, and
// pictures with settings for every layout written, in the input layout of
// each target. Usage: fuzz_seed_maker OUTDIR; writes OUTDIR/<target>/seed-NNNN
// for the targets import, pvz_expand, pvz_roundtrip, export_text and encode.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "encode_input.h"
#include "import_core.h"
#include "import_input.h"
#include "presets.h"
#include "texture_maker.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Corpus {
    std::string dir;
    int count = 0;
    bool Add(const Bytes& input) {
        char name[32];
        snprintf(name, sizeof name, "/seed-%04d", count++);
        FILE* f = fopen((dir + name).c_str(), "wb");
        if (!f) return false;
        const bool ok = input.empty() || fwrite(input.data(), 1, input.size(), f) == input.size();
        return fclose(f) == 0 && ok;
    }
    bool Add(const std::string& text, uint8_t first) {
        Bytes input = {first};
        input.insert(input.end(), text.begin(), text.end());
        return Add(input);
    }
};

uint32_t Texel(uint32_t x, uint32_t y) { return ((x / 2) * 0x0F3Bu + (y / 2) * 0x1C07u) & 0xFFFF; }
uint32_t FewTexels(uint32_t x, uint32_t y) { return ((x / 4 + y / 4) % 3) * 0x7C1Fu; }   // VQ-friendly
uint16_t Entry(uint32_t i) { return (uint16_t)(0x8000 | (i * 0x0421)); }

struct Layout {
    uint8_t dataType;
    std::vector<uint8_t> colorFormats;
    std::vector<std::pair<uint16_t, uint16_t>> sizes;
};

const Layout kLayouts[] = {
    {1, {0, 1, 2, 3, 4, 5, 6}, {{8, 8}, {16, 8}, {8, 16}}},
    {2, {0, 1, 2, 5, 6}, {{8, 8}}},
    {6, {0, 5, 6}, {{8, 8}}},
    {8, {0, 5, 6}, {{8, 8}}},
    {13, {0, 2, 6}, {{8, 8}, {4, 16}}},
    {5, {0, 1, 2}, {{8, 8}, {16, 8}}},
    {7, {0, 1, 2}, {{8, 8}, {8, 16}}},
    {9, {0, 1, 2, 4}, {{8, 4}, {4, 8}}},
    {3, {0, 1, 2}, {{8, 8}}},
    {4, {0, 2}, {{8, 8}}},
    {16, {0, 1}, {{8, 8}}},
    {17, {2}, {{8, 8}}},
    {10, {0}, {{4, 4}}},
};

}   // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seed_maker OUTDIR\n");
        return 2;
    }
    const std::string out = argv[1];
    Corpus import, expand, roundtrip, text, encode;
    for (Corpus* c : {&import, &expand, &roundtrip, &text, &encode}) {
        c->dir = out + (c == &import      ? "/import"
                        : c == &expand    ? "/pvz_expand"
                        : c == &roundtrip ? "/pvz_roundtrip"
                        : c == &text      ? "/export_text"
                                          : "/encode");
        mkdir(out.c_str(), 0755);
        mkdir(c->dir.c_str(), 0755);
    }
    bool ok = true;
    int variant = 0;
    for (const Layout& layout : kLayouts) {
        for (uint8_t cf : layout.colorFormats) {
            for (auto size : layout.sizes) {
                const TextureShape shape = {layout.dataType, cf, size.first, size.second, (uint32_t)variant * 977u};
                const bool vq = TexelKindOf(shape.dataType, cf) == kTexelVq || TexelKindOf(shape.dataType, cf) == kTexelSmallVq;
                const Bytes pvr = MakePvr(shape, vq ? FewTexels : Texel);
                if (pvr.empty()) {
                    fprintf(stderr, "fuzz_seed_maker: no texture for DataType %d ColorFormat %d\n", layout.dataType, cf);
                    return 1;
                }
                const Bytes pvz = PvrToPvz(pvr);
                const ImportDecision decision = DecideImport(shape.dataType, cf);
                const Bytes palette =
                    decision.paletteCount ? MakePaletteFile((uint32_t)decision.paletteCount, Entry) : Bytes();
                // Palettised textures take their palette beside the texture, or
                // through the dialog, or the dialog is cancelled.
                const uint8_t paletteFlags[3] = {kImportFlagPaletteBeside, kImportFlagChosenReadable,
                                                 kImportFlagCancel};
                const uint8_t flags = decision.paletteCount ? paletteFlags[variant % 3] : 0;
                const uint8_t extra = variant % 5 == 4 ? kImportFlagLongName : variant % 7 == 6 ? kImportFlagOddPath : 0;
                ok &= import.Add(MakeImportInput(flags | extra, palette, pvr));
                ok &= import.Add(MakeImportInput(flags | extra | kImportFlagPvz, palette, pvz));

                Bytes e = {(uint8_t)(variant % 3), 0, 0};
                e.insert(e.end(), pvz.begin(), pvz.end());
                ok &= expand.Add(e);

                Bytes r = {shape.dataType, (uint8_t)(cf << 1)};
                r.insert(r.end(), pvr.begin() + 32, pvr.end());
                ok &= roundtrip.Add(r);
                variant++;
            }
        }
    }
    ok &= import.Add(MakeImportInput(kImportFlagNoLayer, {}, MakePvr({1, 1, 4, 4, 0xFFFFFFFFu}, Texel)));
    ok &= roundtrip.Add(Bytes{7, 1, 1, 2, 3});   // the allocation fails

    // Tags as the import writes them, file names of the preset table, ID texts.
    for (const char* tag : {"Layer 1 !#TYPE:1, #COLOR:0, #ID:0", "L !#TYPE:5, #COLOR:5, #ID:-2147483648",
                            "a !#TYPE:7, #COLOR:6, #ID:65535", "!#TYPE:, #COLOR:x, #ID:4294967296",
                            "x !#TYPE:13, #COLOR:2, #ID:12,"}) {
        ok &= text.Add(tag, 0);
        ok &= text.Add(std::string(tag) + "C:\\game\\tex\\chr_hero_body.pvz", 2);
    }
    for (int row : {0, 1, 163, 164, kPresetCount - 1}) {
        std::string name = GetPreset(row)->name;
        for (char& c : name)
            if (row % 2 && c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        ok &= text.Add("C:\\game\\\x83\\" + name, 1);
        ok &= text.Add(name, 1);
    }
    for (const char* id : {"0", " \t-123", "+99999999999", "65535", "-2147483649x"}) ok &= text.Add(id, 3);

    // Every layout written, from each kind of picture, 8 x 8 or 16 x 16 (a
    // rectangle 10 x 6); a palette beside some palette textures, with each way
    // of treating the colours it lacks.
    Bytes picture, levels;   // levels: grey levels of 4-bit indices
    for (uint32_t i = 0; i < 256; i++) picture.push_back((uint8_t)((i * 37) ^ (i >> 3) * 11));
    for (uint8_t v : picture) levels.push_back(v & 15);
    const Bytes beside = MakePaletteFile(16, Entry);
    for (uint8_t type = 0; type < 12; type++) {
        const uint8_t dataType = kEncodeTypes[type];
        const bool indices = dataType == 1 || dataType == 13;
        for (uint8_t format = 0; format < (indices ? 5 : dataType == 6 || dataType == 8 ? 1 : 3); format++) {
            const uint8_t kind = (uint8_t)((type + format) % 3 | (format % 2 ? 0x80 : 0));
            const bool palette = (dataType == 5 || dataType == 7) && format != 1;
            const uint8_t flags = (uint8_t)((dataType == 9 ? 0 : kEncodeFlagPowerOfTwo) |
                                            (type % 2 ? kEncodeFlagPvr : 0) |
                                            (palette ? kEncodeFlagKnownPalette | format << 2 : 0));
            const uint8_t side = dataType == 9 ? 9 : 3 + format % 2;
            ok &= encode.Add(MakeEncodeInput(type, format, 977u * type, flags, side, dataType == 9 ? 5 : side,
                                             format >= 3 ? 1 : kind, palette ? beside : Bytes(),
                                             format == 3 ? levels : picture));
        }
    }

    if (!ok) {
        fprintf(stderr, "fuzz_seed_maker: cannot write under %s\n", out.c_str());
        return 1;
    }
    printf("fuzz_seed_maker: %d import, %d pvz_expand, %d pvz_roundtrip, %d export_text, %d encode seeds in %s\n",
           import.count, expand.count, roundtrip.count, text.count, encode.count, out.c_str());
    return 0;
}
