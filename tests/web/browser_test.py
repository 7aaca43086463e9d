#!/usr/bin/python3
# sorvel.html in headless Chromium, opened from disk and driven through its file chooser, as
# independent named cases, each on a page just loaded (a failure names its case; the others still
# run): every file it offers is the console program's output for the same input and reading,
# byte for byte, and every message a teacher's sentence with its next step; sorvel.convert and
# sorvel.extract give the program's statuses and messages; no request leaves the page, nothing goes to its console, axe-core finds no
# violation, and it fits a phone's width. Behind a fake WebUSB device as strict and as slow as the
# hardware (fake_usb.js), the link tests' simulated calculator (SIM_JS) stores what the page
# sends, byte for byte as the variable files hold it, and gives it back; each failure of the cable
# or the calculator reaches the row with its next step.
#     browser_test.py PAGE SORVEL AXE_JS SIM_JS [CASE...]   (CASE: run only the cases named)
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time
import traceback

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

page, program, axe, sim = (pathlib.Path(a).resolve() for a in sys.argv[1:5])
if not axe.exists():
    sys.exit(f'{axe} is missing: npm ci --prefix tests/web')
work = pathlib.Path(tempfile.mkdtemp(prefix='sorvel-web-'))
downloads, inputs = work / 'downloads', work / 'inputs'
inputs.mkdir()
cases, failures, running = [], [], ''


def check(ok, what):
    if not ok:
        failures.append(f'{running}: {what}')
        print(f'FAIL {running}: {what}')


# The Linux program's status, message (standard error, then output) and files made for
# `sorvel ARGS FILE... AFTER` in a directory holding only `files`, {name: bytes}.
def console(args, files, after=()):
    d = pathlib.Path(tempfile.mkdtemp(dir=work))
    for name, data in files.items():
        (d / name).write_bytes(data)
    r = subprocess.run([program, *args, *files, *after], cwd=d, capture_output=True)
    made = {f.name: f.read_bytes() for f in d.iterdir() if f.name not in files}
    # The page words its own next step, so the console's "hint:" lines after a refusal are left out.
    err = b''.join(line for line in r.stderr.splitlines(True) if not line.startswith(b'hint: '))
    return r.returncode, (err + r.stdout).decode().rstrip('\n'), made


options = webdriver.ChromeOptions()
options.binary_location = os.environ.get('SORVEL_CHROMIUM', '/usr/bin/chromium')
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile', '--window-size=1000,900'):
    options.add_argument(arg)
options.add_experimental_option('prefs', {'download.default_directory': str(downloads),
                                          'profile.default_content_setting_values.automatic_downloads': 1})
options.set_capability('goog:loggingPrefs', {'performance': 'ALL', 'browser': 'ALL'})
driver = webdriver.Chrome(service=Service(os.environ.get('SORVEL_CHROMEDRIVER', '/usr/bin/chromedriver')), options=options)
wait = WebDriverWait(driver, 10)


# The bytes of file `name` that clicking `element` downloads.
def download(element, name):
    element.click()
    path = downloads / name
    # Chromium may show the final name before the last bytes are in: wait for its partial file too.
    wait.until(lambda _: path.exists() and path.stat().st_size > 0 and not any(downloads.glob('*.crdownload')))
    data = path.read_bytes()
    path.unlink()
    return data


def row(file_name):
    return driver.find_element(By.XPATH, f'//ul[@id="rows"]/li[.//h2="{file_name}"]')


# Chooses the inputs `names`, and `files` ({name: bytes}) written first, through the file
# chooser; returns the one announcement the page then makes.
def choose(*names, **files):
    for name, data in files.items():
        (inputs / name).write_bytes(data)
    driver.execute_script("document.getElementById('status').textContent = ''")
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(inputs / n) for n in names + tuple(files)))
    wait.until(lambda d: d.find_element(By.ID, 'status').text not in ('', 'Reading...'))
    return driver.find_element(By.ID, 'status').text


def tick(box_id, on):
    box = driver.find_element(By.ID, box_id)
    if box.is_selected() != on:
        box.click()


def axe_violations():
    driver.execute_script(axe.read_text())
    return driver.execute_async_script('''
        axe.run().then((r) => arguments[0](r.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target).join(' '))));''')


