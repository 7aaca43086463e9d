#!/usr/bin/python3
"""The page's figures in headless Chromium (Debian's chromium, chromium-driver and
python3-selenium): its size; how long after its navigation starts it is ready to convert
(sorvel.readyAt, over RUNS loads from disk, each after a load of a page holding nothing but a
script that notes the same time, for how much of it is the browser's own); and how long
sorvel.convert takes, timed in the page with performance.now(), on the largest text of each kind
that bench/texts.py writes: its first call on a page just loaded (over 10 loads), then RUNS
calls more; and, when SIM (the simulated calculator's module, built with -DSORVEL_SIM_MODULE=ON)
is there, how long sorvel.send takes to send the largest text variable to the fake USB device
over it, on each protocol: answering at once, and how much of that is the page's (the
calculator's own time and the 150 ms wait for a quiet cable at open taken out); then at the
cable's 5 KB/s each way (libticables2's figure), and how much of that is the modelled cable. Prints the table that the README shows.
    RUNS=50 bench/web.py [PAGE [SIM]]   PAGE: build/web/sorvel.html, which the web preset builds;
                                        SIM: build/web/web/sorvel_sim.js"""
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CONVERT = '''
    const [bytes, utf8, runs] = [new Uint8Array(arguments[0]), arguments[1], arguments[2]], times = [];
    for (let i = 0; i <= runs; ++i) {
      const start = performance.now(), r = sorvel.convert(bytes, {file: 'big.txt', utf8});
      times.push(performance.now() - start);
      if (r.status) throw new Error(r.message);
    }
    return times;'''

root = pathlib.Path(__file__).resolve().parent.parent
page = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else root / 'build/web/sorvel.html').resolve()
sim = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else root / 'build/web/web/sorvel_sim.js').resolve()
runs = int(os.environ.get('RUNS', '50'))
work = tempfile.mkdtemp(prefix='sorvel-bench-')
kinds = subprocess.run([sys.executable, root / 'bench/texts.py', work], capture_output=True, text=True, check=True).stdout
kinds = [line.split('\t') for line in kinds.splitlines()] + [['utf8', 'UTF-8 prose with accents, Greek letters and signs'],
                                                             ['utf8-dense', 'UTF-8, a dense line of Greek letters and signs']]

options = webdriver.ChromeOptions()
options.binary_location = os.environ.get('SORVEL_CHROMIUM', '/usr/bin/chromium')
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile'):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(os.environ.get('SORVEL_CHROMEDRIVER', '/usr/bin/chromedriver')), options=options)
try:
    blank = pathlib.Path(work, 'blank.html')
    blank.write_text('<!doctype html><title>blank</title><script>sorvel = {readyAt: performance.now()}</script>')
    ready = {page: [], blank: []}
    for _ in range(runs):
        for p in ready:
            driver.get(p.as_uri())
            ready[p].append(driver.execute_script('return sorvel.readyAt'))
    print(f'page: {page.stat().st_size:,} bytes')
    for p, what in ((page, 'ready to convert'), (blank, 'a blank page\'s script runs')):
        print(f'{what}: {statistics.median(ready[p]):.1f} ms after the navigation starts (median of {runs} loads '
              f'from disk; first {ready[p][0]:.1f}, fastest {min(ready[p]):.1f}, slowest {max(ready[p]):.1f})')
    print()
    print(f'| text (65,507 bytes stored) | mode | sorvel.convert, first call (median of 10 loads) '
          f'| then median of {runs} | slowest |')
    print('|---|---|---|---|---|')
    for name, what in kinds:
        utf8, text, first = name.startswith('utf8'), list(open(f'{work}/{name}.txt', 'rb').read()), []
        for calls in [0] * 9 + [runs]:
            driver.get(page.as_uri())
            times = driver.execute_script(CONVERT, text, utf8, calls)
            first.append(times[0])
        print(f'| {what} | {"UTF-8" if utf8 else "bytes"} | {statistics.median(first):.1f} ms '
              f'| {statistics.median(times[1:]):.1f} ms | {max(times[1:]):.1f} ms |')
    # -s near its largest: lines of 39 letters, for 60 variables, made in the page.
    SPLIT = '''
        const [size, runs] = arguments, bytes = new Uint8Array(size).fill(97), times = [];
        for (let i = 39; i < size; i += 40) bytes[i] = 10;
        for (let i = 0; i <= runs; ++i) {
          const start = performance.now(), r = sorvel.convert(bytes, {file: 'book.txt', utf8: false, split: true});
          times.push(performance.now() - start);
          if (r.status || r.parts.length != 60) throw new Error(r.message || r.parts.length);
        }
        return times;'''
    driver.get(page.as_uri())
    size = 59 * (65507 // 41) * 40 + 20000
    times = driver.execute_script(SPLIT, size, min(runs, 10))
    print(f'\nSplit long texts, {size:,} bytes into 60 variables (a group file of 3.9 MB; -s refuses one over 4 MiB): first call {times[0]:.1f} ms, '
          f'then median of {len(times) - 1} {statistics.median(times[1:]):.1f} ms')
    if sim.exists():
        # Lines of 39 letters: the longest such text a variable holds; sent `runs` times to the fake
        # device over `usb` or the cable, whose bytes go out and come in at `rate` bytes a second
        # (none: at once). [total ms, the calculator's own ms, the modelled cable's ms, bytes written].
        SEND = '''
            const [usb, rate, runs, done] = arguments, times = [];
            let file, sent = 0;
            for (let n = sorvel.maxData; !file; --n) {
              const bytes = new Uint8Array(n).fill(97);
              for (let i = 39; i < n; i += 40) bytes[i] = 10;
              const r = sorvel.convert(bytes, {file: 'big.txt', utf8: false});
              file = r.status ? null : r.bytes;
            }
            (async () => {
              for (let i = 0; i < runs; ++i) {
                calc({usb, rate});
                simMs = cableMs = 0;
                const start = performance.now(), r = await sorvel.send(fakeDevice, file, {onProgress: (n) => (sent = n)});
                if (r.status) throw new Error(r.message);
                times.push([performance.now() - start, simMs, cableMs, sent]);
              }
              done(times);
            })().catch((e) => done(String(e)));'''
        driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                               {'source': sim.read_text() + (root / 'tests/web/fake_usb.js').read_text()})
        driver.get('about:blank')
        driver.get(page.as_uri())
        driver.set_script_timeout(600)
        print()
        for usb, what in ((False, 'the TI-GRAPH LINK USB cable'), (True, "the TI-89 Titanium's USB port")):
            for rate, sends in ((None, runs), (5000, min(runs, 3))):
                times = driver.execute_async_script(SEND, usb, rate, sends)
                if isinstance(times, str):
                    sys.exit(times)
                total, sim_ms, cable = (statistics.median(t[i] for t in times) for i in range(3))
                print(f'sorvel.send of the largest text ({times[0][3]:,} bytes written) over {what}, '
                      + (f'its bytes at {rate:,} B/s each way: median of {sends} {total:,.0f} ms, of which the modelled cable '
                         f'{cable:,.0f} ms and the rest (the page, the calculator, the drain at open) {total - cable:,.0f} ms' if rate else
                         f'to a device that answers at once: median of {sends} {total:.1f} ms, of which the wait for a quiet '
                         f'cable at open 150 ms and the page {total - sim_ms - 150:.1f} ms (slowest {max(t[0] - t[1] for t in times) - 150:.1f} ms)'))
finally:
    driver.quit()
