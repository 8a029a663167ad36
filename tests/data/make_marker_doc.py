#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Write a Word 97-2003 test document of N pages; page k carries the marker
"QMARK-PAGE-kk" so a test can read back which pages a job held.

Usage: make_marker_doc.py PAGES OUT.doc
"""
import os
import shutil
import subprocess
import sys
import tempfile

HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles>
 <style:style style:name="Break" style:family="paragraph">
  <style:paragraph-properties fo:break-before="page"/>
  <style:text-properties style:font-name="DejaVu Sans" fo:font-size="28pt"/>
 </style:style>
 <style:style style:name="First" style:family="paragraph">
  <style:text-properties style:font-name="DejaVu Sans" fo:font-size="28pt"/>
 </style:style>
</office:automatic-styles>
<office:body><office:text>
"""
TAIL = "</office:text></office:body></office:document>\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    pages, out = int(sys.argv[1]), os.path.abspath(sys.argv[2])
    body = "".join(
        f'<text:p text:style-name="{"First" if k == 1 else "Break"}">'
        f"QMARK-PAGE-{k:02d} Страница {k}</text:p>\n"
        for k in range(1, pages + 1))
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, os.path.splitext(os.path.basename(out))[0] + ".fodt")
        with open(src, "w", encoding="utf-8") as f:
            f.write(HEAD + body + TAIL)
        subprocess.run(["soffice", f"-env:UserInstallation=file://{tmp}/profile", "--headless",
                        "--convert-to", "doc:MS Word 97", "--outdir", tmp, src],
                       check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, SAL_ENABLE_FILE_LOCKING="0"))
        shutil.move(src[:-5] + ".doc", out)


if __name__ == "__main__":
    main()
