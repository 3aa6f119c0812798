#!/usr/bin/env bash
# Checks what test.sh concludes from a ctest log, on made-up logs: a suite cut short or with a failed
# row, in any of its test objects, fails the run, as does a log without suites or whose skipped rows
# disagree with its totals, or whose totals are not QtTest's own, or that is not ctest's records alone;
# as root a skipped row passes only if it passes as nobody and leaves nothing behind, where a stand-in
# suite plays the row's part. Then test.sh's own steps after a build, on a made-up build: a suite that
# leaves anything in one of the shared folders or where it runs fails them, also in the run of every
# suite as nobody, and where the copy that run uses names the build or lacks what a suite reads beside
# it, or the suite reaches the build itself. Then the checks of the copy, the shared folders and free
# disk space.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/test.sh
source "$root/scripts/test.sh"
checkrun="$root/scripts/checkrun.sh" # its judgements are tried below
scratch="$(mktemp -d)"
# As test.sh's: the runs as nobody make their folders below it.
chmod 711 "$scratch"
trap 'remove_tree "$scratch"' EXIT
# Told to stop, the clean-up above runs too.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
mkdir -p "$scratch/checkout/tests" "$scratch/build/tests" "$scratch/build/Testing/Temporary"
# What the made-up suite reads beside it, and the build's stand-in for it.
printf '# the tool\ntessark-sim\n' >"$scratch/checkout/tests/beside.txt"
: >"$scratch/build/tessark-sim"
log="$scratch/build/Testing/Temporary/LastTest.log"
# ctest's own files of the made-up build, for the run of every suite as nobody.
printf 'subdirs("tests")\n' >"$scratch/build/CTestTestfile.cmake"
printf 'add_test(test_fixture "%s")\n' "$scratch/build/tests/test_fixture" >"$scratch/build/tests/CTestTestfile.cmake"

# A ctest log of the suite test_fixture whose output is the lines given, in ctest's form.
rule="$(printf -- '-%.0s' {1..58})"
write_log() {
  {
    printf '%s\n' "Start testing: Dec 08 19:45 UTC" "$rule" "1/1 Testing: test_fixture" "1/1 Test: test_fixture" \
      "Command: \"$scratch/build/tests/test_fixture\"" "Directory: $scratch/build/tests" \
      "\"test_fixture\" start time: Dec 08 19:45 UTC" "Output:" "$rule"
    printf '%s\n' "********* Start testing of Fixture *********" "$@"
    printf '%s\n' "<end of output>" "Test time =   0.01 sec" "$rule" "Test Passed." \
      "\"test_fixture\" end time: Dec 08 19:45 UTC" "\"test_fixture\" time elapsed: 00:00:00" "$rule" "" \
      "End testing: Dec 08 19:45 UTC"
  } >"$log"
}

# The suite as nobody runs it, given the row "function:tag": the tag says how the row ends.
# Run by ctest, with no row named, FIXTURE_HOW says how its one row ends.
cat >"$scratch/build/tests/test_fixture" <<'EOF'
#!/bin/sh
[ "$#" -gt 0 ] || set -- "row:$FIXTURE_HOW"
fn="${1%%:*}" tag="${1#*:}" failed=0 skipped=0 status=0
echo "********* Start testing of Fixture *********"
echo "PASS   : Fixture::initTestCase()"
case "$tag" in
  passes*) echo "PASS   : Fixture::$fn($tag)" ;;
  "leaves a hidden file in its "*) echo "PASS   : Fixture::$fn($tag)"
    case "$tag" in *config*) touch "$XDG_CONFIG_HOME/.left" ;; *runtime*) touch "$XDG_RUNTIME_DIR/.left" ;; *) touch "$TMPDIR/.left" ;; esac ;;
  fails*) echo "FAIL!  : Fixture::$fn($tag) 'ok' returned FALSE. ()"; failed=1; status=1 ;;
  "ends badly"*) echo "PASS   : Fixture::$fn($tag)"; status=1 ;; # as after a leak report
  "writes where it runs"*) echo "PASS   : Fixture::$fn($tag)"; touch .left ;;
  "stops early"*) echo "PASS   : Fixture::$fn($tag)"; echo "FAIL!  : Fixture::cleanupTestCase() 'ok' returned FALSE. ()"
                 exit 0 ;;
  skips*) echo "SKIP   : Fixture::$fn($tag) still skipped" ; skipped=1 ;;
  "reads the build folder"*)
    if cat "$FIXTURE_BUILD/tests/CTestTestfile.cmake" >/dev/null 2>&1; then echo "PASS   : Fixture::$fn($tag)"
    else echo "FAIL!  : Fixture::$fn($tag) the build is out of reach ()"; failed=1; status=1; fi ;;
