#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Each seed is laid out the way its target reads its input (front to back; see
fuzz_input.h and the targets), around the byte sequences of the protocols'
worked examples, so that fuzzing starts from well-formed exchanges.
Run it again after changing how a target reads its input."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

STX, ETX, ACK, NAK = 0x02, 0x03, 0x06, 0x15


def le16(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF])


def le32(v):
    return le16(v & 0xFFFF) + le16(v >> 16)


def graphic(start, command, sub, cont, seq, byte7, data=b""):
    body = le16(len(data) + 6) + bytes([command, sub, cont, seq, byte7]) + data
    return bytes([start]) + body + bytes([sum(body) & 0xFF])


# Worked examples: classic panels.
CLASSIC_READ_REPLY = bytes([STX]) + b"12345678" + bytes([ETX]) + b"A7"
# Worked examples: graphic terminals.
OFFLINE_REPLY = bytes.fromhex("FF06000101000000 08".replace(" ", ""))
OFFLINE_REFUSED = bytes.fromhex("FF0600010100000 50D".replace(" ", ""))
TYPE_REPLY = graphic(0xFF, 82, 1, 0, 0, 0, bytes([0xC3]))
BAD_LENGTH_REPLY = graphic(0xFF, 1, 1, 0, 0, 0)[:1] + le16(7) + OFFLINE_REPLY[3:]
PROJECT_REPLY = graphic(0xFF, 49, 0x43, 0, 0, 0, le32(1) + le32(2) + bytes([5]) + b"hello")


def classic_codec():
    seeds = {}

    def reply(name, model, read, address, reply_bytes, count, pieces):
        seeds[name] = (bytes([model, 0, 1 if read else 0, 0]) + le16(address) +
                       bytes([len(reply_bytes)]) + reply_bytes + bytes([count - 1, 0]) +
                       bytes(p - 1 for p in pieces))

    reply("read_model0", 0, True, 0x100, CLASSIC_READ_REPLY, 4, [12])
    reply("read_model3_pieces", 3, True, 0x10, CLASSIC_READ_REPLY, 4, [1, 5, 6])
    reply("read_nak", 0, True, 0x100, bytes([NAK]), 4, [1])
    reply("write_ack", 0, False, 0x200, bytes([ACK]), 2, [1])
    reply("write_nak", 3, False, 0x200, bytes([NAK]), 2, [1])
    # Builders: area pick, area, address, count, data.
    seeds["build_read_model0"] = bytes([0, 1, 0, 0]) + le32(0x100) + bytes([4])
    seeds["build_write_model3"] = bytes([3, 1, 0, 0]) + le32(0x200) + bytes([2, 0xAB, 0xCD])
    seeds["hex_digits"] = bytes([0, 2]) + b"12345678aF" + bytes([4]) + le32(0x8FF7) + bytes([6])
    return seeds


def graphic_codec():
    seeds = {}

    def reply(name, variable, announced_pick, reply_bytes, pieces):
        seeds[name] = (bytes([0, 1 if variable else 0, announced_pick]) + le16(len(reply_bytes)) +
                       reply_bytes + b"".join(le16(p - 1) for p in pieces))

    reply("offline", False, 0, OFFLINE_REPLY, [9])
    reply("offline_refused_pieces", False, 0, OFFLINE_REFUSED, [1, 2, 6])
    reply("type", False, 1, TYPE_REPLY, [10])
    reply("bad_length", False, 0, BAD_LENGTH_REPLY, [9])
    reply("project_variable", True, 5, PROJECT_REPLY, [3, 20])
    # Builders: request (command, subcommand, continuation, group), password,
    # data request (command, subcommand, field, sequence, continuation, count).
    seeds["build_offline"] = bytes([1, 0, 1, 1, 0]) + le16(0)
    seeds["build_group_read"] = bytes([1, 0, 33, 1, 1]) + le16(0x0102)
    seeds["build_password"] = bytes([1, 1, 3]) + b"abc"
    seeds["build_area_write"] = bytes([1, 2, 17, 3]) + le16(0) + bytes([0, 2, 0]) + le16(2) + \
        bytes([0x12, 0x34])
    return seeds


