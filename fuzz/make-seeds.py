#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: one small valid file of every form
the readers accept (fuzz/corpus/bmp, fuzz/corpus/jpeg, fuzz/corpus/png,
fuzz/corpus/webp, fuzz/corpus/tiff), and
the metadata blocks of a photograph (fuzz/corpus/metadata). The JPEG seeds
are made with cjpeg from the libjpeg tools, their tags written with exiftool;
the PNG seeds are laid out here with zlib; the TIFF seeds are laid out here
and copied with tiffcp into each compression; the WebP seeds are made from PNG
seeds with cwebp, webpmux and img2webp. `make-seeds.py tiff` writes
only the TIFF seeds. Run it again only to change the
seeds; the files it writes are committed."""

import math
import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def pattern(width, height, bits):
    """Rows of a small gradient, as stored (bottom-up order decided later)."""
    rows = []
    for y in range(height):
        row = bytearray()
        if bits >= 8:
            for x in range(width):
                v = (x * 37 + y * 91) & 0xFF
                row += bytes([v, (v * 3) & 0xFF, (255 - v)] * (bits // 8))[: bits // 8]
        else:
            per_byte = 8 // bits
            for x in range(0, width, per_byte):
                b = 0
                for k in range(per_byte):
                    b = (b << bits) | (((x + k) + y) % (1 << bits))
                row.append(b)
        row += bytes(stride(width, bits) - len(row))
        rows.append(bytes(row))
    return rows


def bmp(width, height, bits, header=40, compression=0, masks=None, colours=None,
        pixels=None, gap=b""):
    core = header == 12
    entry = 3 if core else 4
    n = colours if colours is not None else (1 << bits if bits <= 8 else 0)
    table = b"".join(bytes([(i * 40) & 0xFF, (i * 90) & 0xFF, (i * 170) & 0xFF, 0])[:entry]
                     for i in range(n))
    if pixels is None:
        pixels = b"".join(pattern(width, abs(height), bits))
    mask_bytes = struct.pack("<III", *masks) if masks and header == 40 else b""
    offset = 14 + header + len(mask_bytes) + len(table) + len(gap)
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression,
                           len(pixels), 2835, 2835, n if bits <= 8 else 0, 0)
        extra = b""
        if header >= 52 and masks:
            extra = struct.pack("<III", *masks)
        info += (extra + bytes(header))[: header - 40]
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + mask_bytes + table + gap + pixels


def rle8():
    return bytes([3, 1, 0, 3, 2, 3, 4, 0, 0, 0,   # run, literal, end of line
                  0, 2, 1, 1, 5, 6, 0, 0,          # jump, run, end of line
                  2, 7, 0, 1])                     # run, end of picture


def rle4():
    return bytes([5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 2, 0, 4, 0x77, 0, 1])


def write_bmp_seeds(folder):
    seeds = {
        "pal1.bmp": bmp(13, 5, 1),
        "pal4.bmp": bmp(7, 5, 4),
        "pal8.bmp": bmp(7, 5, 8),
        "pal8-short-table.bmp": bmp(7, 5, 8, colours=20),
        "pal8-top-down.bmp": bmp(7, -5, 8),
        "pal8-gap.bmp": bmp(7, 5, 8, gap=b"\0" * 10),
        "core1.bmp": bmp(9, 4, 1, header=12),
        "core4.bmp": bmp(7, 4, 4, header=12),
        "core8.bmp": bmp(7, 4, 8, header=12),
        "core24.bmp": bmp(7, 4, 24, header=12),
        "rgb16.bmp": bmp(7, 5, 16),
        "rgb16-565.bmp": bmp(7, 5, 16, compression=3, masks=(0xF800, 0x07E0, 0x001F)),
        "rgb16-555-masks.bmp": bmp(7, 5, 16, compression=3, masks=(0x7C00, 0x03E0, 0x001F)),
        "rgb24.bmp": bmp(7, 5, 24),
        "rgb24-top-down.bmp": bmp(7, -5, 24),
        "rgb32.bmp": bmp(7, 5, 32),
        "rgb32-masks.bmp": bmp(7, 5, 32, compression=3, masks=(0xFF, 0xFF00, 0xFF0000)),
        "rgb32-v2-header.bmp": bmp(7, 5, 32, header=52, compression=3,
                                   masks=(0xFF0000, 0xFF00, 0xFF)),
        "rgb16-v5-header.bmp": bmp(7, 5, 16, header=124, compression=3,
                                   masks=(0xF800, 0x07E0, 0x001F)),
        "pal8-v4-header.bmp": bmp(7, 5, 8, header=108),
        "rle8.bmp": bmp(7, 3, 8, compression=1, colours=8, pixels=rle8()),
        "rle4.bmp": bmp(7, 3, 4, compression=2, colours=16, pixels=rle4()),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def write_jpeg_seeds(folder):
    width, height = 19, 13
    rgb = bytearray()
    for y in range(height):
        for x in range(width):
            rgb += bytes([x * 13 & 0xFF, y * 19 & 0xFF, int(128 + 100 * math.sin(x + y)) & 0xFF])
    gray = bytes(rgb[0::3])
    variants = {
        "baseline.jpg": ["-quality", "85", "-baseline"],
        "gray.jpg": ["-grayscale"],
        "progressive.jpg": ["-progressive"],
        "sample-444.jpg": ["-sample", "1x1"],
        "sample-422.jpg": ["-sample", "2x1"],
        "restart.jpg": ["-restart", "1B"],
        "optimized.jpg": ["-optimize"],
        "arithmetic.jpg": ["-arithmetic"],
        "rgb.jpg": ["-rgb"],
        "quality-10.jpg": ["-quality", "10"],
    }
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        pgm = os.path.join(tmp, "in.pgm")
        with open(ppm, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (width, height) + bytes(rgb))
        with open(pgm, "wb") as f:
            f.write(b"P5 %d %d 255\n" % (width, height) + gray)
        for name, options in variants.items():
            source = pgm if name == "gray.jpg" else ppm
            out = os.path.join(folder, name)
            subprocess.run(["cjpeg", *options, "-outfile", out, source], check=True)


def icc_profile(space, size):
    """A profile header naming its colour space, and one tag of filler."""
    header = struct.pack(">I4sI4s4s4s", size, b"none", 0x02100000, b"mntr", space, b"XYZ ")
    header += bytes(12) + b"acsp" + bytes(128 - 40)
    table = struct.pack(">I4sII", 1, b"zzzz", 144, size - 144)
    return header + table + bytes((i * 7) & 0xFF for i in range(size - 144))


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def ifd(order, at, entries, base=0, following=0):
    """An IFD laid out at offset `at` of its block, the values too long for
    an entry right after its table; offsets count from `base`. Entries are
    (tag, type, count, value bytes), value bytes in `order`."""
    table = struct.pack(order + "H", len(entries))
    values = b""
    after = at + 2 + 12 * len(entries) + 4
    for tag, kind, count, value in sorted(entries):
        if len(value) <= 4:
            table += struct.pack(order + "HHI", tag, kind, count) + value.ljust(4, b"\0")
        else:
            table += struct.pack(order + "HHII", tag, kind, count, after + len(values) - base)
            values += value + b"\0" * (len(value) & 1)
    return table + struct.pack(order + "I", following) + values


def maker_note_exif(order, make, note, preview_at_end=b""):
    """An EXIF block with a maker note: IFD0 (make, orientation 6, copyright
    to be replaced), the EXIF IFD (pixel size, the note), IFD1 with a JPEG
    thumbnail, and bytes a note may point to at the end."""
    def short(v):
        return struct.pack(order + "H", v)

    def long(v):
        return struct.pack(order + "I", v)

    make_value = make.encode() + b"\0"
    ifd0_entries = [(0x010F, 2, len(make_value), make_value), (0x0112, 3, 1, short(6)),
                    (0x8298, 2, 4, b"old\0"), (0x8769, 4, 1, long(0))]
    ifd0_size = len(ifd(order, 8, ifd0_entries))
    exif_at = 8 + ifd0_size
    exif_entries = [(0xA002, 3, 1, short(16)), (0xA003, 4, 1, long(12)),
                    (0x927C, 7, len(note(0)), note(0))]
    exif_size = len(ifd(order, exif_at, exif_entries))
    note_at = exif_at + exif_size - len(note(0)) - (len(note(0)) & 1)
    exif_entries[2] = (0x927C, 7, len(note(note_at)), note(note_at))
    thumbnail = preview_jpeg()
    ifd1_at = exif_at + exif_size
    ifd1_entries = [(0x0103, 3, 1, short(6)), (0x0201, 4, 1, long(0)),
                    (0x0202, 4, 1, long(len(thumbnail)))]
    ifd1_size = len(ifd(order, ifd1_at, ifd1_entries))
    ifd1_entries[1] = (0x0201, 4, 1, long(ifd1_at + ifd1_size))
    ifd0_entries[3] = (0x8769, 4, 1, long(exif_at))
    head = (b"MM\0*" if order == ">" else b"II*\0") + long(8)
    return (head + ifd(order, 8, ifd0_entries, following=ifd1_at) +
            ifd(order, exif_at, exif_entries) + ifd(order, ifd1_at, ifd1_entries) + thumbnail +
            preview_at_end)


def preview_jpeg():
    """A JPEG of 8 x 8 pixels, as a camera's preview would be one."""
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "p.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 8 8 255\n" + bytes((i * 11) & 0xFF for i in range(8 * 8 * 3)))
        return subprocess.run(["cjpeg", ppm], check=True, capture_output=True).stdout


