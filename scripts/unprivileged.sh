# shellcheck shell=bash
# Sourced by test.sh: checks that every suite ran to its end, counts the test rows that were skipped,
# and as root runs every suite, or the rows root skips (permissions do not bind root), once more as
# `nobody`.
# scripts/checkaccounting.sh checks these functions on made-up logs.
#
# CTest shows only the output of suites that fail; its log keeps every suite's output, and QtTest
# writes one line per skipped row there: "SKIP   : Class::function(tag) reason".

# shellcheck source=scripts/folderchecks.sh
source "$(dirname "${BASH_SOURCE[0]}")/folderchecks.sh"
# shellcheck source=scripts/timescale.sh
source "$(dirname "${BASH_SOURCE[0]}")/timescale.sh"

# The part of an awk program that reads a ctest log record by record. It hands every line a suite wrote
# to suite_line(), between suite_start(name) and suite_end(), for the tests named test_* (the QtTest
# suites); the program defines those three, feeds each line to record_line() and calls records_end() at
# its end. ctest copies a suite's output as it stands, so a line of it may look like ctest's own (the
# next record's "1/9 Testing: x", "<end of output>"): a record ends only where ctest's closing lines
# follow "<end of output>" whole, down to the end time. A suite that writes those too cannot hide what
# follows: lines outside every record that are not ctest's own count in `stray`, a name with two
# records in `twice`, and a log that ends inside a record sets `cut_short`.
ctest_records='
  function record_line(line,    n) {
    if (state == "output") {
      if (held == 0) {
        if (line == "<end of output>") hold[held = 1] = line
        else if (own) suite_line(line)
        return
      }
      if ((held == 1 && line ~ /^Test time = +[0-9.]+ sec$/) || (held == 2 && line ~ /^-+$/) ||
          (held == 3 && line ~ /^Test /)) {
        hold[++held] = line
        return
      }
      if (held == 4 && line ~ /^".+" end time: /) {
        held = 0
        state = "between"
        if (own) suite_end()
        return
      }
      # Not the record'"'"'s end: the lines held were the suite'"'"'s own.
      if (own) for (n = 1; n <= held; n++) suite_line(hold[n])
      held = 0
      record_line(line)
      return
    }
    if (line ~ /^[0-9]+\/[0-9]+ Testing: /) {
      if (state == "head" && own) suite_end()
      name = substr(line, index(line, " Testing: ") + 10)
      if (name in seen) twice[name] = 1
      seen[name] = 1
      own = name ~ /^test_/
      state = "head"
      output_next = 0
      if (own) suite_start(name)
      return
    }
    if (state == "head") {
      if (output_next && line ~ /^-+$/) state = "output"
      output_next = line == "Output:"
      return
    }
    if (line != "" && line !~ /^-+$/ && line !~ /^(Start|End) testing: / &&
        index(line, "\"" name "\" time elapsed: ") != 1) stray++
  }
  function records_end(    n) {
    if (state == "output" && own) for (n = 1; n <= held; n++) suite_line(hold[n])
    if (state == "output" || state == "head") {
      cut_short = 1
      if (own) suite_end()
    }
    state = ""
  }
'

