#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it. Without a display it runs under Xvfb.
#   scripts/run.sh          the tool for real keyboards (tessark)
#   scripts/run.sh --sim    the same tool on the emulated keyboard (tessark-sim), no hardware needed
# Further arguments go to the tool (for example /background). TESSARK_BUILD_DIR picks the build folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"

target=tessark
if [ "${1:-}" = "--sim" ]; then
  target=tessark-sim
  shift
  # The settings menu rewrites the start-with-the-system entry: keep a trial run away from the real one.
  export XDG_CONFIG_HOME="$(mktemp -d)"
fi
build="${TESSARK_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$target"

# The tool writes log/, config/ and the keyboards' folders beside itself: the build folder.
echo "Starting $build/$target (log in $build/log/)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb (xvfb-run, screen 1280x800); the window is not visible here."
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$build/$target" "$@"
fi
exec "$build/$target" "$@"
