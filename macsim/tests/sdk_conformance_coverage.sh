#!/usr/bin/env bash
# Fails when a tool uses a platform C name (CoreFoundation, Accessibility, CoreGraphics) that
# sdk_conformance.cpp does not pin, so that the file keeps covering the tools as they change.
# A platform name is one that the simulated SDK headers declare; comments and string literals
# of the tool sources are not read.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
conformance=macsim/tests/sdk_conformance.cpp

dirs=()
for dir in scribbet gripwell vantor base; do
  [ -d "$dir" ] && dirs+=("$dir")
done
mapfile -t sources < <(find "${dirs[@]}" \
  -type d \( -name tests -o -name bench -o -name fuzz \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.mm' \) \
  ! -name '*_sim.cpp' ! -name '*_linux.cpp' -print | sort)

names='\b(k?(CF|AX|CG)[A-Za-z0-9_]*|Boolean|UniChar|[SU]Int[0-9]+|pid_t)\b'
# Identifiers only: string and character literals, then line comments, are dropped first.
code_names() {
  sed -E "s/\"([^\"\\\\]|\\\\.)*\"//g; s/'([^'\\\\]|\\\\.)*'//g; s://.*$::" "$@" |
    grep -ohE "$names" | sort -u
}
mapfile -t declared < <(code_names cfcore/include/CoreFoundation/*.h \
  cfcore/include/ApplicationServices/*.h cfcore/include/CoreGraphics/*.h)
mapfile -t used < <(code_names "${sources[@]}" | grep -Fxf <(printf '%s\n' "${declared[@]}"))
mapfile -t pinned < <(code_names "$conformance")
missing=$(comm -23 <(printf '%s\n' "${used[@]}") <(printf '%s\n' "${pinned[@]}"))
if [ -n "$missing" ]; then
  echo "platform names the tools use that $conformance does not pin:"
  echo "$missing"
  exit 1
fi
echo "$conformance pins all ${#used[@]} platform names used in ${#sources[@]} tool files"
