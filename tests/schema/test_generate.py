#!/usr/bin/env python3
"""The schema generator's refusals: each wrong schema is refused naming the
schema and the line at fault, and nothing is written. (What the generator
writes for the Varnox schema is built into the library and checked by the C++
tests: ObjectFaceTreeTest checks the containment tree against the catalogue.)
"""

import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True
HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(ROOT / "schema"))

import generate  # noqa: E402

SMALL = HERE / "small.toml"


# Each case edits small.toml: the first occurrence of `old` becomes `new`. The
# generator's error must say `says` and name the line of the edit (NO_LINE: none).
ERRORS = [
    ("overlapping offsets", 'kind = "bool",        offset = 196', 'kind = "bool", offset = 195',
     "offset 195 overlaps Born (bytes 192-195)"),
    ("size that does not add up", "size = 216", "size = 210",
     "record CkxRace: size 210 does not add up, field Splits ends at 216"),
    ("undefined member record", 'record = "CkxNote", class_id', 'record = "CkxNotes", class_id',
     "record CkxNotes is not defined"),
    ("undefined field record", 'record = "CkxNote" }', 'record = "CkxNotte" }',
     "field Laps: record CkxNotte is not defined"),
    ("count of 0", "count = 2 }", "count = 0 }", "a count of at least 1"),
    ("map without a key", 'record = "CkxNote", key = "number" }', 'record = "CkxNote" }',
     "kind map needs key"),
    ("fixed array without a count", 'offset = 156, count = 2 }', 'offset = 156 }',
     "kind fixedInt32 needs count"),
    ("value with a record", 'offset = 152 }', 'offset = 152, record = "CkxNote" }',
     "kind uint32 takes no record"),
    ("unknown kind", 'kind = "strD", ', 'kind = "strX", ', "unknown kind strX"),
    ("unknown key", 'key = "text", record = "CkxRace"', 'key = "name", record = "CkxRace"',
     "a map needs a key (number or text)"),
    ("key on an array", 'container = "array",  ', 'container = "array", key = "text",',
     "a map needs a key (number or text), others none"),
    ("unknown container", 'container = "array",  ', 'container = "list",  ',
     "unknown container list"),
    ("unknown attribute", '{ name = "Born",', '{ colour = 1, name = "Born",', "unknown colour"),
    ("offset that is no number", "offset = 152 }", 'offset = "152" }',
     "offset must be a whole number"),
    ("default of a container", 'record = "CkxNote" }', 'record = "CkxNote", default = "0" }',
     "only simple values have a default"),
    ("constant without a count", 'default = "-1" }', 'default = "-1", constant = "_MaxLanes" }',
     "a constant needs a count"),
    ("duplicate record", 'name = "CkxRace"', 'name = "CkxNote"', "record CkxNote: declared twice"),
    ("duplicate field", '{ name = "Ready"', '{ name = "Born"', "field Born: declared twice"),
    ("field named as a proxy member", '{ name = "Ready"', '{ name = "Equals"',
     "field Equals: a name the object face's proxies already use"),
    ("duplicate member", '{ name = "Notes"', '{ name = "Races"', "member Races: declared twice"),
    ("duplicate file", 'name = "FT_MEET"', 'name = "FT_CLUB"', "file FT_CLUB: declared twice"),
    ("class id of another class", "class_id = 4100", "class_id = 4099",
     "class id 4099 names another class"),
    ("record inside itself", 'record = "CkxNote", key = "number" }',
     'record = "CkxPool", key = "number" }', "record CkxPool would contain itself"),
    ("class id out of range", "class_id = 4099", "class_id = 4294967296", "class id out of range"),
    ("fields that are no tables", 'fields = [\n  { name = "str"',
     'fields = [ "str", \n  { name = "str"', "record CkxNote: fields must be a list of tables"),
    ("no family", 'family = "Small"', "", "schema: missing family"),
    ("not TOML", 'family = "Small"', 'family = "Small', "not TOML"),
]
NO_LINE = {"no family", "not TOML"}


class SchemaErrorTest(unittest.TestCase):
    def test_a_wrong_schema_is_refused_naming_schema_and_line_and_nothing_is_written(self):
        base = SMALL.read_text()
        with tempfile.TemporaryDirectory() as work:
            schema, out = Path(work) / "bad.toml", Path(work) / "out"
            for name, old, new, says in ERRORS:
                with self.subTest(name):
                    self.assertIn(old, base)
                    schema.write_text(base.replace(old, new, 1))
                    line = base.count("\n", 0, base.index(old)) + 1
                    where = f"{schema}: " if name in NO_LINE else f"{schema}:{line}: "
                    errors = io.StringIO()
                    with contextlib.redirect_stderr(errors):
                        self.assertEqual(generate.main(["generate.py", str(schema), str(out)]), 1)
                    self.assertTrue(errors.getvalue().startswith(where), errors.getvalue())
                    self.assertIn(says, errors.getvalue())
                    self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main()
