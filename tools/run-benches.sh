#!/usr/bin/env bash
# Runs every benchmark program of a bench build (build/bench/bin/bench_*), each printing its own ratios.
set -u
dir=${1:-build/bench}
found=0
for b in "$dir"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" || echo "($(basename "$b") failed with code $?)"
done
[ $found = 1 ] || echo "no benchmarks built yet"
