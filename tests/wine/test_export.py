"""The export plug-in in the reference host: refusals, every pair the settings
dialog offers, the dialog's presets and the container chosen by the path. The
files written are compared byte for byte with what the export core writes
natively for the same host image (tests/tools/export_reference)."""
import os
import unittest

import exports as ex
from exports import ExportCase

SIZES = [(128, 128), (256, 128), (128, 256)]


class Refusals(ExportCase):
    def refused(self, width, height, options, status, messages, dialogs):
        """Exports a picture of one colour (or an indexed one for width None)
        with `options`: the export gives `status`, shows `messages` (see
        assertMessages), opens `dialogs` dialogs and reads and writes nothing."""
        picture = self.picture("p.png")
        if width is None:
            ex.write_indexed(picture, 128, 128, ex.palette_colours(16, 1))
        else:
            ex.write_direct(picture, width, height, lambda x, y: 0xFF336699)
        report = self.export_image(picture, self.target("a.pvz"), *options)
        self.assertEqual(report["status"], status)
        self.assertMessages(report, *messages)
        self.assertEqual((len(report["dialogs"]), report["calls"]["get_pixel"]), (dialogs, 0))
        self.assertNothingWritten()

    def test_refusals(self):
        place = ("--left", 16, "--top", 32)
        # A size no texture holds, refused before the dialog and before the
        # layer count is looked at; a size the chosen type does not take,
        # refused on OK (the dialog says why and stays open, the host then
        # cancels); a second layer; the dialog cancelled; no layer at all.
        cases = [
            ((65536, 1), place + ("--layers", 2), 4,
             [(ex.PICTURE_SIZE_MESSAGE, ex.SIZE_CAPTION % (65536, 1, 16, 32), ex.MB_OK, "host")], 0),
            ((100, 100), place + ("--type", 1), 7,
             [(ex.LAYOUT_SIZE_MESSAGE, ex.SIZE_CAPTION % (100, 100, 16, 32), ex.MB_OK, "settings-dialog")], 1),
            ((128, 128), ("--layers", 2), 7, [(ex.LAYERS_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "host")], 0),
            ((None, None), ("--type", 7, "--dialog", "cancel"), 7, [], 1),
            ((128, 128), ("--no-layer",), 4, [], 0),
        ]
        for (width, height), options, status, messages, dialogs in cases:
            with self.subTest(options=options):
                self.refused(width, height, options, status, messages, dialogs)

    def test_every_size_its_type_takes_passes(self):
        # A rectangle of any size, twiddled strips and squares outside 128 to 1024.
        for number, (width, height, data_type) in enumerate([(640, 480, 9), (100, 100, 9), (2048, 128, 1),
                                                              (64, 64, 13)]):
            with self.subTest(width=width, height=height):
                picture = self.picture("s%d.png" % number)
                ex.write_direct(picture, width, height, lambda x, y: ex.any_colour(x // 8, y))
                name = "s%d.pvz" % number
                report = self.export_image(picture, self.target(name), "--type", data_type, "--color", 2)
                self.assertEqual(report["status"], 0)
                self.assertEqual(ex.read(os.path.join(self.out, name)), self.reference(picture, name, data_type, 2)[name])


class Pairs(ExportCase):
    """Every DataType and ColorFormat the dialog offers, chosen in the dialog."""

    def run_pair(self, number, data_type, color_format):
        width, height = SIZES[number % len(SIZES)]
        extension = (".pvr", ".pvz")[number % 2]
        global_index = (number * 2731) % 65536 if number != 7 else 65535
        index_data = data_type in ex.PALETTISED or color_format in (5, 6)
        picture = self.picture("pair%d.png" % number)
        options = []
        if index_data:
            small = data_type == 5 or color_format == 5
            ex.write_indexed(picture, width, height, ex.palette_colours(16 if small else 200, number), number)
            if number % 3 == 0:
                options = ["--transparent", 3]
        else:
            ex.write_direct(picture, width, height, lambda x, y: ex.any_colour(x, y, number))
        name = "t%d_%d%s" % (data_type, color_format, extension)
        report = self.export_image(picture, self.target(name), "--type", data_type, "--color", color_format,
                                   "--id", global_index, *options)
        self.assertEqual(len(report["dialogs"]), 1)

        if (data_type, color_format) in ex.REFUSED:
            # The dialog refuses OK with a message of its own; the host then cancels.
            self.assertEqual(report["status"], 7)
            self.assertMessages(report, (ex.PAIR_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "settings-dialog"))
            self.assertEqual(report["calls"]["get_pixel"], 0)
            self.assertNothingWritten()
            return

        self.assertEqual((report["status"], report["messages"]), (0, []))
        self.assertPixelsReadOnce(report, width, height, index_data)
        written = ex.listing(self.out)
        self.assertEqual(set(written), {name, name[:-4] + ".pvp"} if data_type in ex.PALETTISED else {name})
        self.assertHeader(written[name], extension == ".pvz", data_type, color_format, global_index, width, height)
        reference = self.reference(picture, name, data_type, color_format, global_index, *options)
        self.assertEqual(written, reference)

    def run_pairs(self, data_types):
        number = 0
        for data_type in (1, 5, 7, 9, 13):
            for color_format in (0, 1, 2, 5, 6):
                number += 1
                if data_type in data_types:
                    with self.subTest(data_type=data_type, color_format=color_format):
                        self.run_pair(number, data_type, color_format)
                        self.clear_out()

    def test_twiddled(self):
        self.run_pairs((1, 13))

    def test_palettised(self):
        self.run_pairs((5, 7))

    def test_rectangle(self):
        self.run_pairs((9,))


class Palettes(ExportCase):
    """The .pvp file from each host colour mode."""

    def export_palette(self, picture, data_type, color_format, *options):
        report = self.export_image(picture, self.target("p.pvz"), "--type", data_type, "--color", color_format,
                                   *options)
        self.assertEqual(report["status"], 0)
        written = ex.listing(self.out)
        self.assertEqual(written, self.reference(picture, "p.pvz", data_type, color_format, 0, *options))
        return ex.palette_entries(written["p.pvp"])

    def test_grey_and_two_colour_images_give_their_colours(self):
        # Opaque, as the picture shows them: 32 grey levels on the ARGB1555 grid.
        picture = self.picture("grey.png")
        ex.write_direct(picture, 128, 128, lambda x, y: 0xFF000000 | (x + y) % 256 * 0x010101)
        entries = self.export_palette(picture, 7, 0, "--mode", "grey")
        self.assertEqual(entries, [ex.pack(0, 0xFF000000 | g * 8 * 0x010101) for g in range(32)] + [0] * 96)
        picture = self.picture("two.png")
        ex.write_direct(picture, 128, 128, lambda x, y: 0xFFFFFFFF if (x ^ y) & 4 else 0xFF000000)
        entries = self.export_palette(picture, 7, 2, "--mode", "two")
        self.assertEqual(entries, [0xF000, 0xFFFF] + [0] * 126)

    def test_direct_image_keeps_the_palette_beside_or_gets_one_made(self):
        picture = self.picture("direct.png")
        ex.write_direct(picture, 128, 128, ex.any_colour)
        entries = self.export_palette(picture, 5, 1)
        self.assertEqual(len(set(entries)), 16)   # a palette made for it, never an empty one
        # A picture whose colours all stand in the .pvp beside the target
        # keeps that file as it is.
        kept = [ex.pack(1, c) for c in ex.palette_colours(16, 3, 1)]
        pvp = ex.palette_file(kept[::-1])
        with open(self.target("p.pvp"), "wb") as f:
            f.write(pvp)
        ex.write_direct(picture, 128, 128, lambda x, y: ex.grid_colour(1, kept[(x * 7 + y) % 16]))
        report = self.export_image(picture, self.target("p.pvz"), "--type", 5, "--color", 1)
        self.assertEqual(report["status"], 0)
        self.assertTrue(ex.read(self.target("p.pvp")) == pvp, "the palette beside changed")

    def test_transparent_index_and_opaque_entries(self):
        picture = self.picture("indexed.png")
        colours = ex.palette_colours(16, 9)
        ex.write_indexed(picture, 128, 128, colours)
        entries = self.export_palette(picture, 7, 2, "--transparent", 5)
        expected = [ex.pack(2, c if i != 5 else c & 0xFFFFFF) for i, c in enumerate(colours)] + [0] * 112
        self.assertEqual(entries, expected)
        # A palette PNG with tRNS hands the host each entry's alpha (bAlpha
        # set), and the export writes it back, alpha levels included.
        for alphas, option in (({7: 0}, []), ({7: 0, 9: 0x80}, ["--transparent", 2])):
            with self.subTest(alphas=alphas):
                marked = [c & 0xFFFFFF | alphas.get(i, 0xFF) << 24 for i, c in enumerate(colours)]
                ex.write_indexed(picture, 128, 128, marked)
                entries = self.export_palette(picture, 7, 2, *option)
                self.assertEqual(entries, [ex.pack(2, c) for c in marked] + [0] * 112)

    def test_layer_placed_in_the_image(self):
        picture = self.picture("placed.png")
        ex.write_indexed(picture, 128, 256, ex.palette_colours(256, 4), 4)
        report = self.export_image(picture, self.target("p.pvz"), "--type", 7, "--color", 1,
                                   "--left", 16, "--top", 32)
        self.assertEqual(report["status"], 0)
        self.assertPixelsReadOnce(report, 128, 256, True)
        self.assertEqual(ex.listing(self.out),
                         self.reference(picture, "p.pvz", 7, 1, 0, "--left", 16, "--top", 32))


def tag(data_type, color_format, global_index):
    return "Layer 1 !#TYPE:%d, #COLOR:%d, #ID:%d" % (data_type, color_format, global_index)


class SettingsDialog(ExportCase):
    """The state the dialog opens with, and what OK then writes."""

    def setUp(self):
        super().setUp()
        self.indexed = self.picture("indexed.png")
        ex.write_indexed(self.indexed, 128, 128, ex.palette_colours(16, 2))

    def open_dialog(self, name, *options):
        report = self.export_image(self.indexed, self.target(name), *options)
        self.assertEqual(len(report["dialogs"]), 1)
        return report, report["dialogs"][0]

    def assertDialog(self, dialog, data_type, color_format, id_text, file_radio, tag_radio):
        """file_radio / tag_radio: (enabled, checked, text)."""
        radios = [(r["enabled"], r["checked"], r["text"]) for r in (dialog["radios"]["112"], dialog["radios"]["111"])]
        self.assertEqual((dialog["caption"], dialog["data_type"], dialog["color_format"], dialog["id"], radios),
                         (ex.DIALOG_CAPTION, ex.DATA_TYPE_LABELS[data_type], ex.COLOR_FORMAT_LABELS[color_format],
                          id_text, [file_radio, tag_radio]))

    def assertWritten(self, name, data_type, color_format, global_index):
        written = ex.listing(self.out)
        self.assertHeader(written[name], not name.endswith(".pvr"), data_type, color_format, global_index,
                          128, 128)
        self.assertEqual(written, self.reference(self.indexed, name, data_type, color_format, global_index))

    def test_presets(self):
        # No preset; a file name's, in any letter case; a layer tag's; a tag
        # marker without keys selects the defaults; a tag wins over the file
        # name, and a click on either radio switches (the dialog opened as the
        # tag says).
        off_file, off_tag = (False, False, ex.FILE_RADIO), (False, False, ex.TAG_RADIO)
        on_tag, map_file = (True, True, ex.TAG_RADIO), (True, False, ex.FILE_RADIO + "  [map_world.pvr]")
        map_tag = ("--layer-name", tag(9, 1, 42))
        cases = [("plain.pvz", (), (1, 0, 0), None, off_file, off_tag),
                 ("Font_Main.pvr", (), (7, 0, 1900), None, (True, True, ex.FILE_RADIO + "  [font_main.pvr]"), off_tag),
                 ("t.pvz", ("--layer-name", tag(13, 2, 777)), (13, 2, 777), None, off_file, on_tag),
                 ("n.pvz", ("--layer-name", "Layer 1 !#note"), (1, 0, 0), None, off_file, on_tag),
                 ("map_world.pvr", map_tag, (9, 1, 42), None, map_file, on_tag),
                 ("map_world.pvr", map_tag + ("--click", "file"), (9, 1, 42), (7, 2, 1916), map_file, on_tag),
                 ("map_world.pvr", map_tag + ("--click", "tag"), (9, 1, 42), None, map_file, on_tag)]
        for name, options, shown, written, file_radio, tag_radio in cases:
            with self.subTest(name=name, options=options):
                report, dialog = self.open_dialog(name, *options)
                self.assertDialog(dialog, shown[0], shown[1], str(shown[2]), file_radio, tag_radio)
                self.assertEqual(report["status"], 0)
                self.assertWritten(name, *(written or shown))
                self.clear_out()

    def test_tag_of_a_palettised_import_is_refused_until_changed(self):
        report, dialog = self.open_dialog("pal.pvz", "--layer-name", tag(5, 5, 3))
        self.assertDialog(dialog, 5, 5, "3", (False, False, ex.FILE_RADIO), (True, True, ex.TAG_RADIO))
        self.assertEqual(report["status"], 7)
        self.assertMessages(report, (ex.PAIR_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "settings-dialog"))
        self.assertNothingWritten()
        # The user picks a colour format for the palette entries: written.
        report, _ = self.open_dialog("pal.pvz", "--layer-name", tag(5, 5, 3), "--color", 2)
        self.assertEqual(report["status"], 0)
        self.assertWritten("pal.pvz", 5, 2, 3)

    def test_typed_id_keeps_all_32_bits(self):
        for typed, stored in (("65548", 65548), ("-1", 0xFFFFFFFF), ("12abc", 12), ("4294967295", 0xFFFFFFFF)):
            with self.subTest(typed=typed):
                report, _ = self.open_dialog("id.pvr", "--id", typed)
                self.assertEqual(report["status"], 0)
                texture = ex.read(self.target("id.pvr"))
                self.assertEqual(texture[8:12], stored.to_bytes(4, "little"))
        # No ID is cut: one beyond 32 bits is refused on OK, and the host then cancels.
        report, _ = self.open_dialog("big.pvr", "--id", "4294967296")
        self.assertEqual(report["status"], 7)
        self.assertMessages(report, (ex.ID_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "settings-dialog"))


class Containers(ExportCase):
    """A path whose last three characters are "pvr" in any letter case is
    written raw, as the import reads it; any other as a PVZ container."""

    def test_path_tells_the_container(self):
        picture = self.picture("p.png")
        ex.write_direct(picture, 128, 128, ex.any_colour)
        for name, pvz in (("a.pvr", False), ("a.PVR", False), ("a.Pvr", False), ("a.pvz", True), ("a.tex", True)):
            with self.subTest(name=name):
                report = self.export_image(picture, self.target(name), "--type", 1, "--color", 1)
                self.assertEqual(report["status"], 0)
                written = ex.listing(self.out)
                self.assertEqual(set(written), {name})
                self.assertHeader(written[name], pvz, 1, 1, 0, 128, 128)
                self.assertEqual(written, self.reference(picture, name, 1, 1))
                os.remove(self.target(name))


if __name__ == "__main__":
    unittest.main()
