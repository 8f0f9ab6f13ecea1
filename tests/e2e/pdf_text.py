"""Reads the text of a PDF printed through Wine's PostScript driver.

The driver downloads the glyphs of a TrueType font under names made of their
glyph numbers ("g0042") and writes no character codes for them, so the PDF that
Ghostscript makes from it carries its fonts' glyphs but no text: `pdftotext`
finds only meaningless codes. The glyph numbers still name each glyph of the
font the printer drew with, and the font's own character map turns them back
into characters. `readable_copy` writes a copy of the PDF with that map added
(a ToUnicode map for each such font, as an incremental update: the original
bytes stay as they are), from which `pdftotext` reads the page's text.

As a command:
  python3 pdf_text.py RECEIPT.pdf [COPY.pdf]   writes the readable copy
                                               (RECEIPT-text.pdf by default)
  python3 pdf_text.py --text RECEIPT.pdf       prints the page's text
                                               (`pdftotext -layout` of the copy)
"""
import argparse
import html
import pathlib
import re
import struct
import subprocess
import sys
import tempfile

FONT_DIRS = [pathlib.Path("/usr/share/fonts"), pathlib.Path("/usr/local/share/fonts")]
GLYPH_NAME = re.compile(rb"/g([0-9a-f]{4})")


def _tables(data):
    count = struct.unpack(">H", data[4:6])[0]
    tables = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        tables[tag] = (offset, length)
    return tables


def _postscript_name(data):
    offset, _ = _tables(data).get(b"name", (None, 0))
    if offset is None:
        return None
    count, strings = struct.unpack(">HH", data[offset + 2:offset + 6])
    for i in range(count):
        platform, encoding, _, name_id, length, at = struct.unpack(
            ">HHHHHH", data[offset + 6 + 12 * i:offset + 18 + 12 * i])
        if name_id != 6:
            continue
        raw = data[offset + strings + at:offset + strings + at + length]
        return raw.decode("utf-16-be" if platform in (0, 3) else "latin-1", "replace")
    return None


def font_file(postscript_name):
    """The TrueType or OpenType file on this machine whose PostScript name is given."""
    for folder in FONT_DIRS:
        for path in sorted(folder.rglob("*")):
            if path.suffix.lower() not in (".ttf", ".otf"):
                continue
            data = path.read_bytes()
            try:
                if _postscript_name(data) == postscript_name:
                    return path
            except struct.error:
                continue
    return None


def glyph_characters(path):
    """{glyph number: character} from the font's Unicode character map; where
    several characters share a glyph, the first printable one."""
    data = pathlib.Path(path).read_bytes()
    cmap, _ = _tables(data)[b"cmap"]
    count = struct.unpack(">H", data[cmap + 2:cmap + 4])[0]
    chars = {}
    for i in range(count):
        platform, encoding, offset = struct.unpack(">HHI", data[cmap + 4 + 8 * i:cmap + 12 + 8 * i])
        at = cmap + offset
        kind = struct.unpack(">H", data[at:at + 2])[0]
        if (platform, encoding, kind) in ((3, 1, 4), (0, 3, 4)):
            segments = struct.unpack(">H", data[at + 6:at + 8])[0] // 2

            def array(start, fmt="H"):
                return struct.unpack(f">{segments}{fmt}", data[start:start + 2 * segments])
            ends, starts = array(at + 14), array(at + 16 + 2 * segments)
            deltas, ranges = array(at + 16 + 4 * segments, "h"), array(at + 16 + 6 * segments)
            ranges_at = at + 16 + 6 * segments
            for s in range(segments):
                for code in range(starts[s], ends[s] + 1):
                    if code == 0xFFFF:
                        continue
                    if ranges[s] == 0:
                        glyph = (code + deltas[s]) & 0xFFFF
                    else:
                        p = ranges_at + 2 * s + ranges[s] + 2 * (code - starts[s])
                        glyph = struct.unpack(">H", data[p:p + 2])[0]
                        glyph = (glyph + deltas[s]) & 0xFFFF if glyph else 0
                    chars.setdefault(glyph, []).append(code)
        elif (platform, encoding, kind) in ((3, 10, 12), (0, 4, 12)):
            groups = struct.unpack(">I", data[at + 12:at + 16])[0]
            for g in range(groups):
                first, last, glyph = struct.unpack(">III", data[at + 16 + 12 * g:at + 28 + 12 * g])
                for code in range(first, last + 1):
                    chars.setdefault(glyph + code - first, []).append(code)
    chars.pop(0, None)
    return {glyph: chr(next((c for c in sorted(set(codes)) if c >= 0x20), 0x20)) for glyph, codes in chars.items()}


def _object(pdf, number):
    match = re.search(rb"(?:^|[\r\n])%d 0 obj\s*(.*?)\s*endobj" % number, pdf, re.S)
    return match.group(1) if match else b""


def _differences(encoding):
    """{code: glyph number} of an encoding's Differences array of g-names."""
    match = re.search(rb"/Differences\s*\[(.*?)\]", encoding, re.S)
    codes, code = {}, 0
    for token in re.findall(rb"\d+|/[^\s/\[\]]+", match.group(1) if match else b""):
        if token.startswith(b"/"):
            name = GLYPH_NAME.fullmatch(token)
            if name:
                codes[code] = int(name.group(1), 16)
            code += 1
        else:
            code = int(token)
    return codes


def _to_unicode(codes):
    entries = b"".join(b"<%02X> <%s>\n" % (code, char.encode("utf-16-be").hex().upper().encode())
                       for code, char in sorted(codes.items()))
    return (b"/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            b"/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
            b"/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
            b"1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
            + b"%d beginbfchar\n" % len(codes) + entries + b"endbfchar\nendcmap\n"
            b"CMapName currentdict /CMap defineresource pop\nend\nend\n")


