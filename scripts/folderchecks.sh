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
