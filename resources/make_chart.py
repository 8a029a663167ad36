#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Build p1.doc, the periodic table chart, from elements.tsv.

The table is written as a Flat ODT file first (it lets us set page size,
fonts and cell sizes exactly) and LibreOffice then saves it as a
Word 97-2003 document.

Usage: make_chart.py [--out FILE] [--soffice PATH] [--keep-fodt FILE]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))

FONT = "DejaVu Sans"

# Millimetres.  Usable width is 297 - 2*8 = 281.
MARGIN = 8.0
PERIOD_COL = 5.5
ELEM_COL = 15.25
ROW_H = 19.0
HEAD_H = 4.2
GAP_H = 3.0

# Category -> (background colour, order in the legend).  Pale colours so
# black text stays readable and toner use stays low.
CATEGORIES = [
    ("щелочной металл", "#f7a8a8"),
    ("щёлочноземельный металл", "#f9d39c"),
    ("переходный металл", "#f8ee9f"),
    ("постпереходный металл", "#cfe7b6"),
    ("металлоид", "#a7dcc8"),
    ("неметалл", "#b8d4f3"),
    ("галоген", "#bfe9f0"),
    ("благородный газ", "#dccaf1"),
    ("лантаноид", "#f5c9e1"),
    ("актиноид", "#e3d2b0"),
]
COLOUR = dict(CATEGORIES)

# Long names are squeezed sideways to fit the cell: (length, scale).
NAME_SCALE = ((11, "78%"), (10, "88%"))

TITLE = "Периодическая система химических элементов Д. И. Менделеева"


class Element:
    __slots__ = ("number", "symbol", "name", "mass", "group", "period",
                 "category")

    def __init__(self, fields):
        self.number = int(fields[0])
        self.symbol = fields[1]
        self.name = fields[2]
        self.mass = fields[3]
        self.group = int(fields[4])
        self.period = int(fields[5])
        self.category = fields[6]


def load_elements(path):
    elements = []
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 7:
                raise ValueError("%s:%d: expected 7 columns, got %d"
                                 % (path, lineno, len(fields)))
            el = Element(fields)
            if el.category not in COLOUR:
                raise ValueError("%s:%d: unknown category %r"
                                 % (path, lineno, el.category))
            elements.append(el)
    numbers = [e.number for e in elements]
    if numbers != list(range(1, len(elements) + 1)):
        raise ValueError("%s: atomic numbers must run 1..N in order" % path)
    return elements


def is_f_block(el):
    return el.category in ("лантаноид", "актиноид")


def display_mass(mass):
    # Russian typography uses a decimal comma.
    return mass.replace(".", ",")


