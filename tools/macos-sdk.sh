# shellcheck shell=bash disable=SC2034  # the variables are for the scripts that source this
# Sourced by the checks that build the Mac product off Apple against a real macOS SDK: where the
# SDK is, whether it can be used, and the compiler flags for each Mac target. Expects $root.

# A sysroot in Apple's layout: System/Library/Frameworks, usr/include with libc++ under
# usr/include/c++/v1, usr/lib.
macos_sdk=${MACOS_SDK:-/opt/macos-sdk}
clang=${CLANG:-clang++}
# The two slices of the universal binaries; the arm64 slice cannot go below macOS 11.
macos_targets=(arm64-apple-macos11 x86_64-apple-macos10.15)

# Prints why the SDK cannot be used and succeeds, or fails silently when it can be used.
macos_sdk_unusable() {
  if [ ! -f "$macos_sdk/System/Library/Frameworks/CoreFoundation.framework/Headers/CoreFoundation.h" ]; then
    echo "no macOS SDK at $macos_sdk (set MACOS_SDK to a sysroot in Apple's layout)"
  elif [ ! -f "$macos_sdk/usr/include/c++/v1/string" ]; then
    echo "the macOS SDK at $macos_sdk has no libc++ headers in usr/include/c++/v1"
  elif ! command -v "$clang" >/dev/null; then
    echo "no $clang to build with"
  else
    return 1
  fi
}

# The flags of one target, one per line: C++17 on the SDK's own libc++ (not the host's C++
# library), the project's warnings as errors, includes from the project root.
# shellcheck disable=SC2154  # root is the sourcing script's
macos_flags() {
  printf '%s\n' -target "$1" -isysroot "$macos_sdk" -std=c++17 -stdlib=libc++ -nostdinc++ \
    -isystem "$macos_sdk/usr/include/c++/v1" \
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror -I "$root"
}

# The bridges are written for automatic reference counting, with blocks.
macos_objcxx_flags=(-x objective-c++ -fobjc-arc -fblocks)
