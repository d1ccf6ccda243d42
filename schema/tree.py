"""The containment tree: every member path of the files (a top-level member,
or a container or embedded record inside the element record of its parent)
with its shape, level and the object-face classes named after it.
"""

from __future__ import annotations  # File, Member and Record are model.py's

from dataclasses import dataclass
from typing import Optional

from kinds import KINDS

# Shapes of a member path: how the object face reaches and offers it.
TOP_MAP = "topMap"  # a top-level keyed map
TOP_ARRAY = "topArray"  # a top-level dynamic array
TOP_SINGLE = "topSingle"  # a top-level single record; its wrapper carries the record's properties
MAP = "map"  # a keyed map inside a record
ARRAY = "array"  # a dynamic array of records inside a record
VALUES = "values"  # a fixed array of 32-bit values inside a record
EMBEDDED = "embedded"  # a record laid out in place inside its parent's record

TOP_SHAPES = {"map": TOP_MAP, "array": TOP_ARRAY, "single": TOP_SINGLE}
NESTED_SHAPES = {"map": MAP, "array": ARRAY, "fixedInt32": VALUES, "fixedUInt32": VALUES,
                 "record": EMBEDDED}
# Shapes whose elements take a level of the index path.
INDEXED = {TOP_MAP, TOP_ARRAY, MAP, ARRAY, VALUES}


@dataclass
class Path:
    """A member path: a top-level member, or a container or embedded record
    inside the element record of its parent path (FT_RACES_ScheduleEntries_Heats)."""

    name: str
    shape: str
    file: File
    top: Member  # the top-level member the path descends from
    member: str  # its own member name: the top-level member's or the record field's
    parent: Optional[Path]
    record: Optional[Record]  # the element or embedded record; None for values
    key: Optional[str]  # number or text for maps
    value: Optional[str]  # int32 or uint32 for values
    offset: int  # byte offset inside the record the walk reached one level up; 0 at the top
    depth: int  # level of its own elements in an index path; -1 for a top-level single
    index: int = 0  # position in Model.paths

    @property
    def member_class(self):
        """The native member object every walk of this path starts from."""
        return self.file.member_class(self.top)

    @property
    def wrapper(self):
        """D2o for a top-level member, D2i for a nested container, None for an embedded record."""
        if self.parent is None:
            return f"D2oVarnox_{self.name}"
        return None if self.shape == EMBEDDED else f"D2iVarnox_{self.name}"

    @property
    def proxy(self):
        """The D2m record proxy, where an element is a record with a proxy of its own."""
        return None if self.shape in (TOP_SINGLE, VALUES) else f"D2mVarnox_{self.name}"

    @property
    def interface(self):
        if self.record is None:
            return None
        return ("Id2o" if self.shape == TOP_SINGLE else "Id2s") + self.record.name

    @property
    def view_model(self):
        return None if self.record is None else f"Mvvm{self.record.name}"

    @property
    def data_context(self):
        return f"The{self.member}MvvmDC" if self.parent is None else None


def top_path(file, member):
    return Path(f"{file.name}_{member.name}", TOP_SHAPES[member.container], file, member,
                member.name, None, member.record, member.key, None, 0,
                -1 if member.container == "single" else 0)


def nested_path(parent, field):
    shape = NESTED_SHAPES[field.kind]
    # An embedded record takes no level: its containers lie in the record above it.
    offset = field.offset + (parent.offset if parent.shape == EMBEDDED else 0)
    return Path(f"{parent.name}_{field.name}", shape, parent.file, parent.top, field.name, parent,
                field.record if shape != VALUES else None, field.key, KINDS[field.kind].value,
                offset, parent.depth + (1 if shape in INDEXED else 0))


def containment_tree(files):
    paths = []

    def add(path):
        path.index = len(paths)
        paths.append(path)
        for field in path.record.fields if path.record is not None else ():
            if field.kind in NESTED_SHAPES:
                add(nested_path(path, field))

    for file in files:
        for member in file.members:
            add(top_path(file, member))
    return paths
