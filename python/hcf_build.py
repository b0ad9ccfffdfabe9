"""Build backend (PEP 517) for the hcf module, using only the standard library.

Runs CMake on the repository this folder belongs to, builds the extension `hcf._hcf` with the
kit linked in statically (the wheel needs no libhcf), and packs it with the package's Python
files into a wheel for this interpreter and platform. Settings (pip's --config-settings):
  build-dir   a CMake build folder to use and keep (default: a temporary one)
  build-type  CMake build type (default Release)
  jobs        parallel compile jobs (default: the number of processors)
"""

import base64
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
NAME = "hcf"


def _version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(hcf VERSION ([0-9.]+)", text)
    if not found:
        raise RuntimeError("no project version in CMakeLists.txt")
    return found.group(1)


def _tag():
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{interpreter}-{interpreter}-{platform}"


def _metadata():
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {_version()}\n"
            "Summary: Colour science, paint catalogues and Bluetooth colour-measuring instruments\n"
            "Requires-Python: >=3.9\n").encode()


def _setting(config_settings, key, default=None):
    value = (config_settings or {}).get(key, default)
    return value[-1] if isinstance(value, list) else value


def _build_extension(build_dir, config_settings):
    jobs = str(_setting(config_settings, "jobs", os.cpu_count() or 1))
    configure = [
        "cmake", "-S", str(ROOT), "-B", str(build_dir),
        f"-DCMAKE_BUILD_TYPE={_setting(config_settings, 'build-type', 'Release')}",
        "-DHCF_PYTHON=ON", "-DHCF_BUILD_STATIC=ON", "-DHCF_BUILD_TESTS=OFF",
        f"-DPython3_EXECUTABLE={sys.executable}",
    ]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    # pip shows a build's output only when it fails (or with -v); the compiler's lines go there.
    subprocess.run(configure, check=True, stdout=sys.stderr)
    subprocess.run(["cmake", "--build", str(build_dir), "--target", "hcf_python", "-j", jobs],
                   check=True, stdout=sys.stderr)
    built = sorted((pathlib.Path(build_dir) / "python" / "hcf").glob("_hcf*.so"))
    if len(built) != 1:
        raise RuntimeError(f"the build made {len(built)} extension modules, not one")
    return built[0]


def _package_files(folder):
    """The package's files in `folder` as wheel entries: its Python files, the extension's type
    stubs and the marker that the package is typed (PEP 561)."""
    folder = pathlib.Path(folder)
    chosen = [p for p in sorted(folder.iterdir()) if p.suffix in (".py", ".pyi") or p.name == "py.typed"]
    return {f"{NAME}/{p.name}": p.read_bytes() for p in chosen}


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory, files):
    dist_info = f"{NAME}-{_version()}.dist-info"
    files = dict(files)
    files[f"{dist_info}/METADATA"] = _metadata()
    files[f"{dist_info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: hcf_build\n"
                                   f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
    files[f"{dist_info}/top_level.txt"] = b"hcf\n"
    record = [_record_line(name, data) for name, data in files.items()]
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()
    wheel = f"{NAME}-{_version()}-{_tag()}.whl"
    with zipfile.ZipFile(pathlib.Path(directory) / wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    return wheel


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    dist_info = pathlib.Path(metadata_directory) / f"{NAME}-{_version()}.dist-info"
    dist_info.mkdir(parents=True, exist_ok=True)
    (dist_info / "METADATA").write_bytes(_metadata())
    return dist_info.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    keep = _setting(config_settings, "build-dir")
    build_dir = pathlib.Path(keep) if keep else pathlib.Path(tempfile.mkdtemp(prefix="hcf-wheel-"))
    try:
        extension = _build_extension(build_dir, config_settings)
        files = _package_files(HERE / "hcf")
        files[f"hcf/{extension.name}"] = extension.read_bytes()
        return _write_wheel(wheel_directory, files)
    finally:
        if not keep:
            shutil.rmtree(build_dir, ignore_errors=True)
