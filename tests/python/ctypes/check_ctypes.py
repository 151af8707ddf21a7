"""Loads the shared library as a foreign-language caller would, through
ctypes, and checks the state right after load."""
import ctypes
import sys


def main(path):
    lib = ctypes.CDLL(path)
    lib.QUIB_Version.restype = ctypes.c_int16
    lib.QUIB_Version.argtypes = []
    lib.QUIB_Close.restype = ctypes.c_int16
    lib.QUIB_Close.argtypes = [ctypes.c_uint16]

    failures = []
    version = lib.QUIB_Version()
    if version != 211:
        failures.append("QUIB_Version() = %d, expected 211" % version)
    for handle in range(32):
        result = lib.QUIB_Close(handle)
        if result != -1:
            failures.append("QUIB_Close(%d) = %d, expected -1" % (handle, result))
    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (33 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
