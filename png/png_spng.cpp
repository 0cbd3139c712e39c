// png.h through libspng, in every build (Debian's libspng natively, the same
// source built for MinGW by the Windows builds): palettes and their
// transparency kept both ways, and the same bytes written everywhere.
#include <spng.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "png.h"

const char kPngTagKeyword[] = "ombr texture settings";
const char kPngSourceKeyword[] = "ombr texture file";

// How rows are filtered and deflated. A level given is zlib's: rows of
// colour and grey pictures filtered with Up, deflated with the strategy for
// filtered data (trying all five filters on every row, libspng's own choice,
// cost more time than the deflate itself and gave larger files on decoded
// textures; bench/README.md has the figures). Level 0 stores the rows as
// they are. The default level looks at the picture first: where few strings
// of its pixels come back (noise, photographs), searching for matches costs
// most of the time and finds little, so the rows are filtered with Up and
// only Huffman coded (smaller and faster there than run-length coding);
// otherwise level 5 as above, with Sub instead of Up on the rows where it
// packs smaller when a sample of the picture says that pays (SubRowsPay).
// Palette indices are never filtered and take zlib's default strategy, as
// libspng would choose.
struct PngPacking {
    int level;
    int strategy;
    int filters;
};

// Of 256 sampled 8-byte strings of a colour picture's pixels, how many stood
// earlier in the picture too, found as a fast compressor finds matches: a
// table of the last place of each string's hash.
static unsigned RepeatShare(const PngImage* image) {
    enum { kTableBits = 12, kStridePixels = 7 };
    // The strings themselves are kept (never 0 in a slot that held one: an
    // empty slot holds a string no hash of its own leads to), so no look
    // goes back into the picture.
    uint64_t table[1u << kTableBits];
    for (uint64_t& t : table) t = 0;
    const uint8_t* data = image->pixels;
    const size_t length = (size_t)image->width * image->height * 4;
    uint64_t sampled = 0, repeated = 0;
    for (size_t i = 0; i + 8 <= length; i += 4 * kStridePixels) {
        uint64_t v;
        memcpy(&v, data + i, 8);
        const uint32_t h = (uint32_t)(((v + 1) * 0x9E3779B97F4A7C15ull) >> (64 - kTableBits));
        if (table[h] == v + 1) repeated++;
        table[h] = v + 1;
        sampled++;
    }
    return sampled ? (unsigned)(repeated * 256 / sampled) : 256;
}

enum { kFewRepeats = 128 };   // of 256: the decoded textures tried give 195 and more, noisy pictures 40 to 70

// One row filtered for the sample below: Up, or (`choose`) whichever of Up
// and Sub has the smaller sum of absolute differences, as libspng chooses.
static void FilterRow(const uint8_t* row, const uint8_t* above, size_t stride, bool choose, uint8_t* out) {
    uint64_t upSum = 0, subSum = 0;
    for (size_t i = 0; i < stride; i++) {
        out[1 + i] = (uint8_t)(row[i] - above[i]);
        upSum += (uint64_t)abs((int8_t)out[1 + i]);
        if (choose) subSum += (uint64_t)abs((int8_t)(uint8_t)(row[i] - (i >= 4 ? row[i - 4] : 0)));
    }
    out[0] = 2;   // Up
    if (!choose || subSum >= upSum) return;
    out[0] = 1;   // Sub
    for (size_t i = 0; i < stride; i++) out[1 + i] = (uint8_t)(row[i] - (i >= 4 ? row[i - 4] : 0));
}