# What the calculator stores of each variable of variable file `file`, by folder\\name: the
# big-endian size and the data, as the file frames them (its header lists folders and variables).
def stored_as(file):
    out, folder = {}, file[10:18].rstrip(b'\0').decode('latin-1')
    for e in range(int.from_bytes(file[58:60], 'little')):
        entry = file[60 + 16 * e:76 + 16 * e]
        at, name = int.from_bytes(entry[:4], 'little'), entry[4:12].rstrip(b'\0').decode('latin-1')
        if entry[12] == 0x1F:
            folder = name
        else:
            out[f'{folder}\\{name}'] = list(file[at + 4:at + 6 + int.from_bytes(file[at + 4:at + 6], 'big')])
    return out


# The device as slow as the cable (libticables2's 5 KB/s, taken for the Titanium's port too), on a
# clock 20 times faster than the wall's.
SLOW = {'rate': 5000, 'speed': 20}


# The outcome that `button` gives in its place with the calculator and the device set by `calc`
# (SLOW unless it says), once the transfer is over; the page's announcements since, in `said`.
def transfer(button, **calc):
    driver.execute_script('calc(arguments[0]); window.said ||= new MutationObserver((rs) => rs.forEach((r) => r.addedNodes.forEach('
                          '(n) => said.push(n.data)))).observe(document.getElementById("status"), {childList: true}) || []; said.length = 0',
                          {**SLOW, **calc})
    place = button.find_element(By.XPATH, './ancestor::li//div[@class="link-state"] | ./ancestor::main//div[@id="send-all-state"]') \
        if button.get_attribute('id') != 'from' else driver.find_element(By.ID, 'calc-list')
    driver.execute_script('arguments[0].replaceChildren()', place)
    button.click()
    WebDriverWait(driver, 20).until(lambda _: not place.find_elements(By.TAG_NAME, 'progress') and place.text)
    return place.text


def send_button(name):
    return row(name).find_element(By.XPATH, './/button[.="Send to calculator"]')


TEXTS = {'notes.txt': 'Café θ≤1\r\nline two\n'.encode(), 'raw.txt': b'ok\r\nab\xffc tail', 'wide.txt': '\ufeffÉté\r\n'.encode('utf-16-le')}
READ_AS = {'notes.txt': 'utf-8', 'raw.txt': 'windows-1252', 'wide.txt': 'utf-16'}
LONG = {'book.txt': ''.join(f'line {i} of the book\n' for i in range(10000)).encode(), 'notes.txt': b'short\n'}


# Every message the page shows ends with a full stop, after its next step.
def sentences():
    said = [e.text for e in driver.find_elements(By.CSS_SELECTOR, '.error, .note, .warn, .hint') if e.text]
    check(all(t.endswith('.') for t in said), f'a message without its full stop: {said}')


# A folder of texts in UTF-8, Windows-1252 and UTF-16, each read as what it is, with no box to
# flip, for two models: each download is the console program's with that --encoding, and so is
# the group of all; one row read otherwise changes that row alone (refused as UTF-8 on line 2,
# its character marked; as the calculator's bytes); then Replace, with its note.
@cases.append
def settings_remake_rows():
    choose(**TEXTS)
    for model in ('92', 'v200'):
        Select(driver.find_element(By.ID, 'model')).select_by_value(model)
        for name, data in TEXTS.items():
            [(out, made)] = console(['-m', model, f'--encoding={READ_AS[name]}'], {name: data}, [name[:-4]])[2].items()
            check(download(row(name).find_element(By.LINK_TEXT, out), out) == made
                  and Select(row(name).find_element(By.TAG_NAME, 'select')).first_selected_option.text == READ_AS[name].title().replace('Utf', 'UTF'),
                  f'{name} -m {model}: {out}')
    check(download(driver.find_element(By.ID, 'all'), 'texts.v2g') == console(['-m', 'v200', '--encoding=auto', '-g', 'texts.v2g'], TEXTS)[2].get('texts.v2g'),
          'the group file')
    reading = Select(row('raw.txt').find_element(By.TAG_NAME, 'select'))
    reading.select_by_value('utf8')
    mark = row('raw.txt').find_element(By.TAG_NAME, 'mark')
    check(row('raw.txt').find_element(By.CLASS_NAME, 'error').text.startswith('Line 2, character 3 (marked below) is not UTF-8.')
          and driver.execute_script('return arguments[0].previousSibling.data', mark) == 'ab', 'raw.txt as UTF-8: the line')
    reading.select_by_value('calculator')
    [(out, made)] = console(['-m', 'v200', '--encoding=calculator'], {'raw.txt': TEXTS['raw.txt']}, ['raw'])[2].items()
    check(download(row('raw.txt').find_element(By.LINK_TEXT, out), out) == made
          and download(row('notes.txt').find_element(By.LINK_TEXT, 'notes.v2t'), 'notes.v2t')
          == console(['-m', 'v200', '-u'], {'notes.txt': TEXTS['notes.txt']})[2]['notes.v2t'], 'raw.txt as bytes, notes.txt as it was')
    sentences()
    tick('replace', True)
    czech = 'Příliš žluťoučký kůň\n'.encode()
    choose(**{'cz.txt': czech})
    status, message, made = console(['-r', '-m', 'v200'], {'cz.txt': czech})
    check(download(row('cz.txt').find_element(By.LINK_TEXT, 'cz.v2t'), 'cz.v2t') == made['cz.v2t']
          and row('cz.txt').find_element(By.CLASS_NAME, 'note').text.startswith('7 characters replaced'), f'cz.txt -r: {message}')


