#!/usr/bin/env python3
"""Writes the damaged PNG files of the library's tests (tests/zare/damaged/), each of which the
decoder must refuse; the base image they are made from decodes (it is the fuzzer's seed
tests/zare/corpus/fuzz_png/base.png). Run: tools/media/make_damaged.py from the repository root."""
import os
import struct
import zlib

SIG = bytes([137, 80, 78, 71, 13, 10, 26, 10])


def chunk(ctype, data, length=None):
    if length is None:
        length = len(data)
    crc = zlib.crc32(ctype + data) & 0xFFFFFFFF
    return struct.pack(">I", length) + ctype + data + struct.pack(">I", crc)


def ihdr(w, h, depth=8, ctype=3, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, interlace))


def plte(n):
    return chunk(b"PLTE", bytes((i * 37 + c * 11) & 255 for i in range(n) for c in range(3)))


def rows(w, h, filt=0):
    out = bytearray()
    for y in range(h):
        out.append(filt)
        out += bytes(((x * 3 + y * 5) ^ (x * y)) & 3 for x in range(w))
    return bytes(out)


def idats(stream, split):
    return b"".join(chunk(b"IDAT", stream[i:i + split]) for i in range(0, len(stream), split))


IEND = chunk(b"IEND", b"")
W, H = 16, 8
STREAM = zlib.compress(rows(W, H), 9)
BASE = SIG + ihdr(W, H) + plte(4) + idats(STREAM, 20) + IEND


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def damaged():
    d = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "zare", "damaged")
    first_idat = BASE.index(b"IDAT") - 4
    second_idat = BASE.index(b"IDAT", first_idat + 8) - 4
    last_idat = BASE.rindex(b"IDAT") - 4
    iend = BASE.rindex(b"IEND") - 4
    write(d, "cut_inside_idat.png", BASE[:second_idat + 8 + 7])
    write(d, "cut_between_idat.png", BASE[:second_idat])
    write(d, "cut_in_last_idat_crc.png", BASE[:iend - 2])
    write(d, "cut_in_chunk_type.png", BASE[:first_idat + 6])
    huge = bytearray(BASE)
    huge[second_idat:second_idat + 4] = struct.pack(">I", 0x7FFFFFF0)
    write(d, "idat_length_past_end.png", bytes(huge))
    huge[second_idat:second_idat + 4] = struct.pack(">I", 0xFFFFFFFF)
    write(d, "idat_length_ffffffff.png", bytes(huge))
    long_plte = bytearray(BASE)
    p = BASE.index(b"PLTE") - 4
    long_plte[p:p + 4] = struct.pack(">I", len(BASE))
    write(d, "plte_length_past_end.png", bytes(long_plte))
    write(d, "missing_ihdr.png", SIG + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "ihdr_after_idat.png", SIG + plte(4) + idats(STREAM, 20) + ihdr(W, H) + IEND)
    write(d, "missing_idat.png", SIG + ihdr(W, H) + plte(4) + IEND)
    write(d, "only_signature.png", SIG)
    write(d, "not_png_short.png", SIG[:5])
    write(d, "not_png_bad_signature.png", b"\x89PNG\r\n\x1a\x0b" + BASE[8:])
    write(d, "ihdr_12_bytes.png", SIG + chunk(b"IHDR", struct.pack(">IIBBBB", W, H, 8, 3, 0, 0)) + plte(4) +
          idats(STREAM, 20) + IEND)
    write(d, "plte_2_bytes.png", SIG + ihdr(W, H) + chunk(b"PLTE", b"\x01\x02") + idats(STREAM, 20) + IEND)
    write(d, "missing_plte.png", SIG + ihdr(W, H) + idats(STREAM, 20) + IEND)
    write(d, "filter_type_1.png", SIG + ihdr(W, H) + plte(4) + idats(zlib.compress(rows(W, H, 1)), 20) + IEND)
    mixed = bytearray(rows(W, H))
    mixed[5 * (W + 1)] = 4
    write(d, "filter_type_4_row_5.png", SIG + ihdr(W, H) + plte(4) + idats(zlib.compress(bytes(mixed)), 20) + IEND)
    write(d, "width_0.png", SIG + ihdr(0, H) + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "height_0.png", SIG + ihdr(W, 0) + plte(4) + idats(STREAM, 20) + IEND)
    big = zlib.compress(rows(16385, 1), 9)
    write(d, "width_16385.png", SIG + ihdr(16385, 1) + plte(4) + idats(big, 8192) + IEND)
    tall = zlib.compress(rows(1, 16385), 9)
    write(d, "height_16385.png", SIG + ihdr(1, 16385) + plte(4) + idats(tall, 8192) + IEND)
    write(d, "huge_size_tiny_data.png", SIG + ihdr(16384, 16384) + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "stream_one_row_short.png", SIG + ihdr(W, H) + plte(4) + idats(zlib.compress(rows(W, H - 1)), 20) + IEND)
    write(d, "stream_cut_short.png", SIG + ihdr(W, H) + plte(4) + idats(STREAM[:len(STREAM) // 2], 20) + IEND)
    bad = bytearray(STREAM)
    bad[0] = 0x77
    write(d, "zlib_bad_header.png", SIG + ihdr(W, H) + plte(4) + idats(bytes(bad), 20) + IEND)
    bad = bytearray(STREAM)
    bad[-1] ^= 0xFF
    write(d, "zlib_bad_adler.png", SIG + ihdr(W, H) + plte(4) + idats(bytes(bad), 20) + IEND)
    write(d, "bit_depth_4.png", SIG + ihdr(W, H, depth=4) + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "interlaced.png", SIG + ihdr(W, H, interlace=1) + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "color_type_7.png", SIG + ihdr(W, H, ctype=7) + plte(4) + idats(STREAM, 20) + IEND)
    write(d, "rgb_not_indexed.png", SIG + ihdr(W, H, ctype=2) + idats(zlib.compress(rows(3 * W, H)), 20) + IEND)


if __name__ == "__main__":
    damaged()