esac
echo "PASS   : Fixture::cleanupTestCase()"
echo "Totals: $((3 - failed - skipped)) passed, $failed failed, $skipped skipped, 0 blacklisted, 1ms"
echo "********* Finished testing of Fixture *********"
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

# An object's totals as QtTest writes them, then its Finished line.
totals() { printf 'Totals: %s passed, %s failed, %s skipped, 0 blacklisted, 1ms\n********* Finished testing of %s *********\n' "$2" "$3" "$4" "$1"; }
write_log "PASS   : Fixture::initTestCase()" "$(totals Fixture 1 0 0)"
expect pass "a suite that ran to its totals" account
write_log "PASS   : Fixture::initTestCase()" "FAIL!  : Fixture::row() 'ok' returned FALSE. ()"
expect fail "a suite cut short after a failed row" account
write_log "FAIL!  : Fixture::row() 'ok' returned FALSE. ()" "$(totals Fixture 1 1 0)"
expect fail "a suite whose totals tell a failed row" account
write_log "$(totals Fixture 1 0 0)" "FAIL!  : Fixture::row() 'ok' returned FALSE. ()"
expect fail "a suite failing after its totals" account
# A suite of two test objects: each must reach its own totals.
second="********* Start testing of Second *********"
write_log "$(totals Fixture 1 0 0)" "$second" "PASS   : Second::initTestCase()" "$(totals Second 1 0 0)"
expect pass "a suite whose two objects ran to their totals" account
write_log "$second" "PASS   : Second::initTestCase()" "$(totals Second 1 0 0)" "PASS   : Fixture::row()" "$(totals Fixture 2 0 0)"
expect pass "a suite whose test ran a child suite to its totals inside its own" account
write_log "FAIL!  : Fixture::row() 'ok' returned FALSE. ()" "$second" "$(totals Second 1 0 0)"
expect fail "a suite whose first object failed, the second ending clean" account
write_log "$(totals Fixture 1 0 0)" "$second" "PASS   : Second::initTestCase()"
expect fail "a suite whose second object was cut short" account
# Totals count only in QtTest's own form after their object's start: a line like them in a log message
# closes nothing. log_fails WHAT LINES...: a log of these lines fails the run.
log_fails() { write_log "${@:2}"; expect fail "$1" account; }
init="PASS   : Fixture::initTestCase()" said="QDEBUG : Fixture::row() the child said:"
forged="Totals: 3 passed, 0 failed, 0 skipped, 0 blacklisted, 1ms"
log_fails "a suite cut short after totals forged inside a multi-line log message" "$init" "$said" "$forged"
log_fails "a suite with totals forged inside a multi-line log message, then its own" "$said" "$forged" "and more" \
  "PASS   : Fixture::row()" "$(totals Fixture 3 0 0)"
log_fails "a suite cut short after a child suite's totals without its start line" "$init" "$(totals Child 1 0 0)"
log_fails "a suite showing a child suite's totals without its start line" "$init" "$(totals Child 1 0 0)" "$(totals Fixture 2 0 0)"
log_fails "a suite whose totals are not in QtTest's form" "$init" "Totals: 1 passed, 0 failed" "********* Finished testing of Fixture *********"
# A suite's output goes into the log as it stands: a line of it like ctest's own ends nothing.
fail_row="FAIL!  : Fixture::row() 'ok' returned FALSE. ()"
log_fails "a failed row after a line like the next suite's start" "$(totals Fixture 1 0 0)" "1/9 Testing: x" "$fail_row"
log_fails "a failed row after a line like the end of the suite's output" "$(totals Fixture 1 0 0)" "<end of output>" \
  "$fail_row"
