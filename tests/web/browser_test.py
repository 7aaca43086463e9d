#!/usr/bin/python3
# sorvel.html in headless Chromium, opened from disk and driven through its file chooser, as
# independent named cases, each on a page just loaded (a failure names its case; the others still
# run): every file it offers is the console program's output for the same input, byte for byte,
# and every refusal its message; sorvel.convert and sorvel.extract give the program's statuses
# and messages; no request leaves the page, nothing goes to its console, axe-core finds no
# violation, and it fits a phone's width. Behind a fake WebUSB device as strict and as slow as the
# hardware (fake_usb.js), the link tests' simulated calculator (SIM_JS) stores what the page
# sends, byte for byte as the variable files hold it, and gives it back; each failure of the cable
# or the calculator reaches the row with its next step.
#     browser_test.py PAGE SORVEL AXE_JS SIM_JS [CASE...]   (CASE: run only the cases named)
import json
import os
import pathlib
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
    return r.returncode, (r.stderr + r.stdout).decode().rstrip('\n'), made


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


TEXTS = {'notes.txt': 'Café θ≤1\r\nline two\n'.encode(), 'raw.txt': b'ok\r\nab\xffc\x1atail'}
LONG = {'book.txt': ''.join(f'line {i} of the book\n' for i in range(7000)).encode(), 'notes.txt': b'short\n'}


# The model and UTF-8 settings reach every row (the end-to-end table covers each model and mode):
# a text in UTF-8 with both line breaks; one refused in UTF-8 on line 2, holding a 0xFF and a
# Ctrl-Z; then every converted text in one group file, as sorvel -g writes it; Replace, with its
# note.
@cases.append
def settings_remake_rows():
    choose(**TEXTS)
    for model, utf8 in (('92', True), ('v200', False)):
        Select(driver.find_element(By.ID, 'model')).select_by_value(model)
        tick('utf8', utf8)
        args = ['-m', model] + ['-u'] * utf8
        for name in TEXTS:
            status, message, made = console(args, {name: TEXTS[name]})
            if status == 0:
                [(out, data)] = made.items()
                check(download(row(name).find_element(By.LINK_TEXT, out), out) == data, f'{name} {args}: {out}')
            else:
                mark = row(name).find_element(By.TAG_NAME, 'mark')
                check(row(name).find_element(By.CLASS_NAME, 'error').text == message
                      and driver.execute_script('return arguments[0].previousSibling.data', mark) == 'ab', f'{name} {args}: the line')
    check(download(driver.find_element(By.ID, 'all'), 'texts.v2g') == console(['-m', 'v200', '-g', 'texts.v2g'], TEXTS)[2].get('texts.v2g'),
          'the group file')
    tick('utf8', True)
    tick('replace', True)
    czech = 'Příliš žluťoučký kůň\n'.encode()
    choose(**{'cz.txt': czech})
    status, message, made = console(['-r', '-m', 'v200'], {'cz.txt': czech})
    check(download(row('cz.txt').find_element(By.LINK_TEXT, 'cz.v2t'), 'cz.v2t') == made['cz.v2t']
          and row('cz.txt').find_element(By.CLASS_NAME, 'note').text == message, 'cz.txt -r')


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
        if focused.get_attribute('aria-label') == 'Remove raw.txt':
            break
        focused.send_keys(Keys.TAB)
    focused.send_keys(Keys.ENTER)
    check(not driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="raw.txt"]')
          and driver.switch_to.active_element.get_attribute('aria-label') == 'Remove g.txt', 'Remove, by keyboard')
    driver.find_element(By.ID, 'clear').click()
    check(driver.find_elements(By.CSS_SELECTOR, '#rows > li') == [], 'Clear all')


# Names proposed as the calculator takes them; a typed one it would not take kept with a warning;
# an empty one, or one a browser would save under another name, refused; without UTF-8 a name is
# stored as its bytes, so the proposed one is ASCII.
@cases.append
def names():
    said = choose(**{'Physics Formulas.txt': b'F=ma\n'})
    field = row('Physics Formulas.txt').find_element(By.TAG_NAME, 'input')
    check(field.get_attribute('value') == 'physics' and field.accessible_name == 'Variable name for Physics Formulas.txt'
          and said.startswith('1 file read: 1 ready'), f'the proposed name: {field.get_attribute("value")}, {field.accessible_name}, {said}')
    for name, warned in (('θ1', False), ('€', True), ('Phys', True), ('', False), ('a/b', False), ('..', False)):
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys(Keys.DELETE)
        field.send_keys(name)
        r = row('Physics Formulas.txt')
        status, message, made = console(['-u'], {'Physics Formulas.txt': b'F=ma\n'}, [name]) if name else (1, '', {})
        if name in ('', 'a/b', '..'):
            ok = r.find_elements(By.CSS_SELECTOR, 'a[href]') == [] and field.get_attribute('aria-invalid') == 'true' \
                and r.find_element(By.CLASS_NAME, 'hint').text.startswith('Type a')
        elif status:
            ok = r.find_element(By.CLASS_NAME, 'error').text == message
        else:
            [(out, data)] = made.items()
            ok = download(r.find_element(By.LINK_TEXT, out), out) == data
        check(ok and r.find_element(By.CLASS_NAME, 'warn').is_displayed() == warned, f'name {name!r}')
    choose(**{'Été.txt': b'x\n'})
    for on, name in ((True, 'été'), (False, 'ete')):
        tick('utf8', on)
        [(out, data)] = console(['-u'] * on, {'Été.txt': b'x\n'}, [name])[2].items()
        check(row('Été.txt').find_element(By.TAG_NAME, 'input').get_attribute('value') == name
              and download(row('Été.txt').find_element(By.LINK_TEXT, out), out) == data, f'Été.txt: {name}, {out}')


