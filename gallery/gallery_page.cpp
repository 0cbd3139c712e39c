// The gallery's page: one HTML file with its style, its script and its data
// (JSON) inline, that needs nothing but the pictures beside it. The script
// keeps cards only for the rows in view (and two on either side), so that a
// page of thousands of textures opens as quickly as one of a screenful; the
// thumbnails load as their cards come into view (loading="lazy" besides).
#include <stdio.h>
#include <string.h>

#include "gallery.h"
#include "layout.h"
#include "messages.h"
#include "paths.h"

// page.html, page.css and page.js, as the build embeds them.
extern const char kGalleryPageHtml[];
extern const char kGalleryPageCss[];
extern const char kGalleryPageJs[];

namespace {

// `page` with the first `marker` replaced by `text`.
std::string Fill(const std::string& page, const char* marker, const std::string& text) {
    const size_t at = page.find(marker);
    if (at == std::string::npos) return page;
    return page.substr(0, at) + text + page.substr(at + strlen(marker));
}
// JSON text that may stand inside a script element: no "<" at all.
std::string Quote(const std::string& text) {
    std::string quoted = JsonQuote(text.c_str()), safe;
    for (char c : quoted) {
        if (c == '<') safe += "\\u003c";
        else safe += c;
    }
    return safe;
}

std::string Number(unsigned long long value) {
    char text[24];
    snprintf(text, sizeof text, "%llu", value);
    return text;
}

std::string ColorLabel(unsigned colorFormat) {
    const char* name = ColorFormatName(colorFormat);
    return name ? name : "code " + Number(colorFormat);
}

std::string TextureJson(const GalleryEntry& e) {
    const std::string name = e.path.substr(BaseNameStart(e.path));
    const char* typeName = DataTypeName(e.dataType);
    std::string j = "{\"name\":" + Quote(name) + ",\"path\":" + Quote(e.path);
    j += ",\"width\":" + Number(e.width) + ",\"height\":" + Number(e.height);
    j += std::string(",\"container\":\"") + (e.container == kContainerPvr ? "PVR" : "PVZ") + "\"";
    j += ",\"dataType\":" + Number(e.dataType) + ",\"dataTypeName\":" + Quote(typeName ? typeName : "");
    j += ",\"colorFormat\":" + Number(e.colorFormat) + ",\"colorFormatName\":" + Quote(ColorLabel(e.colorFormat));
    // For DataType 5 and 7 the ColorFormat is that of the palette's entries.
    j += std::string(",\"formatOfPalette\":") + (HasPaletteFile(e.dataType) ? "true" : "false");
    j += ",\"id\":" + Number(e.globalIndex) + ",\"palettePath\":" + Quote(e.palettePath);
    j += ",\"picture\":" + Quote(e.picture) + ",\"thumbnail\":" + Quote(e.thumbnail);
    j += ",\"thumbWidth\":" + Number(e.thumbWidth) + ",\"thumbHeight\":" + Number(e.thumbHeight) + "}";
    return j;
}

}  // namespace

std::string GalleryPage(const std::vector<GalleryEntry>& entries) {
    std::string textures, failed;
    for (const GalleryEntry& e : entries) {
        if (e.decoded) {
            textures += (textures.empty() ? "\n" : ",\n") + TextureJson(e);
        } else {
            const std::string name = e.path.substr(BaseNameStart(e.path));
            failed += (failed.empty() ? "\n" : ",\n") + std::string("{\"name\":") + Quote(name) + ",\"path\":" +
                      Quote(e.path) + ",\"reason\":" + Quote(e.reason) + "}";
        }
    }
    std::string page = Fill(kGalleryPageHtml, "/* page.css */\n", kGalleryPageCss);
    page = Fill(page, "/* page.js */\n", kGalleryPageJs);
    return Fill(page, "<!-- data -->", "{\"textures\":[" + textures + "],\n\"failed\":[" + failed + "]}");
}
