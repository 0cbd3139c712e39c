"""The export plug-in when a file cannot be written, in the reference host:
a read-only texture or palette, a folder that does not exist, a folder in the
texture's place and a full disk. Each says which file and why in a message
box (through MessageBoxW, so any code page shows it), gives its code, leaves
every file that was there byte for byte as it was and leaves no staged file
(~hhhh.tmp). Under code page 1252 the plug-ins' messages and the settings
dialog show the same Japanese texts as under 932.

Read-only files: Wine shows a file without write permission bits as
FILE_ATTRIBUTE_READONLY (attrib shows R), so chmod a-w stands for the DOS
attribute. Run as root, Wine still opens such a file for writing and its
MoveFileEx replaces it, where Windows refuses; what protects the file here is
the plug-in's own check of the attribute before it replaces a target.

Full disk: a write that fails only when the C library's buffer is flushed
(files smaller than the buffer: every palette, a well-compressed container)
must be noticed too; Wine's fclose does not report it.

The disk is a small tmpfs mounted for the test (root can mount here); those
tests fail where mounting is not allowed, unless OMBR_NO_TMPFS=1 turns them off."""
import os
import stat
import subprocess
import unittest
from unittest import mock

import exports as ex
from exports import ExportCase
from pvrhost import ROOT
from textures import windows_path

FOLDER_MISSING = "「%s」を保存できません。フォルダーが見つかりません"
FOLDER_REFUSED = "「%s」を保存できません。フォルダーに書き込めないか、ディスクの空き容量が足りません"
TARGET_REFUSED = "「%s」を保存できません。ファイルが読み取り専用か、フォルダーか、ほかのプログラムが使用中です"


def said(report, text, path):
    """The one message box of a failed save: its text naming `path`."""
    return [(m["text"], m["caption"], m["flags"], m["wide"]) for m in report["messages"]] == [
        (text % windows_path(path), "ombrout.ppi", 0x10, True)]


def read_only(path):
    os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


class Failures(ExportCase):
    def setUp(self):
        super().setUp()
        self.indexed = self.picture("indexed.png")
        ex.write_indexed(self.indexed, 128, 128, ex.palette_colours(256, 5), 5)

    def old_files(self, folder, *names):
        for name in names:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"old " + name.encode() + bytes(range(256)))
        with open(os.path.join(folder, "neighbour.pvz"), "wb") as f:
            f.write(b"a neighbour")
        return ex.listing(folder)

    def export_fails(self, texture, code, message, named, *options):
        report = self.export_image(self.indexed, texture, *options)
        self.assertEqual(report["status"], code)
        self.assertTrue(said(report, message, named), report["messages"])
        self.assertEqual(report["message_owners"], ["host"])
        return report

    def assertKept(self, folder, before):
        after = ex.listing(folder)
        self.assertEqual([n for n in after if os.path.basename(n).startswith("~")], [])   # staged "~hhhh.tmp"
        self.assertEqual(after, before)

    def test_read_only_files(self):
        # Both targets are checked before either is replaced: a read-only
        # texture keeps the old palette too.
        for name, data_type, color_format, locked, code in (("a.pvz", 7, 0, "a.pvz", 3), ("a.pvr", 9, 2, "a.pvr", 3),
                                                            ("a.pvz", 5, 2, "a.pvp", 5), ("a.pvr", 7, 2, "a.pvp", 5)):
            with self.subTest(name=name, locked=locked):
                before = self.old_files(self.out, name, "a.pvp")
                read_only(self.target(locked))
                self.export_fails(self.target(name), code, TARGET_REFUSED, self.target(locked),
                                  "--type", data_type, "--color", color_format)
                self.assertKept(self.out, before)
                os.chmod(self.target(locked), 0o644)
                self.clear_out()

    def test_folder_that_does_not_exist(self):
        missing = self.target(os.path.join("missing", "a.pvz"))
        self.export_fails(missing, 3, FOLDER_MISSING, missing, "--type", 1)
        self.export_fails(missing, 5, FOLDER_MISSING, missing[:-4] + ".pvp", "--type", 7)
        self.assertNothingWritten()

    def test_folder_in_the_textures_place(self):
        os.mkdir(self.target("a.pvz"))
        before = self.old_files(self.target("a.pvz"), "inside")
        self.export_fails(self.target("a.pvz"), 3, TARGET_REFUSED, self.target("a.pvz"), "--type", 13, "--color", 1)
        self.assertKept(self.out, {os.path.join("a.pvz", n): b for n, b in before.items()})


