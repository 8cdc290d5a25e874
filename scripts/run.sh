#!/usr/bin/env bash
# Sets up what is missing, builds the program and the sample catalogue, and answers one
# sample request: the search form, as a web server would receive it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "--- GET /cgi-bin/vovivavi.exe (answer converted from Shift_JIS for display) ---" >&2
env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET SCRIPT_NAME=/cgi-bin/vovivavi.exe PATH_INFO= QUERY_STRING= \
  "$root/build/vovivavi.exe" | iconv -f CP932 -t UTF-8
