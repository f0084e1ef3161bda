#!/usr/bin/env python3
"""Writes the JCALG1 streams and CXML containers that the unit tests read on every run.

Each stream is spelled out code by code with a small bit writer, independent of the
encoder in tools/, so the decoder is checked against hand-made input. jc_cases.txt lists
every stream with the decoder's expected result; for a result above 0 the expected output is
in the .out file of the same name. cxml_cases.txt lists the containers with what the export
must serve: "document" (the packed text) or "spaces".

Run from this folder: python3 make_data.py
"""
import struct
import zlib


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, count):
        for i in reversed(range(count)):
            self.bits.append((value >> i) & 1)
        return self

    def gamma(self, v):
        digits = bin(v)[3:]
        for k, d in enumerate(digits):
            self.bits.append(int(d))
            self.bits.append(0 if k == len(digits) - 1 else 1)
        return self

    # The codes of the stream.
    def width8(self):
        return self.put(0b001, 3).put(0, 4).put(0, 1).put(1, 1)

    def width7(self, base):
        return self.put(0b001, 3).put(0, 4).put(0, 1).put(0, 1).put(base, 8)

    def literal(self, v, width=8):
        return self.put(1, 1).put(v, width)

    def repeat(self, length):
        return self.put(0b01, 2).gamma(2).gamma(length)

    def match(self, g, low, gamma_length, index_width=8):
        return self.put(0b01, 2).gamma(g).put(low, index_width).gamma(gamma_length)

    def four(self, c):
        return self.put(0b001, 3).put(c, 4)

    def short(self, o, n):
        return self.put(0, 3).put(o, 7).put(n, 2)

    def index_width(self, n, width):
        return self.short(0, n).put(width, n + 3)

    def raw(self, runs):
        self.four(0).put(1, 1)
        for k, run in enumerate(runs):
            for b in run:
                self.put(b, 8)
            self.put(1 if k + 1 < len(runs) else 0, 1)
        return self

    def end(self):
        return self.short(0, 0)

    def words(self):
        bits = self.bits + [0] * (-len(self.bits) % 32)
        out = b""
        for i in range(0, len(bits), 32):
            w = 0
            for b in bits[i:i + 32]:
                w = (w << 1) | b
            out += struct.pack("<I", w)
        return out


def checksum(data):
    if len(data) < 4:
        return 0
    s = 0
    words = [struct.unpack_from("<I", data, i)[0] for i in range(0, len(data) - 3, 4)]
    if len(data) % 4:
        words.append(struct.unpack_from("<I", data, len(data) - 4)[0])
    for w in words:
        s = (s + w) & 0xFFFFFFFF
        s ^= ((((w << 1) | (w >> 31)) & 0xFFFFFFFF) + 1) & 0xFFFFFFFF
    return s


def stream(bits, output, size=None, sum_field=None, mark=b"JC"):
    size = len(output) if size is None else size
    sum_field = checksum(output) if sum_field is None else sum_field
    return mark + struct.pack("<II", size, sum_field) + bits.words()


cases = []


def case(name, data, result, output=b""):
    with open(name + ".jc", "wb") as f:
        f.write(data)
    if result > 0:
        with open(name + ".out", "wb") as f:
            f.write(output)
    cases.append("%s.jc %d" % (name, result))


ABC = b"abcabcabc"
abc_stream = bytes.fromhex("4A43090000 00E3ECECE0566CD82000000336".replace(" ", ""))
case("jc_abcabcabc", abc_stream, 9, ABC)
case("jc_abcabcabc_no_checksum", abc_stream[:6] + b"\0\0\0\0" + abc_stream[10:], 9, ABC)
case("jc_abcabcabc_wrong_checksum", abc_stream[:6] + b"\xE4" + abc_stream[7:], 0)
case("jc_abcabcabc_no_mark", b"JD" + abc_stream[2:], 0)
# The same text from our bit writer must give the same bytes.
b = Bits().width8().literal(0x61).literal(0x62).literal(0x63).match(3, 3, 2).end()
assert stream(b, ABC) == abc_stream

# Until a match sets it, the last offset is 1: g = 2 repeats the last byte.
b = Bits().width8().literal(ord("q")).repeat(3).end()
case("jc_first_repeat_offset_one", stream(b, b"qqqq"), 4, b"qqqq")
# Short code with offset 1 and n = 3 repeats the last byte five times; a zero byte code.
b = Bits().width8().literal(ord("z")).short(1, 3).four(1).end()
case("jc_short_offset_one", stream(b, b"zzzzzz\0"), 7, b"zzzzzz\0")
# A four-bit copy keeps the last offset: g = 2 afterwards copies from the short code's 2.
out = b"ababcacac"
b = (Bits().width8().literal(ord("a")).literal(ord("b")).short(2, 0).literal(ord("c"))
     .four(4).repeat(3).end())
