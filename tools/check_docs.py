#!/usr/bin/env python3
"""Holds the documents to the code they describe.

  check_docs.py exports   every table in README.md and docs/*.md that lists
                          exports lists all of src/exports/zadized.def's, and
                          where a row gives an ordinal, the .def's ordinal
  check_docs.py links     every relative link of README.md and docs/*.md
                          leads to a file of the repository, and to a
                          heading of it where it names one (the guide's
                          links are also those of the release zip, which
                          carries docs/images beside the guide)

A table lists exports when cells that hold nothing but export names in
backquotes (`PtrCopyData`, `PtrPutString`) name at least half of the .def's
exports. Prints what it checked; exits 1 on the first kind of fault found.
"""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DOCS = [ROOT / 'README.md'] + sorted((ROOT / 'docs').glob('*.md'))
NAMES_ONLY = re.compile(r'^`[A-Za-z_]\w*`(\s*,\s*`[A-Za-z_]\w*`)*$')


def read_def():
    exports = {}
    for line in (ROOT / 'src/exports/zadized.def').read_text().splitlines():
        m = re.match(r'^\s+([A-Za-z_]\w*)\s+@(\d+)', line)
        if m:
            exports[m.group(1)] = int(m.group(2))
    return exports


def tables(path):
    """(first line number, rows of cells) for each table outside code blocks."""
    found, rows, start, fenced = [], [], 0, False
    for number, line in enumerate(path.read_text().splitlines() + [''], 1):
        if line.startswith('```'):
            fenced = not fenced
        if not fenced and line.startswith('|'):
            if not rows:
                start = number
            cells = [c.strip() for c in line.strip().strip('|').split('|')]
            if not all(re.fullmatch(r':?-+:?', c) for c in cells):
                rows.append(cells)
        elif rows:
            found.append((start, rows))
            rows = []
    return found


def check_exports():
    exports = read_def()
    if not exports:
        print('docs: no exports read from src/exports/zadized.def')
        return 1
    faults, checked = [], 0
    for path in DOCS:
        for start, rows in tables(path):
            named, ordinals = {}, {}
            for row in rows:
                for i, cell in enumerate(row):
                    if not NAMES_ONLY.match(cell):
                        continue
                    names = re.findall(r'`(\w+)`', cell)
                    for name in names:
                        named.setdefault(name, row)
                    # An ordinal stands in the cell beside a single name.
                    beside = [row[j] for j in (i - 1, i + 1) if 0 <= j < len(row) and row[j].isdigit()]
                    if len(names) == 1 and beside:
                        ordinals[names[0]] = int(beside[0])
            if 2 * len(set(named) & set(exports)) < len(exports):
                continue
            checked += 1
            where = f'{path.relative_to(ROOT)}:{start}'
            missing = [n for n in sorted(exports, key=exports.get) if n not in named]
            if missing:
                faults.append(f'{where}: the table of exports leaves out {", ".join(missing)}')
            for name, ordinal in ordinals.items():
                if name in exports and ordinal != exports[name]:
                    faults.append(f'{where}: {name} is given ordinal {ordinal}, the .def says {exports[name]}')
            print(f'docs: {where}: a table of {len(set(named) & set(exports))} exports, '
                  f'{len(ordinals)} with ordinals')
    for fault in faults:
        print('docs: ' + fault)
    if checked == 0:
        print('docs: no table of exports found, which cannot be right')
        return 1
    print(f'docs: {checked} tables of exports against the {len(exports)} exports of zadized.def')
    return 1 if faults else 0


def anchors(text):
    """The anchors a Markdown renderer gives the headings, GitHub's way."""
    found = set()
    for heading in re.findall(r'^#+ (.*)$', text, flags=re.M):
        found.add(re.sub(r'[^\w\- ]', '', heading.strip().lower()).replace(' ', '-'))
    return found


def check_links():
    faults, checked = [], 0
    for path in DOCS:
        text = re.sub(r'```.*?```', '', path.read_text(), flags=re.S)
        for target in re.findall(r'\]\(([^)\s]+)\)', text):
            if re.match(r'^[a-z]+:', target):
                continue
            checked += 1
            file, _, anchor = target.partition('#')
            linked = path.parent / file if file else path
            if not linked.exists():
                faults.append(f'{path.relative_to(ROOT)}: the link {target} leads nowhere')
            elif anchor and linked.suffix == '.md' and anchor not in anchors(
                    re.sub(r'```.*?```', '', linked.read_text(), flags=re.S)):
                faults.append(f'{path.relative_to(ROOT)}: the link {target} names no heading')
    for fault in faults:
        print('docs: ' + fault)
    print(f'docs: {checked} relative links checked')
    return 1 if faults else 0


if __name__ == '__main__':
    what = sys.argv[1] if len(sys.argv) > 1 else ''
    if what == 'exports':
        sys.exit(check_exports())
    if what == 'links':
        sys.exit(check_links())
    print(__doc__)
    sys.exit(2)
