#!/usr/bin/env python3
"""Writes the Varnox record model from its schema.

    generate.py SCHEMA OUTDIR   writes the headers below OUTDIR (templates/...)
    generate.py --list SCHEMA   prints their paths relative to OUTDIR, one a line

The schema (varnox.toml) holds what cannot be computed: names, order, offsets,
record sizes, keys, class ids. Everything that follows from a field kind (its
C++ type, width, descriptor numbers, catalogue kind, view-model default) is
computed here, in one KINDS entry per kind. Files are rewritten only when
their text changes, so an unchanged schema rebuilds nothing.
"""

import sys
import tomllib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional

BANNER = "// Generated from schema/varnox.toml by schema/generate.py. Do not edit."


class SchemaError(Exception):
    pass


# ---------------------------------------------------------------------------
# Field kinds.


@dataclass(frozen=True)
class Kind:
    catalogue: str  # KxFieldKind enumerator
    cpp: Callable  # field -> C++ type of the struct member
    width: Callable  # field -> bytes in the record
    descriptor: Callable  # field -> (size, element size, variable)
    default: Optional[str] = None  # view-model default; None: not a simple value
    needs: tuple = ()  # attributes the schema must give for this kind


def scalar(catalogue, cpp, width, default):
    return Kind(catalogue, lambda f: cpp, lambda f: width, lambda f: (width, width, False), default)


def fixed(catalogue, cpp):
    return Kind(catalogue, lambda f: f"CkxAs1d<{cpp}, {f.count}, 1>", lambda f: 4 * f.count,
                lambda f: (4 * f.count, 4, False), needs=("count",))


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
    "fixedInt32": fixed("kFixedInt32", "int32_t"),
    "fixedUInt32": fixed("kFixedUInt32", "uint32_t"),
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


# ---------------------------------------------------------------------------
# The model.


@dataclass
class Field:
    name: str
    kind: str
    offset: int
    index: int  # property index
    record: object = None  # element or embedded record (a name until resolved)
    key: Optional[str] = None
    count: Optional[int] = None
    default: Optional[str] = None
    constant: Optional[str] = None  # D2cVarnox constant equal to `count`

    @property
    def cpp(self):
        return KINDS[self.kind].cpp(self)

    @property
    def width(self):
        return KINDS[self.kind].width(self)

    @property
    def descriptor(self):
        return KINDS[self.kind].descriptor(self)

    @property
    def default_text(self):
        return self.default if self.default is not None else KINDS[self.kind].default


@dataclass
class Record:
    name: str
    size: int
    fields: list


@dataclass
class Member:
    name: str
    container: str
    key: Optional[str]
    record: Record
    class_id: int

    @property
    def descriptor(self):
        return (self.record.size, self.record.size, CONTAINERS[self.container][2])


@dataclass
class File:
    name: str
    members: list


@dataclass
class Model:
    family: str
    files: list
    records: list  # each after the records it holds


def check_keys(table, allowed, required, where):
    unknown = set(table) - allowed
    if unknown:
        raise SchemaError(f"{where}: unknown {', '.join(sorted(unknown))}")
    missing = required - set(table)
    if missing:
        raise SchemaError(f"{where}: missing {', '.join(sorted(missing))}")


def make_field(table, index, where):
    check_keys(table, {"name", "kind", "offset", "record", "key", "count", "default", "constant"},
               {"name", "kind", "offset"}, where)
    where = f"{where}, field {table['name']}"
    kind = KINDS.get(table["kind"])
    if kind is None:
        raise SchemaError(f"{where}: unknown kind {table['kind']}")
    for attribute in ("record", "key", "count"):
        if (attribute in table) != (attribute in kind.needs):
            raise SchemaError(f"{where}: kind {table['kind']} "
                              f"{'needs' if attribute in kind.needs else 'takes no'} {attribute}")
    if table.get("key", "number") not in KEY_TEXT:
        raise SchemaError(f"{where}: unknown key {table['key']}")
    if "default" in table and kind.default is None:
        raise SchemaError(f"{where}: only simple values have a default")
    if "constant" in table and "count" not in table:
        raise SchemaError(f"{where}: a constant needs a count")
    return Field(index=index, **table)


