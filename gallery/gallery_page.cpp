// The gallery's page: one HTML file with its style, its script and its data
// (JSON) inline, that needs nothing but the pictures beside it. The script
// keeps cards only for the rows in view (and two on either side), so that a
// page of thousands of textures opens as quickly as one of a screenful; the
// thumbnails load as their cards come into view (loading="lazy" besides).
#include <stdio.h>
#include <string.h>

#include "gallery.h"
#include "json.h"
#include "layout.h"
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
    std::string j = "{\"n\":" + Quote(name) + ",\"p\":" + Quote(e.path);
    j += ",\"w\":" + Number(e.width) + ",\"h\":" + Number(e.height);
    j += std::string(",\"c\":\"") + (e.container == kContainerPvr ? "PVR" : "PVZ") + "\"";
    j += ",\"t\":" + Number(e.dataType) + ",\"tn\":" + Quote(typeName ? typeName : "");
    j += ",\"f\":" + Number(e.colorFormat) + ",\"fn\":" + Quote(ColorLabel(e.colorFormat));
    j += std::string(",\"pal\":") + (HasPaletteFile(e.dataType) ? "1" : "0");
    j += ",\"id\":" + Number(e.globalIndex) + ",\"pp\":" + Quote(e.palettePath);
    j += ",\"src\":" + Quote(e.picture) + ",\"tsrc\":" + Quote(e.thumbnail);
    j += ",\"tw\":" + Number(e.thumbWidth) + ",\"th\":" + Number(e.thumbHeight) + "}";
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
            failed += (failed.empty() ? "\n" : ",\n") + std::string("{\"n\":") + Quote(name) + ",\"p\":" +
                      Quote(e.path) + ",\"r\":" + Quote(e.reason) + "}";
        }
    }
    std::string page = Fill(kGalleryPageHtml, "/* page.css */\n", kGalleryPageCss);
    page = Fill(page, "/* page.js */\n", kGalleryPageJs);
    return Fill(page, "<!-- data -->", "{\"textures\":[" + textures + "],\n\"failed\":[" + failed + "]}");
}
