#!/usr/bin/env bash
# Checks what test.sh concludes from a ctest log, on made-up logs: a suite cut short or with a failed
# row, in any of its test objects, fails the run, as does a log without suites or whose skipped rows
# disagree with its totals; as root a skipped row passes only if it passes as nobody, where a stand-in
# suite plays the row's part.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/unprivileged.sh
source "$root/scripts/unprivileged.sh"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/checkout" "$scratch/build/tests" "$scratch/build/Testing/Temporary"
log="$scratch/build/Testing/Temporary/LastTest.log"

# A ctest log of the suite test_fixture whose output is the lines given.
write_log() {
  {
    printf '1/1 Testing: test_fixture\n1/1 Test: test_fixture\nOutput:\n%s\n' "$(printf -- '-%.0s' {1..58})"
    printf '%s\n' "********* Start testing of Fixture *********" "$@"
    printf '<end of output>\nTest time =   0.01 sec\n'
  } >"$log"
}

# The suite as nobody runs it, given the row "function:tag": the tag says how the row ends.
cat >"$scratch/build/tests/test_fixture" <<'EOF'
#!/bin/sh
fn="${1%%:*}" tag="${1#*:}" failed=0 skipped=0 status=0
echo "PASS   : Fixture::initTestCase()"
case "$tag" in
  passes*) echo "PASS   : Fixture::$fn($tag)" ;;
  fails*) echo "FAIL!  : Fixture::$fn($tag) 'ok' returned FALSE. ()"; failed=1; status=1 ;;
  "ends badly"*) echo "PASS   : Fixture::$fn($tag)"; status=1 ;; # as after a leak report
  "stops early"*) echo "PASS   : Fixture::$fn($tag)"; echo "FAIL!  : Fixture::cleanupTestCase() 'ok' returned FALSE. ()"
                 exit 0 ;;
  skips*) echo "SKIP   : Fixture::$fn($tag) still skipped" ; skipped=1 ;;
esac
echo "PASS   : Fixture::cleanupTestCase()"
echo "Totals: $((3 - failed - skipped)) passed, $failed failed, $skipped skipped, 0 blacklisted, 1ms"
exit "$status"
EOF
chmod 755 "$scratch/checkout" "$scratch/build/tests/test_fixture"

failures=0
# expect pass|fail WHAT COMMAND...: the command's outcome is the one expected.
expect() {
  local want="$1" what="$2" got=pass
  shift 2
  "$@" >"$scratch/out" 2>&1 || got=fail
  if [ "$got" != "$want" ]; then
    echo "Accounting check: $what: the run would $got, it must $want." >&2
    sed 's/^/  /' "$scratch/out" >&2
    failures=$((failures + 1))
  fi
}
# shellcheck disable=SC2317 # called through expect
account() { account_test_log "$scratch/checkout" "$scratch/build"; }

totals() { printf 'Totals: %s passed, %s failed, %s skipped, 0 blacklisted, 1ms\n' "$@"; }
write_log "PASS   : Fixture::initTestCase()" "$(totals 1 0 0)" "********* Finished testing of Fixture *********"
expect pass "a suite that ran to its totals" account
write_log "PASS   : Fixture::initTestCase()" "FAIL!  : Fixture::row() 'ok' returned FALSE. ()"
expect fail "a suite cut short after a failed row" account
write_log "FAIL!  : Fixture::row() 'ok' returned FALSE. ()" "$(totals 1 1 0)"
expect fail "a suite whose totals tell a failed row" account
write_log "$(totals 1 0 0)" "FAIL!  : Fixture::row() 'ok' returned FALSE. ()"
expect fail "a suite failing after its totals" account
# A suite of two test objects: each must reach its own totals.
second="********* Start testing of Second *********"
write_log "$(totals 1 0 0)" "$second" "PASS   : Second::initTestCase()" "$(totals 1 0 0)"
expect pass "a suite whose two objects ran to their totals" account
write_log "$second" "PASS   : Second::initTestCase()" "$(totals 1 0 0)" "PASS   : Fixture::row()" "$(totals 2 0 0)"
expect pass "a suite whose test ran a child suite to its totals inside its own" account
write_log "FAIL!  : Fixture::row() 'ok' returned FALSE. ()" "$second" "$(totals 1 0 0)"
expect fail "a suite whose first object failed, the second ending clean" account
write_log "$(totals 1 0 0)" "$second" "PASS   : Second::initTestCase()"
expect fail "a suite whose second object was cut short" account
: >"$log"
expect fail "a log without suites" account
write_log "SKIP   : Fixture::row(passes as nobody) root reads a file of mode 000 anyway" "$(totals 1 0 2)"
expect fail "a skipped row the log does not name" account

skip_as_root() { write_log "SKIP   : Fixture::row($1) root reads a file of mode 000 anyway" "$(totals 2 0 1)"; }
if [ "$(id -u)" -eq 0 ]; then
  skip_as_root "passes as nobody"
  expect pass "a row root skipped, passing as nobody" account
  grep -q '^Skipped rows: 0$' "$scratch/out" || { echo "Accounting check: a row passing as nobody is counted as skipped" >&2; failures=$((failures + 1)); }
  for how in "fails" "ends badly" "stops early" "skips"; do
    skip_as_root "$how as nobody"
    expect fail "a row root skipped that $how as nobody" account
  done
else
  skip_as_root "a row"
  expect pass "a row skipped by another user than root" account
  grep -q '^Skipped rows: 1$' "$scratch/out" || { echo "Accounting check: a skipped row is not counted" >&2; failures=$((failures + 1)); }
fi
[ "$failures" -eq 0 ] && echo "The accounting holds on made-up logs."
exit "$((failures > 0))"
