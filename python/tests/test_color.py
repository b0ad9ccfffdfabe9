"""Colour values, conversions and differences, checked against the published CIEDE2000 pairs
and against the hcf program (the same C++ code, reached from the command line)."""

import csv
import json
import math
import os
import random
import unittest

import hcf
from support import SOURCE_DIR, numbers, run_tool

try:
    import numpy
except ImportError:  # the module works without NumPy; the array cases are skipped
    numpy = None


def sharma_pairs():
    path = os.path.join(SOURCE_DIR, "data", "reference", "sharma2005_ciede2000.csv")
    with open(path, newline="") as f:
        return [
            ((float(r["L1"]), float(r["a1"]), float(r["b1"])),
             (float(r["L2"]), float(r["a2"]), float(r["b2"])), float(r["dE00"]))
            for r in csv.DictReader(f)
        ]


def random_labs(n, seed):
    rng = random.Random(seed)
    return [(rng.uniform(0, 100), rng.uniform(-90, 90), rng.uniform(-90, 90)) for _ in range(n)]


class DeltaE(unittest.TestCase):
    def test_the_published_ciede2000_pairs(self):
        pairs = sharma_pairs()
        self.assertEqual(len(pairs), 34)
        for first, second, expected in pairs:
            self.assertAlmostEqual(hcf.delta_e(first, second), expected, places=4, msg=(first, second))
            # Symmetric, and the same through Lab objects.
            self.assertAlmostEqual(hcf.delta_e(second, first), expected, places=4)
            self.assertEqual(hcf.Lab(*first).delta_e(hcf.Lab(*second)), hcf.delta_e(first, second))

    def test_every_method_equals_the_command_line_results(self):
        samples, standards = random_labs(40, 1), random_labs(40, 2)
        lines = "".join(f"{' '.join(map(repr, s))} {' '.join(map(repr, t))}\n"
                        for s, t in zip(samples, standards))
        for name, method in [("de_2000", hcf.DeltaE.CIEDE2000), ("de_cmc_21", hcf.DeltaE.CMC21),
                             ("de_cmc_11", hcf.DeltaE.CMC11), ("de_94_gfx", hcf.DeltaE.CIE94_GRAPHIC_ARTS),
                             ("de_94_textiles", hcf.DeltaE.CIE94_TEXTILES)]:
            expected = [float(v) for v in run_tool("color", "delta-e", "--method", name, input=lines).split()]
            got = [hcf.delta_e(s, t, method) for s, t in zip(samples, standards)]
            for e, g in zip(expected, got):
                self.assertAlmostEqual(g, e, delta=1e-9 * max(1, e), msg=name)
            # The kit's own names select the same method.
            self.assertEqual(hcf.delta_e(samples[0], standards[0], name), got[0])

    def test_the_sample_sets_the_weights_of_cmc(self):
        a, b = (50, 40, 10), (60, 0, -5)
        self.assertNotAlmostEqual(hcf.delta_e(a, b, "cmc21"), hcf.delta_e(b, a, "cmc21"), places=3)

    def test_batch_equals_single_pairs(self):
        sample = (52.0, 12.5, -7.25)
        standards = random_labs(257, 3)
        for method in hcf.DeltaE:
            single = [hcf.delta_e(sample, s, method) for s in standards]
            listed = hcf.delta_e_batch(sample, standards, method)
            self.assertIsInstance(listed, list)
            for x, y in zip(single, listed):
                self.assertAlmostEqual(x, y, delta=1e-12 * max(1, x))
            if numpy is not None:
                array = hcf.delta_e_batch(sample, numpy.array(standards), method)
                self.assertIsInstance(array, numpy.ndarray)
                self.assertEqual(array.shape, (257,))
                numpy.testing.assert_allclose(array, single, rtol=1e-12, atol=1e-12)

    @unittest.skipIf(numpy is None, "NumPy is not installed")
    def test_batch_arrays_of_other_types_and_shapes(self):
        ints = numpy.array([[50, 1, 0], [51, 0, 0]], dtype=numpy.int32)
        self.assertAlmostEqual(float(hcf.delta_e_batch((50, 0, 0), ints)[1]), hcf.delta_e((50, 0, 0), (51, 0, 0)))
        column_major = numpy.asfortranarray(numpy.array(random_labs(5, 4)))
        numpy.testing.assert_allclose(hcf.delta_e_batch((50, 0, 0), column_major),
                                      [hcf.delta_e((50, 0, 0), s) for s in column_major.tolist()])
        self.assertEqual(hcf.delta_e_batch((50, 0, 0), numpy.zeros((0, 3))).shape, (0,))
        for bad in (numpy.zeros((4, 2)), numpy.zeros(3), numpy.zeros((2, 3, 1))):
            with self.assertRaises(ValueError):
                hcf.delta_e_batch((50, 0, 0), bad)

    def test_bad_colours_are_refused_clearly(self):
        for bad in ((1, 2), (1, 2, 3, 4), "50 0 0", (1, "a", 3), None, 5):
            with self.assertRaises(TypeError):
                hcf.delta_e(bad, (50, 0, 0))
        with self.assertRaises(TypeError):
            hcf.delta_e_batch((50, 0, 0), [(50, 0, 0), (1, 2)])


