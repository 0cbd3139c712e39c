#include "export_palette.h"

#include <string.h>

#include "encode.h"
#include "layout.h"
#include "kmeans.h"
#include "quantise.h"
#include "texture.h"

namespace {

enum {
    kKeys = 1u << 16,            // every packed 16-bit colour
    kTransparentKey = 1u << 16,  // every fully transparent colour of a format with alpha
    kNoEntry = 0xFFFF,
};

// A known palette, as the import reads it back.
struct KnownPalette {
    uint32_t count;              // entries the indices reach: at most the DataType's limit
    uint16_t packed[256];
    uint32_t colours[256];       // UnpackColor of each
    uint16_t transparent;        // the first fully transparent entry, or kNoEntry
};

// The map from colour keys to the first entry of that key.
struct KeyMap {
    uint16_t* first;   // kKeys entries, kNoEntry where none
};

bool ReadKnown(const PaletteRequest& request, KnownPalette* known) {
    if (!request.known || request.knownLength > kPaletteKeptMaxFileSize) return false;
    uint32_t n = PaletteFileEntryCount(request.knownLength);
    const uint32_t limit = PaletteIndexLimit(request.dataType);
    if (n > limit) n = limit;
    if (n == 0) return false;
    known->count = n;
    known->transparent = kNoEntry;
    for (uint32_t i = 0; i < n; i++) {
        known->packed[i] = ReadU16(request.known + kPaletteHeaderSize + 2 * i);
        known->colours[i] = UnpackColor(request.format, known->packed[i]);
        if (known->transparent == kNoEntry && known->colours[i] >> 24 == 0) known->transparent = (uint16_t)i;
    }
    return true;
}

// A colour's key in the palette's format: its packed value; fully
// transparent colours of a format with alpha also match any transparent
// entry (see Lookup).
uint32_t PackedKey(const ChannelEncode& row, uint32_t colour) { return PackColor(row, colour); }

bool Invisible(unsigned format, const ChannelEncode& row, uint32_t colour) {
    return AlphaBits(format) != 0 && UnpackColor(format, PackColor(row, colour)) >> 24 == 0;
}

// The entry of a colour: the one of its packed value, or for a colour that
// shows nothing, the first transparent entry; kNoEntry when none holds it.
uint32_t Lookup(const KnownPalette& known, const KeyMap& map, unsigned format, const ChannelEncode& row,
                uint32_t colour) {
    const uint32_t entry = map.first[PackedKey(row, colour)];
    if (entry != kNoEntry) return entry;
    if (Invisible(format, row, colour)) return known.transparent;
    return kNoEntry;
}

// The entry nearest to a colour: least sum of squared differences of red,
// green, blue and, where the format keeps it, alpha.
uint32_t Nearest(const KnownPalette& known, unsigned format, uint32_t colour) {
    const bool alpha = AlphaBits(format) != 0;
    uint32_t best = 0, bestDistance = UINT32_MAX;
    for (uint32_t i = 0; i < known.count; i++) {
        uint32_t distance = 0;
        for (int shift = 0; shift < (alpha ? 32 : 24); shift += 8) {
            const int d = (int)((colour >> shift) & 255) - (int)((known.colours[i] >> shift) & 255);
            distance += (uint32_t)(d * d);
        }
        if (distance < bestDistance) bestDistance = distance, best = i;
    }
    return best;
}

struct Mapping {
    const PaletteRequest* request;
    const KnownPalette* known;
    KeyMap map;
    const ChannelEncode* row;
    bool nearest;
    uint64_t unmappedPixels;
    uint32_t unmappedColours;
    uint32_t lastColour;     // the last colour outside the palette, and its entry
    uint32_t lastEntry;
    uint8_t* seen;           // a bit for each packed colour counted outside the palette
};

// The entry for one colour, kNoEntry when it is outside the palette and is
// not to be brought to the nearest entry. `pixels` of that colour.
uint32_t MapColour(Mapping* m, uint32_t colour, uint64_t pixels) {
    const uint32_t entry = Lookup(*m->known, m->map, m->request->format, *m->row, colour);
    if (entry != kNoEntry) return entry;
    m->unmappedPixels += pixels;
    // Colours are counted as the palette's format packs them, each once.
    const uint32_t key = PackedKey(*m->row, colour);
    if (!(m->seen[key >> 3] & (1u << (key & 7)))) {
        m->seen[key >> 3] |= (uint8_t)(1u << (key & 7));
        m->unmappedColours++;
    }
    if (m->unmappedPixels == pixels || colour != m->lastColour) {
        m->lastColour = colour;
        m->lastEntry = m->nearest ? Nearest(*m->known, m->request->format, colour) : (uint32_t)kNoEntry;
    }
    return m->lastEntry;
}

// Every pixel's entry in the known palette. An indexed picture keeps an
// index wherever the known palette holds that index's colour at the same
// place (entries of the same colour stay apart). 0, kChooseUnmapped when a colour is
// outside the palette (and not to be brought to the nearest entry), or
// kChooseNoMemory.
int MapOntoKnown(Mapping* m, const HostServices* services, HostImage* image, const Allocator& allocator,
                 uint8_t* indices) {
    const HostLayer* layer = image->pLayer;
    const uint32_t w = (uint32_t)(layer->nRight - layer->nLeft), h = (uint32_t)(layer->nBottom - layer->nTop);
    const size_t count = (size_t)w * h;
    // The texture being replaced keeps its index wherever the picture shows
    // what it showed (duplicate entries stay apart, as do indices past the
    // last entry).
    const TexelReference* ref = m->request->reference;
    const bool reference = ref && ref->changed && ref->indices;
    if (image->nColorMode == kColorModeIndexed) {
        uint32_t colours[256];
        int32_t entries;
        HostPaletteColours(image, colours, &entries);
        uint64_t used[256] = {0};
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const size_t i = (size_t)y * w + x;
                const uint32_t value = services->GetImagePixel(image, 0, layer->nLeft + (int32_t)x,
                                                               layer->nTop + (int32_t)y) & 0xFF;
                indices[i] = (uint8_t)value;
                if (!reference || ref->changed[i]) used[value]++;
            }
        uint32_t remap[256];
        for (uint32_t i = 0; i < 256; i++) {
            if (used[i] == 0) continue;
            const bool same = i < m->known->count && m->known->packed[i] == PackedKey(*m->row, colours[i]);
            remap[i] = same ? i : MapColour(m, colours[i], used[i]);
            if (remap[i] == kNoEntry) return kChooseUnmapped;
        }
        for (size_t i = 0; i < count; i++)
            indices[i] = reference && !ref->changed[i] ? ref->indices[i] : (uint8_t)remap[indices[i]];
        return 0;
    }
    uint32_t* colours = ReadLayerColours(services, image, allocator);
    if (!colours) return kChooseNoMemory;
    int result = 0;
    for (size_t i = 0; i < count && result == 0; i++) {
        if (reference && !ref->changed[i]) {
            indices[i] = ref->indices[i];
            continue;
        }
        const uint32_t entry = MapColour(m, colours[i], 1);
        if (entry == kNoEntry) result = kChooseUnmapped;
        indices[i] = (uint8_t)entry;
    }
    allocator.Free(allocator.context, colours);
    return result;
}