def write_maker_note_seeds(seeds):
    """EXIF blocks whose maker notes hold preview pictures, laid out as the
    cameras lay them out, for the in-place editor and the maker-note walker."""
    jpeg = preview_jpeg()

    def nikon(at):
        # "Nikon\0" 2.10, a TIFF header of its own (big-endian), offsets
        # from that header; tag 0x0011 points to the preview's IFD.
        def main(preview_at):
            return ifd(">", 8, [(0x0001, 7, 4, b"0210"),
                                (0x0011, 4, 1, struct.pack(">I", preview_at))])

        def preview(preview_at, start):
            return ifd(">", preview_at, [(0x0103, 3, 1, struct.pack(">H", 6)),
                                         (0x0201, 4, 1, struct.pack(">I", start)),
                                         (0x0202, 4, 1, struct.pack(">I", len(jpeg)))])

        preview_at = 8 + len(main(0))
        start = preview_at + len(preview(preview_at, 0))
        return (b"Nikon\0\x02\x10\0\0" + b"MM\0*" + struct.pack(">I", 8) + main(preview_at) +
                preview(preview_at, start) + jpeg)

    def olympus(at):
        # "OLYMPUS\0II", offsets from the note's start; a thumbnail as a
        # value, and CameraSettings (0x2020) pointing to an IFD with the
        # preview's start and length.
        settings_at = 12 + 2 + 12 * 2 + 4 + len(jpeg) + (len(jpeg) & 1)
        settings = ifd("<", settings_at, [(0x0100, 4, 1, struct.pack("<I", 1)),
                                          (0x0101, 4, 1, struct.pack("<I", 0)),
                                          (0x0102, 4, 1, struct.pack("<I", len(jpeg)))])
        start = settings_at + len(settings)
        settings = ifd("<", settings_at, [(0x0100, 4, 1, struct.pack("<I", 1)),
                                          (0x0101, 4, 1, struct.pack("<I", start)),
                                          (0x0102, 4, 1, struct.pack("<I", len(jpeg)))])
        main = ifd("<", 12, [(0x0100, 7, len(jpeg), jpeg),
                             (0x2020, 13, 1, struct.pack("<I", settings_at))])
        return b"OLYMPUS\0II\x03\0" + main + settings + jpeg

    def canon(at):
        # A plain IFD; PreviewImageInfo's LONG values hold the preview's
        # length (2), width (3), height (4) and start (5), from the block.
        # Its first value says half its size, as the cameras write it.
        info = struct.pack("<7I", 14, 2, len(jpeg), 8, 8, at + 2 + 12 + 4 + 28, 0)
        return ifd("<", at, [(0x00B6, 4, 7, info)]) + jpeg

    def casio(at):
        # "QVC\0\0\0", big-endian whatever the block; the preview's length
        # (0x0003) and start (0x0004) from the block, and its data (0x2000).
        start = at + 6 + 2 + 12 * 3 + 4 + len(jpeg) + (len(jpeg) & 1)
        return b"QVC\0\0\0" + ifd(">", at + 6, [
            (0x0003, 4, 1, struct.pack(">I", len(jpeg))),
            (0x0004, 4, 1, struct.pack(">I", start)),
            (0x2000, 7, len(jpeg), jpeg)], base=0) + jpeg

    seeds["exif-nikon-preview"] = b"\x15" + maker_note_exif("<", "NIKON CORPORATION", nikon)
    seeds["exif-olympus-big"] = b"\x15" + maker_note_exif(">", "OLYMPUS IMAGING CORP.", olympus)
    seeds["exif-canon-preview"] = b"\x05" + maker_note_exif("<", "Canon", canon)
    seeds["exif-casio-preview"] = b"\x11" + maker_note_exif("<", "CASIO COMPUTER CO.,LTD.", casio)