# sorvel.convert, extract and group as the program: options before the file, its name and bytes.
@cases.append
def interface_as_the_program():
    image = console([], {'n.txt': b'abc'})[2]['n.89t']
    for args, name, data in (
            (['-u'], 'big.txt', b'a' * 65508),           # 3: too big in UTF-8
            ([], 'big.txt', b'a' * 65508),               # 4: refused by the writer
            (['-u', '-m', '92p'], 'chapter12.v1.txt', 'é\nθ'.encode()),
            (['-u'], '€uro.txt', b'x'),                  # 6: the name
            (['-r'], 'n.txt', 'ř\nœ€'.encode()),        # 0 and the note of what was replaced
            (['-x', '-u'], 'n.89t', image),
            (['-x'], 'n.89t', image[:-1]),               # 6: cut short
            (['-x'], 'n.89t', image[:64] + b'../x\0' + image[69:])):  # 6: no safe file name
        status, message, made = console(args, {name: data})
        o = {'file': name, 'utf8': '-u' in args, 'replace': '-r' in args,
             'model': args[args.index('-m') + 1] if '-m' in args else '89'}
        r = driver.execute_script('''
            const r = sorvel[arguments[0] ? 'extract' : 'convert'](new Uint8Array(arguments[1]), arguments[2]);
            const files = r.texts || (r.status ? [] : [r]);
            return [r.status, r.message, Object.fromEntries(files.map((f) => [f.fileName, Array.from(f.bytes)]))];''',
                                  '-x' in args, list(data), o)
        check(r == [status, message, {k: list(v) for k, v in made.items()}], f'sorvel {args} {name}: {r[:2]}')
    # Two texts that give one name.
    texts = {'a.txt': b'x', 'a.text': b'y'}
    r = driver.execute_script('''
        const r = sorvel.group(arguments[0].map(([file, b]) => ({file, bytes: sorvel.convert(new Uint8Array(b), {file}).bytes})));
        return [r.status, r.message];''', [[name, list(data)] for name, data in texts.items()])
    check(r == list(console(['-u', '-g', 'texts.89g'], texts)[:2]), f'sorvel.group: {r}')


# Choosing a file again under its name replaces its row; Remove and Clear all, by keyboard.
@cases.append
def rows_by_keyboard():
    choose(**TEXTS, **{'g.txt': b'x'})
    said = choose(**{'notes.txt': TEXTS['notes.txt'] + b'more\n'})
    [(out, data)] = console(['-u'], {'notes.txt': TEXTS['notes.txt'] + b'more\n'}, ['notes'])[2].items()
    check(len(driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="notes.txt"]')) == 1 and 'replacing the rows of notes.txt' in said
          and download(row('notes.txt').find_element(By.LINK_TEXT, out), out) == data, f'a file chosen again: {said}')
    driver.execute_script("document.getElementById('zone').focus()")
    for _ in range(60):
        focused = driver.switch_to.active_element
        if focused.get_attribute('aria-label') == 'Remove wide.txt':
            break
        focused.send_keys(Keys.TAB)
    focused.send_keys(Keys.ENTER)
    check(not driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="wide.txt"]')
          and driver.switch_to.active_element.get_attribute('aria-label') == 'Remove g.txt', 'Remove, by keyboard')
    driver.find_element(By.ID, 'clear').click()
    check(driver.find_elements(By.CSS_SELECTOR, '#rows > li') == [], 'Clear all')


