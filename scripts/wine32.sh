# Sourced: sets CORVANE_RUNS_32BIT to 1 where this machine starts 32-bit
# programs (scripts/setup-deps.sh probed it once), to 0 where it does not.
if [ "$(cat "$HOME/.cache/corvane/runs-32-bit" 2>/dev/null)" = yes ]; then
    CORVANE_RUNS_32BIT=1
else
    CORVANE_RUNS_32BIT=0
fi