# Prints the QtTest suites (the tests named test_*) of a ctest log, or given a name the suite of one
# suite's own output, that did not run to their end without a failed row: CTest counts exit statuses
# only, so a suite that stops early with status 0 passes there. A suite may run several test objects,
# each opening with its "Start testing" line, and a test may run a child suite whose output comes
# inside its own: every object must close with its own totals of no failed row, the inner ones first,
# and a failed row anywhere fails the suite. Totals count only in QtTest's own form: its "Totals: ..."
# line at once followed by the "Finished testing" line of the object last started and not yet closed.
# A "Totals: " line of that form otherwise (one inside a log message, a child's without its start)
# fails the suite. Fails when there is such a suite, or none at all, or when the log is not ctest's
# records alone (a suite twice, lines outside every record, a record cut short).
unfinished_suites() {
  awk -v whole="${2:-}" "$ctest_records"'
    function suite_start(name) { suite = name; depth = 0; closed = 0; bad_run = 0; totals = ""; suites++ }
    function suite_end() {
      if (suite != "" && (depth > 0 || !closed || bad_run || totals != "")) { print suite; bad++ }
      suite = ""
    }
    function suite_line(line) {
      # The line after a Totals line: the Finished line of the object open last closes it.
      if (totals != "") {
        if (depth > 0 && line == "********* Finished testing of " object[depth] " *********") {
          if (totals !~ /^Totals: [0-9]+ passed, 0 failed,/) bad_run = 1
          depth--
          closed++
        } else bad_run = 1
        totals = ""
        return
      }
      if (line ~ /^\*\*\*\*\*\*\*\*\* Start testing of .+ \*\*\*\*\*\*\*\*\*$/) object[++depth] = substr(line, 28, length(line) - 37)
      if (line ~ /^Totals: /) {
        if (line ~ /^Totals: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped, [0-9]+ blacklisted, [0-9]+ms$/)
          totals = line
        else bad_run = 1
      }
      if (line ~ /^FAIL!  : /) bad_run = 1
    }
    BEGIN { if (whole != "") suite_start(whole) }
    whole != "" { suite_line($0); next }
    { record_line($0) }
    END {
      if (whole != "") suite_end()
      else records_end()
      for (name in twice) { print name " (two records of one name)"; bad++ }
      if (stray) { print "(" stray " lines outside every suite'"'"'s output)"; bad++ }
      if (cut_short) { print "(the log ends inside a record)"; bad++ }
      if (suites == 0) { print "(no suite ran)"; exit 1 }
      exit bad > 0
    }' "$1"
}

# Prints "suite<TAB>Class::function(tag)<TAB>function:tag" for every row skipped in the last ctest run.
skipped_rows() {
  awk "$ctest_records"'
    function suite_start(name) { suite = name; previous = "" }
    function suite_end() { suite = "" }
    function suite_line(line,    s, lp, rp, fn, tag, f) {
      # Totals count only in the form QtTest writes them, as above: the line followed by a "Finished
      # testing" line.
      if (line ~ /^\*\*\*\*\*\*\*\*\* Finished testing of / &&
          previous ~ /^Totals: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped, [0-9]+ blacklisted, [0-9]+ms$/) {
        split(previous, f, " ")
        totals += f[6]
      }
      previous = line
      if (line !~ /^SKIP   : /) return
      s = substr(line, 10)
      lp = index(s, "(")
      rp = index(s, ") ")
      if (rp == 0 && substr(s, length(s)) == ")") rp = length(s)
      if (lp == 0 || rp < lp) { print suite "\t" s "\t?"; return }
      fn = substr(s, 1, lp - 1)
      sub(/.*::/, "", fn)
      tag = substr(s, lp + 1, rp - lp - 1)
      print suite "\t" substr(s, 1, rp) "\t" (tag == "" ? fn : fn ":" tag)
      rows++
    }
    { record_line($0) }
    END {
      records_end()
      if (rows != totals) {
        print "The log names " rows " skipped rows, its totals " totals "+0" > "/dev/stderr"
        exit 1
      }
    }' "$1"
}

# Prints the failed rows of a ctest log, each as "suite: FAIL!  : ..." with the lines QtTest adds below
# it (actual, expected, place), and the fatal messages: at most MaxFailedRows rows and 300 characters a
# line, so that the end of a long run, which is what a CI page shows of it, still names them.
MaxFailedRows=40
failed_rows() {
  awk -v max="$MaxFailedRows" "$ctest_records"'
    function suite_start(name) { suite = name; more = 0 }
    function suite_end() { suite = "" }
    function show(text) { if (shown <= max) print substr(text, 1, 300) }
    function suite_line(line) {
      if (more > 0 && line ~ /^   [A-Z][a-z]+ *(\(.*\))?: /) { more--; show("    " substr(line, 4)); return }
      more = 0
      if (line !~ /^(FAIL!  |QFATAL ): /) return
      shown++
      show(suite ": " line)
      more = 3
    }
    { record_line($0) }
    END {
      records_end()
      if (shown > max) print "(and " shown - max " more)"
      if (!shown) print "(none named: see the output above)"
    }' "$1"
}

# failed_rows under a heading, on standard error; WHERE is added to the heading.
print_failed_rows() {
  echo "Failed rows${2:-}:" >&2
  failed_rows "$1" | sed 's/^/  /' >&2 || true
}

