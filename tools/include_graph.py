#!/usr/bin/env python3
"""Prints which folders of src/ include which, from the #include lines, and
fails if a room includes one that is not below it (the order is LAYERS) or if
they form a cycle. With --files FOLDER, the same for the files of one folder
(a header and its .cpp count as one unit), which must form no cycle. The
public header, include/zadized.h, lies below every room and is not shown.

  tools/include_graph.py              # rooms of src/
  tools/include_graph.py --files search
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
LAYERS = ["platform", "memory", "image", "search", "exports"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def edges(unit_of):
    graph = {}
    for folder in sorted(os.listdir(ROOT)):
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            source = unit_of(folder, name)
            if source is None:
                continue
            graph.setdefault(source, set())
            with open(os.path.join(ROOT, folder, name), encoding="utf-8") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    target = unit_of(*m.group(1).split("/", 1))
                    if target is not None and target != source:
                        graph[source].add(target)
    return graph


def cycle(graph):
    state = {}

    def visit(node, path):
        state[node] = 1
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return path + [node, nxt]
            if nxt not in state:
                found = visit(nxt, path + [node])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [])
            if found:
                return found[found.index(found[-1]):]
    return None


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--files":
        room = sys.argv[2]
        graph = edges(lambda folder, name: os.path.splitext(name)[0] if folder == room and name.endswith((".h", ".cpp")) else None)
    else:
        graph = edges(lambda folder, name: folder)
    order = sorted(graph, key=lambda n: LAYERS.index(n) if n in LAYERS else len(LAYERS))
    wrong = []
    for node in order:
        print(f"{node:18} -> {', '.join(sorted(graph[node])) or '(nothing)'}")
        if len(sys.argv) == 1:
            wrong += [f"{node} -> {t}" for t in sorted(graph[node])
                      if node not in LAYERS or t not in LAYERS or LAYERS.index(t) >= LAYERS.index(node)]
    if wrong:
        print("not below: " + "; ".join(wrong))
        return 1
    loop = cycle(graph)
    if loop:
        print("cycle: " + " -> ".join(loop))
        return 1
    print("no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
