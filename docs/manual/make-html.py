#!/usr/bin/env python3
"""Turns the manual's Markdown pages into the HTML manual that Help > Contents opens.

    make-html.py --source docs/manual --screenshots docs/screenshots --output DIR
                 [--version 1.0.0]

The pages and their order come from pages.txt. Links between pages are written as
links to the .md files (so they also work when the sources are read on their own) and
become links to the .html files. Pictures are named by their file name in the
screenshots folder; a picture that is not there yet is left out of the page (with a
note on standard error), so the manual builds before every screenshot exists. A link
to a page or heading that does not exist stops the build.
"""

import argparse
import html
import os
import re
import shutil
import sys
import xml.etree.ElementTree as etree

import markdown
from markdown.extensions import Extension
from markdown.treeprocessors import Treeprocessor

EXTENSIONS = ["tables", "fenced_code", "attr_list", "def_list", "sane_lists", "toc"]
PICTURE_FOLDER = "screenshots"


class PageContext:
    """What one conversion needs to know, and what it found out."""

    def __init__(self, screenshots, page_names):
        self.screenshots = screenshots
        self.page_names = page_names
        self.pictures_used = set()
        self.pictures_missing = set()
        self.links = []  # (target page, anchor or None), checked once all pages exist


class ManualLinks(Treeprocessor):
    def __init__(self, md, context):
        super().__init__(md)
        self.context = context

    def run(self, root):
        self._links(root)
        self._pictures(root)

    def _links(self, root):
        for a in root.iter("a"):
            href = a.get("href", "")
            if re.match(r"^[a-z][a-z0-9+.-]*:", href):
                continue  # http:, mailto: and the like stay as they are
            page, _, anchor = href.partition("#")
            if page.endswith(".md"):
                page = page[:-3]
                a.set("href", page + ".html" + ("#" + anchor if anchor else ""))
            elif page:
                continue  # some other local file; not ours to check
            self.context.links.append((page or None, anchor or None))

    def _pictures(self, root):
        # A paragraph that holds a picture and nothing else becomes a figure whose
        # caption is the picture's text.
        for parent in list(root.iter()):
            for child in list(parent):
                if child.tag == "p" and len(child) == 1 and child[0].tag == "img" \
                        and not (child.text or "").strip() and not (child[0].tail or "").strip():
                    img = child[0]
                    if not self._use_picture(img):
                        parent.remove(child)
                        continue
                    child.tag = "figure"
                    caption = etree.SubElement(child, "figcaption")
                    caption.text = img.get("title") or img.get("alt", "")
                    img.tail = None
                elif child.tag == "img" and not self._use_picture(child):
                    parent.remove(child)

    def _use_picture(self, img):
        name = os.path.basename(img.get("src", ""))
        if not os.path.isfile(os.path.join(self.context.screenshots, name)):
            self.context.pictures_missing.add(name)
            return False
        self.context.pictures_used.add(name)
        img.set("src", PICTURE_FOLDER + "/" + name)
        img.set("loading", "lazy")
        return True


class ManualExtension(Extension):
    def __init__(self, context):
        super().__init__()
        self.context = context

    def extendMarkdown(self, md):
        # After the inline patterns (priority 20) have made the <a> and <img> elements.
        md.treeprocessors.register(ManualLinks(md, self.context), "odomira_manual", 5)


def read_pages(source):
    """pages.txt: one file name a line, the contents page first; # starts a comment."""
    pages = []
    with open(os.path.join(source, "pages.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                pages.append(line[:-3] if line.endswith(".md") else line)
    if not pages or pages[0] != "index":
        sys.exit("make-html: pages.txt must start with index.md")
    return pages


def page_title(text, name):
    for line in text.splitlines():
        if line.startswith("# "):
            return line[2:].strip()
    sys.exit("make-html: %s.md has no title (a first-level heading)" % name)


def navigation(pages, titles, current):
    items = []
    for name in pages:
        mark = ' aria-current="page"' if name == current else ""
        items.append('<li><a href="%s.html"%s>%s</a></li>'
                     % (name, mark, html.escape(titles[name])))
    return "<ol>\n" + "\n".join(items) + "\n</ol>"


def neighbours(pages, titles, current):
    i = pages.index(current)
    parts = []
    if i > 0:
        p = pages[i - 1]
        parts.append('<a rel="prev" href="%s.html">&larr; %s</a>' % (p, html.escape(titles[p])))
    if i + 1 < len(pages):
        n = pages[i + 1]
        parts.append('<a rel="next" href="%s.html">%s &rarr;</a>' % (n, html.escape(titles[n])))
    return "\n".join(parts)


TEMPLATE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title} &ndash; Odomira manual</title>
<link rel="stylesheet" href="manual.css">
</head>
<body>
<header><a href="index.html">Odomira {version} &ndash; user manual</a></header>
<nav aria-label="Contents">
{nav}
</nav>
<main>
{body}
<footer class="pager">
{pager}
</footer>
</main>
</body>
</html>
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--version", default="")
    args = parser.parse_args()

    pages = read_pages(args.source)
    texts = {}
    for name in pages:
        with open(os.path.join(args.source, name + ".md"), encoding="utf-8") as f:
            texts[name] = f.read()
    titles = {name: page_title(texts[name], name) for name in pages}

    # Start from an empty folder so that pages and pictures dropped from the sources do
    # not linger in the built manual.
    if os.path.isdir(args.output):
        shutil.rmtree(args.output)
    os.makedirs(os.path.join(args.output, PICTURE_FOLDER))

    context = PageContext(args.screenshots, set(pages))
    anchors = {}
    for name in pages:
        links_before = len(context.links)
        md = markdown.Markdown(extensions=EXTENSIONS + [ManualExtension(context)],
                               extension_configs={"toc": {"permalink": False}})
        body = md.convert(texts[name])
        anchors[name] = set(re.findall(r'\sid="([^"]+)"', body))
        # A link without a page goes to a heading of the same page.
        context.links[links_before:] = [(page or name, anchor)
                                        for page, anchor in context.links[links_before:]]
        with open(os.path.join(args.output, name + ".html"), "w", encoding="utf-8") as f:
            f.write(TEMPLATE.format(title=html.escape(titles[name]), version=html.escape(args.version),
                                    nav=navigation(pages, titles, name), body=body,
                                    pager=neighbours(pages, titles, name)))

    broken = sorted({"%s.md%s" % (page, "#" + anchor if anchor else "")
                     for page, anchor in context.links
                     if page not in anchors or (anchor and anchor not in anchors[page])})
    if broken:
        sys.exit("make-html: links to pages or headings that do not exist: " + ", ".join(broken))

    shutil.copy(os.path.join(args.source, "manual.css"), args.output)
    for picture in sorted(context.pictures_used):
        shutil.copy(os.path.join(args.screenshots, picture), os.path.join(args.output, PICTURE_FOLDER))
    if context.pictures_missing:
        print("make-html: left out, not in %s yet: %s"
              % (args.screenshots, ", ".join(sorted(context.pictures_missing))), file=sys.stderr)


if __name__ == "__main__":
    main()
