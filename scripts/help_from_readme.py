#!/usr/bin/env python3
"""Turns the README into the program's help page: headings, paragraphs,
tables, code blocks and inline code of the Markdown it uses, nothing more."""
import html
import re
import sys


def inline(text):
    text = html.escape(text, quote=False)
    return re.sub(r"`([^`]+)`", r"<code>\1</code>", text)


def convert(lines):
    out, paragraph, table, code = [], [], [], []

    def flush():
        if paragraph:
            out.append("<p>" + inline(" ".join(paragraph)) + "</p>")
            paragraph.clear()
        if table:
            rows = [r for r in table if not re.fullmatch(r"\|[-| ]+\|", r)]
            cells = [[c.strip() for c in r.strip("|").split("|")] for r in rows]
            out.append("<table>")
            for i, row in enumerate(cells):
                tag = "th" if i == 0 else "td"
                out.append("<tr>" + "".join(f"<{tag}>{inline(c)}</{tag}>" for c in row) + "</tr>")
            out.append("</table>")
            table.clear()
        if code:
            out.append("<pre>" + html.escape("\n".join(code)) + "</pre>")
            code.clear()

    for line in lines:
        line = line.rstrip("\n")
        if line.startswith("    "):
            if not code:
                flush()
            code.append(line[4:])
        elif line.startswith("|"):
            if not table:
                flush()
            table.append(line)
        elif line.startswith("#"):
            flush()
            level = len(line) - len(line.lstrip("#"))
            out.append(f"<h{level}>{inline(line[level:].strip())}</h{level}>")
        elif not line.strip():
            flush()
        else:
            if table or code:
                flush()
            paragraph.append(line.strip())
    flush()
    return out


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        body = convert(f.readlines())
    page = ["<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"><title>Zerbalin Help</title>",
            "<style>body{font-family:sans-serif;max-width:60em;margin:auto}table{border-collapse:collapse}"
            "td,th{border:1px solid #999;padding:2px 6px;text-align:left}code,pre{background:#eee}</style>",
            "</head><body>"] + body + ["</body></html>"]
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
