"""Runs the reference host under Wine for the end-to-end tests.

The tests run the plug-ins and the host of one build: OMBR_WINE_BUILD, by
default build/win32 (the 32-bit deliverables and the 32-bit host). The same
tests run the 64-bit twins with OMBR_WINE_BUILD=build/win64. What differs by
machine type comes from the plug-in's PE header (MACHINE), never from the
build's name."""
import json
import os
import re
import struct
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("OMBR_WINE_BUILD") or os.path.join(ROOT, "build", "win32")
IMPORT_PLUGIN = os.path.join(BUILD, "ombrin.ppi")
EXPORT_PLUGIN = os.path.join(BUILD, "ombrout.ppi")
HOST_EXE = os.path.join(BUILD, "pvrhost.exe")
KILLED = 128 + 9   # the launcher's exit status when the host was killed

PE_MACHINES = {0x014C: "i386", 0x8664: "amd64"}


def pe_machine(path):
    """'i386' or 'amd64', from the machine field of a PE file's header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    at = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[at:at + 4] != b"PE\0\0":
        raise AssertionError("%s is not a PE file" % path)
    machine = struct.unpack_from("<H", data, at + 4)[0]
    if machine not in PE_MACHINES:
        raise AssertionError("%s: unknown PE machine 0x%04X" % (path, machine))
    return PE_MACHINES[machine]


if not os.path.isfile(IMPORT_PLUGIN):
    raise AssertionError("%s not found: build it (scripts/build win32) or set OMBR_WINE_BUILD" % IMPORT_PLUGIN)
MACHINE = pe_machine(IMPORT_PLUGIN)
# OPENFILENAMEA without the three fields Windows 2000 added, the size the
# import hands the open-file dialog.
OPEN_FILE_NAME_400_SIZE = {"i386": 76, "amd64": 136}[MACHINE]


def access_violation_codes():
    """The exception codes a write through a null pointer may show: Windows
    reports 0xC0000005; where i386 programs run through QEMU's user-mode
    emulator, Wine sees 0xC000001D."""
    probe = subprocess.run([os.path.join(ROOT, "scripts", "i386-probe"), "-q"], capture_output=True, text=True)
    emulated = MACHINE == "i386" and probe.stdout.strip() == "emulated"
    return {"0xC0000005", "0xC000001D"} if emulated else {"0xC0000005"}


def run(*args, timeout=120):
    """Runs scripts/pvrhost with the given arguments; returns the finished process."""
    env = dict(os.environ, PVRHOST_EXE=HOST_EXE)
    return subprocess.run([os.path.join(ROOT, "scripts", "pvrhost")] + [str(a) for a in args],
                          capture_output=True, text=True, timeout=timeout, env=env)


def info(plugin):
    done = run("info", plugin)
    if done.returncode != 0:
        raise AssertionError("pvrhost info failed: " + done.stderr)
    return json.loads(done.stdout)


class HostCase(unittest.TestCase):
    """A test case with a scratch folder and helpers that run the host."""

    def setUp(self):
        self._scratch = tempfile.TemporaryDirectory(prefix="ombr-wine-")
        self.dir = self._scratch.name

    def tearDown(self):
        self._scratch.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    runs = 0

    def host(self, command, *args):
        """Runs `pvrhost command args... --report R` and returns the report,
        after checking that every call into the plug-in kept to stdcall."""
        answer = self.host_report(command, *args)
        self.assertEqual(answer["stack_imbalance"], [])
        return answer

    def host_report(self, command, *args):
        HostCase.runs += 1
        report = self.path("report-%d.json" % HostCase.runs)
        done = run(command, *args, "--report", report)
        printed = re.fullmatch(r"status (-?\d+)", done.stdout.strip())
        if done.returncode == KILLED and printed and os.path.isfile(report):
            # On a busy machine the Wine server may kill a process that has
            # ended but is slow to leave: the run was complete when it printed
            # its status and wrote the whole report.
            try:
                with open(report) as f:
                    answer = json.load(f)
                if answer.get("status") == int(printed.group(1)):
                    return answer
            except ValueError:
                pass
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(report) as f:
            return json.load(f)

    def import_texture(self, texture, *options):
        return self.host("import", IMPORT_PLUGIN, texture, *options)

    def export_image(self, png, texture, *options):
        return self.host("export", EXPORT_PLUGIN, png, texture, *options)
