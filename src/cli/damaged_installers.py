"""Damaged copies of installers the program built, one table per reader, for inspect_test.sh.

Usage: damaged_installers.py KIND INSTALLER OUT_DIR, KIND being tar, settings, msi or exe
("settings" takes a Linux TAR, whose settings file is ANSI, "tar" a Mac TAR). Writes each copy
into OUT_DIR and prints one row a line: name, file, the exit code inspect must end with, and a
text its standard error (exit code 6) or standard output (exit code 0) must hold, tab-separated.
"""
import io
import os
import struct
import sys
import tarfile
import zlib

BLOCK = 512


def checksum(header):
    return sum(header[:148]) + 8 * 32 + sum(header[156:BLOCK])


def seal(header):
    """Writes a header's checksum as the program does: six digits, NUL, space."""
    header[148:156] = b"%06o\0 " % checksum(header)


def headers(data):
    """Offsets, names and sizes of the headers of a TAR, long-name headers included."""
    at = 0
    while data[at:at + BLOCK].strip(b"\0"):
        size = int(data[at + 124:at + 136].strip(b" \0") or b"0", 8)
        yield at, data[at:at + 100].rstrip(b"\0"), size
        at += BLOCK + (size + BLOCK - 1) // BLOCK * BLOCK


def end_of_entries(data):
    last = list(headers(data))[-1]
    return last[0] + BLOCK + (last[2] + BLOCK - 1) // BLOCK * BLOCK


def rebuilt(data, change):
    """The archive again through Python's tarfile (GNU format), its members passed to `change`
    as a list of (TarInfo, bytes) first."""
    members = []
    with tarfile.open(fileobj=io.BytesIO(bytes(data))) as source:
        for info in source.getmembers():
            members.append((info, source.extractfile(info).read() if info.isfile() else b""))
    members = change(members)
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as target:
        for info, content in members:
            info.size = len(content)
            target.addfile(info, io.BytesIO(content) if info.isfile() else None)
    return bytearray(out.getvalue())


def with_content(name, content):
    def change(members):
        return [(info, content if info.name.endswith(name) else data) for info, data in members]
    return change


def tar_rows(data):
    named = [(at, name, size) for at, name, size in headers(data)]
    second = named[1][0]
    largest = max(named, key=lambda header: header[2])

    def flipped_name(d):
        d[second + 3] ^= 1
        return d

    def size_field(text):
        def damage(d):
            block = d[second:second + BLOCK]
            block[124:136] = text
            seal(block)
            d[second:second + BLOCK] = block
            return d
        return damage

    def long_name(size, terminated=True):
        def damage(d):
            header = bytearray(BLOCK)
            header[0:13] = b"././@LongLink"
            header[100:108] = b"000777 \0"
            header[124:136] = b"%11o " % size
            header[156] = ord("L")
            seal(header)
            name = bytearray(b"n" * min(size, BLOCK)) + bytearray(BLOCK)
            if terminated:
                name[min(size, BLOCK) - 1] = 0
            span = (size + BLOCK - 1) // BLOCK * BLOCK
            return d[:second] + header + name[:BLOCK] + bytearray(span - BLOCK) + d[second:]
        return damage

    def many(d):
        def change(members):
            extra = []
            for i in range(10001):
                info = tarfile.TarInfo("MCWSNODE/f%05d" % i)
                extra.append((info, b""))
            return members + extra
        return rebuilt(d, change)

    record = b"\0" * 70000
    return [
        ("a header byte changed", flipped_name, 6, "has a damaged header"),
        ("a size that is no octal number", size_field(b"0000000x012 "), 6, "has a damaged header"),
        ("a size of 8 GiB in a small file", size_field(b"77777777777 "), 6, "runs past the end of the file"),
        ("a long name of 4 KiB", long_name(4096), 6, "has a damaged long name"),
        ("an unterminated long name", long_name(300, terminated=False), 6, "has a damaged long name"),
        ("cut inside the largest entry", lambda d: d[:largest[0] + BLOCK + largest[2] // 2], 6,
         "runs past the end"),
        ("cut before the end blocks", lambda d: d[:end_of_entries(d) + 100], 6, "before its end blocks"),
        ("10001 more entries", many, 6, "more than 10000 entries"),
        ("a record of 70000 bytes", lambda d: rebuilt(d, with_content("rpinfo.dat", record)), 6,
         "rpinfo.dat is 70000 bytes, more than the 65536"),
        ("a settings file of 300000 bytes",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"\xff\xfe" + b"k\0" * 149999)), 6,
         "wsnode.ini is 300000 bytes"),
        ("a settings file of odd length",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"\xff\xfe[\0S\0]\0x")), 6, "odd length"),
        ("a settings file with an unpaired surrogate",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"\xff\xfe[\0S\0]\0\x00\xd8x\0")), 6,
         "unpaired surrogate"),
        ("a settings line of 5000 characters",
         lambda d: rebuilt(d, with_content("wsnode.ini", ("\ufeff[SETTING]\r\nk=" + "v" * 4998).encode(
             "utf-16-le"))), 6, "line 2 is longer than 1024 characters"),
    ]


def settings_rows(data):
    return [
        ("an ANSI settings file with a NUL",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"[SETTING]\r\nA=1\0\r\n")), 6, "holds a NUL"),
        ("an ANSI settings line of 2000 bytes",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"[SETTING]\r\n" + b"x" * 2000 + b"\r\n")), 6,
         "line 2 is longer than 1024 characters"),
        ("an ANSI settings file with a line of 1024 bytes",
         lambda d: rebuilt(d, with_content("wsnode.ini", b"[SETTING]\r\n" + b"x" * 1024 + b"\r\n")), 0,
         "settings problem: line 2 is malformed"),
    ]