def check_layout(record):
    where = f"record {record.name}"
    end = 0
    for f in sorted(record.fields, key=lambda f: f.offset):
        if f.offset < end:
            raise SchemaError(f"{where}, field {f.name}: overlaps the field before it")
        end = f.offset + f.width
    if end > record.size:
        raise SchemaError(f"{where}: fields end at {end}, beyond the size {record.size}")


def dependency_order(records):
    done, visiting, order = set(), set(), []

    def visit(record):
        if record.name in done:
            return
        if record.name in visiting:
            raise SchemaError(f"record {record.name} contains itself")
        visiting.add(record.name)
        for f in record.fields:
            if f.record is not None:
                visit(f.record)
        visiting.discard(record.name)
        done.add(record.name)
        order.append(record)

    for record in records.values():
        visit(record)
    return order


def load(path):
    with open(path, "rb") as stream:
        doc = tomllib.load(stream)
    check_keys(doc, {"family", "file", "record"}, {"family", "file", "record"}, str(path))

    records = {}
    for table in doc["record"]:
        check_keys(table, {"name", "size", "fields"}, {"name", "size", "fields"}, "record")
        where = f"record {table['name']}"
        if table["name"] in records:
            raise SchemaError(f"{where}: declared twice")
        fields = [make_field(f, i, where) for i, f in enumerate(table["fields"])]
        records[table["name"]] = Record(table["name"], table["size"], fields)

    def lookup(name, where):
        if name not in records:
            raise SchemaError(f"{where}: unknown record {name}")
        return records[name]

    for record in records.values():
        for f in record.fields:
            if f.record is not None:
                f.record = lookup(f.record, f"record {record.name}, field {f.name}")
    order = dependency_order(records)
    for record in order:
        check_layout(record)

    files, classes = [], {}
    for table in doc["file"]:
        check_keys(table, {"name", "members"}, {"name", "members"}, "file")
        members = []
        for m in table["members"]:
            where = f"file {table['name']}, member {m.get('name')}"
            check_keys(m, {"name", "container", "key", "record", "class_id"},
                       {"name", "container", "record", "class_id"}, where)
            if m["container"] not in CONTAINERS:
                raise SchemaError(f"{where}: unknown container {m['container']}")
            if ("key" in m) != (m["container"] == "map") or m.get("key", "number") not in KEY_TEXT:
                raise SchemaError(f"{where}: a map needs a key (number or text), others none")
            if not 0 < m["class_id"] < 2**32:
                raise SchemaError(f"{where}: class id out of range")
            member = Member(m["name"], m["container"], m.get("key"),
                            lookup(m["record"], where), m["class_id"])
            # One class id names one member class.
            same = classes.setdefault(member.class_id, member)
            if (same.container, same.key, same.record) != (member.container, member.key,
                                                           member.record):
                raise SchemaError(f"{where}: class id {member.class_id} names another class")
            members.append(member)
        files.append(File(table["name"], members))
    return Model(doc["family"], files, order)


# ---------------------------------------------------------------------------
# Output.


def banner(*lines):
    return [BANNER, "//"] + [f"// {line}".rstrip() for line in lines]


def aligned(rows, indent):
    """Code and comment pairs, the comments in one column."""
    width = max(len(code) for code, _ in rows)
    return [f"{indent}{code:<{width}}  // {comment}" if comment else f"{indent}{code}"
            for code, comment in rows]


def wrap_class(head):
    """Breaks a class head that is too long before its base clause."""
    if len(head) <= 100:
        return [head]
    name, base = head.split(" : ", 1)
    return [name, f"    : {base}"]


def bytes_text(first, width):
    return f"byte {first}" if width == 1 else f"bytes {first}-{first + width - 1}"


def flattened(record, prefix="", base=0):
    """(member designator, offset) of every field, embedded records included."""
    for f in record.fields:
        yield prefix + f.name, base + f.offset
        if f.kind == "record":
            yield from flattened(f.record, f"{prefix}{f.name}.", base + f.offset)


