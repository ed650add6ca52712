#!/usr/bin/env bash
# Builds the Mac product off Apple against a real macOS SDK (MACOS_SDK, a sysroot in Apple's
# layout). Every source of the tools (not their tests, benchmarks or fuzzers, not the simulated
# platform, not the _sim and _linux twins) is compiled for both Mac targets with the project's
# warnings as errors and run through clang's static analyzer, osx checkers included; and the
# declaration conformance file must hold against the SDK as it holds against the simulation.
# Without an SDK it says why in one line and succeeds. Prints one summary line when all is
# clean, every finding in full otherwise. JOBS sets how many compilers run at once (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/macos-sdk.sh
source "$root/tools/macos-sdk.sh"

tool_dirs=(scribbet gripwell vantor base unicode)
conformance=macsim/tests/sdk_conformance.cpp
# The analyzer's checker packages; any finding is an error.
checkers=core,cplusplus,deadcode,unix,osx

# One job: KIND (compile, analyze or conform) of FILE (relative to the root) for TARGET; its
# diagnostics go to LOG. Any diagnostic at all fails the job.
run_job() {
  local kind=$1 target=$2 file=$3 log=$4
  local flags
  mapfile -t flags < <(macos_flags "$target")
  if [[ $file == *.mm ]]; then
    flags+=("${macos_objcxx_flags[@]}")
  fi
  case $kind in
    compile) flags+=(-c -o /dev/null) ;;
    analyze) flags+=(--analyze --analyzer-output text -Xclang "-analyzer-checker=$checkers"
                     -Xclang -analyzer-werror -o /dev/null) ;;
    conform) flags+=(-fsyntax-only) ;;
  esac
  if ! "$clang" "${flags[@]}" "$root/$file" >"$log" 2>&1 || [ -s "$log" ]; then
    { echo "$kind $file for $target:"; cat "$log"; } >"$log.failed"
    return 1
  fi
}
if [ "${1:-}" = --job ]; then
  shift
  run_job "$@"
  exit
fi

if reason=$(macos_sdk_unusable); then
  echo "macOS SDK check skipped: $reason"
  exit 0
fi

dirs=()
for dir in "${tool_dirs[@]}"; do
  [ -d "$root/$dir" ] && dirs+=("$dir")
done
mapfile -t sources < <(cd "$root" && find "${dirs[@]}" \
  -type d \( -name tests -o -name bench -o -name fuzz \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.mm' \) ! -name '*_sim.cpp' ! -name '*_linux.cpp' -print |
  sort)

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
jobs=()
n=0
# Both targets are LP64 and differ, for these sources, in BOOL alone; the analyzer, which costs
# three times a compile, runs for the first (arm64, where BOOL is bool).
for file in "${sources[@]}"; do
  jobs+=(analyze "${macos_targets[0]}" "$file" "$logs/$((n += 1))")
done
for target in "${macos_targets[@]}"; do
  for file in "${sources[@]}"; do
    jobs+=(compile "$target" "$file" "$logs/$((n += 1))")
  done
  jobs+=(conform "$target" "$conformance" "$logs/$((n += 1))")
done

started=$SECONDS
status=0
printf '%s\0' "${jobs[@]}" |
  xargs -0 -n 4 -P "${JOBS:-2}" "$root/tools/check-macos-sdk.sh" --job || status=1
for failed in "$logs"/*.failed; do
  [ -e "$failed" ] && cat "$failed"
done
if [ $status -ne 0 ]; then
  echo "macOS SDK check failed (SDK at $macos_sdk)"
  exit 1
fi
echo "macOS SDK check: ${#sources[@]} sources compiled for ${macos_targets[*]}," \
  "analyzed for ${macos_targets[0]}; declarations conform ($((SECONDS - started)) s," \
  "SDK at $macos_sdk)"
