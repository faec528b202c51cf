#!/usr/bin/env python3
"""Fails when the includes between the top-level folders of the code form a circle.

Each folder may build only on those below it; an include "folder/name.h" from another folder is an
edge, and a circle of edges means two folders that can no longer be understood one at a time.
Every top-level folder that holds C++ files counts, except the tests and build outputs.
"""
import graphlib
import os
import re
import sys

NOT_CODE = {"tests", "e2e", "bench", "build", "scripts", "keys"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_.-]+)/')


def edges_of(top):
    folders = [name for name in sorted(os.listdir(top))
               if not name.startswith(".") and name not in NOT_CODE
               and os.path.isdir(os.path.join(top, name))]
    edges = {name: set() for name in folders}
    for name in folders:
        for directory, _, files in os.walk(os.path.join(top, name)):
            for file in (f for f in files if f.endswith((".cpp", ".h"))):
                with open(os.path.join(directory, file), encoding="utf-8", errors="replace") as text:
                    for match in filter(None, map(INCLUDE.match, text)):
                        if match.group(1) in edges and match.group(1) != name:
                            edges[name].add(match.group(1))
    return edges


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else "."
    try:
        graphlib.TopologicalSorter(edges_of(top)).prepare()
    except graphlib.CycleError as circle:
        print("include circle between folders: " + " -> ".join(circle.args[1]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
