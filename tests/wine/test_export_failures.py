"""The export plug-in when a file cannot be written, in the reference host:
a read-only texture or palette, a folder that does not exist, a folder in the
texture's place and a full disk. Each gives its code, leaves every file that
was there byte for byte as it was and leaves no staged file (~hhhh.tmp).

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

import exports as ex
from exports import ExportCase


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

    def export_fails(self, texture, code, *options):
        report = self.export_image(self.indexed, texture, *options)
        self.assertEqual(report["status"], code)
        self.assertEqual(report["messages"], [])
        return report

    def assertKept(self, folder, before):
        after = ex.listing(folder)
        self.assertEqual([n for n in after if os.path.basename(n).startswith("~")], [])   # staged "~hhhh.tmp"
        self.assertEqual(after, before)

    def test_read_only_texture(self):
        for name, data_type, color_format in (("a.pvz", 1, 0), ("a.pvr", 9, 2)):
            with self.subTest(name=name):
                before = self.old_files(self.out, name)
                read_only(self.target(name))
                self.export_fails(self.target(name), 3, "--type", data_type, "--color", color_format)
                self.assertKept(self.out, before)
                os.chmod(self.target(name), 0o644)
                os.remove(self.target(name))

    def test_read_only_palette(self):
        for name, data_type in (("a.pvz", 5), ("a.pvr", 7)):
            with self.subTest(name=name):
                before = self.old_files(self.out, name, "a.pvp")
                read_only(self.target("a.pvp"))
                self.export_fails(self.target(name), 5, "--type", data_type, "--color", 2)
                self.assertKept(self.out, before)
                os.chmod(self.target("a.pvp"), 0o644)
                for n in os.listdir(self.out):
                    os.remove(self.target(n))

    def test_read_only_texture_keeps_the_old_palette(self):
        # Both targets are checked before either is replaced.
        before = self.old_files(self.out, "a.pvz", "a.pvp")
        read_only(self.target("a.pvz"))
        self.export_fails(self.target("a.pvz"), 3, "--type", 7, "--color", 0)
        self.assertKept(self.out, before)
        os.chmod(self.target("a.pvz"), 0o644)

    def test_folder_that_does_not_exist(self):
        missing = self.target(os.path.join("missing", "a.pvz"))
        self.export_fails(missing, 3, "--type", 1)
        self.export_fails(missing, 5, "--type", 7)
        self.assertNothingWritten()

    def test_folder_in_the_textures_place(self):
        os.mkdir(self.target("a.pvz"))
        before = self.old_files(self.target("a.pvz"), "inside")
        self.export_fails(self.target("a.pvz"), 3, "--type", 13, "--color", 1)
        self.assertKept(self.out, {os.path.join("a.pvz", n): b for n, b in before.items()})


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

    def export_fails(self, name, code, *options):
        before = ex.listing(self.disk)
        report = self.export_image(self.indexed, os.path.join(self.disk, name), *options)
        self.assertEqual(report["status"], code)
        self.assertEqual(ex.listing(self.disk), before)

    def test_no_room_for_the_palette(self):
        self.fill(0)
        self.export_fails("a.pvz", 5, "--type", 7, "--color", 1)

    def test_small_container_on_a_full_disk(self):
        # A flat picture compresses to a container smaller than the C
        # library's buffer, so its write fails only when the file is flushed
        # and closed.
        flat = self.picture("flat.png")
        ex.write_direct(flat, 128, 128, lambda x, y: 0xFF204080)
        self.indexed = flat
        self.fill(0)
        self.export_fails("a.pvz", 3, "--type", 1, "--color", 1)

    def test_room_for_the_palette_but_not_the_texture(self):
        self.fill(8192)
        self.export_fails("a.pvz", 3, "--type", 7, "--color", 1)
        self.export_fails("b.pvr", 3, "--type", 1, "--color", 2)


if __name__ == "__main__":
    unittest.main()
