#!/usr/bin/env bash
# The web server configurations of docs/ as an operator installs them: each runs on 127.0.0.1
# on a free port, from the recipe's own text with its paths turned to a scratch folder (the
# programs of build/, the sample catalogue, sockets and logs), and serves both programs. For
# each program every answer (status and body) must be the one the program gives when run
# directly as a CGI program with the same request; a book table replaced by rename must show
# on the next request, also to a process that served the one before; and an error page's log
# line must reach the server's error log. Before them, the FastCGI systemd units as installed
# (cmake --install into a scratch root) must pass "systemd-analyze verify".
#   nginx-spawn-fcgi   docs/nginx-shelfra.conf, the processes started by its spawn-fcgi lines
#   nginx-fcgiwrap     docs/nginx-fcgiwrap-shelfra.conf (CGI through fcgiwrap)
#   lighttpd-fastcgi   docs/lighttpd-fastcgi-shelfra.conf (lighttpd starts the processes)
#   apache-proxy-fcgi  docs/apache-fastcgi-shelfra.conf, one process per program started with
#                      the program's own --fastcgi SOCKET
# Installs what is missing (setup_packages), builds the programs when they are missing, and
# runs the servers as the calling user (as nobody when that is root). Every server and
# process it starts is stopped by its PID on exit.
#
# Usage: scripts/servers_test.sh [SERVER...]   (default: every server above)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"
build="$root/build"
PATH="$PATH:/usr/sbin:/sbin"  # the servers' programs, also for a user whose PATH lacks them

# server  recipe
cases=(
  "nginx-spawn-fcgi  docs/nginx-shelfra.conf"
  "nginx-fcgiwrap    docs/nginx-fcgiwrap-shelfra.conf"
  "lighttpd-fastcgi  docs/lighttpd-fastcgi-shelfra.conf"
  "apache-proxy-fcgi docs/apache-fastcgi-shelfra.conf"
)
# program  requests (path info and query), read through ${!name} below; the last one is the
# book whose table row the swap deletes
# shellcheck disable=SC2034
requests_vovivavi=("" "?title1=%82%A0&Bunrui=9" "?title1=%zz" "/Detail?NO=1")
# shellcheck disable=SC2034
requests_shelfra=("/" "/search?class=9" "/book/1")

if [ -z "${SHELFRA_SERVERS_WORK:-}" ]; then
  setup_packages nginx fcgiwrap spawn-fcgi lighttpd apache2 libfcgi-bin curl
  [ -x "$build/vovivavi.exe" ] && [ -x "$build/shelfra.cgi" ] && [ -f "$build/sample/Shelfra.ini" ] \
    || "$root/scripts/build.sh"
  work="$(mktemp -d "${TMPDIR:-/tmp}/shelfra-servers.XXXXXX")"
  # The units as installed. "systemd-analyze verify" reads them in the scratch root, with the
  # programs they name and the system's targets they hang off. Each socket must be the one
  # the recipes name for its program, and its processes' template must take their socket from
  # it.
  if command -v systemd-analyze >/dev/null; then
    stage="$work/stage"
    DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$work/install.log"
    mkdir -p "$stage/etc/systemd/system"
    cp -- /lib/systemd/system/*.target "$stage/etc/systemd/system/"
    units=("$stage"/usr/lib/systemd/system/shelfra-*)
    bad=""
    ((${#units[@]} == 4)) || bad="${#units[@]} units installed, not 4"
    for socket in "$stage"/usr/lib/systemd/system/*.socket; do
      service="$stage/usr/lib/systemd/system/$(sed -n 's/^Service=\(.*@\).*/\1.service/p' "$socket")"
      program="$(sed -n 's|^ExecStart=.*/||p' "$service" 2>/dev/null)"
      [ "$(sed -n 's/^ListenStream=//p' "$socket")" = "/run/shelfra/$program.sock" ] \
        && grep -qx "Sockets=${socket##*/}" "$service" || bad="${socket##*/} and its processes do not match"
    done
    if ! systemd-analyze verify --root="$stage" "${units[@]}" >"$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
      bad="systemd-analyze verify: $(cat "$work/verify.log")"
    fi
    if [ -n "$bad" ]; then
      echo "servers_test: the systemd units: $bad" >&2
      rm -rf -- "$work"
      exit 1
    fi
    echo "servers_test: systemd-analyze verify passes ${units[*]##*/}" >&2
  else
    echo "servers_test: no systemd-analyze here: the systemd units are not checked" >&2
  fi
  rm -rf -- "$work/stage"
  # Web servers refuse to serve as root (Apache) or would drop to users of their own: as root,
  # the servers run as nobody, in a scratch folder of nobody's.
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$work"
    exec setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
      env SHELFRA_SERVERS_WORK="$work" HOME="$work" "$0" "$@"
  fi
  export SHELFRA_SERVERS_WORK="$work"
