#!/usr/bin/python3
"""Takes the README's pictures of sending from the page: sorvel.html in headless Chromium at a
phone's width, with the tests' fake USB device over the simulated calculator; a text sent, and a
text the calculator refuses (a locked variable of that name), each its row alone.
    tools/web_send_screenshot.py PAGE SIM_JS SENT_PNG REFUSED_PNG   (SIM_JS: build/web/web/sorvel_sim.js
    of a web tree configured with -DSORVEL_SIM_MODULE=ON)"""
import os
import pathlib
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

root = pathlib.Path(__file__).resolve().parent.parent
page, sim, sent, refused = (pathlib.Path(a).resolve() for a in sys.argv[1:5])
work = pathlib.Path(tempfile.mkdtemp(prefix='sorvel-shot-'))
(work / 'Physics Formulas.txt').write_bytes('Kinematics\nv = v0 + a·t\nx = x0 + v0·t + a·t²/2\nθ ≤ 2π\n'.encode())
(work / 'notes.txt').write_bytes(b'Bring the calculator on Monday\n')
options = webdriver.ChromeOptions()
options.binary_location = os.environ.get('SORVEL_CHROMIUM', '/usr/bin/chromium')
for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', f'--user-data-dir={work}/profile',
            '--hide-scrollbars', '--force-color-profile=srgb', '--window-size=800,1600'):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(os.environ.get('SORVEL_CHROMEDRIVER', '/usr/bin/chromedriver')), options=options)
try:
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                           {'source': sim.read_text() + (root / 'tests/web/fake_usb.js').read_text()})
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': 360, 'height': 1600, 'deviceScaleFactor': 1, 'mobile': False})
    driver.get(page.as_uri())
    names = ('Physics Formulas.txt', 'notes.txt')
    driver.find_element(By.ID, 'files').send_keys('\n'.join(str(work / n) for n in names))
    WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, '#rows > li')) == len(names))
    for name, calc, png in (('Physics Formulas.txt', {'usb': True}, sent),
                            ('notes.txt', {'usb': True, 'vars': [{'folder': 'main', 'name': 'notes', 'attribute': 3, 'stored': [0, 1, 0]}]}, refused)):
        row = driver.find_element(By.XPATH, f'//ul[@id="rows"]/li[.//h2="{name}"]')
        driver.execute_script('calc(arguments[0])', calc)
        row.find_element(By.XPATH, './/button[.="Send to calculator"]').click()
        WebDriverWait(driver, 10).until(lambda _: row.find_element(By.CLASS_NAME, 'link-state').text and
                                        not row.find_elements(By.TAG_NAME, 'progress'))
        time.sleep(0.5)  # painted
        row.screenshot(str(png))

finally:
    driver.quit()
