#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest (the cross-compiling emulator).
# Wine's output goes through files: helper processes that Wine starts would otherwise inherit ctest's pipes
# and keep them open.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
rvx_wine_prefix || exit 125
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"; cat "$err" >&2
exit $rc
