"""The Varnox record model, read from its schema and checked.

load(path) answers a Model: the files with their members in registration
order, the records with their fields in property-index order (each record
after the records it holds), and the containment tree of member paths that
the object face is built on (tree.py). What follows from a field kind is
computed in kinds.py; the schema holds only what cannot be computed.

A schema that does not hold together is refused with a SchemaError that
names the schema line of the offending file, member, record or field.
"""

import re
import tomllib
from dataclasses import dataclass
from typing import Optional

from kinds import CONTAINERS, KEY_TEXT, KINDS
from tree import containment_tree

# What a member proxy or single-object wrapper already names (access/): a
# field of that name would clash with it in the generated class.
OBJECT_FACE_NAMES = {
    "Equals", "IEnumCurrentPos", "NbMember", "GetDeep", "GetHandleOrIndex", "SetHandleOrIndex",
    "UpdateID", "Update", "Clear", "SaveObjectAsXml", "ObjectChanged", "OnObjectChanged",
    "Get", "Set", "Make", "KeepAlive", "NewIndexs", "IndexCount", "Index", "Slot1", "Parent",
    "kClassName", "m_pObj", "m_pObjM", "m_pFileM", "m_NbMember"}


class SchemaError(Exception):
    """A schema the model refuses; `line` is the schema line at fault (1-based) or None."""

    def __init__(self, message, line=None):
        super().__init__(message)
        self.line = line


# ---------------------------------------------------------------------------
# Files, members, records and fields.


@dataclass
class Field:
    name: str
    kind: str
    offset: int
    index: int  # property index
    line: Optional[int] = None
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
    line: Optional[int] = None
    size_line: Optional[int] = None


@dataclass
class Member:
    name: str
    container: str
    key: Optional[str]
    record: Record
    class_id: int
    line: Optional[int] = None

    @property
    def descriptor(self):
        return (self.record.size, self.record.size, CONTAINERS[self.container][2])


@dataclass
class File:
    name: str
    members: list
    line: Optional[int] = None

    def member_class(self, member):
        """The native member class, CkxVarnoxFT_GLOBALSRecords."""
        return f"CkxVarnox{self.name}{member.name}"


@dataclass
class Model:
    family: str
    files: list
    records: list  # each after the records it holds
    paths: list  # depth first: files in order, members in order, fields in order


# ---------------------------------------------------------------------------
# Schema lines.


class SchemaLines:
    """Finds the line of a [[file]] or [[record]] table, or of an entry in it,
    so that errors can name it: tomllib keeps no positions."""

    HEADER = re.compile(r"^\s*\[\[?\s*([A-Za-z_]+)\s*\]\]?")

    def __init__(self, text):
        self.lines = text.splitlines()
        self.blocks = {}  # section -> [(first line index, end line index)]
        start = section = None
        for i, line in enumerate(self.lines + ["[end]"]):
            match = self.HEADER.match(line)
            if match:
                if section is not None:
                    self.blocks.setdefault(section, []).append((start, i))
                section, start = match.group(1), i

    def table(self, section, ordinal, key="name"):
        """The line of `key` in the ordinal-th table of a section, else of its header."""
        blocks = self.blocks.get(section, [])
        if ordinal >= len(blocks):
            return None
        first, end = blocks[ordinal]
        pattern = re.compile(r"^\s*" + key + r"\s*=")
        return next((i + 1 for i in range(first, end) if pattern.match(self.lines[i])), first + 1)

    def entry(self, section, ordinal, name, occurrence=0):
        """The line of the occurrence-th inline table named `name` inside a table."""
        blocks = self.blocks.get(section, [])
        if ordinal >= len(blocks):
            return None
        first, end = blocks[ordinal]
        pattern = re.compile(r'\{.*\bname\s*=\s*"' + re.escape(str(name)) + '"')
        found = [i + 1 for i in range(first, end) if pattern.search(self.lines[i])]
        return found[occurrence] if occurrence < len(found) else first + 1


# ---------------------------------------------------------------------------
# Loading and checking.