// The known palette kept: 0 when every pixel has its entry (or the nearest
// one, as asked); kChooseUnmapped when the picture's colours do not all fit it.
int KeepKnown(const PaletteRequest& request, const KnownPalette& known, const HostServices* services,
              HostImage* image, const Allocator& allocator, PaletteChoice* choice) {
    const HostLayer* layer = image->pLayer;
    const size_t count = (size_t)(layer->nRight - layer->nLeft) * (size_t)(layer->nBottom - layer->nTop);
    Mapping m;
    memset(&m, 0, sizeof m);
    m.request = &request;
    m.known = &known;
    m.row = &GetChannelRow(request.format)->encode;
    m.nearest = request.unmapped == kUnmappedNearest;
    m.map.first = (uint16_t*)allocator.Alloc(allocator.context, kKeys * sizeof(uint16_t));
    m.seen = (uint8_t*)allocator.Alloc(allocator.context, kKeys / 8);
    choice->indices = (uint8_t*)allocator.Alloc(allocator.context, count > 0 ? count : 1);
    int result = m.map.first && m.seen && choice->indices ? 0 : kChooseNoMemory;
    if (result == 0) {
        memset(m.seen, 0, kKeys / 8);
        memset(m.map.first, 0xFF, kKeys * sizeof(uint16_t));
        for (uint32_t i = known.count; i-- > 0;) m.map.first[known.packed[i]] = (uint16_t)i;
        result = MapOntoKnown(&m, services, image, allocator, choice->indices);
    }
    if (m.map.first) allocator.Free(allocator.context, m.map.first);
    if (m.seen) allocator.Free(allocator.context, m.seen);
    choice->unmappedPixels = m.unmappedPixels;
    choice->unmappedColours = m.unmappedColours;
    if (result != 0) {
        if (choice->indices) allocator.Free(allocator.context, choice->indices);
        choice->indices = nullptr;
        return result;
    }
    memcpy(choice->file, request.known, request.knownLength);
    choice->fileLength = request.knownLength;
    choice->source = kPaletteSourceKept;
    return 0;
}