// Whether choosing Sub for some rows packs the picture better than Up
// alone: bands of rows across the picture, each deflated both ways at
// `level`, the choice taken when it saves more than a tenth. Pictures of
// 2 x 2 blocks (VQ textures of smooth pictures) save a seventh; on the
// others the sample saves at most 3 % and the whole picture often loses
// (up to a tenth on smooth pictures), so the sample decides, not the
// per-row sums alone.
static bool SubRowsPay(const PngImage* image, int level) {
    enum { kBands = 5, kBandBytes = 32768 };
    const size_t stride = (size_t)image->width * 4;
    const uint32_t height = image->height;
    // Bands of up to 32 KiB, zlib's window, and together at most an eighth
    // of the picture (the whole of a picture of fewer than 40 rows).
    uint32_t rows = (uint32_t)(kBandBytes / (stride + 1));
    if (rows > height / (8 * kBands)) rows = height / (8 * kBands);
    if (rows < 1) rows = height < 8 * kBands ? height : 1;
    uint8_t* band = (uint8_t*)malloc((stride + 1) * rows);
    uint8_t* zero = (uint8_t*)calloc(stride ? stride : 1, 1);
    uLong sizes[2] = {0, 0};
    z_stream z;
    memset(&z, 0, sizeof z);
    bool ok = band && zero && deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
    uint8_t sink[16384];
    for (uint32_t b = 0; ok && b < kBands && (b == 0 || rows < height); b++) {
        const uint32_t top = (uint32_t)((uint64_t)(height - rows) * b / (kBands - 1));
        for (int choose = 0; ok && choose < 2; choose++) {
            for (uint32_t r = 0; r < rows; r++) {
                const uint8_t* row = image->pixels + (size_t)(top + r) * stride;
                FilterRow(row, top + r ? row - stride : zero, stride, choose != 0, band + (size_t)r * (stride + 1));
            }
            ok = deflateReset(&z) == Z_OK;
            z.next_in = band;
            z.avail_in = (uInt)((stride + 1) * rows);
            int rc = Z_OK;
            while (ok && rc != Z_STREAM_END) {
                z.next_out = sink;
                z.avail_out = sizeof sink;
                rc = deflate(&z, Z_FINISH);
                ok = rc == Z_OK || rc == Z_STREAM_END;
            }
            sizes[choose] += z.total_out;
        }
    }
    if (band && zero) deflateEnd(&z);
    free(band);
    free(zero);
    return ok && sizes[1] * 10 < sizes[0] * 9;
}

static PngPacking ChoosePacking(const PngImage* image, int level) {
    if (image->kind == kPngIndexed)
        return {level < 0 ? kPngDefaultLevel : level, Z_DEFAULT_STRATEGY, SPNG_DISABLE_FILTERING};
    if (level == 0) return {0, Z_FILTERED, SPNG_DISABLE_FILTERING};
    if (level > 0) return {level, Z_FILTERED, SPNG_FILTER_CHOICE_UP};
    if (RepeatShare(image) < kFewRepeats) return {1, Z_HUFFMAN_ONLY, SPNG_FILTER_CHOICE_UP};
    if (SubRowsPay(image, kPngDefaultLevel))
        return {kPngDefaultLevel, Z_FILTERED, SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_SUB};
    return {kPngDefaultLevel, Z_FILTERED, SPNG_FILTER_CHOICE_UP};
}

void InitPng(PngImage* image) { memset(image, 0, sizeof *image); }

void FreePng(PngImage* image) {
    free(image->pixels);
    image->pixels = nullptr;
}

const char* PngResultText(int result) {
    switch (result) {
    case kPngOk: return "done";
    case kPngNotPng: return "not a PNG";
    case kPngTooLarge: return "picture too large";
    case kPngBadData: return "cannot read PNG";
    case kPngNoMemory: return "out of memory";
    case kPngBadRecord: return "picture the PNG encoder cannot write";
    default: return "unknown PNG result";
    }
}

// `result`, with its text (or `what`) and libspng's reason in `error`.
static int Fail(spng_ctx* ctx, char* error, size_t room, int result, int code, const char* what = nullptr) {
    if (!what) what = PngResultText(result);
    if (code != 0)
        snprintf(error, room, "%s: %s", what, spng_strerror(code));
    else
        snprintf(error, room, "%s", what);
    if (ctx) spng_ctx_free(ctx);
    return result;
}

static int KindOf(uint8_t colorType) {
    if (colorType == SPNG_COLOR_TYPE_INDEXED) return kPngIndexed;
    if (colorType == SPNG_COLOR_TYPE_GRAYSCALE || colorType == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA) return kPngGrey;
    return kPngColor;
}

// Signature and IHDR: 8 + 8 + 13 + 4 bytes.
enum { kPngHeaderBytes = 33 };

int PeekPng(const uint8_t* data, size_t length, uint32_t* width, uint32_t* height, int* kind) {
    *width = 0;
    *height = 0;
    *kind = 0;
    if (length < kPngHeaderBytes) return kPngNotPng;
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return kPngNoMemory;
    spng_ihdr ihdr;
    const bool read = spng_set_png_buffer(ctx, data, kPngHeaderBytes) == 0 && spng_get_ihdr(ctx, &ihdr) == 0;
    spng_ctx_free(ctx);
    if (!read) return kPngNotPng;
    *width = ihdr.width;
    *height = ihdr.height;
    *kind = KindOf(ihdr.color_type);
    return 0;
}