def styles_xml():
    out = []
    a = out.append
    a('<style:page-layout style:name="pm1">'
      '<style:page-layout-properties fo:page-width="297mm" '
      'fo:page-height="210mm" style:print-orientation="landscape" '
      'fo:margin-top="%.1fmm" fo:margin-bottom="%.1fmm" '
      'fo:margin-left="%.1fmm" fo:margin-right="%.1fmm"/>'
      '</style:page-layout>' % (MARGIN, MARGIN, MARGIN, MARGIN))

    total = PERIOD_COL + 18 * ELEM_COL
    a('<style:style style:name="Tbl" style:family="table">'
      '<style:table-properties style:width="%.2fmm" table:align="center" '
      'fo:margin-top="0mm" fo:margin-bottom="0mm"/></style:style>' % total)
    a('<style:style style:name="ColP" style:family="table-column">'
      '<style:table-column-properties style:column-width="%.2fmm"/>'
      '</style:style>' % PERIOD_COL)
    a('<style:style style:name="ColE" style:family="table-column">'
      '<style:table-column-properties style:column-width="%.2fmm"/>'
      '</style:style>' % ELEM_COL)
    for name, h in (("RowHead", HEAD_H), ("RowElem", ROW_H),
                    ("RowGap", GAP_H)):
        a('<style:style style:name="%s" style:family="table-row">'
          '<style:table-row-properties style:row-height="%.2fmm" '
          'fo:keep-together="always"/></style:style>' % (name, h))

    cell = ('<style:style style:name="%s" style:family="table-cell">'
            '<style:table-cell-properties fo:padding="0.3mm" '
            'style:vertical-align="%s" fo:background-color="%s" '
            'fo:border="%s"/></style:style>')
    border = "0.4pt solid #4d4d4d"
    a(cell % ("CEmpty", "middle", "transparent", "none"))
    a(cell % ("CHead", "middle", "transparent", "none"))
    a(cell % ("CNote", "top", "transparent", "none"))
    for i, (_, colour) in enumerate(CATEGORIES):
        a(cell % ("CCat%d" % i, "middle", colour, border))

    para = ('<style:style style:name="%s" style:family="paragraph" '
            'style:parent-style-name="Standard">'
            '<style:paragraph-properties fo:text-align="%s" '
            'fo:margin-top="%s" fo:margin-bottom="%s" '
            'fo:line-height="100%%"%s/>'
            '<style:text-properties fo:font-size="%spt"%s/></style:style>')
    bold = ' fo:font-weight="bold"'
    a(para % ("PTitle", "center", "0mm", "1.8mm", "", "15", bold))
    a(para % ("PNum", "center", "0mm", "0.2mm", "", "6.5", ""))
    a(para % ("PSym", "center", "0mm", "0.3mm", "", "12", bold))
    a(para % ("PName", "center", "0mm", "0.1mm", "", "6", ""))
    a(para % ("PMass", "center", "0mm", "0mm", "", "6", ""))
    # Squeezing long names sideways rather than setting them smaller keeps
    # the same line height in every cell.
    for length, scale in NAME_SCALE:
        a(para % ("PName%d" % length, "center", "0mm", "0.1mm", "", "6",
                  ' style:text-scale="%s"' % scale))
    a(para % ("PHead", "center", "0mm", "0mm", "", "7", bold))
    a(para % ("PPeriod", "center", "0mm", "0mm", "", "9", bold))
    a(para % ("PSeries", "end", "0mm", "0mm", "", "8", bold))
    a(para % ("PNote", "start", "0mm", "0.6mm", "", "6.5", ""))
    a(para % ("PLegendHead", "start", "0mm", "0.8mm", "", "7.5", bold))
    # Legend lines: the second entry of each line sits on a tab stop.
    a('<style:style style:name="PLegend" style:family="paragraph" '
      'style:parent-style-name="Standard">'
      '<style:paragraph-properties fo:text-align="start" '
      'fo:margin-top="0mm" fo:margin-bottom="0.9mm" fo:line-height="100%">'
      '<style:tab-stops><style:tab-stop style:position="62mm"/>'
      '</style:tab-stops>'
      '</style:paragraph-properties>'
      '<style:text-properties fo:font-size="7.5pt"/></style:style>')
    for i, (_, colour) in enumerate(CATEGORIES):
        a('<style:style style:name="TSw%d" style:family="text">'
          '<style:text-properties fo:font-size="10pt" '
          'fo:background-color="%s"/></style:style>'
          % (i, colour))
    return "".join(out)


def p(style, text):
    return '<text:p text:style-name="%s">%s</text:p>' % (style, text)


def name_style(name):
    for length, _ in NAME_SCALE:
        if len(name) >= length:
            return "PName%d" % length
    return "PName"


def element_cell(el):
    idx = [c for c, _ in CATEGORIES].index(el.category)
    return ('<table:table-cell table:style-name="CCat%d" '
            'office:value-type="string">%s%s%s%s</table:table-cell>'
            % (idx, p("PNum", str(el.number)), p("PSym", escape(el.symbol)),
               p(name_style(el.name), escape(el.name)),
               p("PMass", escape(display_mass(el.mass)))))


def empty_cell():
    return ('<table:table-cell table:style-name="CEmpty">'
            '<text:p text:style-name="PNote"/></table:table-cell>')


def spanned_cell(style, cols, rows, body):
    attrs = ' table:number-columns-spanned="%d"' % cols
    if rows > 1:
        attrs += ' table:number-rows-spanned="%d"' % rows
    cell = ('<table:table-cell table:style-name="%s"%s '
            'office:value-type="string">%s</table:table-cell>'
            % (style, attrs, body))
    return cell + "<table:covered-table-cell/>" * (cols - 1)


def covered(n):
    return "<table:covered-table-cell/>" * n


