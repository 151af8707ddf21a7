"""A Python program that hands the library a Python trace handler and ends,
with nothing open, with channels left open on a pseudo-terminal, or with a
call under way: the library must not call the handler from its unload, after
the interpreter behind it is gone. Each case runs in a child interpreter that
must end on its own, promptly and with exit code 0; the unload's lines still
reach the debugger output (stderr with QUIBLINK_TRACE)."""
import ctypes
import os
import subprocess
import sys
import threading
import time

HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)
LIMIT_SECONDS = 20


def load(path):
    lib = ctypes.CDLL(path)
    lib.QUIB_SetTraceHandler.restype = None
    lib.QUIB_SetTraceHandler.argtypes = [HANDLER, ctypes.c_void_p]
    lib.QUIB_Open.restype = ctypes.c_int16
    lib.QUIB_Open.argtypes = [ctypes.c_uint16, ctypes.c_uint16]
    lib.QUIB_Read.restype = ctypes.c_int16
    lib.QUIB_Read.argtypes = [ctypes.c_uint16, ctypes.c_uint16, ctypes.c_int32,
                              ctypes.c_char_p, ctypes.c_uint16]
    return lib


def child(path, case):
    """Runs in the child interpreter; its exit code and output are checked."""
    heard = []
    if case != "nothing":
        master, slave = os.openpty()
        os.environ["QUIBLINK_COM1"] = os.ttyname(slave)
    lib = load(path)
    handler = HANDLER(lambda text, user: heard.append(text))
    lib.QUIB_SetTraceHandler(handler, None)
    if case in ("open", "busy"):
        first = lib.QUIB_Open(0, 0)
        second = lib.QUIB_Open(0, 0)
        if first < 0 or second < 0:
            print("open failed: %d %d" % (first, second))
            return 1
        if case == "busy":
            # A read that the silent far end never answers: the process ends
            # while it waits in the port worker.
            buffer = ctypes.create_string_buffer(4)
            threading.Thread(target=lib.QUIB_Read, args=(first, 0, 0, buffer, 4),
                             daemon=True).start()
            time.sleep(0.3)
    if b"COM open OK!\n" not in heard and case != "nothing":
        print("the handler heard nothing of the open")
        return 1
    print("handler heard %d lines" % len(heard))
    sys.stdout.flush()
    return 0


def run(path, case):
    env = dict(os.environ, QUIBLINK_TRACE="1")
    start = time.monotonic()
    try:
        done = subprocess.run([sys.executable, __file__, path, case], env=env,
                              capture_output=True, timeout=LIMIT_SECONDS)
    except subprocess.TimeoutExpired:
        return ["%s: the process did not end within %d s" % (case, LIMIT_SECONDS)]
    took = time.monotonic() - start
    failures = []
    if done.returncode != 0:
        failures.append("%s: exit code %d (negative: killed by that signal)\n%s%s" % (
            case, done.returncode, done.stdout.decode(errors="replace"),
            done.stderr.decode(errors="replace")[-2000:]))
    if b"DLL_PROCESS_DETACH\n" not in done.stderr:
        failures.append("%s: the unload's line did not reach the debugger output" % case)
    print("%s: exit code %d after %.2f s" % (case, done.returncode, took))
    return failures


def main(path):
    failures = []
    failed = 0
    cases = ["nothing", "open", "busy"]
    for case in cases:
        found = run(path, case)
        failures += found
        failed += 1 if found else 0
    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) > 2:
        sys.exit(child(sys.argv[1], sys.argv[2]))
    sys.exit(main(sys.argv[1]))
