#!/usr/bin/env python3
"""Backs up every group of a graphic terminal's project to a file.

    examples/backup.py /dev/ttyUSB0 backup.bin [baud]
"""

import sys

import quiblink


def main(port: str, path: str, baud: int = 38400) -> int:
    try:
        with quiblink.GraphicTerminal(port, baud=baud) as terminal:
            info = terminal.project_info()
            print("project %s: %d groups" % (info.name.decode("latin-1"), info.value2))
            data = terminal.read_all(progress=lambda done, total: print("\r%d bytes" % done,
                                                                        end="", flush=True))
            print()
    except quiblink.QuiblinkError as error:
        print("backup failed: %s" % error, file=sys.stderr)
        return 1
    with open(path, "wb") as f:
        f.write(data)
    print("%d bytes written to %s" % (len(data), path))
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2], *(int(a) for a in sys.argv[3:])))
