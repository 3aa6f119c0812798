# shellcheck shell=bash
# Sourced by the test scripts: what they check of folders. The suites' shared folders hold nothing after
# a run, and the disk has room for the builds. scripts/checkaccounting.sh checks both on made-up folders.

# Fails, naming what is there, when one of the folders given is gone or holds anything (hidden files too):
# a suite keeps what it makes below folders of its own and removes them.
leftovers() {
  local folder left=0
  for folder in "$@"; do
    if [ ! -d "$folder" ] || [ -L "$folder" ]; then
      echo "The shared folder $folder was removed or replaced" >&2
      left=1
    elif [ -n "$(ls -A "$folder")" ]; then
      echo "Tests left behind in $folder:" >&2
      (cd "$folder" && find . -mindepth 1 -maxdepth 3 | sort | sed 's/^/  /') >&2
      left=1
    fi
  done
  return "$left"
}

# What a build's tests folder, where the suites run, holds besides the suites and the build's own files.
workdir_listing() { (cd "$1/tests" && find . -mindepth 1 ! -path './test_*' ! -path './CMakeFiles*' ! -path '*_autogen*' | sort); }

# Fails, naming what changed, when the tests folder of `build` no longer holds what `before` (its
# workdir_listing) held: a test writes only below its own temporary folder, never where it runs.
workdir_unchanged() {
  local build="$1" before="$2" after
  after="$(workdir_listing "$build")"
  [ "$after" != "$before" ] || return 0
  echo "Tests wrote into their working directory $build/tests:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  return 1
}

# Removes folders a run made, whatever a test left in them: what lost its owner's search or write bit
# gets it back first, so any user's run leaves nothing (the leftovers check has told of it already).
remove_tree() {
  chmod -R u+rwx -- "$@" 2>/dev/null || true
  rm -rf -- "$@"
}

# Warns on standard error when the file system holding `folder` has less than `need_gb` GB free: said up
# front, not only as a linker's "No space left".
low_space_warning() {
  local folder="$1" need_gb="$2" free_kb
  free_kb="$(df -Pk "$folder" 2>/dev/null | awk 'NR == 2 { print $4 }')" || true
  case "$free_kb" in '' | *[!0-9]*) return 0 ;; esac
  if [ "$free_kb" -lt $((need_gb * 1024 * 1024)) ]; then
    echo "warning: only $((free_kb / 1024)) MB free beside $folder; both builds and their tests need about $need_gb GB" >&2
  fi
}
