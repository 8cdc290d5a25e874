#!/usr/bin/env bash
# Serves the catalogue search on lighttpd, on 127.0.0.1 only, as /cgi-bin/vovivavi.exe (or
# /cgi-bin/shelfra.cgi with --exe build/shelfra.cgi) and, when shelfra.cgi lies beside the
# program, the UTF-8 pages as /cgi-bin/shelfra.cgi too: through FastCGI (mod_fastcgi starts
# four processes of each program, which answer request after request), or with --cgi as CGI
# programs (a process per request).
#
# Usage: scripts/serve.sh [options] DATA_DIR [PORT]
#   DATA_DIR  folder holding the host configuration "shelfra.conf" (its [Aliases] Vadoz names
#             the folder of the tables and of Shelfra.ini)
#   PORT      a port number: exactly that one; "auto": the first free port from a random one
#             in 20000-59999; none: 8080 or the next free one (also from $PORT when set)
# Options:
#   --exe PATH          the program to serve (default: build/vovivavi.exe of this checkout)
#   --cgi               run the programs as CGI programs, a process per request, instead of
#                       FastCGI processes (these keep running the program they started with:
#                       a rebuild is served once the server is started again)
#   --background FILE   start the server, write PID=, PORT=, URL=, OPAC_URL= (empty without
#                       shelfra.cgi), RUN_DIR= lines to FILE and
#                       return; stop it later with --stop FILE (or kill the PID, remove RUN_DIR)
#   --owner PID         with --background: also stop the server when process PID has ended
#   --stop FILE         stop the server that --background recorded in FILE, and clean up
#   --user NAME         run the server, and so the program, as the user NAME and its group
#                       (lighttpd drops root for them; needs root): as the web server's user does
#   --logs DIR          keep the logs in DIR (made when missing), where they stay after the server
#                       has stopped: error.log (lighttpd's own messages), program.log (the
#                       program's error log lines) and access.log (one line per request: begin
#                       and end in microseconds since the epoch, microseconds taken, status,
#                       bytes, request line). Default: the server's private folder, removed
#                       with it.
#
# Without --background the server runs until Ctrl-C (or TERM), then it is stopped by its PID,
# and so are the FastCGI processes it started.
# The program's error log lines go to program.log: the programs' standard error, CGI processes'
# and the FastCGI processes lighttpd starts alike, is the file server.breakagelog opens.
# Needs lighttpd (scripts/setup.sh lighttpd); no root, but for --user.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"

die() { echo "serve: $*" >&2; exit 1; }

exe="$root/build/vovivavi.exe"
state_file=""
owner_pid=""
stop_file=""
log_dir=""
user=""
mode=fastcgi
args=()
while (($#)); do
  case "$1" in
    --exe) exe="${2:?--exe needs a path}"; shift 2 ;;
    --cgi) mode=cgi; shift ;;
    --background) state_file="${2:?--background needs a file}"; shift 2 ;;
    --owner) owner_pid="${2:?--owner needs a PID}"; shift 2 ;;
    --stop) stop_file="${2:?--stop needs a file}"; shift 2 ;;
    --logs) log_dir="${2:?--logs needs a folder}"; shift 2 ;;
    --user) user="${2:?--user needs a user name}"; shift 2 ;;
    -h|--help) print_help "${BASH_SOURCE[0]}"; exit 0 ;;
    --) shift; args+=("$@"); break ;;
    -*) die "unknown option $1" ;;
    *) args+=("$1"); shift ;;
  esac
done

# True while process PID runs (an ended process that nobody has reaped yet counts as gone).
alive() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"
  [ "${stat:0:1}" != Z ]
}

# The PIDs of the processes whose parent is process $1.
children_of() {
  local stat fields
  for stat in /proc/[0-9]*/stat; do
    stat="$(cat "$stat" 2>/dev/null)" || continue
    read -r -a fields <<<"${stat##*) }"
    [ "${fields[1]}" != "$1" ] || echo "${stat%% *}"
  done
}

# Stops the lighttpd of PID (only when it still is one) and waits until it has gone; then the
# FastCGI processes it started from $run_dir, should any still run (lighttpd ends them itself,
# unless it had to be killed).
stop_server() {
  local pid="$1" child children=()
  [ -n "$pid" ] || return 0
  if alive "$pid" && grep -q lighttpd "/proc/$pid/comm" 2>/dev/null; then
    mapfile -t children < <(children_of "$pid")
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do alive "$pid" || break; sleep 0.1; done
    ! alive "$pid" || kill -KILL "$pid" 2>/dev/null || true
    for child in "${children[@]}"; do
      if alive "$child" && tr '\0' ' ' <"/proc/$child/cmdline" 2>/dev/null | grep -qF -- "$run_dir/"; then
        kill -TERM "$child" 2>/dev/null || true
      fi
    done
  fi
}

