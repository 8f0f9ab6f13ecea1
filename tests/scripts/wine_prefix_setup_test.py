#!/usr/bin/env python3
"""The Wine prefix's set-up (scripts/wine-env.sh) against stand-ins for Wine's
loader, wineserver and xprop on PATH, start after start in one prefix: a step
that fails ends the set-up, named with what it printed, and the next start does
the set-up again, whole; the windows' frames follow whether a window manager
runs on the display (one that names a window of its own in the root window's
_NET_SUPPORTING_WM_CHECK, and that window itself again), set only when the
choice changes.
usage: wine_prefix_setup_test.py wine-env.sh
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import wine_agent  # noqa: E402

check = wine_agent.Checks()

# Each stand-in writes its command line to $STANDIN_CALLS. The loader fails a
# command line that holds $STANDIN_FAIL, printing $STANDIN_SAYS in code page
# 949 as Windows programs do; its wineboot makes the prefix.
LOADER = r"""#!/bin/bash
echo "wine $*" >>"$STANDIN_CALLS"
if [ -n "$STANDIN_FAIL" ] && [[ "$*" == *"$STANDIN_FAIL"* ]]; then
    printf '%s\n' "$STANDIN_SAYS" | iconv -f UTF-8 -t CP949
    exit 3
fi
[ "$1" = wineboot ] && mkdir -p "$WINEPREFIX"
exit 0
"""
WINESERVER = r"""#!/bin/bash
echo "wineserver $*" >>"$STANDIN_CALLS"
"""
# $STANDIN_WM: "none" (no window manager), "runs", or "gone" (one ended and
# left the root's property naming a window that is now another's, which does
# not name itself there), as xprop prints them.
XPROP = r"""#!/bin/bash
case "$STANDIN_WM:$*" in
    none:-root*) echo "_NET_SUPPORTING_WM_CHECK:  not found." ;;
    *:-root*) echo "_NET_SUPPORTING_WM_CHECK(WINDOW): window id # 0x400007" ;;
    runs:"-id 0x400007 "*) echo "_NET_SUPPORTING_WM_CHECK(WINDOW): window id # 0x400007" ;;
    gone:"-id 0x400007 "*) echo "_NET_SUPPORTING_WM_CHECK:  not found." ;;
    *) echo "X Error of failed request:  BadWindow (invalid Window parameter)" >&2; exit 1 ;;
esac
"""

FONTS = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "굴림체", "굴림", "Gulim", "GulimChe"]
FONT_CALLS = [f"wine reg add HKCU\\Software\\Wine\\Fonts\\Replacements /v {f} /d NanumGothic /f" for f in FONTS]
SETUP_CALLS = ["wine wineboot -i", "wineserver -w", *FONT_CALLS, "wineserver -w"]
SERVICES_CALL = "wine cmd /c exit"


def frames_call(frames):
    return f"wine reg add HKCU\\Software\\Wine\\X11 Driver /v Managed /d {frames} /f"


def main():
    env_script = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as tmp:
        standins = os.path.join(tmp, "bin")
        os.mkdir(standins)
        for name, text in (("wine", LOADER), ("wineserver", WINESERVER), ("xprop", XPROP)):
            path = os.path.join(standins, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        prefix = os.path.join(tmp, "prefix")
        calls = os.path.join(tmp, "calls")
        env = dict(os.environ, PATH=standins + os.pathsep + os.environ["PATH"], CORVANE_WINEPREFIX=prefix,
                   CORVANE_WINELOADER=os.path.join(standins, "wine"), STANDIN_CALLS=calls, DISPLAY=":97",
                   STANDIN_SAYS="레지스트리 키를 열 수 없습니다")
        env.pop("WINEDEBUG", None)
        failing_step = "replacing the font 굴림 by NanumGothic"
        no_wm = f"wine-env.sh: DISPLAY=:97 has no window manager: Wine frames its windows itself " \
                f"(Wine prefix {prefix}, Managed=N)"
        wm = f"wine-env.sh: DISPLAY=:97 has a window manager: it frames Wine's windows " \
             f"(Wine prefix {prefix}, Managed=Y)"
        # (what, window manager, the loader's command line that fails, exit code, the calls in order,
        #  lines the set-up says)
        starts = [
            ("a start whose set-up fails at one font", "none", "/v 굴림 ", 1,
             SETUP_CALLS[:2] + FONT_CALLS[:6],
             [f"wine-env.sh: making Wine prefix {prefix} (once; half a minute or so)",
              f"wine-env.sh: the set-up of Wine prefix {prefix} failed at: {failing_step}",
              f"  {env['CORVANE_WINELOADER']} reg add HKCU\\Software\\Wine\\Fonts\\Replacements /v 굴림 "
              "/d NanumGothic /f ended with exit code 3 and printed:",
              "  | 레지스트리 키를 열 수 없습니다",
              f"  Each step's output is kept in {prefix}.setup.log. The next start does the set-up",
              f"  again; to make the prefix anew, remove {prefix} first."]),
            ("the next start, no window manager", "none", "", 0,
             SETUP_CALLS + [frames_call("N"), SERVICES_CALL],
             [f"wine-env.sh: the set-up of Wine prefix {prefix} did not finish before: doing it again", no_wm]),
            ("a start where a window manager runs", "runs", "", 0, [frames_call("Y"), SERVICES_CALL], [wm]),
            ("another start where it runs", "runs", "", 0, [SERVICES_CALL], []),
            ("a start after it ended, its window now another's", "gone", "", 0,
             [frames_call("N"), SERVICES_CALL], [no_wm]),
        ]
        for what, window_manager, fail, code, expected_calls, expected_said in starts:
            open(calls, "w").close()
            run = subprocess.run(["bash", "-c", '. "$0"', env_script], capture_output=True, timeout=30,
                                 env=dict(env, STANDIN_WM=window_manager, STANDIN_FAIL=fail))
            said = run.stderr.decode(errors="replace").splitlines()
            with open(calls) as f:
                made = f.read().splitlines()
            check(f"{what}: exit code {code}", run.returncode == code, run.returncode)
            check(f"{what}: {len(expected_calls)} calls, in order", made == expected_calls,
                  "\n  " + "\n  ".join(made))
            check(f"{what}: says what it did", said == expected_said, "\n  " + "\n  ".join(said))
            check(f"{what}: the prefix is {'' if code == 0 else 'not '}marked ready",
                  os.path.exists(os.path.join(prefix, ".corvane-ready")) == (code == 0))
        with open(prefix + ".setup.log", encoding="utf-8", errors="replace") as f:
            log = f.read()
        check("the log keeps the failed step's output",
              f"== {failing_step}: " in log and "(exit code 3)\n레지스트리 키를 열 수 없습니다\n" in log, log[-400:])
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
