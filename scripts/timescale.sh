# shellcheck shell=bash
# Sourced by the scripts: how long a wait for something that must not hang may take. The same factor as
# the suites' waits (tests/support/timescale.cpp): the build's own (4 for the sanitizer build), times
# TESSARK_TEST_TIME_SCALE where that is a number of at least 1 (at most 1000); anything else leaves the
# build's own. scripts/checkaccounting.sh checks it on made-up values.

# The build's own factor: 4 for a build with the sanitizers, 1 otherwise (or with no build given).
build_time_factor() {
  local cache="${1:-}/CMakeCache.txt"
  if [ -n "${1:-}" ] && [ -f "$cache" ] && grep -q '^TESSARK_SANITIZE:BOOL=ON$' "$cache"; then
    echo 4
  else
    echo 1
  fi
}

# scaled WAIT [BUILD_DIR]: the wait (in any unit) for this run's factor, rounded up to a whole unit.
scaled() {
  awk -v base="$1" -v build="$(build_time_factor "${2:-}")" -v extra="${TESSARK_TEST_TIME_SCALE:-}" 'BEGIN {
    factor = build
    gsub(/^[[:space:]]+|[[:space:]]+$/, "", extra)
    if (extra ~ /^[+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$/ && extra + 0 >= 1)
      factor = build * (extra + 0 > 1000 ? 1000 : extra + 0)
    w = base * factor
    printf "%d\n", (w == int(w) ? w : int(w) + 1)
  }'
}
