"""The package's table of prototypes against the library's export list."""

from __future__ import annotations

import ctypes
import os
import re

import pytest

from quiblink import _library

EXPORT_LIST = os.path.join(os.path.dirname(__file__), "..", "..", "src", "exports",
                           "export_list.h")

# C type -> (size, signed) of a number, or the pointed-to type of a pointer.
NUMBERS = {"int8_t": (1, True), "uint8_t": (1, False), "int16_t": (2, True),
           "uint16_t": (2, False), "int32_t": (4, True), "uint32_t": (4, False),
           "int": (ctypes.sizeof(ctypes.c_int), True)}
CALLBACKS = {"QUIB_Progress": _library.PROGRESS, "QUIB_TraceHandler": _library.TRACE}
# Structures: their fields' C types in order.
STRUCTS = {"QUIB_GroupEntry": ["uint32_t", "uint32_t", "uint32_t"]}


def export_list() -> dict[str, tuple[str, list[str], int]]:
    text = open(EXPORT_LIST).read()
    rows = re.findall(r"X\(([^,]+), (\w+), \(([^)]*)\), (\d+)\)", text)
    exports = {}
    for result, name, parameters, stack in rows:
        types = [] if parameters.strip() == "void" else [
            re.sub(r"\s*\b\w+$", "", p.strip()) for p in parameters.split(",")]
        exports[name] = (result.strip(), types, int(stack))
    return exports


def number_shape(ctype: object) -> tuple[int, bool]:
    size = ctypes.sizeof(ctype)  # type: ignore[arg-type]
    return size, ctype(-1).value < 0  # type: ignore[operator]


def mismatch(c_type: str, ctype: object) -> str:
    """Empty when the ctypes type carries the C type; else what differs."""
    c_type = c_type.replace("const ", "").strip()
    if c_type == "void":
        return "" if ctype is None else "not void"
    if c_type in CALLBACKS:
        return "" if ctype is CALLBACKS[c_type] else "not the callback type"
    if c_type in STRUCTS:
        fields = getattr(ctype, "_fields_", None)
        if fields is None or len(fields) != len(STRUCTS[c_type]):
            return "not the structure"
        return "; ".join(filter(None, (mismatch(c, f[1]) for c, f in zip(STRUCTS[c_type],
                                                                           fields))))
    if c_type in NUMBERS:
        if not (isinstance(ctype, type) and issubclass(ctype, ctypes._SimpleCData)) or \
                ctype in (ctypes.c_char_p, ctypes.c_void_p):
            return "not a number"
        shape = number_shape(ctype)
        return "" if shape == NUMBERS[c_type] else "%r instead of %r" % (shape, NUMBERS[c_type])
    pointee = c_type[:-1].strip()
    assert c_type.endswith("*"), c_type
    if pointee in ("uint8_t", "char", "void"):
        # Bytes and buffers: bytes objects or ctypes buffers pass as they are.
        return "" if ctype in (ctypes.c_char_p, ctypes.c_void_p) else "not a byte pointer"
    if not hasattr(ctype, "_type_") or not issubclass(ctype, ctypes._Pointer):
        return "not a pointer"
    return mismatch(pointee, ctype._type_)


def bound() -> list[str]:
    return sorted(_library._PROTOTYPES)


@pytest.mark.parametrize("name", bound())
def test_every_bound_export_has_the_width_and_sign_of_the_export_list(name):
    exports = export_list()
    assert name in exports, "%s is not in QUIB_EXPORT_LIST" % name
    result, parameters, stack = exports[name]
    restype, argtypes = _library._PROTOTYPES[name]
    assert len(argtypes) == len(parameters) and 4 * len(parameters) == stack
    problems = [("result", mismatch(result, restype))]
    problems += [("argument %d (%s)" % (i + 1, c), mismatch(c, t))
                 for i, (c, t) in enumerate(zip(parameters, argtypes))]
    assert [p for p in problems if p[1]] == []


@pytest.mark.parametrize("c_type, wrong", [
    ("uint16_t", ctypes.c_uint8), ("uint16_t", ctypes.c_int16), ("int32_t", ctypes.c_uint32),
    ("uint16_t *", ctypes.POINTER(ctypes.c_uint32)), ("int16_t", ctypes.c_char_p),
    ("QUIB_Progress", _library.TRACE), ("void", ctypes.c_int),
    ("QUIB_GroupEntry *", ctypes.POINTER(ctypes.c_uint32))])
def test_the_comparison_catches_a_wrong_width_or_sign(c_type, wrong):
    assert mismatch(c_type, wrong)
