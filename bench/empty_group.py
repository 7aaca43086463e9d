"""empty_group.py N OUT: writes OUT, a TI-89 group file of N empty text variables named v1 to vN,
pieced together by hand: the header, an entry per variable (its data's offset, its name, type
0x0C), the file's size and the marker 0xA5 0x5A, then each variable's block: four zero bytes,
the size 5, the data 0x00 0x01 0x20 0x00 0xE0 of an empty text and its checksum
5 + 0x01 + 0x20 + 0xE0 = 0x0106."""
import struct
import sys

n, out = int(sys.argv[1]), sys.argv[2]
first = 66 + 16 * n
head = b"**TI89**\x01\x00main" + bytes(44) + struct.pack("<H", n)
entries = b"".join(struct.pack("<I", first + 13 * i) + b"v%d" % (i + 1) + bytes(8 - len(b"v%d" % (i + 1))) + b"\x0c\0\0\0"
                   for i in range(n))
block = b"\0\0\0\0\x00\x05\x00\x01\x20\x00\xe0\x06\x01"
with open(out, "wb") as f:
    f.write(head + entries + struct.pack("<I", first + 13 * n) + b"\xa5\x5a" + block * n)
