#!/usr/bin/env bash
# Checks that the run command ends what it started when it is told to stop, on the tools of a build
# already made (copied into a folder of this check's own, where the tool writes its files; cmake stands
# in for a build that is done, or for one that takes a minute):
#  - TERM or INT during the build: the script ends at once, and the build with it; also when this check
#    was itself started with INT and TERM ignored (in the background of a script): the run command gets
#    them back, as from a terminal;
#  - TERM while the emulated keyboards' tool runs under Xvfb: the tool, the X server, the update servers,
#    the tool's socket and the script's folders are gone once the script has ended. Only the X server the
#    run started is judged, never another that takes its display number once it is free.
# Every wait is scaled as the suites' are (scripts/timescale.sh).
#   scripts/checkrun.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build=""
area=""
# shellcheck source=scripts/folderchecks.sh
source "$root/scripts/folderchecks.sh"
# shellcheck source=scripts/timescale.sh
source "$root/scripts/timescale.sh"

started=() # the processes of a row, as "id start": whatever it leaves is ended before the next
# Remembers the processes given (ids) as the row's, each with its start, so that only they are ended.
track() {
  local pid
  for pid in "$@"; do started+=("$pid $(started_at "$pid")"); done
}
end_started() {
  local entry
  for entry in "${started[@]}"; do
    # shellcheck disable=SC2086 # id and start
    ! still_runs $entry || kill -KILL "${entry%% *}" 2>/dev/null || true
  done
  for entry in "${started[@]}"; do wait "${entry%% *}" 2>/dev/null || true; done
  started=()
  remove_tree "$area/tmp" "$area/runtime"
  mkdir -m 700 "$area/tmp" "$area/runtime"
}
# shellcheck disable=SC2317 # the EXIT trap
cleanup() {
  end_started
  remove_tree "$area"
}
# The check's folder: the build's tools, and cmake standing in: the build is made, or with the folder
# SLOW_BUILD set, a build step runs a minute (a compiler it started waits), writing both ids there first.
make_area() {
  area="$(mktemp -d)"
  trap cleanup EXIT
  # Told to stop, the clean-up above runs too.
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  mkdir -p "$area/bin" "$area/build" "$area/tmp" "$area/runtime" "$area/config" "$area/slow"
  chmod 700 "$area/tmp" "$area/runtime"
  cp "$build/tessark-sim" "$build/tessark-update-sim" "$area/build/"
  cp -r "$build/config" "$build/images" "$build/font" "$build/Upgrade" "$area/build/"
  cat >"$area/bin/cmake" <<'EOF'
#!/bin/sh
case " $* " in *" --build "*) ;; *) exit 0 ;; esac
[ -n "${SLOW_BUILD:-}" ] || exit 0
sleep 60 &
echo "$$ $!" >"$SLOW_BUILD/ids.new" && mv "$SLOW_BUILD/ids.new" "$SLOW_BUILD/ids"
wait
EOF
  chmod 755 "$area/bin/cmake"
}

failures=0
fail() { echo "Run command check: $*" >&2; failures=$((failures + 1)); }
# Whether process $1 still runs (a zombie has ended). Its state is read once: a process that ends between
# two reads would look alive.
alive() { [ -n "$1" ] && grep -q '^State:[[:space:]]*[^ZX[:space:]]' "/proc/$1/status" 2>/dev/null; }
# Field $2 of process $1's stat file, counted after its name (2: its parent, 20: its start), or nothing
# for a process that has gone.
stat_field() { awk -v n="$2" '{ sub(/^.*\) /, ""); print $n; exit }' "/proc/$1/stat" 2>/dev/null || true; }
# When process $1 started (clock ticks since boot), so that a later process with its id is not taken for it.
started_at() { stat_field "$1" 20; }
# The X display number process $1 was started with, or nothing.
display_of() { { tr '\0' '\n' <"/proc/$1/environ" | sed -n 's/^DISPLAY=:\([0-9]*\).*/\1/p'; } 2>/dev/null || true; }
# Whether the process that had id $1 and started at $2 still runs.
still_runs() { alive "$1" && [ "$(started_at "$1")" = "$2" ]; }
# The process id an X server's lock file names (written as "%10d\n").
lock_pid() { local pid=""; read -r pid <"$1" 2>/dev/null || true; echo "$pid"; }
# Whether the X lock file $1 is left by the X server with id $2: another X server that took the display
# number since holds a lock file of its own there, which is not this run's to judge.
x_lock_left() { [ -e "$1" ] && [ "$(lock_pid "$1")" = "$2" ]; }
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

