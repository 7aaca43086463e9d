"""Writes the one-file page: inline.py TEMPLATE VERSION OUT CSS JS... puts the style sheet and the
scripts, joined into one, into the template, each allowed by its hash in the page's
Content-Security-Policy, and the version where it is named."""
import base64
import hashlib
import sys

template, version, out, css, *scripts = sys.argv[1:]
parts = {'STYLE': open(css, encoding='utf-8').read(),
         'SCRIPT': '\n'.join(open(js, encoding='utf-8').read() for js in scripts)}
if '</' in parts['STYLE'] or '</script' in parts['SCRIPT'].lower():
    sys.exit('inline.py: the style sheet or the script would end its element early')
page = open(template, encoding='utf-8').read().replace('@VERSION@', version)
for name, text in parts.items():
    digest = base64.b64encode(hashlib.sha256(text.encode('utf-8')).digest()).decode()
    page = page.replace(f'@{name}_HASH@', 'sha256-' + digest)
before, after = page.split('@STYLE@')
page = before + parts['STYLE'] + after
before, after = page.split('@SCRIPT@')
with open(out, 'w', encoding='utf-8') as f:
    f.write(before + parts['SCRIPT'] + after)
