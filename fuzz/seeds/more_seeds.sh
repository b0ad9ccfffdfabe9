#!/usr/bin/env bash
# The seeds the hcf program and Python make best: scan dictionaries of both instrument kinds,
# catalogue products, and archives (one of each shape the unpacker must refuse).
# usage: fuzz/seeds/more_seeds.sh HCF_PROGRAM CORPUS_DIR
set -euo pipefail
hcf=$1
corpus=$2
mkdir -p "$corpus/scan_json" "$corpus/product_json" "$corpus/zip_archive"
"$hcf" measure --sim --patch red --json >"$corpus/scan_json/tristimulus.json"
"$hcf" measure --sim --serial 00E15E000001 --patch 'blue sky' --json >"$corpus/scan_json/spectral.json"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
"$hcf" catalog fixture --count 3 --out "$tmp" >/dev/null
cp "$tmp" "$corpus/product_json/three.jsonl"
head -1 "$tmp" >"$corpus/product_json/one.json"
python3 - "$corpus/zip_archive" <<'PY'
import sys, zipfile
root = sys.argv[1] + '/'
def make(name, entries, symlink=None):
    with zipfile.ZipFile(root + name, 'w', zipfile.ZIP_DEFLATED) as f:
        for n, data in entries:
            f.writestr(n, data)
        if symlink:
            info = zipfile.ZipInfo(symlink[0])
            info.create_system = 3
            info.external_attr = 0o120777 << 16
            f.writestr(info, symlink[1])
make('package.zip', [('info.json', '{"ann_order":["a.onnx"]}'), ('a.onnx', b'\x08\x07')])
make('nested.zip', [('dir/sub/file.txt', 'x' * 100), ('dir/other.txt', 'y')])
make('slip.zip', [('../outside.txt', 'no')])
make('absolute.zip', [('/tmp/absolute.txt', 'no')])
make('link.zip', [('ok.txt', 'ok')], symlink=('link', '/etc/passwd'))
PY