# A folder `nobody` can read and write: a copy of the checkout with the build laid over it, so the
# tests find their data beside the executable (../appdir) and the programs they start (../Upgrade).
# Only the executables of the suites named are copied.
unprivileged_tree() {
  local root="$1" build="$2" area="$3"; shift 3
  mkdir -p "$area/tree"
  tar -C "$build" --exclude=./CMakeFiles --exclude='*_autogen' --exclude='*.a' --exclude=./Testing \
      --exclude=./bench --exclude='./tests/test_*' -cf - . | tar -C "$area/tree" -xf -
  tar -C "$root" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$area/tree" -xf -
  local suite
  for suite in "$@"; do cp "$build/tests/$suite" "$area/tree/tests/"; done
  mkdir -p "$area/tmp" "$area/home" "$area/config" "$area/runtime" "$area/out"
  chmod 700 "$area/runtime"
  chown -R nobody: "$area/tree" "$area/tmp" "$area/home" "$area/config" "$area/runtime"
}

# Fails, naming each, where a suite in the copy `tree` still names the folder `build` it was copied from,
# or where the copy lacks what the suites read beside them: the places tests/beside.txt lists, the list
# the suites themselves check their reads against. Debug information names where the suite was
# compiled, and the sanitizers' and assertions' labels of generated sources (moc, in *_autogen) name
# where those lie: neither is a file a suite reads.
copy_is_whole() {
  local build="$1" tree="$2" bad=0 suite plain place named
  # In the run's scratch folder, which a stop signal's clean-up removes.
  plain="$(mktemp "${scratch:-${TMPDIR:-/tmp}}/stripped.XXXXXX")"
  for suite in "$tree"/tests/test_*; do
    [ -f "$suite" ] || continue
    objcopy --strip-debug "$suite" "$plain" 2>/dev/null || cp "$suite" "$plain"
    # Through the environment: awk -v would read a backslash in the path as an escape.
    named="$(strings -a "$plain" | build="$build" awk '
      { at = index($0, ENVIRON["build"]) }
      !found && at && substr($0, at + length(ENVIRON["build"])) !~ /^\/([^\/]+\/)*[^\/]+_autogen\// { print; found = 1 }')"
    if [ -n "$named" ]; then
      echo "${suite##*/} names the build folder: \"$named\"; a suite finds what it needs beside itself" >&2
      bad=1
    fi
  done
  rm -f "$plain"
  if [ ! -f "$tree/tests/beside.txt" ]; then
    echo "the copy has no tests/beside.txt" >&2
    return 1
  fi
  while IFS= read -r place; do
    case "$place" in "" | "#"*) continue ;; esac
    [ -e "$tree/$place" ] || { echo "the copy lacks $place, which suites read beside them" >&2; bad=1; }
  done <"$tree/tests/beside.txt"
  return "$bad"
}

# Runs the command with the checkout `root` and the build out of every user's reach but root's, as from a
# checkout in a folder only root can enter: in a mount namespace of its own, an empty folder of mode 700
# lies over each that does not hold `area`, where the copy the command runs from lies.
out_of_reach() {
  local root="$1" build="$2" area="$3"; shift 3
  local hide=() folder
  # The build first: it may lie inside the checkout, and would be hidden by it.
  for folder in "$build" "$root"; do
    case "$area/" in "$folder/"*) continue ;; esac
    hide+=("$folder")
  done
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare --mount --propagation private -- sh -c '
    n="$1"; shift
    while [ "$n" -gt 0 ]; do
      mount -t tmpfs -o mode=700,size=64k tessark-out-of-reach "$1" || exit 125
      shift; n=$((n - 1))
    done
    exec "$@"' sh "${#hide[@]}" "${hide[@]}" "$@"
}

# Fails, saying why, when `nobody` cannot write its temporary folder below `area` nor enter the tree.
nobody_reaches() {
  if ! setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
         test -w "$1/tmp" -a -x "$1/tree/tests"; then
    echo "nobody cannot reach $1: set TMPDIR to a folder every user can traverse" >&2
    return 1
  fi
}

