"""The native face's headers: the record structs with their layout checks, the
file templates, the member descriptors, the kernel's template catalogue and
the lists of file templates and members.
"""

from kinds import CONTAINERS, KEY_TEXT, KEYS, KINDS
from output import aligned, banner, wrap_class


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


def file_h(model, file):
    out = banner(f'The file template {file.name} of the family "{model.family}": its member',
                 "classes, then the template with its members in registration order.")
    out += ["#pragma once", "", "#include <cstdint>", "",
            '#include "templates/CkxVarnoxFile.h"', '#include "templates/CkxVarnoxMember.h"',
            '#include "templates/VarnoxRecords.h"', ""]
    for member in file.members:
        container = f"{CONTAINERS[member.container][0]}<{member.record.name}>"
        out += [f"// {member.name}: {member_text(member)}."]
        out += wrap_class(f"class {file.member_class(member)} : "
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
    out += ["  }", f"  ~{cls}() override {{ UnbindMembers(); }}", ""]
    out += aligned([(f"{file.member_class(member)} m_{member.name};", str(i))
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


def files_h(model):
    out = banner(f'The file templates of the "{model.family}" family in schema order, and the',
                 "members of each in registration order, for code that goes over every file",
                 "or every member instead of naming them.")
    out += ["#pragma once", "", '#include "templates/VarnoxFileList.h"']
    out += [f'#include "templates/CkxVarnox{file.name}.h"' for file in model.files]
    out += ["", "using VarnoxFileTemplates = VarnoxTypes<"]
    out += [f"    CkxVarnox{file.name}{',' if i + 1 < len(model.files) else '>;'}"
            for i, file in enumerate(model.files)]
    for file in model.files:
        out += ["", "template <>", f"struct VarnoxMembers<CkxVarnox{file.name}> {{",
                f"  static constexpr size_t kCount = {len(file.members)};", "",
                "  template <class File, class Fn>", "  static void ForEach(File& file, Fn&& fn) {"]
        out += [f'    fn("{member.name}", file.m_{member.name});' for member in file.members]
        out += ["  }", "};"]
    return out


def outputs(model):
    """Path below the output directory -> lines."""
    texts = {"templates/VarnoxRecords.h": records_h(model)}
    for file in model.files:
        texts[f"templates/CkxVarnox{file.name}.h"] = file_h(model, file)
    texts["templates/VarnoxDescriptors.h"] = descriptors_h(model)
    texts["templates/VarnoxCatalogue.h"] = catalogue_h(model)
    texts["templates/VarnoxFiles.h"] = files_h(model)
    return texts