class Loader:
    """Turns the schema's tables into the model, checking each as it goes."""

    def __init__(self, text):
        self.lines = SchemaLines(text)
        try:
            self.doc = tomllib.loads(text)
        except tomllib.TOMLDecodeError as error:
            raise SchemaError(f"not TOML: {error}") from None

    # Checks of one table -------------------------------------------------

    @staticmethod
    def check_keys(table, allowed, required, where, line):
        unknown = set(table) - allowed
        if unknown:
            raise SchemaError(f"{where}: unknown {', '.join(sorted(unknown))}", line)
        missing = required - set(table)
        if missing:
            raise SchemaError(f"{where}: missing {', '.join(sorted(missing))}", line)

    @staticmethod
    def check_tables(value, what, where, line):
        """`value` must be a list of tables (a [[section]] or an array of inline tables)."""
        if not isinstance(value, list) or not all(isinstance(t, dict) for t in value):
            raise SchemaError(f"{where}: {what} must be a list of tables", line)
        return value

    @staticmethod
    def entry_name(table, where, line):
        """The name of a field or member, which finds its line."""
        if not isinstance(table.get("name"), str):
            raise SchemaError(f"{where}: missing name (a text)", line)
        return table["name"]

    @staticmethod
    def check_type(table, attribute, kind, where, line):
        if attribute not in table:
            return
        value = table[attribute]
        if kind is int and (not isinstance(value, int) or isinstance(value, bool) or value < 0):
            raise SchemaError(f"{where}: {attribute} must be a whole number, not {value!r}", line)
        if kind is str and not isinstance(value, str):
            raise SchemaError(f"{where}: {attribute} must be a text, not {value!r}", line)

    def field(self, table, index, record, ordinal, seen):
        name = self.entry_name(table, f"record {record}, field {index}",
                               self.lines.table("record", ordinal, "fields"))
        line = self.lines.entry("record", ordinal, name, seen.get(name, 0))
        seen[name] = seen.get(name, 0) + 1
        where = f"record {record}, field {name}"
        self.check_keys(table, {"name", "kind", "offset", "record", "key", "count", "default",
                                "constant"}, {"name", "kind", "offset"}, where, line)
        for attribute in ("name", "kind", "record", "key", "default", "constant"):
            self.check_type(table, attribute, str, where, line)
        for attribute in ("offset", "count"):
            self.check_type(table, attribute, int, where, line)
        if seen[name] > 1:
            raise SchemaError(f"{where}: declared twice", line)
        if name in OBJECT_FACE_NAMES:
            raise SchemaError(f"{where}: a name the object face's proxies already use", line)
        kind = KINDS.get(table["kind"])
        if kind is None:
            raise SchemaError(f"{where}: unknown kind {table['kind']}", line)
        for attribute in ("record", "key", "count"):
            if (attribute in table) != (attribute in kind.needs):
                raise SchemaError(f"{where}: kind {table['kind']} "
                                  f"{'needs' if attribute in kind.needs else 'takes no'} "
                                  f"{attribute}", line)
        if table.get("key", "number") not in KEY_TEXT:
            raise SchemaError(f"{where}: unknown key {table['key']} (number or text)", line)
        if table.get("count", 1) < 1:
            raise SchemaError(f"{where}: a count of at least 1", line)
        if "default" in table and kind.default is None:
            raise SchemaError(f"{where}: only simple values have a default", line)
        if "constant" in table and "count" not in table:
            raise SchemaError(f"{where}: a constant needs a count", line)
        return Field(index=index, line=line, **table)

    def records(self):
        records = {}
        for ordinal, table in enumerate(self.check_tables(self.doc["record"], "record", "schema",
                                                           None)):
            line = self.lines.table("record", ordinal)
            where = f"record {table.get('name')}"
            self.check_keys(table, {"name", "size", "fields"}, {"name", "size", "fields"}, where,
                            line)
            self.check_type(table, "name", str, where, line)
            self.check_type(table, "size", int, where, line)
            if table["size"] < 1:
                raise SchemaError(f"{where}: a size of at least 1",
                                  self.lines.table("record", ordinal, "size"))
            if table["name"] in records:
                raise SchemaError(f"{where}: declared twice (first at line "
                                  f"{records[table['name']].line})", line)
            seen = {}
            fields = [self.field(f, i, table["name"], ordinal, seen)
                      for i, f in enumerate(self.check_tables(
                          table["fields"], "fields", where,
                          self.lines.table("record", ordinal, "fields")))]
            records[table["name"]] = Record(table["name"], table["size"], fields, line,
                                            self.lines.table("record", ordinal, "size"))
        for record in records.values():
            for f in record.fields:
                if f.record is not None:
                    f.record = self.lookup(records, f.record, f"record {record.name}, field "
                                           f"{f.name}", f.line)
        return records

    @staticmethod
    def lookup(records, name, where, line):
        if name not in records:
            raise SchemaError(f"{where}: record {name} is not defined", line)
        return records[name]

    def files(self, records):
        files, classes = [], {}
        for ordinal, table in enumerate(self.check_tables(self.doc["file"], "file", "schema",
                                                           None)):
            line = self.lines.table("file", ordinal)
            where = f"file {table.get('name')}"
            self.check_keys(table, {"name", "members"}, {"name", "members"}, where, line)
            self.check_type(table, "name", str, where, line)
            if any(f.name == table["name"] for f in files):
                raise SchemaError(f"{where}: declared twice", line)
            seen, members = {}, []
            for i, m in enumerate(self.check_tables(table["members"], "members", where, line)):
                members.append(self.member(m, i, table["name"], ordinal, seen, records, classes))
            files.append(File(table["name"], members, line))
        return files

    def member(self, m, index, file, ordinal, seen, records, classes):
        name = self.entry_name(m, f"file {file}, member {index}",
                               self.lines.table("file", ordinal, "members"))
        line = self.lines.entry("file", ordinal, name, seen.get(name, 0))
        seen[name] = seen.get(name, 0) + 1
        where = f"file {file}, member {name}"
        self.check_keys(m, {"name", "container", "key", "record", "class_id"},
                        {"name", "container", "record", "class_id"}, where, line)
        for attribute in ("name", "container", "key", "record"):
            self.check_type(m, attribute, str, where, line)
        self.check_type(m, "class_id", int, where, line)
        if seen[name] > 1:
            raise SchemaError(f"{where}: declared twice", line)
        if m["container"] not in CONTAINERS:
            raise SchemaError(f"{where}: unknown container {m['container']} "
                              f"(map, array or single)", line)
        if ("key" in m) != (m["container"] == "map") or m.get("key", "number") not in KEY_TEXT:
            raise SchemaError(f"{where}: a map needs a key (number or text), others none", line)
        if not 0 < m["class_id"] < 2**32:
            raise SchemaError(f"{where}: class id out of range", line)
        member = Member(m["name"], m["container"], m.get("key"),
                        self.lookup(records, m["record"], where, line), m["class_id"], line)
        # One class id names one member class.
        same = classes.setdefault(member.class_id, member)
        if (same.container, same.key, same.record) != (member.container, member.key,
                                                       member.record):
            raise SchemaError(f"{where}: class id {member.class_id} names another class "
                              f"(line {same.line})", line)
        return member

    def model(self):
        self.check_keys(self.doc, {"family", "file", "record"}, {"family", "file", "record"},
                        "schema", None)
        self.check_type(self.doc, "family", str, "schema", None)
        records = self.records()
        order = dependency_order(records)
        for record in order:
            check_layout(record)
        files = self.files(records)
        return Model(self.doc["family"], files, order, containment_tree(files))


