#!/usr/bin/env bash
# clang-tidy over the tools' own sources and their base library (tests, benchmarks and the
# simulated platform excluded), using the compile commands of a configured build directory.
# Fails on any finding.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
mapfile -t files < <(cd "$root" && git ls-files 'base/*.cpp' 'scribbet/*.cpp' 'gripwell/*.cpp' 'vantor/*.cpp' |
  grep -v -E '/(tests|bench)/')
cd "$root"
run-clang-tidy -quiet -p "$build" "${files[@]/#/$root/}" 2>&1 |
  grep -v -E '^(clang-tidy-[0-9]+ |[0-9]+ warnings? generated|Suppressed [0-9]+ warnings|Use -header-filter)'
status=${PIPESTATUS[0]}
echo "clang-tidy: ${#files[@]} files, status $status"
exit "$status"
