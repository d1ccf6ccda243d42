"""Field kinds and top-level containers: what each implies (C++ type, width,
descriptor numbers, catalogue kind, view-model default), one entry each, so
that the schema gives only what cannot be computed.
"""

from dataclasses import dataclass
from typing import Callable, Optional


@dataclass(frozen=True)
class Kind:
    catalogue: str  # KxFieldKind enumerator
    cpp: Callable  # field -> C++ type of the struct member
    width: Callable  # field -> bytes in the record
    descriptor: Callable  # field -> (size, element size, variable)
    default: Optional[str] = None  # view-model default; None: not a simple value
    needs: tuple = ()  # attributes the schema must give for this kind
    value: Optional[str] = None  # element type of a fixed array of values


def scalar(catalogue, cpp, width, default):
    return Kind(catalogue, lambda f: cpp, lambda f: width, lambda f: (width, width, False), default)


def fixed(catalogue, cpp, value):
    return Kind(catalogue, lambda f: f"CkxAs1d<{cpp}, {f.count}, 1>", lambda f: 4 * f.count,
                lambda f: (4 * f.count, 4, False), needs=("count",), value=value)


def element(f):
    return (f.record.size, f.record.size)


KINDS = {
    "int32": scalar("kInt32", "int32_t", 4, "0"),
    "uint32": scalar("kUInt32", "uint32_t", 4, "0"),
    "bool": scalar("kBool", "bool", 1, "false"),
    "dateTime": scalar("kDateTime", "CkxD2DateTime", 8, "01.01.0001  00:00:00.000"),
    "kxTime": scalar("kKxTime", "Sd2KxTime", 8, "        0.000m"),
    "strDU": Kind("kStrDU", lambda f: "CkxD2StrDU", lambda f: 24, lambda f: (24, 2, True), ""),
    "strD": Kind("kStrD", lambda f: "CkxD2StrD", lambda f: 24, lambda f: (24, 1, True), ""),
    # A 16-bit length, then the characters and their terminator.
    "strSU": Kind("kStrSU", lambda f: f"CkxD2StrSU<{f.count}>", lambda f: 2 * f.count + 4,
                  lambda f: (2 * f.count + 4, 2, False), "", ("count",)),
    "fixedInt32": fixed("kFixedInt32", "int32_t", "int32"),
    "fixedUInt32": fixed("kFixedUInt32", "uint32_t", "uint32"),
    "map": Kind("kMap", lambda f: f"CkxD2MapA<{f.record.name}>", lambda f: 88,
                lambda f: (*element(f), True), needs=("record", "key")),
    "array": Kind("kArray", lambda f: f"CkxD2a1dDA<{f.record.name}>", lambda f: 24,
                  lambda f: (*element(f), True), needs=("record",)),
    "record": Kind("kRecord", lambda f: f.record.name, lambda f: f.record.size,
                   lambda f: (*element(f), False), needs=("record",)),
}

# Top-level containers: C++ template, KxMemberKind, variable element count.
CONTAINERS = {
    "map": ("CkxD2MapObjA", "kMap", True),
    "array": ("CkxD2a1dObjDA", "kArray", True),
    "single": ("CkxD2PntA", "kSingle", False),
}
KEYS = {None: "kNone", "number": "kNumber", "text": "kText"}
KEY_TEXT = {"number": "64-bit key", "text": "text key"}