if [ -n "$stop_file" ]; then
  [ -f "$stop_file" ] || die "no state file $stop_file"
  pid="$(sed -n 's/^PID=//p' "$stop_file")"
  run_dir="$(sed -n 's/^RUN_DIR=//p' "$stop_file")"
  stop_server "$pid"
  case "$run_dir" in */shelfra-serve.*) rm -rf -- "$run_dir" ;; esac
  rm -f -- "$stop_file"
  exit 0
fi

((${#args[@]} >= 1 && ${#args[@]} <= 2)) || die "usage: scripts/serve.sh [--background FILE] [--exe PATH] DATA_DIR [PORT]"
data_dir="$(cd "${args[0]}" 2>/dev/null && pwd)" || die "no data folder ${args[0]}"
config="$data_dir/shelfra.conf"
[ -f "$config" ] || die "no host configuration $config (scripts/run.sh writes one)"
port_arg="${args[1]:-${PORT:-}}"
[ -x "$exe" ] || die "no program at $exe (build it with scripts/build.sh)"
exe="$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")"
lighttpd_bin="$(command -v lighttpd || true)"
[ -n "$lighttpd_bin" ] || lighttpd_bin=/usr/sbin/lighttpd
[ -x "$lighttpd_bin" ] || die "lighttpd is not installed (scripts/setup.sh lighttpd)"
group=""
if [ -n "$user" ]; then
  [ "$(id -u)" -eq 0 ] || die "--user needs root"
  group="$(id -gn -- "$user" 2>/dev/null)" || die "no user $user"
fi

# True when something already answers on 127.0.0.1:PORT.
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Candidate ports, in the order they are tried.
explicit_port=0
case "$port_arg" in
  "") first=8080; tries=100 ;;
  auto) first=$((20000 + (RANDOM * 32768 + RANDOM) % 40000)); tries=100 ;;
  *[!0-9]*) die "port must be a number or auto, not $port_arg" ;;
  *) ((port_arg >= 1 && port_arg <= 65535)) || die "port out of range: $port_arg"
     first=$port_arg; tries=1; explicit_port=1 ;;
esac

# Everything the server needs lives in one private folder, removed when it stops.
run_dir="$(mktemp -d "${TMPDIR:-/tmp}/shelfra-serve.XXXXXX")"
mkdir -p "$run_dir/htdocs" "$run_dir/cgi-bin" "$run_dir/fastcgi"
if [ -n "$log_dir" ]; then
  mkdir -p -- "$log_dir" || die "cannot make the log folder $log_dir"
  log_dir="$(cd "$log_dir" && pwd)"
else
  log_dir="$run_dir"
fi
if [ -n "$user" ]; then
  # The server opens its logs after it has become the user, and reaches the program's link
  # through this folder.
  chmod 0755 "$run_dir"
  # It makes the FastCGI sockets there, as the user.
  chown -- "$user:$group" "$run_dir/fastcgi"
  for f in error.log program.log access.log; do
    : >>"$log_dir/$f"
    chown -- "$user:$group" "$log_dir/$f"
  done
fi
# Only the program is reachable under /cgi-bin/, by its own file name (vovivavi.exe or
# shelfra.cgi), with shelfra.cgi when it lies beside it: links, so a rebuild is served at once.
exe_name="$(basename "$exe")"
ln -s "$exe" "$run_dir/cgi-bin/$exe_name"
opac="$(dirname -- "$exe")/shelfra.cgi"
if [ "$exe_name" != shelfra.cgi ] && [ -x "$opac" ]; then ln -s "$opac" "$run_dir/cgi-bin/shelfra.cgi"; else opac=""; fi

# A text as a lighttpd configuration string.
conf_string() { local s="${1//\\/\\\\}"; printf '"%s"' "${s//\"/\\\"}"; }

# The lines that make the server drop root for --user.
user_conf() {
  [ -n "$user" ] || return 0
  printf 'server.username = %s\nserver.groupname = %s\n' "$(conf_string "$user")" "$(conf_string "$group")"
}

# The lines that run the programs of $run_dir/cgi-bin: as CGI programs, or each as FastCGI
# processes that lighttpd starts on sockets of its own in $run_dir/fastcgi.
handler_conf() {
  if [ "$mode" = cgi ]; then
    printf '%s\n' '$HTTP["url"] =~ "^/cgi-bin/" {' '  cgi.assign = ( ".exe" => "", ".cgi" => "" )' '}'
    return
  fi
  local program
  printf 'fastcgi.server = (\n'
  for program in "$run_dir"/cgi-bin/*; do
    printf '  %s => (( "bin-path" => %s, "socket" => %s, "max-procs" => 4, "check-local" => "disable" )),\n' \
      "$(conf_string "/cgi-bin/${program##*/}")" "$(conf_string "$program")" "$(conf_string "$run_dir/fastcgi/${program##*/}.sock")"
  done
  printf ')\n'
}

