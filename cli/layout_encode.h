// The layouts `ombr encode` makes itself, beyond the export plug-in's own:
// mip chains (DataType 2), VQ (3, 4, 16, 17) and colour pictures quantised to
// a palette (5, 7). The texel data is laid out as the import reads it and
// written raw (.pvr) or as a PVZ container, each file staged and then moved
// into place as the export does.
#pragma once

#include "convert.h"
#include "png.h"

// True for the settings written here rather than by the export driver:
// DataType 2, 3, 4, 16 and 17; 5 and 7 from a colour PNG; and 6 and 8, which
// are refused (their palette's format is recorded nowhere, so the import
// cannot show their colours).
bool IsConverterLayout(const TextureSettings& settings, int pngKind);

// Writes the picture as such a texture to `output` (and for DataType 5 and 7
// the .pvp beside it, recorded in the outcome): 0, or -1 with the reason.
// Existing files are kept unless `force`.
int EncodeConverterLayout(const PngImage& png, const TextureSettings& settings, const char* output, bool force,
                          EncodeOutcome* outcome, ConvertReport* report);
