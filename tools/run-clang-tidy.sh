#!/usr/bin/env bash
# clang-tidy over the tools' own sources (tests, benchmarks and the simulated platform excluded),
# using the compile commands of a configured build directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
mapfile -t files < <(cd "$root" && git ls-files 'scribbet/*.cpp' 'gripwell/*.cpp' 'vantor/*.cpp' |
  grep -v -E '/(tests|bench)/')
cd "$root"
run-clang-tidy -quiet -p "$build" "${files[@]/#/$root/}" 2>&1 | grep -v -E '^(Running|[0-9]+ warnings? generated|Suppressed|Use -header-filter)' || true
# run-clang-tidy's own exit status does not survive the filter above: run again for the verdict.
run-clang-tidy -quiet -p "$build" "${files[@]/#/$root/}" >/dev/null 2>&1
