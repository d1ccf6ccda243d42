"""The access layer of the object face: the record interfaces Id2s<Record>
(and Id2o<Record> of a top-level single record), and per file the path walks,
member proxies D2m, top-level wrappers D2o and nested wrappers D2i.

Every class is thin: it names its path, its record and its properties, and
derives the hand-written template of its shape (access/OrbRecordFace.h,
access/OrbMapWrapper.h, access/OrbArrayWrapper.h), where the behaviour is.
"""

from output import banner, wrap_class
from tree import ARRAY, EMBEDDED, MAP, TOP_ARRAY, TOP_MAP, TOP_SINGLE, VALUES

NAMESPACE = "Tarvex::Orb::Data::Varnox"
KEY_TYPES = {"number": "uint64_t", "text": "std::u16string"}
# Scalar kinds: property type and setter argument type.
SCALARS = {
    "strDU": ("std::u16string", "OrbTextArg"),
    "strD": ("std::u16string", "OrbTextArg"),
    "strSU": ("std::u16string", "OrbTextArg"),
    "int32": ("int32_t", "int32_t"),
    "uint32": ("uint32_t", "uint32_t"),
    "bool": ("bool", "bool"),
    "kxTime": ("std::optional<KxTime>", "const std::optional<KxTime>&"),
    "dateTime": ("OrbDateTime", "const OrbDateTime&"),
}
VALUE_TYPES = {"fixedInt32": "int32_t", "fixedUInt32": "uint32_t"}
USING = ["Tarvex::Orb::KxTime"] + [
    f"Tarvex::Orb::DataDirectAcces::{name}"
    for name in ("IOrbArray", "IOrbArray1D", "IOrbMap", "IOrbObject", "OrbDateTime", "OrbTextArg")]


def nested_type(field):
    """What a nested property of `field` gives: the container or record interface."""
    if field.kind == "map":
        return f"std::shared_ptr<IOrbMap<{KEY_TYPES[field.key]}, Id2s{field.record.name}>>"
    if field.kind == "array":
        return f"std::shared_ptr<IOrbArray<Id2s{field.record.name}>>"
    if field.kind in VALUE_TYPES:
        return f"std::shared_ptr<IOrbArray1D<{VALUE_TYPES[field.kind]}>>"
    return f"std::shared_ptr<Id2s{field.record.name}>"


def interface(record):
    out = [f"// The properties of {record.name}, in property-index order.",
           f"class Id2s{record.name} : public IOrbObject {{", " public:"]
    for f in record.fields:
        if f.kind in SCALARS:
            value, arg = SCALARS[f.kind]
            out += [f"  virtual {value} {f.name}() = 0;",
                    f"  virtual void set_{f.name}({arg} value) = 0;"]
        else:
            out += [f"  virtual {nested_type(f)} {f.name}() = 0;"]
    out += ["", "  // True only for this very object.",
            f"  bool Equals(const std::shared_ptr<Id2s{record.name}>& pOther) const {{",
            "    return pOther.get() == this;", "  }", "};", ""]
    return out


def interfaces_h(model):
    singles = {p.record.name for p in model.paths if p.shape == TOP_SINGLE}
    out = banner("The record interfaces: one property per field of each record, in",
                 "property-index order; a nested container or embedded record is a getter",
                 "of its wrapper or proxy interface. A top-level single record's interface",
                 "Id2o<Record> adds the persistence operations and the change event.")
    out += ["#pragma once", "", "#include <cstdint>", "#include <memory>", "#include <optional>",
            "#include <string>", "", '#include "access/OrbFields.h"',
            '#include "contracts/framework/OrbInterfaces.h"', "", f"namespace {NAMESPACE} {{", ""]
    out += [f"using {name};" for name in USING] + [""]
    for record in model.records:
        out += interface(record)
        if record.name in singles:
            out += [f"class Id2o{record.name}", f"    : public Id2s{record.name},",
                    "      public DataDirectAcces::IOrbUpdatableObject {};", ""]
    return out + [f"}}  // namespace {NAMESPACE}"]


def path_struct(path):
    name = f"VarnoxPath_{path.name}"
    if path.parent is None:
        step = "OrbTopSingleStep" if path.shape == TOP_SINGLE else "OrbTopStep"
        base = f"DataDirectAcces::{step}<{path.member_class}, {path.wrapper}>"
    else:
        step = {MAP: "OrbNestedStep", ARRAY: "OrbNestedStep", EMBEDDED: "OrbEmbeddedStep",
                VALUES: "OrbValuesStep"}[path.shape]
        base = (f"DataDirectAcces::{step}<VarnoxPath_{path.parent.name}, "
                f"&{path.parent.record.name}::{path.member}>")
    return wrap_class(f"struct {name} : {base} {{}};")


