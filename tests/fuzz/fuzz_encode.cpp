// The converter's encode path, from a picture and settings to texture files
// and back. The picture is written as a PNG and read again (the same picture
// must come back), made the host picture encode makes of it (PngToHost),
// exported with the converter's encoders onto memory files, with or without
// a .pvp beside the texture, and every texture written is read back by the
// import, which must take it whole at its size. On the way: every block handed
// back; the export's result one the input allows, and nothing written when it
// fails; the header as asked; a kept palette unchanged; and the picture read
// back exactly where the layout holds it exactly.
//
// The input (encode_input.h) describes the picture rather than holding PNG
// bytes: a mutated PNG rarely gets past its checksums.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "picture.h"
#include "encode.h"
#include "encode_input.h"
#include "fuzz_check.h"
#include "memory_platform.h"
#include "png.h"
#include "texture.h"

namespace {

const char kPvr[] = "C:\\tex\\fuzz.pvr";
const char kPvz[] = "C:\\tex\\fuzz.pvz";
const char kPvp[] = "C:\\tex\\fuzz.pvp";

uint32_t Side(uint8_t byte, bool powerOfTwo) { return powerOfTwo ? 1u << (byte % 7) : 1u + byte % kEncodeMaxSide; }

// The picture the input describes, its bytes repeated to fill it.
void MakePicture(const uint8_t* header, const uint8_t* bytes, size_t length, PngImage* png) {
    InitPng(png);
    const bool powerOfTwo = header[6] & kEncodeFlagPowerOfTwo;
    png->width = Side(header[8], powerOfTwo);
    png->height = Side(header[9], powerOfTwo);
    png->kind = kPngIndexed + header[10] % 3;
    const bool alpha = png->kind != kPngIndexed && (header[10] & 0x80);
    png->alpha = alpha;
    size_t at = 0;
    const auto next = [&]() -> uint8_t { return length ? bytes[at++ % length] : 0; };
    if (png->kind == kPngIndexed) {
        png->paletteCount = header[11] + 1u;
        for (uint32_t i = 0; i < png->paletteCount; i++)
            for (int c = 0; c < 4; c++) png->palette[i][c] = next();
    }
    const size_t count = (size_t)png->width * png->height;
    png->pixels = (uint8_t*)malloc(count * PngPixelBytes(*png));
    FUZZ_CHECK(png->pixels != nullptr);
    for (size_t i = 0; i < count; i++) {
        if (png->kind == kPngIndexed) {
            png->pixels[i] = (uint8_t)(next() % png->paletteCount);
            continue;
        }
        uint8_t* p = png->pixels + 4 * i;
        p[0] = next();
        p[1] = png->kind == kPngGrey ? p[0] : next();
        p[2] = png->kind == kPngGrey ? p[0] : next();
        p[3] = alpha ? next() : 255;
    }
}

// The PNG step: written, and read back the same.
void ThroughPng(const PngImage& record, PngImage* png) {
    uint8_t* file = nullptr;
    size_t length = 0;
    FUZZ_CHECK(EncodePng(&record, &file, &length) == 0);
    char error[kPngErrorRoom];
    FUZZ_CHECK(DecodePng(file, length, kEncodeMaxSide, (uint64_t)kEncodeMaxSide * kEncodeMaxSide, png, error,
                         sizeof error) == 0);
    free(file);
    FUZZ_CHECK(png->width == record.width && png->height == record.height && png->kind == record.kind);
    FUZZ_CHECK(memcmp(png->pixels, record.pixels, (size_t)png->width * png->height * PngPixelBytes(*png)) == 0);
    if (png->kind == kPngIndexed)
        FUZZ_CHECK(png->paletteCount == record.paletteCount &&
                   memcmp(png->palette, record.palette, 4 * (size_t)record.paletteCount) == 0);
    else
        FUZZ_CHECK(png->alpha == record.alpha);
}

// The export's result for this input: one it may give.
void CheckResult(int result, int writable, int unmapped, bool known, bool failing) {
    switch (result) {
    case kExportOk: FUZZ_CHECK(writable == kTextureOk); break;
    case kExportUnwritableSettings: FUZZ_CHECK(writable == kTextureNotWritten); break;
    case kExportBadLayoutSize: FUZZ_CHECK(writable != kTextureOk && writable != kTextureNotWritten); break;
    case kExportUnmappedColours: FUZZ_CHECK(unmapped == kUnmappedRefuse && known); break;
    case kExportNoMemory: FUZZ_CHECK(failing); break;
    default: FUZZ_CHECK(false);
    }
}

// Every pixel read back against the one written, where the layout keeps it.
void CheckPicture(const MemoryHost& written, const MemoryHost& back, const TextureSettings& s, int container,
                  const ExportOutcome& outcome) {
    PixelColours colours;
    BuildPixelColours(&written.image, &colours);
    const unsigned order = DataTypeLayout(s.dataType).decoder;
    const bool indices = ModeBits(TexelMode(s.dataType, s.colorFormat)) != 16;
    const unsigned format = HasPaletteFile(s.dataType) ? PaletteFormat(container, s.dataType, s.colorFormat)
                                                       : s.colorFormat;
    const ChannelRow* row = GetChannelRow(format);
    const size_t count = (size_t)back.width * back.height;
    for (size_t i = 0; i < count; i++) {
        const uint32_t value = written.pixels[i], got = back.pixels[i];
        const uint32_t colour = PixelColour(colours, value);
        if (order == kDecoderVq || order == kDecoderSmallVq) {
            FUZZ_CHECK(got >> 24 == 255);   // VQ keeps no alpha
        } else if (!HasPaletteFile(s.dataType) && !indices) {
            FUZZ_CHECK(got == UnpackColor(format, PackColor(row->encode, colour)));
        } else if (!HasPaletteFile(s.dataType)) {
            FUZZ_CHECK(got == (value & (s.colorFormat == kColorPal4 ? 15u : 255u)));
        } else if (outcome.paletteSource == kPaletteSourcePicture) {
            FUZZ_CHECK(got == (value & 255));
        } else {
            const uint32_t shown = back.image.aPalette[got & 255];
            if (outcome.paletteSource == kPaletteSourceKept && outcome.unmappedPixels == 0) {
                const uint32_t packed = UnpackColor(format, PackColor(row->encode, colour));
                // A colour that shows nothing takes any transparent entry.
                FUZZ_CHECK(packed >> 24 == 0 ? shown >> 24 == 0 : shown == packed);
            } else if (outcome.paletteSource == kPaletteSourceQuantised && outcome.approximatedPixels == 0) {
                // Each pixel's entry is the texel its colour packs to.
                FUZZ_CHECK(shown == UnpackColor(format, PackColor(row->encode, colour)));
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kEncodeHeaderBytes) return 0;
    const uint8_t flags = data[6];
    const TextureSettings settings = {kEncodeTypes[data[0] % 12], kEncodeFormats[data[1] % 6], ReadU32(data + 2)};
    size_t knownLength = (size_t)data[12] | (size_t)data[13] << 8;
    if (knownLength > size - kEncodeHeaderBytes) knownLength = size - kEncodeHeaderBytes;
    const std::vector<uint8_t> known(data + kEncodeHeaderBytes, data + kEncodeHeaderBytes + knownLength);
    const uint8_t* rest = data + kEncodeHeaderBytes + knownLength;

    PngImage record, png;
    MakePicture(data, rest, size - kEncodeHeaderBytes - knownLength, &record);
    ThroughPng(record, &png);
    FreePng(&record);

    MemoryHost host;
    ConvertReport report;
    report.message[0] = report.warning[0] = '\0';
    if (PngToHost(png, settings, &host, &report) != 0) {
        FUZZ_CHECK(report.message[0] != '\0');   // refused with the reason
        FreeMemoryHost(&host);
        FreePng(&png);
        return 0;
    }

    MemoryPlatform files(kConverterEncoders);
    files.logging = false;
    files.settings = settings;
    const bool pvr = flags & kEncodeFlagPvr;
    const char* path = pvr ? kPvr : kPvz;
    if (flags & kEncodeFlagKnownPalette) files.Put(kPvp, known);
    if (flags & kEncodeFlagFailAllocation) files.failAllocation = data[7] % 8 + 1u;
    const std::map<std::string, std::vector<uint8_t>> before = files.Files();
    int unmapped = (flags & kEncodeFlagUnmapped) >> 2;
    if (unmapped > kUnmappedRefuse) unmapped = kUnmappedNearest;
    const ExportOptions options = {nullptr, (flags & kEncodeFlagMapIndexed) != 0, unmapped, nullptr};
    ExportOutcome outcome;
    const int result = files.Export(path, &host, &options, &outcome);

    FUZZ_CHECK(files.LiveBlocks() == 0 && files.badFrees == 0);
    FUZZ_CHECK(host.pixelsOutside == 0 && host.progressBegins == host.progressEnds && !host.inProgress);
    uint64_t needed;
    const int writable =
        CheckWritable(settings.dataType, settings.colorFormat, png.width, png.height, kWrittenByConverter, &needed);
    CheckResult(result, writable, unmapped, flags & kEncodeFlagKnownPalette, files.failAllocation != 0);
    if (result != kExportOk) {
        FUZZ_CHECK(files.Files() == before);   // nothing written, nothing lost
        FreeMemoryHost(&host);
        FreePng(&png);
        return 0;
    }

    // The files: the texture with the header asked for; the palette written,
    // or kept as it was.
    const std::vector<uint8_t>* texture = files.Find(path);
    FUZZ_CHECK(texture != nullptr);
    FUZZ_CHECK(outcome.wrotePalette == HasPaletteFile(settings.dataType));
    const std::vector<uint8_t>* pvp = files.Find(kPvp);
    FUZZ_CHECK((pvp != nullptr) == (outcome.wrotePalette || (flags & kEncodeFlagKnownPalette)));
    if (pvp && (!outcome.wrotePalette || outcome.paletteSource == kPaletteSourceKept)) FUZZ_CHECK(*pvp == known);
    TextureCheck check;
    FUZZ_CHECK(CheckTextureFile(texture->data(), texture->size(), path, &check) == kTextureOk);
    FUZZ_CHECK(check.container == (pvr ? kContainerPvr : kContainerPvz));
    FUZZ_CHECK(check.info.dataType == settings.dataType && check.info.colorFormat == settings.colorFormat &&
               check.info.globalIndex == settings.globalIndex && check.info.width == png.width &&
               check.info.height == png.height);

    // Read back as the plug-in reads it (indices without a palette file: the
    // dialog offers none).
    MemoryHost back;
    InitMemoryHost(&back);
    ImportOutcome imported;
    files.failAllocation = 0;
    FUZZ_CHECK(files.Import(path, &back, &imported) == kStatusDone);
    FUZZ_CHECK(imported.decoded == kDecodeDone);
    FUZZ_CHECK(back.width == (int32_t)png.width && back.height == (int32_t)png.height);
    FUZZ_CHECK(!HasPaletteFile(settings.dataType) || imported.palette == kPaletteRead);
    FUZZ_CHECK(files.LiveBlocks() == 0 && files.badFrees == 0);
    CheckPicture(host, back, settings, check.container, outcome);

    FreeMemoryHost(&back);
    FreeMemoryHost(&host);
    FreePng(&png);
    return 0;
}