# Runs every suite of `build` once more as `nobody`, as ctest runs them as root, from a copy of the
# checkout and build that user can read (below `area`), in folders of its own: the temporary, config and
# runtime folders the suites share, and a home. Fails when a suite fails or does not run to its end,
# writes where it runs, or leaves anything in those shared folders. Its ctest log is
# $area/tree/Testing/Temporary/LastTest.log.
run_suites_unprivileged() {
  local root="$1" build="$2" area="$3" suites=()
  mapfile -t suites < <(find "$build/tests" -maxdepth 1 -name 'test_*' -type f -perm -u+x -printf '%f\n' | sort)
  unprivileged_tree "$root" "$build" "$area"
  # Without their debug information: a twentieth of the size, and a failed row still names its line.
  local suite
  for suite in "${suites[@]}"; do
    objcopy --strip-debug "$build/tests/$suite" "$area/tree/tests/$suite" 2>/dev/null ||
      cp "$build/tests/$suite" "$area/tree/tests/"
  done
  nobody_reaches "$area" || return 1
  copy_is_whole "$build" "$area/tree" || return 1
  # ctest's own files name the build and the checkout: the copy stands for both.
  local file text
  while IFS= read -r -d '' file; do
    text="$(cat "$file")"
    text="${text//"$build"/"$area/tree"}"
    printf '%s\n' "${text//"$root"/"$area/tree"}" >"$file"
  done < <(find "$area/tree" -name CTestTestfile.cmake -print0)
  # The times root's run took, so that ctest starts the longest suites first; the suites mostly wait (for
  # timers, processes and the emulated keyboard), so twice as many run side by side as for root.
  mkdir -p "$area/tree/Testing/Temporary"
  cp "$build/Testing/Temporary/CTestCostData.txt" "$area/tree/Testing/Temporary/" 2>/dev/null || true
  chown -R nobody: "$area/tree/Testing"
  local before failed=0
  before="$(workdir_listing "$area/tree")"
  (
    cd "$area/tree" || exit 1
    out_of_reach "$root" "$build" "$area" \
      env QT_QPA_PLATFORM=offscreen HOME="$area/home" TMPDIR="$area/tmp" XDG_CONFIG_HOME="$area/config" \
      XDG_RUNTIME_DIR="$area/runtime" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
      setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --inh-caps=-all \
      ctest -R '^test_' --output-on-failure --no-tests=error -j "$((2 * ${jobs:-$(nproc)}))"
  ) || { failed=1; print_failed_rows "$area/tree/Testing/Temporary/LastTest.log" " as nobody"; }
  local unfinished
  if ! unfinished="$(unfinished_suites "$area/tree/Testing/Temporary/LastTest.log")"; then
    echo "Suites that did not end in their totals with no failed row, as nobody:" >&2
    printf '%s\n' "$unfinished" | sed 's/^/  /' >&2
    failed=1
  fi
  leftovers "$area/tmp" "$area/config" "$area/runtime" || failed=1
  workdir_unchanged "$area/tree" "$before" || failed=1
  return "$failed"
}

# Runs the rows given as "suite<TAB>key<TAB>function:tag" lines as `nobody`; prints the rows that
# passed, and returns non-zero when a row failed.
run_rows_unprivileged() {
  local root="$1" build="$2" rows="$3" area="$4"
  local suites suite failed=0
  suites="$(cut -f1 "$rows" | sort -u)"
  # shellcheck disable=SC2086
  unprivileged_tree "$root" "$build" "$area" $suites
  local uid gid
  uid="$(id -u nobody)"; gid="$(id -g nobody)"
  nobody_reaches "$area" || return 1
  copy_is_whole "$build" "$area/tree" || return 1
  local pids=() names=() limit
  # As ctest's for a suite of that build (tests/CMakeLists.txt).
  limit="$(scaled "$(($(build_time_factor "$build") > 1 ? 3600 : 1200))")"
  for suite in $suites; do
    local args=()
    mapfile -t args < <(awk -F'\t' -v s="$suite" '$1 == s { print $3 }' "$rows")
    (
      cd "$area/tree/tests" || exit 1
      out_of_reach "$root" "$build" "$area" \
        env QT_QPA_PLATFORM=offscreen HOME="$area/home" TMPDIR="$area/tmp" XDG_CONFIG_HOME="$area/config" \
        XDG_RUNTIME_DIR="$area/runtime" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        timeout "$limit" setpriv --reuid="$uid" --regid="$gid" --clear-groups --inh-caps=-all \
        "./$suite" "${args[@]}"
    ) >"$area/out/$suite.txt" 2>&1 &
    pids+=("$!"); names+=("$suite")
  done
  local i rc
  for i in "${!pids[@]}"; do
    rc=0
    wait "${pids[$i]}" || rc=$?
    if [ "$rc" -ne 0 ] || ! unfinished_suites "$area/out/${names[$i]}.txt" "${names[$i]}" >/dev/null; then
      echo "-- ${names[$i]}, run as nobody, failed (exit $rc):"
      cat "$area/out/${names[$i]}.txt"
      failed=1
    fi
  done
  # The rows leave nothing in the folders they share, as in the run as root.
  leftovers "$area/tmp" "$area/config" "$area/runtime" || failed=1
  cat "$area/out/"*.txt | grep '^PASS   : ' | grep -v -e '::initTestCase()$' -e '::cleanupTestCase()$' || true
  return "$failed"
}

