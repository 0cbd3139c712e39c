#!/usr/bin/env python3
"""Static checks of a 32-bit plug-in: PE32 format, every export under its plain
and its decorated name at one address, only Windows system DLLs imported, and
a version resource.

check_pe.py --version VERSION FILE...: every file's version resource names
that ProductVersion and FileVersion and one CompanyName and ProductName, in
each of its languages."""
import re
import subprocess
import sys

EXPORTS = {
    "ombrin.ppi": {"PB_GetPluginInfo": 8, "PBI_GetCount": 0, "PBI_GetSupportedType": 12, "PBI_Execute": 20},
    "ombrout.ppi": {"PB_GetPluginInfo": 8, "PBE_GetCount": 0, "PBE_GetSupportedType": 12,
                    "PBE_GetSupportedFormat": 4, "PBE_Execute": 20},
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comdlg32.dll", "msvcrt.dll", "gdi32.dll", "advapi32.dll"}


def main(objdump, path):
    name = path.replace("\\", "/").rsplit("/", 1)[-1]
    text = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    problems = []
    if "file format pei-i386" not in text:
        problems.append("not a PE32 (pei-i386) file")
    if not re.search(r"Characteristics 0x[0-9a-f]+\n(?:.*\n)*?\s+DLL\b", text):
        problems.append("not marked as a DLL")

    rvas = re.findall(r"\[\s*(\d+)\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", text)
    name_table = text.split("[Ordinal/Name Pointer] Table", 1)[-1].split("\n\n", 1)[0]
    names = re.findall(r"\[\s*(\d+)\] (\S+)", name_table)
    by_index = {int(i): rva for i, rva in rvas}
    address = {n: by_index.get(int(i)) for i, n in names}
    for export, arg_bytes in EXPORTS[name].items():
        plain, decorated = address.get(export), address.get("_%s@%d" % (export, arg_bytes))
        if plain is None:
            problems.append("missing export " + export)
        if decorated is None:
            problems.append("missing export _%s@%d" % (export, arg_bytes))
        if plain is not None and decorated is not None and plain != decorated:
            problems.append("%s and its decorated twin differ (%s, %s)" % (export, plain, decorated))
    extra = set(address) - {e for x in EXPORTS[name] for e in (x, "_%s@%d" % (x, EXPORTS[name][x]))}
    if extra:
        problems.append("unexpected exports: " + ", ".join(sorted(extra)))

    imports = {d.lower() for d in re.findall(r"DLL Name: (\S+)", text)}
    if not imports <= SYSTEM_DLLS:
        problems.append("imports beyond the system DLLs: " + ", ".join(sorted(imports - SYSTEM_DLLS)))

    resources = subprocess.run([objdump, "-s", "-j", ".rsrc", path], capture_output=True, text=True).stdout
    flat = "".join(line.rsplit("  ", 1)[-1] for line in resources.splitlines() if line.startswith(" "))
    if "V.S._.V.E.R.S.I.O.N" not in flat.replace("\n", ""):
        problems.append("no version resource")

    for p in problems:
        print("%s: %s" % (name, p))
    print("%s: %d exports, imports %s: %s" % (name, len(address), ", ".join(sorted(imports)),
                                               "ok" if not problems else "FAILED"))
    return 1 if problems else 0


def version_values(data, key):
    """Every value of the version resource's string `key` in the file's bytes."""
    pattern = (key + "\0").encode("utf-16-le")
    values = []
    at = data.find(pattern)
    while at >= 0:
        start = at + len(pattern)
        start += -start % 4   # the value is aligned to 32 bits
        end = start
        while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
            end += 2
        values.append(data[start:end].decode("utf-16-le"))
        at = data.find(pattern, at + 1)
    return values


def check_versions(version, paths):
    problems = []
    seen = {}
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        name = path.replace("\\", "/").rsplit("/", 1)[-1]
        for key in ("ProductVersion", "FileVersion", "CompanyName", "ProductName", "FileDescription"):
            values = version_values(data, key)
            if len(values) != 2:
                problems.append("%s: %d %s values (one per language expected)" % (name, len(values), key))
            if key in ("ProductVersion", "FileVersion") and any(v != version for v in values):
                problems.append("%s: %s %s, not %s" % (name, key, values, version))
            if key in ("CompanyName", "ProductName"):
                seen.setdefault(key, set()).update(values)
    for key, values in seen.items():
        if len(values) != 1:
            problems.append("%s differs between the files: %s" % (key, sorted(values)))
    for p in problems:
        print(p)
    print("version %s in %d files: %s" % (version, len(paths), "ok" if not problems else "FAILED"))
    return 1 if problems else 0


if __name__ == "__main__":
    if sys.argv[1] == "--version":
        sys.exit(check_versions(sys.argv[2], sys.argv[3:]))
    sys.exit(main(sys.argv[1], sys.argv[2]))