def readable_copy(source, target):
    """Writes `source` to `target` with a character map for each font that has
    only g-named glyphs and none of its own. Returns {font name: (font file,
    glyph numbers the font file does not map)}."""
    pdf = pathlib.Path(source).read_bytes()
    size = int(re.findall(rb"/Size\s+(\d+)", pdf)[-1])
    root = re.findall(rb"/Root\s+(\d+ \d+ R)", pdf)[-1]
    previous = int(re.findall(rb"startxref\s+(\d+)", pdf)[-1])
    out = bytearray(pdf if pdf.endswith(b"\n") else pdf + b"\n")
    offsets, mapped = {}, {}
    for match in re.finditer(rb"(?:^|[\r\n])(\d+) 0 obj\s*<<(.*?)>>\s*endobj", pdf, re.S):
        number, font = int(match.group(1)), match.group(2)
        base = re.search(rb"/BaseFont\s*/(?:[A-Z]{6}\+)?([^\s/<>\[\]]+)", font)
        if b"/Type/Font" not in font.replace(b" ", b"") or not base or b"/ToUnicode" in font:
            continue
        reference = re.search(rb"/Encoding\s+(\d+) 0 R", font)
        codes = _differences(_object(pdf, int(reference.group(1))) if reference else font)
        if not codes:
            continue
        name = base.group(1).decode()
        path = font_file(name)
        chars = glyph_characters(path) if path else {}
        mapped[name] = (path, sorted({glyph for glyph in codes.values() if glyph not in chars}))
        cmap = _to_unicode({code: chars[glyph] for code, glyph in codes.items() if glyph in chars})
        offsets[size] = len(out)
        out += b"%d 0 obj\n<</Length %d>>stream\n" % (size, len(cmap)) + cmap + b"endstream\nendobj\n"
        offsets[number] = len(out)
        out += b"%d 0 obj\n<<" % number + font + b"/ToUnicode %d 0 R>>\nendobj\n" % size
        size += 1
    xref = len(out)
    out += b"xref\n0 1\n0000000000 65535 f \n"
    for number, offset in sorted(offsets.items()):
        out += b"%d 1\n%010d 00000 n \n" % (number, offset)
    out += b"trailer\n<</Size %d/Root %s/Prev %d>>\nstartxref\n%d\n%%%%EOF\n" % (size, root, previous, xref)
    pathlib.Path(target).write_bytes(bytes(out))
    return mapped


def layout_text(pdf):
    """What `pdftotext -layout` reads from the PDF."""
    return subprocess.run(["pdftotext", "-layout", str(pdf), "-"], capture_output=True, check=True,
                          timeout=30).stdout.decode("utf-8")


def line_tops(pdf):
    """The distinct tops of the page's words (points from the page's top), in order."""
    page = subprocess.run(["pdftotext", "-bbox", str(pdf), "-"], capture_output=True, check=True,
                          timeout=30).stdout.decode("utf-8")
    tops = sorted({round(float(y), 1) for y in re.findall(r'<word [^>]*yMin="([\d.]+)"', page)})
    merged = []
    for top in tops:
        if not merged or top - merged[-1] > 1.0:
            merged.append(top)
    return merged


def line_lefts(pdf):
    """Where each line of the page starts, in order: the left edge of its first
    word (points from the page's left), and the advance of a half-width glyph
    (the width of the page's first word of ASCII characters, over its length)."""
    page = subprocess.run(["pdftotext", "-bbox", str(pdf), "-"], capture_output=True, check=True,
                          timeout=30).stdout.decode("utf-8")
    words = [(float(y), float(x0), float(x1), html.unescape(text)) for x0, y, x1, text in re.findall(
        r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">(.*?)</word>', page)]
    lines = {}
    for top, left, _, _ in words:
        key = next((k for k in lines if abs(k - top) <= 1.0), top)
        lines[key] = min(lines.get(key, left), left)
    advance = next(((x1 - x0) / len(text) for _, x0, x1, text in words if text.isascii() and text), None)
    return [lines[k] for k in sorted(lines)], advance


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="pdf_text.py",
        description="Makes the text of a PDF printed through Wine's PostScript driver readable.")
    parser.add_argument("--text", action="store_true", help="print the page's text instead of writing a copy")
    parser.add_argument("pdf", type=pathlib.Path, help="the printed PDF")
    parser.add_argument("copy", type=pathlib.Path, nargs="?",
                        help="where the readable copy goes (default: PDF's name with -text)")
    args = parser.parse_args(argv)
    if args.text and args.copy:
        parser.error("--text writes no copy")
    with tempfile.TemporaryDirectory() as work:
        copy = args.copy or (pathlib.Path(work) / "text.pdf" if args.text
                             else args.pdf.with_name(args.pdf.stem + "-text.pdf"))
        try:
            fonts = readable_copy(args.pdf, copy)
        except (OSError, IndexError, ValueError) as error:
            print(f"pdf_text.py: {args.pdf}: cannot read it as a PDF ({error})", file=sys.stderr)
            return 1
        if not fonts:
            print(f"pdf_text.py: {args.pdf} has no font of numbered glyphs: the copy is the PDF as it was",
                  file=sys.stderr)
        for font, (path, unmapped) in fonts.items():
            if path is None:
                print(f"pdf_text.py: no font file of {font} on this machine: its glyphs stay unread", file=sys.stderr)
            elif unmapped:
                print(f"pdf_text.py: {len(unmapped)} glyphs of {font} have no character", file=sys.stderr)
        if args.text:
            sys.stdout.write(layout_text(copy))
        else:
            print(copy)
    return 0


if __name__ == "__main__":
    sys.exit(main())
