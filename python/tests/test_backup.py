"""Backups from Python: the round trip, the same file as the tool's both ways, and the files and
terminals a restore refuses."""

from __future__ import annotations

import io
import json
import os
import subprocess
import zipfile

import pytest

import quiblink

GROUPS = {1: bytes((i * 7 + 1) & 0xFF for i in range(2500)),
          2: bytes((i * 5 + 2) & 0xFF for i in range(1300)),
          7: bytes((i * 3 + 7) & 0xFF for i in range(700))}


def fill(sim) -> None:
    for number, data in GROUPS.items():
        sim.ctl("group %d %s" % (number, data.hex()))
    sim.ctl("area 3 " + b"settings".hex())


def held(sim) -> dict:
    listing = sim.ctl("groups")
    numbers = [int(item.split(":")[0]) for item in listing.split()] if listing else []
    return {n: bytes.fromhex(sim.ctl("group %d" % n)) for n in numbers}


def tool(*args: str) -> subprocess.CompletedProcess:
    program = os.environ.get("QUIBLINK_CLI")
    if not program:
        pytest.skip("QUIBLINK_CLI names no quiblink tool")
    return subprocess.run([program, *args], capture_output=True, text=True, timeout=60)


def test_a_backup_restores_every_group_under_its_number(graphic_sim, tmp_path):
    fill(graphic_sim)
    path = str(tmp_path / "plant.qbk")
    seen = []
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        made = terminal.backup(areas=(3, 240), progress=lambda done, total: seen.append(total))
        made.save(path)
        assert list(made.groups) == [1, 2, 7]
        assert seen[0] == 4500, "the project information's size rides along as the total"
        terminal.delete_user_data()
        assert held(graphic_sim) == {}
        loaded = quiblink.Backup.load(path)
        assert loaded.manifest["terminal"]["project"]["name"] == "PYTEST"
        terminal.restore(loaded)
    assert held(graphic_sim) == GROUPS
    assert graphic_sim.ctl("area 3") == b"settings".hex().upper()


def test_the_tools_backup_restores_from_python_and_pythons_with_the_tool(graphic_sim, tmp_path):
    fill(graphic_sim)
    by_tool, by_python = str(tmp_path / "tool.qbk"), str(tmp_path / "python.qbk")
    assert tool("--port", graphic_sim.path, "backup", by_tool).returncode == 0
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        terminal.backup().save(by_python)
        terminal.delete_user_data()
        terminal.restore(quiblink.Backup.load(by_tool), start=False)
    assert held(graphic_sim) == GROUPS

    graphic_sim.ctl("group 2 00")
    restored = tool("--port", graphic_sim.path, "restore", by_python, "--yes")
    assert restored.returncode == 0, restored.stderr
    assert held(graphic_sim) == GROUPS
    shown = tool("inspect", "--json", by_python)
    assert json.loads(shown.stdout)["tool"]["name"] == "quiblink-python"


def test_another_terminal_type_is_refused_and_nothing_is_written(graphic_sim, tmp_path):
    fill(graphic_sim)
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        made = terminal.backup()
        graphic_sim.ctl("set type 9")
        graphic_sim.ctl("group 1 " + b"other".hex())
        with pytest.raises(quiblink.WrongTerminal, match="type 7 .* type 9"):
            terminal.restore(made)
        assert graphic_sim.ctl("group 1") == b"other".hex().upper()
        terminal.restore(made, force=True)
    assert held(graphic_sim) == GROUPS


def rewritten(good: bytes, edit=None, extra=()) -> bytes:
    """The members of a good backup again, with the manifest changed by edit."""
    source = zipfile.ZipFile(io.BytesIO(good))
    manifest = json.loads(source.read("manifest.json"))
    if edit:
        edit(manifest)
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        archive.writestr("manifest.json", json.dumps(manifest))
        for name in source.namelist():
            if name != "manifest.json":
                archive.writestr(name, source.read(name))
        for name, data in extra:
            archive.writestr(name, data)
    return out.getvalue()


def test_bad_files_are_refused_naming_the_problem():
    made = quiblink.Backup("graphic", {
        "format": "quiblink-backup", "format_version": 1, "created": "2024-05-01T12:00:00Z",
        "tool": {"name": "test", "version": "1"}, "library_version": "2.1.1",
        "family": "graphic", "connection": {"port": "COM1", "baud": 38400, "model": 0},
        "terminal": {"type": 7, "os_info": {"entry_00": 0, "entry_80": 0},
                     "mem_data": {"value1": 0, "value2": 0, "value3": 0},
                     "project": {"name": "P\u00e9", "value1": 4500, "value2": 3}}}, GROUPS)
    good = made.to_bytes()
    assert quiblink.Backup.from_bytes(good).groups == GROUPS
    damaged = bytearray(good)
    damaged[good.find(GROUPS[2][:64]) + 10] ^= 1
    cases = [
        (bytes(damaged), "group-00002.bin: damaged"),
        (good[: len(good) // 2], "not a whole ZIP archive"),
        (GROUPS[1], "not a whole ZIP archive"),
        (rewritten(good, lambda m: m.update(format_version=2)), "format version 2"),
        (rewritten(good, lambda m: m["groups"][1].update(group=1)), "group 1 comes twice"),
        (rewritten(good, lambda m: m["groups"][0].update(length=1 << 31)),
         "more than one transfer carries"),
        (rewritten(good, lambda m: m["groups"][0].update(sha256="0" * 64)),
         "SHA-256 does not match"),
        (rewritten(good, extra=[("../evil.sh", "x")]), "leaves the archive"),
        (rewritten(good, extra=[("extra.bin", "x")]), "not in the manifest"),
    ]
    for data, says in cases:
        with pytest.raises(quiblink.BackupError, match=says.replace("(", r"\(")):
            quiblink.Backup.from_bytes(data)


def test_a_classic_panel_comes_back_range_for_range(classic_sim, tmp_path):
    path = str(tmp_path / "panel.qbk")
    before = classic_sim.ctl("peek 0x100 64") + classic_sim.ctl("peek 0x20100 32")
    with quiblink.ClassicPanel(classic_sim.path, model=0) as panel:
        made = panel.backup([(0x100, 64), (1, 0x100, 32)])
        made.save(path)
        panel.write(0x100, bytes(64))
        panel.restore(quiblink.Backup.load(path))
        with pytest.raises(quiblink.BackupError, match="classic areas are 0-3"):
            panel.backup([(4, 0, 2)])
    assert classic_sim.ctl("peek 0x100 64") + classic_sim.ctl("peek 0x20100 32") == before
    restored = tool("--port", classic_sim.path, "classic", "restore", path, "--yes")
    assert restored.returncode == 0, restored.stderr
    assert "kept for reference only" in restored.stdout
