#!/usr/bin/python3
"""The yardstick of the colour-search benchmark: the same searches by brute force in NumPy.

Reads a products store with Python's own sqlite3 (nothing of the kit), ranks the products in
the store's default order, and for each query colour computes CIEDE2000 against every
product's reference colour (batch "adjusted", D50, 2 degrees), keeps those inside the Lab box
(L in (L - 35, L + 30), a and b within +-35, strict; every product when 9 or fewer are
inside), and takes the 50 nearest (equal differences in rank order).

usage: numpy_brute_force.py STORE QUERIES
  QUERIES: one "L a b" a line. Prints JSON: {"load_ms", "median_ms", "p95_ms",
  "results": [[uuid, ...] per query], "deltas": [[difference, ...] per query]}.
"""

import json
import sqlite3
import sys
import time
import unicodedata

import numpy as np


def fold(text):
    bare = "".join(c for c in unicodedata.normalize("NFD", text) if not unicodedata.combining(c))
    return bare.lower()


def load(path):
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    products = db.execute(
        "SELECT id, uuid, vendorOrder, code, name, hue, saturation, brightness, isInspiration "
        "FROM HRLMOfflineProduct").fetchall()
    # The default order; names compare without case and diacritics, then by their bytes.
    products.sort(key=lambda p: (p[2], p[3], fold(p[4]), p[4].encode(), p[5], p[6], p[7], p[0]))
    rank_of = {p[0]: r for r, p in enumerate(products)}
    n = len(products)
    lab = np.full((n, 3), np.nan)
    first_position = np.full(n, np.iinfo(np.int64).max)
    for product, position, L, a, b in db.execute(
            "SELECT product, position, d50L, d50A, d50B FROM HRLMBatchedLab "
            "WHERE batch = 'adjusted' AND (illuminant IS NULL OR illuminant = 'D50') "
            "AND (observer IS NULL OR observer = 'TWO_DEGREE')"):
        r = rank_of.get(product)
        if r is not None and position < first_position[r]:
            first_position[r] = position
            lab[r] = (L, a, b)
    # Stored as 32-bit floats.
    lab = lab.astype(np.float32).astype(np.float64)
    allowed = np.array([p[8] == 0 for p in products]) & ~np.isnan(lab[:, 0])
    uuids = [p[1] for p in products]
    return lab, allowed, uuids


def ciede2000(L1, a1, b1, L2, a2, b2):
    C1 = np.hypot(a1, b1)
    C2 = np.hypot(a2, b2)
    Cm = (C1 + C2) / 2
    G = 0.5 * (1 - np.sqrt(Cm ** 7 / (Cm ** 7 + 25.0 ** 7)))
    a1p, a2p = (1 + G) * a1, (1 + G) * a2
    C1p, C2p = np.hypot(a1p, b1), np.hypot(a2p, b2)
    h1p = np.degrees(np.arctan2(b1, a1p)) % 360
    h2p = np.degrees(np.arctan2(b2, a2p)) % 360
    dLp = L2 - L1
    dCp = C2p - C1p
    dh = h2p - h1p
    dh = np.where(dh > 180, dh - 360, np.where(dh < -180, dh + 360, dh))
    dh = np.where(C1p * C2p == 0, 0, dh)
    dHp = 2 * np.sqrt(C1p * C2p) * np.sin(np.radians(dh / 2))
    Lm = (L1 + L2) / 2
    Cmp = (C1p + C2p) / 2
    hsum = h1p + h2p
    hm = np.where(np.abs(h1p - h2p) > 180, np.where(hsum < 360, (hsum + 360) / 2, (hsum - 360) / 2),
                  hsum / 2)
    hm = np.where(C1p * C2p == 0, hsum, hm)
    T = (1 - 0.17 * np.cos(np.radians(hm - 30)) + 0.24 * np.cos(np.radians(2 * hm))
         + 0.32 * np.cos(np.radians(3 * hm + 6)) - 0.20 * np.cos(np.radians(4 * hm - 63)))
    dtheta = 30 * np.exp(-(((hm - 275) / 25) ** 2))
    Rc = 2 * np.sqrt(Cmp ** 7 / (Cmp ** 7 + 25.0 ** 7))
    Sl = 1 + 0.015 * (Lm - 50) ** 2 / np.sqrt(20 + (Lm - 50) ** 2)
    Sc = 1 + 0.045 * Cmp
    Sh = 1 + 0.015 * Cmp * T
    Rt = -np.sin(np.radians(2 * dtheta)) * Rc
    return np.sqrt((dLp / Sl) ** 2 + (dCp / Sc) ** 2 + (dHp / Sh) ** 2
                   + Rt * (dCp / Sc) * (dHp / Sh))


def search(lab, allowed, query):
    L, a, b = query
    d = ciede2000(L, a, b, lab[:, 0], lab[:, 1], lab[:, 2]).astype(np.float32)
    inside = (allowed & (lab[:, 0] < L + 30) & (lab[:, 0] > L - 35) & (lab[:, 1] < a + 35)
              & (lab[:, 1] > a - 35) & (lab[:, 2] < b + 35) & (lab[:, 2] > b - 35))
    ranks = np.flatnonzero(inside if inside.sum() > 9 else allowed)
    order = np.lexsort((ranks, d[ranks]))  # by difference, then rank
    page = ranks[order[:50]]
    return page, d[page]


def main():
    store, queries_file = sys.argv[1], sys.argv[2]
    start = time.perf_counter()
    lab, allowed, uuids = load(store)
    load_ms = (time.perf_counter() - start) * 1000
    with open(queries_file) as f:
        queries = [tuple(float(x) for x in line.split()) for line in f if line.strip()]
    times, results, deltas = [], [], []
    for q in queries:
        start = time.perf_counter()
        ranks, d = search(lab, allowed, q)
        times.append((time.perf_counter() - start) * 1000)
        results.append([uuids[r] for r in ranks])
        deltas.append([float(x) for x in d])
    times.sort()
    json.dump({"load_ms": load_ms, "median_ms": times[len(times) // 2],
               "p95_ms": times[len(times) * 95 // 100], "results": results, "deltas": deltas},
              sys.stdout)


if __name__ == "__main__":
    main()
