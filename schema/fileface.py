"""The file wrappers of the object face: one class D2fVarnox_FT_<FILE> per file.

A generated class only names its native file template, its view-model root
count and, per member, the container property with its root index, the
view-model root and its type, the root's producer and the data context; the
behaviour is the hand-written template files/D2fFile.h. Its constructor,
destructor, view-model roots and data contexts are defined in the generated
source, so that its virtual table and the view-model templates are built
once, with the library.
"""

from accessface import KEY_TYPES, NAMESPACE
from output import banner, umbrella, wrap_class
from tree import TOP_ARRAY, TOP_MAP, TOP_SINGLE


def member_interface(path):
    """The interface a member property gives: the container's, or the single record's."""
    record = f"Id2s{path.record.name}"
    if path.shape == TOP_MAP:
        return f"DataDirectAcces::IOrbObjMap<{KEY_TYPES[path.key]}, {record}>"
    if path.shape == TOP_ARRAY:
        return f"DataDirectAcces::IOrbObjArray<{record}>"
    assert path.shape == TOP_SINGLE
    return f"Id2o{path.record.name}"


def root_type(path):
    """The type of a member's view-model root: a collection over the container, or
    the single record's view model."""
    record, view_model = f"Id2s{path.record.name}", path.view_model
    if path.shape == TOP_MAP:
        return f"DataDirectAcces::OrbMvvmObsMap<{KEY_TYPES[path.key]}, {record}, {view_model}>"
    if path.shape == TOP_ARRAY:
        return f"DataDirectAcces::OrbMvvmObsArray<{record}, {view_model}>"
    assert path.shape == TOP_SINGLE
    return view_model


def member_functions(name, index, path):
    """A member's container property, and the declarations of its view-model root
    and data context, which the file's generated source defines."""
    member, root = path.member, f"{path.member}MvvmRoot"
    return [f"  // Member {index}, {member}: its container wrapper, made on the first read.",
            f"  std::shared_ptr<{member_interface(path)}> {member}() {{",
            f"    return Member(m_{member}, &CkxVarnox{path.file.name}::m_{member}, {index},",
            f'                  u".{member}");', "  }",
            f"  using {root} = {root_type(path)};",
            f"  // A new view-model root of {member}, registered with the file.",
            f"  std::shared_ptr<{root}> {member}Mvvm();",
            f"  // What the data contexts of {member} call for their root: {member}Mvvm().",
            f"  virtual std::shared_ptr<{root}> Get{root}();",
            f"  // A data context over a root of {member} (OrbGenericContextManager::GetDC).",
            f"  virtual std::shared_ptr<DataDirectAcces::OrbGenericDataContext> {path.data_context}(",
            "      bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,",
            "      bool bUseOrbNotification, bool bUseAutoCommit);"]


def member_definitions(name, index, path):
    member, root = path.member, f"{path.member}MvvmRoot"
    return [f"std::shared_ptr<{name}::{root}> {name}::{member}Mvvm() {{",
            f"  return MvvmRoot<{root}>(&{name}::{member}, {index});", "}", "",
            f"std::shared_ptr<{name}::{root}> {name}::Get{root}() {{ return {member}Mvvm(); }}",
            "",
            f"std::shared_ptr<DataDirectAcces::OrbGenericDataContext> {name}::{path.data_context}(",
            "    bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,",
            "    bool bUseOrbNotification, bool bUseAutoCommit) {",
            f'  return DataContext(&{name}::Get{root}, {index}, u".{path.data_context}", bShared,',
            "                     dataMode, bUseMvvmNotification, bUseOrbNotification, "
            "bUseAutoCommit);", "}", ""]


def file_class(file, members):
    name = f"D2fVarnox_{file.name}"
    native = f"CkxVarnox{file.name}"
    out = [f"// The file wrapper of {file.name}; construct it with Create()."]
    out += wrap_class(f"class {name} final : public DataDirectAcces::D2fFile<{name}, {native}> {{")
    out += [" public:", f'  static constexpr std::u16string_view kClassName = u"{name}";',
            f"  static constexpr int32_t kRootCount = {len(members)};", "",
            f"  explicit {name}(ConstructionKey key);", f"  ~{name}() override;", ""]
    for index, path in enumerate(members):
        out += member_functions(name, index, path)
    out += ["", " private:", "  friend D2fFile;", "",
            "  // Drops the cached container wrappers, which hold this wrapper.",
            "  void ReleaseMembers() {"]
    out += [f"    m_{path.member} = nullptr;" for path in members]
    out += ["  }", ""]
    out += [f"  std::shared_ptr<{path.wrapper}> m_{path.member};" for path in members]
    return out + ["};", ""]


def top_members(model, file):
    return [p for p in model.paths if p.file is file and p.parent is None]


def file_h(model, file):
    members = top_members(model, file)
    out = banner(f"The file wrapper of {file.name}.")
    out += ["#pragma once", "", "#include <cstdint>", "#include <memory>", "#include <string>",
            "#include <string_view>", "", f'#include "access/D2Varnox{file.name}.h"',
            '#include "files/D2fFile.h"', f'#include "templates/CkxVarnox{file.name}.h"', "",
            f"namespace {NAMESPACE} {{", ""]
    return out + file_class(file, members) + [f"}}  // namespace {NAMESPACE}"]


def file_cpp(file, members):
    name = f"D2fVarnox_{file.name}"
    out = banner(f"The file wrapper of {file.name}: its constructor and destructor, and its",
                 "view-model roots and data contexts; its virtual table, and the templates",
                 "it reaches, are built here.")
    out += [f'#include "files/D2fVarnox{file.name}.h"', "", f"namespace {NAMESPACE} {{", "",
            f"{name}::{name}(ConstructionKey key) : D2fFile(key) {{}}",
            f"{name}::~{name}() = default;", ""]
    for index, path in enumerate(members):
        out += member_definitions(name, index, path)
    return out + [f"}}  // namespace {NAMESPACE}"]


def outputs(model):
    """Path below the output directory -> lines, the file wrappers' umbrella last."""
    texts = {}
    for file in model.files:
        texts[f"files/D2fVarnox{file.name}.h"] = file_h(model, file)
        texts[f"files/D2fVarnox{file.name}.cpp"] = file_cpp(file, top_members(model, file))
    texts["files/VarnoxFiles.h"] = umbrella(texts, "The five file wrappers.")
    return texts
