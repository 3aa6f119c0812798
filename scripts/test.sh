#!/usr/bin/env bash
# Builds everything and runs every test, then again under AddressSanitizer and UBSan. Every test object a
# suite runs must end in its own totals with no failed row, not only exit 0. Run as root (as CI does),
# every suite of the first build runs once more as `nobody`, as do the rows root skips in the second, from a
# copy of the build with the checkout out of that user's reach; and a full temporary file system is
# checked not to make a test touch its working directory. No suite may
# leave anything in the shared temporary, config or runtime folder, in these runs as in those; and
# whoever runs the command, it leaves nothing but its two build folders.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/folderchecks.sh
source "$root/scripts/folderchecks.sh"
# shellcheck source=scripts/unprivileged.sh
source "$root/scripts/unprivileged.sh"
# shellcheck source=scripts/timescale.sh
source "$root/scripts/timescale.sh"

# The folders the suites share, in a scratch folder of the run's own: the temporary folder (TMPDIR,
# given to ctest), the config and the runtime folder.
make_scratch() {
  scratch="$(mktemp -d)"
  mkdir -p "$scratch/runtime" "$scratch/config" "$scratch/tmp"
  chmod 700 "$scratch/runtime"
  # The suites' temporary folders go here, so what one leaves behind is seen; rows that run a process
  # as another user reach their folders through it, as through /tmp.
  chmod 711 "$scratch"
  chmod 1777 "$scratch/tmp"
  export QT_QPA_PLATFORM=offscreen
  export XDG_RUNTIME_DIR="$scratch/runtime"
  export XDG_CONFIG_HOME="$scratch/config"
}

# Builds in `dir` with the cmake arguments given and runs its tests; `nobody` (all or rows) says what
# runs once more as `nobody` when root runs this: every suite, or the rows root skipped.
run_suite() {
  local dir="$1" nobody="$2"; shift 2
  # A suite's time limit grows with TESSARK_TEST_TIME_SCALE, as the waits of its rows do.
  cmake -S "$root" -B "$dir" "$@" -DTESSARK_TEST_TIME_PERCENT="$(scaled 100)" >/dev/null
  cmake --build "$dir" -j "$jobs"
  local before rc=0
  before="$(workdir_listing "$dir")"
  (cd "$dir" && TMPDIR="$scratch/tmp" ctest --output-on-failure --no-tests=error -j "$jobs") || rc=$?
  if [ "$rc" -ne 0 ]; then
    print_failed_rows "$dir/Testing/Temporary/LastTest.log"
    return "$rc"
  fi
  # Each suite's temporary folders went with it, and nothing is left in the shared config and runtime
  # folders (the runs as nobody are checked the same way in theirs).
  leftovers "$scratch/tmp" "$scratch/config" "$scratch/runtime" || return 1
  # A test writes only below its own temporary folder, never where it runs.
  workdir_unchanged "$dir" "$before" || return 1
  # Every suite ran to its totals with no failed row; every skipped row is told; as root the rows root
  # skips run as `nobody`, and none may stay skipped.
  account_test_log "$root" "$dir" "$nobody"
}

