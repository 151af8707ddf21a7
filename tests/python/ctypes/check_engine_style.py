"""QUIBLINK_ENGINE is read as the library loads: each value in a process of
its own, through ctypes as a foreign-language caller loads the library."""
import os
import subprocess
import sys

PROBE = """
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.QUIB_GetEngineStyle.restype = ctypes.c_int32
print(lib.QUIB_GetEngineStyle())
"""

# (value of QUIBLINK_ENGINE or None, style after load: 0 wake, 1 poll)
ROWS = [(None, 0), ("poll", 1), ("wake", 0), ("", 0), ("POLL", 0), ("polling", 0)]


def main(path):
    failures = []
    for value, want in ROWS:
        env = dict(os.environ)
        env.pop("QUIBLINK_ENGINE", None)
        if value is not None:
            env["QUIBLINK_ENGINE"] = value
        out = subprocess.run([sys.executable, "-c", PROBE, path], env=env, capture_output=True,
                             text=True, timeout=60)
        got = out.stdout.strip()
        if out.returncode != 0 or got != str(want):
            failures.append("QUIBLINK_ENGINE=%r: style %r (exit %d, %s), expected %d" %
                            (value, got, out.returncode, out.stderr.strip(), want))
    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (len(ROWS) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