log_fails "a failed row after ctest's closing lines but the end time" "$(totals Fixture 1 0 0)" "<end of output>" \
  "Test time =   0.01 sec" "$rule" "Test Passed." "$fail_row"
log_fails "a failed row after ctest's whole closing lines" "$(totals Fixture 1 0 0)" "<end of output>" \
  "Test time =   0.01 sec" "$rule" "Test Passed." "\"test_fixture\" end time: Dec 08 19:45 UTC" "$fail_row"
write_log "<end of output>" "1/9 Testing: x" "$(totals Fixture 1 0 0)"
expect pass "a suite whose output holds lines like ctest's own, ending in its totals" account
write_log "$(totals Fixture 1 0 0)"
sed -i '/^<end of output>$/,$d' "$log"
expect fail "a log ending inside a suite's record" account
write_log "$(totals Fixture 1 0 0)"
cat "$log" "$log" >"$scratch/twice" && mv "$scratch/twice" "$log"
expect fail "a log with two records of one suite" account
# shellcheck disable=SC2317 # called through expect
skips() { skipped_rows "$log"; }
write_log "SKIP   : Fixture::row(a) reason" "$said" \
  "Totals: 0 passed, 0 failed, 1 skipped, 0 blacklisted, 1ms" "$(totals Fixture 1 0 0)"
expect fail "skipped rows matched by totals forged inside a log message" skips
: >"$log"
expect fail "a log without suites" account
# A failed run names its failed rows at its end, with what QtTest says below each, a bounded number.
# rows_named WHAT EXPECTED: failed_rows prints the lines expected for the log written last.
rows_named() {
  local got
  got="$(failed_rows "$log")"
  [ "$got" = "$2" ] || { printf 'Accounting check: %s: named\n%s\n' "$1" "$got" >&2; failures=$((failures + 1)); }
}
write_log "FAIL!  : Fixture::row(a) Compared values are not the same" "   Actual   (got): 1" \
  "   Expected (want): 2" "   Loc: [fixture.cpp(12)]" "QDEBUG : Fixture::row(b) said" "   Loc: [fixture.cpp(14)]" \
  "QFATAL : Fixture::other() gone" "$(totals Fixture 1 1 0)"
rows_named "a failed row and a fatal message" "$(printf '%s\n' \
  "test_fixture: FAIL!  : Fixture::row(a) Compared values are not the same" "    Actual   (got): 1" \
  "    Expected (want): 2" "    Loc: [fixture.cpp(12)]" "test_fixture: QFATAL : Fixture::other() gone")"
write_log "$(for n in $(seq 1 $((MaxFailedRows + 5))); do echo "FAIL!  : Fixture::row($n) 'ok' returned FALSE. ($(printf 'x%.0s' {1..400}))"; done)"
rows_named "more failed rows than are named" "$(for n in $(seq 1 "$MaxFailedRows"); do
  echo "test_fixture: FAIL!  : Fixture::row($n) 'ok' returned FALSE. ($(printf 'x%.0s' {1..400}))" | cut -c1-300; done
  echo "(and 5 more)")"
write_log "$(totals Fixture 1 0 0)"
rows_named "a log without failed rows" "(none named: see the output above)"
write_log "SKIP   : Fixture::row(passes as nobody) root reads a file of mode 000 anyway" "$(totals Fixture 1 0 2)"
expect fail "a skipped row the log does not name" account

