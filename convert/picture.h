// Pictures between the host and PNG: what `ombr decode` writes and
// `ombr encode` reads (picture.cpp).
#pragma once

#include "convert.h"
#include "png.h"

// The PNG of an imported picture: indexed pictures as palette images (the
// host palette, extended to cover every index used), colour pictures as
// RGBA. kConvertDone, or kConvertFailed when no memory can be had.
[[nodiscard]] int HostToPng(const MemoryHost* host, PngImage* png);

// The settings of the imported texture in the PNG's tag, as its layer tag
// says them (without the tag's leading blank), and its file name in the
// source chunk: as `ombr decode` writes them.
void TagPicture(const char* input, const TextureCheck& check, PngImage* png);

// The host's pixel values, little-endian 32-bit words row by row, in a new
// malloc block of width x height x 4 bytes.
[[nodiscard]] int HostToRaw(const MemoryHost* host, uint8_t** data, size_t* length);

// Builds the host picture for the settings: a palette PNG becomes an
// indexed picture (its palette, count and tRNS alpha, bAlpha set, and as
// nTransparentIndex the one entry that is fully transparent, if exactly one
// is) for layouts of palette indices and a direct-colour picture of its
// colours for colour layouts (and for DataType 5 where its indices pass 15:
// its colours then go to the palette); a grey PNG a grey picture whose
// values hold the level in red, green and blue where indices are stored
// under a colour type, else its colours; a colour PNG a direct-colour picture.
// Refuses (-1, with the reason) colours where indices without a palette file
// are stored, and indices beyond what such a layout keeps.
[[nodiscard]]
int PngToHost(const PngImage& png, const TextureSettings& settings, MemoryHost* host, ConvertReport* report);
