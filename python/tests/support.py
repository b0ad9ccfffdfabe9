"""What the module's tests share: the C++ programs of the same build, run as references."""

import os
import subprocess
import unittest

SOURCE_DIR = os.environ.get("HCF_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def tool():
    """The hcf program of this build (HCF_TOOL), or skip."""
    path = os.environ.get("HCF_TOOL")
    if not path or not os.access(path, os.X_OK):
        raise unittest.SkipTest("HCF_TOOL does not name the hcf program of this build")
    return path


def run_tool(*args, input=None):
    """The hcf program's standard output; a failure fails the test with its error output."""
    done = subprocess.run([tool(), *args], input=input, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(f"hcf {' '.join(args)} failed ({done.returncode}): {done.stderr}")
    return done.stdout


def numbers(line):
    return [float(v) for v in line.split()]
