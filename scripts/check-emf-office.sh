#!/bin/bash
# Manual check (not in CI): does an office suite lay out a metafile's text
# as our PNG does, fill the background without an outline, and show every
# pixel as the PNG does (transparent bitmaps over what lies behind)?
#
#   scripts/check-emf-office.sh [GIF [TEXT_TOP TEXT_BOTTOM]]
#
# Writes GIF's EMF and PNG with build/default/bin/gifimport, converts the
# EMF with LibreOffice (soffice --headless, to PDF, then pdftoppm at 4x),
# and prints the text's ink extent in picture pixels in both, between rows
# TEXT_TOP and TEXT_BOTTOM (default 44 64: the text of examples/plaintext.gif,
# below its bitmap), the colours along the picture's right and bottom
# edges, and how many pixels differ. Needs libreoffice-draw, poppler-utils
# and python3. The pictures are left in OUT (default /tmp/check-emf-office)
# to look at.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
gif=${1:-$here/examples/plaintext.gif}
top=${2:-44}
bottom=${3:-64}
host=${GIFIMPORT:-$here/build/default/bin/gifimport}
out=${OUT:-/tmp/check-emf-office}
scale=4
mkdir -p "$out"
"$host" metafile "$gif" -o "$out/picture.emf" >/dev/null
"$host" import "$gif" -o "$out/picture.png" --background -q
soffice --headless "-env:UserInstallation=file://$out/profile" --convert-to pdf --outdir "$out" \
  "$out/picture.emf" >/dev/null 2>&1

python3 - "$out" "$scale" "$top" "$bottom" <<'EOF'
import struct, subprocess, sys, zlib

def read_png(path):
    data = open(path, 'rb').read()
    at, idat, plte, trns = 8, b'', b'', b''
    while at < len(data):
        size, = struct.unpack('>I', data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + size]
        if kind == b'IHDR': width, height, depth, ctype = struct.unpack('>IIBB', body[:10])
        if kind == b'PLTE': plte = body
        if kind == b'tRNS': trns = body
        if kind == b'IDAT': idat += body
        at += 12 + size
    raw, bpp = zlib.decompress(idat), {3: 1, 6: 4}[ctype]
    assert depth == 8 or ctype == 3
    per = 8 // depth if ctype == 3 else 1
    stride = (width * (depth if ctype == 3 else 32) + 7) // 8
    pixels, prev, pos = [], bytearray(stride), 0
    for y in range(height):
        f, row = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for x in range(stride):
            a = row[x - bpp] if x >= bpp else 0
            b, c = prev[x], (prev[x - bpp] if x >= bpp else 0)
            if f == 1: row[x] = (row[x] + a) & 255
            elif f == 2: row[x] = (row[x] + b) & 255
            elif f == 3: row[x] = (row[x] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = row
        line = []
        for x in range(width):
            if ctype == 6:
                line.append(tuple(row[x * 4:x * 4 + 3]))
            else:
                k = (row[x // per] >> (8 - depth * (x % per + 1))) & ((1 << depth) - 1)
                line.append(tuple(plte[k * 3:k * 3 + 3]))
        pixels.append(line)
    return pixels

class Ppm:
    def __init__(self, path):
        data = open(path, 'rb').read()
        fields, at = [], 0
        while len(fields) < 4:
            while data[at:at + 1].isspace(): at += 1
            end = at
            while not data[end:end + 1].isspace(): end += 1
            fields.append(data[at:end]); at = end
        self.width, self.height, self.data = int(fields[1]), int(fields[2]), data[at + 1:]
    def __getitem__(self, y):
        return [tuple(self.data[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3]) for x in range(self.width)]

out, scale, top, bottom = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
ours = read_png(out + '/picture.png')
width, height = len(ours[0]), len(ours)
# The picture on the office page (A4 at 96 dpi): all that is not the white page.
subprocess.run(['pdftoppm', '-r', '96', '-singlefile', out + '/picture.pdf', out + '/page'], check=True)
page = Ppm(out + '/page.ppm')
rows = [y for y in range(page.height) if page.data[y * page.width * 3:(y + 1) * page.width * 3].strip(b'\xff')]
columns = [x for x in range(page.width) if any(page.data[(y * page.width + x) * 3:(y * page.width + x) * 3 + 3]
                                               != b'\xff\xff\xff' for y in rows)]
x0, y0, x1, y1 = columns[0], rows[0], columns[-1] + 1, rows[-1] + 1
print(f"office picture: {x1 - x0} x {y1 - y0} at 96 dpi (ours {width} x {height})")
# The picture alone, scale times larger.
crop = [str(v * scale) for v in (x0, y0, x1 - x0, y1 - y0)]
for kind in ([], ['-png']):
    subprocess.run(['pdftoppm', '-r', str(96 * scale), '-singlefile', '-x', crop[0], '-y', crop[1], '-W', crop[2],
                    '-H', crop[3]] + kind + [out + '/picture.pdf', out + '/office'], check=True)
office = Ppm(out + '/office.ppm')
page = [office[y] for y in range(office.height)]
x0 = y0 = 0
x1, y1 = office.width, office.height

def ink(pixels, factor, left, up):
    spots = [(x, y) for y in range(top * factor, bottom * factor)
             for x in range(min(width * factor, len(pixels[0]) - left))
             if up + y < len(pixels) and sum(pixels[up + y][left + x]) < 3 * 128]
    if not spots: return None
    return (min(x for x, _ in spots) / factor, max(x + 1 for x, _ in spots) / factor,
            min(y for _, y in spots) / factor, max(y + 1 for _, y in spots) / factor)

a, b = ink(ours, 1, 0, 0), ink(page, scale, x0, y0)
for name, box in (("ours (PNG)", a), ("office (EMF)", b)):
    print(f"{name:13} text ink x {box[0]:g} .. {box[1]:g} (width {box[1] - box[0]:g}), "
          f"y {box[2]:g} .. {box[3]:g}" if box else f"{name}: no text ink")
if a and b:
    print(f"office width / ours: {(b[1] - b[0]) / (a[1] - a[0]):.2f}")
# An outline would leave a dark line along the right and bottom edges.
background = page[y1 - 2 * scale][x0 + 2 * scale]
edges = [page[y][x] for y in range(y0 + (y1 - y0) * 3 // 4, y1) for x in range(x1 - 2 * scale, x1)]
edges += [page[y][x] for y in range(y1 - 2 * scale, y1) for x in range(x0, x1)]
dark = sum(1 for p in edges if sum(p) < 3 * 128)
print(f"background {background}; dark pixels along the right and bottom edges: {dark} of {len(edges)}")
# Each picture pixel at its centre: what lies behind a see-through pixel
# shows, colours within a few levels (the PDF's colour conversion).
# The crop was taken at 96 dpi: the picture may start a few pixels in.
white = (255, 255, 255)
top = next(y for y in range(len(page)) if any(p != white for p in page[y]))
left = min(next((x for x, p in enumerate(row) if p != white), len(row)) for row in page)
at = lambda x, y: page[top + y * scale + scale // 2][left + x * scale + scale // 2]
off = [(x, y) for y in range(min(height, (len(page) - top) // scale))
       for x in range(min(width, (len(page[0]) - left) // scale))
       if max(abs(a - b) for a, b in zip(ours[y][x], at(x, y))) > 8]
print(f"pixels off by more than 8 levels: {len(off)} of {width * height}" + (f", first at {off[0]}" if off else ""))
EOF
echo "pictures: $out/picture.png (ours), $out/office.png (LibreOffice, ${scale}x)"
