"""The object face's headers. For now one: the containment tree as constexpr
data (VarnoxObjectFace.h). The wrappers, proxies, record interfaces and view
models will be emitted from the same paths, one function per class pattern,
each answering its headers as outputs() does.
"""

from tree import TOP_SINGLE
from output import banner, text

SHAPES = {"topMap": "kTopMap", "topArray": "kTopArray", "topSingle": "kTopSingle", "map": "kMap",
          "array": "kArray", "values": "kValues", "embedded": "kEmbedded"}
KEYS = {None: "kNone", "number": "kUInt64", "text": "kString"}


def path_entry(path):
    rows = [("name", text(path.name)), ("member", text(path.member)),
            ("parent", str(path.parent.index if path.parent else -1)), ("depth", str(path.depth)),
            ("shape", f"VarnoxPathShape::{SHAPES[path.shape]}"),
            ("key", f"VarnoxPathKey::{KEYS[path.key]}"), ("offset", str(path.offset)),
            ("record", text(path.record.name if path.record else None)),
            ("value", text(path.value)), ("memberClass", text(path.member_class)),
            ("wrapper", text(path.wrapper)), ("proxy", text(path.proxy)),
            ("interface", text(path.interface)), ("viewModel", text(path.view_model)),
            ("dataContext", text(path.data_context))]
    return ([f"    // [{path.index}]", "    {"]
            + [f"        .{name} = {value}," for name, value in rows] + ["    },"])


def record_faces(model):
    singles = {p.record.name for p in model.paths if p.shape == TOP_SINGLE}
    return [f'    {{"{r.name}", "Id2s{r.name}", '
            f'{text("Id2o" + r.name if r.name in singles else None)}, "Mvvm{r.name}"}},'
            for r in model.records]


def object_face_h(model):
    out = banner(f'The containment tree of the "{model.family}" files: every member path with its',
                 "parent, level, shape and the object-face classes that serve it, parents before",
                 "their children; then the classes named after each record.")
    out += ["#pragma once", "", '#include "templates/VarnoxPath.h"', "",
            "inline constexpr VarnoxPathInfo kVarnoxPaths[] = {"]
    for path in model.paths:
        out += path_entry(path)
    out += ["};", "", "inline constexpr VarnoxRecordFace kVarnoxRecordFaces[] = {"]
    out += record_faces(model)
    return out + ["};"]


def outputs(model):
    """Path below the output directory -> lines."""
    return {"templates/VarnoxObjectFace.h": object_face_h(model)}
