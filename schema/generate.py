#!/usr/bin/env python3
"""Writes the Varnox record model from its schema.

    generate.py SCHEMA OUTDIR   writes the headers and sources below OUTDIR
    generate.py --list SCHEMA   prints their paths relative to OUTDIR, one a line

The schema (varnox.toml) holds what cannot be computed: names, order, offsets,
record sizes, keys, class ids. model.py reads and checks it and builds the
files, members, records, fields and member paths; native.py writes the native
face's headers from them, objectface.py the object face's tree, accessface.py
the access layer and viewmodels.py the view models. Files are
rewritten only when their text changes, so an unchanged schema rebuilds
nothing.
"""

import sys
from pathlib import Path

# The build runs this from the source tree: leave no bytecode caches there.
sys.dont_write_bytecode = True

import accessface  # noqa: E402
import fileface  # noqa: E402
import native  # noqa: E402
import objectface  # noqa: E402
import viewmodels  # noqa: E402
from model import SchemaError, load  # noqa: E402
from output import umbrella  # noqa: E402


def outputs(model):
    """Path below the output directory -> lines, the umbrella header last."""
    texts = {**native.outputs(model), **objectface.outputs(model)}
    texts["templates/Varnox.h"] = umbrella(
        texts, "The record model, the file templates, their descriptors, the catalogue, the",
        "lists of files and members and the object face's containment tree.")
    # The access layer has its own umbrella (access/VarnoxAccess.h): it builds
    # on the framework, which the native face's public headers do not reach.
    texts.update(accessface.outputs(model))
    texts.update(viewmodels.outputs(model))
    texts.update(fileface.outputs(model))
    return texts


def write(texts, outdir):
    for path, lines in texts.items():
        target = Path(outdir) / path
        text = "\n".join(lines) + "\n"
        if not target.exists() or target.read_text() != text:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(text)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    listing = argv[1] == "--list"
    schema = argv[2] if listing else argv[1]
    try:
        texts = outputs(load(schema))
    except SchemaError as error:
        where = f"{schema}:{error.line}" if error.line else schema
        print(f"{where}: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"{argv[0]}: {error}", file=sys.stderr)
        return 1
    if listing:
        print("\n".join(texts))
    else:
        write(texts, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
