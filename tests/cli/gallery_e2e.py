#!/usr/bin/python3
"""End to end: `ombr gallery` over a folder of a few hundred textures of every
layout (and one broken file), its second run, and the page in headless
Chromium: every thumbnail shows, none is broken, nothing outside the gallery's
folder is asked for, and the filters and the 1:1 / 2:1 viewer work.

usage: gallery_e2e.py OMBR MAKE_TEXTURE SAMPLE WORK_DIR [--screenshot PNG]
"""
import json
import os
import shutil
import subprocess
import sys
import time

import cdp  # noqa: E402
from wine_exe import check, finish  # noqa: E402

ombr, make_texture, sample, work = sys.argv[1:5]
screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
started = time.monotonic()


# Every layout the import paints: DataType, ColorFormat, and the sizes it
# takes (VQ and mip chains square; indices at least 2 high).
squares = [(s, s) for s in (8, 16, 32, 64, 128, 256)]
twiddled = [(64, 32), (256, 64), (32, 128), (8, 8), (16, 16), (64, 64), (128, 128), (256, 256)]
layouts = [(1, c) for c in (0, 1, 2, 5, 6)] + [(13, c) for c in (0, 1, 2)] + [(9, c) for c in (0, 1, 2)]
layouts += [(5, c) for c in (0, 1, 2)] + [(7, c) for c in (0, 1, 2)]
layouts += [(t, c) for t in (2, 3, 4, 6, 8, 16, 17) for c in (0, 1, 2)]
rectangles = [(64, 32), (160, 96), (640, 480), (33, 17), (128, 128), (256, 8), (12, 300), (96, 96)]

shutil.rmtree(work, ignore_errors=True)
textures = os.path.join(work, "textures")
made = []   # (path, DataType, ColorFormat, width, height)
for n, (data_type, color) in enumerate(layouts):
    sizes = rectangles if data_type == 9 else twiddled if data_type in (1, 5, 7, 13) else squares
    if data_type in (16, 17):
        sizes = [s for s in sizes if s[0] >= 4]
    for k, (w, h) in enumerate(sizes[:8]):
        folder = os.path.join(textures, "set%d" % (k % 3), "deeper") if k % 4 == 3 else os.path.join(textures, "set%d" % (k % 3))
        os.makedirs(folder, exist_ok=True)
        container = "pvr" if (n + k) % 2 else "pvz"
        path = os.path.join(folder, "dt%d_cf%d_%dx%d_%d.%s" % (data_type, color, w, h, k, container))
        subprocess.run([make_texture, container, path, "--type", str(data_type), "--color", str(color),
                        "--size", "%dx%d" % (w, h), "--id", str(1000 + n), "--seed", str(n * 10 + k)], check=True)
        if data_type in (5, 7) or (data_type == 1 and color in (5, 6)):
            entries = 16 if data_type == 5 or color == 5 else 256
            subprocess.run([make_texture, "palette", path[:-4] + ".pvp", "--count", str(entries), "--seed", str(n)],
                           check=True)
        made.append((path, data_type, color, w, h))
shutil.copy(sample, os.path.join(textures, "tiles.pvz"))
made.append((os.path.join(textures, "tiles.pvz"), 1, 1, 256, 256))
broken = os.path.join(textures, "set1", "broken.pvz")
with open(made[0][0], "rb") as f:
    head = f.read(20)
with open(broken, "wb") as f:
    f.write(head)
print("made %d textures and one broken file in %.1f s" % (len(made), time.monotonic() - started), flush=True)

# The gallery, then again: nothing to redo; then one texture and one palette changed.
out = os.path.join(work, "gallery")
run = lambda *a: subprocess.run([ombr, "gallery", *a], capture_output=True, text=True)
r = run(textures, "-r", "-o", out)
total = len(made) + 1
check(r.returncode == 0, "gallery exits 0: %s" % r.stderr)
check("%d textures (%d redone, 0 unchanged), 1 not decoded" % (total, total) in r.stdout, "summary: " + r.stdout)
pictures = sorted(os.listdir(os.path.join(out, "pictures")))
big = sum(1 for _, _, _, w, h in made if max(w, h) > 128)
check(len(pictures) == len(made) + big, "one picture a texture and a thumbnail for the %d larger ones" % big)
r = run(textures, "-r", "-o", out)
check("(0 redone, %d unchanged)" % total in r.stdout, "second run redoes nothing: " + r.stdout)
changed_texture = made[3][0]
palette_of = next(p for p, t, *_ in made if t == 7)[:-4] + ".pvp"
for path in (changed_texture, palette_of):
    later = os.stat(path).st_mtime + 10
    os.utime(path, (later, later))
