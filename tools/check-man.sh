#!/usr/bin/env bash
# Lints the manual pages with mandoc, failing on any message down to style (except that the
# tools' own pages, which are not installed here, cannot be found for their cross-references),
# then checks that each page names every word and line its tool can write
# (tools/man_vocabulary.py), and that this check itself finds what a page leaves out.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
lint=$(mandoc -T lint -W style man/*.1 2>&1 |
  grep -v -E 'STYLE: referenced manual not found: Xr (scribbet|gripwell|vantor) 1$' || true)
if [ -n "$lint" ]; then
  echo "$lint"
  status=1
fi
/usr/bin/python3 tools/man_vocabulary.py || status=1
/usr/bin/python3 tools/tests/man_vocabulary_test.py -q 2>&1 | tail -n 1 | grep -q '^OK' || {
  /usr/bin/python3 tools/tests/man_vocabulary_test.py
  status=1
}
[ "$status" -eq 0 ] && echo "manual pages: lint clean, vocabulary complete"
exit "$status"