# Names proposed as the calculator takes them, never one it keeps for itself (sin: the note says
# which was picked); a typed one it would not take, or keeps, kept with a warning that names what
# the file is named after; an empty one, or one a browser would save under another name, refused;
# read as the calculator's bytes, a name is stored as its bytes, so the proposed one is ASCII; two
# rows that give one name both say so, and neither Download all nor Send all is offered.
@cases.append
def names():
    said = choose(**{'Physics Formulas.txt': b'F=ma\n', 'sin.txt': b'x\n'})
    field = row('Physics Formulas.txt').find_element(By.TAG_NAME, 'input')
    check(field.get_attribute('value') == 'physics' and field.accessible_name == 'Variable name for Physics Formulas.txt'
          and said.startswith('2 files read: 2 ready'), f'the proposed name: {field.get_attribute("value")}, {field.accessible_name}, {said}')
    [(out, data)] = console(['-u'], {'sin.txt': b'x\n'}, ['sin1'])[2].items()
    check(row('sin.txt').find_element(By.CLASS_NAME, 'warn').text.startswith('sin is a name the calculator keeps for itself, so this text is named sin1.')
          and download(row('sin.txt').find_element(By.LINK_TEXT, out), out) == data, 'sin.txt: sin1')
    for name, warned in (('θ1', ''), ('€', 'does not begin'), ('Phys', 'does not begin'), ('ans', 'keeps for itself'),
                         ('formulas12', 'named formulas,'), ('', ''), ('a/b', ''), ('..', '')):
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys(Keys.DELETE)
        field.send_keys(name)
        r = row('Physics Formulas.txt')
        status, message, made = console(['-u'], {'Physics Formulas.txt': b'F=ma\n'}, [name]) if name else (1, '', {})
        if name in ('', 'a/b', '..'):
            ok = r.find_elements(By.CSS_SELECTOR, 'a[href]') == [] and field.get_attribute('aria-invalid') == 'true' \
                and 'Type a' in r.find_element(By.CLASS_NAME, 'error').text
        elif status:
            ok = r.find_element(By.CLASS_NAME, 'error').text == f'The calculator cannot store the variable name {name}. Type another variable name.'
        else:
            [(out, data)] = made.items()
            ok = download(r.find_element(By.LINK_TEXT, out), out) == data
        warn = r.find_element(By.CLASS_NAME, 'warn')
        check(ok and (warned in warn.text if warned else not warn.is_displayed()), f'name {name!r}: {warn.text}')
    sentences()
    choose(**{'Été.txt': b'x\n'})
    for reading, name in (('utf8', 'été'), ('calculator', 'ete')):
        Select(row('Été.txt').find_element(By.TAG_NAME, 'select')).select_by_value(reading)
        [(out, data)] = console([f'--encoding={reading}'], {'Été.txt': b'x\n'}, [name])[2].items()
        check(row('Été.txt').find_element(By.TAG_NAME, 'input').get_attribute('value') == name
              and download(row('Été.txt').find_element(By.LINK_TEXT, out), out) == data, f'Été.txt: {name}, {out}')
    choose(**{'notes.txt': b'a\n', '2024-notes.txt': b'b\n'})
    check(all(row(a).find_elements(By.XPATH, f'.//p[@class="warn" and starts-with(., "{b} also gives the variable name notes")]')
              for a, b in (('notes.txt', '2024-notes.txt'), ('2024-notes.txt', 'notes.txt')))
          and not driver.find_element(By.ID, 'all').is_enabled() and not driver.find_element(By.ID, 'send-all').is_enabled()
          and 'both give the variable name notes' in driver.find_element(By.ID, 'all-error').text, 'one name on two rows')


# Refusals in a teacher's words, chosen by their codes, with the next step (the interface case
# compares the program's own lines); no preview of a file that is no text; a file beginning with
# a signature is taken as sorvel -x takes it; Download all and Send all say what they hold and
# name what they leave out.
@cases.append
def refusals_with_next_steps():
    bad = {'cz.txt': 'ř\n'.encode(), 'pic.png': b'\x89PNG\r\n\x1a\n\0\0\0\rIHDR', 'bad.89t': b'**TI89**\x01\0main' + b'\0' * 30}
    words = {'cz.txt': 'Line 1, character 1 (marked below) is not among the calculator\'s characters. Tick Replace',
             'pic.png': 'This file is not a text', 'bad.89t': 'This variable file is damaged'}
    said = choose(**{'hello.txt': b'hi\n'}, **bad)
    check('3 refused (cz.txt, pic.png, bad.89t)' in said, f'the refused files named: {said}')
    for name in bad:
        check(row(name).find_element(By.CLASS_NAME, 'error').text.startswith(words[name]), f'{name}: the words')
    check(row('pic.png').find_elements(By.TAG_NAME, 'pre') == [], 'no preview of a picture')
    check(driver.find_element(By.ID, 'all').text == 'Download 1 of 3 texts as one group file (texts.89g)'
          and driver.find_element(By.ID, 'send-all').text == 'Send 1 of 3 texts to the calculator'
          and driver.find_element(By.ID, 'all-note').text == 'Left out, as refused: cz.txt, pic.png. Their rows say what to do.',
          f'Download all: {driver.find_element(By.ID, "all").text}')
    sentences()


