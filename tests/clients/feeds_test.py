"""A feed reader reads the Atom feeds: for a few of the manifest's searches and for the new
arrivals, feedparser's entries are the HTML list's books in order and the OpenSearch totals are
the manifest's counts; the next page's feed is the next HTML page; xmllint finds the OpenSearch
description and every feed well-formed."""
import re
import subprocess
import sys
import urllib.parse

import feedparser

from common import MANIFEST, get

failures = []
ROW = re.compile(rb'<h2><a href="[^"]*/book/(\d+)[?"]')


def fail(text):
    failures.append(text)


def well_formed(name, body):
    result = subprocess.run(["xmllint", "--noout", "-"], input=body, capture_output=True, timeout=60)
    if result.returncode != 0:
        fail(f"{name}: xmllint: {result.stderr.decode(errors='replace').strip()}")


def feed_of(path):
    """(parsed feed, body) of path, with its answer checked."""
    status, headers, body = get(path)
    if status != 200 or headers["Content-Type"] != "application/atom+xml; charset=UTF-8":
        fail(f"{path}: {status} {headers['Content-Type']}")
    well_formed(path, body)
    parsed = feedparser.parse(body)
    if parsed.bozo:
        fail(f"{path}: feedparser: {parsed.bozo_exception}")
    return parsed


def entry_numbers(parsed):
    return [entry.link.rsplit("/book/", 1)[1] for entry in parsed.entries]


def html_numbers(path):
    status, _, body = get(path)
    if status != 200:
        fail(f"{path}: {status}")
    return [n.decode() for n in ROW.findall(body)]


def compare(name, feed_path, html_path, total):
    parsed = feed_of(feed_path)
    if int(parsed.feed.get("opensearch_totalresults", -1)) != total:
        fail(f"{name}: totalResults {parsed.feed.get('opensearch_totalresults')}, expected {total}")
    if entry_numbers(parsed) != html_numbers(html_path):
        fail(f"{name}: the feed's entries are not the HTML list's books in order")
    return parsed


words = MANIFEST["words"]
expected = MANIFEST["expected"]
searches = [
    ("Q1", {"title": words["rare"]}),
    ("Q2", {"title": words["common"]}),
    ("Q3", {"keyword": words["kw1"] + " " + words["kw2"]}),
    ("Q4", {"class": "9"}),
]
for name, parameters in searches:
    query = urllib.parse.urlencode({**parameters, "per": "50"})
    parsed = compare(name, "/search.atom?" + query, "/search?" + query, expected[name])
    next_links = [link.href for link in parsed.feed.get("links", []) if link.rel == "next"]
    if expected[name] > 50:
        if not next_links:
            fail(f"{name}: no next page")
        else:
            page2 = urllib.parse.urlsplit(next_links[0]).query
            compare(name + " page 2", "/search.atom?" + page2, "/search?" + page2, expected[name])
    elif next_links:
        fail(f"{name}: a next page after the last")

compare("new arrivals", "/new.atom?per=100", "/new?per=100", MANIFEST["live_books"])

status, headers, body = get("/opensearch.xml")
if status != 200 or headers["Content-Type"] != "application/opensearchdescription+xml":
    fail(f"/opensearch.xml: {status} {headers['Content-Type']}")
well_formed("/opensearch.xml", body)

for failure in failures:
    print("feeds_test:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
