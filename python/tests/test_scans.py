"""Scans: their colours under every illuminant and observer (against the hcf program), their
dictionaries and scan files."""

import json
import os
import stat
import tempfile
import unittest

import hcf
from support import SOURCE_DIR, numbers, run_tool

SCANS = os.path.join(SOURCE_DIR, "fuzz", "corpus", "scan_json")
SPECTRAL = os.path.join(SCANS, "spectral.json")
TRISTIMULUS = os.path.join(SCANS, "tristimulus.json")


class ScanColours(unittest.TestCase):
    def test_lab_under_every_illuminant_and_observer_equals_the_command_line(self):
        scan = hcf.load_scan(SPECTRAL)
        self.assertIsInstance(scan, hcf.SpectralScan)
        for illuminant in hcf.Illuminant:
            for observer in ("2", "10"):
                expected = numbers(run_tool("scan", "lab", "--illuminant", illuminant.name,
                                            "--observer", observer, SPECTRAL))
                lab = scan.lab(illuminant, observer)
                for got, want in zip(lab, expected):
                    self.assertAlmostEqual(got, want, delta=1e-7)
                self.assertEqual((lab.illuminant, lab.observer), (illuminant, hcf.Observer(int(observer == "10"))))

    def test_a_spectral_scan_is_its_curve_integrated(self):
        scan = hcf.load_scan(SPECTRAL)
        for illuminant in ("D65", "F11"):
            xyz = hcf.xyz_from_spectrum(scan.curve, 400, illuminant, 10)
            self.assertEqual(list(scan.xyz(illuminant, 10)), list(xyz))
        curve = scan.spectral_curve
        self.assertEqual([w for w, _ in curve][:3], [400, 410, 420])
        self.assertEqual([v for _, v in curve], scan.curve)
        made = hcf.SpectralScan.from_curve(scan.curve, serial="X1", model="Irisel S1")
        self.assertEqual(list(made.lab("A")), list(scan.lab("A")))
        self.assertEqual(len(made.batched_labs), 16)
        for bad in ([], [0.5, float("nan")] * 8):
            with self.assertRaises(ValueError):  # hcf.ArgumentError for the kit's refusal
                hcf.SpectralScan.from_curve(bad)

    def test_a_colorimeter_scan_has_what_its_instrument_measured(self):
        scan = hcf.load_scan(TRISTIMULUS)
        self.assertIsInstance(scan, hcf.TristimScan)
        self.assertEqual((scan.serial, scan.model, scan.batch), ("00C0FFEE4095", "4.0", "95"))
        expected = numbers(run_tool("scan", "lab", "--illuminant", "F2", TRISTIMULUS))
        for got, want in zip(scan.lab("F2"), expected):
            self.assertAlmostEqual(got, want, delta=1e-7)
        # This instrument gives no 10° colour: none, as the command line says.
        self.assertIsNone(scan.lab("D50", 10))
        self.assertIsNone(scan.adjusted_10_degree_lab)
        self.assertIsNone(scan.spectral_curve)
        self.assertEqual(scan.hex, scan.rgb().hex)
        self.assertTrue(all(batch != "adjusted" for batch, _ in scan.batched_labs))

    def test_the_over_range_mark_reads_back_and_is_written_only_when_set(self):
        for path in (SPECTRAL, TRISTIMULUS):
            with open(path, encoding="utf-8") as f:
                plain = json.load(f)
            for mark, expected in ((None, False), (True, True), (False, False)):
                with self.subTest(path=os.path.basename(path), mark=mark):
                    d = dict(plain, over_range=mark) if mark is not None else plain
                    scan = hcf.Scan.from_dict(d)
                    self.assertIs(scan.over_range, expected)
                    self.assertEqual(scan.to_dict().get("over_range", False), expected)
            with self.assertRaises(hcf.ArgumentError) as caught:
                hcf.Scan.from_dict(dict(plain, over_range="yes"))
            self.assertIn("over_range", caught.exception.message)


class ScanFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)
        return self.path(name)

    def test_save_and_load_keep_every_value(self):
        scans = [hcf.load_scan(SPECTRAL), hcf.load_scan(TRISTIMULUS)]
        hcf.save_scans(scans, self.path("both.json"))
        again = hcf.load_scans(self.path("both.json"))
        self.assertEqual([s.to_dict() for s in again], [s.to_dict() for s in scans])
        hcf.save_scan(scans[1], self.path("one.json"))
        with open(self.path("one.json"), encoding="utf-8") as f, open(TRISTIMULUS, encoding="utf-8") as g:
            self.assertEqual(json.load(f), json.load(g))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("one.json")).st_mode), 0o644)
        with self.assertRaises(ValueError):
            hcf.load_scan(self.path("both.json"))  # two scans: load_scans reads them

    def test_files_that_are_not_scans(self):
        cases = {
            "text.json": "not json",
            "deep.json": "[" * 100000 + "]" * 100000,
            "number.json": "[1, 2]",
        }
        for name, text in cases.items():
            with self.assertRaises(ValueError, msg=name):
                hcf.load_scans(self.write(name, text))
        with open(TRISTIMULUS, encoding="utf-8") as f:
            scan = json.load(f)
        scan["raw_color"] = "red"
        with self.assertRaises(hcf.ArgumentError) as caught:  # an hcf.Error and a ValueError
            hcf.load_scan(self.write("typed.json", json.dumps(scan)))
        self.assertEqual(caught.exception.code, 9930)
        self.assertIn("raw_color", caught.exception.message)
        with self.assertRaises(FileNotFoundError):
            hcf.load_scan(self.path("missing.json"))

    def test_a_failed_save_leaves_the_old_file_and_no_partial_one(self):
        target = self.write("scan.json", "old")
        os.mkdir(self.path("folder.json"))
        scan = hcf.load_scan(TRISTIMULUS)
        with self.assertRaises(OSError):
            hcf.save_scan(scan, self.path("folder.json"))  # a folder cannot be replaced by a file
        with self.assertRaises(OSError):
            hcf.save_scan(scan, self.path("nowhere/scan.json"))
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["folder.json", "scan.json"])
        with open(target, encoding="utf-8") as f:
            self.assertEqual(f.read(), "old")


if __name__ == "__main__":
    unittest.main()
