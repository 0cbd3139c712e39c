"""Runs the reference host under Wine for the end-to-end tests."""
import json
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WIN64 = os.environ.get("OMBR_WIN64_DIR", os.path.join(ROOT, "build", "win64"))
IMPORT_PLUGIN = os.path.join(WIN64, "ombrin.ppi")
EXPORT_PLUGIN = os.path.join(WIN64, "ombrout.ppi")
KILLED = 128 + 9   # the launcher's exit status when the host was killed


def run(*args, timeout=120):
    """Runs scripts/pvrhost with the given arguments; returns the finished process."""
    env = dict(os.environ, PVRHOST_EXE=os.path.join(WIN64, "pvrhost.exe"))
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
        """Runs `pvrhost command args... --report R` and returns the report."""
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
