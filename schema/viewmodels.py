"""The view models Mvvm<Record>: one per record, each a property table and a
typed getter per property over the hand-written template
viewmodels/OrbViewModel.h, where the behaviour is. Constructors and
destructors are defined in the generated source, so that the virtual tables
are built once, with the library.

A row names its kind (Simple, Map, Array, Fixed, Nested) with the record
interface's getter, then the property name, the default literal (simple) or
the type text of the messages (the others) and the descriptor numbers.
"""

from kinds import KINDS
from output import banner, wrap_class

NAMESPACE = "Tarvex::Orb::Data::Varnox"
# C++ value types of the simple properties.
SIMPLE_TYPES = {
    "strDU": "std::u16string", "strD": "std::u16string", "strSU": "std::u16string",
    "int32": "int32_t", "uint32": "uint32_t", "bool": "bool",
    "kxTime": "std::optional<KxTime>", "dateTime": "OrbDateTime",
}
CPP_KEYS = {"number": "uint64_t", "text": "std::u16string"}
CPP_VALUES = {"int32": "int32_t", "uint32": "uint32_t"}
# How the type texts of the messages name keys and values.
TEXT_KEYS = {"number": "UInt64", "text": "String^"}
TEXT_VALUES = {"int32": "Int32", "uint32": "UInt32"}


def type_text(field):
    """The type text after "Type: " in a non-simple property's messages: the
    property's class with a caret after every class name."""
    rec = field.record.name if field.kind in ("map", "array", "record") else None
    if field.kind == "map":
        return f"OrbMvvmObsMap<{TEXT_KEYS[field.key]}, Id2s{rec}^, Mvvm{rec}^>^"
    if field.kind == "array":
        return f"OrbMvvmObsArray<Id2s{rec}^, Mvvm{rec}^>^"
    if field.kind == "record":
        return f"Mvvm{rec}^"
    value = TEXT_VALUES[KINDS[field.kind].value]
    return f"OrbMvvmObsArray1D<{value}, MvvmSimpleObsItem<{value}>^>^"


def slot_type(field):
    """The C++ class of the property's slot object."""
    if field.kind in SIMPLE_TYPES:
        return f"OrbSimpleDataWrapper<{SIMPLE_TYPES[field.kind]}>"
    rec = field.record.name if field.kind in ("map", "array", "record") else None
    if field.kind == "map":
        return f"OrbMvvmObsMap<{CPP_KEYS[field.key]}, Id2s{rec}, Mvvm{rec}>"
    if field.kind == "array":
        return f"OrbMvvmObsArray<Id2s{rec}, Mvvm{rec}>"
    if field.kind == "record":
        return f"Mvvm{rec}"
    value = CPP_VALUES[KINDS[field.kind].value]
    return f"OrbMvvmObsArray1D<{value}, MvvmSimpleObsItem<{value}>>"


def row(record, field):
    get = f"&Id2s{record.name}::{field.name}"
    if field.kind in SIMPLE_TYPES:
        kind, text = f"Simple<{get}, &Id2s{record.name}::set_{field.name}>", field.default_text
    elif field.kind == "map":
        kind, text = f"Map<{get}, Mvvm{field.record.name}>", type_text(field)
    elif field.kind == "array":
        kind, text = f"Array<{get}, Mvvm{field.record.name}>", type_text(field)
    elif field.kind == "record":
        kind, text = f"Nested<{get}, Mvvm{field.record.name}>", type_text(field)
    else:
        kind, text = f"Fixed<{get}, {field.count}>", type_text(field)
    size, element, variable = field.descriptor
    return (f'    {kind}::Describe(u"{field.name}", u"{text}", {size}, {element}, '
            f'{"true" if variable else "false"}),')


