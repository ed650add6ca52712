#!/usr/bin/env bash
# Builds the tools for the real Linux desktop (release preset) and inserts a word into a GTK note
# window on a virtual desktop with them, showing the result line, the text before and after,
# and screenshots of the window.
set -euo pipefail
cd "$(dirname "$0")/.."
log=build/release-build.log
mkdir -p build
if ! cmake --workflow --preset release >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
exec /usr/bin/python3 demo/real-desktop.py build/release/scribbet/scribbet "$@"
