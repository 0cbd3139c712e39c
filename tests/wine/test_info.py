"""The plug-ins answer the host's information, count and type queries."""
import unittest

from pvrhost import EXPORT_PLUGIN, IMPORT_PLUGIN, info

DESCRIPTOR = "pvz;pvr|Zelvanis PVZ|PC用ゼルヴァニスPVZファイル"


class Info(unittest.TestCase):
    def check(self, answer, kind, names):
        self.assertEqual((answer["kind"], answer["count"], answer["type"]), (kind, 1, DESCRIPTOR))
        self.assertEqual(sorted(answer["exports"]), sorted(names))
        for name, export in answer["exports"].items():
            self.assertTrue(export["found"] and export["decorated_same_address"], name)
        # Both texts stay within the host's buffer and pad a shorter copy with
        # zeros; every export removed its own arguments (stdcall).
        self.assertTrue(answer["info_copy_bounded"] and answer["type_copy_bounded"])
        self.assertEqual(answer["stack_imbalance"], [])

    def test_import_plugin(self):
        answer = info(IMPORT_PLUGIN)
        self.assertTrue(answer["type_returns_buffer"] and answer["info"])
        self.check(answer, 2, ["PB_GetPluginInfo", "PBI_GetCount", "PBI_GetSupportedType", "PBI_Execute"])

    def test_export_plugin(self):
        answer = info(EXPORT_PLUGIN)
        self.assertEqual(answer["format"], 0x3C)
        self.check(answer, 3, ["PB_GetPluginInfo", "PBE_GetCount", "PBE_GetSupportedType", "PBE_GetSupportedFormat",
                               "PBE_Execute"])


if __name__ == "__main__":
    unittest.main()
