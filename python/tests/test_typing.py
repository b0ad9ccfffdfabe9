"""The package's types: the README's example passes `mypy --strict` against the stubs and runs,
and the extension's stubs name what the extension has, no more and no less."""

import ast
import inspect
import os
import re
import shutil
import subprocess
import sys
import tempfile
import types
import unittest

import hcf
from hcf import _hcf
from support import SOURCE_DIR

PACKAGE = os.path.dirname(hcf.__file__)
# The special methods the stubs declare; the others (repr, str) every object has.
DECLARED_DUNDERS = {"__init__", "__eq__", "__hash__", "__iter__", "__len__", "__enter__", "__exit__"}


def readme_example():
    """The Python example of the README's "Python" section."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        section = f.read().split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    found = re.search(r"```python\n(.*?)```", section, re.S)
    if not found:
        raise AssertionError("the README's Python section has no ```python example")
    return found.group(1)


class ReadmeExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="hcf-python-example-")
        cls.example = os.path.join(cls.dir.name, "readme_example.py")
        with open(cls.example, "w", encoding="utf-8") as f:
            f.write(readme_example())

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_it_passes_strict_type_checking(self):
        mypy = os.environ.get("HCF_MYPY") or shutil.which("mypy")
        if not mypy:
            self.skipTest("mypy is not installed")
        try:
            import numpy  # noqa: F401  (its types are part of the stubs')
        except ImportError:
            self.skipTest("NumPy is not installed")
        # The package itself is checked too: its Python files and the extension's stubs.
        done = subprocess.run(
            [mypy, "--strict", "--no-error-summary", "--cache-dir", os.path.join(self.dir.name, "cache"),
             "--python-executable", sys.executable, PACKAGE, self.example],
            capture_output=True, text=True, timeout=600,
            env=dict(os.environ, MYPYPATH=os.path.dirname(PACKAGE)))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_it_runs_and_shows_the_instruments_colour(self):
        try:
            import numpy  # noqa: F401
        except ImportError:
            self.skipTest("NumPy is not installed")
        done = subprocess.run([sys.executable, self.example], capture_output=True, text=True,
                              timeout=300, cwd=self.dir.name, env=os.environ)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"hcf\.Lab\([^)]*illuminant=D65, observer=10°\)")
        self.assertIsInstance(hcf.load_scan(os.path.join(self.dir.name, "scan.json")), hcf.SpectralScan)


class Stubs(unittest.TestCase):
    def test_the_stubs_name_what_the_extension_has(self):
        with open(os.path.join(PACKAGE, "_hcf.pyi"), encoding="utf-8") as f:
            tree = ast.parse(f.read())
        declared = {"": set()}
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                declared[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
                declared[node.name] |= {n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
            elif isinstance(node, ast.FunctionDef):
                declared[""].add(node.name)
            elif isinstance(node, ast.AnnAssign):
                declared[""].add(node.target.id)
        present = {"": {"__version__"}}
        for name, value in vars(_hcf).items():
            if name.startswith("_"):
                continue
            if inspect.isclass(value):
                present[name] = {k for k, v in vars(value).items()
                                 if (not k.startswith("__") or k in DECLARED_DUNDERS)
                                 and not isinstance(v, types.WrapperDescriptorType)}
            else:
                present[""].add(name)
        self.assertEqual(sorted(declared), sorted(present))
        for name in present:
            self.assertEqual(sorted(declared[name]), sorted(present[name]), msg=name or "the module")


if __name__ == "__main__":
    unittest.main()
