#!/usr/bin/python3
"""Clears the compile time that chmcmd writes into a help file, so that the same sources give
the same file.

chmcmd stores the time of day of the compile, in milliseconds, in two places, both outside the
compressed section: the ITSF header (offset 0x10, big-endian) and the first entry of #SYSTEM
(code 10, four bytes, little-endian). Readers use neither; both become 0 here.

Usage: chm_fixed_time.py FILE.chm   (changed in place; exits 1 when the file is not laid out
as expected, without writing)
"""
import struct
import sys


def read_encint(data, pos):
    """A directory number: 7 bits per byte, high bit set on every byte but the last."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def system_offset(data):
    """The file offset of #SYSTEM, which chmcmd keeps in the uncompressed section 0."""
    version = struct.unpack_from("<I", data, 4)[0]
    directory, directory_length = struct.unpack_from("<QQ", data, 0x48)
    content = struct.unpack_from("<Q", data, 0x58)[0] if version >= 3 else (
        directory + directory_length)
    if data[directory:directory + 4] != b"ITSP":
        raise ValueError("no ITSP directory header")
    header_length, _, chunk_size = struct.unpack_from("<III", data, directory + 8)
    chunk_count = struct.unpack_from("<I", data, directory + 0x2C)[0]
    for index in range(chunk_count):
        start = directory + header_length + index * chunk_size
        chunk = data[start:start + chunk_size]
        if chunk[:4] != b"PMGL":
            continue
        end = chunk_size - struct.unpack_from("<I", chunk, 4)[0]
        pos = 20
        while pos < end:
            length, pos = read_encint(chunk, pos)
            name = chunk[pos:pos + length]
            pos += length
            section, pos = read_encint(chunk, pos)
            offset, pos = read_encint(chunk, pos)
            _, pos = read_encint(chunk, pos)
            if name == b"/#SYSTEM":
                if section != 0:
                    raise ValueError("#SYSTEM is compressed")
                return content + offset
    raise ValueError("no #SYSTEM in the directory")


def main():
    path = sys.argv[1]
    with open(path, "rb") as file:
        data = bytearray(file.read())
    try:
        if data[:4] != b"ITSF":
            raise ValueError("no ITSF header")
        system = system_offset(data)
        # #SYSTEM: a version word, then code 10 with a length of 4 and the time.
        if struct.unpack_from("<HH", data, system + 4) != (10, 4):
            raise ValueError("#SYSTEM does not start with the time entry")
    except (ValueError, IndexError, struct.error) as error:
        print(f"chm_fixed_time: {path}: {error}", file=sys.stderr)
        return 1
    struct.pack_into(">I", data, 0x10, 0)
    struct.pack_into("<I", data, system + 8, 0)
    with open(path, "wb") as file:
        file.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