write_conf() {
  cat >"$run_dir/lighttpd.conf" <<EOF
# Generated by scripts/serve.sh: the catalogue search on 127.0.0.1:$1.
server.modules = ( "mod_alias", "mod_cgi", "mod_fastcgi", "mod_setenv", "mod_redirect", "mod_accesslog" )
server.bind = "127.0.0.1"
server.port = $1
server.document-root = $(conf_string "$run_dir/htdocs")
server.errorlog = $(conf_string "$log_dir/error.log")
# lighttpd keeps CGI programs' standard error out of server.errorlog: they inherit its own
# standard error, which this file becomes (under -D it would otherwise be the caller's; a
# daemonised lighttpd without this line sends it to /dev/null).
server.breakagelog = $(conf_string "$log_dir/program.log")
accesslog.filename = $(conf_string "$log_dir/access.log")
accesslog.format = "%{begin:usec}t %{end:usec}t %D %s %b \"%r\""
server.tag = "lighttpd"
$(user_conf)
# The program reads no request body: one announcing more than 4 KB is answered 413 at once
# (a POST with "Content-Length: 99999999999" and three bytes of body otherwise held its
# connection for the 60 s idle time-out).
server.max-request-size = 4
# Shift_JIS searches hold escapes such as %C0, %C1 and %F5-%FF (the small tsu is %82%C1),
# which the default URL normalisation rejects with 400.
server.http-parseopts = ( "url-normalize" => "disable" )
alias.url = ( "/cgi-bin/" => $(conf_string "$run_dir/cgi-bin/") )
$(handler_conf)
# The server gives a CGI program a clean environment, and passes a FastCGI process its own with
# each request: the program finds the catalogue here.
setenv.add-environment = ( "SHELFRA_CONFIG" => $(conf_string "$config") )
url.redirect = ( "^/$" => "/cgi-bin/$exe_name" )
EOF
}

pid=""
port=""
cleanup() {
  stop_server "$pid"
  rm -rf -- "$run_dir"
}
trap cleanup EXIT

candidate=$first
for ((i = 0; i < tries; i++)); do
  if ((i > 0)); then candidate=$((candidate + 1)); ((candidate <= 65535)) || candidate=1024; fi
  if port_in_use "$candidate"; then
    ((explicit_port)) && die "port $candidate is already in use"
    continue
  fi
  write_conf "$candidate"
  : >"$log_dir/error.log"
  "$lighttpd_bin" -tt -f "$run_dir/lighttpd.conf" >"$run_dir/check.log" 2>&1 \
    || die "lighttpd refuses the configuration: $(cat "$run_dir/check.log")"
  # -D: stay in the foreground, so $! is the server's own PID.
  "$lighttpd_bin" -D -f "$run_dir/lighttpd.conf" </dev/null >>"$run_dir/lighttpd.out" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    alive "$pid" || break
    if port_in_use "$candidate"; then port=$candidate; break; fi
    sleep 0.1
  done
  [ -n "$port" ] && break
  # It died (or never answered): another process may have taken the port meanwhile.
  stop_server "$pid"
  pid=""
  if ((explicit_port)) || ! grep -qi "address already in use" "$log_dir/error.log" "$run_dir/lighttpd.out"; then
    cat "$log_dir/error.log" "$run_dir/lighttpd.out" >&2
    die "lighttpd did not start on port $candidate"
  fi
done
[ -n "$port" ] || die "no free port found from $first"

url="http://127.0.0.1:$port/cgi-bin/$exe_name"
opac_url=""
[ -z "$opac" ] || opac_url="http://127.0.0.1:$port/cgi-bin/shelfra.cgi/"

if [ -n "$state_file" ]; then
  if [ -n "$owner_pid" ]; then
    # Watchdog: when the owner has ended without stopping the server, stop it and clean up.
    # It ends by itself as soon as the server has gone.
    (
      trap - EXIT
      while alive "$pid"; do
        if ! alive "$owner_pid"; then stop_server "$pid"; rm -rf -- "$run_dir"; break; fi
        sleep 1
      done
    ) </dev/null >/dev/null 2>&1 &
    disown $! 2>/dev/null || true
  fi
  printf 'PID=%s\nPORT=%s\nURL=%s\nOPAC_URL=%s\nRUN_DIR=%s\n' "$pid" "$port" "$url" "$opac_url" "$run_dir" >"$state_file.tmp"
  mv -f -- "$state_file.tmp" "$state_file"
  disown "$pid" 2>/dev/null || true
  trap - EXIT
  echo "serve: lighttpd (PID $pid) serves $url${opac_url:+ and $opac_url} ($mode)" >&2
  exit 0
fi

trap 'exit 130' INT
mode_text="FastCGI: four processes per program"
[ "$mode" = fastcgi ] || mode_text="CGI: a process per request"
trap 'exit 143' TERM
echo "Catalogue search (lighttpd PID $pid, $mode_text, catalogue settings $config):"
echo "  $url   (the original pages, Shift_JIS)"
[ -z "$opac_url" ] || echo "  $opac_url   (the UTF-8 pages for phones and screen readers)"
echo "Press Ctrl-C to stop the server."
wait "$pid" || true
pid=""
cat "$log_dir/error.log" >&2 || true
die "lighttpd ended by itself"
