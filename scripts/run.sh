#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it. Without a display it runs under Xvfb.
#   scripts/run.sh          the tool for real keyboards (tessark)
#   scripts/run.sh --sim    the same tool on the emulated keyboard (tessark-sim), no hardware needed, with
#                           local update servers (tessark-update-sim) offering newer firmware for "TK104 Dual"
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

if [ "$target" = tessark-sim ]; then
  # The online update talks to local servers only: a folder offering firmware 700.0.0 for the full-size
  # keyboard (the emulated bootloader takes any image), and the tool's own version, so nothing newer.
  cmake --build "$build" -j "$(nproc)" --target tessark-update-sim
  served="$(mktemp -d)"
  version="$(sed -n 's/.*<firmware firmware="[^"]* \([^" ]*\)".*/\1/p' "$root/appdir/config/about.xml")"
  mkdir -p "$served/UpgradeFirmware/TK104 Dual"
  head -c 30000 /dev/urandom > "$served/UpgradeFirmware/TK104 Dual/qv_usb_app_700.0.0.bin"
  export TESSARK_UPDATE_CONFIG="$served/UpdateServer.ini"
  "$build/tessark-update-sim" --root "$served" --config "$TESSARK_UPDATE_CONFIG" \
    --sample-tool "${version:-1.0.0}" --sample-firmware "TK104 Dual" 700.0.0 &
  servers=$!
  trap 'kill "$servers" 2>/dev/null; rm -rf "$served"' EXIT
  # Started when the file they write exists.
  for _ in $(seq 50); do [ -s "$TESSARK_UPDATE_CONFIG" ] && break; sleep 0.1; done
fi

# The tool writes log/, config/ and the keyboards' folders beside itself: the build folder.
echo "Starting $build/$target (log in $build/log/)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb (xvfb-run, screen 1280x800); the window is not visible here."
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/$target" "$@"
  exit $?
fi
"$build/$target" "$@"