// 1, 2 and 4-bit rows unpacked to one index a byte; 8-bit rows copied.
static void UnpackIndices(const uint8_t* packed, size_t stride, uint32_t width, uint32_t height, unsigned depth,
                          uint8_t* out) {
    const unsigned mask = (1u << depth) - 1;
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* row = packed + (size_t)y * stride;
        uint8_t* target = out + (size_t)y * width;
        for (uint32_t x = 0; x < width; x++) {
            const size_t bit = (size_t)x * depth;
            target[x] = (uint8_t)((row[bit / 8] >> (8 - depth - bit % 8)) & mask);
        }
    }
}

// The texts of our keywords that the file has shown so far: called before
// the image data is read and again after it, so a text chunk counts wherever
// it lies and the first one of a keyword wins. Text chunks that cannot be
// read are no error.
static void ReadTexts(spng_ctx* ctx, PngImage* image) {
    uint32_t count = 0;
    if (spng_get_text(ctx, nullptr, &count) != 0 || count == 0) return;
    spng_text* texts = (spng_text*)calloc(count, sizeof *texts);
    if (!texts) return;
    if (spng_get_text(ctx, texts, &count) == 0)
        for (uint32_t i = 0; i < count; i++) {
            char* into = nullptr;
            size_t room = 0;
            if (strcmp(texts[i].keyword, kPngTagKeyword) == 0) into = image->tag, room = sizeof image->tag;
            if (strcmp(texts[i].keyword, kPngSourceKeyword) == 0) into = image->source, room = sizeof image->source;
            if (!into || into[0] != '\0' || !texts[i].text) continue;
            const size_t length = texts[i].length < room - 1 ? texts[i].length : room - 1;
            memcpy(into, texts[i].text, length);
            into[length] = '\0';
        }
    free(texts);
}

int DecodePng(const uint8_t* data, size_t length, uint32_t maxSide, uint64_t maxPixels, PngImage* image,
              char* error, size_t errorRoom) {
    InitPng(image);
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return Fail(nullptr, error, errorRoom, kPngNoMemory, 0);
    int rc = spng_set_chunk_limits(ctx, kPngTextLimit, kPngTextLimit);
    if (rc != 0) return Fail(ctx, error, errorRoom, kPngNoMemory, rc);
    rc = spng_set_png_buffer(ctx, data, length);
    if (rc != 0) return Fail(ctx, error, errorRoom, kPngNotPng, rc);
    spng_ihdr ihdr;
    rc = spng_get_ihdr(ctx, &ihdr);
    if (rc != 0) return Fail(ctx, error, errorRoom, kPngNotPng, rc);
    const uint64_t pixels = (uint64_t)ihdr.width * ihdr.height;
    if (ihdr.width > maxSide || ihdr.height > maxSide || pixels > maxPixels) {
        if (ihdr.width > maxSide || ihdr.height > maxSide)
            snprintf(error, errorRoom, "picture of %u x %u is too large (at most %u pixels a side)",
                     (unsigned)ihdr.width, (unsigned)ihdr.height, (unsigned)maxSide);
        else
            snprintf(error, errorRoom, "picture of %u x %u is too large (at most %llu pixels)",
                     (unsigned)ihdr.width, (unsigned)ihdr.height, (unsigned long long)maxPixels);
        spng_ctx_free(ctx);
        return kPngTooLarge;
    }
    // Whatever the caller allows, one block of four bytes a pixel must be
    // addressable.
    if (pixels > SIZE_MAX / 4) return Fail(ctx, error, errorRoom, kPngTooLarge, 0, "picture too large for this process");

    image->width = ihdr.width;
    image->height = ihdr.height;
    image->kind = KindOf(ihdr.color_type);
    if (image->kind == kPngIndexed) {
        spng_plte plte;
        rc = spng_get_plte(ctx, &plte);
        if (rc != 0 || plte.n_entries == 0 || plte.n_entries > 256)
            return Fail(ctx, error, errorRoom, kPngBadData, rc, "indexed PNG without a palette");
        image->paletteCount = plte.n_entries;
        for (uint32_t i = 0; i < plte.n_entries; i++) {
            image->palette[i][0] = plte.entries[i].red;
            image->palette[i][1] = plte.entries[i].green;
            image->palette[i][2] = plte.entries[i].blue;
            image->palette[i][3] = 255;
        }
        spng_trns trns;
        if (spng_get_trns(ctx, &trns) == 0) {
            image->paletteAlpha = true;
            for (uint32_t i = 0; i < trns.n_type3_entries && i < plte.n_entries; i++)
                image->palette[i][3] = trns.type3_alpha[i];
        }
    }
    ReadTexts(ctx, image);

    if (image->kind == kPngIndexed) {
        size_t size = 0;
        rc = spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size);
        if (rc != 0) return Fail(ctx, error, errorRoom, kPngBadData, rc);
        const size_t stride = ihdr.height > 0 ? size / ihdr.height : 0;
        if (stride < ((size_t)ihdr.width * ihdr.bit_depth + 7) / 8)
            return Fail(ctx, error, errorRoom, kPngBadData, 0);
        // Zeroed: interlaced rows of less than a byte a pixel are merged into it.
        uint8_t* packed = (uint8_t*)calloc(size > 0 ? size : 1, 1);
        image->pixels = (uint8_t*)malloc(pixels > 0 ? (size_t)pixels : 1);
        if (!packed || !image->pixels) {
            free(packed);
            FreePng(image);
            return Fail(ctx, error, errorRoom, kPngNoMemory, 0);
        }
        rc = spng_decode_image(ctx, packed, size, SPNG_FMT_PNG, 0);
        if (rc != 0) {
            free(packed);
            FreePng(image);
            return Fail(ctx, error, errorRoom, kPngBadData, rc);
        }
        UnpackIndices(packed, stride, ihdr.width, ihdr.height, ihdr.bit_depth, image->pixels);
        free(packed);
        // An index past the palette is an error in a PNG: refuse it here
        // rather than guess a colour for it.
        for (size_t i = 0; i < (size_t)pixels; i++)
            if (image->pixels[i] >= image->paletteCount) {
                FreePng(image);
                return Fail(ctx, error, errorRoom, kPngBadData, 0, "PNG index beyond its palette");
            }
    } else {
        spng_trns trns;
        image->alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx, &trns) == 0;
        size_t size = 0;
        rc = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
        if (rc != 0 || size != (size_t)pixels * 4) return Fail(ctx, error, errorRoom, kPngBadData, rc);
        image->pixels = (uint8_t*)malloc(size > 0 ? size : 1);
        if (!image->pixels) return Fail(ctx, error, errorRoom, kPngNoMemory, 0);
        rc = spng_decode_image(ctx, image->pixels, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
        if (rc != 0) {
            FreePng(image);
            return Fail(ctx, error, errorRoom, kPngBadData, rc);
        }
    }
    ReadTexts(ctx, image);
    spng_ctx_free(ctx);
    return 0;
}

