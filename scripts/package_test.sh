#!/usr/bin/env bash
# Checks both ways of installing: the Release build of scripts/release_build.sh (g++) is
# installed with "cmake --install" into one scratch root (DESTDIR) and packaged with
# "cpack -G DEB", and the package is unpacked with "dpkg-deb -x" into another. The package's
# control fields are checked, and so is that both roots hold the same files. Then, for each
# root, lighttpd on 127.0.0.1 (scripts/serve.sh) serves the installed program over the
# installed sample catalogue, through a host configuration made from the installed example,
# and the search form, a search result and a detail page must answer 200 with their content;
# the installed catalogue writer must write the sample's lending table again.
# Nothing is installed on this machine itself; everything lives in build-pkg/.
#
# Usage: scripts/package_test.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

setup_packages lighttpd curl dpkg-dev file locales  # cpack needs dpkg-shlibdeps, file, a charmap
"$root/scripts/release_build.sh" gcc
build="$root/build-rel-gcc"
work="$root/build-pkg"
rm -rf -- "$work"
mkdir -p "$work"

failures=0
fail() { echo "package_test: $*" >&2; failures=$((failures + 1)); }

# 1. cmake --install into a scratch root.
DESTDIR="$work/root-install" cmake --install "$build" --prefix /usr >/dev/null

# 2. The Debian package, unpacked into another.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) \
  || { cat "$work/cpack.log" >&2; echo "package_test: cpack failed" >&2; exit 1; }
debs=("$work"/deb/shelfra_*.deb)
[ -f "${debs[0]}" ] && ((${#debs[@]} == 1)) || { ls "$work/deb" >&2; echo "package_test: expected one shelfra_*.deb" >&2; exit 1; }
deb="${debs[0]}"
dpkg-deb -x "$deb" "$work/root-deb"
dpkg-deb -I "$deb" >"$work/control.txt"
echo "package_test: $(basename "$deb")" >&2
sed -n '/^ [A-Z][A-Za-z-]*:/,$p' "$work/control.txt" >&2

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
field() { sed -n "s/^ $1: //p" "$work/control.txt"; }
[ "$(field Package)" = shelfra ] || fail "package name is '$(field Package)', not shelfra"
[ "$(field Version)" = "$version" ] || fail "package version is '$(field Version)', not the project's $version"
[ -n "$(field Maintainer)" ] || fail "the package names no maintainer"
[ -n "$(field Description)" ] || fail "the package has no description"
# The programs carry the C++ runtime unless the build links it dynamically.
deps="libc6 python3"
grep -q '^SHELFRA_STATIC_CXX_RUNTIME:BOOL=OFF' "$build/CMakeCache.txt" && deps="$deps libstdc++6 libgcc-s1"
for dep in $deps; do
  field Depends | tr ',' '\n' | grep -q "^ *$dep\( \|$\)" || fail "Depends lacks $dep: $(field Depends)"
done
[ "$(field Recommends)" = "lighttpd | apache2" ] || fail "Recommends is '$(field Recommends)'"

# Both ways install the same files (cpack may add nothing but folders).
list_files() { (cd "$1" && find . ! -type d | LC_ALL=C sort); }
if ! diff <(list_files "$work/root-install") <(list_files "$work/root-deb") >"$work/files.diff"; then
  cat "$work/files.diff" >&2
  fail "cmake --install and the package hold different files"
fi
for f in usr/lib/cgi-bin/vovivavi.exe usr/bin/shelfra-index usr/bin/shelfra-make-catalogue; do
  [ -x "$work/root-install/$f" ] || fail "no program /$f"
done
for f in usr/share/doc/shelfra/operations.md usr/share/doc/shelfra/search-rules.md \
         usr/share/doc/shelfra/README.md usr/share/doc/shelfra/shelfra.conf.example \
         usr/share/shelfra/sample/Shelfra.ini "usr/share/shelfra/sample/$book_table" \
         "usr/share/shelfra/sample/$loan_table" usr/share/shelfra/schema/books.csv; do
  [ -f "$work/root-install/$f" ] || fail "no file /$f"
done

# 3. The search served from each root's installed files.
state=""
cleanup() {
  if [ -n "$state" ] && [ -f "$state" ]; then "$root/scripts/serve.sh" --stop "$state" || true; fi
}
trap cleanup EXIT

# check NAME URL TEXT...: GETs URL; the status must be 200 and the page (Shift_JIS, read as
# UTF-8) must hold every TEXT.
check() {
  local name="$1" url="$2" status
  shift 2
  status="$(curl -s --max-time 20 -o "$work/page" -w '%{http_code}' "$url")" || status="curl failed"
  if [ "$status" != 200 ]; then
    fail "$how: $name ($url) answered $status"
    return
  fi
  iconv -f CP932 -t UTF-8 "$work/page" >"$work/page.txt" || { fail "$how: $name is not Shift_JIS"; return; }
  local text
  for text in "$@"; do
    grep -qF -- "$text" "$work/page.txt" || fail "$how: $name ($url) lacks '$text'"
  done
}

for how in install deb; do
  dest="$work/root-$how"
  # The installed catalogue writer, on its own: with the installed field list it writes the
  # sample's lending table again (bytes 1-3, the date of writing, aside).
  "$dest/usr/bin/shelfra-make-catalogue" --schema "$dest/usr/share/shelfra/schema/loans.csv" \
    --csv "$root/sample/loans.csv" --out "$work/loans-$how.DBF" >/dev/null \
    || fail "$how: shelfra-make-catalogue failed"
  cmp -s <(tail -c +5 "$work/loans-$how.DBF") <(tail -c +5 "$dest/usr/share/shelfra/sample/$loan_table") \
    || fail "$how: shelfra-make-catalogue wrote another lending table than the sample's"
  site="$work/site-$how"
  mkdir -p "$site"
  # The host configuration: the installed example, its alias turned to the installed sample.
  example="$dest/usr/share/doc/shelfra/shelfra.conf.example"
  grep -q '^Vadoz=' "$example" || { fail "$how: the example host configuration names no Vadoz"; continue; }
  sed "s|^Vadoz=.*|Vadoz=$dest/usr/share/shelfra/sample|" "$example" >"$site/shelfra.conf"
  state="$work/server-$how"
  "$root/scripts/serve.sh" --background "$state" --owner $$ --exe "$dest/usr/lib/cgi-bin/vovivavi.exe" "$site" auto
  url="$(sed -n 's/^URL=//p' "$state")"
  # The banner comes from the sample's Shelfra.ini, the padded number from its [番号設定].
  check "search form" "$url" "<FORM" "本町図書館の蔵書を検索できます"
  check "search result" "$url?title1=%94L&Bunrui=10" "該当する資料は10件です" "吾輩は猫である" '/Detail?NO=1"'
  check "detail page" "$url/Detail?NO=1" "猫のゆりかご" "933.7/ヴォ/" ">000001<"
  "$root/scripts/serve.sh" --stop "$state"
  state=""
  ((failures)) || echo "package_test: $how: form, search and detail page served from the installed files" >&2
done

if ((failures)); then
  echo "package_test: $failures check(s) failed" >&2
  exit 1
fi
echo "package_test: cmake --install and $(basename "$deb") install the same files, and both serve the search"