class Compound:
    """The parts of a compound file (version 3, 512-byte sectors) that the damage needs."""

    def __init__(self, data):
        self.data = data
        assert data[:8] == bytes.fromhex("d0cf11e0a1b11ae1")
        self.directory_start = struct.unpack_from("<I", data, 0x30)[0]
        difat = struct.unpack_from("<109I", data, 0x4C)
        self.fat = []
        for sector in difat:
            if sector >= 0xFFFFFFFA:
                break
            self.fat += struct.unpack_from("<128I", data, self.offset(sector))

    def offset(self, sector):
        return (sector + 1) * 512

    def chain(self, sector):
        while sector < 0xFFFFFFFA:
            yield sector
            sector = self.fat[sector]

    def entries(self):
        """Offsets of the directory entries with their names, types and sizes."""
        for sector in self.chain(self.directory_start):
            for i in range(4):
                at = self.offset(sector) + 128 * i
                length = struct.unpack_from("<H", self.data, at + 64)[0]
                name = self.data[at:at + max(length - 2, 0)].decode("utf-16-le", "replace")
                kind = self.data[at + 66]
                size = struct.unpack_from("<I", self.data, at + 120)[0]
                yield at, name, kind, size


def encoded_table_name(name):
    """A table's stream name as the Windows Installer stores it: a marker, then the characters
    packed two to a code unit where they allow."""
    def code(c):
        alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
        return alphabet.index(c) if c in alphabet else None
    out = [chr(0x4840)]
    i = 0
    while i < len(name):
        first = code(name[i])
        second = code(name[i + 1]) if i + 1 < len(name) else None
        if first is not None and second is not None:
            out.append(chr(0x3800 + first + (second << 6)))
            i += 2
        elif first is not None:
            out.append(chr(0x4800 + first))
            i += 1
        else:
            out.append(name[i])
            i += 1
    return "".join(out)


def msi_rows(data):
    compound = Compound(data)
    entries = list(compound.entries())

    def entry(test):
        found = [e for e in entries if test(e)]
        assert len(found) == 1, found
        return found[0][0]

    record = entry(lambda e: e[2] == 2 and e[3] == 7363)
    string_pool = entry(lambda e: e[1] == encoded_table_name("_StringPool"))
    columns = entry(lambda e: e[1] == encoded_table_name("_Columns"))

    def put(at, fmt, value):
        def damage(d):
            struct.pack_into(fmt, d, at, value)
            return d
        return damage

    def zero_directory(d):
        start = compound.offset(compound.directory_start)
        d[start:start + 512] = bytes(512)
        return d

    return [
        ("cut in half", lambda d: d[:len(d) // 2], 6, "cannot open"),
        ("the directory zeroed", zero_directory, 6, "cannot open"),
        ("the sector size changed", put(0x1E, "<H", 0x20), 6, "cannot open"),
        ("the record's stream of 2 GiB", put(record + 120, "<I", 0x7FFFFFF0), 6,
         "rpinfo.dat is 2147483632 bytes, more than the 65536"),
        ("the record's stream starting past the end", put(record + 116, "<I", 0x00FFFFF0), 6,
         "the Binary row rpinfo.dat"),
        ("the string pool of 3 bytes", put(string_pool + 120, "<I", 3), 6, "has no Binary table"),
        ("the column table starting past the end", put(columns + 116, "<I", 0x00FFFFF0), 6,
         "has no Binary table"),
    ]


def exe_rows(data):
    # The archive's signature header is the one whose own CRC matches: the module may hold the
    # signature bytes too.
    start = data.find(b"7z\xbc\xaf\x27\x1c")
    while start >= 0 and zlib.crc32(data[start + 12:start + 32]) != struct.unpack_from("<I", data, start + 8)[0]:
        start = data.find(b"7z\xbc\xaf\x27\x1c", start + 1)
    assert start > 0, "no 7z archive in the setup"
    next_offset, next_size = struct.unpack_from("<QQ", data, start + 12)
    header = start + 32 + next_offset

    def flip(at):
        def damage(d):
            d[at] ^= 0x55
            return d
        return damage

    return [
        ("cut 1 byte short", lambda d: d[:-1], 6, "7-Zip cannot open"),
        ("cut inside the packed data", lambda d: d[:start + 32 + next_offset // 2], 6, "7-Zip cannot open"),
        ("a packed byte changed", flip(start + 32 + next_offset // 2), 6, "archive of"),
        ("a header byte changed", flip(header + next_size // 2), 6, "7-Zip cannot open"),
        ("the header's size of 1 TiB", lambda d: d[:start + 20] + struct.pack("<Q", 1 << 40) + d[start + 28:], 6,
         "7-Zip cannot open"),
    ]


def main():
    kind, source, out = sys.argv[1:4]
    data = bytearray(open(source, "rb").read())
    rows = {"tar": tar_rows, "settings": settings_rows, "msi": msi_rows, "exe": exe_rows}[kind](data)
    extension = os.path.splitext(source)[1]
    for number, (name, damage, code, want) in enumerate(rows):
        path = os.path.join(out, "%s_%02d%s" % (kind, number, extension))
        with open(path, "wb") as f:
            f.write(damage(bytearray(data)))
        print("\t".join([name, path, str(code), want]))


main()
