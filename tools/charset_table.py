#!/usr/bin/env python3
"""Prints src/core/charset_table.inc, the calculator's character set as C++ tables, from the
tab-separated table of its 256 bytes against Unicode and of the other characters it takes,
data/ti68k.tsv, and from Unicode's own data (Python's unicodedata): the characters that are the
calculator's canonically (a letter and a combining mark that make one, an ohm sign), what
--replace stores for the others, and the superscripts it writes as exponents.

Usage: tools/charset_table.py data/ti68k.tsv > src/core/charset_table.inc
A test compares the committed table with what this prints.
"""
import sys
import unicodedata

# Unicode 14.0, as Debian 12's Python has it: another version may make another table.
assert unicodedata.unidata_version == "14.0.0", unicodedata.unidata_version

# What --replace drops: marks and format characters, which show nothing on their own.
DROPPED = ("Mn", "Me", "Cf")


def sequence(text):
    """[code points] of 'U+0078 U+0305'."""
    cps = [int(part[2:], 16) for part in text.split()]
    assert 1 <= len(cps) <= 2 and all(part.startswith("U+") for part in text.split()), text
    return cps


def utf8_literal(cps):
    return "".join("\\x%02X" % b for b in "".join(map(chr, cps)).encode("utf-8"))


def read_tables(path):
    """The rows of the byte table and of the table of other characters, split on tabs."""
    tables, rows = [], None
    for line in open(path, encoding="utf-8"):
        if line.startswith("#"):
            continue
        fields = line.rstrip("\n").split("\t")
        if fields[0] in ("byte", "char"):
            rows = []
            tables.append((fields[:3], rows))
        else:
            rows.append(fields + [""] * (4 - len(fields)))
    assert [header for header, _ in tables] == [["byte", "canonical", "also"], ["char", "bytes", "kind"]]
    return tables[0][1], tables[1][1]


