// The palette a palettised texture (DataType 5 and 7) is written with, and
// each pixel's index into it. A known palette (the .pvp of the texture being
// replaced, or one the caller names) is kept as it is, in its own order and
// entry count, when the picture's colours are in it; otherwise the picture's
// own palette is written, or for a picture without one, a palette is made
// for it by the quantiser.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"
#include "host_api.h"
#include "palette.h"

struct TexelReference;

// What happens to colours a known palette does not hold.
enum {
    kUnmappedNewPalette = 0,   // the picture's own palette, or the quantiser's
    kUnmappedNearest = 1,      // the nearest entry of the known palette (the pixels counted)
    kUnmappedRefuse = 2,       // nothing is written
};

struct PaletteRequest {
    unsigned dataType;        // 5 or 7
    unsigned format;          // ColorFormat of the entries (PaletteFormat)
    const uint8_t* known;     // a .pvp file to keep, or null
    size_t knownLength;
    bool mapIndexed;          // an indexed picture's colours are mapped onto the known palette too;
                              // otherwise it keeps its own palette
    int unmapped;             // kUnmapped...
    const TexelReference* reference;   // the texture being replaced: its index stays at every unchanged
                                       // pixel when the known palette is kept; null: none
};

// Where the palette written came from.
enum { kPaletteSourcePicture = 0, kPaletteSourceKept = 1, kPaletteSourceQuantised = 2 };

struct PaletteChoice {
    uint8_t file[kPaletteKeptMaxFileSize];   // the .pvp to write
    size_t fileLength;
    uint8_t* indices;         // each pixel's index, width x height, row by row (the allocator's);
                              // null: the host's own values are the indices
    int source;               // kPalette...
    uint64_t unmappedPixels;  // pixels whose colour the known palette does not hold
    uint32_t unmappedColours; // and how many colours those were
    uint64_t approximatedPixels;   // quantised: pixels whose entry is not their colour
};

enum {
    kChooseOk = 0,
    kChooseNoMemory = -1,
    kChooseUnmapped = -2,     // kUnmappedRefuse, and colours outside the known palette
    kChooseNoFormat = -3,     // the entries' ColorFormat has no conversion
};

// Chooses the palette of the layer of `image` (width x height). Gives a
// kChoose... code; on success free the indices with FreePaletteChoice.
[[nodiscard]] int ChoosePalette(const PaletteRequest& request, const HostServices* services, HostImage* image,
                                const Allocator& allocator, PaletteChoice* choice);
void FreePaletteChoice(const Allocator& allocator, PaletteChoice* choice);
