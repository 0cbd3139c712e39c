"""The import plug-in turns .pvr and .pvz textures into host images, run in the reference host."""
import os
import struct
import unittest

from pvrhost import MACHINE, OPEN_FILE_NAME_400_SIZE, ROOT, HostCase, run
from textures import Texture, make_palette, unpack_color, windows_path, read_words

OFN_FILEMUSTEXIST = 0x1000


def tag(data_type, color, global_index, palette=None):
    # DataType 5 and 7 add the palette's ColorFormat as stored.
    text = " !#TYPE:%d, #COLOR:%d, #ID:%d" % (data_type, color, global_index)
    return text if palette is None else text + ", #PAL:%d" % palette


class ImportCase(HostCase):
    def run_import(self, texture_path, *options):
        """Imports a texture; returns the report and the host pixels (--raw)."""
        raw = self.path("pixels-%d.raw" % (HostCase.runs + 1))
        report = self.import_texture(texture_path, "--raw", raw, *options)
        return report, read_words(raw)

    def assert_pixels(self, pixels, expected, texture):
        """The host's pixels, row by row, equal `expected`; names the first difference."""
        self.assertEqual(len(pixels), len(expected), texture.path)
        wrong = [i for i, (a, b) in enumerate(zip(pixels, expected)) if a != b]
        if wrong:
            i = wrong[0]
            self.fail("%s: %d pixels differ, first at (%d, %d): %08X, expected %08X" % (
                texture.path, len(wrong), i % texture.width, i // texture.width, pixels[i], expected[i]))

    def assert_complete(self, report, pixels, texture, color_format=None):
        """Status 0, every pixel exact, the progress sequence, and no stray host calls."""
        image, calls = report["image"], report["calls"]
        self.assertEqual((report["status"], image["width"], image["height"]), (0, texture.width, texture.height))
        self.assert_pixels(pixels, texture.expected_pixels(color_format), texture)
        pixels = texture.width * texture.height if texture.decoded(color_format) else 0
        self.assertEqual({k: calls[k] for k in ("set_pixel", "begin_progress", "step_progress", "end_progress",
                                                "pixels_outside", "bad_slots", "get_pixel")},
                         {"set_pixel": pixels, "begin_progress": [[0, texture.height]], "end_progress": 1,
                          "step_progress": texture.expected_steps(color_format), "pixels_outside": 0,
                          "bad_slots": [], "get_pixel": 0})

    def assert_refused(self, report, status=4):
        """The image untouched: nothing created, tagged, written or shown."""
        image, calls = report["image"], report["calls"]
        self.assertEqual((report["status"], image["created"], image["layer_name"]), (status, None, "Layer 1"))
        self.assertEqual((calls["set_pixel"], calls["begin_progress"], calls["end_progress"]), (0, [], 0))
        self.assertEqual((report["messages"], report["dialogs"]), ([], []))


class DirectColour(ImportCase):
    """A few colour layouts through the plug-in, from .pvr and from .pvz, pixel for pixel (every
    layout is the unit tests' matrix): twiddled, rectangle, VQ with a mip chain, and a DataType
    without a decoder."""

    # DataType, (ColorFormat, width, height) as .pvr, the same as .pvz
    CASES = [
        (1, (0, 16, 8), (2, 8, 16)),
        (9, (1, 16, 8), (0, 8, 16)),
        (17, (2, 16, 16), (0, 32, 32)),
        (10, (1, 16, 8), (0, 8, 8)),
    ]

    def test_colour_layouts(self):
        for data_type, as_pvr, as_pvz in self.CASES:
            for ext, (cf, w, h) in (("pvr", as_pvr), ("pvz", as_pvz)):
                with self.subTest(data_type=data_type, container=ext):
                    index = data_type * 1000 + cf
                    tex = Texture(self.path("t%d.%s" % (data_type, ext)), data_type, cf, w, h,
                                  global_index=index, seed=data_type + 17 * cf)
                    report, pixels = self.run_import(tex.path)
                    self.assert_complete(report, pixels, tex)
                    image = report["image"]
                    self.assertEqual((image["created"], image["layer_name"], image["b_alpha"], image["palette_count"]),
                                     ("direct", "Layer 1" + tag(data_type, cf, index), 0 if cf == 1 else 1, 0))
                    self.assertEqual((report["messages"], report["dialogs"]), ([], []))

    def test_layer_tag_shows_the_global_index_signed(self):
        for index, text in ((0xFFFFFFFF, "-1"), (0x80000000, "-2147483648"), (0x7FFFFFFF, "2147483647")):
            with self.subTest(index=index):
                tex = Texture(self.path("id%d.pvz" % index), 9, 2, 8, 8, global_index=index)
                report, pixels = self.run_import(tex.path, "--layer-name", "Base")
                self.assert_complete(report, pixels, tex)
                self.assertEqual(report["image"]["layer_name"], "Base !#TYPE:9, #COLOR:2, #ID:" + text)

    def test_layer_null_is_told_and_the_import_goes_on(self):
        tex = Texture(self.path("nolayer.pvr"), 1, 2, 16, 16, global_index=5)
        report, pixels = self.run_import(tex.path, "--no-layer")
        self.assert_complete(report, pixels, tex)
        self.assertIsNone(report["image"]["layer_name"])
        message, = report["messages"]
        self.assertEqual((message["text"], message["caption"], message["flags"], message["owned"],
                          message.get("owner", "none")), ("layer null", "", 0, False, "none"))

    def test_bundled_sample(self):
        report, pixels = self.run_import(os.path.join(ROOT, "samples", "tiles.pvz"))
        image, calls = report["image"], report["calls"]
        self.assertEqual((report["status"], image["created"], image["width"], image["height"], image["layer_name"]),
                         (0, "direct", 256, 256, "Layer 1" + tag(1, 1, 1001)))
        self.assertEqual((calls["set_pixel"], calls["pixels_outside"], calls["step_progress"]),
                         (65536, 0, list(range(256))))
        # RGB565: every pixel written carries alpha 255.
        self.assertEqual(len(pixels), 65536)
        self.assertTrue(all(p >> 24 == 0xFF for p in pixels))
        self.assertGreater(len(set(pixels)), 100)


class Palettised(ImportCase):
    """Indexed layouts, their palette beside the texture, chosen in the dialog, or cancelled."""

    def check_palette(self, report, entries, color_format):
        image = report["image"]
        self.assertEqual(image["palette_count"], len(entries))
        expected = [unpack_color(color_format, e) for e in entries] + [0] * (256 - len(entries))
        self.assertEqual(image["palette"], expected)

    def test_palette_beside_the_texture(self):
        # DataType, ColorFormat, size, .pvr / .pvz, palette entries
        cases = [
            (5, 2, (16, 16), "pvr", 16),
            (5, 0, (16, 8), "pvz", 16),
            (7, 0, (16, 16), "pvr", 256),
            (7, 2, (8, 16), "pvz", 256),
            (7, 1, (16, 16), "pvz", 128),
        ]
        for data_type, cf, (w, h), ext, count in cases:
            with self.subTest(data_type=data_type, color_format=cf, container=ext):
                name = "p%d_%d.%s" % (data_type, cf, ext)
                tex = Texture(self.path(name), data_type, cf, w, h, global_index=data_type, seed=cf + 3)
                entries = make_palette(self.path(name[:-4] + ".pvp"), count, seed=data_type * 7 + cf)
                report, pixels = self.run_import(tex.path)
                self.assert_complete(report, pixels, tex)
                image = report["image"]
                self.assertEqual((image["created"], image["layer_name"], image["b_alpha"], report["dialogs"]),
                                 ("indexed", "Layer 1" + tag(data_type, 6 if data_type == 7 else 5, data_type, cf),
                                  0 if cf == 1 else 1, []))
                self.check_palette(report, entries, cf)

    def test_index_texels_under_the_colour_layouts(self):
        # 4-bit and 8-bit indices stored as DataType 1 / 13: the palette file
        # has no entry format, so the host palette stays as created.
        for data_type, cf, ext, count in ((1, 5, "pvr", 16), (13, 6, "pvz", 256)):
            with self.subTest(data_type=data_type, color_format=cf):
                name = "i%d.%s" % (data_type, ext)
                tex = Texture(self.path(name), data_type, cf, 16, 8, global_index=77)
                make_palette(self.path(name[:-4] + ".pvp"), count)
                report, pixels = self.run_import(tex.path)
                self.assert_complete(report, pixels, tex)
                image = report["image"]
                self.assertEqual((image["created"], image["palette_count"], image["palette"], image["layer_name"],
                                  report["dialogs"]),
                                 ("indexed", count, [0] * 256, "Layer 1" + tag(data_type, cf, 77), []))

    def test_plain_pvr_of_8bit_indices_reads_rgb565_palette_as_argb1555(self):
        for ext, read_as, b_alpha in (("pvr", 0, 1), ("pvz", 1, 0)):
            with self.subTest(container=ext):
                tex = Texture(self.path("rule.%s" % ext), 7, 1, 16, 16, global_index=3)
                entries = make_palette(self.path("rule.pvp"), 256, seed=9)
                report, pixels = self.run_import(tex.path)
                self.assert_complete(report, pixels, tex)
                self.assertEqual((report["image"]["b_alpha"], report["image"]["layer_name"]),
                                 (b_alpha, "Layer 1" + tag(7, 6, 3, 1)))
                self.check_palette(report, entries, read_as)
                # The file itself is never rewritten.
                self.assertEqual(tex.bytes()[24 + (4 if ext == "pvz" else 0)], 1)

    def assert_open_file_dialog(self, report, texture_path, chosen=None):
        """One open-file dialog, filled in as the plug-in must, offering the derived palette name."""
        dialog, = report["dialogs"]
        expected = {"kind": "open-file", "file_name": windows_path(texture_path[:-4] + ".pvp"),
                    "struct_size": OPEN_FILE_NAME_400_SIZE, "flags": OFN_FILEMUSTEXIST, "max_file": 260,
                    "owner_is_host": True, "filter": "pvp|*.pvp|", "def_ext": "pvp"}
        self.assertEqual({key: dialog.get(key) for key in expected}, expected)
        # What the dialog returned, where the host reports it.
        if "result" in dialog:
            self.assertEqual(dialog["result"], 0 if chosen is None else 1)
        if chosen is not None and "chosen" in dialog:
            self.assertEqual(dialog["chosen"], windows_path(chosen))

    def test_palette_chosen_in_the_open_file_dialog(self):
        tex = Texture(self.path("chosen.pvz"), 7, 2, 16, 16, global_index=12)
        os.mkdir(self.path("elsewhere"))
        chosen = self.path(os.path.join("elsewhere", "other.pvp"))
        entries = make_palette(chosen, 200, seed=4)
        report, pixels = self.run_import(tex.path, "--palette-dialog", chosen)
        self.assert_complete(report, pixels, tex)
        self.assert_open_file_dialog(report, tex.path, chosen)
        self.check_palette(report, entries, 2)

    def test_cancelled_palette_dialog(self):
        tex = Texture(self.path("cancel.pvr"), 5, 1, 16, 16, global_index=8)
        report, pixels = self.run_import(tex.path)
        self.assertEqual(report["status"], 7)
        self.assert_open_file_dialog(report, tex.path)
        image, calls = report["image"], report["calls"]
        self.assertEqual((image["created"], image["width"], image["height"], image["layer_name"],
                          image["palette_count"], image["b_alpha"], image["palette"]),
                         ("indexed", 16, 16, "Layer 1" + tag(5, 5, 8, 1), 16, 0, [0] * 256))
        self.assertEqual((calls["set_pixel"], calls["begin_progress"], calls["step_progress"],
                          calls["end_progress"]), (0, [], [], 0))
        self.assertEqual(pixels, [0] * 256)


class Paths(ImportCase):
    """The container follows the path's last three letters; overlong paths are refused."""

    def test_endings(self):
        # "pvr" in any case is plain, others .pvz; a plain texture under another
        # ending has its magics where a plain texture has them, so it is read as one.
        for name, data_type, container in (("A.PVR", 1, "pvr"), ("b.Pvr", 1, "pvr"), ("cpvr", 1, "pvr"),
                                           ("d.bin", 9, "pvz"), ("e.bin", 9, "pvr")):
            with self.subTest(name=name):
                tex = Texture(self.path(name), data_type, 0, 8, 8, container=container)
                report, pixels = self.run_import(tex.path)
                self.assert_complete(report, pixels, tex)

    def nested_path(self, length, leaf):
        """A new path under the scratch folder whose Windows form is `length` characters long."""
        need = length - len(windows_path(self.dir)) - 1 - len(leaf)   # "\seg\seg..." in between
        count = -(-need // 201)
        sizes = [(need - count) // count] * count
        sizes[0] += (need - count) % count
        folder = os.path.join(self.dir, *("d" * n for n in sizes))
        os.makedirs(folder)
        path = os.path.join(folder, leaf)
        self.assertEqual(len(windows_path(path)), length)
        return path

    def test_long_paths(self):
        ok = Texture(self.nested_path(259, "long.pvz"), 1, 1, 8, 8)
        report, pixels = self.run_import(ok.path)
        self.assert_complete(report, pixels, ok)
        for length in (260, 300):
            with self.subTest(length=length):
                tex = Texture(self.nested_path(length, "long.pvz"), 1, 1, 8, 8)
                self.assert_refused(self.import_texture(tex.path), status=2)


class Refusals(ImportCase):
    """Damaged files give 4 and leave the image as it was."""

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def test_damaged_files(self):
        # A few through the plug-in; every refusal is the unit tests' (ImportRefusals, ImportHostile).
        pvr = Texture(self.path("good.pvr"), 7, 2, 16, 16).bytes()
        pvz = Texture(self.path("good.pvz"), 1, 0, 16, 16).bytes()
        make_palette(self.path("bad_short_data.pvp"), 256)   # a palette would be found
        cases = {
            "short.pvr": pvr[:31],
            "bad_magic.pvz": pvz[:20] + b"PVRt" + pvz[24:],
            "bad_short_data.pvr": pvr[:-1],
            "short_stream.pvz": pvz[:-3],
        }
        for name, data in cases.items():
            with self.subTest(name=name):
                self.assert_refused(self.import_texture(self.write(name, data)))
        # A size field of 2 GiB costs no more than the layout reads: the
        # 32-bit plug-in opens it too.
        huge = bytearray(pvz)
        struct.pack_into("<I", huge, 0, 0x80000000)
        report = self.import_texture(self.write("huge_size.pvz", bytes(huge)))
        self.assertEqual(report["status"], 0)

    def test_missing_file(self):
        self.assert_refused(self.import_texture(self.path("absent.pvr")), status=2)


if __name__ == "__main__":
    unittest.main()