def record_struct(record):
    rows, end = [], 0
    for f in sorted(record.fields, key=lambda f: f.offset):
        if f.offset > end:
            rows.append((f"uint8_t m_aPad{end}[{f.offset - end}];",
                         f"{bytes_text(end, f.offset - end)}: padding"))
        rows.append((f"{f.cpp} {f.name};", f"[{f.index}] {bytes_text(f.offset, f.width)}"))
        end = f.offset + f.width
    if record.size > end:
        rows.append((f"uint8_t m_aPad{end}[{record.size - end}];",
                     f"{bytes_text(end, record.size - end)}: padding"))

    name = record.name
    out = [f"// {name}: {record.size} byte{'s' if record.size != 1 else ''}.", f"struct {name} {{"]
    out += aligned(rows, "  ")
    out += ["};",
            f"static_assert(std::is_standard_layout_v<{name}>);",
            f"static_assert(std::is_trivial_v<{name}>);",
            f"static_assert(sizeof({name}) == {record.size});"]
    out += [f"static_assert(offsetof({name}, {path}) == {offset});"
            for path, offset in flattened(record)]
    out += [f"static_assert(Tarvex::Orb::Data::Varnox::D2cVarnox::{f.constant} == {f.count});"
            for f in record.fields if f.constant]
    return out + [""]


def records_h(model):
    out = banner("The records of the Varnox files, byte for byte as the kernel stores them, each",
                 "after the records it holds. A field's comment gives its property index and",
                 "its bytes; padding is spelled out. The static_asserts after each record hold",
                 "the compiler's layout to the schema.")
    out += ["#pragma once", "",
            "#include <cstddef>", "#include <cstdint>", "#include <type_traits>", ""]
    out += [f'#include "NetInterface/CkxOrbNetInterface/{h}.h"'
            for h in ("CkxAs1d", "CkxD2DateTime", "CkxD2MapA", "CkxD2Str", "CkxD2a1dDA")]
    out += ['#include "templates/D2cVarnox.h"', '#include "templates/Sd2KxTime.h"', ""]
    for record in model.records:
        out += record_struct(record)
    return out[:-1]


def member_text(member):
    if member.container == "single":
        return f"a single {member.record.name}"
    if member.container == "array":
        return f"a dynamic array of {member.record.name}"
    return f"a keyed map of {member.record.name}, {KEY_TEXT[member.key]}"


def member_class(file, member):
    return f"CkxVarnox{file.name}{member.name}"


def file_h(model, file):
    out = banner(f'The file template {file.name} of the family "{model.family}": its member',
                 "classes, then the template with its members in registration order.")
    out += ["#pragma once", "", "#include <cstdint>", "",
            '#include "templates/CkxVarnoxFile.h"', '#include "templates/CkxVarnoxMember.h"',
            '#include "templates/VarnoxRecords.h"', ""]
    for member in file.members:
        container = f"{CONTAINERS[member.container][0]}<{member.record.name}>"
        out += [f"// {member.name}: {member_text(member)}."]
        out += wrap_class(f"class {member_class(file, member)} : "
                          f"public CkxVarnoxMember<{container}> {{")
        out += [" public:",
                f"  static constexpr uint32_t kClassId = {member.class_id};"
                f"  // 0x{member.class_id:X}",
                "};", ""]
    cls = f"CkxVarnox{file.name}"
    out += [f"class {cls} : public CkxVarnoxFile {{", " public:",
            f'  static constexpr const char* kFileType = "{file.name}";', "",
            "  // The members bound themselves to the kernel as they were constructed; name",
            "  // the template, then register them in order.",
            f"  {cls}() {{", f'    NameTemplate("{model.family}", kFileType);']
    out += [f"    Register(m_{member.name});" for member in file.members]
    out += ["  }", ""]
    out += aligned([(f"{member_class(file, member)} m_{member.name};", str(i))
                    for i, member in enumerate(file.members)], "  ")
    return out + ["};"]


def info(name, descriptor):
    size, element_size, variable = descriptor
    return f'{{"{name}", {size}, {element_size}, {"true" if variable else "false"}}},'


def descriptors_h(model):
    out = banner("Member descriptors of every record field, by property index, with the view",
                 "models' default texts (null for containers and embedded records), and of",
                 "every file member, by member order.")
    out += ["#pragma once", "", '#include "templates/VarnoxDescriptor.h"',
            '#include "templates/VarnoxRecords.h"', ""]
    out += [f"class CkxVarnox{file.name};" for file in model.files]
    for record in model.records:
        out += ["", "template <>", f"struct VarnoxDescriptors<{record.name}> {{",
                "  static constexpr VarnoxMemberInfo kMembers[] = {"]
        out += [f"      {info(f.name, f.descriptor)}" for f in record.fields]
        out += ["  };", "  static constexpr const char* kDefaults[] = {"]
        out += aligned([('"' + f.default_text + '",' if f.default_text is not None else "nullptr,",
                         f.name) for f in record.fields], "      ")
        out += ["  };", "};"]
    for file in model.files:
        out += ["", "template <>", f"struct VarnoxDescriptors<CkxVarnox{file.name}> {{",
                "  static constexpr VarnoxMemberInfo kMembers[] = {"]
        out += [f"      {info(m.name, m.descriptor)}" for m in file.members]
        out += ["  };", "};"]
    return out


