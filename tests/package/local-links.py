#!/usr/bin/env python3
"""Prints the local links and pictures of the HTML pages in a folder that point to no
file (or to no heading), and exits 1 if there are any."""
import html.parser
import os
import sys
from urllib.parse import urlsplit


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.refs, self.ids = [], set()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        for key in ("href", "src"):
            if key in a:
                self.refs.append(a[key])


folder = sys.argv[1]
pages = {}
for name in sorted(os.listdir(folder)):
    if name.endswith(".html"):
        p = Page()
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            p.feed(f.read())
        pages[name] = p

broken = []
for name, page in pages.items():
    for ref in page.refs:
        parts = urlsplit(ref)
        if parts.scheme or parts.netloc:
            continue
        target = parts.path or name
        if not os.path.isfile(os.path.join(folder, target)):
            broken.append("%s -> %s" % (name, ref))
        elif parts.fragment and target in pages and parts.fragment not in pages[target].ids:
            broken.append("%s -> %s (no such heading)" % (name, ref))
print(", ".join(broken))
sys.exit(1 if broken else 0)
