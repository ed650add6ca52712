#!/usr/bin/env bash
# Type-checks every Objective-C++ bridge (*.mm) with clang against the stand-in declarations of
# the few AppKit and Foundation interfaces they use, plus the C headers of cfcore. The bridges
# are built for real only on a Mac; this keeps them from rotting elsewhere.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clang=${CLANG:-clang++}
status=0
mapfile -t bridges < <(cd "$root" && git ls-files '*.mm' 2>/dev/null || find . -name '*.mm')
for file in "${bridges[@]}"; do
  if ! "$clang" -fsyntax-only -x objective-c++ -std=c++17 -fblocks -fobjc-arc \
      -fobjc-runtime=macosx-10.15 -Wall -Wextra -Werror \
      -I "$root/tools/objc-stubs" -I "$root/cfcore/include" -I "$root" "$root/$file"; then
    status=1
  fi
  echo "checked $file"
done
exit $status
