#!/usr/bin/env bash
# Whole-process time of scribbet, gripwell and vantor from exec to exit on an early outcome,
# against /bin/true, with hyperfine (no shell in between). Prints one Markdown table per setting:
# median, mean and minimum, and the ratios of the medians and of the minima to those of the
# setting's first command. On a shared machine the minimum is the steadier of the two.
#
#   bench/whole-process.sh [RUNS]       # default 1000 runs per command, after 50 warm-up runs
#
# Builds first: cmake --build --preset bench (the simulated platform and reader_gone) and
# cmake --workflow --preset release (the tools of the Linux desktop).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
sim=build/bench
real=build/release
gone=build/bench/bench/reader_gone
out=build/bench/whole-process
mkdir -p "$out"

# Runs hyperfine on the commands and prints the table; $1 names the setting.
measure() {
  local name=$1
  shift
  hyperfine -N --warmup 50 --runs "$runs" --ignore-failure --style none \
    --export-json "$out/$name.json" "$@" >/dev/null
  python3 - "$out/$name.json" "$name" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
base = statistics.median(results[0]["times"])
least = results[0]["min"]
print(f"\n{sys.argv[2]}\n")
print("| command | median [ms] | mean ± σ [ms] | min [ms] | median / first | min / first |")
print("|---|---:|---:|---:|---:|---:|")
for r in results:
    median = statistics.median(r["times"])
    print(f"| `{r['command']}` | {median*1e3:.2f} | {r['mean']*1e3:.2f} ± {r['stddev']*1e3:.2f} "
          f"| {r['min']*1e3:.2f} | {median/base:.2f} | {r['min']/least:.2f} |")
PY
}

# Nothing here has a desktop: no display, no session bus, no accessibility bus.
export -n DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS 2>/dev/null || true
unset DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS

# Simulated platform: an invalid pid; not trusted (exit 1); "ready", then no activation to wait
# for (exit 0).
measure "simulated platform (bench preset)" /bin/true "$sim/scribbet/scribbet abc x" \
  "$sim/gripwell/gripwell" "$sim/vantor/vantor"

# Linux desktop tools without a desktop: an invalid pid; no accessibility bus (exit 1); vantor,
# which never ends by itself, with a reader that is gone (exit 0 on its "ready" line).
measure "Linux desktop tools (release preset), no bus" /bin/true "$real/scribbet/scribbet abc x" \
  "$real/gripwell/gripwell" "$gone /bin/true" "$gone $real/vantor/vantor"

# gripwell with a session bus and an accessibility bus but no display: the bus is probed and
# libatspi set up, then no event tap can be made (exit 2).
if [ -x tools/desktop/run-in-desktop ]; then
  tools/desktop/run-in-desktop -- env -u DISPLAY bash -c "$(declare -f measure); out=$out runs=$runs \
    measure 'Linux desktop tools, accessibility bus, no display' /bin/true $real/gripwell/gripwell"
fi
