"""The reference host itself, driven by a test plug-in that misbehaves on request."""
import json
import os
import struct
import time
import unittest

from pvrhost import BUILD, MACHINE, HostCase, access_violation_codes, info, run

TEST_PLUGIN = os.path.join(BUILD, "pvrhost_testplugin.ppi")
CDECL_PLUGIN = os.path.join(BUILD, "pvrhost_testplugin_cdecl.ppi")


class Host(HostCase):
    def setUp(self):
        super().setUp()
        for plugin in (TEST_PLUGIN, CDECL_PLUGIN):
            self.assertTrue(os.path.isfile(plugin), "%s not found: build it (scripts/build win32)" % plugin)

    def texture(self, name):
        """An empty file: the test plug-in only looks at the name."""
        path = self.path(name)
        open(path, "wb").close()
        return path

    def run_plugin(self, name, *options):
        return self.host("import", TEST_PLUGIN, self.texture(name), *options)

    def test_info_reads_both_export_names(self):
        answer = info(TEST_PLUGIN)
        self.assertEqual((answer["kind"], answer["count"]), (2, 1))
        self.assertEqual(answer["type"], "tst|Test|テスト用")
        self.assertTrue(all(e["decorated_same_address"] for e in answer["exports"].values()))
        self.assertTrue(answer["info_copy_bounded"] and answer["type_copy_bounded"])

    def test_services_pixels_and_progress(self):
        raw = self.path("pixels.raw")
        report = self.run_plugin("plain.tst", "--raw", raw, "--layer-name", "レイヤー 1")
        image, calls = report["image"], report["calls"]
        self.assertEqual((report["status"], image["created"], image["width"], image["height"], image["layer_name"]),
                         (0, "direct", 2, 2, "レイヤー 1"))
        with open(raw, "rb") as f:
            self.assertEqual(struct.unpack("<4I", f.read()), (0, 0, 0, 0x80112233))
        self.assertEqual([calls[k] for k in ("begin_progress", "step_progress", "end_progress", "set_pixel",
                                             "bad_slots", "pixels_outside")], [[[0, 2]], [0, 1], 1, 1, [], 0])

    def test_misuse_is_reported(self):
        self.assertEqual(self.run_plugin("slots.tst")["calls"]["bad_slots"],
                         ["slot 0", "slot 1", "slot 2", "slot 5", "slot 8"])
        self.assertEqual(self.run_plugin("outside.tst")["calls"]["pixels_outside"], 2)

    def test_messages_keep_text_caption_flags_and_owner(self):
        report = self.run_plugin("messages.tst")
        self.assertEqual(report["status"], 0)
        self.assertEqual(report["messages"], [
            {"text": "テスト", "caption": "キャプション", "flags": 0x10, "owned": True, "wide": False},
            {"text": "layer null", "caption": "", "flags": 0, "owned": False, "wide": False},
        ])
        self.assertEqual(report["message_owners"], ["host", "none"])

    def test_open_file_dialog_answers(self):
        offered = self.path("open.pvp")
        report = self.run_plugin("open.tst")
        dialog, = report["dialogs"]
        self.assertEqual((report["status"], dialog["kind"], dialog["result"], dialog["owner_is_host"],
                          dialog["filter"]), (7, "open-file", 0, True, "pvp|*.pvp|"))
        self.assertTrue(dialog["file_name"].endswith("\\open.pvp"), dialog["file_name"])

        chosen = self.texture("chosen.pvp")
        report = self.run_plugin("open.tst", "--palette-dialog", chosen)
        self.assertEqual((report["status"], report["dialogs"][0]["result"]), (0, 1))
        self.assertTrue(report["dialogs"][0]["chosen"].endswith("\\chosen.pvp"))

        # A file that does not exist is refused by the dialog; the host then
        # cancels instead of offering it forever.
        self.assertFalse(os.path.exists(offered))
        report = self.run_plugin("open.tst", "--palette-dialog", self.path("missing.pvp"))
        self.assertEqual((report["status"], report["dialogs"][0]["result"]), (7, 0))

    def test_oversized_picture_is_refused(self):
        report = self.run_plugin("huge.tst")
        self.assertEqual((report["status"], report["image"]["created"], report["image"]["create_refused"]),
                         (0, None, [[65535, 65535]]))

    def test_cdecl_exports_are_flagged(self):
        # A 32-bit export that leaves its arguments on the stack is reported
        # with the bytes it left, once a call; the host runs on. A 64-bit
        # process has one calling convention: nothing to report.
        def left(name, arguments, calls):
            return [{"call": name, "bytes": arguments}] * calls if MACHINE == "i386" else []

        answer = info(CDECL_PLUGIN)
        self.assertEqual((answer["kind"], answer["count"], answer["type"]), (2, 1, "tst|Test|テスト用"))
        self.assertEqual(answer["stack_imbalance"], left("PB_GetPluginInfo", 8, 2) + left("PBI_GetSupportedType", 12, 2))
        report = self.host_report("import", CDECL_PLUGIN, self.texture("plain.tst"))
        self.assertEqual((report["status"], report["calls"]["set_pixel"]), (0, 1))
        self.assertEqual(report["stack_imbalance"], left("PBI_Execute", 20, 1))
        self.assertEqual(info(TEST_PLUGIN)["stack_imbalance"], [])

    def test_crash_and_hang_end_the_host(self):
        report_path = self.path("crash.json")
        done = run("import", TEST_PLUGIN, self.texture("crash.tst"), "--report", report_path)
        self.assertEqual(done.returncode, 3, done.stdout + done.stderr)
        with open(report_path) as f:
            report = json.load(f)
        self.assertTrue(report["status"] is None and report["crash"]["in_plugin"])
        self.assertIn(report["crash"]["code"], access_violation_codes())

        start = time.monotonic()
        done = run("import", TEST_PLUGIN, self.texture("hang.tst"), "--timeout", "2")
        self.assertEqual(done.returncode, 4, done.stdout + done.stderr)
        self.assertLess(time.monotonic() - start, 30)


if __name__ == "__main__":
    unittest.main()
