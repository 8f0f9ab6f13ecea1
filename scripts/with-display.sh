# Sourced: gives the scripts a display. Uses the one there is, or starts Xvfb.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    for n in $(seq 91 120); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            CORVANE_XVFB_PID=$!
            export DISPLAY=":$n"  # no window manager on it
            for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
            trap 'kill $CORVANE_XVFB_PID 2>/dev/null' EXIT
            break
        fi
    done
fi
