#!/usr/bin/env bash
# Type-checks every Objective-C++ bridge (*.mm) with clang, as automatic reference counting code
# with blocks. With a real macOS SDK (see tools/macos-sdk.sh) the bridges are checked against it
# for both Mac targets. Without one, against the stand-in declarations of the few AppKit and
# Foundation interfaces they use plus the simulated C headers, once with each of the two BOOLs
# that the Mac targets have (signed char on x86_64, bool on arm64). The bridges are built for
# real only on a Mac; this keeps them from rotting elsewhere.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/macos-sdk.sh
source "$root/tools/macos-sdk.sh"

# Each variant is one way of building a bridge, named for the report.
variants=()
if macos_sdk_unusable >/dev/null; then
  against="the stand-ins in tools/objc-stubs"
  stubs=(-x objective-c++ -std=c++17 -fblocks -fobjc-arc -fobjc-runtime=macosx-10.15
         -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror
         -I "$root/tools/objc-stubs" -I "$root/cfcore/include" -I "$root")
  variants=("BOOL signed char" "BOOL bool")
  variant_flags() {
    printf '%s\n' -fsyntax-only "${stubs[@]}"
    # The host's clang says signed char; on arm64 Apple's clang says bool.
    [ "$1" = "BOOL bool" ] && printf '%s\n' -U__OBJC_BOOL_IS_BOOL -D__OBJC_BOOL_IS_BOOL=1
    return 0
  }
else
  against="the macOS SDK at $macos_sdk"
  variants=("${macos_targets[@]}")
  variant_flags() {
    printf '%s\n' -fsyntax-only
    macos_flags "$1"
    printf '%s\n' "${macos_objcxx_flags[@]}"
  }
fi

status=0
mapfile -t bridges < <(cd "$root" && git ls-files '*.mm' 2>/dev/null || find . -name '*.mm')
for file in "${bridges[@]}"; do
  for variant in "${variants[@]}"; do
    mapfile -t flags < <(variant_flags "$variant")
    if ! "$clang" "${flags[@]}" "$root/$file"; then
      echo "failed: $file ($variant)"
      status=1
    fi
  done
done
list=$(printf "%s, " "${variants[@]}")
echo "checked ${#bridges[@]} bridges against $against (${list%, })"
exit $status