def write_metadata_seeds(folder):
    """The first byte of each seed chooses the source and the changes, as
    fuzz/metadata_path.h reads it: 0 a JPEG file, 1 an EXIF block, 2 an XMP
    packet; +4 a copyright, +8 keep the thumbnail, +16 reset the orientation."""
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 16 12 255\n" + bytes((i * 5) & 0xFF for i in range(16 * 12 * 3)))
        plain = os.path.join(tmp, "plain.jpg")
        subprocess.run(["cjpeg", "-outfile", plain, ppm], check=True)
        icc = os.path.join(tmp, "profile.icc")
        with open(icc, "wb") as f:
            f.write(icc_profile(b"RGB ", 600))

        def tagged(name, *tags):
            out = os.path.join(tmp, name)
            subprocess.run(["cp", plain, out], check=True)
            subprocess.run(["exiftool", "-q", "-overwrite_original", *tags, out], check=True)
            return out

        common = ["-EXIF:Make=Seed Camera", "-EXIF:Artist=Ann", "-Orientation#=6",
                  "-EXIF:ExifImageWidth=16", "-EXIF:ExifImageHeight=12",
                  "-ThumbnailImage<=" + plain, "-XMP-dc:Creator=Ann",
                  "-XMP-tiff:Orientation#=6", "-XMP-xmp:ThumbnailImage=AAAA",
                  "-XMP-dc:Rights=old", "-IPTC:Keywords=harbour"]
        little = tagged("little.jpg", *common, "-ExifByteOrder=Little-endian",
                        "-ICC_Profile<=" + icc)
        big = tagged("big.jpg", *common, "-ExifByteOrder=Big-endian")

        def read(path):
            with open(path, "rb") as f:
                return f.read()

        def block(path, kind):
            return subprocess.run(["exiftool", "-" + kind, "-b", path], check=True,
                                  capture_output=True).stdout

        # An extended XMP segment spliced in after the start of the file:
        # GUID, full length, offset, data.
        extended = segment(0xE1, b"http://ns.adobe.com/xmp/extension/\0" + b"0" * 32 +
                           struct.pack(">II", 8, 0) + b"<x:x/>..")
        everything = read(little)
        everything = everything[:2] + extended + everything[2:]
        seeds = {
            "jpeg-plain": b"\x00" + read(plain),
            "jpeg-everything": b"\x14" + everything,
            "jpeg-big-endian-kept": b"\x08" + read(big),
            "exif-little": b"\x11" + block(little, "exif"),
            "exif-big-copyright": b"\x05" + block(big, "exif"),
            "xmp": b"\x16" + block(little, "xmp"),
            "xmp-kept": b"\x0a" + block(little, "xmp"),
        }
        write_maker_note_seeds(seeds)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def png(width, height, depth, colour, interlaced=False, extra=(), after=()):
    """A PNG file of samples in a small gradient, every row unfiltered."""
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    top = (1 << min(depth, 8)) - 1
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        if x0 >= width:
            continue
        for y in range(y0, height, dy):
            raw.append(0)
            bits = used = 0
            for x in range(x0, width, dx):
                for c in range(channels):
                    v = (x * 5 + y * 3 + c * 7) % (top + 1)
                    if depth == 16:
                        raw += struct.pack(">H", v * 257 + x)
                    else:
                        bits, used = bits << depth | v, used + depth
                        if used == 8:
                            raw.append(bits)
                            bits = used = 0
            if used:
                raw.append(bits << (8 - used))
    head = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, int(interlaced))
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", head)
    if colour == 3:
        out += png_chunk(b"PLTE", bytes((i * 37 + 11) % 256 for i in range((top + 1) * 3)))
    for kind, data in extra:
        out += png_chunk(kind, data)
    out += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    for kind, data in after:
        out += png_chunk(kind, data)
    return out + png_chunk(b"IEND", b"")