def check_layout(record):
    """Fields must not overlap and must end within the record's size."""
    where = f"record {record.name}"
    end, last = 0, None
    for f in sorted(record.fields, key=lambda f: f.offset):
        if f.offset < end:
            raise SchemaError(f"{where}, field {f.name}: offset {f.offset} overlaps {last.name} "
                              f"(bytes {last.offset}-{end - 1})", f.line)
        end, last = f.offset + f.width, f
    if end > record.size:
        raise SchemaError(f"{where}: size {record.size} does not add up, field {last.name} "
                          f"ends at {end}", record.size_line)


def dependency_order(records):
    done, visiting, order = set(), set(), []

    def visit(record):
        if record.name in done:
            return
        visiting.add(record.name)
        for f in record.fields:
            if f.record is not None and f.record.name in visiting:
                raise SchemaError(f"record {record.name}, field {f.name}: record {f.record.name} "
                                  f"would contain itself", f.line)
            if f.record is not None:
                visit(f.record)
        visiting.discard(record.name)
        done.add(record.name)
        order.append(record)

    for record in records.values():
        visit(record)
    return order


def load_text(text):
    """The model of a schema given as text."""
    return Loader(text).model()


def load(path):
    """The model of the schema file at `path`."""
    with open(path, encoding="utf-8") as stream:
        return load_text(stream.read())
