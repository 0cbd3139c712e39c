"""ombr.exe under Wine for the converter's tests: one run in a locale, and
the checks a test script counts."""
import subprocess

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def wine(exe, wine_env, lang, cwd, *args):
    """ombr.exe's status, stdout and stderr (bytes) in locale `lang`, its input not a console."""
    script = ('. "$1" && export LANG="$2" LC_ALL="$2" && ombr_wine_start_server && shift 2 && '
              'ombr_wine_run "$@"')
    r = subprocess.run(["bash", "-c", script, "_", wine_env, lang, exe, *args], cwd=cwd, capture_output=True,
                       timeout=300)
    return r.returncode, r.stdout, r.stderr
