"""What the converter's test scripts share: the checks a script counts, files
read, written and found, and ombr.exe under Wine, one run in a locale."""
import os
import subprocess
import sys
import tempfile

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


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def files_under(folder):
    """Every file anywhere under `folder`, relative to it, sorted."""
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, files in os.walk(folder) for f in files)


def staged(folder):
    """The staged files (named "~...") left anywhere under `folder`."""
    return [os.path.join(folder, f) for f in files_under(folder) if os.path.basename(f).startswith("~")]


def logged(args, **options):
    """A run's status and what it said, through a file, not a pipe: the Wine
    server (and display) that a first run starts outlives it and would hold a
    pipe open."""
    with tempfile.TemporaryFile("w+") as log:
        r = subprocess.run(args, stdout=log, stderr=subprocess.STDOUT, timeout=300, **options)
        log.seek(0)
        return r.returncode, log.read().strip()


def wine(exe, wine_env, lang, cwd, *args):
    """ombr.exe's status, stdout and stderr (bytes) in locale `lang`, its input not a console."""
    script = ('. "$1" && export LANG="$2" LC_ALL="$2" && ombr_wine_start_server && shift 2 && '
              'ombr_wine_run "$@"')
    r = subprocess.run(["bash", "-c", script, "_", wine_env, lang, exe, *args], cwd=cwd, capture_output=True,
                       timeout=300)
    return r.returncode, r.stdout, r.stderr
