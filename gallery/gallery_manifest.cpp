// The gallery's manifest: a first line naming the version and thumbnail
// size, then one line an entry, its fields separated by tabs (a tab, line
// break or backslash in a field written as \t, \n, \r or \\).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gallery.h"

namespace {

enum { kFieldCount = 19 };

void PutField(std::string* line, const std::string& field) {
    if (!line->empty()) *line += '\t';
    for (char c : field) {
        if (c == '\t') *line += "\\t";
        else if (c == '\n') *line += "\\n";
        else if (c == '\r') *line += "\\r";
        else if (c == '\\') *line += "\\\\";
        else *line += c;
    }
}

void PutNumber(std::string* line, long long value) {
    char text[24];
    snprintf(text, sizeof text, "%lld", value);
    PutField(line, text);
}

std::string Header() {
    char header[64];
    snprintf(header, sizeof header, "ombr gallery manifest 1, thumbnails %d\n", (int)kThumbnailSide);
    return header;
}

std::vector<std::string> SplitFields(const char* line, size_t length) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < length; i++) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < length) {
            const char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool TakeNumber(const std::string& field, long long low, long long high, long long* value) {
    if (field.empty()) return false;
    char* end = nullptr;
    const long long v = strtoll(field.c_str(), &end, 10);
    if (*end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ReadEntry(const std::vector<std::string>& f, GalleryEntry* e) {
    if (f.size() != kFieldCount || f[0].empty()) return false;
    long long n[14];
    // The fields that are numbers, in the order they are written.
    static const int kNumbers[] = {1, 2, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 17, 18};
    for (int k = 0; k < 14; k++)
        if (!TakeNumber(f[kNumbers[k]], k == 1 || k == 4 ? INT64_MIN : 0, INT64_MAX, &n[k])) return false;
    e->path = f[0];
    e->length = (uint64_t)n[0];
    e->modified = n[1];
    e->palettePath = f[3];
    e->paletteFound = n[2] != 0;
    e->paletteLength = (uint64_t)n[3];
    e->paletteModified = n[4];
    e->decoded = n[5] != 0;
    e->reason = f[8];
    e->container = (int)n[6];
    e->dataType = (unsigned)n[7];
    e->colorFormat = (unsigned)n[8];
    e->globalIndex = (uint32_t)n[9];
    e->width = (uint32_t)n[10];
    e->height = (uint32_t)n[11];
    e->picture = f[15];
    e->thumbnail = f[16];
    e->thumbWidth = (uint32_t)n[12];
    e->thumbHeight = (uint32_t)n[13];
    return !e->decoded || (!e->picture.empty() && !e->thumbnail.empty());
}

}  // namespace

std::string WriteGalleryManifest(const std::vector<GalleryEntry>& entries) {
    std::string text = Header();
    for (const GalleryEntry& e : entries) {
        std::string line;
        PutField(&line, e.path);
        PutNumber(&line, (long long)e.length);
        PutNumber(&line, e.modified);
        PutField(&line, e.palettePath);
        PutNumber(&line, e.paletteFound);
        PutNumber(&line, (long long)e.paletteLength);
        PutNumber(&line, e.paletteModified);
        PutNumber(&line, e.decoded);
        PutField(&line, e.reason);
        PutNumber(&line, e.container);
        PutNumber(&line, e.dataType);
        PutNumber(&line, e.colorFormat);
        PutNumber(&line, e.globalIndex);
        PutNumber(&line, e.width);
        PutNumber(&line, e.height);
        PutField(&line, e.picture);
        PutField(&line, e.thumbnail);
        PutNumber(&line, e.thumbWidth);
        PutNumber(&line, e.thumbHeight);
        text += line;
        text += '\n';
    }
    return text;
}

std::vector<GalleryEntry> ReadGalleryManifest(const char* text, size_t length) {
    std::vector<GalleryEntry> entries;
    const std::string header = Header();
    if (length < header.size() || memcmp(text, header.data(), header.size()) != 0) return entries;
    for (size_t start = header.size(); start < length;) {
        const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
        const size_t lineEnd = end ? (size_t)(end - text) : length;
        GalleryEntry entry;
        if (ReadEntry(SplitFields(text + start, lineEnd - start), &entry)) entries.push_back(entry);
        start = lineEnd + 1;
    }
    return entries;
}
