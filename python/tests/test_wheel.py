"""The pip build backend's wheel: what `python3 -m pip install ./python` installs. The wheel is
packed from this build's extension (a pip install compiles the kit again, which the build
already did), installed by pip without a package index, and imported from where pip put it."""

import base64
import csv
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import tomllib
import unittest
import zipfile

import hcf
from support import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))
import hcf_build  # noqa: E402  (the backend, beside pyproject.toml)

# What type checkers of programs using the module read.
TYPED = {"hcf/py.typed", "hcf/_hcf.pyi"}


class Wheel(unittest.TestCase):
    def test_the_backend_needs_nothing_from_an_index(self):
        with open(os.path.join(SOURCE_DIR, "python", "pyproject.toml"), "rb") as f:
            system = tomllib.load(f)["build-system"]
        self.assertEqual(system["requires"], [])
        self.assertEqual((system["build-backend"], system["backend-path"]), ("hcf_build", ["."]))
        self.assertEqual(hcf_build.get_requires_for_build_wheel(), [])
        self.assertEqual(hcf_build._version(), hcf.__version__)

    def test_pip_installs_the_wheel_and_the_module_imports_from_there(self):
        built = os.path.dirname(hcf.__file__)
        files = hcf_build._package_files(built)
        self.assertLessEqual(TYPED, set(files))
        for name in sorted(os.listdir(built)):
            if name.endswith(".so"):
                with open(os.path.join(built, name), "rb") as f:
                    files[f"hcf/{name}"] = f.read()
        with tempfile.TemporaryDirectory() as scratch:
            wheel = os.path.join(scratch, hcf_build._write_wheel(scratch, files))
            self.assertRegex(os.path.basename(wheel),
                             rf"^hcf-{hcf.__version__}-cp3\d+-cp3\d+-linux_\w+\.whl$")
            with zipfile.ZipFile(wheel) as archive:
                record = archive.read(f"hcf-{hcf.__version__}.dist-info/RECORD").decode()
                for name, digest, size in csv.reader(io.StringIO(record)):
                    if not digest:
                        continue
                    data = archive.read(name)
                    expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                    self.assertEqual(digest, "sha256=" + expected.decode(), name)
                    self.assertEqual(int(size), len(data))
            site = os.path.join(scratch, "site")
            pip = subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True)
            if pip.returncode != 0:
                self.skipTest("pip is not installed for this interpreter")
            installed = subprocess.run(
                [sys.executable, "-m", "pip", "install", "--no-index", "--no-deps",
                 "--no-build-isolation", "--disable-pip-version-check", "--target", site, wheel],
                capture_output=True, text=True, timeout=300)
            self.assertEqual(installed.returncode, 0, installed.stderr)
            env = dict(os.environ, PYTHONPATH=site)
            out = subprocess.run(
                [sys.executable, "-c",
                 "import hcf; print(hcf.__file__); "
                 "print(round(hcf.delta_e((50,2.6772,-79.7751),(50,0,-82.7485)), 4))"],
                capture_output=True, text=True, env=env, timeout=60)
            self.assertEqual(out.returncode, 0, out.stderr)
            where, value = out.stdout.split()
            self.assertTrue(where.startswith(site), where)
            self.assertEqual(value, "2.0425")
            for name in TYPED:
                self.assertTrue(os.path.isfile(os.path.join(site, name)), name)

    def test_the_install_rules_ship_the_types(self):
        build, cmake = os.environ.get("HCF_BUILD_DIR"), shutil.which("cmake")
        if not build or not cmake:
            self.skipTest("HCF_BUILD_DIR does not name this build, or there is no cmake")
        with tempfile.TemporaryDirectory() as prefix:
            done = subprocess.run([cmake, "--install", build, "--component", "python", "--prefix", prefix],
                                  capture_output=True, text=True, timeout=300)
            self.assertEqual(done.returncode, 0, done.stderr)
            packaged = os.path.join(prefix, "lib", "python3", "dist-packages")
            for name in TYPED:
                self.assertTrue(os.path.isfile(os.path.join(packaged, name)), name)


if __name__ == "__main__":
    unittest.main()
