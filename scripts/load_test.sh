#!/usr/bin/env bash
# Load run: the program under lighttpd on 127.0.0.1 (scripts/serve.sh), driven by wrk with a mix
# of search forms, searches, result lists, detail pages, invalid numbers and malformed requests
# over a generated catalogue (bench/gen_catalogue.py). Every response is checked: the status,
# the kind of page, the count line of each result list against the catalogue's expected counts,
# the due date on the detail page, and the end of every page. It fails on any error response
# other than the expected 500 pages, any socket error and any wrong or incomplete body.
# A benchmark-style command, not a timed test: the figures go to a report; nothing asserts on
# them.
#
# Usage: scripts/load_test.sh [--short] [--books N] [--duration SECONDS] [--connections C]
#                             [--threads T] [--exe PATH] [--report FILE]
#   default   100,000 books, 30 seconds, 16 connections, 2 threads
#   --short   2,000 books, 5 seconds, 8 connections (proves that the whole chain works)
#   --exe     the program to serve (default build/vovivavi.exe, built by scripts/build.sh
#             when it is missing)
#   --report  where the Markdown report goes (default build-load/load-report.md)
# Catalogues are generated once into build-load/catalogue-N/ and kept for later runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

books=100000
duration=30
connections=16
threads=2
exe="$root/build/vovivavi.exe"
work="$root/build-load"
report=""
while (($#)); do
  case "$1" in
    --short) books=2000; duration=5; connections=8; shift ;;
    --books) books="${2:?}"; shift 2 ;;
    --duration) duration="${2:?}"; shift 2 ;;
    --connections) connections="${2:?}"; shift 2 ;;
    --threads) threads="${2:?}"; shift 2 ;;
    --exe) exe="${2:?}"; shift 2 ;;
    --report) report="${2:?}"; shift 2 ;;
    -h|--help) sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "load_test: unknown argument $1" >&2; exit 2 ;;
  esac
done
report="${report:-$work/load-report.md}"

"$root/scripts/setup.sh" lighttpd wrk
[ -x "$exe" ] || "$root/scripts/build.sh"
mkdir -p "$work"

# The catalogue, generated when missing or made by another version of the generator.
data="$work/catalogue-$books"
if [ ! -f "$data/manifest.json" ] || ! python3 - "$data/manifest.json" "$root/bench/gen_catalogue.py" <<'EOF'
import json, os, sys
sys.path.insert(0, os.path.dirname(sys.argv[2]))
import gen_catalogue as gen
sys.exit(0 if json.load(open(sys.argv[1], encoding="utf-8"))["generator"] == gen.generator_digest() else 1)
EOF
then
  echo "load_test: generating a catalogue of $books books in $data" >&2
  rm -rf "$data.new"
  python3 "$root/bench/gen_catalogue.py" --books "$books" --out "$data.new" >/dev/null
  rm -f "$data.new/books.sqlite"  # the benchmark's, not needed here
  rm -rf "$data"
  mv "$data.new" "$data"
fi

run_dir="$(mktemp -d "${TMPDIR:-/tmp}/shelfra-load.XXXXXX")"
state="$run_dir/server"
cleanup() {
  [ -f "$state" ] && "$root/scripts/serve.sh" --stop "$state" || true
  rm -rf -- "$run_dir"
}
trap cleanup EXIT
"$root/scripts/serve.sh" --background "$state" --owner $$ --exe "$exe" "$data" auto
url="$(sed -n 's/^URL=//p' "$state")"
port="$(sed -n 's/^PORT=//p' "$state")"

# The wrk script: the request mix and the checks, with the catalogue's words and expected
# answers written in as Shift_JIS bytes.
python3 - "$data/manifest.json" "$url" "$run_dir" >"$run_dir/load.lua" <<'EOF'
import json, sys, urllib.parse
manifest = json.load(open(sys.argv[1], encoding="utf-8"))
url = urllib.parse.urlsplit(sys.argv[2])
script, results = url.path, sys.argv[3] + "/results"


