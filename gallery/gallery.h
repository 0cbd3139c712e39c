// `ombr gallery`: one page that shows every texture of some folders, for a
// browser and offline. OUT/index.html holds the page (its data, style and
// script inline), OUT/pictures/ a full-size PNG of every texture that decodes
// and, for those larger than a thumbnail, a thumbnail beside it;
// OUT/gallery.manifest remembers what each texture gave, keyed by its path
// with the length and time of change of the texture and of its palette, so
// that a second run redoes only the textures that changed.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "memory_host.h"

enum { kThumbnailSide = 128 };   // the longer side of a thumbnail, at most

// What the page shows of one texture, and the manifest keeps.
struct GalleryEntry {
    std::string path;             // as the walk found it
    uint64_t length;              // the texture file's length and time of change
    int64_t modified;
    std::string palettePath;      // the .pvp the import read or looked for; empty when none is used
    bool paletteFound;
    uint64_t paletteLength;
    int64_t paletteModified;
    bool decoded;
    std::string reason;           // why it did not decode
    int container;                // kContainerPvr or kContainerPvz
    unsigned dataType;
    unsigned colorFormat;         // the ColorFormat as the import reads it: the palette's for DataType 5 and 7
    uint32_t globalIndex;
    uint32_t width, height;
    std::string picture;          // the full-size PNG, below OUT
    std::string thumbnail;        // the thumbnail (the picture itself when it is small enough)
    uint32_t thumbWidth, thumbHeight;
};

// The manifest as text, and back: entries of a manifest written for another
// thumbnail size or version, and lines that do not read, are dropped.
std::string WriteGalleryManifest(const std::vector<GalleryEntry>& entries);
std::vector<GalleryEntry> ReadGalleryManifest(const char* text, size_t length);

// The page of these entries (in order: the textures that decode as cards,
// the others in a list with their reasons).
std::string GalleryPage(const std::vector<GalleryEntry>& entries);

// The host picture shrunk to kThumbnailSide on its longer side with the
// Explorer thumbnails' box filter (ShrinkPicture: area-weighted, colours
// weighted by alpha): a colour PNG record, alpha kept where any pixel has
// some. 0, or -1 when no memory can be had.
struct PngImage;
[[nodiscard]] int MakeThumbnail(const MemoryHost* host, PngImage* thumbnail);

int RunGallery(const Options& options, FILE* out, FILE* err);
