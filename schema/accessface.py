"""The access layer of the object face: the record interfaces Id2s<Record>
(and Id2o<Record> of a top-level single record), and per file the path walks,
member proxies D2m, top-level wrappers D2o and nested wrappers D2i.

Every class is thin: it names its path, its record and its properties, and
derives the hand-written template of its shape (access/OrbRecordFace.h,
access/OrbMapWrapper.h, access/OrbArrayWrapper.h), where the behaviour is.
Its constructor and destructor are defined in the file's generated source,
compiled once with the library: the class's virtual table, and with it every
template its properties make, is then built there and not again in each
program that includes the header.
A collection wrapper also derives OrbMvvmMaker (access/OrbMvvmMaker.h) with
the view model of its elements; the view models need only the record
interfaces, so including them here makes no cycle.
"""

from output import banner, umbrella, wrap_class
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


def class_head(name, base, maker=None):
    """The class head; a collection wrapper's element maker on a line of its own."""
    if maker is None:
        head = wrap_class(f"class {name} final : public {base} {{")
    else:
        head = [f"class {name} final", f"    : public {base},", f"      public {maker} {{"]
    return head + [
        " public:", f'  static constexpr std::u16string_view kClassName = u"{name}";']


# Constructor parameters by how the object is reached: from the proxy or
# wrapper above it, or from the file.
NESTED_PARAMS = ("VarnoxPath_{0}::Member* pObj, std::shared_ptr<VarnoxPath_{0}::Top> pObjM, "
                 "const DataDirectAcces::OrbIndexsList* pParent")
NESTED_ARGS = "pObj, std::move(pObjM), pParent"
TOP_PARAMS = ("VarnoxPath_{0}::Member* pObj, "
              "const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM")
TOP_ARGS = "pObj, pFileM"


def lifetime(name, params):
    """The declarations of the out-of-line constructor and destructor."""
    return [f"  {name}({params});", f"  ~{name}() override;"]


def lifetime_definitions(name, base, params, args):
    return [f"{name}::{name}({params})", f"    : {base}({args}) {{}}",
            f"{name}::~{name}() = default;", ""]


def constructor(path, top):
    params, args = (TOP_PARAMS, TOP_ARGS) if top else (NESTED_PARAMS, NESTED_ARGS)
    return params.format(path.name), args


def proxy_class(path, children):
    name, record = path.proxy, path.record
    base = (f"DataDirectAcces::D2mProxy<{name}, VarnoxPath_{path.name}, Id2s{record.name}, "
            f"{len(record.fields)}>")
    where = "embedded" if path.shape == EMBEDDED else f"at level {path.depth}"
    out = [f"// One {record.name} of {path.name}, {where}."] + class_head(name, base)
    params, _ = constructor(path, top=False)
    return out + lifetime(name, params) + [""] + properties(path, children) + ["};", ""]


def element_view_model(path):
    """The view model a collection's GetMvvmInstance makes of an element; None
    for a single record."""
    if path.shape == VALUES:
        return f"DataDirectAcces::MvvmSimpleObsItem<{path.value}_t>"
    return None if path.shape == TOP_SINGLE else path.view_model


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
    what = (f"the {path.value} values" if path.shape == VALUES
            else f"the {rec} records" if path.shape != TOP_SINGLE else f"the single {rec}")
    element_vm = element_view_model(path)
    maker = f"DataDirectAcces::OrbMvvmMaker<{name}, {element_vm}>" if element_vm else None
    out = [f"// {path.name}: {what}."] + class_head(name, "DataDirectAcces::" + template, maker)
    out += lifetime(name, constructor(path, top=path.parent is None)[0])
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
            '#include "access/OrbMvvmMaker.h"', '#include "access/OrbPathWalk.h"',
            '#include "access/OrbRecordFace.h"', '#include "access/VarnoxRecordInterfaces.h"',
            f'#include "templates/CkxVarnox{file.name}.h"',
            '#include "viewmodels/VarnoxViewModelClasses.h"',
            "", f"namespace {NAMESPACE} {{", ""]
    out += [f"class {c};" for c in classes] + ["", "// The walks, parents first."]
    out += [line for p in paths for line in path_struct(p)] + [""]
    for p in reversed(paths):
        if p.proxy:
            out += proxy_class(p, children[p.index])
        if p.wrapper:
            out += wrapper_class(p, children[p.index])
    return out + [f"}}  // namespace {NAMESPACE}"]


def file_cpp(model, file):
    out = banner(f"The constructors and destructors of {file.name}'s access classes; the",
                 "virtual tables, and the templates they reach, are built here.")
    out += [f'#include "access/D2Varnox{file.name}.h"', "", "#include <utility>", "",
            f"namespace {NAMESPACE} {{", ""]
    for p in model.paths:
        if p.file is not file:
            continue
        if p.proxy:
            out += lifetime_definitions(p.proxy, "D2mProxy", *constructor(p, top=False))
        if p.wrapper:
            base = WRAPPER_BASES[p.shape]
            out += lifetime_definitions(p.wrapper, base, *constructor(p, top=p.parent is None))
    return out + [f"}}  // namespace {NAMESPACE}"]


WRAPPER_BASES = {TOP_MAP: "D2oMap", MAP: "D2iMap", TOP_ARRAY: "D2oArray", ARRAY: "D2iArray",
                 VALUES: "D2iValues", TOP_SINGLE: "D2oSingle"}


def outputs(model):
    """Path below the output directory -> lines, the access umbrella last."""
    texts = {"access/VarnoxRecordInterfaces.h": interfaces_h(model)}
    for file in model.files:
        texts[f"access/D2Varnox{file.name}.h"] = file_h(model, file)
        texts[f"access/D2Varnox{file.name}.cpp"] = file_cpp(model, file)
    texts["access/VarnoxAccessClasses.h"] = umbrella(texts,
                                                     "Every generated class of the access layer.")
    return texts