def series_cell(first, last, style_idx):
    return ('<table:table-cell table:style-name="CCat%d" '
            'office:value-type="string">%s%s%s</table:table-cell>'
            % (style_idx, p("PNum", "%d–%d" % (first.number, last.number)),
               p("PSym", "%s–%s" % (first.symbol, last.symbol)),
               p("PName", escape(first.category.capitalize() + "ы"))))


def legend_body():
    names = [c for c, _ in CATEGORIES]
    parts = [p("PLegendHead", "Обозначения")]

    def entry(i):
        # One wide space carries the colour: a run of spaces shows seams
        # between the glyphs in some renderers.
        return ('<text:span text:style-name="TSw%d">\u2003</text:span>'
                '\u00a0%s' % (i, escape(names[i])))
    # Metals in the left column, the rest on the right.
    half = (len(names) + 1) // 2
    for row in range(half):
        line = entry(row)
        if row + half < len(names):
            line += "<text:tab/>" + entry(row + half)
        parts.append(p("PLegend", line))
    return "".join(parts)


def note_body():
    return (p("PLegendHead", "Как читать клетку") +
            p("PNote", "Сверху вниз: порядковый (атомный) номер, символ, "
                       "название, относительная атомная масса.") +
            p("PNote", "В квадратных скобках — массовое число наиболее "
                       "устойчивого изотопа элемента, не имеющего "
                       "стабильных изотопов."))


def build_table(elements):
    grid = {}
    lanth, actin = [], []
    for el in elements:
        if el.category == "лантаноид":
            lanth.append(el)
        elif el.category == "актиноид":
            actin.append(el)
        else:
            grid[(el.period, el.group)] = el

    out = ['<table:table table:name="Periodic" table:style-name="Tbl">',
           '<table:table-column table:style-name="ColP"/>',
           '<table:table-column table:style-name="ColE" '
           'table:number-columns-repeated="18"/>']
    a = out.append

    # Group numbers.
    a('<table:table-row table:style-name="RowHead">')
    a('<table:table-cell table:style-name="CHead"><text:p '
      'text:style-name="PHead"/></table:table-cell>')
    for g in range(1, 19):
        a('<table:table-cell table:style-name="CHead" '
          'office:value-type="string">%s</table:table-cell>'
          % p("PHead", str(g)))
    a('</table:table-row>')

    lanth_idx = [c for c, _ in CATEGORIES].index("лантаноид")
    actin_idx = [c for c, _ in CATEGORIES].index("актиноид")
    for period in range(1, 8):
        a('<table:table-row table:style-name="RowElem">')
        a('<table:table-cell table:style-name="CHead" '
          'office:value-type="string">%s</table:table-cell>'
          % p("PPeriod", str(period)))
        g = 1
        while g <= 18:
            el = grid.get((period, g))
            if el is not None:
                a(element_cell(el))
            elif period == 1 and g == 3:
                a(spanned_cell("CNote", 10, 1, note_body()))
                g += 10
                continue
            elif period == 2 and g == 3:
                a(spanned_cell("CNote", 10, 2, legend_body()))
                g += 10
                continue
            elif period == 3 and 3 <= g <= 12:
                # Covered by the legend cell above.
                a(covered(10))
                g += 10
                continue
            elif period == 6 and g == 3:
                a(series_cell(lanth[0], lanth[-1], lanth_idx))
            elif period == 7 and g == 3:
                a(series_cell(actin[0], actin[-1], actin_idx))
            else:
                a(empty_cell())
            g += 1
        a('</table:table-row>')

    a('<table:table-row table:style-name="RowGap">')
    a(empty_cell() * 19)
    a('</table:table-row>')

    # The f-block rows sit under groups 4..18, with the series name
    # taking the free space on the left.
    for label, series in (("Лантаноиды", lanth), ("Актиноиды", actin)):
        a('<table:table-row table:style-name="RowElem">')
        a(spanned_cell("CHead", 4, 1, p("PSeries", label + "\u00a0\u00a0")))
        for el in series:
            a(element_cell(el))
        a('</table:table-row>')

    a('</table:table>')
    return "".join(out)