# Split, Archive and Folder reach every row (the end-to-end table covers each option): split for
# the TI-92, which has no archive, the long text's row and Send all note that its parts take more
# than its RAM, as the console program counts it; for the TI-89, Archive ticked, each download as
# sorvel -s -a -f gives it, a long text's row listing its parts, and the group of all as
# sorvel -s -a -f -g.
@cases.append
def split_folder_archive():
    choose(**LONG)
    check(row('book.txt').find_element(By.CLASS_NAME, 'error').text.endswith('Tick Split long texts to store it as several variables.'),
          'a long text: split it')
    tick('split', True)
    for model, then in (('92', 'Send fewer at a time: it has no archive.'), ('89', 'Tick Archive to store them in the archive')):
        Select(driver.find_element(By.ID, 'model')).select_by_value(model)
        ram = console(['-u', '-s', '-m', model], {'book.txt': LONG['book.txt']}, ['book'])[1]
        n, size, free = re.search(r'(\d+) variables of (\d+) bytes in all, more than the ([^;]+);', ram).groups()
        note = row('book.txt').find_element(By.CLASS_NAME, 'note').text
        check(note.startswith(f'{n} variables of {int(size):,} bytes in all: more than the {free}. {then}')
              and then in driver.find_element(By.ID, 'all-error').text, f'{model}: the RAM note: {note}, {ram}')
    Select(driver.find_element(By.ID, 'model')).select_by_value('92')
    check(not driver.find_element(By.ID, 'archive').is_enabled() and 'TI-92 has no archive' in driver.find_element(By.ID, 'archive-hint').text,
          'no archive on the TI-92')
    Select(driver.find_element(By.ID, 'model')).select_by_value('89')
    tick('archive', True)
    driver.find_element(By.ID, 'folder').send_keys('work', Keys.TAB)
    args = ['-u', '-s', '-a', '-f', 'work']
    for name, data in LONG.items():
        [(out, made)] = console(args, {name: data}, [name[:-4]])[2].items()
        check(download(row(name).find_element(By.LINK_TEXT, out), out) == made, f'{name}: {out}')
    check(row('book.txt').find_element(By.CLASS_NAME, 'parts').text == '4 variables: book1, book2, book3, book4'
          and row('book.txt').find_element(By.CLASS_NAME, 'note').text == '', 'the parts, no RAM note when archived')
    check(download(driver.find_element(By.ID, 'all'), 'texts.89g') == console(args + ['-g', 'texts.89g'], LONG)[2].get('texts.89g'),
          'the group file')


# A text of 1 GB refused within a second, a variable file over 4 MiB as -x; a drop while scrolled
# down shows its overlay on the screen; a new row is scrolled into view.
@cases.append
def bounded_reading_and_layout():
    with open(inputs / 'huge.txt', 'wb') as f, open(inputs / 'huge.89t', 'wb') as g:
        f.write(b'a' * (1 << 20))
        f.truncate(1 << 30)
        g.write(console([], {'n.txt': b'abc'})[2]['n.89t'])
        g.truncate(5 << 20)
    start = time.monotonic()
    choose('huge.txt', 'huge.89t')
    check(time.monotonic() - start < 1, f'1 GB read in {time.monotonic() - start:.2f} s')
    check(row('huge.txt').find_element(By.CLASS_NAME, 'error').text.startswith('This text is longer than one variable holds')
          and row('huge.89t').find_element(By.CLASS_NAME, 'error').text.startswith('This file is larger than any variable file'), 'huge.txt, huge.89t')
    driver.execute_script('scrollTo(0, document.body.scrollHeight); dispatchEvent(new DragEvent("dragover", {cancelable: true}))')
    box = driver.execute_script('return document.getElementById("overlay").getBoundingClientRect().toJSON()')
    check(box['top'] == 0 and box['height'] > 0, f'the drop overlay: {box}')
    driver.execute_script('dispatchEvent(new DragEvent("dragleave")); scrollTo(0, 0)')
    choose(**{'last.txt': b'x\n' * 30})
    check(driver.execute_script('const r = arguments[0].getBoundingClientRect(); return r.top >= 0 && r.top < innerHeight',
                                row('last.txt')), 'the new row scrolled into view')


