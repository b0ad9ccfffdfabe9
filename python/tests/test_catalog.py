"""The product catalogue searched on the calling thread, against the hcf program's searches of
the same store."""

import json
import os
import shutil
import struct
import tempfile
import unicodedata
import unittest

import hcf
from support import SOURCE_DIR, run_tool


def single(value):
    """`value` with every float taken to single precision: the hcf program prints the
    catalogue's single-precision values with a float's digits."""
    if isinstance(value, float):
        return struct.unpack("f", struct.pack("f", value))[0]
    if isinstance(value, list):
        return [single(v) for v in value]
    if isinstance(value, dict):
        return {k: single(v) for k, v in value.items()}
    return value


class CatalogSearch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="hcf-python-catalog-")
        products = os.path.join(cls.dir, "products.jsonl")
        run_tool("catalog", "fixture", "--count", "300", "--names",
                 os.path.join(SOURCE_DIR, "data", "colors", "color-name-list.csv"), "--out", products)
        run_tool("catalog", "build", products, "--package-id", "example", "--out", cls.dir)
        cls.store = os.path.join(cls.dir, "halvern-products-example.realm")
        cls.catalog = hcf.Catalog(cls.store)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def reference(self, *args):
        return single(json.loads(run_tool("search", "--store", self.store, "--json", *args)))

    def test_colour_searches_rank_as_the_command_line(self):
        cases = [
            ((50, 20, 10), {}, ("--limit", "50")),
            ((70, -20, 35), {"method": "cmc21", "illuminant": "D65", "observer": 10, "limit": 7, "skip": 2},
             ("--method", "de_cmc_21", "--illuminant", "D65", "--observer", "10", "--limit", "7", "--skip", "2")),
            ((35, 5, -40), {"filters": [("base", "oil")], "method": hcf.DeltaE.CIE94_TEXTILES},
             ("--filter", "base=oil", "--method", "de_94_textiles", "--limit", "50")),
        ]
        for lab, options, arguments in cases:
            results = self.catalog.search(hcf.Lab(*lab), **options)
            expected = self.reference("--lab", *map(str, lab), *arguments)
            self.assertEqual(single([r.to_dict() for r in results]), expected, msg=options)
            self.assertTrue(all(r.delta_e is not None for r in results))
            self.assertEqual([r.delta_e for r in results], sorted(r.delta_e for r in results))

    def test_the_colour_of_a_search_in_every_form(self):
        lab = hcf.Lab(50, 20, 10)
        first = [r.product.code for r in self.catalog.search(lab, limit=5)]
        self.assertEqual([r.product.code for r in self.catalog.search((50, 20, 10), limit=5)], first)
        # The same colour seen under D65 is adapted back to D50, where the catalogue is.
        under_d65 = lab.to_illuminant("D65")
        self.assertEqual([r.product.code for r in self.catalog.search(under_d65, limit=5)], first)
        by_hex = self.catalog.search("#" + lab.hex, limit=5)
        self.assertEqual(single([r.to_dict() for r in by_hex]), self.reference("--hex", lab.hex, "--limit", "5"))
        for bad in ("#12345", "#GG0000", "red"):
            with self.assertRaises(ValueError):
                self.catalog.search(bad)

    def test_text_all_products_and_filters(self):
        blue = self.catalog.search(text="blue", filters=[hcf.Filter("base", "oil")], limit=100)
        self.assertEqual(single([r.to_dict() for r in blue]),
                         self.reference("--text", "blue", "--filter", "base=oil", "--limit", "100"))
        self.assertTrue(blue and all("blue" in r.product.name.lower() for r in blue))
        self.assertTrue(all(r.delta_e is None for r in blue))
        everything = self.catalog.search(limit=1000)
        self.assertEqual(len(everything), 285)  # the store's 300 include 15 inspirations
        # Names sort as people read them: case and diacritics do not count.
        def collated(name):
            bare = "".join(c for c in unicodedata.normalize("NFD", name) if not unicodedata.combining(c))
            return (bare.lower(), name.encode())
        by_name = self.catalog.search(limit=5, sort=[("name", False)])
        self.assertEqual([r.product.name for r in by_name],
                         sorted((r.product.name for r in everything), key=collated, reverse=True)[:5])
        inspirations = self.catalog.search(inspirations=True, limit=1000)
        self.assertEqual(len(inspirations), 15)
        self.assertEqual(len(self.catalog), 300)

    def test_filter_values_narrow_with_the_selection(self):
        every = self.catalog.filter_values()
        self.assertIn(hcf.Filter("base", "oil"), every)
        self.assertNotIn(hcf.Filter("category", "Inspirations"), every)
        self.assertIn(hcf.Filter("category", "Inspirations"), self.catalog.filter_values(inspirations=True))
        narrowed = self.catalog.filter_values(selected=[("base", "oil")])
        self.assertLessEqual(len(narrowed), len(every))
        self.assertTrue(set(narrowed) <= set(every))
        self.assertEqual(self.catalog.filter_values(selected=[("no such key", "x")]), [])
        with self.assertRaises(TypeError):
            self.catalog.filter_values(selected=["base=oil"])

    def test_products_read_as_python_objects(self):
        result = self.catalog.search((50, 20, 10), limit=1)[0]
        product = result.product
        self.assertTrue(product.code.startswith("HC-"))
        self.assertEqual(product.attributes["code"], product.code)
        self.assertEqual(product.hex, product.colors[0].hex)
        self.assertEqual(hcf.Product.from_dict(product.to_dict()), product)
        measured = hcf.Product.from_dict({"colors": [{"lab": {"L": 50, "a": 1, "b": 2},
                                                      "mcs": [{"batch": "7", "lab": {"L": 51, "a": 1, "b": 2}}]}]})
        self.assertEqual(measured.batched_labs(), [("7", hcf.Lab(51, 1, 2))])
        self.assertEqual(result.to_dict()["product"], product.to_dict())
        self.assertAlmostEqual(result.delta_e, result.to_dict()["delta_e"], places=6)

    def test_files_that_are_not_catalogues(self):
        with self.assertRaises(hcf.Error):
            hcf.Catalog(os.path.join(self.dir, "missing.realm"))
        not_a_store = os.path.join(self.dir, "products.jsonl")
        with self.assertRaises(hcf.Error) as caught:
            hcf.Catalog(not_a_store)
        self.assertIn("not a database", caught.exception.message)


if __name__ == "__main__":
    unittest.main()
