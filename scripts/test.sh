#!/usr/bin/env bash
# Builds everything and runs every test, then again under AddressSanitizer and UBSan. Every test object a
# suite runs must end in its own totals with no failed row, not only exit 0. Run as root (as CI does),
# every row that skips runs once more as `nobody`, and a full temporary file system is checked not to make
# a test touch its working directory. No suite may leave anything in the shared temporary, config or
# runtime folder, in these runs as in those.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
jobs="$(nproc)"

# shellcheck source=scripts/folderchecks.sh
source "$root/scripts/folderchecks.sh"
# Both builds and their tests take about 12 GB.
low_space_warning "$root" 12

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/runtime" "$scratch/config" "$scratch/tmp"
chmod 700 "$scratch/runtime"
# The suites' temporary folders go here, so what one leaves behind is seen; rows that run a process as
# another user reach their folders through it, as through /tmp.
chmod 711 "$scratch"
chmod 1777 "$scratch/tmp"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"

# shellcheck source=scripts/unprivileged.sh
source "$root/scripts/unprivileged.sh"

# What the tests' working directory (the build's tests/ folder) holds besides the suites.
workdir_listing() { (cd "$1/tests" && find . -mindepth 1 ! -path './test_*' ! -path './CMakeFiles*' ! -path '*_autogen*' | sort); }

run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  local before
  before="$(workdir_listing "$dir")"
  (cd "$dir" && TMPDIR="$scratch/tmp" ctest --output-on-failure --no-tests=error -j "$jobs")
  # Each suite's temporary folders went with it, and nothing is left in the shared config and runtime
  # folders (the rows run as nobody are checked the same way in theirs).
  leftovers "$scratch/tmp" "$scratch/config" "$scratch/runtime" || return 1
  # A test writes only below its own temporary folder, never where it runs.
  if [ "$(workdir_listing "$dir")" != "$before" ]; then
    echo "Tests wrote into their working directory $dir/tests:" >&2
    diff <(echo "$before") <(workdir_listing "$dir") >&2 || true
    return 1
  fi
  # Every suite ran to its totals with no failed row; every skipped row is told; as root the rows root
  # skips run as `nobody`, and none may stay skipped.
  account_test_log "$root" "$dir"
}

echo "== the test log's accounting on made-up logs, the folder and disk checks on made-up folders"
bash "$root/scripts/checkaccounting.sh"
echo "== build and test"
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash "$root/scripts/bench.sh" "$root/build"
echo "== a full temporary file system: tests fail without touching their working directory"
bash "$root/scripts/fulltmp.sh" "$root/build"
echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
# Full stacks on malloc, so the one known leak of Qt's platform plugin can be suppressed by name.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTESSARK_SANITIZE=ON
echo "All tests passed."
