"""A texture written by ombrout and read again by ombrin gives back the same
pixels wherever nothing is lost on the way: palette indices, and colours that
already lie on the 16-bit grid of their ColorFormat; through both containers."""
import os
import unittest

import exports as ex
import textures
from exports import ExportCase

PVR, PVZ = ".pvr", ".pvz"
# A few pairs through the real plug-ins: each DataType the export writes, each
# ColorFormat and both containers once (every pair is the cores' round trip,
# in memory, in the unit tests).
CASES = [(1, 0, PVR), (13, 6, PVZ), (1, 5, PVR), (5, 1, PVZ), (7, 2, PVR), (9, 1, PVZ)]
SIZES = [(128, 128), (256, 128), (128, 256)]


class RoundTrip(ExportCase):
    def export_then_import(self, number, data_type, color_format, extension):
        """Exports a picture made for the pair, imports the texture again and
        returns (the import report, its pixels, what the picture held)."""
        width, height = SIZES[number % len(SIZES)]
        global_index = 100 + number
        picture = self.picture("case%d.png" % number)
        texture = self.target("case%d%s" % (number, extension))
        options = ["--type", data_type, "--color", color_format, "--id", global_index]
        if data_type in ex.PALETTISED or color_format in (5, 6):
            small = data_type == 5 or color_format == 5
            grid = color_format if data_type in ex.PALETTISED else None
            colours = ex.palette_colours(16 if small else (100 if number % 2 else 256), number, grid)
            # Two entries of one colour, as 16-colour palettes often have:
            # each pixel keeps its own index.
            colours[1] = colours[0]
            index = ex.write_indexed(picture, width, height, colours, number)
            expected = [index(x, y) for y in range(height) for x in range(width)]
            if data_type in ex.PALETTISED:
                options += ["--transparent", 3]
            else:
                # Index data without a palette of its own: the import takes
                # the .pvp beside the texture.
                with open(texture[:-4] + ".pvp", "wb") as f:
                    f.write(ex.palette_file([0] * (16 if small else 256)))   # entries of no matter
        else:
            colours = None

            def colour(x, y):
                return ex.grid_colour(color_format, ex.mix(x, y, number) & 0xFFFF)
            ex.write_direct(picture, width, height, colour)
            expected = [colour(x, y) for y in range(height) for x in range(width)]

        self.assertEqual(self.export_image(picture, texture, *options)["status"], 0)
        raw = self.path("case%d.raw" % number)
        back = self.import_texture(texture, "--raw", raw)
        image = back["image"]
        # The tag: DataType 5 and 7 say ColorFormat 5 and 6, and the palette's as #PAL.
        name = "Layer 1 !#TYPE:%d, #COLOR:%d, #ID:%d%s" % (
            data_type, {5: 5, 7: 6}.get(data_type, color_format), global_index,
            ", #PAL:%d" % color_format if data_type in (5, 7) else "")
        self.assertEqual((back["status"], back["messages"], image["width"], image["height"], image["layer_name"],
                          image["created"]),
                         (0, [], width, height, name, "direct" if colours is None else "indexed"))
        pixels = textures.read_words(raw)
        self.assertEqual(len(pixels), width * height)
        return back, pixels, expected, colours

    def check_case(self, number, data_type, color_format, extension):
        back, pixels, expected, colours = self.export_then_import(number, data_type, color_format, extension)
        self.assertTrue(pixels == expected, "pixels differ")
        if data_type in ex.PALETTISED:
            count = 16 if data_type == 5 else (128 if len(colours) <= 128 else 256)
            self.assertEqual(back["image"]["palette_count"], count)
            empty = ex.grid_colour(color_format, 0)
            want = [c & 0xFFFFFF if i == 3 and color_format != 1 else c for i, c in enumerate(colours)]
            want += [empty] * (count - len(colours))
            self.assertEqual(back["image"]["palette"][:count], want)

    def test_every_pair(self):
        for number, (data_type, color_format, extension) in enumerate(CASES):
            with self.subTest(data_type=data_type, color_format=color_format, container=extension):
                self.check_case(number, data_type, color_format, extension)

    def test_rgb565_palette_in_plain_pvr_is_written_as_read(self):
        # The import reads the palette of a plain .pvr with DataType 7 and
        # ColorFormat 1 as ARGB1555 (a .pvz keeps RGB565), and the export
        # writes it so: the picture's colours come back as ARGB1555 holds them.
        back, pixels, expected, colours = self.export_then_import(41, 7, 1, PVR)
        self.assertTrue(pixels == expected, "indices differ")
        self.assertEqual(back["image"]["palette_count"], 128)
        as_1555 = [ex.grid_colour(0, ex.pack(0, c & 0xFFFFFF if i == 3 else c)) for i, c in enumerate(colours)]
        self.assertEqual(back["image"]["palette"][:len(colours)], as_1555)

    def test_import_then_export_writes_the_same_files(self):
        # A user's round trip: a texture (laid out by the texture maker) and
        # its palette are opened, then saved again untouched with the
        # settings of the layer tag: the same bytes come back, .pvp included,
        # whatever the palette holds (alpha levels, several transparent
        # entries, entries of one colour, 128 entries), any ID, any size the
        # import reads, names in upper case. Every pair is the cores' test.
        # number (its size, ID and name case), DataType, ColorFormat, container
        cases = [(61, 1, 2, PVZ), (62, 7, 0, PVR), (64, 9, 1, PVR), (67, 13, 0, PVZ), (69, 5, 2, PVZ),
                 (71, 7, 1, PVZ)]
        for number, data_type, color_format, extension in cases:
            with self.subTest(data_type=data_type, color_format=color_format, container=extension):
                self.check_reopened(number, data_type, color_format, extension)
        with self.subTest(size="640 x 480"):
            self.check_reopened(99, 9, 2, ".PVR", (640, 480))

    def check_reopened(self, number, data_type, color_format, extension, size=None):
        width, height = size or SIZES[number % len(SIZES)]
        name = self.picture("tex%d%s" % (number, extension if number % 4 else extension.upper()))
        global_index = (0xFFFFFFFF - number, 0x10000 + number * 4099, number * 4099 % 65536)[number % 3]
        original = textures.Texture(name, data_type, color_format, width, height, global_index=global_index,
                                    seed=number, container=extension[1:].lower())
        palette = None
        if data_type in (5, 7):
            count = 16 if data_type == 5 else (128 if number % 4 == 2 else 256)
            if count == 128:
                # Indices within the 128 entries: the texture maker draws all 256.
                texture = bytearray(original.bytes())
                texture[32:] = bytes(b & 0x7F for b in texture[32:]) if extension == PVR else texture[32:]
                self.assertEqual(extension, PVR)
                with open(name, "wb") as f:
                    f.write(texture)
            entries = [ex.mix(i, number, 7) & 0xFFFF for i in range(count)]
            entries[5] = entries[2]   # two entries of one colour
            palette = ex.palette_file(entries)
            with open(name[:-4] + ".pvp", "wb") as f:
                f.write(palette)
        # The picture as the host saves it: a palette PNG of the host's own
        # palette, each entry's alpha and indices for an indexed picture, RGBA otherwise.
        picture = self.picture("tex%d.png" % number)
        back = self.import_texture(name, "--out", picture)
        self.assertEqual(back["status"], 0)
        image = back["image"]
        with open(picture, "rb") as f:
            self.assertEqual(f.read()[25], 3 if image["created"] == "indexed" else 6, "PNG colour type")
        again = self.target(os.path.basename(name).replace("tex", "again"))
        report = self.export_image(picture, again, "--layer-name", image["layer_name"], "--click", "tag")
        self.assertEqual(report["status"], 0)
        self.assertTrue(ex.read(again) == ex.read(name), "the texture differs")
        if palette is not None:
            self.assertTrue(ex.read(again[:-4] + ".pvp") == palette, "the palette differs")


if __name__ == "__main__":
    unittest.main()