# Rows the formulas treat apart: black, the white, neutral greys (no hue), negative zeros,
# tiny and huge components, lightness outside 0-100.
EDGES = [(0.0, 0.0, 0.0), (100.0, 0.0, 0.0), (50.0, -0.0, 0.0), (50.0, 1e-300, -1e-300),
         (0.5, 127.0, -128.0), (150.0, 300.0, -300.0), (-5.0, 0.0, 0.0), (8.0, 0.0, 1.0)]


@unittest.skipIf(numpy is None, "NumPy is not installed")
class Arrays(unittest.TestCase):
    """The array forms run the scalar calls' functions: equal results, bit for bit."""

    LABS = random_labs(300, 5) + EDGES

    def test_conversions_equal_the_scalar_calls(self):
        labs = numpy.array(self.LABS)
        for illuminant, observer in [("D50", 2), ("D65", 10), ("F11", 2), ("A", 10)]:
            options = {"illuminant": illuminant, "observer": observer}
            xyz = hcf.lab_to_xyz(labs, **options)
            self.assertTrue(numpy.array_equal(
                xyz, [list(hcf.Lab(*lab, **options).xyz()) for lab in self.LABS]), options)
            self.assertTrue(numpy.array_equal(
                hcf.xyz_to_lab(xyz, **options), [list(hcf.XYZ(*x, **options).lab()) for x in xyz.tolist()]))
        self.assertTrue(numpy.array_equal(hcf.lab_to_lch(labs), [list(hcf.Lab(*lab).lch()) for lab in self.LABS]))
        # Any shape (..., 3) keeps its shape; lists are taken as arrays.
        grid = labs[:300].reshape(10, 30, 3)
        self.assertTrue(numpy.array_equal(hcf.lab_to_xyz(grid), hcf.lab_to_xyz(labs[:300]).reshape(10, 30, 3)))
        self.assertEqual(hcf.lab_to_lch(numpy.zeros((0, 3))).shape, (0, 3))
        self.assertEqual(list(hcf.lab_to_xyz([50, 20, 10])), list(hcf.Lab(50, 20, 10).xyz()))

    def test_differences_pair_by_pair_equal_the_scalar_calls(self):
        samples = numpy.array(self.LABS)
        standards = numpy.array(random_labs(300, 6) + EDGES[::-1])
        one = (52.0, 12.5, -7.25)
        for method in hcf.DeltaE:
            pairs = zip(samples.tolist(), standards.tolist())
            self.assertTrue(numpy.array_equal(hcf.delta_e(samples, standards, method),
                                              [hcf.delta_e(s, t, method) for s, t in pairs]), method)
            self.assertTrue(numpy.array_equal(hcf.delta_e(samples, one, method),
                                              [hcf.delta_e(s, one, method) for s in samples.tolist()]))
            self.assertTrue(numpy.array_equal(hcf.delta_e(hcf.Lab(*one), standards, method),
                                              [hcf.delta_e(one, t, method) for t in standards.tolist()]))
        self.assertEqual(hcf.delta_e(samples[:300].reshape(3, 100, 3), one).shape, (3, 100))
        # One colour as a (3,) array is the scalar call it always was.
        self.assertIsInstance(hcf.delta_e(numpy.array(one), (50, 0, 0)), float)

    def test_arrays_the_calls_do_not_take(self):
        nan, inf = float("nan"), float("inf")
        cases = [
            (hcf.lab_to_xyz, (numpy.array([[50, nan, 0]]),), ValueError),
            (hcf.xyz_to_lab, (numpy.array([[20, 20, 20], [inf, 0, 0]]),), ValueError),
            (hcf.lab_to_lch, (numpy.zeros((4, 2)),), ValueError),
            (hcf.lab_to_xyz, (numpy.float64(3),), ValueError),
            (hcf.lab_to_xyz, (["L", "a", "b"],), TypeError),
            (hcf.delta_e, (numpy.zeros((2, 3)), numpy.zeros((3, 3))), ValueError),
            (hcf.delta_e, (numpy.zeros((2, 3)), numpy.zeros((1, 2, 3))), ValueError),
            (hcf.delta_e, (numpy.zeros((2, 3)), (nan, 0, 0)), ValueError),
            (hcf.delta_e, (numpy.full((2, 3), -inf), (50, 0, 0)), ValueError),
        ]
        for call, args, error in cases:
            with self.assertRaises(error, msg=(call.__name__, args)):
                call(*args)


