"""The plug-ins answer the host's information, count and type queries."""
import unittest

from pvrhost import EXPORT_PLUGIN, IMPORT_PLUGIN, info

DESCRIPTOR = "pvz;pvr|Zelvanis PVZ|PC用ゼルヴァニスPVZファイル"


class Info(unittest.TestCase):
    def check_exports(self, answer, names):
        self.assertEqual(sorted(answer["exports"]), sorted(names))
        for name, export in answer["exports"].items():
            self.assertTrue(export["found"], name)
            self.assertTrue(export["decorated_same_address"], name)
        # Both texts stay within the host's buffer and pad a shorter copy with zeros.
        self.assertTrue(answer["info_copy_bounded"])
        self.assertTrue(answer["type_copy_bounded"])
        # Every export removed its own arguments (stdcall).
        self.assertEqual(answer["stack_imbalance"], [])

    def test_import_plugin(self):
        answer = info(IMPORT_PLUGIN)
        self.assertEqual(answer["kind"], 2)
        self.assertEqual(answer["count"], 1)
        self.assertEqual(answer["type"], DESCRIPTOR)
        self.assertTrue(answer["type_returns_buffer"])
        self.assertTrue(answer["info"])
        self.check_exports(answer, ["PB_GetPluginInfo", "PBI_GetCount", "PBI_GetSupportedType", "PBI_Execute"])

    def test_export_plugin(self):
        answer = info(EXPORT_PLUGIN)
        self.assertEqual(answer["kind"], 3)
        self.assertEqual(answer["count"], 1)
        self.assertEqual(answer["type"], DESCRIPTOR)
        self.assertEqual(answer["format"], 0x3C)
        self.check_exports(answer, ["PB_GetPluginInfo", "PBE_GetCount", "PBE_GetSupportedType",
                                    "PBE_GetSupportedFormat", "PBE_Execute"])


if __name__ == "__main__":
    unittest.main()
