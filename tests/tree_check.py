#!/usr/bin/env python3
"""Reads `kelvarn harvest --format tsv|jsonl|csv|xlsx` back with Python's own
csv and json readers and openpyxl, as a user's script would, and checks it is
the harvest's tree:
every phrase's parent is its seed (level 2) or a phrase of the level above
from the same seed, positions run from 1 on every page (a keyword asked from
both sources has a page of each), and the phrases are
those of the same harvest in --format text.

usage: tree_check.py tsv|jsonl|csv|xlsx TREE_FILE TEXT_FILE SEEDS_FILE
Prints the number of phrases; fails with a traceback naming the bad line.
"""
import collections
import csv
import io
import json
import re
import sys

fmt, tree_path, text_path, seeds_path = sys.argv[1:]
# The seeds file by the import rules: GBK, CR LF lines.
seeds = open(seeds_path, 'rb').read().decode('gb18030').split('\r\n')[:-1]
text = open(text_path, 'rb').read().decode('gb18030').split('\r\n')[:-1]
FIELDS = ['phrase', 'level', 'parent', 'seed', 'source']
if fmt == 'xlsx':
    import openpyxl
    sheet = openpyxl.load_workbook(tree_path).active
    assert sheet.freeze_panes == 'A2', sheet.freeze_panes
    rows = list(sheet.iter_rows(values_only=True))
    assert list(rows[0]) == FIELDS and sheet['A1'].font.b, rows[0]
    # Control characters are written _xHHHH_, which Excel reads back and
    # openpyxl leaves to its caller.
    control = lambda v: re.sub(r'_x([0-9A-F]{4})_', lambda m: chr(int(m.group(1), 16)), v) if type(v) is str else v
    records = [dict(zip(FIELDS, map(control, row))) for row in rows[1:]]
    tree = ''
else:
    # Strict: invalid UTF-8 fails here. A csv may start with a byte-order mark.
    tree = open(tree_path, 'rb').read().decode('utf-8-sig' if fmt == 'csv' else 'utf-8')
if fmt == 'csv':
    # What a spreadsheet would run as a formula is written after an apostrophe.
    unguard = lambda f: f[1:] if f[:1] == "'" and f[1:2] and f[1:2] in '=+-@\t\r' else f
    rows = list(csv.reader(io.StringIO(tree, newline='')))
    assert rows[0] == FIELDS and tree.endswith('\r\n'), rows[0]
    records = []
    for row in rows[1:]:
        assert len(row) == 5, row
        assert not any(f[:1] in '=+-@' for f in row if f), row
        records.append({'phrase': unguard(row[0]), 'level': int(row[1]), 'parent': unguard(row[2]),
                        'seed': unguard(row[3]), 'source': row[4]})
elif fmt == 'tsv':
    unescape = lambda f: re.sub(r'\\(.)', lambda m: {'t': '\t', 'n': '\n', 'r': '\r', '\\': '\\'}[m.group(1)], f)
    rows = list(csv.reader(io.StringIO(tree, newline=''), delimiter='\t', quoting=csv.QUOTE_NONE))
    assert rows[0] == FIELDS, rows[0]
    records = []
    for row in rows[1:]:
        assert len(row) == 5, row
        records.append({'phrase': unescape(row[0]), 'level': int(row[1]), 'parent': unescape(row[2]),
                        'seed': unescape(row[3]), 'source': row[4]})
elif fmt == 'jsonl':
    lines = tree.split('\n')
    assert lines.pop() == '', 'the last line has no LF'
    records = [json.loads(line) for line in lines]
    for r in records:
        assert sorted(r) == sorted(FIELDS + ['outcome', 'position']), r
        assert r['outcome'] == 'phrases', r

keywords = collections.defaultdict(set)  # level -> (keyword, seed)
keywords[1] = {(s, s) for s in seeds}
for r in records:
    keywords[r['level']].add((r['phrase'], r['seed']))
for r in records:
    assert r['source'] in ('related', 'suggest'), r
    assert r['seed'] in seeds, r
    assert (r['parent'], r['seed']) in keywords[r['level'] - 1], r
    assert r['level'] > 2 or r['parent'] == r['seed'], r

if fmt == 'jsonl':
    # A keyword listed twice is fetched twice: each of its pages numbers its phrases 1..n.
    pages = collections.defaultdict(collections.Counter)
    for r in records:
        pages[(r['level'], r['parent'], r['seed'], r['source'])][r['position']] += 1
    for page, positions in pages.items():
        assert sorted(positions) == list(range(1, len(positions) + 1)), (page, positions)
        assert len(set(positions.values())) == 1, (page, positions)

assert collections.Counter(r['phrase'] for r in records) == collections.Counter(text), 'not the phrases of --format text'
print(len(records))
