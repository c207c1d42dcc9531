#!/usr/bin/env python3
"""Checks that includes point down the layers and that Qt stays in the UI files.

    core <- quant <- codecs <- io <- proc <- view <- {vect, acquire, controls}
         <- mview <- legacy <- dialogs <- package          (apps on top)

A file may include its own folder and any folder of a lower rank; folders of the
same rank do not see each other. The parameter record with its field table and the
format registry (io/ioparams, io/paramfields, io/formats) are plain data that every
codec fills, so they sit below the codecs although they live with the I/O component. Only files named *_ui.h / *_ui.cpp may include a
Qt header or a *_ui.h header. Exits 1 naming every offending include.

Usage: check_layers.py [ROOT]     (ROOT holds src/vexa; default: the repository)
       check_layers.py --self-test (the checker itself catches each kind of fault)
"""
import pathlib
import re
import sys
import tempfile

RANK = {
    "core": 0, "quant": 1, "codecs": 2, "io": 3, "proc": 4, "view": 5,
    "vect": 6, "acquire": 6, "controls": 6,
    "mview": 7, "legacy": 8, "dialogs": 9, "package": 10,
}
# Files that stand lower than their folder: "folder/stem" -> rank.
FILE_RANK = {"io/ioparams": 1.5, "io/paramfields": 1.5, "io/formats": 1.5}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^Q[A-Za-z]+(/|$)|^Qt[A-Za-z]*/")


def is_ui(path):
    return path.stem.endswith("_ui")


def rank_of(folder, stem):
    return FILE_RANK.get(f"{folder}/{stem}", RANK[folder])


def check(root):
    src = root / "src" / "vexa"
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        stem = path.stem
        if folder not in RANK:
            faults.append(f"{path.relative_to(root)}: folder '{folder}' has no layer")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(2)
            where = f"{path.relative_to(root)}:{number}: {line.strip()}"
            if QT_HEADER.match(target) and not is_ui(path):
                faults.append(f"{where}: Qt header outside a *_ui file")
            if not target.startswith("vexa/"):
                continue
            parts = target.split("/")
            if len(parts) < 3:
                continue
            other = parts[1]
            if other not in RANK:
                faults.append(f"{where}: unknown layer '{other}'")
                continue
            mine = rank_of(folder, stem)
            theirs = rank_of(other, pathlib.PurePath(target).stem)
            if other == folder:
                # Within a folder only the lowered files are bound: they may not reach up.
                if theirs > mine:
                    faults.append(f"{where}: '{folder}/{stem}' may not include '{target}' (higher layer)")
            elif theirs >= mine:
                faults.append(f"{where}: '{folder}' may not include '{other}' (same or higher layer)")
            if pathlib.PurePath(target).stem.endswith("_ui") and not is_ui(path):
                faults.append(f"{where}: Qt-layer header outside a *_ui file")
    return faults


def self_test():
    bad = {
        "core/a.cpp": ('#include "vexa/view/vexaview_ui.h"', "'core' may not include 'view'"),
        "codecs/b.cpp": ('#include "vexa/io/vexaio.h"', "'codecs' may not include 'io'"),
        "proc/c.h": ("#include <QImage>", "Qt header outside a *_ui file"),
        "vect/d.cpp": ('#include "vexa/acquire/capture.h"', "'vect' may not include 'acquire'"),
        "io/ioparams.cpp": ('#include "vexa/io/vexaio.h"', "may not include 'vexa/io/vexaio.h'"),
    }
    good = {
        "view/e_ui.cpp": '#include <QWidget>\n#include "vexa/proc/vexaproc.h"',
        "codecs/f.cpp": '#include "vexa/io/ioparams.h"\n#include "vexa/quant/colordepth.h"',
    }
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for name, text in list(good.items()) + [(n, t) for n, (t, _) in bad.items()]:
            path = root / "src" / "vexa" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text + "\n")
        faults = check(root)
    missed = [f"{name}: {why}" for name, (_, why) in bad.items()
              if not any(name in f and why in f for f in faults)]
    extra = [f for f in faults if not any(name in f for name in bad)]
    for line in missed:
        print("not caught:", line)
    for line in extra:
        print("wrongly flagged:", line)
    print(f"{len(bad) - len(missed)} of {len(bad)} faults caught, {len(extra)} false alarms")
    return 1 if missed or extra else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    faults = check(root.resolve())
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) break the layering")
        return 1
    print("layers: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
