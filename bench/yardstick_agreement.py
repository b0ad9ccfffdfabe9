#!/usr/bin/python3
"""The kit's colour search against the NumPy brute force on one small catalogue: the same 50
nearest products, in the same order, for every query.

usage: yardstick_agreement.py HCF_PROGRAM WORK_DIR [PRODUCTS] [QUERIES]
"""

import json
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    hcf, work = sys.argv[1], sys.argv[2]
    products = sys.argv[3] if len(sys.argv) > 3 else "3000"
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 25
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    lines = os.path.join(work, "products.jsonl")
    subprocess.run([hcf, "catalog", "fixture", "--synthetic", products, "--out", lines],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run([hcf, "catalog", "build", lines, "--package-id", "y", "--out", work],
                   check=True, stdout=subprocess.DEVNULL)
    store = os.path.join(work, "halvern-products-y.realm")
    random.seed(11)
    queries = [(random.uniform(5, 98), random.uniform(-70, 70), random.uniform(-70, 70))
               for _ in range(count)]
    queries_file = os.path.join(work, "queries.txt")
    with open(queries_file, "w") as f:
        f.writelines("%.4f %.4f %.4f\n" % q for q in queries)
    yardstick = json.loads(subprocess.run(
        [sys.executable, os.path.join(HERE, "numpy_brute_force.py"), store, queries_file],
        check=True, capture_output=True, text=True).stdout)
    disagreements = 0
    for q, want, deltas in zip(queries, yardstick["results"], yardstick["deltas"]):
        out = subprocess.run([hcf, "search", "--store", store, "--lab"] + ["%.4f" % x for x in q]
                             + ["--limit", "50", "--json"], check=True, capture_output=True,
                             text=True).stdout
        got = [r["product"]["uuid"] for r in json.loads(out)]
        # Two implementations may round a difference across a float's last bit: products
        # within 1e-4 of each other may swap places.
        delta_of = dict(zip(want, deltas))
        apart = len(got) != len(want) or any(
            g != w and abs(delta_of.get(g, deltas[-1]) - deltas[i]) > 1e-4
            for i, (g, w) in enumerate(zip(got, want)))
        if apart:
            disagreements += 1
            print("query %s: the kit and the brute force disagree" % (q,), file=sys.stderr)
    shutil.rmtree(work, ignore_errors=True)
    print("%d of %d queries agree" % (count - disagreements, count))
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
