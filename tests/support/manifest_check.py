#!/usr/bin/env python3
"""Reads a save's manifest with Python's csv module, checks it against the files with hashlib
and prints what it found as JSON.

  manifest_check.py MANIFEST [STORE]

  {"store": the first line's fields (a list, "# store" first),
   "header": the header row,
   "rows": every further row,
   "listed": the file column of every row, sorted,
   "present": every file under the manifest's folder, as a path from there with "/", other
              than the manifests at its top, sorted,
   "problems": every row whose file is missing or whose size or SHA-256 differs, and, with
               STORE, a store size or SHA-256 that differs}
"""
import csv
import hashlib
import json
import os
import re
import sys


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    manifest = sys.argv[1]
    root = os.path.dirname(os.path.abspath(manifest))
    with open(manifest, newline="", encoding="utf-8") as f:
        records = list(csv.reader(f, strict=True))
    problems = []
    first = records[0] if records else []
    if not first or not first[0].startswith("#"):
        problems.append("the first line is not a comment")
    header = records[1] if len(records) > 1 else []
    rows = records[2:]
    listed = []
    for row in rows:
        if len(row) != len(header):
            problems.append("a row of %d fields: %r" % (len(row), row))
            continue
        fields = dict(zip(header, row))
        name = fields["file"]
        listed.append(name)
        path = os.path.join(root, *name.split("/"))
        if not os.path.isfile(path):
            problems.append(name + ": no such file")
            continue
        size = os.path.getsize(path)
        if str(size) != fields["bytes"]:
            problems.append("%s: %d bytes, listed %s" % (name, size, fields["bytes"]))
        if sha256(path) != fields["sha256"]:
            problems.append(name + ": SHA-256 differs")
    store = dict(zip(first[0::2], first[1::2]))
    if len(sys.argv) > 2:
        store_file = sys.argv[2]
        if store.get("bytes") != str(os.path.getsize(store_file)):
            problems.append("store size differs: %r" % store.get("bytes"))
        if "sha256" in store and store["sha256"] != sha256(store_file):
            problems.append("store SHA-256 differs")
    present = []
    for folder, _, files in os.walk(root):
        for name in files:
            relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            if not re.fullmatch(r"manifest(-\d+)?\.csv", relative):
                present.append(relative)
    json.dump({"store": first, "header": header, "rows": rows, "listed": sorted(listed),
               "present": sorted(present), "problems": problems}, sys.stdout)


if __name__ == "__main__":
    main()
