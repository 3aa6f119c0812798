#!/usr/bin/env bash
# Builds everything and runs every test, then again under AddressSanitizer and UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
jobs="$(nproc)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/runtime" "$scratch/config"
chmod 700 "$scratch/runtime"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"

run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== build and test"
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTESSARK_SANITIZE=ON
echo "All tests passed."