case("jc_repeat_after_four_bit_copy", stream(b, out), 9, out)
# Seven-bit literals above a base byte.
b = Bits().width7(0x60).literal(1, 7).literal(0x1A, 7).width8().literal(0xFF).end()
case("jc_literal_width_seven", stream(b, b"az\xff"), 3, b"az\xff")
# Raw runs: two runs of 256 unchanged bytes, linked by the "another run" bit.
runs = [bytes(range(256)), bytes(reversed(range(256)))]
b = Bits().raw(runs).end()
case("jc_raw_runs", stream(b, b"".join(runs)), 512, b"".join(runs))
# Index width code: 5 bits, so g = 9 and low 8 give offset (6 << 5) | 8 = 200.
data = bytes(range(256))
out = data + data[56:60]
b = Bits().raw([data]).index_width(2, 5).match(9, 8, 4, index_width=5).end()
case("jc_index_width_five", stream(b, out), 260, out)
b = Bits().raw([data]).index_width(1, 4).match(15, 8, 4, index_width=4).end()
out = data + data[56:60]
case("jc_index_width_four", stream(b, out), 260, out)

# Malformed streams: each must give 0 and stay inside its buffers.
b = Bits().width8().literal(0x61).match(3, 5, 2).end()
case("jc_offset_before_start", stream(b, b"a"), 0)
b = Bits().width8().literal(0x61).match(3, 0, 2).end()
case("jc_offset_zero", stream(b, b"a"), 0)
b = Bits().four(5).end()
case("jc_four_bit_copy_before_start", stream(b, b""), 0)
b = Bits().repeat(2).end()
case("jc_repeat_before_start", stream(b, b""), 0)
b = Bits().literal(0x61).end()
case("jc_literal_without_width", stream(b, b"a"), 0)
b = Bits().width8().literal(0x61).index_width(3, 40).match(3, 1, 2).end()
case("jc_index_width_forty", stream(b, b"a"), 0)
b = Bits().width8().literal(0x61).put(0b01, 2).put((1 << 80) - 1, 80).end()
case("jc_gamma_overflow", stream(b, b"a"), 0)
# 27 code bits: the stream wants a second word after the five zero bits of padding.
b = Bits().width8().literal(0x61).literal(0x62)
case("jc_no_end_code", stream(b, b"ab"), 0)
case("jc_header_only", b"JC" + struct.pack("<II", 0, 0), 0)
case("jc_short_header", b"JC\x01\x00\x00", 0)

with open("jc_cases.txt", "w") as f:
    f.write("\n".join(cases) + "\n")

# Containers around a small document.
document = b"<Doc>\r\n<A>abcabcabc</A>\r\n</Doc>"
# Literals up to the first "abc", then five bytes by a short code and one by a four-bit copy.
b = Bits().width8()
for ch in document[:13]:
    b.literal(ch)
b.short(3, 3).four(4)
for ch in document[19:]:
    b.literal(ch)
b.end()
packed = stream(b, document)


def container(packed, magic=b"CXML", unpacked=None, packed_size=None, ucrc=None, pcrc=None):
    unpacked = len(document) if unpacked is None else unpacked
    packed_size = len(packed) if packed_size is None else packed_size
    ucrc = zlib.crc32(document) if ucrc is None else ucrc
    pcrc = zlib.crc32(packed) if pcrc is None else pcrc
    return magic + struct.pack("<IIII", unpacked, packed_size, ucrc, pcrc) + packed


containers = []


def cxml(name, data, serves):
    with open(name + ".cxml", "wb") as f:
        f.write(data)
    containers.append("%s.cxml %s" % (name, serves))


with open("cxml_document.txt", "wb") as f:
    f.write(document)
cxml("cxml_sound", container(packed), "document")
cxml("cxml_magic_changed", container(packed, magic=b"XXXX"), "document")
cxml("cxml_packed_crc_wrong", container(packed, pcrc=zlib.crc32(packed) ^ 1), "spaces")
cxml("cxml_document_crc_wrong", container(packed, ucrc=zlib.crc32(document) ^ 0x80000000), "spaces")
bad = b"JD" + packed[2:]
cxml("cxml_stream_without_mark", container(bad, pcrc=zlib.crc32(bad)), "spaces")
bad = packed[:6] + struct.pack("<I", checksum(document) ^ 1) + packed[10:]
cxml("cxml_stream_checksum_wrong", container(bad, pcrc=zlib.crc32(bad)), "spaces")
cxml("cxml_packed_size_beyond_end", container(packed, packed_size=len(packed) + 4), "spaces")
cxml("cxml_truncated", container(packed)[:-4], "spaces")
# A document size one short: the decoder would write past the block's document.
cxml("cxml_unpacked_size_short", container(packed, unpacked=len(document) - 1), "spaces")

with open("cxml_cases.txt", "w") as f:
    f.write("\n".join(containers) + "\n")
