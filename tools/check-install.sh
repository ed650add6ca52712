#!/usr/bin/env bash
# Checks what a build of the real tools installs and packages (Linux):
#   tools/check-install.sh [BUILD_DIR]     (default build/release, configured and built)
# - `cmake --install` into a scratch prefix gives exactly the files the README lists, the pages
#   being those of man/;
# - cpack makes a .tar.gz holding that tree under one top directory, and a .deb holding it
#   under /usr, whose Depends name the package of every shared library the tools link;
# - the tools of both packages run: the answers that need no desktop, byte for byte.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
[ "$(uname -s)" = Linux ] || { echo "check-install: Linux only"; exit 1; }

expected=(bin/gripwell bin/scribbet bin/vantor
          share/man/man1/gripwell.1 share/man/man1/scribbet.1 share/man/man1/vantor.1)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "check-install: $*"
  failures=$((failures + 1))
}
# Compares the sorted file list on standard input with the expected one.
same_files() {
  local what=$1 found
  found=$(sort)
  if [ "$found" != "$(printf '%s\n' "${expected[@]}")" ]; then
    fail "$what holds other files than expected:"
    diff <(printf '%s\n' "${expected[@]}") <(echo "$found") || true
  fi
}

# Runs the installed tools where no desktop is needed: no display, no session bus.
tools_answer() {
  local what=$1 bin=$2 out status line vantor_fd vantor_pid
  out=$(cd "$scratch" && env -i "$bin/scribbet" 0 text)
  [ "$out" = '{"status":"invalid_target_pid","error":"missing_or_invalid_pid"}' ] ||
    fail "$what: scribbet with a bad pid wrote: $out"
  out=$(cd "$scratch" && env -i "$bin/scribbet" 1 "$scratch/missing")
  [ "$out" = '{"status":"unexpected_error","targetPid":1,"error":"text_read_failed"}' ] ||
    fail "$what: scribbet with a missing file wrote: $out"
  status=0
  out=$(env -i "$bin/gripwell" command) || status=$?
  if [ "$out" != error:accessibility_not_granted ] || [ "$status" -ne 1 ]; then
    fail "$what: gripwell without the accessibility bus wrote '$out', status $status"
  fi
  # vantor runs until it is ended: its first line, read with a bounded wait, then SIGTERM.
  exec {vantor_fd}< <(exec env -i "$bin/vantor")
  vantor_pid=$!
  line=
  IFS= read -r -t 10 -u "$vantor_fd" line || true
  kill "$vantor_pid" 2>/dev/null || true
  wait "$vantor_pid" 2>/dev/null || true
  exec {vantor_fd}<&-
  [ "$line" = ready ] || fail "$what: vantor's first line was '$line'"
}

# The installed tree.
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) | same_files "cmake --install"
for page in gripwell scribbet vantor; do
  cmp -s "$root/man/$page.1" "$prefix/share/man/man1/$page.1" ||
    fail "the installed $page.1 differs from man/$page.1"
done
tools_answer "cmake --install" "$prefix/bin"

# The packages.
if ! (cd "$build" && cpack -B "$scratch/packages" >"$scratch/cpack.log" 2>&1); then
  cat "$scratch/cpack.log"
  fail "cpack failed"
  exit 1
fi
mapfile -t tarballs < <(find "$scratch/packages" -maxdepth 1 -name '*.tar.gz')
mapfile -t debs < <(find "$scratch/packages" -maxdepth 1 -name '*.deb')
if [ ${#tarballs[@]} -ne 1 ] || [ ${#debs[@]} -ne 1 ]; then
  fail "cpack made ${#tarballs[@]} tarballs and ${#debs[@]} Debian packages, not one each"
  exit 1
fi

top=$(basename "${tarballs[0]}" .tar.gz)
tar -tzf "${tarballs[0]}" | grep -v '/$' | sed "s|^$top/||" | sort | same_files "the tarball"
mkdir "$scratch/tarball"
tar -xzf "${tarballs[0]}" -C "$scratch/tarball"
tools_answer "the tarball" "$scratch/tarball/$top/bin"

deb=${debs[0]}
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort |
  same_files "the Debian package"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ "$(dpkg-deb --field "$deb" Package)" = deskhelpers ] || fail "the package is not named deskhelpers"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] ||
  fail "the package's version is not the project's ($version)"
[ -n "$(dpkg-deb --field "$deb" Maintainer)" ] || fail "the package names no maintainer"
[ -n "$(dpkg-deb --field "$deb" Description)" ] || fail "the package has no description"
depends=$(dpkg-deb --field "$deb" Depends)
# The package that holds a file, under any of its names (with merged /usr, dpkg knows
# /usr/lib/x/libc.so.6 as /lib/x/libc.so.6).
package_of() {
  local name real
  real=$(readlink -f "$1")
  for name in "$1" "$real" "${real#/usr}" "/usr$real"; do
    if dpkg -S "$name" >/dev/null 2>&1; then
      dpkg -S "$name" | head -n 1 | cut -d: -f1
      return
    fi
  done
}
# Every library that a tool links directly (NEEDED) comes from a package that Depends names.
while read -r soname path; do
  owner=$(package_of "$path")
  if [ -z "$owner" ]; then
    fail "the tools link $soname ($path), which no Debian package holds"
  elif ! tr ',' '\n' <<<"$depends" | awk '{print $1}' | grep -q -x -F "$owner"; then
    fail "the tools link $soname from $owner, which Depends does not name: $depends"
  fi
done < <(for tool in gripwell scribbet vantor; do
           join <(objdump -p "$prefix/bin/$tool" | awk '$1 == "NEEDED" {print $2}' | sort) \
                <(ldd "$prefix/bin/$tool" | awk '$2 == "=>" {print $1, $3}' | sort)
         done | sort -u)
mkdir "$scratch/deb"
dpkg-deb -x "$deb" "$scratch/deb"
tools_answer "the Debian package" "$scratch/deb/usr/bin"

if [ "$failures" -gt 0 ]; then
  echo "check-install: $failures failures"
  exit 1
fi
echo "check-install: install, $(basename "${tarballs[0]}") and $(basename "$deb") hold" \
  "${#expected[@]} files each; Depends: $depends"