# Messages with the next step, below the program's own line; a file beginning with a signature is
# taken as sorvel -x takes it; Download all says what it holds and names what it leaves out.
@cases.append
def refusals_with_next_steps():
    bad = {'cz.txt': 'ř\n'.encode(), 'cafe.txt': b'caf\xe9\n', 'pic.png': b'\x89PNG\r\n\x1a\n\0\0\0\rIHDR',
           'u16.txt': '\ufeffhi\n'.encode('utf-16-le'), 'bad.89t': b'**TI89**\x01\0main' + b'\0' * 30}
    hints = {'cz.txt': 'Tick Replace to store the closest character',
             'cafe.txt': 'This may not be UTF-8: untick UTF-8, or save the file as UTF-8',
             'pic.png': 'This is not a text file', 'u16.txt': 'This text is UTF-16: save it as UTF-8'}
    said = choose(**{'hello.txt': b'hi\n'}, **bad)
    check('5 refused (cz.txt, cafe.txt, pic.png, u16.txt, bad.89t)' in said, f'the refused files named: {said}')
    for name, data in bad.items():
        message = console(['-x', '-u'] if name == 'bad.89t' else ['-u'], {name: data})[1]
        check(row(name).find_element(By.CLASS_NAME, 'error').text == message, f'{name}: {message}')
        check(name not in hints or row(name).find_element(By.CLASS_NAME, 'hint').text == hints[name], f'{name}: the next step')
    all_button = driver.find_element(By.ID, 'all')
    check(all_button.text == 'Download 1 of 5 texts as one group file (texts.89g)'
          and driver.find_element(By.ID, 'all-note').text == 'Left out, as refused: cz.txt, cafe.txt, pic.png, u16.txt.',
          f'Download all: {all_button.text}')
    tick('utf8', False)
    check(row('u16.txt').find_elements(By.CSS_SELECTOR, 'a[href]') == []
          and row('u16.txt').find_element(By.CLASS_NAME, 'hint').text == hints['u16.txt'], 'UTF-16 without UTF-8: refused')


# Split, Archive and Folder reach every row (the end-to-end table covers each option): each
# download as sorvel -s -a -f gives it, a long text's row listing its parts, and the group of all
# as sorvel -s -a -f -g.
@cases.append
def split_folder_archive():
    choose(**LONG)
    check(row('book.txt').find_element(By.CLASS_NAME, 'error').text == console(['-u'], {'book.txt': LONG['book.txt']})[1]
          and 'Split long texts' in row('book.txt').find_element(By.CLASS_NAME, 'hint').text, 'a long text: split it')
    for box in ('split', 'archive'):
        tick(box, True)
    driver.find_element(By.ID, 'folder').send_keys('work', Keys.TAB)
    args = ['-u', '-s', '-a', '-f', 'work']
    for name, data in LONG.items():
        [(out, made)] = console(args, {name: data}, [name[:-4]])[2].items()
        check(download(row(name).find_element(By.LINK_TEXT, out), out) == made, f'{name}: {out}')
    check(row('book.txt').find_element(By.CLASS_NAME, 'parts').text == '3 variables: book1, book2, book3', 'the parts')
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
    check(row('huge.txt').find_element(By.CLASS_NAME, 'error').text == 'ERROR: text file too big', 'huge.txt refused')
    message = console(['-x'], {'huge.89t': (inputs / 'huge.89t').read_bytes()})[1]
    check(row('huge.89t').find_element(By.CLASS_NAME, 'error').text == message, f'huge.89t: {message}')
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
        check(dict(driver.execute_script('return stored()')) == expected and said == f'Sent to the calculator as {", ".join(expected)}.'
              and 2 <= len(announced) <= 5 and announced[-1].endswith(said), f'{file} {usb}: {said}, {announced}')
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
    held = {n: console(['-u'], {f'{n}.txt': t})[2][f'{n}.89t'] for n, t in (('notes', 'Café θ\n'.encode()), ('café', b'a\nb'))}
    vars = [{'folder': 'main', 'name': n, 'stored': stored_as(f)[f'main\\{n}'], 'type': t} for (n, f), t in zip(held.items(), (0x0B, 0x0C))]
    for usb in (False, True):
        driver.find_element(By.ID, 'clear').click()
        said = transfer(driver.find_element(By.ID, 'from'), vars=vars, usb=usb)
        check('main\\notes (' in said and 'main\\café (' in said, f'{usb}: the list: {said}')
        for _ in vars:
            driver.switch_to.active_element.send_keys(Keys.SPACE, Keys.TAB)
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        WebDriverWait(driver, 20).until(lambda _: len(driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="café.89t"]')))
        for n, f in held.items():
            [(out, text)] = console(['-x', '-u'], {f'{n}.89t': f})[2].items()
            check(download(row(f'{n}.89t').find_element(By.XPATH, f'.//p/a[.="{n}.89t"]'), f'{n}.89t') == f
                  and download(row(f'{n}.89t').find_element(By.LINK_TEXT, out), out) == text, f'{usb} {n}: its file and text')


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
    kept = [driver.find_element(By.ID, i).is_selected() for i in ('utf8', 'replace', 'split', 'archive')]
    check(kept == [True, True, False, True] and driver.find_element(By.ID, 'folder').get_attribute('value') == 'work'
          and 'drop' not in driver.find_element(By.TAG_NAME, 'main').text, f'the settings kept, no word of dropping: {kept}')
    driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': False})
    choose('hello.txt')
    check(transfer(send_button('hello.txt')).startswith('Sent') and driver.execute_script('return sessionStorage.asked') == '1',
          'the device found again after a reload')
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
