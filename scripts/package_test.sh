#!/usr/bin/env bash
# Checks both ways of installing: the Release build of scripts/release_build.sh (g++) is
# installed with "cmake --install" into one scratch root (DESTDIR) and packaged with
# "cpack -G DEB", and the package is installed by dpkg into another ("dpkg --root", its
# maintainer scripts run too). The package's control fields are checked, and so is that both
# roots hold the same files, that the package made the search index's folder for the web
# server's user (and that its postinst also goes through where that user is missing), and that
# purging it removes the folder. The folder of the cmake --install root is made by the command
# that cmake --install prints; the FastCGI units of both roots must start the programs where
# they are installed. Then, for each root, lighttpd on 127.0.0.1 (scripts/serve.sh) serves the
# installed program, as FastCGI processes of the web server's user, over the installed sample
# catalogue, through a host configuration made from the installed example (its index folder in
# the root), and the search form, a search result and a detail page must answer 200 with their
# content; the first search starts the book table's index build, and once the index is there
# the same search again must come from it. The installed catalogue writer must write the sample's
# lending table again, and the installed shelfra.cgi, run as a CGI program over the same
# catalogue, must answer a result list.
# Nothing is installed on this machine itself; everything lives in build-pkg/. Needs root (or
# sudo) for dpkg, for the folder's owner and for serving as the web server's user.
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
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
web_user=www-data
$sudo rm -rf -- "$work"
mkdir -p "$work"

failures=0
fail() { echo "package_test: $*" >&2; failures=$((failures + 1)); }

# The folder the installed example host configuration names for the search index.
index_dir_of() { sed -n 's/^Directory=//p' "$1/usr/share/doc/shelfra/shelfra.conf.example"; }
# OWNER:GROUP MODE of a file.
owner_mode() { stat -c '%U:%G %a' -- "$1" 2>/dev/null || echo "missing"; }

# 1. cmake --install into a scratch root. Its last words name the command that makes the index
# folder; it runs here with the folder moved into the root.
DESTDIR="$work/root-install" cmake --install "$build" --prefix /usr >"$work/install.log"
index_dir="$(index_dir_of "$work/root-install")"
[ -n "$index_dir" ] || fail "the example host configuration turns no index on"
make_dir="$(sed -n 's/^ *\(install -d .*\)$/\1/p' "$work/install.log")"
if [ "$make_dir" != "install -d -o $web_user -g $web_user -m 0750 $index_dir" ]; then
  fail "cmake --install names no command for the index folder $index_dir: $(tail -3 "$work/install.log")"
else
  $sudo ${make_dir% *} "$work/root-install$index_dir"
fi

# 2. The Debian package, installed into another.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) \
  || { cat "$work/cpack.log" >&2; echo "package_test: cpack failed" >&2; exit 1; }