def write_png_seeds(folder):
    xmp = b"<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"
    seeds = {
        "gray1.png": png(13, 5, 1, 0),
        "gray2.png": png(9, 5, 2, 0),
        "gray4.png": png(7, 5, 4, 0, extra=[(b"tRNS", b"\0\5")]),
        "gray8.png": png(7, 5, 8, 0),
        "gray16.png": png(7, 5, 16, 0, extra=[(b"tRNS", b"\1\2")]),
        "rgb8.png": png(7, 5, 8, 2),
        "rgb8-trns.png": png(7, 5, 8, 2, extra=[(b"tRNS", bytes(6))]),
        "rgb16.png": png(7, 5, 16, 2),
        "pal1.png": png(13, 5, 1, 3),
        "pal2.png": png(9, 5, 2, 3, extra=[(b"tRNS", b"\x10\x80")]),
        "pal4.png": png(7, 5, 4, 3),
        "pal8.png": png(7, 5, 8, 3, extra=[(b"tRNS", bytes(range(0, 200, 3)))]),
        "gray-alpha8.png": png(7, 5, 8, 4),
        "gray-alpha16.png": png(7, 5, 16, 4),
        "rgba8.png": png(7, 5, 8, 6),
        "rgba16.png": png(7, 5, 16, 6),
        "rgb8-interlaced.png": png(11, 9, 8, 2, interlaced=True),
        "pal4-interlaced.png": png(11, 9, 4, 3, interlaced=True),
        "rgba16-interlaced.png": png(11, 9, 16, 6, interlaced=True),
        "metadata.png": png(7, 5, 8, 2, extra=[
            (b"iCCP", b"Profile\0\0" + zlib.compress(bytes(range(256)) * 2)),
            (b"eXIf", b"MM\0*\0\0\0\x08\0\0"),
            (b"zTXt", b"Comment\0\0" + zlib.compress(b"seed")),
        ], after=[
            (b"iTXt", b"XML:com.adobe.xmp\0\1\0\0\0" + zlib.compress(xmp)),
            (b"tEXt", b"Title\0seed"),
        ]),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def tiff(width, height, bits, samples, photometric, extra=None, colormap=False, order="<"):
    """An uncompressed TIFF in one strip, its IFD after the samples."""
    fmt = order + ("H" if bits == 16 else "B") * (width * height * samples)
    data = struct.pack(fmt, *[((i * 37) % 251) * (257 if bits == 16 else 1)
                              for i in range(width * height * samples)])
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * samples),
               (259, 3, [1]), (262, 3, [photometric]), (273, 4, [8]), (277, 3, [samples]),
               (278, 4, [height]), (279, 4, [len(data)])]
    if extra is not None:
        entries.append((338, 3, [extra]))
    if colormap:
        entries.append((320, 3, [(i * 4111) & 0xFFFF for i in range(3 << bits)]))
    entries.sort()
    at = 8 + len(data) + (len(data) & 1)
    values_at = at + 2 + 12 * len(entries) + 4
    table, values = b"", b""
    for tag, kind, items in entries:
        packed = struct.pack(order + ("H" if kind == 3 else "I") * len(items), *items)
        if len(packed) <= 4:
            table += struct.pack(order + "HHI", tag, kind, len(items)) + packed.ljust(4, b"\0")
        else:
            table += struct.pack(order + "HHII", tag, kind, len(items), values_at + len(values))
            values += packed
    head = (b"II*\0" if order == "<" else b"MM\0*") + struct.pack(order + "I", at)
    return (head + data + b"\0" * (len(data) & 1) + struct.pack(order + "H", len(entries)) +
            table + b"\0\0\0\0" + values)


