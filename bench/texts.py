#!/usr/bin/env python3
"""Writes the benchmark's texts into DIR, one file per kind of content, each the
largest the calculator takes: 65,507 bytes once stored, a line break counting two.
Prints one line per file: its name, then what it holds."""
import sys

LIMIT = 65507
PROSE = (b"It was a bright cold day in April, and the clocks were striking thirteen. "
         b"The quick brown fox jumps over the lazy dog while the calculator keeps its notes. "
         b"Sums, limits and a few formulas fill the screen: x=1, y=2, z=x+y. ")
# A physics note in French: accents, Greek letters and mathematical signs, as prose has them.
NOTE = ("Le th\u00e9or\u00e8me de Pythagore : dans un triangle rectangle, a\u00b2 + b\u00b2 = c\u00b2. "
         "L'aire d'un disque de rayon r vaut \u03c0r\u00b2, et sa circonf\u00e9rence 2\u03c0r. "
         "Pour un angle \u03b8 tr\u00e8s petit, sin \u03b8 \u2264 \u03b8 ; on note \u0394x "
         "l'\u00e9cart et \u03a3 la somme, avec x \u2264 y \u2260 z et \u221a2 = 1,414. ")
# The same characters, but a dense line of signs: the worst case measured.
GREEK = ("Caf\u00e9, na\u00efve fa\u00e7ade, \u00e0 la cr\u00e8me br\u00fbl\u00e9e; "
         "\u03b1 \u03b2 \u03b3 \u03b4 \u03b8 \u03bb \u03c0 \u03c3: \u03c0 \u2264 3.1416, "
         "\u03a3 x\u00b2 \u2260 \u221e, \u221a2, \u222b f \u2192 0. ")
# Formulas in French prose: one character in 5 beyond ASCII.
FORMULAS = ("Soit \u03b8 dans [0, \u03c0] et \u03b5 > 0 : on a |sin \u03b8| \u2264 \u03b8, "
            "puis \u03a3 \u03b1\u00b2 \u2265 0 et \u222b f(\u03b8) d\u03b8 \u2192 \u221e quand n cro\u00eet. "
            "En \u00e9t\u00e9, \u0394t \u2260 \u03c4 ; on pose \u221a\u03bb = \u03c3 \u00b7 \u03c1. ")
# French prose as Windows saves it too: accents, quotes and dashes, one character in 6.
FRENCH = ("L\u2019\u00e9t\u00e9, \u00e0 la fen\u00eatre, j\u2019\u00e9cris \u00ab vite \u00bb : la le\u00e7on "
          "n\u2019est pas finie\u2026 O\u00f9 est-ce ? \u00c7a d\u00e9pend \u2013 dit-il \u2013 du th\u00e9or\u00e8me de No\u00ebl. ")
# Nothing but the calculator's Greek letters and signs, of two and three bytes.
SIGNS = ("\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b8\u03bb\u03be\u03c0\u03c1\u03c3\u03c4\u03c6\u03c8\u03c9"
         "\u0393\u0394\u03a0\u03a3\u03a9\u00b1\u00d7\u00f7\u00b0\u00b2\u00b3\u00b5"
         "\u2264\u2260\u2265\u221a\u222b\u221e\u2192\u2190\u2191\u2193\u2202\u2208\u2229\u222a\u2282\u2220")


def stored(text):
    """The stored size of `text` read in text mode: a bare LF counts two."""
    return len(text) + text.count(b"\n") - text.count(b"\r\n")


def fill(piece):
    """`piece` repeated as often as fits, then topped up with `a` to the limit."""
    unit = stored(piece)
    text = piece * (LIMIT // unit)
    return text + b"a" * (LIMIT - stored(text))


def lines(prose, width, end):
    """`prose` cut into lines of `width` bytes, line break included."""
    step = width - len(end)
    stream = prose * (2 * LIMIT // len(prose) + 1)
    text = b"".join(stream[i:i + step] + end for i in range(0, 2 * LIMIT, step))
    while stored(text) > LIMIT:
        text = text[:text.rfind(end)]
    return text + b"a" * (LIMIT - stored(text))


KINDS = [
    ("plain", "no byte that needs work (all a)", b"a" * LIMIT),
    ("prose-crlf", "prose, 28-byte lines ending CR LF", lines(PROSE, 28, b"\r\n")),
    ("prose-lf", "prose, 40-byte lines ending LF", lines(PROSE, 40, b"\n")),
    ("short", "short lines, x=1 CR LF", fill(b"x=1\r\n")),
    ("lf", "LF only", fill(b"\n")),
    ("crlf", "CR LF only", fill(b"\r\n")),
    ("cr", "lone CR only", fill(b"\r")),
    ("cr-letter", "CR and a letter, repeated", fill(b"\ra")),
    ("ff", "0xFF only", fill(b"\xff")),
    ("worst", "worst found: a LF in every 16 bytes, a 0xFF in every 64",
     fill((b"\n" + b"a" * 15) * 3 + b"\n" + b"a" * 11 + b"\xff" + b"aaa")),
]

# UTF-8 texts: name, what, the text repeated, line width (0: one line), line break.
UTF8_KINDS = [
    ("utf8", NOTE, 60, b"\r\n"),
    ("utf8-fifth", FORMULAS, 60, b"\r\n"),
    ("utf8-dense", GREEK, 30, b"\r\n"),
    ("utf8-dense-lf", GREEK, 30, b"\n"),
    ("utf8-signs", SIGNS, 0, b""),
    ("utf8-short", "\u03b8=1", 3, b"\r\n"),
    ("french", FRENCH, 60, b"\r\n"),
]

if __name__ == "__main__":
    out = sys.argv[1]
    for name, what, text in KINDS:
        assert stored(text) == LIMIT, name
        open(f"{out}/{name}.txt", "wb").write(text)
        print(f"{name}\t{what}")
    # UTF-8 texts, in lines ending `end`: each character is stored as one byte, a line
    # break as two. Without a line width, one line of the text repeated.
    for name, text, width, end in UTF8_KINDS:
        chars, utf8, size = text * (2 * LIMIT // len(text) + 1), b"", 0
        for i in range(0, len(chars), width or LIMIT):
            line = chars[i:i + (width or LIMIT)]
            if size + len(line) + 2 > LIMIT:
                line = line[:LIMIT - size] if not width else ""
                utf8 += line.encode()
                size += len(line)
                break
            utf8 += line.encode() + end
            size += len(line) + 2
        open(f"{out}/{name}.txt", "wb").write(utf8 + b"a" * (LIMIT - size))
    # The French prose as Windows-1252 and as UTF-16 with its byte order mark: the same characters.
    french = open(f"{out}/french.txt", "rb").read().decode()
    open(f"{out}/french-1252.txt", "wb").write(french.encode("cp1252"))
    open(f"{out}/french-16.txt", "wb").write(("\ufeff" + french).encode("utf-16-le"))