class Conversions(unittest.TestCase):
    LABS = [(50.0, 20.0, 10.0), (96.5, -1.25, 3.5), (12.0, 40.0, -60.0)]

    def convert(self, source, target, values, *options):
        out = run_tool("color", "convert", "--from", source, "--to", target, *options,
                       input="".join(" ".join(map(repr, v)) + "\n" for v in values))
        return out.splitlines()

    def assertClose(self, got, expected, tolerance=1e-8):
        self.assertEqual(len(got), len(expected))
        for g, e in zip(got, expected):
            self.assertAlmostEqual(g, e, delta=tolerance * max(1, abs(e)))

    def test_lab_to_xyz_lch_and_hex_under_every_illuminant_and_observer(self):
        for illuminant in hcf.Illuminant:
            for observer in ("2", "10"):
                options = ("--illuminant", illuminant.name, "--observer", observer)
                xyz = self.convert("lab", "xyz", self.LABS, *options)
                lch = self.convert("lab", "lch", self.LABS, *options)
                for lab, x, l in zip(self.LABS, xyz, lch):
                    colour = hcf.Lab(*lab, illuminant=illuminant, observer=observer)
                    self.assertClose(list(colour.xyz()), numbers(x))
                    self.assertClose(list(colour.lch()), numbers(l))
                    self.assertEqual(colour.xyz().illuminant, illuminant)
        hexes = self.convert("lab", "hex", self.LABS)
        self.assertEqual([hcf.Lab(*lab).hex for lab in self.LABS], [h.strip() for h in hexes])

    def test_adaptation_equals_the_command_line(self):
        for target in ("D65", "A", "F11"):
            out = run_tool("color", "adapt", "--from-illuminant", "D50", "--to-illuminant", target,
                           "40", "30", "20")
            self.assertClose(list(hcf.XYZ(40, 30, 20).to_illuminant(target)), numbers(out))

    def test_round_trips(self):
        for lab in self.LABS:
            colour = hcf.Lab(*lab, illuminant="D65", observer=10)
            back = colour.xyz().lab()
            self.assertClose(list(back), list(lab), 1e-5)  # the cubes are taken in single precision
            self.assertClose(list(colour.lch().lab()), list(lab), 1e-12)
            there_and_back = colour.to_illuminant("A").to_illuminant("D65")
            self.assertClose(list(there_and_back), list(lab), 1e-4)
            self.assertEqual(hcf.Lab.from_dict(colour.to_dict()), colour)

    def test_white_points_and_spectral_integration(self):
        self.assertEqual(hcf.white_point("D65"), (0.95047, 1.0, 1.08883))
        for illuminant in hcf.Illuminant:
            for observer in hcf.Observer:
                white = hcf.xyz_from_spectrum([1.0] * 31, 400, illuminant, observer)
                self.assertAlmostEqual(white.Y, 100.0, places=10)
                self.assertEqual((white.illuminant, white.observer), (illuminant, observer))
        grey = hcf.xyz_from_spectrum([0.5] * 31)
        self.assertAlmostEqual(grey.Y, 50.0, places=10)
        if numpy is not None:
            self.assertEqual(list(hcf.xyz_from_spectrum(numpy.full(31, 0.5))), list(grey))
        for bad in ([], [0.5] * 50):  # no samples; past 830 nm
            with self.assertRaises(hcf.ArgumentError):  # an hcf.Error and a ValueError
                hcf.xyz_from_spectrum(bad, 400)
        for start in (300, 1000):
            with self.assertRaises(hcf.ArgumentError):
                hcf.xyz_from_spectrum([0.5] * 10, start)
        with self.assertRaises(ValueError):
            hcf.xyz_from_spectrum([0.5] * 30 + [float("nan")])