def write_tiff_seeds(folder):
    """Small TIFF files of each colour form, and tiffcp's copies of one in
    each compression and layout."""
    seeds = {
        "rgb8.tif": tiff(9, 7, 8, 3, 2),
        "rgb16-be.tif": tiff(9, 7, 16, 3, 2, order=">"),
        "grey16.tif": tiff(9, 7, 16, 1, 1),
        "rgba8.tif": tiff(9, 7, 8, 4, 2, extra=2),
        "grey-alpha8.tif": tiff(9, 7, 8, 2, 1, extra=1),
        "palette4.tif": tiff(9, 7, 4, 1, 3, colormap=True),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    source = os.path.join(folder, "rgb8.tif")
    for name, options in (("lzw", ["-c", "lzw"]), ("zip-tiled", ["-c", "zip", "-t", "-w", "16", "-l", "16"]),
                          ("jpeg", ["-c", "jpeg"]), ("separate", ["-p", "separate", "-c", "lzw"])):
        subprocess.run(["tiffcp"] + options + [source, os.path.join(folder, "rgb8-%s.tif" % name)],
                       check=True)


def main():
    """Writes every target's seeds, or those of the targets named."""
    import sys
    writers = (("bmp", write_bmp_seeds), ("jpeg", write_jpeg_seeds),
               ("metadata", write_metadata_seeds), ("png", write_png_seeds),
               ("tiff", write_tiff_seeds))
    for target, write in writers:
        if len(sys.argv) > 1 and target not in sys.argv[1:]:
            continue
def write_webp_seeds(folder):
    with tempfile.TemporaryDirectory() as work:
        def made(name, *args):
            subprocess.run(list(args), check=True, capture_output=True)
        rgb, rgba = os.path.join(work, "rgb.png"), os.path.join(work, "rgba.png")
        with open(rgb, "wb") as f:
            f.write(png(13, 9, 8, 2))
        with open(rgba, "wb") as f:
            f.write(png(13, 9, 8, 6))
        for name, data in (("icc", bytes(range(256)) * 2), ("exif", b"Exif\0\0MM\0*\0\0\0\x08\0\0"),
                           ("xmp", b"<x:xmpmeta xmlns:x='adobe:ns:meta/'/>")):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        out = lambda name: os.path.join(folder, name)
        made("lossy", "cwebp", "-quiet", "-q", "50", rgb, "-o", out("lossy.webp"))
        made("lossless", "cwebp", "-quiet", "-lossless", rgb, "-o", out("lossless.webp"))
        made("alpha", "cwebp", "-quiet", "-q", "50", rgba, "-o", out("lossy-alpha.webp"))
        made("lossless alpha", "cwebp", "-quiet", "-lossless", "-exact", rgba, "-o",
             out("lossless-alpha.webp"))
        step = os.path.join(work, "step.webp")
        made("icc", "webpmux", "-set", "icc", os.path.join(work, "icc"), out("lossy.webp"), "-o", step)
        made("exif", "webpmux", "-set", "exif", os.path.join(work, "exif"), step, "-o", step)
        made("xmp", "webpmux", "-set", "xmp", os.path.join(work, "xmp"), step, "-o",
             out("metadata.webp"))
        made("animated", "img2webp", "-lossy", rgb, rgba, "-o", out("animated.webp"))


def main():
    for target, write in (("bmp", write_bmp_seeds), ("jpeg", write_jpeg_seeds),
                          ("metadata", write_metadata_seeds),
                          ("png", write_png_seeds), ("webp", write_webp_seeds)):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        write(folder)


if __name__ == "__main__":
    main()