# Sending one row, a split row and all, over the cable and the TI-89 Titanium's own port (its
# pauses between variables): the calculator stores each variable as its file holds it, the
# outcome is announced, the chooser opens once for both devices.
@cases.append
def send_rows_and_all():
    tick('split', True)
    choose(**{'hello.txt': b'Hello\ncalculator\n'}, **LONG)
    for name, file, usb in (('hello.txt', 'hello.89t', False), ('book.txt', 'book.89g', True), (None, 'texts.89g', True),
                            (None, 'texts.89g', False)):
        button = send_button(name) if name else driver.find_element(By.ID, 'send-all')
        expected = stored_as(download(row(name).find_element(By.LINK_TEXT, file) if name else driver.find_element(By.ID, 'all'), file))
        said = transfer(button, usb=usb)
        announced = driver.execute_script('return said')
        check(dict(driver.execute_script('return stored()')) == expected and announced[-1].endswith(said)
              and said == (f'Sent to the calculator as {", ".join(expected)}.' if name else f'Stored on the calculator: {", ".join(expected)}.')
              and (not name or 2 <= len(announced) <= 5), f'{file} {usb}: {said}, {announced}')
    # Send all refused part way: what was stored, what was refused with its next step, what was not tried.
    said = transfer(driver.find_element(By.ID, 'send-all'), vars=[{'folder': 'main', 'name': 'book2', 'attribute': 1, 'stored': [0, 1, 0]}])
    held = dict(driver.execute_script('return stored()'))
    check(said.startswith('Stored on the calculator: main\\hello, main\\book1.\nRefused: book.txt. ERROR:')
          and 'refused main\\book2' in said and '\nA locked or archived variable main\\book2 is' in said
          and said.endswith('Not tried: notes.txt. Press Send again once the refusal is dealt with.')
          and 'main\\book1' in held and 'main\\notes' not in held, f'Send all refused part way: {said}')
    check(driver.execute_script('return [sessionStorage.asked, sessionStorage.filters]') ==
          ['1', '[{"vendorId":1105,"productId":57345},{"vendorId":1105,"productId":57348}]'], 'the chooser, once, for both devices')


# The link through the hardware's faults, on each device in turn (a value {False: the cable's,
# True: the Titanium's} for each): a row's words in its outcome. A row that ends failed is
# followed by one that ends sent, which shows that the link was freed.
LINK_ROWS = (
    # 1: the silence counted from the end of each write: a text whose data goes in one write of
    # 960 bytes, 2.4 s at 400 B/s, answered 8 s after each write.
    ('kb', {'rate': 400, 'answerMs': 8000}, 'Sent to the calculator as main\\kb.'),
    # 2: a calculator that stops taking bytes: the write given up at its limit.
    ('hello', {'stopAfter': 20}, 'The calculator stopped taking the bytes.'),
    # 3: opened as libticables2 opens the cable: configuration set, both halts cleared.
    ('hello', {'unconfigured': True, 'outOfStep': True}, 'Sent to the calculator'),
    # 3 and 11: a full max packet of a late answer left in the device, drained at open.
    ('hello', {'stale': {False: [0x98, 0x56, 0, 0] * 8, True: [0, 0, 0, 2, 5, 0xE0, 0] * 9 + [0]}}, 'Sent to the calculator'),
    # 4: a halt cleared once, on either endpoint; a second, or babble, is the cable's fault.
    ('hello', {'halt': {'in': 1}}, 'Sent to the calculator'),
    ('hello', {'halt': {'out': 2}}, 'Sent to the calculator'),
    ('hello', {'halt': {'in': 4}, 'haltAgain': True}, 'The cable reported a fault.'),
    ('hello', {'halt': {'out': 1}, 'haltAgain': True}, 'The cable reported a fault.'),
    ('hello', {'babble': 2}, 'The cable reported a fault.'),
    ('hello', {'goneAfter': 40}, 'The cable or the calculator was unplugged.'),
    ('hello', {'silent': True}, 'The calculator did not answer.'),
    # 6: each refusal's next step chosen by its code.
    ('hello', {'vars': [{'folder': 'main', 'name': 'hello', 'attribute': 1, 'stored': [0, 1, 0]}]},
     'variable main\\hello is on the calculator.'),
    ('hello', {'refusal': {False: 3, True: 0x0C}}, "The calculator's memory is full."),
    ('hello', {'refusal': {False: 0, True: 0x34}}, {False: 'Sent to the calculator', True: 'The calculator is busy.'}),
    ('hello', {}, 'Sent to the calculator as main\\hello.'),
)