fi
work="$SHELFRA_SERVERS_WORK"

pids=()
stop_all() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  pids=()
}
cleanup() {
  stop_all
  # An index build the programs started ends by itself within seconds.
  for _ in $(seq 100); do compgen -G "$work/index/*.idx.tmp.*" >/dev/null || break; sleep 0.1; done
  rm -rf -- "$work"
}
trap cleanup EXIT

# The sample catalogue, its host configuration with the search index on, and the changed copy
# of the book table that the swap renames into place: its first row (book 1) deleted.
catalogue="$work/catalogue"
mkdir -p "$catalogue" "$work/run" "$work/index"
chmod 0700 "$work/index"
cp -- "$build/sample/Shelfra.ini" "$build/sample/$book_table" "$build/sample/$loan_table" "$catalogue/"
printf '[Aliases]\nVadoz=%s\n[Locale]\nDateSeparator=/\nShortDateFormat=yyyy/mm/dd\n[Index]\nDirectory=%s\n' \
  "$catalogue" "$work/index" >"$catalogue/shelfra.conf"
cp -- "$catalogue/$book_table" "$work/books-original.dbf"
python3 - "$work/books-original.dbf" "$work/books-changed.dbf" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int.from_bytes(data[8:10], "little")] = ord("*")  # the first record's deletion flag
open(sys.argv[2], "wb").write(data)
EOF
swap_in() { cp -- "$1" "$catalogue/.books.new" && mv -f -- "$catalogue/.books.new" "$catalogue/$book_table"; }

