# Sourced by the scripts that run Windows programs: sets up the Wine environment
# and makes the Wine prefix once (it is then reused by every run).
export WINEARCH=win64
export WINEPREFIX="${CORVANE_WINEPREFIX:-${HOME}/.cache/corvane/wine64}"
# Wine's 32-bit loader starts the 32-bit product and hands 64-bit programs to
# the 64-bit loader; where this machine starts no 32-bit programs only the
# 64-bit loader runs.
. "$(dirname "${BASH_SOURCE[0]}")/wine32.sh"
if [ "$CORVANE_RUNS_32BIT" = 1 ]; then
    export WINELOADER=/usr/lib/wine/wine
else
    export WINELOADER=/usr/lib/wine/wine64
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The ANSI code page of the agent is 949.
export LC_ALL=ko_KR.UTF-8

corvane_wine_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        # The Wine programs run here start the prefix's Wine server and
        # services, which live on after this step: they must not inherit the
        # lock (9>&-), or every later script of this prefix waits for them.
        if [ ! -f "$WINEPREFIX/.corvane-ready" ]; then
            "$WINELOADER" wineboot -i >/dev/null 2>&1 9>&- || true
            wineserver -w
            # Hangul in dialogs and message boxes needs a Korean font behind the
            # dialog font names.
            for f in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" "굴림체" "굴림" "Gulim" "GulimChe"; do
                "$WINELOADER" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d NanumGothic /f >/dev/null 2>&1 9>&-
            done
            wineserver -w
            touch "$WINEPREFIX/.corvane-ready"
        fi
        # Window frames: on our own Xvfb there is no window manager, so Wine
        # draws the frames itself and does not wait (2 s each) for a window
        # manager to withdraw every window that closes; on a desktop the
        # desktop's window manager frames Wine's windows.
        frames=Y
        [ "${CORVANE_OWN_DISPLAY:-}" = 1 ] && frames=N
        if [ "$(cat "$WINEPREFIX/.corvane-managed" 2>/dev/null)" != "$frames" ]; then
            "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$frames" /f >/dev/null 2>&1 9>&-
            echo "$frames" >"$WINEPREFIX/.corvane-managed"
        fi
    ) 9>"$WINEPREFIX.lock"
}
corvane_wine_prefix
# Wine starts its background programs (services, device drivers) with the first
# program of a session, and they inherit that program's output: under CTest they
# would hold the test's output pipe open long after the test ended, and CTest
# would wait for them. Start them here, away from any pipe.
"$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
