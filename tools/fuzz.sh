#!/usr/bin/env bash
# Runs one libFuzzer target for a given time:  tools/fuzz.sh NAME SECONDS [extra libFuzzer flags]
# Corpus: build/fuzz/corpus/NAME (kept between runs), seeded from fuzz/<area>/seeds/NAME when present.
set -eu
name=$1 secs=${2:-60}; shift 2 || true
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/fuzz/bin/$name"
[ -x "$bin" ] || { echo "fuzz.sh: $bin not built (run: make fuzz)" >&2; exit 2; }
corpus="$root/build/fuzz/corpus/$name"
mkdir -p "$corpus"
for seeds in "$root"/fuzz/*/seeds/"$name"; do [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true; done
artifacts="$root/build/fuzz/artifacts/$name"
mkdir -p "$artifacts"
exec "$bin" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus"
