#!/usr/bin/python3
"""Takes the README's pictures of the page: sorvel.html in headless Chromium, WIDTH pixels wide
(360 unless given) in the light or dark scheme, holding a converted text, a refused one with its
next step, a long text split in parts and a group file's texts; the whole page at a phone's width,
the first screen at a wider one.
    tools/web_screenshot.py PAGE PNG SORVEL [WIDTH [light|dark]]
    (SORVEL: the console program, which makes the group file)"""
import os
import pathlib
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page, png, sorvel = (pathlib.Path(a).resolve() for a in sys.argv[1:4])
width = int(sys.argv[4]) if len(sys.argv) > 4 else 360
scheme = sys.argv[5] if len(sys.argv) > 5 else 'light'
work = pathlib.Path(tempfile.mkdtemp(prefix='sorvel-shot-'))
(work / 'Physics Formulas.txt').write_bytes('Kinematics\nv = v0 + a·t\nx = x0 + v0·t + a·t²/2\nθ ≤ 2π\n'.encode())
(work / 'book.txt').write_bytes(''.join(f'Chapter {i // 500 + 1}, line {i}\n' for i in range(6000)).encode())
(work / 'draft.txt').write_bytes('Prices\n10 € or less\n'.encode())
(work / 'hw.txt').write_bytes(b'ex 1, 2\n')
(work / 'quiz.txt').write_bytes(b'q2 3')
subprocess.run([sorvel, '-g', 'class.89g', 'hw.txt', 'quiz.txt'], cwd=work, check=True)
options = webdriver.ChromeOptions()
options.binary_location = os.environ.get('SORVEL_CHROMIUM', '/usr/bin/chromium')
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile',
            '--hide-scrollbars', '--force-color-profile=srgb'):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(os.environ.get('SORVEL_CHROMEDRIVER', '/usr/bin/chromedriver')), options=options)
try:
    driver.get(page.as_uri())
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': [{'name': 'prefers-color-scheme', 'value': scheme}]})
    driver.find_element(By.ID, 'split').click()
    names = ('Physics Formulas.txt', 'draft.txt', 'book.txt', 'class.89g')
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(work / n) for n in names))
    WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, '#rows > li')) == len(names))
    driver.execute_script('scrollTo(0, 0)')
    height = 800
    for _ in range(2 if width < 600 else 0):
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})
        height = driver.execute_script('return document.documentElement.scrollHeight')
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})
    driver.save_screenshot(str(png))
finally:
    driver.quit()