r = run(textures, "-r", "-o", out, "-v")
check("(2 redone, %d unchanged)" % (total - 2) in r.stdout, "a changed texture and palette are redone: " + r.stdout)
check(r.stdout.count(": unchanged") == total - 2, "-v names the unchanged textures")

# The full-size pictures are those of `ombr decode`, palettes applied.
with open(os.path.join(out, "index.html"), encoding="utf-8") as f:
    page = f.read()
start = page.index('<script id="data" type="application/json">')
data = json.loads(page[page.index(">", start) + 1:page.index("</script>", start)])
pictures_of = {t["path"]: t["picture"] for t in data["textures"]}
for path, *_ in made[::9]:
    png = os.path.join(work, "decoded.png")
    subprocess.run([ombr, "decode", path, "-o", png, "-f", "-q"], check=True, stderr=subprocess.DEVNULL)
    with open(png, "rb") as a, open(os.path.join(out, pictures_of[path]), "rb") as b:
        check(a.read() == b.read(), "the picture of %s is the one decode writes" % path)

# The page.
page_url = "file://" + os.path.abspath(os.path.join(out, "index.html"))
with cdp.Browser(os.environ.get("OMBR_CHROMIUM", "chromium")) as browser:
    browser.navigate(page_url)
    browser.evaluate("""(async () => {
      const images = [...document.querySelectorAll('#grid img')].filter((i) => i.getBoundingClientRect().top < innerHeight);
      await Promise.all(images.map((i) => i.complete || new Promise((r) => { i.onload = i.onerror = r; })));
    })()""")
    first = [u for u in browser.requests() if "/pictures/" in u]
    cards, count = browser.evaluate("[document.querySelectorAll('#grid .card').length, "
                                    "document.getElementById('count').textContent]")
    check(count == "%d of %d textures, 1 not decoded" % (len(made), len(made)), "every texture counted: " + count)
    check(0 < cards < len(made), "cards only for the rows in view (%d of %d)" % (cards, len(made)))
    check(0 < len(first) < len(made), "thumbnails load as they come into view (%d at first)" % len(first))
    failed = browser.evaluate("[...document.querySelectorAll('#failed td')].map(td => td.textContent)")
    check(failed[:2] == ["broken.pvz", broken] and "shorter than its header" in failed[2],
          "the broken file is listed with its reason: %s" % failed)
    if screenshot:
        browser.screenshot(screenshot)

    # Scrolled through, every thumbnail loads, at the size the data gives.
    shown = browser.evaluate("""(async () => {
      const wait = (ms) => new Promise((r) => setTimeout(r, ms));
      const data = JSON.parse(document.getElementById('data').textContent).textures;
      const seen = new Map();   // texture -> [width, height] of its thumbnail, or null when broken
      let most = 0;
      const inView = () => [...document.querySelectorAll('#grid .card')].filter((c) => {
        const r = c.getBoundingClientRect(); return r.bottom > 0 && r.top < innerHeight; });
      for (let y = 0; ; y += innerHeight / 2) {
        scrollTo(0, y);
        await wait(40);
        const deadline = performance.now() + 10000;
        while (inView().some((c) => !c.querySelector('img').complete) && performance.now() < deadline) await wait(20);
        for (const c of inView()) {
          const i = c.querySelector('img');
          seen.set(+c.dataset.index, i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] : null);
        }
        most = Math.max(most, document.querySelectorAll('#grid .card').length);
        if (y + innerHeight >= document.documentElement.scrollHeight) break;
      }
      const all = [...seen];
      return {
        seen: seen.size, most: most,
        broken: all.filter(([k, v]) => !v).map(([k]) => data[k].thumbnail),
        wrong: all.filter(([k, v]) => v && (v[0] !== data[k].thumbWidth || v[1] !== data[k].thumbHeight)).length,
        largest: Math.max(...all.map(([k, v]) => v ? Math.max(...v) : 0)),
      };
    })()""")
    check(shown["seen"] == len(made), "every card came into view: %d" % shown["seen"])
    check(shown["broken"] == [], "no broken thumbnail: %s" % shown["broken"][:5])
    check(shown["wrong"] == 0 and shown["largest"] <= 128, "thumbnails at most 128 pixels: %s" % shown)
    check(shown["most"] < len(made) / 2, "the page never held more than a few rows of cards: %d" % shown["most"])
    outside = [u for u in browser.requests() if not u.startswith("file://" + os.path.abspath(out) + "/")]
    check(outside == [], "nothing asked for outside the gallery's folder: %s" % outside[:5])

    # The filters.
    def visible():
        text = browser.evaluate("document.getElementById('count').textContent")
        return int(text.split()[0]), text

    def set_filter(field, value):
        browser.evaluate("""(() => { const e = document.getElementById(%r); e.value = %r;
                             e.dispatchEvent(new Event('input')); })()""" % (field, value))

    # Each row: the filters set (those of the row before cleared), which textures they leave. The
    # last row's filter stays for the viewer below.
    previous = {}
    for filters, kept, what in (
            ({"fname": "DT7_"}, lambda m: "dt7_" in os.path.basename(m[0]), "name"),
            ({"ftype": "5"}, lambda m: m[1] == 5, "DataType"),
            ({"ftype": "5", "fcolor": "ARGB4444 palette"}, lambda m: m[1] == 5 and m[2] == 2, "ColorFormat (the palette's)"),
            ({"fsize": "256\u00d764"}, lambda m: m[3:] == (256, 64), "size")):
        for field, value in [(f, "") for f in previous] + list(filters.items()):
            set_filter(field, value)
        expected = sum(1 for m in made if kept(m))
        count, text = visible()
        check(count == expected and text.startswith("%d of %d" % (expected, len(made))), "%s filter: %s" % (what, text))
        previous = filters

    # The viewer: a click on a card opens it at 1:1; 2:1 doubles it, pixels kept.
    box = browser.evaluate("""(async () => { scrollTo(0, 0);
      await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
      const card = [...document.querySelectorAll('#grid .card')].sort((a, b) => a.offsetTop - b.offsetTop)[0];
      const r = card.getBoundingClientRect(); return [r.x + r.width / 2, r.y + 40]; })()""")
    browser.click(*box)
    view = browser.evaluate("""(async () => {
      const img = document.getElementById('vimg');
      if (!img.complete) await new Promise((r) => img.addEventListener('load', r, {once: true}));
      const r = img.getBoundingClientRect();
      return {open: !document.getElementById('viewer').hidden, natural: [img.naturalWidth, img.naturalHeight],
              shown: [r.width, r.height], rendering: getComputedStyle(img).imageRendering};
    })()""")
    check(view["open"] and view["natural"] == [256, 64] and view["shown"] == [256, 64],
          "1:1 shows the full-size picture pixel for pixel: %s" % view)
    check(view["rendering"] == "pixelated", "nearest-neighbour scaling: %s" % view["rendering"])
    button = browser.evaluate("""(() => { const r = document.querySelector('[data-zoom="2"]').getBoundingClientRect();
                                 return [r.x + r.width / 2, r.y + r.height / 2]; })()""")
    browser.click(*button)
    shown = browser.evaluate("(() => { const r = document.getElementById('vimg').getBoundingClientRect(); "
                             "return [r.width, r.height]; })()")
    check(shown == [512, 128], "2:1 doubles the picture: %s" % shown)
    browser.key("Escape", "Escape", 27)
    check(browser.evaluate("document.getElementById('viewer').hidden"), "Escape closes the viewer")
    check(browser.errors() == [], "no script or console error: %s" % browser.errors())

finish("gallery: every check passed (%.1f s)" % (time.monotonic() - started))
