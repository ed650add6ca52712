#!/usr/bin/env bash
# clang-tidy over the tools' own sources, their base library and codec, and the platform code off
# Apple (cfcore, xdesk); tests, benchmarks and the simulated platform excluded. It uses the compile
# commands of configured build directories: the simulated build (first argument, default
# build/dev) for every source it compiles, and the Linux desktop build (second argument, default
# build/release) for the seam twins that only it compiles (*_linux.cpp). Fails on any finding.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
linux_build=${2:-$root/build/release}
mapfile -t all < <(cd "$root" && git ls-files 'base/*.cpp' 'unicode/*.cpp' 'scribbet/*.cpp' 'gripwell/*.cpp' \
  'vantor/*.cpp' 'cfcore/*.cpp' 'xdesk/*.cpp' |
  grep -v -E '/(tests|bench)/')
sim_files=()
linux_files=()
for file in "${all[@]}"; do
  if [[ $file == *_linux.cpp ]]; then linux_files+=("$root/$file"); else sim_files+=("$root/$file"); fi
done
cd "$root"
quiet() {
  grep -v -E '^(clang-tidy-[0-9]+ |[0-9]+ warnings? generated|Suppressed [0-9]+ warnings|Use -header-filter)'
}
run-clang-tidy -quiet -p "$build" "${sim_files[@]}" 2>&1 | quiet
status=${PIPESTATUS[0]}
if [ ${#linux_files[@]} -gt 0 ]; then
  if [ -f "$linux_build/compile_commands.json" ]; then
    run-clang-tidy -quiet -p "$linux_build" "${linux_files[@]}" 2>&1 | quiet
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  else
    echo "clang-tidy: no compile commands in $linux_build for ${linux_files[*]#$root/}"
    status=1
  fi
fi
echo "clang-tidy: ${#all[@]} files, status $status"
exit "$status"
