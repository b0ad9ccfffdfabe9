"""Scan files: the kit's scan dictionaries as JSON, one scan or a list of scans per file."""

import json
import os
import tempfile
import typing

from ._hcf import Scan

Path = typing.Union[str, "os.PathLike[str]"]


def _read_json(path: Path) -> typing.Any:
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except RecursionError:
        raise ValueError(f"{path}: the JSON is nested too deeply to be a scan file") from None
    except json.JSONDecodeError as e:
        raise ValueError(f"{path}: not JSON: {e}") from None


def load_scans(path: Path) -> typing.List[Scan]:
    """Every scan of a file holding one scan dictionary or a list of them
    (C++ HCFTintVaultSerialization::colorScanFromDictionary). hcf.ArgumentError 9930 (an
    hcf.Error and a ValueError) names the key of the first entry that does not read; nothing is
    returned then."""
    data = _read_json(path)
    entries = data if isinstance(data, list) else [data]
    scans = []
    for i, entry in enumerate(entries):
        if not isinstance(entry, dict):
            raise ValueError(f"{path}: entry {i} is not a scan dictionary")
        scans.append(Scan.from_dict(entry))
    return scans


def load_scan(path: Path) -> Scan:
    """The one scan of a file (see load_scans)."""
    scans = load_scans(path)
    if len(scans) != 1:
        raise ValueError(f"{path}: holds {len(scans)} scans; use hcf.load_scans")
    return scans[0]


def save_scans(scans: typing.Iterable[Scan], path: Path) -> None:
    """Writes the scans' dictionaries as a JSON list (C++ colorScanToDictionary). The file is
    replaced whole: written beside it, then renamed, so a failure leaves the old one."""
    _write_json([s.to_dict() for s in scans], path)


def save_scan(scan: Scan, path: Path) -> None:
    """Writes one scan's dictionary (see save_scans)."""
    _write_json(scan.to_dict(), path)


def _write_json(data: typing.Any, path: Path) -> None:
    # NaN and infinities have no JSON text: the kit refuses to read them back.
    text = json.dumps(data, indent=2, ensure_ascii=False, allow_nan=False) + "\n"
    folder = os.path.dirname(os.path.abspath(path))
    fd, partial = tempfile.mkstemp(prefix=".scan-", suffix=".partial", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            # mkstemp makes the file private; a scan file is an ordinary document.
            try:
                mode = os.stat(path).st_mode & 0o777
            except FileNotFoundError:
                mode = 0o644
            os.fchmod(f.fileno(), mode)
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(partial, path)
    except BaseException:
        try:
            os.unlink(partial)
        except FileNotFoundError:
            pass
        raise