class OtherCodePage(ExportCase):
    """The plug-ins in an English locale (ANSI code page 1252)."""

    def setUp(self):
        super().setUp()
        locale = mock.patch.dict(os.environ, {"OMBR_WINE_LANG": "en_US.UTF-8"})
        locale.start()
        self.addCleanup(locale.stop)

    def test_the_same_japanese_texts(self):
        indexed = self.picture("indexed.png")
        ex.write_indexed(indexed, 128, 128, ex.palette_colours(16, 2))
        # The dialog, its preset caption and a message it shows.
        report = self.export_image(indexed, self.target("font_main.pvr"), "--layer-name", "L !#TYPE:5, #COLOR:5, #ID:3")
        dialog, = report["dialogs"]
        self.assertEqual((dialog["caption"], dialog["data_type"], dialog["color_format"]),
                         (ex.DIALOG_CAPTION, "5 : Twiddled Pal(4bit)", "5 : Pal(4bit)"))
        self.assertEqual([dialog["radios"][i]["text"] for i in ("112", "111")],
                         [ex.FILE_RADIO + "  [font_main.pvr]", ex.TAG_RADIO])
        self.assertMessages(report, (ex.PAIR_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "settings-dialog"))
        # A message of the driver, and a failed save (an accented name of code page 1252).
        report = self.export_image(indexed, self.target("a.pvz"), "--layers", 2)
        self.assertMessages(report, (ex.LAYERS_MESSAGE, ex.EXPORT_CAPTION, ex.MB_ICONERROR, "host"))
        missing = self.target(os.path.join("dossier é", "a.pvz"))
        report = self.export_image(indexed, missing, "--type", 1)
        self.assertEqual(report["status"], 3)
        self.assertTrue(said(report, FOLDER_MISSING, missing), report["messages"])   # wide, as every failed save
        # The import's one message.
        report = self.import_texture(os.path.join(ROOT, "samples", "tiles.pvz"), "--no-layer")
        self.assertEqual([(m["text"], m["wide"]) for m in report["messages"]], [("layer null", True)])


class FullDisk(ExportCase):
    SIZE = 256 * 1024

    def setUp(self):
        super().setUp()
        self.disk = self.path("disk")
        os.mkdir(self.disk)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % self.SIZE, "tmpfs", self.disk],
                              capture_output=True, text=True)
        if done.returncode != 0:
            super().tearDown()
            # Only the README's switch turns this test off where mounting is not allowed.
            if os.environ.get("OMBR_NO_TMPFS") == "1":
                self.skipTest("OMBR_NO_TMPFS=1: the full-disk cases were not run")
            self.fail("cannot mount a tmpfs here (root needed; OMBR_NO_TMPFS=1 turns these cases off): " +
                      done.stderr.strip())
        self.mounted = True
        self.indexed = self.picture("indexed.png")
        ex.write_indexed(self.indexed, 128, 128, ex.palette_colours(256, 6), 6)
        for name in ("a.pvz", "a.pvp", "b.pvr"):
            with open(os.path.join(self.disk, name), "wb") as f:
                f.write(b"old " + name.encode() * 100)

    def tearDown(self):
        if getattr(self, "mounted", False):
            if subprocess.run(["umount", self.disk], capture_output=True).returncode != 0:
                subprocess.run(["umount", "-l", self.disk], capture_output=True)
        super().tearDown()

    def fill(self, leave):
        """Fills the disk up to `leave` free bytes."""
        free = os.statvfs(self.disk)
        room = free.f_bavail * free.f_frsize - leave
        with open(os.path.join(self.disk, "filler"), "wb") as f:
            f.write(bytes(max(room, 0)))
        if leave == 0:   # whatever the block rounding left
            try:
                with open(os.path.join(self.disk, "filler2"), "wb") as f:
                    f.write(bytes(65536))
            except OSError:
                pass

    def export_fails(self, name, code, named, *options):
        before = ex.listing(self.disk)
        report = self.export_image(self.indexed, os.path.join(self.disk, name), *options)
        self.assertEqual(report["status"], code)
        self.assertTrue(said(report, FOLDER_REFUSED, os.path.join(self.disk, named)), report["messages"])
        self.assertEqual(ex.listing(self.disk), before)

    def test_no_room_for_the_palette(self):
        self.fill(0)
        self.export_fails("a.pvz", 5, "a.pvp", "--type", 7, "--color", 1)

    def test_small_container_on_a_full_disk(self):
        # A flat picture compresses to a container smaller than the C
        # library's buffer, so its write fails only when the file is flushed
        # and closed.
        flat = self.picture("flat.png")
        ex.write_direct(flat, 128, 128, lambda x, y: 0xFF204080)
        self.indexed = flat
        self.fill(0)
        self.export_fails("a.pvz", 3, "a.pvz", "--type", 1, "--color", 1)

    def test_room_for_the_palette_but_not_the_texture(self):
        self.fill(8192)
        self.export_fails("a.pvz", 3, "a.pvz", "--type", 7, "--color", 1)
        self.export_fails("b.pvr", 3, "b.pvr", "--type", 1, "--color", 2)


if __name__ == "__main__":
    unittest.main()
