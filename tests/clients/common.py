"""What the client tests share: the served front's address and plain HTTP requests to it."""
import json
import os
import urllib.error
import urllib.request

OPAC_URL = os.environ["SHELFRA_OPAC_URL"]
DATA_DIR = os.environ["SHELFRA_CLIENTS_DATA"]
with open(os.environ["SHELFRA_CLIENTS_MANIFEST"], encoding="utf-8") as f:
    MANIFEST = json.load(f)


def get(path, headers=None):
    """(status, headers, body bytes) of GET OPAC_URL + path; an HTTP error is an answer too."""
    request = urllib.request.Request(OPAC_URL + path, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=30) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()