def q(text):
    return urllib.parse.quote(text.encode("cp932"), safe="")


def lua(text):
    """A Lua string literal of the text's Shift_JIS bytes."""
    data = text.encode("cp932") if isinstance(text, str) else text
    return '"' + "".join("\\%d" % b if b < 32 or b > 126 or b in (34, 92) else chr(b) for b in data) + '"'


w, e = manifest["words"], manifest["expected"]
mix = [  # (weight, path and query)
    (2, script),
    (3, script + "?title1=" + q(w["rare"]) + "&title2=&title3=&Author=&keyword1=&bunrui=10"),
    (2, script + "?keyword1=" + q(w["kw1"]) + "&keyword2=" + q(w["kw2"])),
    (1, script + "?title1=" + q(w["common"])),
    (1, script + "/list"),
    (3, script + "/Detail?NO=%d" % manifest["detail"]["number"]),
    (1, script + "/Detail?NO=0"),
    (1, script + "?title1=%4G"),  # a malformed escape: the 500 page
]
paths = [p for weight, p in mix for _ in range(weight)]
print("local paths = {" + ", ".join(lua(p) for p in paths) + "}")
print("local counts = {[%d] = true, [%d] = true, [%d] = true}" % (e["Q1"], e["Q3"], e["Q2"]))
print("local count_mark = " + lua("該当する資料は"))
print("local detail_mark = " + lua("利用状況"))
print("local due = " + lua(manifest["detail"]["due"]))
print("local invalid_mark = " + lua("指定された番号は無効です"))
print("local list_mark = " + lua("<Caption"))
print('local results = "%s"' % results)
print(r'''
local kinds = {"form", "result", "list", "detail", "invalid", "error500", "wrong"}
local threads = {}
function setup(thread)
  thread:set("id", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  n = 0
  seen = {}
  for _, k in ipairs(kinds) do seen[k] = 0 end
  first_wrong = ""
end

function request()
  n = n + 1
  return wrk.format("GET", paths[(n + id) % #paths + 1])
end

local function ends(body, tail) return body:sub(-#tail) == tail end

local function kind(status, body)
  if status == 500 then
    if body:find("Internal Server Error 500", 1, true) and body:find("EConvertError", 1, true) then
      return "error500"
    end
    return "wrong"
  end
  if status ~= 200 then return "wrong" end
  local at = body:find(count_mark, 1, true)
  if at then
    local count = tonumber(body:match("^%d+", at + #count_mark))
    if count and counts[count] and ends(body, "</H3>\r\n") then return "result" end
    return "wrong"
  end
  if body:find(detail_mark, 1, true) then
    if body:find(due, 1, true) and ends(body, "</HTML>\r\n") then return "detail" end
    return "wrong"
  end
  if body:find(invalid_mark, 1, true) then return ends(body, "</H1>") and "invalid" or "wrong" end
  if body:find(list_mark, 1, true) then return ends(body, "</H3>\r\n") and "list" or "wrong" end
  if body:find("<FORM", 1, true) or body:find("<form", 1, true) then
    return ends(body, "</HTML>\r\n") and "form" or "wrong"
  end
  return "wrong"
end

function response(status, headers, body)
  local k = kind(status, body)
  seen[k] = seen[k] + 1
  if k == "wrong" and first_wrong == "" then first_wrong = status .. " " .. body:sub(1, 300) end
end

function done(summary, latency, requests)
  local total = {}
  for _, k in ipairs(kinds) do total[k] = 0 end
  local wrong_sample = ""
  for _, t in ipairs(threads) do
    local s = t:get("seen")
    for _, k in ipairs(kinds) do total[k] = total[k] + s[k] end
    local fw = t:get("first_wrong")
    if wrong_sample == "" and fw ~= "" then wrong_sample = fw end
  end
  local f = io.open(results, "w")
  local function put(k, v) f:write(k, "=", tostring(v), "\n") end
  put("requests", summary.requests)
  put("duration_us", summary.duration)
  put("bytes", summary.bytes)
  put("socket_errors", summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.timeout)
  put("timeouts", summary.errors.timeout)
  put("non2xx3xx", summary.errors.status)
  for _, p in ipairs({50, 75, 90, 99}) do put("p" .. p .. "_us", latency:percentile(p)) end
  put("mean_us", math.floor(latency.mean))
  put("max_us", latency.max)
  for _, k in ipairs(kinds) do put(k, total[k]) end
  f:close()
  if wrong_sample ~= "" then
    local w = io.open(results .. ".wrong", "w")
    w:write(wrong_sample)
    w:close()
  end
end''')
EOF

