#!/usr/bin/env python3
"""Lists every include from a lower layer of src/ to a higher one and fails when there is one.

Layers, bottom up: core < platform (its interfaces) < image < readers < formats < poster <
the top: the scanner layers, the Qt implementations, the view control, the windows and the
programs. A file may include its own layer and the layers below it; among the top layers
only the windows and the programs include others (the programs never the windows).
"""
import os
import re
import sys
import tempfile

RANKED = ["core", "platform", "image", "readers", "formats", "poster"]
TOP = ["twain", "sane", "platform/qt", "image/view", "app", "cli"]
# Top layers a top layer may include besides everything ranked.
TOP_USES = {
    "app": {"twain", "sane", "platform/qt", "image/view", "app"},
    "cli": {"twain", "sane", "platform/qt", "cli"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """The layer of a path relative to src/ ("image/view/DIBView.h" -> "image/view")."""
    for top in sorted(TOP, key=len, reverse=True):
        if path == top or path.startswith(top + "/"):
            return top
    first = path.split("/")[0]
    return first if first in RANKED else None


def allowed(source, target):
    if source == target:
        return True
    if target in RANKED:
        if source in RANKED:
            return RANKED.index(target) < RANKED.index(source)
        return True  # every top layer stands on the ranked ones
    return target in TOP_USES.get(source, set())


def wrong_way_includes(src):
    found = []
    for folder, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, src).replace(os.sep, "/")
            source = layer_of(relative)
            if source is None:
                continue
            with open(path, encoding="utf-8", errors="replace") as lines:
                for number, line in enumerate(lines, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = layer_of(match.group(1))
                    if target is not None and not allowed(source, target):
                        found.append(f"{relative}:{number}: {source} includes {match.group(1)} ({target})")
    return found


def self_test():
    """A planted include of the window layer in the image layer must be found."""
    with tempfile.TemporaryDirectory() as src:
        os.makedirs(os.path.join(src, "image"))
        os.makedirs(os.path.join(src, "poster"))
        with open(os.path.join(src, "poster", "Fine.cpp"), "w") as f:
            f.write('#include "image/DIB.h"\n#include "core/Format.h"\n')
        with open(os.path.join(src, "image", "Planted.cpp"), "w") as f:
            f.write('#include "core/Format.h"\n#include "app/MainForm.h"\n')
        found = wrong_way_includes(src)
        expected = ["image/Planted.cpp:2: image includes app/MainForm.h (app)"]
        if found != expected:
            print("layer check self-test failed:", found)
            return 1
    print("layer check finds a planted wrong-way include")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    src = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    found = wrong_way_includes(src)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) from a lower layer to a higher one")
        return 1
    print("layers: no include from a lower layer to a higher one")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
