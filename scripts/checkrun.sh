#!/usr/bin/env bash
# Checks that the run command ends what it started when it is told to stop, on the tools of a build
# already made (copied into a folder of this check's own, where the tool writes its files; cmake stands
# in for a build that is done, or for one that takes a minute):
#  - TERM or INT during the build: the script ends at once, and the build with it;
#  - TERM while the emulated keyboards' tool runs under Xvfb: the tool, the X server, the update servers,
#    the tool's socket and the script's folders are gone once the script has ended.
#   scripts/checkrun.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: scripts/checkrun.sh BUILD_DIR}" && pwd)"
# shellcheck source=scripts/folderchecks.sh
source "$root/scripts/folderchecks.sh"

area="$(mktemp -d)"
started=() # the processes of a row: whatever it leaves is ended before the next
end_started() {
  local pid
  for pid in "${started[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  started=()
  remove_tree "$area/tmp" "$area/runtime"
  mkdir -m 700 "$area/tmp" "$area/runtime"
}
# shellcheck disable=SC2317 # the EXIT trap
cleanup() {
  end_started
  remove_tree "$area"
}
trap cleanup EXIT
mkdir -p "$area/bin" "$area/build" "$area/tmp" "$area/runtime" "$area/config" "$area/slow"
chmod 700 "$area/tmp" "$area/runtime"
cp "$build/tessark-sim" "$build/tessark-update-sim" "$area/build/"
cp -r "$build/config" "$build/images" "$build/font" "$build/Upgrade" "$area/build/"
# cmake, standing in: the build is made, or with the folder SLOW_BUILD set, a build step runs a minute
# (a compiler it started waits), writing both ids there first.
cat >"$area/bin/cmake" <<'EOF'
#!/bin/sh
case " $* " in *" --build "*) ;; *) exit 0 ;; esac
[ -n "${SLOW_BUILD:-}" ] || exit 0
sleep 60 &
echo "$$ $!" >"$SLOW_BUILD/ids.new" && mv "$SLOW_BUILD/ids.new" "$SLOW_BUILD/ids"
wait
EOF
chmod 755 "$area/bin/cmake"

failures=0
fail() { echo "Run command check: $*" >&2; failures=$((failures + 1)); }
# Whether process $1 still runs (a zombie has ended).
alive() { [ -n "$1" ] && [ -e "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
# The processes whose program is $1.
running() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" != "$1" ] || { exe="${exe#/proc/}"; echo "${exe%/exe}"; }
  done
}
# shellcheck disable=SC2317 # called through within
gone() { ! alive "$1"; }
# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local i tenths="$1"
  shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  "$@"
}

# Starts run.sh --sim in the background, with the environment of this check; job control gives it a
# process group of its own in which INT is not ignored, as in a terminal.
start_run() {
  set -m
  env -u DISPLAY -u WAYLAND_DISPLAY -u TESSARK_SIM_CONTROL -u TESSARK_SIM_LOG PATH="$area/bin:$PATH" \
    TMPDIR="$area/tmp" XDG_RUNTIME_DIR="$area/runtime" XDG_CONFIG_HOME="$area/config" \
    TESSARK_BUILD_DIR="$area/build" "$@" bash "$root/scripts/run.sh" --sim >"$area/run.log" 2>&1 &
  run=$!
  set +m
  started+=("$run")
}
# Whether the script ended within $1 tenths of a second, with status $2.
run_ended() {
  if ! within "$1" gone "$run"; then
    fail "$what: the script still runs $(($1 / 10)) s after it was told to stop"
    sed 's/^/  /' "$area/run.log" >&2
    return 1
  fi
  local rc=0
  wait "$run" || rc=$?
  [ "$rc" -eq "$2" ] || fail "$what: the script ended with status $rc, not $2"
}

# A TERM or INT during the build: the build step and what it started end with the script.
build_row() {
  local signal="$1" want="$2" step compiler
  what="$signal during the build"
  start_run SLOW_BUILD="$area/slow"
  if ! within 100 test -s "$area/slow/ids"; then
    fail "$what: the build did not start"
    sed 's/^/  /' "$area/run.log" >&2
    return
  fi
  read -r step compiler <"$area/slow/ids"
  rm "$area/slow/ids"
  started+=("$step" "$compiler")
  kill "-$signal" "$run"
  run_ended 30 "$want" || return 0
  ! alive "$step" || fail "$what: the build step still runs"
  ! alive "$compiler" || fail "$what: a process the build started still runs"
  leftovers "$area/tmp" >/dev/null || fail "$what: the script's folders were not removed"
}

# A TERM while the tool runs under Xvfb: the tool, the X server, xvfb-run and the update servers end,
# and the tool's socket and the script's folders go.
tool_row() {
  local socket="$area/runtime/tessark-sim" tool servers display xserver="" xvfb_run="" pid
  what="TERM while the tool runs"
  start_run
  if ! within 300 test -S "$socket"; then
    fail "$what: the tool did not start"
    sed 's/^/  /' "$area/run.log" >&2
    return
  fi
  tool="$(running "$area/build/tessark-sim")"
  servers="$(running "$area/build/tessark-update-sim")"
  if [ -n "$tool" ]; then
    display="$(tr '\0' '\n' <"/proc/$tool/environ" | sed -n 's/^DISPLAY=:\([0-9]*\).*/\1/p')"
    [ -z "$display" ] || read -r xserver <"/tmp/.X$display-lock" || true
    xvfb_run="$(awk '{ print $4 }' "/proc/$tool/stat")"
  fi
  # shellcheck disable=SC2206 # one id each
  started+=($tool $servers $xserver $xvfb_run)
  if [ -z "$tool" ] || [ -z "$servers" ] || [ -z "$xserver" ]; then
    fail "$what: tool ${tool:-not found}, update servers ${servers:-not found}, X server ${xserver:-not found}"
    return
  fi
  kill -TERM "$run"
  run_ended 300 143 || return 0
  ! alive "$tool" || fail "$what: the tool still runs"
  ! alive "$xserver" || fail "$what: the X server still runs"
  ! alive "$xvfb_run" || fail "$what: xvfb-run still runs"
  for pid in $servers; do ! alive "$pid" || fail "$what: the update servers still run"; done
  [ ! -e "$socket" ] || fail "$what: the tool's socket is left"
  [ ! -e "/tmp/.X$display-lock" ] || fail "$what: the X server's lock file is left"
  leftovers "$area/tmp" >/dev/null || fail "$what: the script's folders were not removed"
}

build_row TERM 143
end_started
build_row INT 130
end_started
tool_row
end_started

[ "$failures" -eq 0 ] && echo "The run command ended the build, the tool, the X server and the servers it started, and left nothing."
exit "$((failures > 0))"
