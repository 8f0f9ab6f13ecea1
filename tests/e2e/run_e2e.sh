#!/usr/bin/env bash
# Runs one end-to-end driver: gives it a display (Xvfb when there is none) and the
# Wine environment, then runs python3 with the arguments.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/../../scripts/with-display.sh"
. "$here/../../scripts/wine-env.sh" || exit 1
python3 "$@"
