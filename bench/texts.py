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

if __name__ == "__main__":
    out = sys.argv[1]
    for name, what, text in KINDS:
        assert stored(text) == LIMIT, name
        open(f"{out}/{name}.txt", "wb").write(text)
        print(f"{name}\t{what}")
    # UTF-8 texts, in lines ending CR LF: each character is stored as one byte.
    for name, text, width in (("utf8", NOTE, 60), ("utf8-dense", GREEK, 30)):
        chars, utf8, size = text * 1000, b"", 0
        for i in range(0, len(chars), width):
            line = chars[i:i + width]
            if size + len(line) + 2 > LIMIT:
                break
            utf8 += line.encode() + b"\r\n"
            size += len(line) + 2
        open(f"{out}/{name}.txt", "wb").write(utf8 + b"a" * (LIMIT - size))