skip_as_root() { write_log "SKIP   : Fixture::row($1) root reads a file of mode 000 anyway" "$(totals Fixture 2 0 1)"; }
if [ "$(id -u)" -eq 0 ]; then
  skip_as_root "passes as nobody"
  expect pass "a row root skipped, passing as nobody" account
  grep -q '^Skipped rows: 0$' "$scratch/out" || { echo "Accounting check: a row passing as nobody is counted as skipped" >&2; failures=$((failures + 1)); }
  for how in "fails" "ends badly" "stops early" "skips" "leaves a hidden file in its config folder" \
    "leaves a hidden file in its runtime folder" "leaves a hidden file in its temporary folder"; do
    skip_as_root "$how as nobody"
    expect fail "a row root skipped that $how as nobody" account
  done
else
  skip_as_root "a row"
  expect pass "a row skipped by another user than root" account
  grep -q '^Skipped rows: 1$' "$scratch/out" || { echo "Accounting check: a skipped row is not counted" >&2; failures=$((failures + 1)); }
fi

# test.sh's steps after a build, on the made-up build, in shared folders of their own: cmake stands in for
# nothing, and ctest for a run of test_fixture that passes, skipping the row FIXTURE_HOW names, and
# leaves a hidden file in the folder `left` names, if any. With `nobody` = all, as root, every suite runs
# once more as nobody: the fixture's row there ends as FIXTURE_HOW says.
# shellcheck disable=SC2317 # called through expect
test_sh_steps() {
  (
    fixture="$scratch/build" jobs=2 root="$scratch/checkout"
    make_scratch
    trap 'remove_tree "$scratch"; rm -f "$fixture/tests/.left"' EXIT
    cmake() { :; }
    ctest() {
      skip_as_root "$FIXTURE_HOW"
      case "$left" in
        tmp) touch "$TMPDIR/.left" ;;
        config) touch "$XDG_CONFIG_HOME/.left" ;;
        runtime) touch "$XDG_RUNTIME_DIR/.left" ;;
        workdir) touch tests/.left ;;
      esac
    }
    run_suite "$fixture" "$nobody"
  )
}
export FIXTURE_HOW="passes as nobody"
nobody=rows left=""
expect pass "test.sh after suites that leave nothing" test_sh_steps
for left in tmp config runtime workdir; do
  expect fail "test.sh after a suite that leaves a hidden file in the $left folder" test_sh_steps
done
left=""
if [ "$(id -u)" -eq 0 ]; then
  nobody=all
  expect pass "test.sh with every suite run as nobody, passing" test_sh_steps
  grep -q '^Skipped rows: 0$' "$scratch/out" || { echo "Accounting check: a row passing in the run of every suite as nobody is counted as skipped" >&2; failures=$((failures + 1)); }
  for FIXTURE_HOW in "fails" "ends badly" "stops early" "skips" "writes where it runs" \
    "leaves a hidden file in its config folder" \
    "leaves a hidden file in its runtime folder" "leaves a hidden file in its temporary folder"; do
    expect fail "test.sh with every suite run as nobody, one that $FIXTURE_HOW as nobody" test_sh_steps
  done
  FIXTURE_HOW="passes as nobody"
  # The copy stands alone: the run fails where a suite still names the build's folder, or the copy lacks
  # what the suites read beside them; and it runs as from a checkout only root can enter, even where the
  # checkout and build are open to every user.
  fixture="$scratch/build/tests/test_fixture"
  cp "$fixture" "$scratch/fixture"
  printf '# built in %s\n' "$scratch/build" >>"$fixture"
  expect fail "test.sh with every suite run as nobody, one naming the build's folder" test_sh_steps
  cp "$scratch/fixture" "$fixture"
  rm "$scratch/build/tessark-sim"
  expect fail "test.sh with every suite run as nobody, the copy lacking what a suite reads beside it" test_sh_steps
  : >"$scratch/build/tessark-sim"
  chmod 755 "$scratch"
  FIXTURE_HOW="reads the build folder" FIXTURE_BUILD="$scratch/build"
  export FIXTURE_BUILD
  expect fail "test.sh with every suite run as nobody, one reading the build where every user may" test_sh_steps
  chmod 700 "$scratch"
  FIXTURE_HOW="passes as nobody"
  expect pass "test.sh with every suite run as nobody, passing, after the copy's checks" test_sh_steps