# The step running now (its process group), which a stop signal ends with all it started.
current=""
# Runs one step (a command or a function) in a process group of its own and waits for it, so that a
# stop signal is acted on at once, not when the step has ended.
# No locals here nor in stop(): bash 5.2 loses its variable scopes when a trap's function ends the shell
# while a function with locals waits.
step() {
  set -m
  # Reading nothing: a background group that reads the terminal would be stopped.
  "$@" </dev/null &
  current=$!
  set +m
  step_status=0
  wait "$current" || step_status=$?
  current=""
  return "$step_status"
}
# The processes below process $1, each as "id start" (its start in clock ticks since boot), so that a
# later process given one of their ids is never taken for it. Those that leave the step's group (timeout
# makes a group of its own) are found here too. Processes start and end while the listing is read: awk
# reads each one's stat file itself and skips one that has gone, which is no error.
descendants() {
  printf '%s\n' /proc/[0-9]*/stat | awk -v top="$1" '
    {
      if ((getline line <$0) <= 0) { close($0); next }
      close($0)
      pid = line; sub(/ .*/, "", pid)
      rest = line; sub(/^.*\) /, "", rest); split(rest, f, " "); parent[pid] = f[2]; start[pid] = f[20]
    }
    END {
      want[top] = 1
      do {
        grown = 0
        for (pid in parent) if (!(pid in want) && (parent[pid] in want)) { want[pid] = 1; grown = 1 }
      } while (grown)
      for (pid in want) if (pid != top) print pid, start[pid]
    }'
}
# Told to stop (INT, TERM, HUP): the running step and all it started are asked to end, then killed; the
# EXIT trap then removes the scratch folder. A step that cleans up after itself (a mount) is given the time.
# It runs to its end whatever a command in it returns: a failure here must not leave the step running.
stop() {
  trap '' INT TERM HUP
  set +eu +o pipefail
  if [ -n "$current" ]; then
    procs="$(descendants "$current")"
    kill -TERM -- "-$current" "$current" 2>/dev/null || true
    while read -r pid start; do [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true; done <<<"$procs"
    wait_tenths="$(scaled 100)"
    for ((i = 0; i < wait_tenths; i++)); do kill -0 "$current" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$current" 2>/dev/null || true
    while read -r pid start; do
      [ -n "$pid" ] && [ "$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | awk '{ print $20 }')" = "$start" ] &&
        kill -KILL "$pid" 2>/dev/null || true
    done <<<"$procs"
    wait "$current" 2>/dev/null || true
  fi
  exit "$1"
}

# The sanitizers' option value naming a file: they split their options at spaces and take a quoted value
# up to the next quote of its kind, so the path is quoted with the kind it does not hold.
sanitizer_path() {
  case "$1" in
    *\"*\'*|*\'*\"*) echo "The path $1 holds both kinds of quote: the sanitizers cannot be given it" >&2; return 1 ;;
    *\"*) printf "'%s'" "$1" ;;
    *) printf '"%s"' "$1" ;;
  esac
}

# The run's scratch folder, gone however the run ends: at its end, or told to stop.
prepare_run() {
  make_scratch
  trap 'remove_tree "$scratch"' EXIT
  trap 'stop 130' INT
  trap 'stop 143' TERM
  trap 'stop 129' HUP
}

main() {
  bash "$root/scripts/deps.sh"
  jobs="$(nproc)"
  # Both builds and their tests take about 12 GB.
  low_space_warning "$root" 12
  prepare_run

  echo "== the test log's accounting on made-up logs, the folder and disk checks on made-up folders"
  step bash "$root/scripts/checkaccounting.sh"
  echo "== build and test"
  step run_suite "$root/build" all -DCMAKE_BUILD_TYPE=RelWithDebInfo
  step bash "$root/scripts/bench.sh" "$root/build"
  echo "== the run command, told to stop"
  step bash "$root/scripts/checkrun.sh" "$root/build"
  echo "== a full temporary file system: tests fail without touching their working directory"
  step bash "$root/scripts/fulltmp.sh" "$root/build"
  echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
  # Full stacks on malloc, so the one known leak of Qt's platform plugin can be suppressed by name. The
  # suppressions are read from the scratch folder, which the runs as nobody reach as well.
  export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1
  cp "$root/tests/lsan.supp" "$scratch/lsan.supp"
  chmod 644 "$scratch/lsan.supp"
  LSAN_OPTIONS="suppressions=$(sanitizer_path "$scratch/lsan.supp")"
  export LSAN_OPTIONS
  step run_suite "$root/build-asan" rows -DCMAKE_BUILD_TYPE=Debug -DTESSARK_SANITIZE=ON
  echo "All tests passed."
}

# Sourced (scripts/checkaccounting.sh tries its steps on made-up builds), it only defines the above.
[ "${BASH_SOURCE[0]}" != "$0" ] || main "$@"
