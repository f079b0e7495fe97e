#!/usr/bin/env python3
"""Reads `kelvarn harvest --format tsv|jsonl` back with Python's own csv and
json readers, as a user's script would, and checks it is the harvest's tree:
every phrase's parent is its seed (level 2) or a phrase of the level above
from the same seed, positions run from 1 on every page (a keyword asked from
both sources has a page of each), and the phrases are
those of the same harvest in --format text.

usage: tree_check.py tsv|jsonl TREE_FILE TEXT_FILE SEEDS_FILE
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
tree = open(tree_path, 'rb').read().decode('utf-8')  # strict: invalid UTF-8 fails here

FIELDS = ['phrase', 'level', 'parent', 'seed', 'source']
if fmt == 'tsv':
    unescape = lambda f: re.sub(r'\\(.)', lambda m: {'t': '\t', 'n': '\n', 'r': '\r', '\\': '\\'}[m.group(1)], f)
    rows = list(csv.reader(io.StringIO(tree, newline=''), delimiter='\t', quoting=csv.QUOTE_NONE))
    assert rows[0] == FIELDS, rows[0]
    records = []
    for row in rows[1:]:
        assert len(row) == 5, row
        records.append({'phrase': unescape(row[0]), 'level': int(row[1]), 'parent': unescape(row[2]),
                        'seed': unescape(row[3]), 'source': row[4]})
else:
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