fi

# The copy's own check, for any user: a suite in it naming the build's folder, a place the list names
# missing, or no list at all fails it.
copy="$scratch/copy"
mkdir -p "$copy/tests" "$copy/font"
printf 'font\n' >"$copy/tests/beside.txt"
printf 'a suite\n' >"$copy/tests/test_one"
# shellcheck disable=SC2317 # called through expect
whole() { copy_is_whole "$scratch/build" "$copy"; }
expect pass "a copy holding what the list names, its suite naming no build" whole
printf 'reads %s/font\n' "$scratch/build" >"$copy/tests/test_two"
expect fail "a copy whose suite names the build's folder" whole
rm "$copy/tests/test_two"
printf 'font\nUpgrade/Upgrade\n' >"$copy/tests/beside.txt"
expect fail "a copy lacking a place the list names" whole
rm "$copy/tests/beside.txt"
expect fail "a copy without the list" whole

# The suites' shared folders: anything left in them fails the run, hidden files too.
shared="$scratch/shared"
mkdir -p "$shared/tmp" "$shared/config" "$shared/runtime"
# shellcheck disable=SC2317 # called through expect
shared_left() { leftovers "$shared/tmp" "$shared/config" "$shared/runtime"; }
expect pass "shared folders left empty" shared_left
for left in tmp/file config/.hidden runtime/.hidden tmp/.folder/; do
  case "$left" in */) mkdir "$shared/$left" ;; *) : >"$shared/$left" ;; esac
  expect fail "$left left in a shared folder" shared_left
  rm -rf "${shared:?}/$left"
done
rmdir "$shared/config"
expect fail "a shared folder removed" shared_left
mkdir "$scratch/elsewhere"
ln -s "$scratch/elsewhere" "$shared/config"
expect fail "a link at a shared folder, to an empty folder" shared_left

# The warning when 12 GB are needed, from the free space df tells in KiB (none: no warning), and the
# start of the warning expected (none if empty).
# shellcheck disable=SC2317 # called by low_space_warning
df() { printf 'Filesystem 1024-blocks Used Available Capacity Mounted on\n/dev/made-up 99999999 1 %s 1%% /\n' "$made_up_kb"; }
for row in "$((11 << 20)) warning: only 11264 MB free beside $scratch;" "$(((12 << 20) - 1)) warning: only 12287 MB free" \
  "$((12 << 20)) " "$((13 << 20)) " " "; do
  made_up_kb="${row%% *}" want="${row#* }"
  warning="$(low_space_warning "$scratch" 12 2>&1)"
  [[ (-n $want && $warning == *"$want"*) || -z $want$warning ]] ||
    { echo "Disk space check: ${made_up_kb:-no} KiB free, but it said: \"$warning\"" >&2; failures=$((failures + 1)); }
done
unset -f df

# The scripts' waits: scaled as the suites' are, by the build's own factor times TESSARK_TEST_TIME_SCALE
# where that is a number of at least 1 (at most 1000); rounded up. Rows: "value|build|wait|scaled".
mkdir -p "$scratch/asan" "$scratch/plain"
printf 'TESSARK_SANITIZE:BOOL=ON\n' >"$scratch/asan/CMakeCache.txt"
printf 'TESSARK_SANITIZE:BOOL=OFF\n' >"$scratch/plain/CMakeCache.txt"
for row in "|plain|30|30" "3|plain|30|90" " 2.5 |plain|3|8" "1e1|plain|30|300" "0.5|plain|30|30" "abc|plain|30|30" \
  "inf|plain|30|30" "-3|plain|30|30" "5000|plain|3|3000" "|asan|30|120" "3|asan|100|1200" "|none|30|30"; do
  IFS='|' read -r value kind base want <<<"$row"
  got="$(TESSARK_TEST_TIME_SCALE="$value" scaled "$base" "$scratch/$kind")"
  [ "$got" = "$want" ] ||
    { echo "Time scale: a wait of $base, factor \"$value\", $kind build: $got, not $want" >&2; failures=$((failures + 1)); }
