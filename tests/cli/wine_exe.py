"""What the converter's test scripts share: the checks a script counts, files
read and staged files found, and ombr.exe under Wine, one run in a locale."""
import os
import subprocess
import sys

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what[:400], flush=True)
    return condition


def finish(passed="all checks passed"):
    """Ends the script: status 1 when a check failed."""
    if failures:
        print("%d checks failed" % len(failures))
        sys.exit(1)
    print(passed)


def read(path):
    """A file's bytes; None when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def staged(folder):
    """The staged files (named "~...") left anywhere under `folder`."""
    return sorted(os.path.join(d, f) for d, _, files in os.walk(folder) for f in files if f.startswith("~"))


def wine(exe, wine_env, lang, cwd, *args):
    """ombr.exe's status, stdout and stderr (bytes) in locale `lang`, its input not a console."""
    script = ('. "$1" && export LANG="$2" LC_ALL="$2" && ombr_wine_start_server && shift 2 && '
              'ombr_wine_run "$@"')
    r = subprocess.run(["bash", "-c", script, "_", wine_env, lang, exe, *args], cwd=cwd, capture_output=True,
                       timeout=300)
    return r.returncode, r.stdout, r.stderr