def properties(path, children):
    """The property lines of the class that stands for `path`'s record."""
    record = path.record.name
    out = []
    for f in path.record.fields:
        what = f'u".{f.name}"'
        if f.kind in SCALARS:
            value, arg = SCALARS[f.kind]
            out += [f"  {value} {f.name}() override {{ return Get<&{record}::{f.name}>({what}); }}",
                    f"  void set_{f.name}({arg} value) override {{",
                    f"    Set<&{record}::{f.name}>({what}, value);", "  }"]
        else:
            child = children[f.name]
            made = child.wrapper or child.proxy
            out += [f"  {nested_type(f)} {f.name}() override {{",
                    f"    return Make<{made}>({what});", "  }"]
    return out


def class_head(name, base):
    return wrap_class(f"class {name} final : public {base} {{") + [
        " public:", f'  static constexpr std::u16string_view kClassName = u"{name}";']


def proxy_class(path, children):
    name, record = path.proxy, path.record
    base = (f"DataDirectAcces::D2mProxy<{name}, VarnoxPath_{path.name}, Id2s{record.name}, "
            f"{len(record.fields)}>")
    where = "embedded" if path.shape == EMBEDDED else f"at level {path.depth}"
    out = [f"// One {record.name} of {path.name}, {where}."] + class_head(name, base)
    return out + ["  using D2mProxy::D2mProxy;", ""] + properties(path, children) + ["};", ""]


def wrapper_class(path, children):
    name = path.wrapper
    p = f"VarnoxPath_{path.name}"
    rec = path.record.name if path.record else None
    template, enum = {
        TOP_MAP: (f"D2oMap<{name}, {p}, {path.proxy}, Id2s{rec}, {KEY_TYPES.get(path.key)}>",
                  "OrbMapEnumerator"),
        MAP: (f"D2iMap<{name}, {p}, {path.proxy}, Id2s{rec}, {KEY_TYPES.get(path.key)}>",
              "OrbMapEnumerator"),
        TOP_ARRAY: (f"D2oArray<{name}, {p}, {path.proxy}, Id2s{rec}>", "OrbArrayEnumerator"),
        ARRAY: (f"D2iArray<{name}, {p}, {path.proxy}, Id2s{rec}>", "OrbArrayEnumerator"),
        VALUES: (f"D2iValues<{name}, {p}, {path.value}_t>", "OrbArrayEnumerator"),
        TOP_SINGLE: (f"D2oSingle<{name}, {p}, Id2o{rec}>", None),
    }[path.shape]
    short = template.split("<", 1)[0]
    what = (f"the {path.value} values" if path.shape == VALUES
            else f"the {rec} records" if path.shape != TOP_SINGLE else f"the single {rec}")
    out = [f"// {path.name}: {what}."] + class_head(name, "DataDirectAcces::" + template)
    out += [f"  using {short}::{short};"]
    if enum:
        element = f"{path.value}_t" if path.shape == VALUES else f"std::shared_ptr<Id2s{rec}>"
        out += [f"  using {name}_Enumerator = DataDirectAcces::{enum}<{name}, {element}>;"]
    if path.shape == TOP_SINGLE:
        out += [""] + properties(path, children)
    return out + ["};", ""]


def file_h(model, file):
    paths = [p for p in model.paths if p.file is file]
    children = {p.index: {} for p in paths}
    for p in paths:
        if p.parent is not None:
            children[p.parent.index][p.member] = p
    classes = [c for p in paths for c in (p.wrapper, p.proxy) if c]
    out = banner(f"The access layer of {file.name}: the path walk of every member path, then",
                 "each path's proxy and wrapper, the deepest first so that every class is",
                 "complete before a class that makes it.")
    out += ["#pragma once", "", "#include <cstdint>", "#include <memory>", "#include <optional>",
            "#include <string>", "#include <string_view>", "",
            '#include "access/OrbArrayWrapper.h"', '#include "access/OrbMapWrapper.h"',
            '#include "access/OrbPathWalk.h"', '#include "access/OrbRecordFace.h"',
            '#include "access/VarnoxRecordInterfaces.h"', f'#include "templates/CkxVarnox{file.name}.h"',
            "", f"namespace {NAMESPACE} {{", ""]
    out += [f"class {c};" for c in classes] + ["", "// The walks, parents first."]
    out += [line for p in paths for line in path_struct(p)] + [""]
    for p in reversed(paths):
        if p.proxy:
            out += proxy_class(p, children[p.index])
        if p.wrapper:
            out += wrapper_class(p, children[p.index])
    return out + [f"}}  // namespace {NAMESPACE}"]


def outputs(model):
    """Path below the output directory -> lines, the access umbrella last."""
    texts = {"access/VarnoxRecordInterfaces.h": interfaces_h(model)}
    for file in model.files:
        texts[f"access/D2Varnox{file.name}.h"] = file_h(model, file)
    umbrella = banner("Every generated class of the access layer.")
    texts["access/VarnoxAccessClasses.h"] = (umbrella + ["#pragma once", ""] +
                                             [f'#include "{path}"' for path in texts])
    return texts
