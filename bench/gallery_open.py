#!/usr/bin/python3
"""How quickly a gallery of many textures is made and opens in Chromium.

Makes COUNT textures (copies of a few dozen distinct ones, of several layouts
and sizes, palettes beside the palettised ones) in folders of 500, times
`ombr gallery` over them (every texture, then again with nothing changed),
then opens the page RUNS times in headless Chromium and reads, through the
DevTools protocol, when the DOM was ready (the cards are built by then), the
first paint, when the thumbnails of the first screen had all loaded, the
work of the page (script, style, layout), and how long a filter takes.

usage: gallery_open.py OMBR MAKE_TEXTURE WORK_DIR [--count 5000] [--runs 5]
Needs Debian's python3-websocket and chromium (scripts/setup); never a test.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
import cdp  # noqa: E402

ombr, make_texture, work = sys.argv[1:4]
count = int(sys.argv[sys.argv.index("--count") + 1]) if "--count" in sys.argv else 5000
runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5

# A few dozen distinct textures of the layouts a game uses most.
kinds = [(1, 0), (1, 1), (1, 2), (5, 2), (7, 0), (7, 1), (9, 1), (3, 1), (13, 2), (2, 1)]
sizes = [(32, 32), (64, 64), (128, 128), (256, 256), (128, 64), (256, 128)]
shutil.rmtree(work, ignore_errors=True)
source = os.path.join(work, "source")
os.makedirs(source)
distinct = []
for n in range(60):
    data_type, color = kinds[n % len(kinds)]
    w, h = sizes[n % len(sizes)]
    if data_type in (2, 3):
        h = w
    path = os.path.join(source, "t%02d.pvz" % n)
    subprocess.run([make_texture, "pvz", path, "--type", str(data_type), "--color", str(color), "--size",
                    "%dx%d" % (w, h), "--id", str(n), "--seed", str(n)], check=True)
    if data_type in (5, 7):
        subprocess.run([make_texture, "palette", path[:-4] + ".pvp", "--count", "16" if data_type == 5 else "256",
                        "--seed", str(n)], check=True)
    distinct.append(path)
textures = os.path.join(work, "textures")
for i in range(count):
    folder = os.path.join(textures, "dir%02d" % (i // 500))
    os.makedirs(folder, exist_ok=True)
    original = distinct[i % len(distinct)]
    shutil.copyfile(original, os.path.join(folder, "ob%04d.pvz" % i))
    if os.path.exists(original[:-4] + ".pvp"):
        shutil.copyfile(original[:-4] + ".pvp", os.path.join(folder, "ob%04d.pvp" % i))

out = os.path.join(work, "gallery")
timings = {}
for label in ("first run", "second run (nothing changed)"):
    started = time.monotonic()
    r = subprocess.run([ombr, "gallery", textures, "-r", "-o", out], capture_output=True, text=True, check=True)
    timings[label] = time.monotonic() - started
    print("ombr gallery, %s: %.2f s (%s)" % (label, timings[label], r.stdout.strip()), flush=True)
page_bytes = os.path.getsize(os.path.join(out, "index.html"))

# Set before the page's own script: when every thumbnail of the first screen
# has loaded (among the first 100 cards, which hold the first screen).
WATCH = """
window.__firstThumbnails = new Promise((resolve) => {
  const look = () => {
    const images = [...document.querySelectorAll('#grid img')].slice(0, 100)
      .filter((i) => { const r = i.getBoundingClientRect(); return r.bottom > 0 && r.top < innerHeight; });
    if (images.length && images.every((i) => i.complete && i.naturalWidth > 0)) resolve(performance.now());
    else requestAnimationFrame(look);
  };
  requestAnimationFrame(look);
});
"""
MEASURE = """(async () => {
  const first = await window.__firstThumbnails;
  const nav = performance.getEntriesByType('navigation')[0];
  const paint = performance.getEntriesByType('paint').find((p) => p.name === 'first-contentful-paint');
  const frame = () => new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
  const field = document.getElementById('fname');
  let t = performance.now();
  field.value = 'ob00'; field.dispatchEvent(new Event('input')); await frame();
  const filter = performance.now() - t;
  t = performance.now();
  field.value = ''; field.dispatchEvent(new Event('input')); await frame();
  const unfilter = performance.now() - t;
  return {dcl: nav.domContentLoadedEventEnd, load: nav.loadEventEnd, fcp: paint ? paint.startTime : null,
          first: first, filter: filter, unfilter: unfilter, cards: document.querySelectorAll('.card').length};
})()"""

url = "file://" + os.path.abspath(os.path.join(out, "index.html"))
rows = []
with cdp.Browser(os.environ.get("OMBR_CHROMIUM", "chromium")) as browser:
    browser.call("Performance.enable")
    browser.call("Network.setCacheDisabled", cacheDisabled=True)
    browser.call("Page.addScriptToEvaluateOnNewDocument", source=WATCH)
    metrics = lambda: {m["name"]: m["value"] for m in browser.call("Performance.getMetrics")["metrics"]}
    for _ in range(runs):
        browser.navigate("about:blank")
        before = metrics()
        browser.navigate(url, timeout=120)
        row = browser.evaluate(MEASURE, timeout=120)
        after = metrics()
        spent = lambda k: (after[k] - before[k]) * 1000
        row.update(script=spent("ScriptDuration"), style=spent("RecalcStyleDuration"), layout=spent("LayoutDuration"))
        rows.append(row)

med = lambda k: statistics.median(r[k] for r in rows)
print("\n%d textures, index.html %.2f MB, %d cards in the page at once; medians of %d loads, in ms from the "
      "start of navigation:" % (count, page_bytes / 1e6, rows[0]["cards"], runs))
print("| DOM ready (cards built) | first paint | first screen of thumbnails | load event | filter (clear) | "
      "script / style / layout |")
print("|---|---|---|---|---|---|")
print("| %.0f | %.0f | %.0f | %.0f | %.0f (%.0f) | %.0f / %.0f / %.0f |" % (
    med("dcl"), med("fcp"), med("first"), med("load"), med("filter"), med("unfilter"), med("script"), med("style"),
    med("layout")))
print("goal: a gallery of %d textures opens (first screen of thumbnails) in under 2 s: %s"
      % (count, "met" if med("first") < 2000 else "MISSED"))