@cases.append
def link_through_faults():
    choose(**{'hello.txt': b'Hello\ncalculator\n', 'kb.txt': (b'x' * 39 + b'\n') * 23})
    for name, calc, words in LINK_ROWS:
        for usb in (False, True):
            calc_here = {k: v[usb] if isinstance(v, dict) and usb in v else v for k, v in calc.items()}
            said = transfer(send_button(f'{name}.txt'), usb=usb, **calc_here)
            check((words[usb] if isinstance(words, dict) else words) in said, f'{name} {calc_here}: {said}')


# 1: the largest text at the cable's rate: the bar moves while it goes out, announced at each
# quarter, on both devices.
@cases.append
def progress_within_one_text():
    choose(**{'big.txt': (b'x' * 39 + b'\n') * 1550})
    for usb in (False, True):
        said = transfer(send_button('big.txt'), usb=usb)
        quarters = [a[-3:] for a in driver.execute_script('return said') if a.endswith('%')]
        check(said.startswith('Sent') and quarters == ['25%', '50%', '75%'], f'{usb}: {said}, {quarters}')


# 7 and 8: over the cable the model the calculator says it is wins over the setting, and the page
# says so; texts made on the calculator (type 0x0B) are listed and taken off it with those sent to
# it (0x0C), each a row whose variable file is the console program's and whose text is -x's; a
# name of a letter the calculator stores as one byte, é, shown and taken as it is.
@cases.append
def model_found_and_texts_listed():
    choose(**{'hello.txt': b'hi\n'})
    said = transfer(send_button('hello.txt'), sim={'model': 4})
    check(said.startswith('Found a TI-92 Plus or Voyage 200; sent as one.'), f'a Voyage 200 as a TI-89: {said}')
    held = {f'{d}\\{n}': console(['-u', '-f', d], {f'{n}.txt': t})[2][f'{n}.89t']
            for d, n, t in (('main', 'notes', 'Café θ\n'.encode()), ('main', 'café', b'a\nb'), ('work', 'notes', b'other\n'))}
    vars = [{'folder': v.split('\\')[0], 'name': v.split('\\')[1], 'stored': stored_as(f)[v], 'type': t}
            for (v, f), t in zip(held.items(), (0x0B, 0x0C, 0x0C))]
    for usb in (False, True):
        driver.find_element(By.ID, 'clear').click()
        said = transfer(driver.find_element(By.ID, 'from'), vars=vars, usb=usb)
        check(all(f'{v} (' in said for v in held), f'{usb}: the list: {said}')
        for _ in vars:
            driver.switch_to.active_element.send_keys(Keys.SPACE, Keys.TAB)
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        # Two texts of one name from two folders: two rows, each with its folder.
        WebDriverWait(driver, 20).until(lambda _: len(driver.find_elements(By.CSS_SELECTOR, '#rows > li')) == 3)
        for v, f in held.items():
            n = v.split('\\')[1]
            [(out, text)] = console(['-x', '-u'], {f'{n}.89t': f})[2].items()
            check(download(row(f'{v}.89t').find_element(By.XPATH, f'.//p/a[.="{n}.89t"]'), f'{n}.89t') == f
                  and download(row(f'{v}.89t').find_element(By.LINK_TEXT, out), out) == text, f'{usb} {v}: its file and text')


# 12: when the browser may not open the cable, what each system needs, in the page itself; then
# the rows as they stand, Linux's lines to copy among them, to axe-core in light and dark, and at a
# phone's width nothing wider than the screen.
@cases.append
def open_failures_axe_phone_width():
    choose(**TEXTS, **{'book.txt': LONG['book.txt']})
    for calc, words in (({'platform': 'Windows'}, ('WinUSB', 'Zadig', 'another program')),
                        ({'platform': 'macOS'}, ('Nothing needs installing',)), ({'platform': 'Chrome OS'}, ('Nothing needs installing',)),
                        ({'held': True, 'denied': False}, ('Another program (TI Connect, TiLP) holds the cable',)),
                        ({'platform': 'Linux'}, ('69-sorvel-ti.rules', 'ATTRS{idProduct}=="e004", TAG+="uaccess"', 'chromium:raw-usb'))):
        said = transfer(send_button('notes.txt'), **{'denied': True, **calc})
        check(said.startswith('ERROR: the cable could not be') and all(w in said for w in words) and 'README' not in said, f'{calc}: {said}')
    for scheme in ('light', 'dark'):
        driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': [{'name': 'prefers-color-scheme', 'value': scheme}]})
        violations = axe_violations()
        check(violations == [], f'axe-core, {scheme}: {violations}')
    driver.set_window_size(360, 740)
    check(driver.execute_script('return document.documentElement.scrollWidth <= innerWidth'), 'a phone\'s width')
    driver.set_window_size(1000, 900)