// The header and palette of an indexed picture: PLTE, and tRNS up to the
// last entry that is not opaque.
static int SetIndexedHeader(spng_ctx* ctx, const PngImage* image, spng_ihdr* ihdr) {
    if (image->paletteCount == 0 || image->paletteCount > 256) return kPngBadRecord;
    ihdr->color_type = SPNG_COLOR_TYPE_INDEXED;
    int rc = spng_set_ihdr(ctx, ihdr);
    spng_plte plte;
    memset(&plte, 0, sizeof plte);
    plte.n_entries = image->paletteCount;
    spng_trns trns;
    memset(&trns, 0, sizeof trns);
    for (uint32_t i = 0; i < image->paletteCount; i++) {
        plte.entries[i].red = image->palette[i][0];
        plte.entries[i].green = image->palette[i][1];
        plte.entries[i].blue = image->palette[i][2];
        trns.type3_alpha[i] = image->palette[i][3];
        if (image->palette[i][3] != 255) trns.n_type3_entries = i + 1;
    }
    if (rc == 0) rc = spng_set_plte(ctx, &plte);
    if (rc == 0 && trns.n_type3_entries > 0) rc = spng_set_trns(ctx, &trns);
    return rc;
}

// The header of a grey or colour picture, and its pixels as the encoder
// takes them: the record's own RGBA, or a narrowed copy in `*narrowed`.
static int SetColourHeader(spng_ctx* ctx, const PngImage* image, spng_ihdr* ihdr, uint8_t** narrowed,
                           const uint8_t** source, size_t* sourceLength) {
    const size_t pixels = (size_t)image->width * image->height;
    const bool grey = image->kind == kPngGrey;
    const unsigned channels = grey ? (image->alpha ? 2 : 1) : (image->alpha ? 4 : 3);
    ihdr->color_type = grey ? (image->alpha ? SPNG_COLOR_TYPE_GRAYSCALE_ALPHA : SPNG_COLOR_TYPE_GRAYSCALE)
                            : (image->alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR);
    const int rc = spng_set_ihdr(ctx, ihdr);
    if (rc != 0 || channels == 4) return rc;
    *narrowed = (uint8_t*)malloc(pixels * channels > 0 ? pixels * channels : 1);
    if (!*narrowed) return kPngNoMemory;
    for (size_t i = 0; i < pixels; i++) {
        const uint8_t* p = image->pixels + 4 * i;
        uint8_t* q = *narrowed + channels * i;
        if (grey) {
            q[0] = p[0];
            if (channels == 2) q[1] = p[3];
        } else {
            memcpy(q, p, 3);
        }
    }
    *source = *narrowed;
    *sourceLength = pixels * channels;
    return 0;
}

