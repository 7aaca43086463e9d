#!/usr/bin/python3
"""Takes the README's picture of the page, docs/web.png: sorvel.html in headless Chromium at a
phone's width, holding a converted text, a refused one and a group file's texts.
    tools/web_screenshot.py PAGE PNG TIFILES_CHECK     (TIFILES_CHECK: the tests' libtifiles2 helper)"""
import pathlib
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page, png, tifiles = (pathlib.Path(a).resolve() for a in sys.argv[1:4])
work = pathlib.Path(tempfile.mkdtemp(prefix='sorvel-shot-'))
(work / 'notes.txt').write_bytes('Shopping list\n- milk\n- 2 eggs\n\nCall Ana at 5 pm: θ ≤ 2π\n'.encode())
(work / 'draft.txt').write_bytes('Prices\n10 € or less\n'.encode())
subprocess.run([tifiles, 'write', work / 'class.89g', 'hw=000D0001206578203120E2006300E0',
                'quiz=00090001207132203300E0'], check=True)
options = webdriver.ChromeOptions()
options.binary_location = '/usr/bin/chromium'
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile',
            '--hide-scrollbars', '--force-color-profile=srgb'):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
try:
    driver.get(page.as_uri())
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(work / n) for n in ('notes.txt', 'draft.txt', 'class.89g')))
    WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, '#rows > li')) == 3)
    for height in (800, driver.execute_script('return document.documentElement.scrollHeight')):
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': 420, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})
        height = driver.execute_script('return document.documentElement.scrollHeight')
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': 420, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})
    driver.save_screenshot(str(png))
finally:
    driver.quit()