def catalogue_h(model):
    out = banner(f'The template catalogue of the "{model.family}" family: every record with its',
                 "fields, every member class by class id, every file type with its members.",
                 "It includes only the kernel contract, so a kernel can use it without the",
                 "library.")
    out += ["#pragma once", "", '#include "contracts/kernel/KxCatalogue.h"', "",
            "namespace KxVarnoxCatalogue {"]
    for record in model.records:
        out += ["", f"inline constexpr KxRecordField k{record.name}Fields[] = {{"]
        for f in record.fields:
            element_ref = f"&k{f.record.name}" if f.record is not None else "nullptr"
            out += [f'    {{"{f.name}", KxFieldKind::{KINDS[f.kind].catalogue}, '
                    f"KxKeyKind::{KEYS[f.key]}, {f.offset}, {f.width}, {f.count or 1}, "
                    f"{element_ref}}},"]
        head = f"inline constexpr KxRecordType k{record.name} = {{"
        body = f'"{record.name}", {record.size}, k{record.name}Fields, {len(record.fields)}}};'
        out += ["};"] + ([head + body] if len(head + body) <= 100 else [head, "    " + body])

    classes = {}
    for file in model.files:
        for member in file.members:
            classes.setdefault(member.class_id, member)
    position = {class_id: i for i, class_id in enumerate(classes)}
    out += ["", "// Member classes, one per class id.", "inline constexpr KxMemberClass kClasses[] = {"]
    out += [f"    {{{m.class_id}, KxMemberKind::{CONTAINERS[m.container][1]}, "
            f"KxKeyKind::{KEYS[m.key]}, &k{m.record.name}}},"
            for m in classes.values()]
    out += ["};"]
    for file in model.files:
        out += ["", f"inline constexpr KxFileMember k{file.name}Members[] = {{"]
        out += [f'    {{"{m.name}", &kClasses[{position[m.class_id]}]}},' for m in file.members]
        out += ["};"]
    out += ["", "inline constexpr KxFileType kFiles[] = {"]
    out += [f'    {{"{model.family}", "{file.name}", k{file.name}Members, {len(file.members)}}},'
            for file in model.files]
    out += ["};", "",
            f"inline constexpr KxCatalogue kCatalogue = "
            f"{{kFiles, {len(model.files)}, kClasses, {len(classes)}}};", "",
            "}  // namespace KxVarnoxCatalogue", "",
            "inline const KxCatalogue& VarnoxCatalogue() { return KxVarnoxCatalogue::kCatalogue; }"]
    return out


def outputs(model):
    """Path below the output directory -> lines."""
    texts = {"templates/VarnoxRecords.h": records_h(model)}
    for file in model.files:
        texts[f"templates/CkxVarnox{file.name}.h"] = file_h(model, file)
    texts["templates/VarnoxDescriptors.h"] = descriptors_h(model)
    texts["templates/VarnoxCatalogue.h"] = catalogue_h(model)
    umbrella = banner("The record model, the file templates, their descriptors and the catalogue.")
    umbrella += ["#pragma once", ""] + [f'#include "{path}"' for path in texts]
    texts["templates/Varnox.h"] = umbrella
    return texts


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    listing = argv[1] == "--list"
    schema = argv[2] if listing else argv[1]
    try:
        texts = outputs(load(schema))
        if listing:
            print("\n".join(texts))
            return 0
        for path, lines in texts.items():
            target = Path(argv[2]) / path
            text = "\n".join(lines) + "\n"
            if not target.exists() or target.read_text() != text:
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_text(text)
        return 0
    except (SchemaError, tomllib.TOMLDecodeError, KeyError, TypeError) as error:
        print(f"{argv[0]}: {schema}: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