def classic_exports():
    # panel, then per call: op, handle pick, area pick(, area), address pick,
    # address, count pick, count, pointer flag, data; then what the panel
    # does for each request: refusal pick, memory, spoil, pieces, gap.
    healthy = bytes([0, 0, 0, 0])
    read = bytes([9, 0, 0, 0, 3]) + le16(0x100) + bytes([100, 3, 0])
    write = bytes([0, 0, 0, 3]) + le16(0x200) + bytes([100, 1, 0, 0xAB, 0xCD])
    return {
        "read_model0": bytes([0]) + read + bytes([0]) + bytes([0x12, 0x34, 0x56, 0x78]) + healthy,
        "read_model3": bytes([3]) + read + bytes([0]) + bytes([0x12, 0x34, 0x56, 0x78]) + healthy,
        "write_model0": bytes([0]) + write + bytes([0]) + healthy,
        "write_model3_preamble": bytes([3, 0, 0, 0, 0, 100, 3, 0]) + bytes(4) + healthy * 3,
        "read_nak": bytes([1]) + read + bytes([0xF0]) + healthy * 3,
    }


def graphic_exports():
    # per call: op, then the call's own choices; then per request the
    # terminal's: reply contents, status pick, field spoil, byte spoil,
    # pieces, gap.
    quiet = bytes([0, 0, 0, 0, 0])
    return {
        "offline": bytes([0, 0, 0, 0, 0, 0]) + quiet,
        "type": bytes([0, 9, 0, 0, 0, 0, 0xC3]) + quiet,
        "project": bytes([0, 8, 0, 0, 0, 0]) + le32(1) + le32(2) + bytes([5]) + b"hello" + quiet,
        "read_one_group": bytes([6, 1, 0, 0]) + le16(0x0102) + bytes([0, 0, 0]) +
                          bytes([1]) + le16(4) + bytes([7, 0]) + quiet,
        "area_write": bytes([12, 0, 0, 0, 0, 1, 0, 0, 0, 0]) + le16(0) + bytes([100]) + le16(1099) +
                      bytes([0, 9]) + quiet,
    }


def backup_reader():
    # Small backups of both families as the tool writes them: a ZIP with manifest.json and
    # one stored member per group, area or range.
    import hashlib
    import io
    import json
    import zipfile

    def archive(manifest, members):
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w") as z:
            z.writestr(zipfile.ZipInfo("manifest.json", (2024, 5, 1, 12, 0, 0)),
                       json.dumps(manifest), zipfile.ZIP_DEFLATED)
            for name, data in members:
                z.writestr(zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0)), data)
        return out.getvalue()

    def entry(name, data):
        return {"member": name, "length": len(data), "sha256": hashlib.sha256(data).hexdigest()}

    head = {"format": "quiblink-backup", "format_version": 1, "created": "2024-05-01T12:00:00Z",
            "tool": {"name": "quiblink", "version": "2.1.1"}, "library_version": "2.1.1"}
    groups = [(1, b"PLANT\n" + bytes(range(40))), (7, bytes([0xFF] * 30))]
    area = bytes(range(12))
    graphic = dict(head, family="graphic",
                   connection={"port": "COM1", "baud": 38400, "model": 0},
                   terminal={"type": 42, "os_info": {"entry_00": 2048, "entry_80": 0},
                             "mem_data": {"value1": 1, "value2": -2, "value3": 2},
                             "project": {"name": "PLANT \u00e9", "value1": 76, "value2": 2}},
                   groups=[], areas=[dict(area=3, restore=True,
                                          **entry("areas/area-003.bin", area))])
    offset = 0
    members = []
    for number, data in groups:
        name = "groups/group-%05u.bin" % number
        graphic["groups"].append(dict(group=number, offset=offset, **entry(name, data)))
        members.append((name, data))
        offset += len(data)
    members.append(("areas/area-003.bin", area))
    ranges = [(0, 0x100, bytes(range(16))), (0, 3940, bytes(range(40)))]
    classic = dict(head, family="classic", connection={"port": "COM2", "baud": 9600, "model": 3},
                   ranges=[])
    classic_members = []
    for area_number, address, data in ranges:
        name = "ranges/range-%u-%08X.bin" % (area_number, address)
        classic["ranges"].append(dict(area=area_number, address=address, restore=True,
                                      **entry(name, data)))
        classic_members.append((name, data))
    return {
        "graphic": archive(graphic, members),
        "classic": archive(classic, classic_members),
        "empty_graphic": archive(dict(graphic, groups=[], areas=[]), []),
    }


def main():
    for target, seeds in (("backup_reader", backup_reader()),("classic_codec", classic_codec()), ("graphic_codec", graphic_codec()),
                          ("classic_exports", classic_exports()),
                          ("graphic_exports", graphic_exports())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, "seed_" + name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