// The picture's own palette (an indexed picture), or one the quantiser
// makes for its colours.
int MakePalette(const PaletteRequest& request, const HostServices* services, HostImage* image,
                const Allocator& allocator, PaletteChoice* choice) {
    uint32_t palette[256];
    int32_t entries = 0;
    if (image->nColorMode == kColorModeIndexed) {
        HostPaletteColours(image, palette, &entries);
        choice->source = kPaletteSourcePicture;
    } else {
        const HostLayer* layer = image->pLayer;
        const size_t count = (size_t)(layer->nRight - layer->nLeft) * (size_t)(layer->nBottom - layer->nTop);
        uint32_t* colours = ReadLayerColours(services, image, allocator);
        choice->indices = (uint8_t*)allocator.Alloc(allocator.context, count > 0 ? count : 1);
        if (colours && choice->indices)
            entries = QuantisePicture(colours, count, request.format, PaletteIndexLimit(request.dataType),
                                      choice->indices, palette, allocator);
        // A picture of more colours than the palette holds is changed: a
        // pixel whose entry is not the texel its colour packs to.
        const ChannelEncode& row = GetChannelRow(request.format)->encode;
        for (size_t i = 0; entries > 0 && i < count; i++)
            if (PackColor(row, colours[i]) != PackColor(row, palette[choice->indices[i]])) choice->approximatedPixels++;
        if (colours) allocator.Free(allocator.context, colours);
        if (!colours || !choice->indices || entries < 0) return kChooseNoMemory;
        choice->source = kPaletteSourceQuantised;
    }
    choice->fileLength = BuildPaletteBytes(request.format, PaletteIndexLimit(request.dataType), palette, &entries, choice->file, sizeof choice->file);
    return choice->fileLength > 0 ? kChooseOk : kChooseNoFormat;
}

}  // namespace

int ChoosePalette(const PaletteRequest& request, const HostServices* services, HostImage* image,
                  const Allocator& allocator, PaletteChoice* choice) {
    memset(choice, 0, sizeof *choice);
    if (!GetChannelRow(request.format)) return kChooseNoFormat;
    KnownPalette known;
    const bool mapped = image->nColorMode != kColorModeIndexed || request.mapIndexed;
    if (mapped && ReadKnown(request, &known)) {
        const int kept = KeepKnown(request, known, services, image, allocator, choice);
        if (kept == kChooseNoMemory) return kept;
        if (kept == 0) return kChooseOk;
        if (request.unmapped == kUnmappedRefuse) return kChooseUnmapped;
    }
    const int made = MakePalette(request, services, image, allocator, choice);
    if (made != kChooseOk) FreePaletteChoice(allocator, choice);
    return made;
}

void FreePaletteChoice(const Allocator& allocator, PaletteChoice* choice) {
    if (choice->indices) allocator.Free(allocator.context, choice->indices);
    choice->indices = nullptr;
}
