#!/usr/bin/env bash
# The real tools on a Mac, where their answer needs no Accessibility permission:
#   tools/macos-smoke.sh [BUILD_DIR]      (default build/release)
# - scribbet with a bad pid, and with a missing text file: its exact line;
# - gripwell without the permission: its error line and exit status 1;
# - vantor: "ready", then an APP: line for TextEdit once TextEdit is opened.
# Every wait is for a line, bounded in time. Run by .github/workflows/macos.yml; written for the
# bash 3.2 of macOS too.
set -euo pipefail
build=${1:-build/release}
scratch=$(mktemp -d)
started=()
cleanup() {
  for pid in ${started[@]+"${started[@]}"}; do
    kill "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
check() { # WHAT EXPECTED FOUND
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected '$2', found '$3'"
    failures=$((failures + 1))
  fi
}
# Waits up to SECONDS for a line of FILE that matches the extended regular expression and prints
# it; prints nothing when none came.
wait_for_line() { # FILE REGEX SECONDS
  local tries=$(($3 * 10))
  while [ "$tries" -gt 0 ]; do
    if grep -m 1 -E "$2" "$1" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
    tries=$((tries - 1))
  done
}

check "scribbet with a bad pid" '{"status":"invalid_target_pid","error":"missing_or_invalid_pid"}' \
  "$("$build/scribbet/scribbet" 0 "$scratch/text")"
check "scribbet with a missing file" \
  '{"status":"unexpected_error","targetPid":1,"error":"text_read_failed"}' \
  "$("$build/scribbet/scribbet" 1 "$scratch/missing")"

# gripwell in the background, so that a runner that did grant the permission cannot hang the job.
"$build/gripwell/gripwell" command >"$scratch/gripwell" </dev/null &
gripwell=$!
started+=("$gripwell")
line=$(wait_for_line "$scratch/gripwell" . 10)
status=running
if [ "$line" != ready ]; then
  status=0
  wait "$gripwell" || status=$?
fi
check "gripwell without the permission" "error:accessibility_not_granted, status 1" \
  "$line, status $status"

"$build/vantor/vantor" >"$scratch/vantor" </dev/null &
started+=("$!")
check "vantor's first line" ready "$(wait_for_line "$scratch/vantor" . 10)"
open -a TextEdit
line=$(wait_for_line "$scratch/vantor" '^APP:com[.]apple[.]TextEdit[|]TextEdit[|][0-9]+$' 30)
check "vantor's line for TextEdit" "APP:com.apple.TextEdit|TextEdit|<pid>" \
  "$(sed -E 's/[0-9]+$/<pid>/' <<<"$line")"
[ -n "$line" ] && started+=("${line##*|}")

[ "$failures" -eq 0 ]