# Starts run.sh --sim in the background, with the environment of this check (and the variables given),
# as from a terminal: job control gives it a process group of its own, and INT and TERM their default
# action, even where this check inherited them ignored (a command started in the background of a script
# does). With `inherit_ignored` set, they are ignored just before, as such a start leaves them.
start_run() {
  set -m
  (
    [ -z "${inherit_ignored:-}" ] || trap '' INT TERM
    exec env --default-signal=INT,TERM -u DISPLAY -u WAYLAND_DISPLAY -u TESSARK_SIM_CONTROL -u TESSARK_SIM_LOG \
      PATH="$area/bin:$PATH" TMPDIR="$area/tmp" XDG_RUNTIME_DIR="$area/runtime" XDG_CONFIG_HOME="$area/config" \
      TESSARK_BUILD_DIR="$area/build" "$@" bash "$root/scripts/run.sh" --sim
  ) >"$area/run.log" 2>&1 &
  run=$!
  set +m
  track "$run"
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

# A TERM or INT during the build: the build step and what it started end with the script. With a third
# argument the check's own start left INT and TERM ignored.
build_row() {
  local signal="$1" want="$2" step compiler inherit_ignored="${3:-}"
  what="$signal during the build${inherit_ignored:+, INT and TERM inherited as ignored}"
  start_run SLOW_BUILD="$area/slow"
  if ! within "$start_wait" test -s "$area/slow/ids"; then
    fail "$what: the build did not start"
    sed 's/^/  /' "$area/run.log" >&2
    return
  fi
  read -r step compiler <"$area/slow/ids"
  rm "$area/slow/ids"
  track "$step" "$compiler"
  kill "-$signal" "$run"
  run_ended "$build_stop_wait" "$want" || return 0
  ! alive "$step" || fail "$what: the build step still runs"
  ! alive "$compiler" || fail "$what: a process the build started still runs"
  leftovers "$area/tmp" >/dev/null || fail "$what: the script's folders were not removed"
}

# The tool's socket in the check's own runtime folder, named after the program and its folder: the one
# socket there. Sets socket.
tool_socket() {
  local s
  for s in "$area/runtime/tessark-sim-"*; do
    [ -S "$s" ] && socket="$s" && return 0
  done
  return 1
}

# A TERM while the tool runs under Xvfb: the tool, the X server, xvfb-run and the update servers end,
# and the tool's socket and the script's folders go. The X server is the one xvfb-run started for the
# tool, judged by its process: once it has ended, another may take its display number at once.
tool_row() {
  local socket="" tool servers display xserver="" xserver_start="" xvfb_run="" pid
  what="TERM while the tool runs"
  start_run
  if ! within "$tool_start_wait" tool_socket; then
    fail "$what: the tool did not start"
    sed 's/^/  /' "$area/run.log" >&2
    return
  fi
  tool="$(running "$area/build/tessark-sim")"
  servers="$(running "$area/build/tessark-update-sim")"
  if [ -n "$tool" ]; then
    display="$(display_of "$tool")"
    xvfb_run="$(stat_field "$tool" 2)"
    [ -z "$display" ] || xserver="$(lock_pid "/tmp/.X$display-lock")"
    # Xvfb is xvfb-run's child; a lock naming any other process is not this run's.
    [ -z "$xserver" ] || [ "$(stat_field "$xserver" 2)" = "$xvfb_run" ] || xserver=""
    [ -z "$xserver" ] || xserver_start="$(started_at "$xserver")"
  fi
  # shellcheck disable=SC2086 # one id each
  track $tool $servers $xserver $xvfb_run
  if [ -z "$tool" ] || [ -z "$servers" ] || [ -z "$xserver" ]; then
    fail "$what: tool ${tool:-not found}, update servers ${servers:-not found}, X server ${xserver:-not found}"
    return
  fi
  kill -TERM "$run"
  run_ended "$tool_stop_wait" 143 || return 0
  ! alive "$tool" || fail "$what: the tool still runs"
  ! still_runs "$xserver" "$xserver_start" || fail "$what: the X server still runs"
  ! alive "$xvfb_run" || fail "$what: xvfb-run still runs"
  for pid in $servers; do ! alive "$pid" || fail "$what: the update servers still run"; done
  [ ! -e "$socket" ] || fail "$what: the tool's socket is left"
  ! x_lock_left "/tmp/.X$display-lock" "$xserver" || fail "$what: the X server's lock file is left"
  leftovers "$area/tmp" >/dev/null || fail "$what: the script's folders were not removed"
}

main() {
  build="$(cd "${1:?usage: scripts/checkrun.sh BUILD_DIR}" && pwd)"
  make_area
  # In tenths of a second: the run command's start up to its build (the package check) and up to the
  # tool's socket; its end once told to stop, which may rightly take as long as it gives what it ends
  # before killing it (scripts/run.sh: a build step 5 s; the tool, xvfb-run and the X server 10 s each,
  # the update servers 5 s), and as long again.
  start_wait="$(scaled 100)"
  tool_start_wait="$(scaled 300)"
  build_stop_wait="$(scaled 100)"
  tool_stop_wait="$(scaled 700)"

  build_row TERM 143
  end_started
  build_row INT 130
  end_started
  build_row INT 130 ignored
  end_started
  tool_row
  end_started

  [ "$failures" -eq 0 ] && echo "The run command ended the build, the tool, the X server and the servers it started, and left nothing."
  return "$((failures > 0))"
}

# Sourced (scripts/checkaccounting.sh tries its judgements on made-up files), it only defines the above.
[ "${BASH_SOURCE[0]}" != "$0" ] || main "$@"
