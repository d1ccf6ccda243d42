"""Helpers the emitters share to write readable C++."""

BANNER = "// Generated from schema/varnox.toml by schema/generate.py. Do not edit."


def banner(*lines):
    """The generated-file banner, then the header's own comment lines."""
    return [BANNER, "//"] + [f"// {line}".rstrip() for line in lines]


def umbrella(texts, *comment):
    """A header that includes every header among `texts` (generated sources left out)."""
    return (banner(*comment) + ["#pragma once", ""] +
            [f'#include "{path}"' for path in texts if path.endswith(".h")])


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


def text(value):
    """A C++ string literal, or nullptr for None."""
    return "nullptr" if value is None else f'"{value}"'
