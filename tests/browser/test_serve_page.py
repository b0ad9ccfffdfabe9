"""The page of `hcf serve --sim`, driven in headless Chromium as a person would use it.

The steps build on each other (one session, one browser), so the tests run in the order of their
names. Run as a program: it exits 77 (skipped) when Chromium, its driver or Selenium is missing.

Environment: HCF_TOOL (the hcf program), HCF_BROWSER_OUT (where the screenshot goes; by default
a temporary folder), HCF_UPDATE_SCREENSHOT=1 with HCF_SOURCE_DIR (write docs/serve-page.png).
"""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
import zlib

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for this test
WAIT = 60  # seconds any one step may take before the test gives up
SERIAL = "00C0FFEE4095"  # the simulated ColorOrla
LIMIT = 10  # the page asks for ten nearest products

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None


def png_pixel(png, x, y):
    """The (r, g, b) of one pixel of an 8-bit, non-interlaced RGB or RGBA PNG."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos : pos + 8])
        chunk = png[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    width, _, depth, colour_type, _, _, interlace = header
    assert depth == 8 and colour_type in (2, 6) and interlace == 0, header
    channels = 3 if colour_type == 2 else 4
    stride = width * channels
    raw = zlib.decompress(idat)
    previous = bytearray(stride)
    for row in range(y + 1):
        kind = raw[row * (stride + 1)]
        line = bytearray(raw[row * (stride + 1) + 1 : (row + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                best = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + best) & 0xFF
        previous = line
    return tuple(previous[x * channels : x * channels + 3])


def rgb_of(hex_colour):
    return tuple(int(hex_colour[i : i + 2], 16) for i in (0, 2, 4))


class ServePage(unittest.TestCase):
    progress_seen = []  # the values the progress bar took during the download

    @classmethod
    def setUpClass(cls):
        cls.hcf = os.environ["HCF_TOOL"]
        cls.work = tempfile.mkdtemp(prefix="hcf-serve-page-")
        cls.data = os.path.join(cls.work, "data")
        os.mkdir(cls.data)
        cls.server, cls.url = cls.serve("--data", cls.data)
        cls.host = cls.url.split("/")[2]

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in (
            "--headless=new",
            "--no-sandbox",
            "--disable-gpu",
            "--window-size=1280,900",
            "--force-device-scale-factor=1",
            # The screen profile is sRGB, so a swatch's pixels are the hex the page was given.
            "--force-color-profile=srgb",
            "--user-data-dir=" + os.path.join(cls.work, "profile"),
        ):
            options.add_argument(argument)
        cls.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        cls.wait = WebDriverWait(cls.driver, WAIT, poll_frequency=0.02)

        started = time.monotonic()
        cls.driver.get(cls.url)
        cls.wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
        cls.page_load = time.monotonic() - started
        print("page load (to the state shown): %.0f ms" % (cls.page_load * 1000))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        status = cls.stop(cls.server)
        shutil.rmtree(cls.work, ignore_errors=True)
        assert status == 0, "hcf serve ended with status %d on SIGTERM" % status

    @classmethod
    def serve(cls, *arguments):
        """Starts hcf serve --sim on a free port; returns the process and the page's address."""
        server = subprocess.Popen(
            [cls.hcf, "serve", "--sim", "--port", "0", *arguments], stdout=subprocess.PIPE, text=True
        )
        first = server.stdout.readline().strip()
        prefix = "hcf serve: "
        if not first.startswith(prefix):
            server.kill()
            raise AssertionError("hcf serve printed %r first" % first)
        return server, first[len(prefix) :]

    @staticmethod
    def stop(server):
        server.terminate()
        status = server.wait(WAIT)
        server.stdout.close()
        return status

    # ---- helpers ----

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def call(self, method, path, body=None, headers=None):
        """Calls the API as another program would; returns (status, JSON answer)."""
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.url + path.lstrip("/"), data=data, method=method)
        if data is not None:
            request.add_header("Content-Type", "application/json")
        for name, value in (headers or {}).items():
            request.add_header(name, value)
        try:
            with urllib.request.urlopen(request, timeout=WAIT) as answer:
                return answer.status, json.loads(answer.read() or b"{}")
        except urllib.error.HTTPError as failure:
            return failure.code, json.loads(failure.read() or b"{}")

    def readings(self):
        status, answer = self.call("GET", "/api/readings")
        self.assertEqual(status, 200, answer)
        return answer["readings"]

    def search(self, lab, *filters):
        command = [self.hcf, "search", "--data", self.data, "--lab"]
        command += ["%r" % lab[c] for c in "Lab"]
        command += ["--limit", str(LIMIT), "--format", "json"]
        for key, value in filters:
            command += ["--filter", "%s=%s" % (key, value)]
        found = json.loads(subprocess.run(command, capture_output=True, text=True, check=True).stdout)
        return found

    @staticmethod
    def code_of(result):
        attributes = result["product"]["product_attributes"]
        return next(a["v"] for a in attributes if a["k"] == "code")

    def shown_products(self):
        # Read in one go: the list is rebuilt while the page waits for answers.
        return [
            tuple(row)
            for row in self.driver.execute_script(
                "return [...document.querySelectorAll('#products li')].map(li =>"
                " [li.querySelector('.code').textContent, li.querySelector('.deltae').textContent]);"
            )
        ]

    def check_products(self, lab, *filters):
        """The page shows the server's answer for the shown reading, and that answer is what hcf
        search finds: the same products in the same order, each ΔE within 0.01 (the server
        searches with the scan, matched against the catalogue's measurements for the
        instrument's model; --lab against each product's published colour)."""
        expected = self.search(lab, *filters)
        codes = [self.code_of(r) for r in expected]
        self.wait.until(lambda d: [code for code, _ in self.shown_products()] == codes)
        reading = int(self.find("#products-note").text.split("reading ")[1].split(" ")[0])
        status, answer = self.call(
            "POST",
            "/api/search",
            {"reading": reading, "limit": LIMIT, "filters": {k: [v] for k, v in filters}},
        )
        self.assertEqual(status, 200, answer)
        served = answer["products"]
        self.assertEqual(
            self.shown_products(), [(p["code"], "ΔE %.2f" % p["deltaE"]) for p in served]
        )
        self.assertEqual([p["code"] for p in served], codes)
        for product, result in zip(served, expected):
            self.assertAlmostEqual(product["deltaE"], result["delta_e"], delta=0.01)
        return codes

    def errors(self):
        return self.find("#errors").text

    # ---- the session, step by step ----

    def test_01_catalogue_download_ends_installed(self):
        self.assertIn("Not installed", self.find("#catalogue-status").text)
        # Every value the progress bar takes is recorded as the page sets it.
        self.driver.execute_script(
            "window.progressSeen = [];"
            "new MutationObserver(() => window.progressSeen.push(document.getElementById('progress').value))"
            ".observe(document.getElementById('progress'), {attributes: true});"
        )
        self.find("#download").click()
        self.wait.until(lambda d: "Installed" in self.find("#catalogue-status").text)
        type(self).progress_seen = self.driver.execute_script("return window.progressSeen;")
        self.assertEqual(self.find("#progress").get_attribute("hidden"), "true")
        status, state = self.call("GET", "/api/state")
        self.assertTrue(state["catalogue"]["installed"], state)
        self.assertIn(str(state["catalogue"]["products"]), self.find("#catalogue-status").text)

    # The simulated cloud sends the archive in pieces over a second and a half.
    def test_01b_the_progress_bar_moves_between_0_and_1(self):
        seen = self.progress_seen
        self.assertTrue([v for v in seen if 0 < v < 1], "no progress between 0 and 1: %r" % seen)

    def test_02_connect_and_calibrate(self):
        self.find("#discover").click()
        connect = '#instruments .connect[data-serial="%s"]' % SERIAL
        self.wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, connect))
        self.assertIn("dBm", self.find(connect).text)
        self.find(connect).click()
        self.wait.until(lambda d: SERIAL in self.find("#connected").text)
        instruction = self.find("#calibration-instruction")
        self.wait.until(lambda d: instruction.is_displayed())
        self.assertIn("white tile", instruction.text)
        self.wait.until(lambda d: re.match(r"^\d+ %", self.find("#battery").text))
        # Measuring before the white calibration is refused, and the page says why.
        self.find("#measure").click()
        self.wait.until(lambda d: "calibrate first" in self.errors())
        self.find("#errors button").click()
        # The calibration from the keyboard.
        self.find("#calibrate").send_keys(Keys.ENTER)
        self.wait.until(lambda d: not instruction.is_displayed())
        self.assertTrue(self.find("#measure").is_enabled())
        self.assertEqual(self.errors(), "")

    def test_03_button_press_shows_the_reading_as_its_hex(self):
        # The time from the press to the swatch painted in its colour: the page's clock when the
        # frame after the swatch changed is drawn, against this clock when the press is sent.
        self.driver.execute_script(
            "window.swatchPainted = null;"
            "new MutationObserver(() => requestAnimationFrame(() => window.swatchPainted = Date.now()))"
            ".observe(document.getElementById('swatch'), {attributes: true, attributeFilter: ['style']});"
        )
        pressed = time.time() * 1000
        status, answer = self.call("POST", "/api/sim/button", {})
        self.assertEqual(status, 200, answer)
        self.wait.until(lambda d: d.execute_script("return window.swatchPainted"))
        painted = self.driver.execute_script("return window.swatchPainted")
        print("reading to swatch (button press to painted): %.0f ms" % (painted - pressed))

        reading = self.readings()[-1]
        self.wait.until(lambda d: self.find("#hex").text == "#" + reading["hex"])
        swatch = self.find("#swatch")
        png = swatch.screenshot_as_png
        middle = (swatch.size["width"] // 2, swatch.size["height"] // 2)
        # Exact: the screen profile is forced to sRGB, so no colour management shifts it.
        self.assertEqual(png_pixel(png, *middle), rgb_of(reading["hex"]))
        self.assertIn("%.2f" % reading["lab"]["L"], self.find("#lab").text)
        self.assertIn("%.2f" % reading["lch"]["C"], self.find("#lch").text)
        self.assertEqual(self.find("#out-of-gamut").is_displayed(), reading["outOfGamut"])
        self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, ".history-entry")), 1)

    def test_04_nearest_products_are_those_of_hcf_search(self):
        lab = self.readings()[-1]["lab"]
        self.assertEqual(len(self.check_products(lab)), LIMIT)

    def test_05_a_facet_narrows_the_products(self):
        lab = self.readings()[-1]["lab"]
        nearest = self.search(lab)[0]["product"]
        # A value of a key that the nearest product does not have: choosing it must drop it.
        held = {(f["k"], f["v"]) for f in nearest["filters"]}
        boxes = self.driver.find_elements(By.CSS_SELECTOR, "#filters input[type=checkbox]")
        choice = next(
            b for b in boxes
            if (b.get_attribute("data-key"), b.get_attribute("data-value")) not in held
            and b.get_attribute("data-key") in {k for k, _ in held}
        )
        key, value = choice.get_attribute("data-key"), choice.get_attribute("data-value")
        self.driver.execute_script("arguments[0].scrollIntoView()", choice)
        choice.click()
        codes = self.check_products(lab, (key, value))
        self.assertNotIn(self.code_of({"product": nearest}), codes)
        checked = self.find('#filters input[data-key="%s"][data-value="%s"]' % (key, value))
        self.assertTrue(checked.is_selected())

    def test_06_two_readings_of_the_history_give_their_difference(self):
        self.find("#measure").click()
        self.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".history-entry")) == 2)
        first, second = self.readings()[:2]
        for number in (1, 2):
            self.find('.history-entry[data-number="%d"]' % number).click()
        difference = self.find("#history-difference")
        self.wait.until(lambda d: difference.is_displayed())
        command = [self.hcf, "color", "delta-e", "--format", "json", "--"]
        command += ["%r" % r["lab"][c] for r in (first, second) for c in "Lab"]
        expected = json.loads(subprocess.run(command, capture_output=True, text=True, check=True).stdout)
        self.assertIn(": %.2f" % expected["delta_e"], difference.text)

    def test_07_requests_from_elsewhere_are_refused(self):
        port = self.host.split(":")[1]
        cases = [
            # (headers, status)
            ({"Origin": "http://evil.example"}, 403),
            ({"Origin": "http://127.0.0.1:%d" % (int(port) + 1)}, 403),
            ({"Host": "evil.example:" + port}, 403),
            ({"Origin": "http://" + self.host}, 200),
        ]
        for headers, expected in cases:
            with self.subTest(headers=headers):
                before = len(self.readings())
                status, answer = self.call("POST", "/api/measure", {}, headers)
                self.assertEqual(status, expected, answer)
                if expected == 403:
                    self.assertTrue(answer["error"])
                    self.assertEqual(len(self.readings()), before)

    def test_08_screenshot(self):
        # The picture shows the products of the reading in the swatch.
        last = self.readings()[-1]["number"]
        self.wait.until(lambda d: "reading %d " % last in self.find("#products-note").text)
        if os.environ.get("HCF_UPDATE_SCREENSHOT") == "1":
            path = os.path.join(os.environ["HCF_SOURCE_DIR"], "docs", "serve-page.png")
        else:
            path = os.path.join(os.environ.get("HCF_BROWSER_OUT") or self.work, "serve-page.png")
        # The whole page: the window grows to the document's height for the picture.
        height, chrome = self.driver.execute_script(
            "return [document.documentElement.scrollHeight, window.outerHeight - window.innerHeight]"
        )
        self.driver.set_window_size(1280, height + chrome)
        self.driver.execute_script("window.scrollTo(0, 0)")
        self.assertTrue(self.driver.save_screenshot(path))
        print("screenshot: " + path)


    def test_09_with_a_token_every_call_and_the_event_stream_carry_it(self):
        data = os.path.join(self.work, "data-token")
        os.mkdir(data)
        server, url = self.serve("--listen", "127.0.0.1", "--data", data)
        try:
            self.assertIn("?token=", url)
            self.driver.get(url)
            self.wait.until(lambda d: self.find("body").get_attribute("data-ready"))
            # The download is answered by a call, its end only by the event stream.
            self.find("#download").click()
            self.wait.until(lambda d: "Installed" in self.find("#catalogue-status").text)
            self.assertEqual(self.errors(), "")
        finally:
            self.assertEqual(self.stop(server), 0)


if __name__ == "__main__":
    if not (CHROMIUM and CHROMEDRIVER and webdriver):
        print("skipped: needs chromium, chromium-driver and python3-selenium (scripts/install-deps)")
        sys.exit(SKIPPED)
    unittest.main(verbosity=2)
