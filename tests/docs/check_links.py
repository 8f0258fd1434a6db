#!/usr/bin/env python3
"""Checks that every link and picture of HTML pages and Markdown documents resolves: a
relative file exists (beside the page, as the browser resolves it), a #fragment names an id of
its page (in Markdown, a heading, as the repository's web view names it), and every image has
a text alternative. External links (http:, https:, mailto:) are not fetched.
Usage: check_links.py PAGE.html|DOCUMENT.md..."""

import os
import re
import sys
from html.parser import HTMLParser
from urllib.parse import unquote, urlsplit


class Page(HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links, self.problems = set(), [], []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        for name in ("href", "src"):
            if a.get(name):
                self.links.append((self.getpos()[0], a[name]))
        if tag == "img" and not a.get("alt"):
            self.problems.append("line %d: an image without alt text" % self.getpos()[0])


class Markdown:
    """The links, pictures and heading anchors of a Markdown document; code is skipped."""

    LINK = re.compile(r"(!?)\[([^\]]*)\]\(([^)\s]+)\)")

    def __init__(self, text):
        self.ids, self.links, self.problems = set(), [], []
        fenced = False
        for number, line in enumerate(text.split("\n"), 1):
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            if fenced:
                continue
            if line.startswith("#"):
                self.ids.add(self.anchor(line.lstrip("#").strip()))
            prose = re.sub(r"`[^`]*`", "", line)
            for bang, label, target in self.LINK.findall(prose):
                self.links.append((number, target))
                if bang and not label.strip():
                    self.problems.append("line %d: an image without alt text" % number)

    @staticmethod
    def anchor(heading):
        text = re.sub(r"[^\w\- ]", "", heading.lower())
        return text.replace(" ", "-")


def parse(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if path.endswith(".md"):
        return Markdown(text)
    page = Page()
    page.feed(text)
    return page


def main(paths):
    problems = []
    for path in paths:
        page = parse(path)
        problems += ["%s: %s" % (path, p) for p in page.problems]
        for line, link in page.links:
            parts = urlsplit(link)
            if parts.scheme in ("http", "https", "mailto"):
                continue
            where = "%s:%d: %s" % (path, line, link)
            if parts.scheme:
                problems.append(where + ": unexpected scheme")
                continue
            target = path
            if parts.path:
                target = os.path.normpath(os.path.join(os.path.dirname(path), unquote(parts.path)))
                if not os.path.exists(target):
                    problems.append(where + ": no such file")
                    continue
            if parts.fragment:
                ids = parse(target).ids if target.endswith((".html", ".md")) else None
                if ids is not None and parts.fragment not in ids:
                    problems.append(where + ": no id '%s'" % parts.fragment)
    for p in problems:
        print(p, file=sys.stderr)
    print("%d page(s), %d problem(s)" % (len(paths), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]) if len(sys.argv) > 1 else 2)
