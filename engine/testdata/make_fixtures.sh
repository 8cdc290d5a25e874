#!/usr/bin/env bash
# Regenerates the .DBF fixtures of this folder with their independent writers, installing the
# writers first (Debian packages with apt-get, the npm package into a temporary folder). Only
# for regenerating: the tests read the committed files. See README.md.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
if ! dpkg -s python3-dbf libdbd-xbase-perl >/dev/null 2>&1; then
  $sudo apt-get install -y python3-dbf libdbd-xbase-perl || { $sudo apt-get update && $sudo apt-get install -y python3-dbf libdbd-xbase-perl; }
fi
npm_dir="$(mktemp -d)"
trap 'rm -rf "$npm_dir"' EXIT
npm install --prefix "$npm_dir" --no-save --silent dbffile@1.13.0

perl xbase_fixture.pl xbase_fixture.dbf
perl foxpro2_fixture.pl foxpro2_fixture.dbf
# Debian's python3-dbf is a module of the system's own Python, whatever python3 is first in PATH.
/usr/bin/python3 vfp_fixture.py vfp_fixture.dbf
# An ES module finds its packages beside it, so the script runs from the npm folder.
cp dbffile_fixture.mjs "$npm_dir/"
TZ=UTC node "$npm_dir/dbffile_fixture.mjs" "$here/dbffile_fixture.dbf"