def build_fodt(elements):
    ns = {
        "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
        "style": "urn:oasis:names:tc:opendocument:xmlns:style:1.0",
        "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
        "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
        "fo": "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
        "svg": "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0",
        "meta": "urn:oasis:names:tc:opendocument:xmlns:meta:1.0",
        "dc": "http://purl.org/dc/elements/1.1/",
    }
    decl = " ".join('xmlns:%s="%s"' % kv for kv in sorted(ns.items()))
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<office:document %s office:version="1.3" '
        'office:mimetype="application/vnd.oasis.opendocument.text">'
        '<office:meta><dc:title>%s</dc:title><dc:language>ru-RU'
        '</dc:language></office:meta>'
        '<office:font-face-decls><style:font-face style:name="%s" '
        'svg:font-family="\'%s\'" style:font-family-generic="swiss" '
        'style:font-pitch="variable"/></office:font-face-decls>'
        '<office:styles>'
        '<style:default-style style:family="paragraph">'
        '<style:text-properties style:font-name="%s" fo:font-size="7pt" '
        'fo:language="ru" fo:country="RU" fo:hyphenate="false"/>'
        '</style:default-style>'
        '<style:style style:name="Standard" style:family="paragraph" '
        'style:class="text"><style:paragraph-properties fo:margin-top="0mm" '
        'fo:margin-bottom="0mm" fo:orphans="0" fo:widows="0"/>'
        '<style:text-properties style:font-name="%s" fo:color="#000000"/>'
        '</style:style>'
        '</office:styles>'
        '<office:automatic-styles>%s</office:automatic-styles>'
        '<office:master-styles><style:master-page style:name="Standard" '
        'style:page-layout-name="pm1"/></office:master-styles>'
        '<office:body><office:text>%s%s</office:text></office:body>'
        '</office:document>\n'
        % (decl, escape(TITLE), FONT, FONT, FONT, FONT, styles_xml(),
           p("PTitle", escape(TITLE)), build_table(elements)))


def convert(fodt_path, out_path, soffice):
    work = os.path.dirname(fodt_path)
    profile = os.path.join(work, "profile")
    outdir = os.path.join(work, "out")
    os.mkdir(outdir)
    cmd = [soffice, "--headless", "--norestore",
           "-env:UserInstallation=file://" + profile,
           "--convert-to", "doc:MS Word 97", "--outdir", outdir, fodt_path]
    # No lock files: one left beside the chart makes LibreOffice report it
    # as in use.
    env = dict(os.environ, SAL_ENABLE_FILE_LOCKING="0")
    res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         timeout=300, env=env)
    produced = os.path.join(
        outdir, os.path.splitext(os.path.basename(fodt_path))[0] + ".doc")
    if res.returncode != 0 or not os.path.isfile(produced):
        sys.stderr.write(res.stdout.decode(errors="replace"))
        sys.stderr.write(res.stderr.decode(errors="replace"))
        raise RuntimeError("soffice did not produce %s" % produced)
    with open(produced, "rb") as f:
        if f.read(8) != bytes.fromhex("d0cf11e0a1b11ae1"):
            raise RuntimeError("soffice output is not an OLE2 .doc file")
    # Replace atomically so a reader never sees a half-written file.
    tmp_out = out_path + ".tmp"
    shutil.copyfile(produced, tmp_out)
    os.replace(tmp_out, out_path)
    # A lock left by opening the old chart in LibreOffice no longer applies.
    lock = os.path.join(os.path.dirname(out_path),
                        ".~lock." + os.path.basename(out_path) + "#")
    if os.path.exists(lock):
        os.remove(lock)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--data", default=os.path.join(HERE, "elements.tsv"))
    ap.add_argument("--out", default=os.path.join(HERE, "p1.doc"))
    ap.add_argument("--soffice", default=shutil.which("soffice") or "soffice")
    ap.add_argument("--keep-fodt", metavar="FILE",
                    help="also save the intermediate Flat ODT here")
    args = ap.parse_args(argv)

    elements = load_elements(args.data)
    fodt = build_fodt(elements)
    work = tempfile.mkdtemp(prefix="quorvel-chart-")
    try:
        fodt_path = os.path.join(work, "p1.fodt")
        with open(fodt_path, "w", encoding="utf-8") as f:
            f.write(fodt)
        if args.keep_fodt:
            shutil.copyfile(fodt_path, args.keep_fodt)
        convert(fodt_path, os.path.abspath(args.out), args.soffice)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("wrote %s (%d bytes)" % (args.out, os.path.getsize(args.out)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
