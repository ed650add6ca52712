#!/usr/bin/env bash
# Compiles the Node host example (examples/host.ts) into OUTDIR with the TypeScript compiler that
# `npm ci` installs in the source tree. Without that compiler, or without Node, the output is
# removed and the exit status is 77 (skipped), so that no stale example is tested.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:?usage: compile-node-example.sh OUTDIR}
rm -rf "$out"
if ! command -v node >/dev/null || [ ! -x "$root/node_modules/.bin/tsc" ]; then
  echo "skipped: no TypeScript compiler in $root/node_modules (run npm ci there)"
  exit 77
fi
"$root/node_modules/.bin/tsc" -p "$root/examples" --outDir "$out"
