#!/usr/bin/env bash
# Every test and check, as CI runs them (after tools/deps.sh): every test in a debug build, every
# test again under AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz target for a bounded
# time (FUZZ_SECONDS, 15 s by default) under both sanitizers, the real-desktop tools and the host
# examples against GTK applications on a virtual desktop, scribbet against real applications
# (label apps), then the format, lint and Objective-C++
# checks, the build against a real macOS SDK where the machine has one, the manual pages, what
# `cmake --install` and the packages hold, and the GitHub workflows.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset dev
cmake --workflow --preset asan
cmake --workflow --preset fuzz
cmake --workflow --preset desktop
ctest --test-dir build/desktop -L '^apps$' --output-on-failure
tools/check-format.sh
tools/run-clang-tidy.sh build/dev build/desktop
tools/check-objc.sh
tools/check-macos-sdk.sh
tools/check-man.sh
tools/check-install.sh build/desktop
workflows=(.github/workflows/*.yml)
for workflow in "${workflows[@]}"; do
  npx --no-install action-validator "$workflow"
done
echo "workflows: ${workflows[*]} valid"
if command -v swiftc >/dev/null; then
  swiftc -typecheck examples/host.swift
else
  echo "examples/host.swift: not type-checked, no Swift toolchain here"
fi
