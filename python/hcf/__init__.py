"""hcf: colour science, paint catalogues, scans and Bluetooth colour-measuring instruments.

The C++ kit (namespace hcf) for Python programs. Names are the Python forms of the kit's; each
docstring gives the C++ name it stands for.

    >>> import hcf
    >>> round(hcf.delta_e((50, 2.6772, -79.7751), (50, 0, -82.7485)), 4)
    2.0425
"""

from ._types import ArgumentError, DeltaE, Discovered, Error, Illuminant, Observer, TransportError
from ._hcf import (
    LCh,
    Lab,
    Luv,
    RGB,
    XYZ,
    __version__,
    delta_e,
    delta_e_batch,
    lab_to_lch,
    lab_to_xyz,
    white_point,
    xyz_from_spectrum,
    xyz_to_lab,
)
from ._hcf import Catalog, Filter, Product, SearchResult
from ._hcf import Scan, SpectralScan, TristimScan
from ._files import load_scan, load_scans, save_scan, save_scans
from ._hcf import FilterPanel, Instrument, Kit

__all__ = [
    "ArgumentError", "Catalog", "DeltaE", "Discovered", "Error", "Filter", "FilterPanel",
    "Illuminant", "Instrument", "Kit", "LCh", "Lab", "Luv", "Observer", "Product", "RGB", "Scan",
    "SearchResult", "SpectralScan", "TransportError", "TristimScan", "XYZ", "__version__",
    "delta_e", "delta_e_batch", "lab_to_lch", "lab_to_xyz", "load_scan", "load_scans",
    "save_scan", "save_scans", "white_point", "xyz_from_spectrum", "xyz_to_lab",
]
