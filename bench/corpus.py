#!/usr/bin/env python3
"""Tries sorvel -u and sorvel -r on the texts of this machine that a new user would try: the
licences, the packages' documentation (copyright files, READMEs, news and changelogs, compressed
or not) and every 25th man page of section 1 in each language, rendered as UTF-8 text. Prints how
many were stored, too big or refused, and the characters refused most often, for each option.

Usage: bench/corpus.py SORVEL [DIR]   (the texts are kept in DIR, by default a new directory)
"""
import collections, gzip, hashlib, os, re, subprocess, sys, tempfile, unicodedata


def collect(out):
    """Writes each text once into `out`."""
    seen = set()

    def keep(kind, data):
        digest = hashlib.sha1(data).hexdigest()
        if data and digest not in seen:
            seen.add(digest)
            open(os.path.join(out, f"{kind}-{len(seen):05d}.txt"), "wb").write(data)

    for name in sorted(os.listdir("/usr/share/common-licenses")):
        keep("licence", open(os.path.join("/usr/share/common-licenses", name), "rb").read())
    for root, dirs, files in os.walk("/usr/share/doc"):
        dirs.sort()
        for f in sorted(files):
            path, low = os.path.join(root, f), f.lower()
            if os.path.islink(path) or not (low == "copyright" or low.startswith(("readme", "news", "changelog", "authors", "thanks"))
                                            or low.endswith((".txt", ".md", ".txt.gz", ".md.gz"))):
                continue
            data = open(path, "rb").read()
            try:
                keep("doc", gzip.decompress(data) if f.endswith(".gz") else data)
            except OSError:
                pass
    env = dict(os.environ, MANWIDTH="80", LANG="C.UTF-8", MAN_KEEP_FORMATTING="")
    for lang in [""] + sorted(os.listdir("/usr/share/man")):
        section = os.path.join("/usr/share/man", lang, "man1")
        if os.path.isdir(section):
            for page in sorted(os.listdir(section))[::25]:
                rendered = subprocess.run(f"man -E UTF-8 -l '{os.path.join(section, page)}' 2>/dev/null | col -b",
                                          shell=True, env=env, capture_output=True).stdout
                keep("man", rendered)


def run(sorvel, folder, option):
    """Converts every text with `option`; prints the counts and the first refused characters."""
    work = tempfile.mkdtemp()
    results, refused = collections.Counter(), collections.Counter()
    for name in sorted(os.listdir(folder)):
        data = open(os.path.join(folder, name), "rb").read()
        try:
            wellformed = "\0" not in data.decode("utf-8")
        except UnicodeDecodeError:
            wellformed = False
        r = subprocess.run([sorvel, option, os.path.join(folder, name), "t"], cwd=work, capture_output=True)
        results[(wellformed, {0: "stored", 3: "too big", 6: "refused"}.get(r.returncode, f"status {r.returncode}"))] += 1
        m = re.search(r"no calculator character for U\+([0-9A-F]+)", r.stdout.decode("utf-8", "replace"))
        if m:
            refused[int(m.group(1), 16)] += 1
    print(f"sorvel {option}:")
    for (wellformed, kind), n in sorted(results.items()):
        print(f"  {'well-formed UTF-8 without NUL' if wellformed else 'malformed UTF-8 or NUL':30} {kind:8} {n:5}")
    for cp, n in refused.most_common(12):
        print(f"  {n:5} refused first for U+{cp:04X} {unicodedata.name(chr(cp), '?')}")


if __name__ == "__main__":
    folder = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    if not os.listdir(folder):
        collect(folder)
    for option in ("-u", "-r"):
        run(os.path.abspath(sys.argv[1]), os.path.abspath(folder), option)
