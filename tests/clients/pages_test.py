"""The search page and a result list are served as UTF-8 pages with the manifest's count."""
import sys
import urllib.parse

from common import MANIFEST, get

failures = []
status, headers, body = get("/")
if status != 200 or headers["Content-Type"] != "text/html; charset=UTF-8":
    failures.append(f"search page: {status} {headers['Content-Type']}")
word = MANIFEST["words"]["rare"]
status, _, body = get("/search?title=" + urllib.parse.quote(word))
count = f"{MANIFEST['expected']['Q1']:,}件中".encode()
if status != 200 or count not in body:
    failures.append(f"result list of {word}: {status}, no {count.decode()}")
for failure in failures:
    print("pages_test:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