def view_model(record):
    name, n = f"Mvvm{record.name}", len(record.fields)
    base = f"DataDirectAcces::OrbViewModel<{name}, Id2s{record.name}, {n}>"
    out = [f"// The view model of {record.name}, property by property index."]
    out += wrap_class(f"class {name} final : public {base} {{")
    out += [" public:", f'  static constexpr std::u16string_view kClassName = u"{name}";',
            f'  static constexpr std::u16string_view kInterfaceName = u"Id2s{record.name}";',
            f"  {name}(std::shared_ptr<Id2s{record.name}> pData, "
            "DataDirectAcces::OrbBaseDataWrapper* pParent,",
            f"  {' ' * len(name)} int32_t iPropIndex);",
            f"  {name}(std::shared_ptr<Id2s{record.name}> pData, "
            "DataDirectAcces::OrbBaseDataWrapper* pParent);",
            f"  {name}();", f"  ~{name}() override;", ""]
    for f in record.fields:
        out += [f"  std::shared_ptr<{slot_type(f)}> {f.name}() {{",
                f"    return Slot<{slot_type(f)}>({f.index});", "  }"]
    out += ["", f"  static const std::array<PropertyRow, {n}> kProperties;", "",
            " private:"]
    aliases = [("Simple", "auto Get, auto Set", "OrbVmSimple", "Get, Set"),
               ("Map", "auto Get, class V", "OrbVmMap", "Get, V"),
               ("Array", "auto Get, class V", "OrbVmArray", "Get, V"),
               ("Fixed", "auto Get, int32_t Count", "OrbVmFixed", "Get, Count"),
               ("Nested", "auto Get, class V", "OrbVmNested", "Get, V")]
    used = {r.split("<", 1)[0].strip() for r in (row(record, f) for f in record.fields)}
    for alias, params, template, args in aliases:
        if alias in used:
            out += [f"  template <{params}>",
                    f"  using {alias} = DataDirectAcces::{template}<{name}, Id2s{record.name}, "
                    f"{args}>;"]
    out += ["};", "", f"inline const std::array<{name}::PropertyRow, {n}> {name}::kProperties = {{{{"]
    out += [row(record, f) for f in record.fields]
    return out + ["}};", ""]


def classes_h(model):
    out = banner("The view models of the records, each after the view models of the records",
                 "it holds; the behaviour is viewmodels/OrbViewModel.h's.")
    out += ["#pragma once", "", "#include <array>", "#include <cstdint>", "#include <memory>",
            "#include <optional>", "#include <string>", "#include <string_view>", "",
            '#include "access/VarnoxRecordInterfaces.h"', '#include "viewmodels/OrbViewModel.h"',
            "", f"namespace {NAMESPACE} {{", ""]
    out += [f"using Tarvex::Orb::DataDirectAcces::{name};" for name in
            ("MvvmSimpleObsItem", "OrbMvvmObsArray", "OrbMvvmObsArray1D", "OrbMvvmObsMap",
             "OrbSimpleDataWrapper")] + [""]
    for record in model.records:
        out += view_model(record)
    return out + [f"}}  // namespace {NAMESPACE}"]


def lifetime_definitions(record):
    name, data = f"Mvvm{record.name}", f"std::shared_ptr<Id2s{record.name}> pData"
    parent = "DataDirectAcces::OrbBaseDataWrapper* pParent"
    return [f"{name}::{name}({data}, {parent}, int32_t iPropIndex)",
            "    : OrbViewModel(std::move(pData), pParent, iPropIndex) {}",
            f"{name}::{name}({data}, {parent})",
            "    : OrbViewModel(std::move(pData), pParent) {}",
            f"{name}::{name}() = default;", f"{name}::~{name}() = default;", ""]


def classes_cpp(model):
    out = banner("The constructors and destructors of the view models; their virtual tables,",
                 "and the templates those reach, are built here.")
    out += ['#include "viewmodels/VarnoxViewModelClasses.h"', "", "#include <utility>", "",
            f"namespace {NAMESPACE} {{", ""]
    for record in model.records:
        out += lifetime_definitions(record)
    return out + [f"}}  // namespace {NAMESPACE}"]


def outputs(model):
    return {"viewmodels/VarnoxViewModelClasses.h": classes_h(model),
            "viewmodels/VarnoxViewModelClasses.cpp": classes_cpp(model)}