done

# The sanitizers read the suppressions test.sh names from a folder whose name holds a space, é or a
# quote of either kind (not both: their options cannot say that, and test.sh refuses it).
printf 'int main(void) { return 0; }\n' >"$scratch/leakless.c"
if gcc -fsanitize=address -o "$scratch/leakless" "$scratch/leakless.c" 2>/dev/null; then
  for folder in "my wörk/tëst ñ" "it's here" 'say "hi"'; do
    mkdir -p "$scratch/$folder"
    printf 'leak:nothing\n' >"$scratch/$folder/lsan.supp"
    # shellcheck disable=SC2317 # called through expect
    read_suppressions() {
      LSAN_OPTIONS="suppressions=$(sanitizer_path "$scratch/$folder/lsan.supp")" ASAN_OPTIONS=detect_leaks=1 \
        "$scratch/leakless"
    }
    expect pass "the sanitizers' suppressions in \"$folder\"" read_suppressions
  done
  mkdir -p "$scratch/both \" '"
  expect fail "a suppressions path holding both kinds of quote" sanitizer_path "$scratch/both \" '/lsan.supp"
else
  echo "Accounting check: gcc cannot build with AddressSanitizer" >&2
  failures=$((failures + 1))
fi

# test.sh told to stop (INT, TERM or HUP) during a step: it ends at once, the step and what the step
# started end with it, also a process that left the step's process group (setsid; timeout makes a group
# of its own for what it runs), and its scratch folder goes. Started as from a terminal (job control, the
# signals' default action), so that INT and HUP are not ignored where this check was started with them
# ignored (in the background, nohup). The step's child is, by `how`: setsid (in a session of its own),
# timeout (the child of timeout, in timeout's group) or plain (in the step's group). With `broken` set,
# test.sh's listing of processes fails: the stop still ends the step's group.
# shellcheck disable=SC2317 # called through expect
stopped_run() {
  local signal="$1" how="${2:-setsid}" broken="${3:-}" ids="$scratch/stop-ids" run started="" made="" i child
  rm -f "$ids" "$ids.scratch"
  # shellcheck disable=SC2016 # expanded by the shell of the step
  case "$how" in
    setsid) child='setsid sleep 300 & echo $! >"$0.new"; mv "$0.new" "$0"; wait' ;;
    timeout) child='timeout 300 sh -c '"'"'echo $$ >"$0.new"; mv "$0.new" "$0"; exec sleep 300'"'"' "$0" & wait' ;;
    plain) child='sleep 300 & echo $! >"$0.new"; mv "$0.new" "$0"; wait' ;;
  esac
  set -m
  # shellcheck disable=SC2016 # expanded by the inner shells
  env --default-signal=INT,TERM,HUP bash -c 'source "$1"; [ -z "$4" ] || descendants() { return 1; }
    prepare_run; echo "$scratch" >"$2.scratch"
    step bash -c "$3" "$2"' \
    stopped_run "$root/scripts/test.sh" "$ids" "$child" "$broken" &
  run=$!
  set +m
  for ((i = 0; i < 100; i++)); do [ -s "$ids" ] && break; sleep 0.1; done
  read -r started <"$ids" 2>/dev/null || true
  read -r made <"$ids.scratch" 2>/dev/null || true
  [ -n "$started" ] && [ -n "$made" ] || { echo "the step did not start"; kill -KILL -- "-$run"; return 1; }
  kill "-$signal" "$run"
  for ((i = 0; i < 100; i++)); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
  local failed=0
  if kill -0 "$run" 2>/dev/null; then echo "test.sh still runs 10 s after $signal"; kill -KILL -- "-$run"; failed=1; fi
  wait "$run" 2>/dev/null || true
  # A zombie has ended: its parent went first, and what adopts it may reap it late. Read once: a process
  # gone between two reads would look alive.
  if grep -q '^State:[[:space:]]*[^ZX[:space:]]' "/proc/$started/status" 2>/dev/null; then
    echo "what the step started still runs"; kill -KILL "$started" 2>/dev/null; failed=1; fi
  if [ -e "$made" ]; then echo "the scratch folder $made is left"; remove_tree "$made"; failed=1; fi
  return "$failed"
}
# The stop rows run while short-lived processes start and end (as on a busy machine), so a process that
# ends while test.sh lists them is met: loops of this check's own, ended by their ids.
churn=()
end_churn() {
  [ "${#churn[@]}" -eq 0 ] || { kill "${churn[@]}" 2>/dev/null; wait "${churn[@]}" 2>/dev/null; } || true
  churn=()
}
trap 'end_churn; remove_tree "$scratch"' EXIT
for _ in 1 2 3 4; do sh -c 'while :; do /bin/true; done' & churn+=($!); done
for signal in INT TERM HUP; do
  expect pass "test.sh told to stop with $signal during a step, processes coming and going" stopped_run "$signal"