# Prints the number of skipped rows of the last ctest run in `build`. As root, the rows skipped there
# run as `nobody`, or given the log of a run of every suite as `nobody`, the rows that passed there count;
# a row counts as skipped only if it did not pass that way too, and any such row fails.
account_skipped_rows() {
  local root="$1" build="$2" nobody_log="${3:-}"
  # shellcheck disable=SC2154 # the scratch folder of test.sh, or of the check that sources it
  local rows="$scratch/skipped-rows"
  # Checked here, not left to `set -e`: that does not hold in a function called from a condition.
  skipped_rows "$build/Testing/Temporary/LastTest.log" >"$rows" || return 1
  local passed=""
  if [ -n "$nobody_log" ]; then
    passed="$(grep '^PASS   : ' "$nobody_log" || true)"
  elif [ "$(id -u)" -eq 0 ] && [ -s "$rows" ]; then
    echo "== the $(wc -l <"$rows") rows root skipped, run as nobody"
    local area
    area="$(mktemp -d "${scratch:-${TMPDIR:-/tmp}}/nobody.XXXXXX")"
    chmod 755 "$area"
    local rc=0
    passed="$(run_rows_unprivileged "$root" "$build" "$rows" "$area")" || rc=$?
    echo "$passed"
    remove_tree "$area"
    [ "$rc" -eq 0 ] || return "$rc"
  fi
  local left
  left="$(awk -F'\t' 'NR == FNR { if (sub(/^PASS   : /, "")) ran[$0] = 1; next } !($2 in ran)' \
          <(printf '%s\n' "$passed") "$rows")"
  local count=0
  [ -z "$left" ] || count="$(printf '%s\n' "$left" | wc -l)"
  echo "Skipped rows: $count"
  [ -z "$left" ] || printf '%s\n' "$left" | cut -f1,2 | sed 's/^/  skipped: /'
  if [ "$(id -u)" -eq 0 ] && [ "$count" -ne 0 ]; then
    echo "Every row must run when the tests run as root." >&2
    return 1
  fi
}

# What test.sh checks after each ctest run in `build`: every suite ran to its end without a failed row,
# and the skipped rows are accounted for as above. With `nobody` = all, as root, every suite runs once
# more as `nobody` first (in place of the rows root skipped).
account_test_log() {
  local root="$1" build="$2" nobody="${3:-rows}" unfinished
  if ! unfinished="$(unfinished_suites "$build/Testing/Temporary/LastTest.log")"; then
    echo "Suites that did not end in their totals with no failed row:" >&2
    printf '%s\n' "$unfinished" | sed 's/^/  /' >&2
    return 1
  fi
  if [ "$nobody" != all ] || [ "$(id -u)" -ne 0 ]; then
    account_skipped_rows "$root" "$build"
    return
  fi
  echo "== every suite once more as nobody"
  local area rc=0 started=$SECONDS
  area="$(mktemp -d "${scratch:-${TMPDIR:-/tmp}}/nobody.XXXXXX")"
  chmod 755 "$area"
  run_suites_unprivileged "$root" "$build" "$area" || rc=$?
  echo "(as nobody: $((SECONDS - started)) s)"
  [ "$rc" -ne 0 ] || account_skipped_rows "$root" "$build" "$area/tree/Testing/Temporary/LastTest.log" || rc=$?
  remove_tree "$area"
  return "$rc"
}
