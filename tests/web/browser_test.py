#!/usr/bin/python3
"""sorvel.html in headless Chromium, opened from disk and driven through its file chooser: every
file it offers is the console program's output for the same input, byte for byte, and every
refusal its message; sorvel.convert and
sorvel.extract give the program's statuses and messages; no request leaves the page, nothing goes
to its console, axe-core finds no violation, and it fits a phone's width. Behind a fake WebUSB
device, the link tests' simulated calculator (SIM_JS) stores what the page sends, byte for byte
as the variable files hold it, and gives it back; each refusal reaches the row with its next step.
    browser_test.py PAGE SORVEL AXE_JS SIM_JS"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

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
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL:', what)


def console(args, files, after=()):
    """The Linux program's status, message (standard error, then output) and files made for
    `sorvel ARGS FILE... AFTER` in a directory holding only `files`, {name: bytes}."""
    d = pathlib.Path(tempfile.mkdtemp(dir=work))
    for name, data in files.items():
        (d / name).write_bytes(data)
    r = subprocess.run([program, *args, *files, *after], cwd=d, capture_output=True)
    made = {f.name: f.read_bytes() for f in d.iterdir() if f.name not in files}
    return r.returncode, (r.stderr + r.stdout).decode().rstrip('\n'), made


options = webdriver.ChromeOptions()
options.binary_location = '/usr/bin/chromium'
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile', '--window-size=1000,900'):
    options.add_argument(arg)
options.add_experimental_option('prefs', {'download.default_directory': str(downloads),
                                          'profile.default_content_setting_values.automatic_downloads': 1})
options.set_capability('goog:loggingPrefs', {'performance': 'ALL', 'browser': 'ALL'})
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
wait = WebDriverWait(driver, 10)


def download(element, name):
    """The bytes of file `name` that clicking `element` downloads."""
    element.click()
    path = downloads / name
    # Chromium may show the final name before the last bytes are in: wait for its partial file too.
    wait.until(lambda _: path.exists() and path.stat().st_size > 0 and not any(downloads.glob('*.crdownload')))
    data = path.read_bytes()
    path.unlink()
    return data


def row(file_name):
    return driver.find_element(By.XPATH, f'//ul[@id="rows"]/li[.//h2="{file_name}"]')


def choose(*names):
    """Chooses the files `names` of the inputs through the file chooser; returns the one
    announcement the page then makes."""
    driver.execute_script("document.getElementById('status').textContent = ''")
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(inputs / n) for n in names))
    wait.until(lambda d: d.find_element(By.ID, 'status').text not in ('', 'Reading...'))
    return driver.find_element(By.ID, 'status').text


def tick(box_id, on):
    box = driver.find_element(By.ID, box_id)
    if box.is_selected() != on:
        box.click()


def set_up(model, utf8):
    Select(driver.find_element(By.ID, 'model')).select_by_value(model)
    tick('utf8', utf8)


def axe_violations():
    return driver.execute_async_script('''
        axe.run().then((r) => arguments[0](r.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target).join(' '))));''')


# Before the page's script, a fake navigator.usb over the simulated calculator (see fake_usb.js).
FAKE_USB = sim.read_text() + (pathlib.Path(__file__).parent / 'fake_usb.js').read_text()


def stored_as(file):
    """What the calculator stores of each variable of variable file `file`, by folder\\name: the
    big-endian size and the data, as the file frames them (its header lists folders and variables)."""
    out, folder = {}, file[10:18].rstrip(b'\0').decode('latin-1')
    for e in range(int.from_bytes(file[58:60], 'little')):
        entry = file[60 + 16 * e:76 + 16 * e]
        at, name = int.from_bytes(entry[:4], 'little'), entry[4:12].rstrip(b'\0').decode('latin-1')
        if entry[12] == 0x1F:
            folder = name
        else:
            out[f'{folder}\\{name}'] = list(file[at + 4:at + 6 + int.from_bytes(file[at + 4:at + 6], 'big')])
    return out


def transfer(button, **calc):
    """The outcome that `button` (an element, or keys to type there) gives in its place with the
    calculator set by `calc`, once the transfer is over."""
    driver.execute_script('calc(arguments[0])', calc)
    place = button.find_element(By.XPATH, './ancestor::li//div[@class="link-state"] | ./ancestor::main//div[@id="send-all-state"]') \
        if button.get_attribute('id') != 'from' else driver.find_element(By.ID, 'calc-list')
    driver.execute_script('arguments[0].replaceChildren()', place)
    button.click()
    WebDriverWait(driver, 15).until(lambda _: not place.find_elements(By.TAG_NAME, 'progress') and place.text)
    return place.text


try:
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': FAKE_USB})
    driver.get(page.as_uri())
    # A text in UTF-8 with both line breaks; one refused in UTF-8 on line 2 and holding a 0xFF and
    # a Ctrl-Z; a group file holding "abc" and "x".
    files = {'notes.txt': 'Café θ≤1\r\nline two\n'.encode(), 'raw.txt': b'ok\r\nab\xffc\x1atail',
             'g.89g': console(['-g', 'g.89g'], {'abc.txt': b'abc', 'x.txt': b'x'})[2]['g.89g']}
    for name, data in files.items():
        (inputs / name).write_bytes(data)
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(inputs / name) for name in files))
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, '#rows > li')) == len(files))

    # Each setting redoes every row: each model in UTF-8, then bytes as they are.
    for model, utf8 in (('89', True), ('92', True), ('92p', True), ('v200', True), ('v200', False)):
        set_up(model, utf8)
        args = ['-m', model] + ['-u'] * utf8
        for name in ('notes.txt', 'raw.txt'):
            status, message, made = console(args, {name: files[name]})
            what = f'{name} {args}'
            if status == 0:
                [(out, data)] = made.items()
                check(download(row(name).find_element(By.LINK_TEXT, out), out) == data, f'{what}: {out}')
            else:
                check(row(name).find_element(By.CLASS_NAME, 'error').text == message, f'{what}: the message')
                # The line the refusal points at, its character marked.
                mark = row(name).find_element(By.TAG_NAME, 'mark')
                check(driver.execute_script('return arguments[0].previousSibling.data', mark) == 'ab', f'{what}: the line')
        status, message, made = console(['-x'] + ['-u'] * utf8, {'g.89g': files['g.89g']})
        links = row('g.89g').find_elements(By.TAG_NAME, 'a')
        check(sorted(a.text for a in links) == sorted(made), f'g.89g {utf8}: the texts')
        for a in links:
            check(download(a, a.text) == made.get(a.text), f'g.89g {utf8}: {a.text}')

    # Every converted text in one group file, as sorvel -g writes it.
    group = download(driver.find_element(By.ID, 'all'), 'texts.v2g')
    texts = {name: files[name] for name in ('notes.txt', 'raw.txt')}
    check(group == console(['-m', 'v200', '-g', 'texts.v2g'], texts)[2].get('texts.v2g'), 'the group file')

    # A variable name typed, then one refused.
    set_up('89', True)
    field = row('notes.txt').find_element(By.TAG_NAME, 'input')
    for name in ('θ1', '€'):
        field.clear()
        field.send_keys(name)
        status, message, made = console(['-u'], {'notes.txt': files['notes.txt']}, [name])
        if status == 0:
            [(out, data)] = made.items()
            check(download(row('notes.txt').find_element(By.LINK_TEXT, out), out) == data, f'name {name}')
        else:
            check(row('notes.txt').find_element(By.CLASS_NAME, 'error').text == message, f'name {name}: the message')

    # Replacements asked for: a Czech text, as sorvel -r stores it, with its note.
    (inputs / 'cz.txt').write_bytes(czech := 'Příliš žluťoučký kůň\n'.encode())
    driver.find_element(By.ID, 'files').send_keys(str(inputs / 'cz.txt'))
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, '#rows > li')) == len(files) + 1)
    driver.find_element(By.ID, 'replace').click()
    status, message, made = console(['-r'], {'cz.txt': czech})
    check(download(row('cz.txt').find_element(By.LINK_TEXT, 'cz.89t'), 'cz.89t') == made['cz.89t'], 'cz.txt -r')
    check(row('cz.txt').find_element(By.CLASS_NAME, 'note').text == message, 'cz.txt -r: the note')

    # The interface, as the program: options before the file, its name and bytes.
    image = console([], {'n.txt': b'abc'})[2]['n.89t']
    for args, name, data in (
            (['-u'], 'big.txt', b'a' * 65508),           # 3: too big in UTF-8
            ([], 'big.txt', b'a' * 65508),               # 4: refused by the writer
            ([], 'lf.txt', b'\n' * 32764 + b'\x1a'),     # 3: too big by its line breaks
            (['-u', '-m', '92p'], 'chapter12.v1.txt', 'é\nθ'.encode()),
            (['-u'], '€uro.txt', b'x'),                  # 6: the name
            (['-u'], 'n.txt', b'a\r\nb\0'),              # 6: a NUL, line 2
            (['-r'], 'n.txt', 'ř\nœ€'.encode()),        # 0 and the note of what was replaced
            (['-x', '-u'], 'n.89t', image),
            (['-x'], 'n.89t', image[:-1]),               # 6: cut short
            (['-x'], 'n.89t', b'no calculator file'),    # 6: its signature looked at first
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

    # sorvel.group as sorvel -g, for two texts that give one name.
    texts = {'a.txt': b'x', 'a.text': b'y'}
    status, message, _ = console(['-u', '-g', 'texts.89g'], texts)
    r = driver.execute_script('''
        const r = sorvel.group(arguments[0].map(([file, b]) => ({file, bytes: sorvel.convert(new Uint8Array(b), {file}).bytes})));
        return [r.status, r.message];''', [[name, list(data)] for name, data in texts.items()])
    check(r == [status, message], f'sorvel.group: {r}')

    # Rows: choosing a file again under its name replaces its row; Remove and Clear all, by keyboard.
    tick('replace', False)
    (inputs / 'notes.txt').write_bytes(files['notes.txt'] + b'more\n')
    said = choose('notes.txt')
    check(len(driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="notes.txt"]')) == 1
          and 'replacing the rows of notes.txt' in said, f'a file chosen again: {said}')
    [(out, data)] = console(['-u'], {'notes.txt': files['notes.txt'] + b'more\n'}, ['notes'])[2].items()
    check(download(row('notes.txt').find_element(By.LINK_TEXT, out), out) == data, 'the replaced row')
    driver.execute_script("document.getElementById('zone').focus()")
    for _ in range(60):
        focused = driver.switch_to.active_element
        if focused.get_attribute('aria-label') == 'Remove raw.txt':
            break
        focused.send_keys(Keys.TAB)
    focused.send_keys(Keys.ENTER)
    check(not driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="raw.txt"]')
          and driver.switch_to.active_element.get_attribute('aria-label') == 'Remove g.89g', 'Remove, by keyboard')
    driver.find_element(By.ID, 'clear').click()
    check(driver.find_elements(By.CSS_SELECTOR, '#rows > li') == [], 'Clear all')

    # Names: proposed as the calculator takes them; a typed one it would not take kept with a
    # warning; an empty one, or one a browser would save under another name, refused.
    (inputs / 'Physics Formulas.txt').write_bytes(b'F=ma\n')
    said = choose('Physics Formulas.txt')
    field = row('Physics Formulas.txt').find_element(By.TAG_NAME, 'input')
    check(field.get_attribute('value') == 'physics' and field.accessible_name == 'Variable name for Physics Formulas.txt',
          f'the proposed name: {field.get_attribute("value")}, {field.accessible_name}')
    for name, warned in (('physics', False), ('Phys', True), ('', False), ('a/b', False), ('..', False)):
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys(Keys.DELETE)
        field.send_keys(name)
        r = row('Physics Formulas.txt')
        check(r.find_element(By.CLASS_NAME, 'warn').is_displayed() == warned, f'name {name!r}: the warning')
        made = console(['-u'], {'Physics Formulas.txt': b'F=ma\n'}, [name])[2] if name else {}
        if name in ('', 'a/b', '..'):
            check(r.find_elements(By.CSS_SELECTOR, 'a[href]') == [] and field.get_attribute('aria-invalid') == 'true'
                  and r.find_element(By.CLASS_NAME, 'hint').text.startswith('Type a'), f'name {name!r} refused')
        else:
            [(out, data)] = made.items()
            check(download(r.find_element(By.LINK_TEXT, out), out) == data, f'name {name!r}: {out}')
    check(said.startswith('1 file read: 1 ready'), f'one announcement: {said}')
    field.send_keys(Keys.CONTROL, 'a')
    field.send_keys('physics')
    # Without UTF-8 a name is stored as its bytes: the proposed one is then ASCII.
    (inputs / 'Été.txt').write_bytes(b'x\n')
    choose('Été.txt')
    for on, name in ((True, 'été'), (False, 'ete')):
        tick('utf8', on)
        check(row('Été.txt').find_element(By.TAG_NAME, 'input').get_attribute('value') == name, f'Été.txt: {name}')
        [(out, data)] = console(['-u'] * on, {'Été.txt': b'x\n'}, [name])[2].items()
        check(download(row('Été.txt').find_element(By.LINK_TEXT, out), out) == data, f'Été.txt: {out}')
    tick('utf8', True)
    row('Été.txt').find_element(By.TAG_NAME, 'button').click()

    # Messages with the next step, below the program's own line; a file beginning with a
    # signature is taken as sorvel -x takes it.
    bad = {'cz.txt': 'ř\n'.encode(), 'cafe.txt': b'caf\xe9\n', 'pic.png': b'\x89PNG\r\n\x1a\n\0\0\0\rIHDR',
           'u16.txt': '\ufeffhi\n'.encode('utf-16-le'), 'bad.89t': b'**TI89**\x01\0main' + b'\0' * 30}
    hints = {'cz.txt': 'Tick Replace to store the closest character',
             'cafe.txt': 'This may not be UTF-8: untick UTF-8, or save the file as UTF-8',
             'pic.png': 'This is not a text file', 'u16.txt': 'This text is UTF-16: save it as UTF-8'}
    for name, data in bad.items():
        (inputs / name).write_bytes(data)
    said = choose(*bad)
    check('5 refused (cz.txt, cafe.txt, pic.png, u16.txt, bad.89t)' in said, f'the refused files named: {said}')
    for name, data in bad.items():
        args = ['-x', '-u'] if name == 'bad.89t' else ['-u']
        message = console(args, {name: data})[1]
        check(row(name).find_element(By.CLASS_NAME, 'error').text == message, f'{name}: {message}')
        if name in hints:
            check(row(name).find_element(By.CLASS_NAME, 'hint').text == hints[name], f'{name}: the next step')
    tick('utf8', False)
    check(row('u16.txt').find_elements(By.CSS_SELECTOR, 'a[href]') == []
          and row('u16.txt').find_element(By.CLASS_NAME, 'hint').text == hints['u16.txt'], 'UTF-16 without UTF-8: refused')
    tick('utf8', True)

    # Download all says what it holds and names what it leaves out.
    all_button = driver.find_element(By.ID, 'all')
    check(all_button.text == 'Download 1 of 5 texts as one group file (texts.89g)'
          and driver.find_element(By.ID, 'all-note').text == 'Left out, as refused: cz.txt, cafe.txt, pic.png, u16.txt.',
          f'Download all: {all_button.text}')
    driver.find_element(By.ID, 'clear').click()

    # Split, Folder and Archive: each download as sorvel -s -a -f gives it, a long text's row
    # listing its parts, and the group of all as sorvel -s -a -f -g.
    long_texts = {'book.txt': ''.join(f'line {i} of the book\n' for i in range(7000)).encode(), 'notes.txt': b'short\n'}
    for name, data in long_texts.items():
        (inputs / name).write_bytes(data)
    choose(*long_texts)
    check(row('book.txt').find_element(By.CLASS_NAME, 'error').text == console(['-u'], {'book.txt': long_texts['book.txt']})[1]
          and 'Split long texts' in row('book.txt').find_element(By.CLASS_NAME, 'hint').text, 'a long text: split it')
    tick('split', True)
    for folder, archived in (('', False), ('work', True)):
        driver.find_element(By.ID, 'folder').clear()
        driver.find_element(By.ID, 'folder').send_keys(folder, Keys.TAB)
        tick('archive', archived)
        args = ['-u', '-s'] + ['-a'] * archived + ['-f', folder] * bool(folder)
        for name, data in long_texts.items():
            [(out, made)] = console(args, {name: data}, [name[:-4]])[2].items()
            check(download(row(name).find_element(By.LINK_TEXT, out), out) == made, f'{args} {name}: {out}')
        check(row('book.txt').find_element(By.CLASS_NAME, 'parts').text == '3 variables: book1, book2, book3', 'the parts')
        group = download(all_button, 'texts.89g')
        check(group == console(args + ['-g', 'texts.89g'], long_texts)[2].get('texts.89g'), f'{args}: the group file')

    # Bounded reading: a text of 1 GB refused within a second, a variable file over 4 MiB as -x.
    with open(inputs / 'huge.txt', 'wb') as f:
        f.write(b'a' * (1 << 20))
        f.truncate(1 << 30)
    with open(inputs / 'huge.89t', 'wb') as f:
        f.write(image)
        f.truncate(5 << 20)
    tick('split', False)
    start = time.monotonic()
    said = choose('huge.txt', 'huge.89t')
    check(time.monotonic() - start < 1, f'1 GB read in {time.monotonic() - start:.2f} s')
    check(row('huge.txt').find_element(By.CLASS_NAME, 'error').text == 'ERROR: text file too big', 'huge.txt refused')
    message = console(['-x'], {'huge.89t': (inputs / 'huge.89t').read_bytes()})[1]
    check(row('huge.89t').find_element(By.CLASS_NAME, 'error').text == message, f'huge.89t: {message}')

    # A drop while scrolled down shows its overlay on the screen; a new row is scrolled into view.
    driver.execute_script('scrollTo(0, document.body.scrollHeight); dispatchEvent(new DragEvent("dragover", {cancelable: true}))')
    box = driver.execute_script('return document.getElementById("overlay").getBoundingClientRect().toJSON()')
    check(box['top'] == 0 and box['height'] > 0, f'the drop overlay: {box}')
    driver.execute_script('dispatchEvent(new DragEvent("dragleave"))')
    driver.execute_script('scrollTo(0, 0)')
    (inputs / 'last.txt').write_bytes(b'x\n' * 30)
    choose('last.txt')
    check(driver.execute_script('const r = arguments[0].getBoundingClientRect(); return r.top >= 0 && r.top < innerHeight',
                                row('last.txt')), 'the new row scrolled into view')
    check(driver.find_element(By.ID, 'files').get_attribute('aria-hidden') == 'true', 'the hidden input')

    # Sending: the cable on a TI-89 and the TI-89 Titanium's own port, one row, a split row and
    # all; the calculator stores each variable as its file holds it; the chooser opens once.
    driver.execute_script(axe.read_text())
    driver.execute_script('window.said = []; new MutationObserver((rs) => rs.forEach((r) => r.addedNodes.forEach((n) => said.push(n.data))))'
                          '.observe(document.getElementById("status"), {childList: true})')
    (inputs / 'hello.txt').write_bytes(b'Hello\ncalculator\n')
    tick('split', True)
    set_up('89', True)
    choose('hello.txt', *long_texts)
    for what, name, file, usb in (('one row', 'hello.txt', 'hello.89t', False), ('a split row', 'book.txt', 'book.89g', True),
                                  ('all', None, 'texts.89g', True)):
        button = row(name).find_element(By.XPATH, './/button[.="Send to calculator"]') if name else driver.find_element(By.ID, 'send-all')
        expected = stored_as(download(row(name).find_element(By.LINK_TEXT, file) if name else driver.find_element(By.ID, 'all'), file))
        driver.execute_script('said.length = 0')
        said = transfer(button, usb=usb)
        check(dict(driver.execute_script('return stored()')) == expected, f'{what}: stored as the files hold it')
        check(said == f'Sent to the calculator as {", ".join(expected)}', f'{what}: {said}')
        announced = driver.execute_script('return said')
        check(2 <= len(announced) <= 5 and announced[-1].endswith(said), f'{what}: announced {announced}')
    check(driver.execute_script('return [sessionStorage.asked, sessionStorage.filters]') ==
          ['1', '[{"vendorId":1105,"productId":57345},{"vendorId":1105,"productId":57348}]'], 'the chooser, once, for both devices')

    # Each refusal in the row with what to do next; the device gone mid-transfer; Cancel from the
    # keyboard, focus on it while sending (where axe-core sees the progress bar).
    hello = row('hello.txt').find_element(By.XPATH, './/button[.="Send to calculator"]')
    locked = [{'folder': 'work', 'name': 'hello', 'attribute': 3, 'stored': [0, 1, 0]}]
    for calc, words in (({'silent': True}, 'Turn the calculator on and leave it at the home screen'),
                        ({'usb': True, 'refusal': 0x0C}, "The calculator's memory is full: archive or delete variables"),
                        ({'usb': True, 'vars': locked}, 'A locked variable work\\hello exists'),
                        ({'busy': True}, 'Another program is using the cable: close it'),
                        ({'usb': True, 'goneAfter': 40}, 'went away\nPlug the cable in again')):
        said = transfer(hello, **calc)
        check(said.startswith('ERROR: ') and words in said, f'{calc}: {said}')
    driver.execute_script('calc({silent: true})')
    hello.send_keys(Keys.ENTER)
    wait.until(lambda d: d.switch_to.active_element.text == 'Cancel')
    violations = axe_violations()
    check(violations == [], f'axe-core while sending: {violations}')
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    wait.until(lambda _: 'cancelled' in row('hello.txt').find_element(By.CLASS_NAME, 'link-state').text)
    check(driver.switch_to.active_element == hello, 'the focus back on the send button after Cancel')

    # From the calculator: its texts listed, two taken off by the keyboard, each a row whose
    # variable file is the console program's for the same text, and whose text is -x's; a name
    # of a letter the calculator stores as one byte, é, shown and taken as it is.
    held = {n: console(['-u'], {f'{n}.txt': t})[2][f'{n}.89t'] for n, t in (('notes', 'Café θ\n'.encode()), ('café', b'a\nb'))}
    vars = [{'folder': 'main', 'name': n, 'stored': stored_as(f)[f'main\\{n}']} for n, f in held.items()]
    said = transfer(driver.find_element(By.ID, 'from'), vars=vars)
    check('main\\notes (' in said and 'main\\café (' in said, f'the list: {said}')
    for _ in vars:
        driver.switch_to.active_element.send_keys(Keys.SPACE, Keys.TAB)
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    wait.until(lambda _: len(driver.find_elements(By.XPATH, '//ul[@id="rows"]/li[.//h2="café.89t"]')))
    for n, f in held.items():
        check(download(row(f'{n}.89t').find_element(By.XPATH, f'.//p/a[.="{n}.89t"]'), f'{n}.89t') == f, f'{n}: its variable file')
        [(out, text)] = console(['-x', '-u'], {f'{n}.89t': f})[2].items()
        check(download(row(f'{n}.89t').find_element(By.LINK_TEXT, out), out) == text, f'{n}: its text')
    tick('split', False)

    # The rows as they stand, to axe-core in light and dark; then at a phone's width, nothing
    # wider than the screen.
    driver.execute_script(axe.read_text())
    for scheme in ('light', 'dark'):
        driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': [{'name': 'prefers-color-scheme', 'value': scheme}]})
        violations = axe_violations()
        check(violations == [], f'axe-core, {scheme}: {violations}')
    driver.set_window_size(360, 740)
    check(driver.execute_script('return document.documentElement.scrollWidth <= innerWidth'), 'a phone\'s width')

    # Nothing asked for but the page itself.
    events = [json.loads(e['message'])['message'] for e in driver.get_log('performance')]
    urls = [e['params']['request']['url'] for e in events if e['method'] == 'Network.requestWillBeSent']
    urls = urls[urls.index(page.as_uri()):]
    check(urls == [page.as_uri()] and not any(e['method'] == 'Network.webSocketCreated' for e in events), f'requests: {urls}')
    check(driver.get_log('browser') == [], 'nothing on the console')

    # The settings kept for the next visit; on a touch screen, no word of dropping.
    driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 1})
    driver.refresh()
    kept = [driver.find_element(By.ID, i).is_selected() for i in ('utf8', 'replace', 'split', 'archive')]
    check(kept == [True, False, False, True] and driver.find_element(By.ID, 'folder').get_attribute('value') == 'work',
          f'the settings kept: {kept}')
    check('drop' not in driver.find_element(By.TAG_NAME, 'main').text, 'a touch screen: no word of dropping')
    # The device found again after a reload, without the chooser; without WebUSB, a sentence.
    choose('hello.txt')
    check(transfer(row('hello.txt').find_element(By.XPATH, './/button[.="Send to calculator"]')).startswith('Sent')
          and driver.execute_script('return sessionStorage.asked') == '1', 'the device found again after a reload')
    driver.get(page.as_uri() + '#nousb')
    driver.refresh()
    choose('hello.txt')
    check('WebUSB' in driver.find_element(By.ID, 'usb-note').text and driver.find_element(By.ID, 'from').get_attribute('disabled')
          and row('hello.txt').find_element(By.LINK_TEXT, 'hello.89t'), 'without WebUSB: a sentence, the download stays')
finally:
    driver.quit()
print(f'{len(failures)} failed' if failures else 'all passed')
sys.exit(1 if failures else 0)