def main(path):
    byte_rows, other_rows = read_tables(path)
    canonical = {}
    sequences = {}  # (first, second or 0) -> byte
    for row in byte_rows:
        byte = int(row[0], 16)
        assert byte not in canonical
        canonical[byte] = sequence(row[1])
        alternatives = [row[1]] + [s for s in row[2].split(",") if s.strip()]
        for cps in map(sequence, alternatives):
            key = (cps[0], cps[1] if len(cps) > 1 else 0)
            assert key not in sequences, row
            sequences[key] = byte
    assert sorted(canonical) == list(range(256))
    nearest = {}  # code point -> the bytes --replace stores it as
    superscripts = {}  # code point -> its plain byte, for each superscript the calculator lacks
    fractions = set()
    for char, data, kind, note in other_rows:
        cp, stored = sequence(char)[0], bytes.fromhex(data)
        if kind == "equivalent":
            # It means what its byte does: a letter is that letter in compatibility form.
            assert (cp, 0) not in sequences and len(stored) == 1, char
            target = "".join(map(chr, canonical[stored[0]]))
            assert not unicodedata.category(chr(cp)).startswith("L") or \
                unicodedata.normalize("NFKC", chr(cp)) == unicodedata.normalize("NFKC", target), char
            sequences[(cp, 0)] = stored[0]
        elif kind in ("superscript", "subscript"):
            # Its plain character, the minus as the hyphen-minus.
            tag = "<super>" if kind == "superscript" else "<sub>"
            plain = unicodedata.normalize("NFKD", chr(cp))
            assert unicodedata.decomposition(chr(cp)).startswith(tag) and len(stored) == 1 and \
                (canonical[stored[0]] == [ord(plain)] or (plain == "\u2212" and stored == b"-")), char
            assert (cp, 0) not in sequences and cp not in nearest, char
            nearest[cp] = stored
            if kind == "superscript":
                superscripts[cp] = stored[0]
        elif kind == "fraction":
            numerator, slash, denominator = unicodedata.normalize("NFKD", chr(cp)).partition("\u2044")
            assert unicodedata.decomposition(chr(cp)).startswith("<fraction>") and slash and \
                stored == (numerator + "/" + denominator).encode("ascii"), char
            assert (cp, 0) not in sequences and cp not in nearest, char
            nearest[cp] = stored
            fractions.add(cp)
        else:
            # A letter or a sign with no decomposition: the bytes closest to it.
            is_letter = unicodedata.category(chr(cp)).startswith("L")
            assert (kind == "letter") == is_letter and kind in ("letter", "nearest") and \
                unicodedata.normalize("NFKD", chr(cp)) == chr(cp) and 1 <= len(stored) <= 2, char
            assert (cp, 0) not in sequences and cp not in nearest, char
            nearest[cp] = stored

    # A character canonically the same as one the calculator has alone (Unicode NFC): the ohm
    # sign is Ω; a letter and a combining mark that compose to it, or to a letter the table
    # lists, are a pair.
    singles = {first: byte for (first, second), byte in sequences.items() if not second}
    same = {}  # code point -> the code points canonically it alone
    for cp in range(0x110000):
        nfc = unicodedata.normalize("NFC", chr(cp))
        if len(nfc) == 1 and ord(nfc) != cp:
            same.setdefault(ord(nfc), []).append(cp)
    for cp, byte in sorted(singles.items()):
        for other in same.get(cp, []):
            if (other, 0) not in sequences:
                sequences[(other, 0)] = byte
        nfd = unicodedata.normalize("NFD", chr(cp))
        if len(nfd) == 2:
            for first in [ord(nfd[0])] + same.get(ord(nfd[0]), []):
                for second in [ord(nfd[1])] + same.get(ord(nfd[1]), []):
                    if unicodedata.normalize("NFC", chr(first) + chr(second)) == chr(cp):
                        assert (first, second) not in sequences, (first, second)
                        sequences[(first, second)] = byte
    for (first, second), byte in sequences.items():
        if second and first < 0x80:
            # The fast paths store an ASCII character alone, and the mark after it completes the
            # pair: no mark stands for a byte alone.
            assert (second, 0) not in sequences and unicodedata.category(chr(second)) == "Mn", second
    # kMaxUtf8TextSize holds while no character takes more than 5 bytes for a stored byte.
    assert max(len("".join(map(chr, [f] + [s] * bool(s))).encode()) for f, s in sequences) <= 5

    # Every superscript and subscript of one character the calculator has, every vulgar fraction,
    # has its line (the minus as the hyphen-minus): none is left to the rule below.
    for cp in range(0x110000):
        tag = unicodedata.decomposition(chr(cp)).split(" ")[0]
        plain = unicodedata.normalize("NFKD", chr(cp))
        if (cp, 0) not in sequences and (tag == "<fraction>" or (
                tag in ("<super>", "<sub>") and len(plain) == 1 and
                ((ord(plain), 0) in sequences or plain == "\u2212"))):
            assert cp in nearest, "U+%04X needs a line" % cp
    # The superscripts the calculator has that join a run of them: its superscript digits and
    # signs (not ª, º, the radian mark nor the transpose, which are no exponents).
    for (first, second), byte in sequences.items():
        plain = unicodedata.normalize("NFKD", chr(first))
        if not second and unicodedata.decomposition(chr(first)).startswith("<super>") and plain in "0123456789+-=()":
            superscripts[first] = ord(plain)
    # Rewriting a run of superscripts takes back the byte stored for each of these, or none for
    # the minus of an inverse (⁻¹, one byte); a cut between parts finds line breaks as 0x0D.
    assert all((cp, 0) in sequences for cp, plain in superscripts.items() if cp not in nearest) and \
        (0x207B, 0xB9) in sequences and [k for k, b in sequences.items() if b == 0x0D] == [(0x0D, 0)]

    # What --replace stores for each character the calculator lacks: a letter or sign the table
    # lists as it says; a mark or format character as nothing; a character whose compatibility
    # decomposition, marks dropped, is one or two characters the calculator has, as those (ř is
    # r, ĳ is ij, ⁴ is 4); any other as "?".
    storable = {first: byte for (first, second), byte in sequences.items() if not second}
    replacements, dropped = {}, []
    for cp in range(0x110000):
        ch = chr(cp)
        category = unicodedata.category(ch)
        if cp in storable or category in ("Cs", "Cn", "Co"):
            continue
        if cp in nearest:
            replacements[cp] = nearest[cp]
        elif category in DROPPED:
            if dropped and dropped[-1][1] == cp - 1:
                dropped[-1][1] = cp
            else:
                dropped.append([cp, cp])
        else:
            base = [c for c in unicodedata.normalize("NFKD", ch) if unicodedata.category(c) not in DROPPED]
            if 1 <= len(base) <= 2 and all(ord(c) in storable for c in base) and \
                    (category == "Zs" or not "".join(base).isspace()):
                replacements[cp] = bytes(storable[ord(c)] for c in base)
    assert not any(set(stored) & {0x00, 0x0A, 0x0D} or len(stored) > 4 for stored in replacements.values())

    out = ["// Generated by tools/charset_table.py from data/ti68k.tsv; do not edit.", "",
           "// The canonical UTF-8 form of each calculator byte.",
           "constexpr CanonicalUtf8 kCanonical[256] = {"]
    for byte in range(256):
        cps = canonical[byte]
        size = len("".join(map(chr, cps)).encode("utf-8"))
        out.append('    {"%s", %d},  // %02X' % (utf8_literal(cps), size, byte))
    out += ["};", "",
            "// Every sequence of one or two code points that stands for a calculator byte,",
            "// sorted by code points (second 0 when there is one).",
            "constexpr CharSequence kSequences[] = {"]
    for (first, second), byte in sorted(sequences.items()):
        out.append("    {0x%04X, 0x%04X, 0x%02X}," % (first, second, byte))
    out += ["};", "",
            "// What --replace stores for a character the calculator lacks, by code point, sorted: one",
            "// byte (code point << 9 | whether a superscript written as an exponent << 8 | byte), or",
            "// more (code point, how many, whether a vulgar fraction, bytes); any character in neither",
            "// and not dropped is \"?\".",
            "constexpr std::uint32_t kReplacedByOne[] = {"]
    for cp, stored in sorted(replacements.items()):
        if len(stored) == 1:
            out.append("    0x%06X," % (cp << 9 | (cp in superscripts) << 8 | stored[0]))
    out += ["};", "", "constexpr ReplacedByMore kReplacedByMore[] = {"]
    for cp, stored in sorted(replacements.items()):
        if len(stored) > 1:
            out.append("    {0x%04X, %d, %s, {%s}}," % (cp, len(stored), "true" if cp in fractions else "false",
                                                     ", ".join("0x%02X" % b for b in stored)))
    out += ["};", "",
            "// The superscripts that make a run written after a ^ as an exponent when the calculator",
            "// lacks one of them, by code point, sorted: code point << 8 | its plain byte.",
            "constexpr std::uint32_t kSuperscripts[] = {"]
    for cp, plain in sorted(superscripts.items()):
        out.append("    0x%04X%02X," % (cp, plain))
    out += ["};", "",
            "// The code points --replace drops, marks and format characters, in sorted ranges: the",
            "// first << 8 | how many more.",
            "constexpr std::uint32_t kDropped[] = {"]
    for first, last in dropped:
        while last - first > 255:
            out.append("    0x%04XFF," % first)
            first += 256
        out.append("    0x%04X%02X," % (first, last - first))
    out.append("};")
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
