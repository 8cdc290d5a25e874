"""The JSON interface's examples in docs/api.md are what the served catalogue answers: each
example's request gets the example's status and JSON of the example's very shape (the same
names at every level, values of the same types; a list's first item stands for all). And the
JSON search gives the HTML list's books in its order for the manifest's searches."""
import json
import os
import re
import sys
import urllib.parse

from common import MANIFEST, get

DOC = os.path.join(os.environ["SHELFRA_SOURCE_DIR"], "docs", "api.md")
# Values that are null in one answer and text in another (a due date, an ISBN-13 form).
NULLABLE = {"due", "isbn13"}


def examples(text):
    """(request path, status, example JSON) for each ```http block followed by a ```json one."""
    pattern = re.compile(r"```http\nGET (\S+)\nHTTP/1\.1 (\d{3})[^\n]*\n```\n```json\n(.*?)\n```", re.S)
    return [(path, int(status), json.loads(body)) for path, status, body in pattern.findall(text)]


def shape_problems(example, actual, where="", key=""):
    if key in NULLABLE and (example is None or actual is None):
        return [] if example is None or actual is None or type(example) is type(actual) else [where]
    if type(example) is not type(actual):
        return [f"{where or '/'}: {type(actual).__name__} where the example has {type(example).__name__}"]
    if isinstance(example, dict):
        if set(example) != set(actual):
            return [f"{where or '/'}: names {sorted(actual)} where the example has {sorted(example)}"]
        return [p for name in example for p in shape_problems(example[name], actual[name], f"{where}/{name}", name)]
    if isinstance(example, list) and example and actual:
        return shape_problems(example[0], actual[0], f"{where}[0]", key)
    return []


def quoted(path):
    """The path with its query's non-ASCII characters percent-escaped, as a client sends it."""
    return urllib.parse.quote(path, safe="/?=&:-_.~%")


failures = []
with open(DOC, encoding="utf-8") as f:
    cases = examples(f.read())
if len(cases) < 6:
    failures.append(f"docs/api.md holds {len(cases)} examples, fewer than expected")
for path, status, example in cases:
    got_status, headers, body = get(quoted(path))
    if got_status != status:
        failures.append(f"{path}: status {got_status}, the example says {status}")
        continue
    if headers.get("Access-Control-Allow-Origin") != "*" or not headers.get("Content-Type", "").startswith("application/json"):
        failures.append(f"{path}: headers {dict(headers)}")
    failures += [f"{path}: {p}" for p in shape_problems(example, json.loads(body))]

# The JSON search and the HTML list: the same books in the same order.
words = MANIFEST["words"]
for query in [f"title={words['rare']}", f"title={words['common']}&page=3",
              f"keyword={words['kw1']} {words['kw2']}&per=50", "class=9&sort=new&page=2"]:
    q = urllib.parse.quote(query, safe="=&")
    _, _, body = get("/api/v1/search?" + q)
    numbers = [str(book["number"]) for book in json.loads(body)["books"]]
    _, _, page = get("/search?" + q)
    listed = re.findall(r'href="[^"]*/book/(\d+)\?back=', page.decode())
    if numbers != listed or not numbers:
        failures.append(f"{query}: JSON {numbers[:5]}... HTML {listed[:5]}...")

for failure in failures:
    print("api_test:", failure, file=sys.stderr)
print(f"api_test: {len(cases)} examples of docs/api.md checked", file=sys.stderr)
sys.exit(1 if failures else 0)
