"""Reads a rehearsal report as a browser would and prints one line per table
row: its cells, tab-separated, then the length of the log behind its fold.
Fails when the page is not well formed or reaches outside itself."""
import html.parser
import sys

VOID = {"meta", "img", "br"}


class Report(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.rows, self.cell, self.in_pre = [], [], None, False

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("src", "href") and not (value or "").startswith("data:"):
                sys.exit(f"external resource: {name}={value}")
        if tag in VOID:
            return
        self.stack.append(tag)
        if tag == "tr":
            self.rows.append([])
        elif tag == "td":
            self.cell = []
        elif tag == "pre":
            self.in_pre = True

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            sys.exit(f"</{tag}> closes {self.stack[-1:] or 'nothing'}")
        self.stack.pop()
        if tag == "td":
            self.rows[-1].append("".join(self.cell).strip())
            self.cell = None
        elif tag == "pre":
            self.in_pre = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)


report = Report()
report.feed(open(sys.argv[1], encoding="utf-8").read())
report.close()
if report.stack:
    sys.exit(f"unclosed: {report.stack}")
rows = [r for r in report.rows if r]
for machine, fold in zip(rows[0::2], rows[1::2]):
    print("\t".join(machine[:3]) + "\t" + str(len(fold[-1])))