# The recipe's text with its paths turned to this run's.
recipe() {
  sed -e "s|/usr/lib/cgi-bin/|$build/|g" -e "s|/run/shelfra/|$work/run/|g" -e "s|/run/lighttpd/|$work/run/|g" \
      -e "s|/run/fcgiwrap.socket|$work/run/fcgiwrap.socket|g" \
      -e "s|/srv/shelfra/catalogue/shelfra.conf|$catalogue/shelfra.conf|g" \
      -e "s|/var/log/lighttpd/shelfra.log|$dir/program.log|g" "$root/$1"
}

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() {  # wait_for TEST ARG: until TEST ARG succeeds, at most 10 s
  for _ in $(seq 100); do "$1" "$2" && return 0; sleep 0.1; done
  echo "servers_test: $server: $2 did not come up" >&2
  return 1
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
socket_there() { [ -S "$1" ]; }

# Starts the server $server of recipe $recipe on $port, its error log $dir/error.log.
start_nginx() {  # start_nginx FASTCGI_SOCKET...
  cat >"$dir/nginx.conf" <<EOF
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log info;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $dir/body;
  fastcgi_temp_path $dir/fastcgi;
  proxy_temp_path $dir/proxy;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server {
    listen 127.0.0.1:$port;
    include $dir/recipe.conf;
  }
}
EOF
  recipe "$recipe" >"$dir/recipe.conf"
  nginx -e "$dir/error.log" -c "$dir/nginx.conf" </dev/null >>"$dir/out" 2>&1 &
  pids+=($!)
}
start_nginx-spawn-fcgi() {
  local line words
  # The recipe's spawn-fcgi lines, without the options that only root may give.
  while read -r line; do
    read -r -a words <<<"$(sed -e 's/ -[UGug] www-data//g' <<<"$line")"
    "${words[@]}" >>"$dir/out" 2>&1
  done < <(recipe "$recipe" | sed -n 's/^#   \(spawn-fcgi .*\)$/\1/p')
  mapfile -t -O "${#pids[@]}" pids < <(awk 1 "$work"/run/*.pid)  # each file: its last line has no newline
  start_nginx
}
start_nginx-fcgiwrap() {
  fcgiwrap -f -s "unix:$work/run/fcgiwrap.socket" </dev/null >>"$dir/out" 2>&1 &
  pids+=($!)
  wait_for socket_there "$work/run/fcgiwrap.socket"
  start_nginx
}
start_lighttpd-fastcgi() {
  cat >"$dir/lighttpd.conf" <<EOF
server.modules = ( "mod_access" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$dir"
server.errorlog = "$dir/error.log"
include "$dir/recipe.conf"
EOF
  recipe "$recipe" >"$dir/recipe.conf"
  lighttpd -D -f "$dir/lighttpd.conf" </dev/null >>"$dir/out" 2>&1 &
  pids+=($!)
}
start_apache-proxy-fcgi() {
  local program modules=/usr/lib/apache2/modules
  for program in vovivavi.exe shelfra.cgi; do
    "$build/$program" --fastcgi "$work/run/$program.sock" </dev/null >>"$dir/out" 2>>"$dir/program.log" &
    pids+=($!)
    wait_for socket_there "$work/run/$program.sock"
  done
  cat >"$dir/httpd.conf" <<EOF
ServerRoot $dir
DefaultRuntimeDir $dir
PidFile $dir/httpd.pid
ErrorLog $dir/error.log
Mutex file:$dir default
Listen 127.0.0.1:$port
ServerName 127.0.0.1
DocumentRoot $dir
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule alias_module $modules/mod_alias.so
LoadModule env_module $modules/mod_env.so
LoadModule setenvif_module $modules/mod_setenvif.so
LoadModule proxy_module $modules/mod_proxy.so
LoadModule proxy_fcgi_module $modules/mod_proxy_fcgi.so
Include $dir/recipe.conf
EOF
  recipe "$recipe" >"$dir/recipe.conf"
  apache2 -D FOREGROUND -f "$dir/httpd.conf" </dev/null >>"$dir/out" 2>&1 &
  pids+=($!)
}

failures=0
fail() { echo "servers_test: $server: $*" >&2; failures=$((failures + 1)); }

# The status of the CGI answer in file $1 (200 without a Status line); its body into file $2.
cgi_answer() {
  python3 - "$1" "$2" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
head, _, body = data.partition(b"\r\n\r\n")
open(sys.argv[2], "wb").write(body)
status = [l[7:].split()[0] for l in head.split(b"\r\n") if l.lower().startswith(b"status:")]
print((status or [b"200"])[0].decode())
EOF
}

# check PROGRAM REQUEST: the server's answer to REQUEST must be the program's own, run as a
# CGI program with the same request; the body stays in $dir/got.
check() {
  local program="$1" request="$2" path query status want
  path="${request%%\?*}"
  query=""
  [[ "$request" != *\?* ]] || query="${request#*\?}"
  status="$(curl -s --max-time 20 -o "$dir/got" -w '%{http_code}' "http://127.0.0.1:$port/cgi-bin/$program$request")" \
    || status="curl failed"
  env -i SHELFRA_CONFIG="$catalogue/shelfra.conf" GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
    REQUEST_METHOD=GET SCRIPT_NAME="/cgi-bin/$program" PATH_INFO="$path" QUERY_STRING="$query" \
    SERVER_NAME=127.0.0.1 SERVER_PORT="$port" HTTP_HOST="127.0.0.1:$port" REMOTE_ADDR=127.0.0.1 \
    timeout 20 "$build/$program" </dev/null >"$dir/cgi" 2>/dev/null || true
  want="$(cgi_answer "$dir/cgi" "$dir/want")"
  if [ "$status" != "$want" ]; then
    fail "$program$request answered $status, the program $want"
  elif ! cmp -s "$dir/got" "$dir/want"; then
    fail "$program$request: the body differs from the program's ($(cmp "$dir/got" "$dir/want" 2>&1 | head -1))"
  fi
}

only=" $* "
for case in "${cases[@]}"; do
  read -r server recipe <<<"$case"
  [ "$only" = "  " ] || [[ "$only" == *" $server "* ]] || continue
  dir="$work/$server"
  mkdir -p "$dir"
  port="$(free_port)"
  before=$failures
  "start_$server"
  if wait_for listening "$port"; then
    for program in vovivavi.exe shelfra.cgi; do
      name="requests_${program%%.*}[@]"
      for request in "${!name}"; do check "$program" "$request"; done
      # The book table replaced by rename shows on the next request: book 1 is gone, and
      # comes back with the old table.
      cp -- "$dir/got" "$dir/book-before"
      swap_in "$work/books-changed.dbf"
      check "$program" "$request"
      ! cmp -s "$dir/got" "$dir/book-before" || fail "$program$request is the same after the book table changed"
      swap_in "$work/books-original.dbf"
      check "$program" "$request"
    done
    # The malformed escape's error page logged its line: in the processes' standard error where
    # the recipe gives them one, else with the request, into the server's error log.
    log="$dir/error.log"
    case "$server" in lighttpd-fastcgi|apache-proxy-fcgi) log="$dir/program.log" ;; esac
    for _ in $(seq 20); do grep -q "vovivavi.exe: 500 EConvertError" "$log" 2>/dev/null && break; sleep 0.1; done
    grep -q "vovivavi.exe: 500 EConvertError" "$log" 2>/dev/null || fail "the error page's log line is not in ${log##*/}"
  else
    cat "$dir/out" "$dir/error.log" >&2 2>/dev/null || true
    failures=$((failures + 1))
  fi
  stop_all
  ((failures > before)) || echo "servers_test: $server ($recipe): every answer the program's own, the swapped table seen" >&2
done
((failures == 0)) || { echo "servers_test: $failures check(s) failed" >&2; exit 1; }
echo "servers_test: every server's answers were the programs' own"
