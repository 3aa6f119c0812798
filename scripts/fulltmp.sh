#!/usr/bin/env bash
# Runs every test suite of a build with its temporary folders on a file system with no room left, from
# a working directory holding a canary file. A suite may fail, but only cleanly: it neither hangs nor
# crashes, and the canary, the working directory and the build's test folder stay as they were, as do
# the temporary folder and the config and runtime folders the suites share there.
# Mounting needs root; as another user this check is skipped.
set -euo pipefail
# shellcheck source=scripts/folderchecks.sh
source "$(dirname "$0")/folderchecks.sh"
# shellcheck source=scripts/timescale.sh
source "$(dirname "$0")/timescale.sh"
build="$(cd "${1:?usage: fulltmp.sh BUILD_DIR}" && pwd)"
limit="$(scaled 300 "$build")" # for one suite, which fails early here
if [ "$(id -u)" -ne 0 ]; then
  echo "Skipped: mounting a full file system needs root."
  exit 0
fi

area="$(mktemp -d)"
cleanup() {
  umount "$area/full" 2>/dev/null || true
  rm -rf "$area"
}
trap cleanup EXIT
# Told to stop, the clean-up above runs too.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
mkdir -p "$area/full" "$area/cwd" "$area/out"
mount -t tmpfs -o size=256k,nr_inodes=64,mode=1777 tessark-full "$area/full"
mkdir -p "$area/full/runtime" "$area/full/config"
chmod 700 "$area/full/runtime"
# No block and no inode left.
dd if=/dev/zero of="$area/full/blocks" bs=4k 2>/dev/null || true
i=0
while : 2>/dev/null >"$area/full/inode$i"; do i=$((i + 1)); done
if mkdir "$area/full/room" 2>/dev/null || echo x 2>/dev/null >"$area/full/runtime/room"; then
  echo "The file system at $area/full still has room" >&2
  exit 1
fi

echo "canary" >"$area/cwd/canary"
listing() { (cd "$1" && find . -mindepth 1 -maxdepth "$2" ! -name 'test_*' -printf '%p %y %s\n' | sort); }
cwd_before="$(listing "$area/cwd" 3)"
tests_before="$(listing "$build/tests" 1)"
full_listing() { (cd "$area/full" && find . -mindepth 1 -maxdepth 1 -printf '%p %y\n' | sort); }
full_before="$(full_listing)"

# One suite: its exit, or how it ended otherwise.
run_one() {
  local exe="$1" name rc=0
  name="$(basename "$exe")"
  (cd "$area/cwd" && exec env TMPDIR="$area/full" XDG_RUNTIME_DIR="$area/full/runtime" \
      XDG_CONFIG_HOME="$area/full/config" QT_QPA_PLATFORM=offscreen timeout -s KILL "$limit" "$exe") \
    >"$area/out/$name.txt" 2>&1 || rc=$?
  echo "$rc" >"$area/out/$name.rc"
}
export -f run_one
export area limit
find "$build/tests" -maxdepth 1 -name 'test_*' -type f -perm -u+x | sort \
  | xargs -P "$(nproc)" -I{} bash -c 'run_one "$1"' _ {} 2>/dev/null

failed=0
for rc_file in "$area/out/"*.rc; do
  name="$(basename "$rc_file" .rc)"
  rc="$(cat "$rc_file")"
  reason="$(grep -m1 -e 'Cannot make' -e 'Not a path below' -e '^FAIL!' "$area/out/$name.txt" || true)"
  # Passed without a temporary folder, failed rows (exit 1..127), or stopped by the temporary
  # folder helpers; anything else (a crash, a hang, another abort) is not a clean end.
  if [ "$rc" -eq 0 ]; then state="passed"
  elif [ "$rc" -lt 128 ]; then state="failed"
  elif [ "$rc" -eq 134 ] && grep -q -e 'Cannot make' -e 'Not a path below' "$area/out/$name.txt"; then state="stopped"
  else state="ended badly ($rc)"; failed=1
  fi
  printf '%-28s %s %s\n' "$name" "$state" "$reason"
  [ "${state#ended badly}" = "$state" ] || tail -n 20 "$area/out/$name.txt"
done
if [ ! -f "$area/cwd/canary" ] || [ "$(cat "$area/cwd/canary")" != "canary" ]; then
  echo "The canary in the working directory was removed or changed" >&2
  failed=1
fi
if [ "$(listing "$area/cwd" 3)" != "$cwd_before" ]; then
  echo "The working directory changed:" >&2
  diff <(echo "$cwd_before") <(listing "$area/cwd" 3) >&2 || true
  failed=1
fi
if [ "$(listing "$build/tests" 1)" != "$tests_before" ]; then
  echo "The build's test folder changed:" >&2
  diff <(echo "$tests_before") <(listing "$build/tests" 1) >&2 || true
  failed=1
fi
if [ "$(full_listing)" != "$full_before" ]; then
  echo "The temporary folder changed:" >&2
  diff <(echo "$full_before") <(full_listing) >&2 || true
  failed=1
fi
leftovers "$area/full/config" "$area/full/runtime" || failed=1
[ "$failed" -eq 0 ] && echo "The canary, the working directory and the shared folders stayed."
exit "$failed"
