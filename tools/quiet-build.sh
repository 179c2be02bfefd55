#!/usr/bin/env bash
# Builds a tree and prints only when something went wrong or something was rebuilt.
set -u
dir=$1 jobs=${2:-2}
log="$dir.build.log"
if ! ninja -C "$dir" -j"$jobs" >"$log" 2>&1; then
  grep -v '^\[' "$log" | head -n 200
  echo "build of $dir failed (full log: $log)" >&2
  exit 1
fi
grep -q 'ninja: no work to do' "$log" || echo "built $dir"
exit 0
