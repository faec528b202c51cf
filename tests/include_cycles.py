#!/usr/bin/env python3
"""Fails when the includes between the top-level folders of the code form a circle.

Each folder may build only on those below it; an include "folder/name.h" from another folder is an
edge, and a circle of edges means two folders that can no longer be understood one at a time.
Every top-level folder that holds C++ files counts, except the tests and build outputs.
"""
import os
import re
import sys

NOT_CODE = {"tests", "e2e", "bench", "build", "scripts", "keys"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_.-]+)/')


def code_folders(top):
    for name in sorted(os.listdir(top)):
        path = os.path.join(top, name)
        if name.startswith(".") or name in NOT_CODE or not os.path.isdir(path):
            continue
        yield name, path


def edges_of(top):
    folders = dict(code_folders(top))
    edges = {name: set() for name in folders}
    for name, path in folders.items():
        for directory, _, files in os.walk(path):
            for file in files:
                if not file.endswith((".cpp", ".h")):
                    continue
                with open(os.path.join(directory, file), encoding="utf-8", errors="replace") as text:
                    for line in text:
                        match = INCLUDE.match(line)
                        if match and match.group(1) in folders and match.group(1) != name:
                            edges[name].add(match.group(1))
    return edges


def find_circle(edges):
    state = {}  # 1 while on the current path, 2 when done
    path = []

    def visit(folder):
        state[folder] = 1
        path.append(folder)
        for other in sorted(edges[folder]):
            if state.get(other) == 1:
                return path[path.index(other):] + [other]
            if other not in state:
                circle = visit(other)
                if circle:
                    return circle
        path.pop()
        state[folder] = 2
        return None

    for folder in sorted(edges):
        if folder not in state:
            circle = visit(folder)
            if circle:
                return circle
    return None


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else "."
    circle = find_circle(edges_of(top))
    if circle:
        print("include circle between folders: " + " -> ".join(circle))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
