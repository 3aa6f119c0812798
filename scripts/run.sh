#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it. Without a display it runs under Xvfb.
#   scripts/run.sh          the tool for real keyboards (tessark)
#   scripts/run.sh --sim    the same tool on the emulated keyboards (tessark-sim), no hardware needed, with
#                           local update servers (tessark-update-sim) offering firmware 50.0.0 for "TK104 Dual",
#                           which the emulated keyboard reports once it is installed
# Further arguments go to the tool (for example /background). TESSARK_BUILD_DIR picks the build folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"

# What this run makes for itself goes when the tool ends (or the script stops on the way).
made=()
servers=""
cleanup() {
  [ -z "$servers" ] || kill "$servers" 2>/dev/null || true
  [ "${#made[@]}" -eq 0 ] || rm -rf "${made[@]}"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

target=tessark
if [ "${1:-}" = "--sim" ]; then
  target=tessark-sim
  shift
  # The settings menu rewrites the start-with-the-system entry: keep a trial run away from the real one.
  XDG_CONFIG_HOME="$(mktemp -d)"
  made+=("$XDG_CONFIG_HOME")
  export XDG_CONFIG_HOME
fi
build="${TESSARK_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$target"

if [ "$target" = tessark-sim ]; then
  # The online update talks to local servers only: a folder offering newer firmware for the full-size
  # keyboard (the emulated bootloader takes any image), and the tool's own version, so nothing newer.
  # A keyboard reports its version as one 16-bit number v, shown v/100.(v%100)/10.v%10: the offer is one it
  # can report, above every emulated keyboard's own (40.9.5 at most), and keyboard 1 ("TK104 Dual") comes
  # back from its bootloader with exactly it, so the offer goes once it is installed.
  offered=5000
  offered_text="$((offered / 100)).$((offered % 100 / 10)).$((offered % 10))"
  cmake --build "$build" -j "$(nproc)" --target tessark-update-sim
  served="$(mktemp -d)"
  made+=("$served")
  control="$(mktemp -d)"
  made+=("$control")
  version="$(sed -n 's/.*<firmware firmware="[^"]* \([^" ]*\)".*/\1/p' "$root/appdir/config/about.xml")"
  mkdir -p "$served/UpgradeFirmware/TK104 Dual"
  head -c 30000 /dev/urandom > "$served/UpgradeFirmware/TK104 Dual/qv_usb_app_$offered_text.bin"
  export TESSARK_UPDATE_CONFIG="$served/UpdateServer.ini"
  "$build/tessark-update-sim" --root "$served" --config "$TESSARK_UPDATE_CONFIG" \
    --sample-tool "${version:-1.0.0}" --sample-firmware "TK104 Dual" "$offered_text" &
  servers=$!
  # The emulation reads its control file (the user's, when one is named) once it runs; written whole,
  # then renamed into place.
  export TESSARK_SIM_CONTROL="${TESSARK_SIM_CONTROL:-$control/control}"
  { cat "$TESSARK_SIM_CONTROL" 2>/dev/null || true; echo "next-version 1 $offered"; } > "$TESSARK_SIM_CONTROL.new"
  mv "$TESSARK_SIM_CONTROL.new" "$TESSARK_SIM_CONTROL"
  # Started when the file they write exists.
  for _ in $(seq 50); do [ -s "$TESSARK_UPDATE_CONFIG" ] && break; sleep 0.1; done
fi

# The tool writes log/, config/ and the keyboards' folders beside itself: the build folder. Its log
# file is named by the day.
echo "Starting $build/$target (log: $build/log/$(date +%F).txt)"
if [ "$target" = tessark-sim ]; then
  # Without these a newcomer cannot reach the emulated keyboards' controls (README, Run).
  echo "Emulated keyboards' control file: $TESSARK_SIM_CONTROL"
  printf '  for example: echo "unplug 1" > %q\n' "$TESSARK_SIM_CONTROL"
  if [ -n "${TESSARK_SIM_LOG:-}" ]; then
    echo "Emulated keyboards' report log: $TESSARK_SIM_LOG"
  fi
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb (xvfb-run, screen 1280x800); the window is not visible here."
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/$target" "$@"
  exit $?
fi
"$build/$target" "$@"