# 2: Cancel from the keyboard while a write never ends, the focus on it while sending (where
# axe-core sees the progress bar), then back on the send button.
@cases.append
def cancel_by_keyboard():
    choose(**{'hello.txt': b'Hello\ncalculator\n'})
    driver.execute_script('calc({stopAfter: 20})')
    send_button('hello.txt').send_keys(Keys.ENTER)
    wait.until(lambda d: d.switch_to.active_element.text == 'Cancel')
    violations = axe_violations()
    check(violations == [], f'axe-core while sending: {violations}')
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    wait.until(lambda _: 'If the calculator shows a link error' in row('hello.txt').find_element(By.CLASS_NAME, 'link-state').text)
    check(driver.switch_to.active_element == send_button('hello.txt'), 'the focus back on the send button after Cancel')


# The settings kept for the next visit; on a touch screen, no word of dropping; the device found
# again after a reload, without the chooser; without WebUSB, a sentence.
@cases.append
def settings_kept_device_found_again():
    for box in ('replace', 'archive'):
        tick(box, True)
    driver.find_element(By.ID, 'folder').send_keys('work', Keys.TAB)
    choose(**{'hello.txt': b'hi\n'})
    transfer(send_button('hello.txt'))
    driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 1})
    driver.refresh()
    kept = [driver.find_element(By.ID, i).is_selected() for i in ('replace', 'split', 'archive')]
    check(kept == [True, False, True] and driver.find_element(By.ID, 'folder').get_attribute('value') == 'work'
          and 'drop' not in driver.find_element(By.TAG_NAME, 'main').text, f'the settings kept, no word of dropping: {kept}')
    driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': False})
    choose('hello.txt')
    check(transfer(send_button('hello.txt')).startswith('Sent') and driver.execute_script('return sessionStorage.asked') == '1',
          'the device found again after a reload')
    driver.execute_script('delete sessionStorage.granted; sessionStorage.refuse = 1')
    driver.refresh()
    choose('hello.txt')
    said, button = transfer(send_button('hello.txt')), send_button('hello.txt')
    check(said.startswith('No cable or calculator was chosen. Press the button again') and driver.switch_to.active_element == button
          and driver.find_element(By.ID, 'status').text == said, f'the chooser closed: said, focus kept: {said}')
    driver.execute_script('delete sessionStorage.refuse')
    driver.get(page.as_uri() + '#nousb')
    driver.refresh()
    choose('hello.txt')
    check('WebUSB' in driver.find_element(By.ID, 'usb-note').text and driver.find_element(By.ID, 'from').get_attribute('disabled')
          and row('hello.txt').find_element(By.LINK_TEXT, 'hello.89t'), 'without WebUSB: a sentence, the download stays')


# Over every case before: nothing asked for but the page itself, nothing on the console.
@cases.append
def nothing_asked_nothing_said():
    events = [json.loads(e['message'])['message'] for e in driver.get_log('performance')]
    urls = [e['params']['request']['url'] for e in events if e['method'] == 'Network.requestWillBeSent']
    check(set(urls[urls.index(page.as_uri()):]) <= {page.as_uri(), page.as_uri() + '#nousb'}
          and not any(e['method'] == 'Network.webSocketCreated' for e in events), f'requests: {urls}')
    check(driver.get_log('browser') == [], 'nothing on the console')


try:
    # Before the page's script, a fake navigator.usb over the simulated calculator (see fake_usb.js).
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                           {'source': sim.read_text() + (pathlib.Path(__file__).parent / 'fake_usb.js').read_text()})
    for f in (f for f in cases if not sys.argv[5:] or f.__name__ in sys.argv[5:]):
        running, started = f.__name__, time.monotonic()
        try:
            # A page just loaded, nothing kept from the case before.
            driver.get('about:blank')
            driver.get(page.as_uri())
            driver.execute_script('localStorage.clear(); sessionStorage.clear()')
            driver.refresh()
            driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})
            f()
        except Exception:
            check(False, traceback.format_exc())
        print(f'{f.__name__}: {time.monotonic() - started:.1f} s')
finally:
    driver.quit()
print(f'{len(failures)} failed:\n' + '\n'.join(failures) if failures else 'all passed')
sys.exit(1 if failures else 0)
