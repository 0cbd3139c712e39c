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
  const colorName = (t) => t.colorFormatName + (t.formatOfPalette ? " palette" : "");
  const sizeName = (t) => t.width + "\u00d7" + t.height;
  const describe = (t) => [sizeName(t), t.container, "DataType " + t.dataType + (t.dataTypeName ? " (" + t.dataTypeName + ")" : ""),
    "ColorFormat " + colorName(t), "ID " + t.id, t.path].concat(t.palettePath ? ["palette " + t.palettePath] : []).join(" \u00b7 ");

  // A card: the thumbnail at a whole scale that fits its box, over a
  // checkerboard; name, size, container, ID, DataType, ColorFormat, path, palette.
  const makeCard = (i) => {
    const t = textures[i];
    const card = document.createElement("figure");
    card.className = "card";
    card.tabIndex = 0;
    card.dataset.index = i;
    const box = add(card, "div", "box");
    const scale = Math.max(1, Math.floor(128 / Math.max(t.thumbWidth, t.thumbHeight)));
    const img = document.createElement("img");
    img.loading = "lazy";
    img.decoding = "async";
    img.className = "checker";
    img.alt = t.name;
    img.width = t.thumbWidth * scale;
    img.height = t.thumbHeight * scale;
    img.src = t.thumbnail;
    box.appendChild(img);
    const caption = add(card, "figcaption");
    add(caption, "div", "name", t.name).title = t.name;
    add(caption, "div", "meta", sizeName(t) + " \u00b7 " + t.container + " \u00b7 ID " + t.id);
    add(caption, "div", "meta", "DataType " + t.dataType + " \u00b7 " + colorName(t));
    add(caption, "div", "path", t.path).title = t.path;
    if (t.palettePath) add(caption, "div", "path", "palette " + t.palettePath.replace(/^.*[\\/]/, "")).title = t.palettePath;
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
      [f.name, f.path, f.reason].forEach((v) => add(row, "td", "", v));
    });
  }

  // The filters: name (letters it holds, any letter case), DataType, ColorFormat, size.
  const fill = (id, values, label) => values.forEach((v) => { add($(id), "option", "", label(v)).value = v; });
  const types = new Map(textures.map((t) => [String(t.dataType), t.dataTypeName]));
  fill("ftype", [...types.keys()].sort((a, b) => a - b), (v) => v + (types.get(v) ? " (" + types.get(v) + ")" : ""));
  fill("fcolor", [...new Set(textures.map(colorName))].sort(), (v) => v);
  const sizes = new Map(textures.map((t) => [sizeName(t), t.width * t.height]));
  fill("fsize", [...sizes.keys()].sort((a, b) => sizes.get(a) - sizes.get(b) || (a < b ? -1 : 1)), (v) => v);
  const apply = () => {
    const name = $("fname").value.trim().toLowerCase(), type = $("ftype").value;
    const color = $("fcolor").value, size = $("fsize").value;
    shown = [];
    textures.forEach((t, i) => {
      if ((!name || t.name.toLowerCase().includes(name)) && (!type || String(t.dataType) === type) &&
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
    vimg.style.width = t.width * z + "px";
    vimg.style.height = t.height * z + "px";
    viewer.querySelectorAll("[data-zoom]").forEach((b) => b.setAttribute("aria-pressed", String(+b.dataset.zoom === z)));
  };
  const open = (i) => {
    current = i;
    const t = textures[i];
    $("vname").textContent = t.name;
    $("vinfo").textContent = describe(t);
    vimg.alt = t.name;
    vimg.src = t.picture;
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
