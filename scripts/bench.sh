#!/usr/bin/env bash
# Runs every benchmark of a build once, with its smallest arguments and side by side, so that none can
# stop working unseen: fails when one fails (or runs past its time). The figures are not judged.
#   scripts/bench.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: scripts/bench.sh BUILD_DIR}" && pwd)"
# shellcheck source=scripts/timescale.sh
source "$root/scripts/timescale.sh"
limit="$(scaled 300 "$build")" # seconds each

# The smallest arguments of each benchmark; one not named here runs without any.
declare -A smallest=(
  [bench_color]="1"
  [bench_fullupgrade]="1024 1"
  [bench_heldpages]="1"
  [bench_macro]="1"
  [bench_servertext]="1"
  [bench_startup]="1"
  [bench_updatedownload]="1" # the largest image: the size an update brings
  [bench_upgrade]="1024 1"
)

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Told to stop, the clean-up above runs too.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
echo "== every benchmark once, with its smallest arguments"
started=$SECONDS
declare -A pids
for src in "$root"/bench/bench_*.cpp; do
  name="$(basename "$src" .cpp)"
  exe="$build/bench/$name"
  mkdir -p "$scratch/$name/runtime" "$scratch/$name/config"
  chmod 700 "$scratch/$name/runtime"
  if [ ! -x "$exe" ]; then
    echo "not built" > "$scratch/$name/log"
    (exit 1) &
  else
    # Each in folders of its own: the start-up benchmark's tool takes a single-instance lock there.
    # shellcheck disable=SC2086
    (cd "$scratch/$name" && XDG_RUNTIME_DIR="$scratch/$name/runtime" XDG_CONFIG_HOME="$scratch/$name/config" \
       timeout -k 10 "$limit" "$exe" ${smallest[$name]:-} > "$scratch/$name/log" 2>&1) &
  fi
  pids[$name]=$!
done

failed=0
for name in $(printf '%s\n' "${!pids[@]}" | sort); do
  if wait "${pids[$name]}"; then
    echo "bench: $name ${smallest[$name]:-} ok"
  else
    status=$?
    failed=1
    why="exit status $status"
    [ "$status" -ne 124 ] || why="still running after $limit s"
    echo "bench: $name ${smallest[$name]:-} FAILED ($why):" >&2
    tail -n 20 "$scratch/$name/log" >&2
  fi
done
echo "bench: every benchmark run once in $((SECONDS - started)) s"
exit "$failed"