echo "load_test: wrk -t$threads -c$connections -d${duration}s against $url ($books books)" >&2
# A single search over the big catalogue takes a good part of a second on a busy machine; the
# timeout only guards against a hung request.
wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout 30s -s "$run_dir/load.lua" "http://127.0.0.1:$port/" \
  >"$run_dir/wrk.out" 2>&1 || { cat "$run_dir/wrk.out" >&2; exit 1; }
[ -f "$run_dir/results" ] || { cat "$run_dir/wrk.out" >&2; echo "load_test: wrk wrote no results" >&2; exit 1; }

get() { sed -n "s/^$1=//p" "$run_dir/results"; }
requests="$(get requests)"
seconds="$(awk -v us="$(get duration_us)" 'BEGIN { printf "%.1f", us / 1e6 }')"
rps="$(awk -v n="$requests" -v us="$(get duration_us)" 'BEGIN { printf "%.1f", n / (us / 1e6) }')"
ms() { awk -v us="$(get "$1")" 'BEGIN { printf "%.0f", us / 1000 }'; }
checked=0
for k in form result list detail invalid error500 wrong; do checked=$((checked + $(get $k))); done
mib="$(awk -v b="$(get bytes)" 'BEGIN { printf "%.1f", b / 1048576 }')"

mkdir -p "$(dirname "$report")"
{
  echo "# Load run of $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "lighttpd on 127.0.0.1, one CGI process per request; wrk, $threads threads, $connections connections," \
       "${duration} s; catalogue of $books books (bench/gen_catalogue.py); $(nproc) cores."
  echo
  echo "| figure | value |"
  echo "|---|---|"
  echo "| requests | $requests in $seconds s ($mib MiB) |"
  echo "| requests per second | $rps |"
  echo "| latency p50 / p75 / p90 / p99 | $(ms p50_us) / $(ms p75_us) / $(ms p90_us) / $(ms p99_us) ms |"
  echo "| latency mean / max | $(ms mean_us) / $(ms max_us) ms |"
  echo "| search forms | $(get form) |"
  echo "| result lists (count checked) | $(get result) |"
  echo "| empty lists | $(get list) |"
  echo "| detail pages (due date checked) | $(get detail) |"
  echo "| invalid-number pages | $(get invalid) |"
  echo "| expected 500 pages (malformed escape) | $(get error500) |"
  echo "| wrong or incomplete responses | $(get wrong) |"
  echo "| socket errors (timeouts) | $(get socket_errors) ($(get timeouts)) |"
} >"$report"
cat "$report"

status=0
if [ "$(get wrong)" != 0 ]; then
  echo "load_test: $(get wrong) wrong responses; the first one:" >&2
  cat "$run_dir/results.wrong" >&2 || true
  status=1
fi
if [ "$(get socket_errors)" != 0 ]; then
  echo "load_test: $(get socket_errors) socket errors" >&2
  cat "$run_dir/wrk.out" >&2
  status=1
fi
if [ "$requests" = 0 ] || [ "$checked" != "$requests" ]; then
  echo "load_test: $checked responses checked of $requests requests" >&2
  status=1
fi
if ((status == 0)); then echo "load_test: every response complete and correct; report in $report"; fi
exit "$status"
