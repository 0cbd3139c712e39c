// The gallery's page: one HTML file with its style, its script and its data
// (JSON) inline, that needs nothing but the pictures beside it. The script
// keeps cards only for the rows in view (and two on either side), so that a
// page of thousands of textures opens as quickly as one of a screenful; the
// thumbnails load as their cards come into view (loading="lazy" besides).
#include <stdio.h>

#include "gallery.h"
#include "json.h"
#include "layout.h"
#include "paths.h"

namespace {

const char kPageHead[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Textures</title>
<style>
* { box-sizing: border-box; }
[hidden] { display: none !important; }
body { margin: 0; font: 13px/1.35 system-ui, sans-serif; background: #eceff1; color: #1d2327; }
header { position: sticky; top: 0; z-index: 2; display: flex; flex-wrap: wrap; gap: 8px 14px; align-items: center;
  padding: 10px 16px; background: #263238; color: #fff; }
header h1 { font-size: 16px; margin: 0 6px 0 0; }
header label { display: flex; gap: 5px; align-items: center; }
header input, header select { font: inherit; padding: 3px 6px; border-radius: 4px; border: 1px solid #90a4ae; }
header select { max-width: 15em; }
#count { margin-left: auto; opacity: .85; }
#failed { margin: 12px 16px 0; padding: 6px 12px; background: #fff3e0; border: 1px solid #ffb74d; border-radius: 6px; }
#failed summary { cursor: pointer; font-weight: bold; }
#failed table { border-collapse: collapse; margin-top: 4px; }
#failed th, #failed td { text-align: left; vertical-align: top; padding: 2px 14px 2px 0; }
#grid { position: relative; margin: 12px 16px 24px; }
.card { position: absolute; height: 244px; margin: 0; background: #fff; border-radius: 6px; overflow: hidden;
  box-shadow: 0 1px 2px rgba(0,0,0,.18); cursor: zoom-in; }
.card:hover, .card:focus-visible { outline: 2px solid #1e88e5; }
.box { height: 140px; display: flex; align-items: center; justify-content: center; background: #cfd8dc; }
.checker { background-color: #fff; background-size: 16px 16px; background-position: 0 0, 8px 8px;
  background-image: linear-gradient(45deg, #c8c8c8 25%, transparent 25%, transparent 75%, #c8c8c8 75%),
                    linear-gradient(45deg, #c8c8c8 25%, transparent 25%, transparent 75%, #c8c8c8 75%); }
.box img, #vimg { display: block; image-rendering: pixelated; }
figcaption { padding: 6px 8px; }
figcaption div { white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
.name { font-weight: bold; }
.meta { color: #455a64; }
.path { color: #78909c; font-size: 11px; }
#viewer { position: fixed; inset: 0; z-index: 3; display: flex; flex-direction: column; background: rgba(20,26,30,.95); color: #fff; }
#viewer .bar { display: flex; flex-wrap: wrap; gap: 6px 12px; align-items: center; padding: 8px 16px; background: #263238; }
#viewer button { font: inherit; padding: 3px 10px; border-radius: 4px; border: 1px solid #90a4ae; background: #37474f;
  color: #fff; cursor: pointer; }
#viewer button[aria-pressed="true"] { background: #1e88e5; border-color: #1e88e5; }
#vinfo { opacity: .85; }
#vclose { margin-left: auto; }
#stage { flex: 1; overflow: auto; display: flex; padding: 16px; }
#vimg { margin: auto; }
</style>
</head>
<body>
<header>
<h1>Textures</h1>
<label>Name <input id="fname" type="search" placeholder="letters of the name" autocomplete="off"></label>
<label>DataType <select id="ftype"><option value="">all</option></select></label>
<label>ColorFormat <select id="fcolor"><option value="">all</option></select></label>
<label>Size <select id="fsize"><option value="">all</option></select></label>
<span id="count"></span>
</header>
<section id="failed" hidden></section>
<main id="grid"></main>
<div id="viewer" hidden role="dialog" aria-modal="true" aria-labelledby="vname">
<div class="bar"><b id="vname"></b><span id="vinfo"></span>
<button type="button" data-zoom="1">1:1</button><button type="button" data-zoom="2">2:1</button>
<button type="button" id="vclose">Close (Esc)</button></div>
<div id="stage"><img id="vimg" class="checker" alt=""></div>
</div>
<script id="data" type="application/json">)PAGE";

const char kPageTail[] = R"PAGE(</script>
<script>
"use strict";
(() => {
  const data = JSON.parse(document.getElementById("data").textContent);
  const textures = data.textures, failed = data.failed;
  const $ = (id) => document.getElementById(id);
  const add = (parent, tag, className, text) => {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    parent.appendChild(e);
    return e;
  };
  const colorName = (t) => t.fn + (t.pal ? " palette" : "");
  const sizeName = (t) => t.w + "\u00d7" + t.h;
  const describe = (t) => [sizeName(t), t.c, "DataType " + t.t + (t.tn ? " (" + t.tn + ")" : ""),
    "ColorFormat " + colorName(t), "ID " + t.id, t.p].concat(t.pp ? ["palette " + t.pp] : []).join(" \u00b7 ");

  // A card: the thumbnail at a whole scale that fits its box, over a
  // checkerboard; name, size, container, ID, DataType, ColorFormat, path, palette.
  const makeCard = (i) => {
    const t = textures[i];
    const card = document.createElement("figure");
    card.className = "card";
    card.tabIndex = 0;
    card.dataset.index = i;
    const box = add(card, "div", "box");
    const scale = Math.max(1, Math.floor(128 / Math.max(t.tw, t.th)));
    const img = document.createElement("img");
    img.loading = "lazy";
    img.decoding = "async";
    img.className = "checker";
    img.alt = t.n;
    img.width = t.tw * scale;
    img.height = t.th * scale;
    img.src = t.tsrc;
    box.appendChild(img);
    const caption = add(card, "figcaption");
    add(caption, "div", "name", t.n).title = t.n;
    add(caption, "div", "meta", sizeName(t) + " \u00b7 " + t.c + " \u00b7 ID " + t.id);
    add(caption, "div", "meta", "DataType " + t.t + " \u00b7 " + colorName(t));
    add(caption, "div", "path", t.p).title = t.p;
    if (t.pp) add(caption, "div", "path", "palette " + t.pp.replace(/^.*[\\/]/, "")).title = t.pp;
    return card;
  };

  // The grid holds only the rows in view and two on either side; the rest
  // is room, so that thousands of textures cost no more than a screenful.
  const grid = $("grid"), cardWidth = 200, cardHeight = 244, gap = 12;
  let shown = [], columns = 1, width = cardWidth;
  const rendered = new Map();   // place in `shown` -> card
  const place = (k, card) => {
    card.style.left = (k % columns) * (width + gap) + "px";
    card.style.top = Math.floor(k / columns) * (cardHeight + gap) + "px";
    card.style.width = width + "px";
  };
  const render = () => {
    const top = grid.getBoundingClientRect().top, row = cardHeight + gap;
    const first = Math.max(0, Math.floor(-top / row) - 2) * columns;
    const last = Math.min(shown.length, (Math.floor((innerHeight - top) / row) + 3) * columns);
    for (const [k, card] of rendered)
      if (k < first || k >= last) { card.remove(); rendered.delete(k); }
    for (let k = first; k < last; k++) {
      if (rendered.has(k)) continue;
      const card = makeCard(shown[k]);
      place(k, card);
      grid.appendChild(card);
      rendered.set(k, card);
    }
  };
  const relayout = () => {
    const room = grid.clientWidth;
    columns = Math.max(1, Math.floor((room + gap) / (cardWidth + gap)));
    width = (room - gap * (columns - 1)) / columns;
    grid.style.height = Math.max(0, Math.ceil(shown.length / columns) * (cardHeight + gap) - gap) + "px";
    rendered.forEach((card, k) => place(k, card));
    render();
  };
  let pending = false;
  const soon = () => { if (!pending) { pending = true; requestAnimationFrame(() => { pending = false; render(); }); } };
  addEventListener("scroll", soon, {passive: true});
  addEventListener("resize", relayout);

  if (failed.length) {
    const section = $("failed");
    section.hidden = false;
    const details = add(section, "details");
    details.open = failed.length <= 20;
    add(details, "summary", "", failed.length + (failed.length === 1 ? " file does" : " files do") + " not decode");
    const table = add(details, "table");
    const head = add(table, "tr");
    ["Name", "Path", "Why"].forEach((h) => add(head, "th", "", h));
    failed.forEach((f) => {
      const row = add(table, "tr");
      [f.n, f.p, f.r].forEach((v) => add(row, "td", "", v));
    });
  }

  // The filters: name (letters it holds, any letter case), DataType, ColorFormat, size.
  const fill = (id, values, label) => values.forEach((v) => { add($(id), "option", "", label(v)).value = v; });
  const types = new Map(textures.map((t) => [String(t.t), t.tn]));
  fill("ftype", [...types.keys()].sort((a, b) => a - b), (v) => v + (types.get(v) ? " (" + types.get(v) + ")" : ""));
  fill("fcolor", [...new Set(textures.map(colorName))].sort(), (v) => v);
  const sizes = new Map(textures.map((t) => [sizeName(t), t.w * t.h]));
  fill("fsize", [...sizes.keys()].sort((a, b) => sizes.get(a) - sizes.get(b) || (a < b ? -1 : 1)), (v) => v);
  const apply = () => {
    const name = $("fname").value.trim().toLowerCase(), type = $("ftype").value;
    const color = $("fcolor").value, size = $("fsize").value;
    shown = [];
    textures.forEach((t, i) => {
      if ((!name || t.n.toLowerCase().includes(name)) && (!type || String(t.t) === type) &&
          (!color || colorName(t) === color) && (!size || sizeName(t) === size))
        shown.push(i);
    });
    rendered.forEach((card) => card.remove());
    rendered.clear();
    relayout();
    $("count").textContent = shown.length + " of " + textures.length + " textures" +
                             (failed.length ? ", " + failed.length + " not decoded" : "");
  };
  ["fname", "ftype", "fcolor", "fsize"].forEach((id) => $(id).addEventListener("input", apply));
  apply();

  // The viewer: the full-size picture at 1:1 or 2:1, nearest neighbour;
  // the arrow keys step through the textures the filters show.
  const viewer = $("viewer"), vimg = $("vimg");
  let current = -1, zoom = 1;
  const setZoom = (z) => {
    zoom = z;
    const t = textures[current];
    vimg.style.width = t.w * z + "px";
    vimg.style.height = t.h * z + "px";
    viewer.querySelectorAll("[data-zoom]").forEach((b) => b.setAttribute("aria-pressed", String(+b.dataset.zoom === z)));
  };
  const open = (i) => {
    current = i;
    const t = textures[i];
    $("vname").textContent = t.n;
    $("vinfo").textContent = describe(t);
    vimg.alt = t.n;
    vimg.src = t.src;
    setZoom(zoom);
    viewer.hidden = false;
    $("vclose").focus();
  };
  const close = () => {
    viewer.hidden = true;
    const card = grid.querySelector('[data-index="' + current + '"]');
    if (card) card.focus();
    current = -1;
  };
  const step = (d) => {
    const k = shown.indexOf(current) + d;
    if (k >= 0 && k < shown.length) open(shown[k]);
  };
  const cardOf = (e) => e.target.closest(".card");
  grid.addEventListener("click", (e) => { if (cardOf(e)) open(+cardOf(e).dataset.index); });
  grid.addEventListener("keydown", (e) => {
    if ((e.key === "Enter" || e.key === " ") && cardOf(e)) { e.preventDefault(); open(+cardOf(e).dataset.index); }
  });
  viewer.addEventListener("click", (e) => { if (e.target.dataset.zoom) setZoom(+e.target.dataset.zoom); });
  $("vclose").addEventListener("click", close);
  document.addEventListener("keydown", (e) => {
    if (viewer.hidden) return;
    if (e.key === "Escape") close();
    else if (e.key === "1" || e.key === "2") setZoom(+e.key);
    else if (e.key === "ArrowRight" || e.key === "ArrowLeft") step(e.key === "ArrowRight" ? 1 : -1);
  });
})();
</script>
</body>
</html>
)PAGE";

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
    return kPageHead + std::string("{\"textures\":[") + textures + "],\n\"failed\":[" + failed + "]}" + kPageTail;
}
