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
# shellcheck source=scripts/timescale.sh
source "$root/scripts/timescale.sh"

# What this run makes for itself goes when the tool ends, or when the script is told to stop (TERM or
# INT, also while the tool runs): the tool and the servers it started are ended first, then its folders.
made=()
servers=""
building=""   # a build step running, in a session of its own
tool=""       # the tool's process, once started
xvfb=""       # xvfb-run, which ends its X server itself once the tool has ended
toolpid=""    # the file the tool's and the X server's process ids are written to under xvfb-run
socket=""     # the tool's single-instance socket, when this run's tool is the one that made it
# How long, in tenths of a second, what this script ends may take before it is killed: a build step, the
# tool, xvfb-run and the X server (each), the update servers; and how long the update servers may take to
# start. A test run on a slow machine scales them (TESSARK_TEST_TIME_SCALE); scripts/checkrun.sh allows
# for them.
build_end_wait="$(scaled 50)"
tool_end_wait="$(scaled 100)"
servers_end_wait="$(scaled 50)"
servers_start_wait="$(scaled 50)"
# Waits up to $2 tenths of a second for process $1 (or process group -N) to end.
gone_within() {
  local i
  for ((i = 0; i < $2; i++)); do kill -0 -- "$1" 2>/dev/null || return 0; sleep 0.1; done
  ! kill -0 -- "$1" 2>/dev/null
}
# Processes this script starts in a session of their own, so that a signal for the script's whole group
# (Ctrl+C, timeout) is left to the script, which ends them in order.
detach=()
! command -v setsid >/dev/null || detach=(setsid)
# Runs a build step in the background and waits for it, so that a TERM or INT sent to the script is
# acted on at once, not when cmake has finished; the clean-up then ends the whole build (make and the
# compilers it started, all in the step's session).
build_step() {
  "${detach[@]}" "$@" &
  building=$!
  local rc=0
  wait "$building" || rc=$?
  building=""
  return "$rc"
}
# shellcheck disable=SC2317 # called from the EXIT trap
end_build() {
  [ -n "$building" ] || return 0
  local group="-$building"
  [ "${#detach[@]}" -gt 0 ] || group="$building"
  kill -TERM -- "$group" 2>/dev/null || true
  gone_within "$group" "$build_end_wait" || kill -KILL -- "$group" 2>/dev/null || true
  wait "$building" 2>/dev/null || true
  building=""
}
# shellcheck disable=SC2317 # called from the EXIT trap
end_tool() {
  local pid="$tool" i
  if [ -n "$xvfb" ] && [ -z "$pid" ]; then
    # Told to stop while the X server starts: the tool's id comes once it runs.
    for ((i = 0; i < tool_end_wait; i++)); do
      [ -s "$toolpid" ] || ! kill -0 "$xvfb" 2>/dev/null && break
      sleep 0.1
    done
  fi
  [ -z "$toolpid" ] || [ -n "$pid" ] || { read -r pid _ <"$toolpid"; } 2>/dev/null || true
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    gone_within "$pid" "$tool_end_wait" || kill -KILL "$pid" 2>/dev/null || true
    # Ended before it could remove its socket: one it made is stale now (the next start would take it
    # over anyway).
    [ -z "$socket" ] || [ ! -S "$socket" ] || [ ! -O "$socket" ] || rm -f "$socket"
  fi
  if [ -n "$xvfb" ]; then
    gone_within "$xvfb" "$tool_end_wait" || kill -TERM "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  tool="" xvfb=""
  end_x_server
}
# xvfb-run asks its X server to end but does not wait for it.
end_x_server() {
  local xpid=""
  [ -n "$toolpid" ] && { read -r _ xpid <"$toolpid"; } 2>/dev/null || return 0
  toolpid=""
  [ -z "$xpid" ] || gone_within "$xpid" "$tool_end_wait" || true
}
# shellcheck disable=SC2317 # the EXIT trap
cleanup() {
  trap '' INT TERM
  end_build
  end_tool
  if [ -n "$servers" ]; then
    kill -TERM "$servers" 2>/dev/null || true
    gone_within "$servers" "$servers_end_wait" || kill -KILL "$servers" 2>/dev/null || true
    wait "$servers" 2>/dev/null || true
  fi
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
build_step cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_step cmake --build "$build" -j "$(nproc)" --target "$target"

if [ "$target" = tessark-sim ]; then
  # The online update talks to local servers only: a folder offering newer firmware for the full-size
  # keyboard (the emulated bootloader takes any image), and the tool's own version, so nothing newer.
  # A keyboard reports its version as one 16-bit number v, shown v/100.(v%100)/10.v%10: the offer is one it
  # can report, above every emulated keyboard's own (40.9.5 at most), and keyboard 1 ("TK104 Dual") comes
  # back from its bootloader with exactly it, so the offer goes once it is installed.
  offered=5000
  offered_text="$((offered / 100)).$((offered % 100 / 10)).$((offered % 10))"
  build_step cmake --build "$build" -j "$(nproc)" --target tessark-update-sim
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
  for ((i = 0; i < servers_start_wait; i++)); do [ -s "$TESSARK_UPDATE_CONFIG" ] && break; sleep 0.1; done
fi

# The tool writes log/, config/ and the keyboards' folders beside itself: the build folder. Its log
# file is named by the day.
echo "Starting $build/$target (log: $build/log/$(date +%F).txt)"
if [ "$target" = tessark-sim ]; then
  # Without these a newcomer cannot reach the emulated keyboards' controls (docs/emulator.md).
  echo "Emulated keyboards' control file: $TESSARK_SIM_CONTROL"
  printf '  for example: echo "unplug 1" > %q\n' "$TESSARK_SIM_CONTROL"
  if [ -n "${TESSARK_SIM_LOG:-}" ]; then
    echo "Emulated keyboards' report log: $TESSARK_SIM_LOG"
  fi
fi
# The tool's single-instance socket, named as the tool names it (folderServerName in
# platform/localservername.cpp): the program's file name and a digest of the user and of its folder's
# device and node. One there before is another copy's or stale.
runtime_dir="${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}/runtime-$(id -un)}"
folder_id="$(stat -L -c '%d:%i' "$build" 2>/dev/null || true)"
if [ -n "$folder_id" ]; then
  socket_name="$target-$(printf '%s' "$(id -u):$folder_id" | sha256sum | cut -c1-8)"
  [ -e "$runtime_dir/$socket_name" ] || socket="$runtime_dir/$socket_name"
fi
# The tool runs in the background and the script waits for it, so that a TERM or INT sent to the script
# is acted on at once. The window's close button does what it always does: the script waits as long as
# the process runs (hidden to the tray too).
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb (xvfb-run, screen 1280x800); the window is not visible here."
  pidfolder="$(mktemp -d)"
  made+=("$pidfolder")
  toolpid="$pidfolder/tool.pid"
  # In a session of its own, so a signal for the script's whole group does not end xvfb-run before it
  # removes its X server and its files; the script ends the tool, then xvfb-run ends.
  # Before it becomes the tool, the shell in between writes the tool's id and the X server's (from the
  # server's lock file).
  # shellcheck disable=SC2016 # expanded by that shell
  "${detach[@]}" xvfb-run -a -s "-screen 0 1280x800x24" \
    sh -c 'x=""; read -r x <"/tmp/.X${DISPLAY#:}-lock" 2>/dev/null; echo "$$ $x" >"$0.new" && mv "$0.new" "$0" && exec "$@"' \
    "$toolpid" "$build/$target" "$@" &
  xvfb=$!
  rc=0
  wait "$xvfb" || rc=$?
  xvfb=""
  end_x_server
  exit "$rc"
fi
"$build/$target" "$@" &
tool=$!
rc=0
wait "$tool" || rc=$?
tool=""
exit "$rc"