done
expect pass "test.sh told to stop with TERM during a step whose child runs under timeout, processes coming and going" \
  stopped_run TERM timeout
expect pass "test.sh told to stop with INT during a step, its listing of processes failing" stopped_run INT plain broken
# test.sh's listing itself, as its stop reads it (with -e and pipefail): it succeeds, naming the child of
# the shell listed, each of several times.
# shellcheck disable=SC2317 # called through expect
listing() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  bash -c 'set -euo pipefail; source "$1"; sleep 60 & child=$!
    for _ in 1 2 3 4 5; do
      procs="$(descendants "$$")" || { echo "the listing failed"; kill "$child"; exit 1; }
      [[ $'"'"'\n'"'"'$procs == *$'"'"'\n'"'"'"$child "[0-9]* ]] || { echo "the listing lacks the child: $procs"; kill "$child"; exit 1; }
    done
    kill "$child"' listing "$root/scripts/test.sh"
}
expect pass "test.sh's listing of a step's processes, processes coming and going" listing
end_churn

# The run check's judgement of an X server's lock file: left only when it names the X server the run
# started (here 4242), written as X writes it; another X server's, at the same display, is not its own.
# shellcheck disable=SC2317 # called through expect
lock_left() { bash -c 'source "$1"; shift; x_lock_left "$@"' lock_left "$checkrun" "$@"; }
lock="$scratch/.X99-lock"
printf '%10d\n' 4242 >"$lock"
expect pass "the run's X server's lock file, left" lock_left "$lock" 4242
printf '%10d\n' 4243 >"$lock"
expect fail "another X server's lock file at the run's display number" lock_left "$lock" 4242
rm "$lock"
expect fail "no lock file" lock_left "$lock" 4242
# The run check's readings of a process that has ended (as one may between its listing and its reading):
# nothing, and the check goes on (it runs with -e and pipefail).
# shellcheck disable=SC2317 # called through expect
gone_read() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  bash -c 'source "$1"; set -euo pipefail; true & pid=$!; wait "$pid"
    ! alive "$pid" || { echo "an ended process is alive"; exit 1; }
    track "$pid"; read_parent="$(stat_field "$pid" 2)"; read_display="$(display_of "$pid")"
    [ "${started[*]}" = "$pid " ] && [ -z "$read_parent$read_display" ] || { echo "read: ${started[*]}|$read_parent|$read_display"; exit 1; }
    alive "$$" && [ "$(stat_field "$$" 2)" = "$PPID" ] || { echo "this shell is not read as running, with its parent"; exit 1; }' \
    gone_read "$checkrun"
}
expect pass "the run check's readings of an ended process" gone_read

[ "$failures" -eq 0 ] && echo "The accounting holds on made-up logs, and the folder and disk checks on made-up folders."
exit "$((failures > 0))"
