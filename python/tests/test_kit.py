"""The blocking session on simulated instruments, with the reference cloud (hcf-cloud) on
loopback: start-up, discovery, connection, calibration and measurement, the catalogue, and
Python callbacks."""

import http.client
import http.server
import os
import re
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import unittest
import urllib.parse

import hcf

SDK_KEY = "demo-sdk-key"


def start_cloud(products=300):
    """hcf-cloud of this build (HCF_CLOUD) on a free loopback port: (process, base URL)."""
    program = os.environ.get("HCF_CLOUD")
    if not program or not os.access(program, os.X_OK):
        raise unittest.SkipTest("HCF_CLOUD does not name the hcf-cloud program of this build")
    cloud = subprocess.Popen([program, "--catalog", str(products)], stdout=subprocess.PIPE, text=True)
    for line in cloud.stdout:
        found = re.search(r"listening on (\S+)", line)
        if found:
            return cloud, found.group(1)
    cloud.kill()
    raise AssertionError("hcf-cloud did not start")


def stop_cloud(cloud):
    cloud.terminate()
    try:
        cloud.wait(timeout=30)
    except subprocess.TimeoutExpired:
        cloud.kill()
    cloud.stdout.close()


class ArchiveGate:
    """A loopback proxy in front of hcf-cloud that, while closed, sends half of the catalogue
    archive and holds the rest back: a download then stays under way until it is cancelled."""

    def __init__(self, upstream):
        self.closed = False
        self.opened = threading.Event()
        target = urllib.parse.urlsplit(upstream)
        gate = self

        class Forward(http.server.BaseHTTPRequestHandler):
            def forward(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                skip = {"host", "connection", "content-length", "transfer-encoding"}
                upstream = http.client.HTTPConnection(target.hostname, target.port, timeout=60)
                upstream.request(self.command, self.path, body,
                                 {k: v for k, v in self.headers.items() if k.lower() not in skip})
                answer = upstream.getresponse()
                data = answer.read()
                upstream.close()
                self.send_response(answer.status)
                for key, value in answer.getheaders():
                    if key.lower() not in skip:
                        self.send_header(key, value)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                held = gate.closed and self.path.endswith(".zip")
                self.wfile.write(data[:len(data) // 2] if held else data)
                if held:
                    self.wfile.flush()
                    gate.opened.wait(120)
                    try:
                        self.wfile.write(data[len(data) // 2:])
                    except OSError:
                        pass  # the download was cancelled

            do_GET = do_POST = do_PUT = do_DELETE = forward

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Forward)
        self.url = f"http://127.0.0.1:{self.server.server_port}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.closed, self.opened = True, threading.Event()

    def open(self):
        self.closed = False
        self.opened.set()

    def stop(self):
        self.open()
        self.server.shutdown()
        self.server.server_close()


class Session(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cloud, upstream = start_cloud()
        cls.gate = ArchiveGate(upstream)
        cls.url = cls.gate.url
        cls.data = tempfile.TemporaryDirectory(prefix="hcf-python-kit-")
        cls.kit = hcf.Kit(sdk_key=SDK_KEY, cloud=cls.url, ble="sim", data_dir=cls.data.name)
        cls.serials = {i["name"]: i["serial"] for i in cls.kit.simulated_instruments}

    @classmethod
    def tearDownClass(cls):
        cls.kit.close()
        cls.gate.stop()
        stop_cloud(cls.cloud)
        cls.data.cleanup()

    def connect(self, name):
        """Connects by serial; the Tintra advertises none, so it is connected by identifier."""
        if name == "Tintra 3.0":
            found = [d for d in self.kit.discover() if d.name == "Tintra"]
            instrument = self.kit.connect(identifier=found[0].identifier)
        else:
            instrument = self.kit.connect(serial=self.serials[name])
        self.assertTrue(instrument.connected)
        self.assertEqual(instrument.serial, self.serials[name])
        return instrument

    def test_every_instrument_measures_the_sample_in_front_of_it(self):
        sample = hcf.Lab(50, 20, 10)
        self.kit.place_sample(sample)
        for name, kind in [("ColorOrla", "colorimeter"), ("Tintra 3.0", "colorimeter"), ("Irisel", "spectrometer")]:
            instrument = self.connect(name)
            self.assertEqual((instrument.kind, instrument.serial), (kind, self.serials[name]))
            self.assertTrue(instrument.model)
            instrument.calibrate()
            scan = instrument.measure()
            self.assertEqual(scan.serial, instrument.serial)
            self.assertLess(scan.lab().delta_e(sample), 1.5, msg=name)
            # The sample is back in front of the instrument after its white calibration.
            self.assertLess(instrument.measure().lab().delta_e(sample), 1.5, msg=name)
            if kind == "spectrometer":
                self.assertIsInstance(scan, hcf.SpectralScan)
                self.assertLess(scan.lab("D65", 10).delta_e(sample.to_illuminant("D65")), 3)
            battery = instrument.battery()
            self.assertTrue(0 <= battery["level"] <= 1)

    def test_discovery_finds_the_instruments_in_range(self):
        found = self.kit.discover()
        self.assertEqual({d.serial for d in found if d.serial},
                         {self.serials["ColorOrla"], self.serials["Irisel"]})
        self.assertEqual(len(found), 3)  # the Tintra advertises no serial
        self.assertEqual([d.rssi for d in found], sorted((d.rssi for d in found), reverse=True))

    def test_discovery_reports_each_instrument_as_found_and_nothing_is_no_error(self):
        if self.kit.instrument:
            self.kit.instrument.disconnect()  # a connected instrument is always found
        found, events = [], []
        self.kit.on_state = lambda state, count: events.append(state)
        try:
            listed = self.kit.discover(on_found=lambda d: (found.append(d), events.append("found")))
        finally:
            self.kit.on_state = None
        self.assertEqual(len(listed), 3)
        self.assertEqual(sorted(d.identifier for d in found), sorted(d.identifier for d in listed))
        # Each as the pass finds it, not when it ends.
        self.assertEqual(events[events.index("scanning"):], ["scanning"] + ["found"] * 3 + ["idle"])
        try:
            for serial in self.serials.values():
                self.kit.set_in_range(serial, False)
            found.clear()
            self.assertEqual(self.kit.discover(on_found=found.append), [])
            self.assertEqual(found, [])
            self.kit.set_in_range(self.serials["Irisel"], True)
            self.assertEqual([d.serial for d in self.kit.discover()], [self.serials["Irisel"]])
        finally:
            for serial in self.serials.values():
                self.kit.set_in_range(serial, True)
        with self.assertRaises(TypeError):
            self.kit.discover(on_found=5)
        with self.assertRaises(ValueError):
            self.kit.set_in_range("0123456789AB", False)

    def test_an_interrupted_download_is_cancelled_and_the_catalogue_stays(self):
        self.assertEqual(self.kit.download_catalog(), 300)
        store = os.path.join(self.data.name, "halvern-products-demo-package.realm")
        installed = os.stat(store).st_ino

        def sigint_from_another_thread():
            # The signal comes while the call drives the kit with the GIL released.
            asked = threading.Event()
            threading.Thread(target=lambda: asked.wait(60) and os.kill(os.getpid(), signal.SIGINT)).start()
            return lambda share: asked.set()

        def raising(error):
            def progress(share):
                raise error
            return progress

        cases = [
            ("an exception in the progress callback", lambda: raising(LookupError("stop")), LookupError),
            ("Ctrl-C in the progress callback", lambda: lambda share: os.kill(os.getpid(), signal.SIGINT),
             KeyboardInterrupt),
            ("Ctrl-C while the call waits", sigint_from_another_thread, KeyboardInterrupt),
        ]
        previous = signal.signal(signal.SIGINT, signal.default_int_handler)
        self.addCleanup(signal.signal, signal.SIGINT, previous)
        for name, progress, error in cases:
            self.gate.close()
            try:
                with self.assertRaises(error, msg=name):
                    self.kit.download_catalog(progress=progress())
            finally:
                self.gate.open()
            self.assertEqual(os.stat(store).st_ino, installed, msg=name)
            self.assertEqual([f for f in os.listdir(self.data.name) if f.endswith(".part")], [], msg=name)
            self.assertEqual(self.kit.product_count(), 300)
        self.assertEqual(self.kit.download_catalog(), 300)  # the next download goes through
        self.assertNotEqual(os.stat(store).st_ino, installed)

    def test_failures_are_errors_with_the_kits_code(self):
        with self.assertRaises(hcf.Error) as caught:
            self.kit.connect(serial="0123456789AB")
        self.assertEqual((caught.exception.code, caught.exception.message), (9200, "Device not found"))
        instrument = self.connect("ColorOrla")
        with self.assertRaises(TimeoutError):
            instrument.measure(timeout=1e-6)
        for bad in (0, -1, float("nan")):
            with self.assertRaises(ValueError):
                instrument.measure(timeout=bad)
        instrument.disconnect()
        self.assertFalse(instrument.connected)
        with self.assertRaises(RuntimeError):
            instrument.measure()
        with self.assertRaises(ValueError):
            hcf.Kit(sdk_key=SDK_KEY, cloud="http://127.0.0.1:9", ble="sim")
        with self.assertRaises(ValueError):
            hcf.Kit(ble="radio")

    def test_callbacks_hear_buttons_and_states(self):
        instrument = self.connect("ColorOrla")
        pressed, states = [], []
        instrument.on_button = pressed.append
        self.kit.on_state = lambda state, found: states.append(state)
        self.kit.press_button(instrument.serial)
        self.kit.run(0.5)
        self.assertEqual([i.serial for i in pressed], [instrument.serial])
        self.assertIs(pressed[0], instrument)
        instrument.disconnect()
        self.connect("Tintra 3.0")
        self.assertIn("connected", states)
        self.kit.on_state = None
        for bad in (5, "print"):
            with self.assertRaises(TypeError):
                self.kit.on_state = bad
            with self.assertRaises(TypeError):
                instrument.on_button = bad

    def test_an_exception_in_a_callback_reaches_the_caller(self):
        instrument = self.connect("ColorOrla")

        def broken(_):
            raise KeyError("from the callback")

        instrument.on_button = broken
        self.kit.press_button(instrument.serial)
        with self.assertRaises(KeyError):
            self.kit.run(0.5)
        # A callback that waits for the kit is refused, and that refusal reaches the caller.
        instrument.on_button = lambda i: i.measure()
        self.kit.press_button(instrument.serial)
        with self.assertRaises(RuntimeError):
            self.kit.run(0.5)
        instrument.on_button = None
        instrument.calibrate()
        self.kit.place_sample((60, 0, 0))
        self.assertLess(instrument.measure().lab().delta_e((60, 0, 0)), 1.5)  # the kit goes on

    def test_the_catalogue_downloads_and_is_searched(self):
        shares = []
        count = self.kit.download_catalog(progress=shares.append)
        self.assertEqual(count, 300)
        self.assertEqual(self.kit.product_count(), 300)
        self.assertFalse(self.kit.catalog_download_required())
        self.assertEqual(shares, sorted(shares))
        self.assertTrue(shares and shares[-1] == 1.0)
        results = self.kit.search(hcf.Lab(50, 20, 10), limit=5)
        self.assertEqual(len(results), 5)
        # The kit's search and a catalogue opened on its store agree.
        store = [os.path.join(self.data.name, f) for f in os.listdir(self.data.name) if f.startswith("halvern-products-") and f.endswith(".realm")]
        self.assertEqual(len(store), 1, os.listdir(self.data.name))
        direct = hcf.Catalog(store[0]).search(hcf.Lab(50, 20, 10), limit=5)
        self.assertEqual([r.to_dict() for r in results], [r.to_dict() for r in direct])
        panel = self.kit.filter_panel()
        oil = hcf.Filter("base", "oil")
        self.assertIn(oil, panel.available)
        panel.select(oil)
        self.assertEqual(panel.selected, [oil])
        self.assertTrue(panel.available)
        panel.deselect(oil)
        self.assertEqual(panel.selected, [])
        inspirations = self.kit.search(inspirations=True, limit=3)
        self.assertEqual(len(inspirations), 3)


class StartUp(unittest.TestCase):
    """Start-up failures, each in a process of its own (the kit is started once per process)."""

    @classmethod
    def setUpClass(cls):
        cls.cloud, cls.url = start_cloud(products=20)

    @classmethod
    def tearDownClass(cls):
        stop_cloud(cls.cloud)

    def run_python(self, code):
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                              text=True, timeout=120, env=os.environ)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def test_a_refused_login_then_a_good_one(self):
        out = self.run_python(f"""
            import hcf, tempfile
            data = tempfile.mkdtemp()
            try:
                hcf.Kit(sdk_key="wrong-key", cloud="{self.url}", data_dir=data)
            except hcf.Error as e:
                print("refused", e.code)
            with hcf.Kit(sdk_key="{SDK_KEY}", cloud="{self.url}", data_dir=data) as kit:
                print("started", len(kit.discover()))
            """)
        self.assertEqual(out.split(), ["refused", "9001", "started", "3"])

    def test_no_cloud_and_no_saved_key(self):
        out = self.run_python("""
            import hcf, tempfile
            try:
                hcf.Kit(sdk_key="k", cloud="http://127.0.0.1:9", data_dir=tempfile.mkdtemp())
            except hcf.Error as e:
                print(type(e).__name__, e.code)
            """)
        self.assertEqual(out.split(), ["Error", "9004"])

    def test_the_in_process_reference_cloud(self):
        out = self.run_python("""
            import hcf
            with hcf.Kit() as kit:
                inst = kit.connect()
                inst.calibrate()
                kit.place_sample(hcf.Lab(40, -10, 25))
                print(inst.serial, round(inst.measure().lab().delta_e((40, -10, 25))))
            """)
        self.assertRegex(out.strip(), r"^[0-9A-F]{12} [01]$")


if __name__ == "__main__":
    unittest.main()
