"""Reads a rehearsal report as a browser would and prints one line per table
row: number, machine, made-for code, code, then the length of the log behind
its fold. Fails when the page is not well formed, reaches outside itself, or
a row's dialog picture shows another run's code than the row's."""
import html.parser
import re
import sys

VOID = {"meta", "img", "br"}


class Report(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.rows, self.cell, self.summary = [], [], None, None
        self.pictures = []  # per machine row: (form, text) or None
        self.picture_text = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ("src", "href"):
            if name in attrs and not (attrs[name] or "").startswith("data:"):
                sys.exit(f"external resource: {name}={attrs[name]}")
        if tag in VOID:
            return
        self.stack.append(tag)
        cls = attrs.get("class")
        if tag == "tr":
            self.rows.append([])
            self.pictures.append(None)
        elif tag == "td":
            self.cell = []
        elif tag == "div" and cls == "dialog":
            self.pictures[-1] = [attrs.get("data-form"), ""]
        elif tag == "div" and cls == "text":
            self.picture_text = []
        elif tag == "p" and cls == "summary":
            self.summary = []

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            sys.exit(f"</{tag}> closes {self.stack[-1:] or 'nothing'}")
        self.stack.pop()
        if tag == "td":
            self.rows[-1].append("".join(self.cell).strip())
            self.cell = None
        elif tag == "div" and self.picture_text is not None:
            self.pictures[-1][1] = "".join(self.picture_text)
            self.picture_text = None

    def handle_data(self, data):
        if self.picture_text is not None:
            self.picture_text.append(data)
            return
        if self.cell is not None:
            self.cell.append(data)
        if self.summary is not None and self.stack and self.stack[-1] == "p":
            self.summary.append(data)


report = Report()
report.feed(open(sys.argv[1], encoding="utf-8").read())
report.close()
if report.stack:
    sys.exit(f"unclosed: {report.stack}")
rows = [(r, p) for r, p in zip(report.rows, report.pictures) if r]
for (machine, picture), (fold, _) in zip(rows[0::2], rows[1::2]):
    code = machine[3]
    if picture:
        form, text = picture
        if not machine[6].startswith(form):
            sys.exit(f"row {machine[0]}: picture of {form}, row names {machine[6]}")
        shown = re.findall(r"\((\d+)\)", text)
        if shown and shown[-1] != code:
            sys.exit(f"row {machine[0]}: the picture shows ({shown[-1]}), the run ended {code}")
    print("\t".join(machine[:4]) + "\t" + str(len(fold[-1])))
print("summary\t" + "".join(report.summary or []).strip())
