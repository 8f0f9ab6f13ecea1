# Sourced by the scripts that run Windows programs: sets up the Wine environment
# and makes the Wine prefix once (it is then reused by every run).
export WINEARCH=win64
export WINEPREFIX="${CORVANE_WINEPREFIX:-${HOME}/.cache/corvane/wine64}"
# Wine's 32-bit loader starts the 32-bit product and hands 64-bit programs to
# the 64-bit loader; where this machine starts no 32-bit programs only the
# 64-bit loader runs. CORVANE_WINELOADER names another loader (a stand-in, as
# the set-up's own test uses).
. "$(dirname "${BASH_SOURCE[0]}")/wine32.sh"
if [ -n "${CORVANE_WINELOADER:-}" ]; then
    export WINELOADER="$CORVANE_WINELOADER"
elif [ "$CORVANE_RUNS_32BIT" = 1 ]; then
    export WINELOADER=/usr/lib/wine/wine
else
    export WINELOADER=/usr/lib/wine/wine64
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The ANSI code page of the agent is 949.
export LC_ALL=ko_KR.UTF-8

# Each step of the prefix's set-up keeps its output in this log (beside the
# prefix, which may not exist yet); a step that fails says so, with what it
# printed, and ends the set-up.
CORVANE_PREFIX_LOG="$WINEPREFIX.setup.log"

# corvane_prefix_step WHAT COMMAND...: one step of the prefix's set-up.
corvane_prefix_step() {
    local what="$1" out text rc=0
    shift
    out="$(mktemp)"
    # The Wine programs run here start the prefix's Wine server and services,
    # which live on after this step: they must not inherit the lock (9>&-), or
    # every later script of this prefix waits for them.
    "$@" </dev/null >"$out" 2>&1 9>&- || rc=$?
    # Windows programs print in the console's code page, 949 here.
    text="$(iconv -c -f CP949 -t UTF-8 <"$out")"
    rm -f "$out"
    printf '== %s: %s (exit code %s)\n%s\n' "$what" "$*" "$rc" "$text" >>"$CORVANE_PREFIX_LOG"
    [ "$rc" = 0 ] && return 0
    {
        echo "wine-env.sh: the set-up of Wine prefix $WINEPREFIX failed at: $what"
        echo "  $* ended with exit code $rc and printed:"
        if [ -n "$text" ]; then printf '%s\n' "$text" | sed 's/^/  | /'; else echo "  | (nothing)"; fi
        echo "  Each step's output is kept in $CORVANE_PREFIX_LOG. The next start does the set-up"
        echo "  again; to make the prefix anew, remove $WINEPREFIX first."
    } >&2
    return "$rc"
}

# Whether a window manager runs on $DISPLAY (0), none does (1), or the display
# cannot be reached (2). A window manager names a window of its own in the
# root window's _NET_SUPPORTING_WM_CHECK, and that window names itself there
# too (one that has ended may leave the root's property naming a window that
# is gone).
corvane_window_manager() {
    local said id
    said="$(timeout 5 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null)" || return 2
    case "$said" in *"window id # 0x"*) id="${said##* }" ;; *) return 1 ;; esac
    said="$(timeout 5 xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null)" || return 1
    [ "${said##* }" = "$id" ]
}

corvane_wine_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        # Every step is safe to do again: a set-up that failed or was ended half
        # way is done again, whole, until the prefix is marked ready.
        if [ ! -f "$WINEPREFIX/.corvane-ready" ]; then
            if [ -e "$WINEPREFIX" ]; then
                echo "wine-env.sh: the set-up of Wine prefix $WINEPREFIX did not finish before: doing it again" >&2
            else
                echo "wine-env.sh: making Wine prefix $WINEPREFIX (once; half a minute or so)" >&2
            fi
            echo "== set-up of $WINEPREFIX, $(date '+%Y-%m-%d %H:%M:%S')" >>"$CORVANE_PREFIX_LOG"
            corvane_prefix_step "making the prefix" "$WINELOADER" wineboot -i || exit 1
            corvane_prefix_step "waiting for the prefix's Wine programs to end" wineserver -w || exit 1
            # Hangul in dialogs and message boxes needs a Korean font behind the
            # dialog font names.
            for f in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" "굴림체" "굴림" "Gulim" "GulimChe"; do
                corvane_prefix_step "replacing the font $f by NanumGothic" \
                    "$WINELOADER" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d NanumGothic /f || exit 1
            done
            corvane_prefix_step "waiting for the prefix's Wine programs to end" wineserver -w || exit 1
            touch "$WINEPREFIX/.corvane-ready"
        fi
        # Window frames: a window manager on the display frames Wine's windows
        # (managed windows). Without one Wine draws the frames itself: a managed
        # window's close would wait 2 s for a window manager to withdraw it.
        found=0
        corvane_window_manager || found=$?
        case "$found" in
            0) frames=Y why="DISPLAY=$DISPLAY has a window manager: it frames Wine's windows" ;;
            1) frames=N why="DISPLAY=$DISPLAY has no window manager: Wine frames its windows itself" ;;
            *) frames=N why="DISPLAY=${DISPLAY:-} cannot be reached: Wine will frame its windows itself" ;;
        esac
        if [ "$(cat "$WINEPREFIX/.corvane-managed" 2>/dev/null)" != "$frames" ]; then
            corvane_prefix_step "setting the windows managed to $frames" \
                "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$frames" /f || exit 1
            echo "$frames" >"$WINEPREFIX/.corvane-managed"
            echo "wine-env.sh: $why (Wine prefix $WINEPREFIX, Managed=$frames)" >&2
        fi
    ) 9>"$WINEPREFIX.lock"
}
corvane_wine_prefix || return 1
# Wine starts its background programs (services, device drivers) with the first
# program of a session, and they inherit that program's output: under CTest they
# would hold the test's output pipe open long after the test ended, and CTest
# would wait for them. Start them here, away from any pipe.
"$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