// The settings tag (tEXt) and the texture's file name (tEXt, or
// uncompressed UTF-8 iTXt for a name beyond ASCII), each when there is one; zero-terminated copies, as the encoder
// measures them itself.
struct PngTexts {
    char tag[kPngTextRoom];
    char name[kPngSourceRoom];
    spng_text texts[2];
    uint32_t count;
};

static int SetTexts(spng_ctx* ctx, const PngImage* image, PngTexts* t) {
    memset(t, 0, sizeof *t);
    snprintf(t->tag, sizeof t->tag, "%.*s", (int)strnlen(image->tag, sizeof image->tag), image->tag);
    snprintf(t->name, sizeof t->name, "%.*s", (int)strnlen(image->source, sizeof image->source), image->source);
    if (t->tag[0] != '\0') {
        spng_text& text = t->texts[t->count++];
        snprintf(text.keyword, sizeof text.keyword, "%s", kPngTagKeyword);
        text.type = SPNG_TEXT;
        text.length = strlen(t->tag);
        text.text = t->tag;
    }
    if (t->name[0] != '\0') {
        // A plain text chunk where the name is ASCII, as the game's are: some
        // editors keep tEXt but drop iTXt when they save again.
        bool ascii = true;
        for (const char* c = t->name; *c; c++) ascii = ascii && (unsigned char)*c < 0x80;
        spng_text& text = t->texts[t->count++];
        snprintf(text.keyword, sizeof text.keyword, "%s", kPngSourceKeyword);
        text.type = ascii ? SPNG_TEXT : SPNG_ITXT;
        text.compression_flag = 0;
        text.language_tag = const_cast<char*>("");
        text.translated_keyword = const_cast<char*>("");
        text.length = strlen(t->name);
        text.text = t->name;
    }
    return t->count > 0 ? spng_set_text(ctx, t->texts, t->count) : 0;
}

int EncodePngAtLevel(const PngImage* image, int level, uint8_t** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (level > kPngSmallestLevel) return kPngBadRecord;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx) return kPngNoMemory;
    const bool indexed = image->kind == kPngIndexed;
    const PngPacking packing = ChoosePacking(image, level);
    int rc = spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    if (rc == 0) rc = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, packing.level);
    if (rc == 0) rc = spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, packing.strategy);
    if (rc == 0) rc = spng_set_option(ctx, SPNG_FILTER_CHOICE, packing.filters);

    spng_ihdr ihdr;
    memset(&ihdr, 0, sizeof ihdr);
    ihdr.width = image->width;
    ihdr.height = image->height;
    ihdr.bit_depth = 8;
    uint8_t* narrowed = nullptr;
    const uint8_t* source = image->pixels;
    size_t sourceLength = (size_t)image->width * image->height * PngPixelBytes(*image);
    if (rc == 0)
        rc = indexed ? SetIndexedHeader(ctx, image, &ihdr)
                     : SetColourHeader(ctx, image, &ihdr, &narrowed, &source, &sourceLength);
    PngTexts texts;
    if (rc == 0) rc = SetTexts(ctx, image, &texts);
    if (rc == 0) rc = spng_encode_image(ctx, source, sourceLength, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    free(narrowed);
    if (rc == 0) {
        int got = 0;
        void* buffer = spng_get_png_buffer(ctx, length, &got);
        if (got == 0 && buffer) *data = (uint8_t*)buffer;
        else rc = -1;
    }
    spng_ctx_free(ctx);
    if (rc != 0) {
        *length = 0;
        return rc == SPNG_EMEM || rc == kPngNoMemory ? kPngNoMemory : kPngBadRecord;
    }
    return kPngOk;
}