class Arguments(unittest.TestCase):
    def test_enumerations_by_member_name_and_number(self):
        for given in (hcf.Illuminant.D65, "D65", "d65", 1):
            self.assertEqual(hcf.Lab(1, 2, 3, illuminant=given).illuminant, hcf.Illuminant.D65)
        for given in (hcf.Observer.TEN_DEGREE, "10", "10°", 10, 1, "TEN_DEGREE"):
            self.assertEqual(hcf.Lab(1, 2, 3, observer=given).observer, hcf.Observer.TEN_DEGREE)
        self.assertIs(type(hcf.Lab(1, 2, 3).illuminant), hcf.Illuminant)
        self.assertEqual(str(hcf.Lab(1, 2, 3, observer=10).observer), "10°")

    def test_values_outside_the_enumerations_are_errors_not_defaults(self):
        for bad in ("D66", "", 8, -1):
            with self.assertRaises(ValueError):
                hcf.Lab(1, 2, 3, illuminant=bad)
        for bad in ("5", 3):
            with self.assertRaises(ValueError):
                hcf.Lab(1, 2, 3, observer=bad)
        with self.assertRaises(ValueError):
            hcf.delta_e((1, 2, 3), (1, 2, 3), "de_1976")
        for bad in (True, 1.0, [1]):
            with self.assertRaises(TypeError):
                hcf.Lab(1, 2, 3, illuminant=bad)

    def test_dictionaries_from_outside(self):
        with self.assertRaises(hcf.ArgumentError) as caught:
            hcf.Lab.from_dict({"L": "fifty", "a": 0, "b": 0})
        self.assertEqual(caught.exception.code, 9930)
        self.assertIsInstance(caught.exception, ValueError)
        self.assertIn("L", caught.exception.message)
        cyclic = {"L": 50, "a": 0, "b": 0}
        cyclic["self"] = cyclic
        with self.assertRaises(ValueError):
            hcf.Lab.from_dict(cyclic)
        with self.assertRaises(ValueError):
            hcf.Lab.from_dict({"L": 50, "a": 0, "b": 0, "x": object()})
        lab = hcf.Lab.from_dict(json.loads('{"d50L": 50, "d50a": 1.5, "d50b": -2}'))
        self.assertEqual(tuple(lab), (50, 1.5, -2))

    def test_equality_and_printing(self):
        # Values compare as numbers do (a kit difference of 1e-12 is a difference).
        self.assertNotEqual(hcf.Lab(50, 1, 2), hcf.Lab(50, 1, 2 + 1e-12))
        self.assertNotEqual(hcf.Lab(50, 1, 2), hcf.Lab(50, 1, 2, illuminant="D65"))
        self.assertNotEqual(hcf.Lab(50, 1, 2), (50, 1, 2))
        self.assertEqual(repr(hcf.Lab(50, 1, 2)), "hcf.Lab(50.0, 1.0, 2.0, illuminant=D50, observer=2°)")
        self.assertTrue(math.isclose(hcf.RGB(1, 0.5, 0).rgb255[1], 127.5))
        self.assertEqual(hcf.RGB(1, 0.5, 0).hex, "FF8000")  # each component rounded

    def test_colours_are_hashable_read_only_values(self):
        cases = [(hcf.Lab, "L", True), (hcf.XYZ, "X", True), (hcf.Luv, "L", True),
                 (hcf.LCh, "L", True), (hcf.RGB, "r", False)]
        for kind, first, lit in cases:
            colour = kind(0.5, 0.25, 0.0)
            self.assertEqual(colour, kind(0.5, 0.25, -0.0), msg=kind)
            self.assertEqual(len({colour, kind(0.5, 0.25, -0.0), kind(0.5, 0.25, 1e-300)}), 2)
            self.assertEqual({colour: kind.__name__}[kind(0.5, 0.25, 0.0)], kind.__name__)
            self.assertNotEqual(colour, (0.5, 0.25, 0.0))
            if lit:
                self.assertNotEqual(colour, kind(0.5, 0.25, 0.0, observer=10))
            with self.assertRaises(AttributeError):
                setattr(colour, first, 1.0)
            for bad in (float("nan"), float("inf")):
                with self.assertRaises(ValueError, msg=(kind, bad)):
                    kind(bad, 0, 0)
        self.assertNotEqual(hcf.Lab(1, 2, 3), hcf.XYZ(1, 2, 3))
        for call in (lambda: hcf.delta_e((float("nan"), 0, 0), (50, 0, 0)),
                     lambda: hcf.Lab(50, 0, 0).delta_e((0, float("inf"), 0)),
                     lambda: hcf.delta_e_batch((50, 0, 0), [(50, 0, float("nan"))])):
            with self.assertRaises(ValueError):
                call()


if __name__ == "__main__":
    unittest.main()