debs=("$work"/deb/shelfra_*.deb)
[ -f "${debs[0]}" ] && ((${#debs[@]} == 1)) || { ls "$work/deb" >&2; echo "package_test: expected one shelfra_*.deb" >&2; exit 1; }
deb="${debs[0]}"
# Installed by dpkg into its own root with its own database (which knows none of the
# dependencies); the maintainer scripts find that root in DPKG_ROOT.
dpkg_root() {
  $sudo dpkg --root="$work/root-deb" --admindir="$work/dpkg" --force-script-chrootless \
    --force-depends --log="$work/dpkg.log" "$@"
}
mkdir -p "$work/root-deb" "$work/dpkg/info" "$work/dpkg/updates" "$work/dpkg/triggers"
: >"$work/dpkg/status"
dpkg_root -i "$deb" >"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out" >&2; echo "package_test: dpkg could not install the package" >&2; exit 1; }
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
[ "$(field Recommends)" = "lighttpd | apache2 | nginx" ] || fail "Recommends is '$(field Recommends)'"

# The index folder: the package's for the web server's user, the command's likewise.
for how in deb install; do
  [ "$(owner_mode "$work/root-$how$index_dir")" = "$web_user:$web_user 750" ] \
    || fail "$how: the index folder $index_dir is $(owner_mode "$work/root-$how$index_dir"), not $web_user:$web_user 750"
done
# Where the user is missing, postinst makes the folder all the same, says so, and succeeds.
mkdir -p "$work/no-user/bin"
printf '#!/bin/sh\nexit 2\n' >"$work/no-user/bin/getent"
chmod +x "$work/no-user/bin/getent"
if ! $sudo env PATH="$work/no-user/bin:$PATH" DPKG_ROOT="$work/no-user/root" DPKG_ADMINDIR="$work/dpkg" \
     sh "$work/dpkg/info/shelfra.postinst" configure >"$work/no-user/out" 2>&1; then
  fail "postinst fails where there is no user $web_user: $(cat "$work/no-user/out")"
elif [ ! -d "$work/no-user/root$index_dir" ] || ! grep -q "no user or group $web_user" "$work/no-user/out"; then
  fail "postinst without a user $web_user made no folder or said nothing: $(cat "$work/no-user/out")"
fi

# Both ways install the same files (cpack may add nothing but folders).
list_files() { (cd "$1" && find . ! -type d | LC_ALL=C sort); }
if ! diff <(list_files "$work/root-install") <(list_files "$work/root-deb") >"$work/files.diff"; then
  cat "$work/files.diff" >&2
  fail "cmake --install and the package hold different files"
fi
for f in usr/lib/cgi-bin/vovivavi.exe usr/lib/cgi-bin/shelfra.cgi usr/bin/shelfra-index usr/bin/shelfra-make-catalogue; do
  [ -x "$work/root-install/$f" ] || fail "no program /$f"
done
# The FastCGI units name the programs where both ways put them, whatever the build's prefix.
for how in install deb; do
  for unit in vovivavi:vovivavi.exe opac:shelfra.cgi; do
    f="$work/root-$how/usr/lib/systemd/system/shelfra-${unit%%:*}@.service"
    grep -qx "ExecStart=/usr/lib/cgi-bin/${unit#*:}" "$f" 2>/dev/null \
      || fail "$how: ${f##*/} does not start /usr/lib/cgi-bin/${unit#*:}: $(grep ExecStart "$f" 2>&1)"
  done
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
  if [ -n "$state" ] && [ -f "$state" ]; then $sudo "$root/scripts/serve.sh" --stop "$state" || true; fi
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
  # The host configuration: the installed example, its alias turned to the installed sample
  # and its index folder to the root's.
  example="$dest/usr/share/doc/shelfra/shelfra.conf.example"
  grep -q '^Vadoz=' "$example" || { fail "$how: the example host configuration names no Vadoz"; continue; }
  sed -e "s|^Vadoz=.*|Vadoz=$dest/usr/share/shelfra/sample|" -e "s|^Directory=.*|Directory=$dest$index_dir|" \
    "$example" >"$site/shelfra.conf"
  state="$work/server-$how"
  log="$work/logs-$how/program.log"
  $sudo "$root/scripts/serve.sh" --background "$state" --owner $$ --user "$web_user" --logs "$work/logs-$how" \
    --exe "$dest/usr/lib/cgi-bin/vovivavi.exe" "$site" auto
  url="$(sed -n 's/^URL=//p' "$state")"
  # The banner comes from the sample's Shelfra.ini, the padded number from its [番号設定].
  search=("$url?title1=%94L&Bunrui=10" "該当する資料は10件です" "吾輩は猫である" '/Detail?NO=1"')
  check "search form" "$url" "<FORM" "本町図書館の蔵書を検索できます"
  check "search result" "${search[@]}"
  check "detail page" "$url/Detail?NO=1" "猫のゆりかご" "933.7/ヴォ/" ">000001<"
  # The first search started the book table's index build. Once the index is there and its
  # build's report waits to be logged (or has been), the same search again comes from it: it
  # starts no second build, and the report ("built index") is logged by the time it answers.
  # (lighttpd writes a FastCGI process's bytes above 0x7F as \xNN: the lines are read decoded.)
  idx="$(while IFS= read -r line; do printf '%b\n' "$line"; done <"$log" \
    | sed -n 's/.*index \(.*\.idx\) of .*図書\.DBF is missing; building it$/\1/p' | head -1)"
  if [ -z "$idx" ]; then
    fail "$how: the first search started no index build: $(cat "$log")"
  else
    for _ in $(seq 300); do
      [ -f "$idx" ] && { [ -f "${idx%.idx}.report" ] || grep -qF "built index $idx" "$log"; } && break
      sleep 0.1
    done
    builds="$(grep -c "building it" "$log" || true)"
    check "search from the index" "${search[@]}"
    [ -f "$idx" ] || fail "$how: no index $idx 30 s after the first search: $(cat "$log")"
    [ "$(grep -c "building it" "$log")" = "$builds" ] || fail "$how: the second search started a build again: $(cat "$log")"
    grep -qF "built index $idx" "$log" || fail "$how: the index was built but not used: $(cat "$log")"
  fi
  ! grep -E "could not|cannot|damaged|refus" "$log" >&2 || fail "$how: the index path logged trouble (above)"
  $sudo "$root/scripts/serve.sh" --stop "$state"
  state=""
  # The UTF-8 front, run as the web server runs it, over the same catalogue (without the index
  # folder, which is the web server's user's).
  sed -e "s|^Directory=.*|Directory=|" "$site/shelfra.conf" >"$site/shelfra-scan.conf"
  env -i SHELFRA_CONFIG="$site/shelfra-scan.conf" REQUEST_METHOD=GET SCRIPT_NAME=/cgi-bin/shelfra.cgi \
    PATH_INFO=/search QUERY_STRING='title=%E7%8C%AB' "$dest/usr/lib/cgi-bin/shelfra.cgi" >"$work/utf8-page" 2>&1 || true
  { head -1 "$work/utf8-page" | grep -q '^Status: 200' && grep -qF "吾輩は猫である" "$work/utf8-page"; } \
    || fail "$how: shelfra.cgi answered no result list: $(head -3 "$work/utf8-page")"
  ((failures)) || echo "package_test: $how: form, search and detail page served from the installed files, the second search from the index; shelfra.cgi's result list" >&2
done

# Purging the package removes its files and the index folder with the index in it.
dpkg_root --purge shelfra >>"$work/dpkg.out" 2>&1 || fail "dpkg could not purge the package: $(tail -5 "$work/dpkg.out")"
[ ! -e "$work/root-deb$index_dir" ] || fail "the purged package left $index_dir: $(ls -A "$work/root-deb$index_dir")"
[ ! -e "$work/root-deb/usr/lib/cgi-bin/vovivavi.exe" ] || fail "the purged package left its program"
[ ! -e "$work/root-deb/usr/lib/cgi-bin/shelfra.cgi" ] || fail "the purged package left shelfra.cgi"

if ((failures)); then
  echo "package_test: $failures check(s) failed" >&2
  exit 1
fi
echo "package_test: cmake --install and $(basename "$deb") install the same files, and both serve the search, from the index from the second search on"
