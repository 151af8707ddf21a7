"""Backups of terminals as one checked file, the same file the ``quiblink`` tool writes and
reads (``docs/backup-format.md``): a ZIP archive with ``manifest.json`` and one member per
group, plain area or classic memory range, each with its SHA-256 in the manifest.

    with quiblink.GraphicTerminal("/dev/ttyUSB0") as terminal:
        terminal.backup(areas=(3,)).save("plant.qbk")
    ...
    backup = quiblink.Backup.load("plant.qbk")      # checks the whole file
    with quiblink.GraphicTerminal("/dev/ttyUSB0") as terminal:
        terminal.restore(backup)

Only the standard library is used here (zipfile, hashlib, json); the terminal's side goes
through the package's terminals.
"""

from __future__ import annotations

import datetime
import hashlib
import io
import json
import os
import tempfile
import zipfile
from typing import Any, Callable, Iterable, NamedTuple, Optional, Sequence

from . import _arguments
from .errors import refused

FORMAT_NAME = "quiblink-backup"
FORMAT_VERSION = 1
MANIFEST = "manifest.json"
# One group, area or range holds at most what one block read reports (a signed 32-bit total).
MAX_MEMBER = 0x7FFFFFFF
_MAX_MANIFEST = 4 << 20
_READABLE_AREAS = (3, 4, 5, 6, 240, 241, 242)
_RESTORED_AREAS = (3, 4, 5, 6)
_MODEL3_GAP = 3960
_READ_BACK_SPARE = 64 * 1024

Progress = Callable[[int, int], None]


class BackupError(ValueError):
    """A file that is not a backup, or is damaged; the message names the problem."""


class WrongTerminal(BackupError):
    """The terminal is not of the backup's type (classic: model code); nothing was written."""


class RestoreFailed(Exception):
    """A restore that stopped: ``written`` and ``not_written`` name the parts, ``cause`` is the
    library's failure when one caused it."""

    def __init__(self, message: str, written: Sequence[str] = (),
                 not_written: Sequence[str] = (), cause: Optional[BaseException] = None) -> None:
        self.written = list(written)
        self.not_written = list(not_written)
        self.cause = cause
        super().__init__(message)

    def __reduce__(self) -> tuple[Any, ...]:
        # Crosses to another process (a ProcessPoolExecutor) with what was written.
        return (type(self), (self.args[0], self.written, self.not_written, self.cause))


class Range(NamedTuple):
    """A run of classic panel memory as ``QUIB_Read`` reads it."""

    area: int
    address: int
    data: bytes


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def _group_member(number: int) -> str:
    return "groups/group-%05u.bin" % number


def _area_member(number: int) -> str:
    return "areas/area-%03u.bin" % number


def _range_member(item: Range) -> str:
    return "ranges/range-%u-%08X.bin" % (item.area, item.address & 0xFFFFFFFF)


# -- classic addressing ------------------------------------------------------------------------

_AREA_OFFSETS = {1: (0, 0x10000, 0x12000, 0x12800), 0: (0, 0x20000, 0x22000, 0x2232A)}
_OTHER_OFFSETS = (0, 0x20000, 0x22000, 0x22800)


def _describe_range(item: Range) -> str:
    return "area %d, address 0x%X, %d bytes" % (item.area, item.address & 0xFFFFFFFF,
                                                 len(item.data))


def check_ranges(model: int, ranges: Sequence[Range]) -> None:
    """The model code's addressing rules; raises BackupError naming the range and the rule."""
    for item in ranges:
        def refuse(why: str) -> None:
            raise BackupError("range %s: %s" % (_describe_range(item), why))
        count = len(item.data)
        if not 0 < count <= 0xFFFF:
            refuse("a range holds 1 to 65535 bytes")
        if item.address < 0:
            refuse("addresses start at 0")
        end = item.address + count
        if model == 3:
            if item.area != 0:
                refuse("model 3 has no areas: use area 0")
            if count % 2:
                refuse("model 3 moves whole words: use an even count")
            if item.address < _MODEL3_GAP < end and (_MODEL3_GAP - item.address) % 2:
                refuse("model 3 cuts at address 3960: start at an even distance from it")
            if 0x8080 + end + (8 if end > _MODEL3_GAP else 0) > 0x10000:
                refuse("model 3 addresses logical 0 to 32631 only")
            continue
        if item.area > 3:
            refuse("classic areas are 0-3")
        if _AREA_OFFSETS.get(model, _OTHER_OFFSETS)[item.area] + end > 0x1000000:
            refuse("beyond the memory the panel addresses")
    ordered = sorted(ranges, key=lambda r: (r.area, r.address))
    for before, item in zip(ordered, ordered[1:]):
        if item.area == before.area and item.address < before.address + len(before.data):
            raise BackupError("range %s: overlaps range %s" % (_describe_range(item),
                                                                _describe_range(before)))


def range_restorable(model: int, item: Range) -> bool:
    """Panels write area 0 only; model 3 has no areas."""
    return model == 3 or item.area == 0


# -- the backup --------------------------------------------------------------------------------


class Backup:
    """One terminal's backup.

    ``groups`` maps each group number to its bytes, in the order the terminal sent them;
    ``areas`` each plain area read with it (3-6 are restored, 240-242 only kept); ``ranges``
    the memory ranges of a classic panel. ``manifest`` holds the rest: format, origin, the
    terminal's type, operating-system information, memory data and project information, and,
    once loaded or saved, the table of every member with its length and SHA-256.
    """

    def __init__(self, family: str, manifest: dict[str, Any],
                 groups: Optional[dict[int, bytes]] = None,
                 areas: Optional[dict[int, bytes]] = None,
                 ranges: Optional[list[Range]] = None) -> None:
        self.family = family
        self.manifest = manifest
        self.groups: dict[int, bytes] = dict(groups or {})
        self.areas: dict[int, bytes] = dict(areas or {})
        self.ranges: list[Range] = list(ranges or [])

    def __repr__(self) -> str:
        if self.family == "classic":
            return "<Backup classic, %d ranges>" % len(self.ranges)
        return "<Backup graphic, groups %s>" % ", ".join(map(str, self.groups))

    @property
    def model(self) -> int:
        return int(self.manifest["connection"]["model"])

    # -- writing -------------------------------------------------------------------------

    def _tables(self) -> dict[str, Any]:
        def entry(member: str, data: bytes) -> dict[str, Any]:
            return {"member": member, "length": len(data), "sha256": sha256(data)}
        if self.family == "classic":
            return {"ranges": [dict({"area": r.area, "address": r.address},
                                    **entry(_range_member(r), r.data),
                                    restore=range_restorable(self.model, r))
                               for r in self.ranges]}
        groups, offset = [], 0
        for number, data in self.groups.items():
            groups.append(dict({"group": number, "offset": offset},
                               **entry(_group_member(number), data)))
            offset += len(data)
        areas = [dict({"area": number}, **entry(_area_member(number), data),
                      restore=number in _RESTORED_AREAS)
                 for number, data in self.areas.items()]
        return {"groups": groups, "areas": areas}

    def to_bytes(self) -> bytes:
        """The archive's bytes. Raises BackupError for what a restore would refuse."""
        manifest = {k: v for k, v in self.manifest.items()
                    if k not in ("groups", "areas", "ranges")}
        manifest.update(self._tables())
        members = [(MANIFEST, (json.dumps(manifest, indent=2) + "\n").encode(), True)]
        if self.family == "classic":
            members += [(_range_member(r), r.data, False) for r in self.ranges]
        else:
            members += [(_group_member(n), d, False) for n, d in self.groups.items()]
            members += [(_area_member(n), d, False) for n, d in self.areas.items()]
        out = io.BytesIO()
        stamp = _stamp(str(self.manifest.get("created", "")))
        with zipfile.ZipFile(out, "w") as archive:
            for name, data, deflate in members:
                info = zipfile.ZipInfo(name, stamp)
                info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
                info.external_attr = 0o644 << 16
                archive.writestr(info, data)
        data = out.getvalue()
        Backup.from_bytes(data)  # the file keeps every rule, or it is not written
        self.manifest = manifest
        return data

    def save(self, path: str) -> None:
        """Writes the backup atomically: a temporary in the same folder, flushed to the disk
        and renamed over ``path``, which keeps what it held when anything fails."""
        data = self.to_bytes()
        folder = os.path.dirname(os.path.abspath(path))
        handle, temp = tempfile.mkstemp(prefix=".quiblink-", dir=folder)
        try:
            with os.fdopen(handle, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            mode = os.stat(path).st_mode & 0o7777 if os.path.exists(path) else 0o666 & ~_umask()
            os.chmod(temp, mode)
            os.replace(temp, path)
        except BaseException:
            if os.path.exists(temp):
                os.unlink(temp)
            raise

    # -- reading -------------------------------------------------------------------------

    @classmethod
    def load(cls, path: str) -> "Backup":
        """Reads and checks a backup file: format and version, every member's presence,
        length and SHA-256, the family's rules. Raises BackupError naming the problem."""
        with open(path, "rb") as f:
            return cls.from_bytes(f.read())

    @classmethod
    def from_bytes(cls, data: bytes) -> "Backup":
        try:
            archive = zipfile.ZipFile(io.BytesIO(data))
        except (zipfile.BadZipFile, ValueError, EOFError) as error:
            raise BackupError("not a backup file: not a whole ZIP archive (%s)" % error) from None
        with archive:
            return _read(archive)


def _umask() -> int:
    # Setting the mask to read it leaves it 0 for a moment in every thread of the process: read
    # it where the system shows it.
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except OSError:
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _stamp(created: str) -> tuple[int, int, int, int, int, int]:
    try:
        moment = datetime.datetime.strptime(created, "%Y-%m-%dT%H:%M:%SZ")
    except ValueError:
        moment = datetime.datetime.utcnow()
    return (moment.year, moment.month, moment.day, moment.hour, moment.minute, moment.second)


def _check_path(name: str) -> None:
    parts = name.split("/")
    safe = (0 < len(name) <= 255 and not name.startswith("/")
            and all(0x20 <= ord(c) < 0x7F and c not in "\\:" for c in name)
            and all(p not in (".", "..") for p in parts) and all(parts[:-1]))
    if not safe:
        raise BackupError('member path "%s" leaves the archive: refused' % name)


def _field(obj: Any, path: str, key: str) -> Any:
    if not isinstance(obj, dict):
        raise BackupError("manifest: %s is not an object" % (path or "the manifest"))
    if key not in obj:
        raise BackupError("manifest: %s is missing" % (path + "." + key if path else key))
    return obj[key]


def _integer(obj: Any, path: str, key: str, low: int, high: int) -> int:
    value = _field(obj, path, key)
    name = path + "." + key if path else key
    if isinstance(value, bool) or not isinstance(value, int):
        raise BackupError("manifest: %s is not a whole number" % name)
    if not low <= value <= high:
        raise BackupError("manifest: %s %d is out of range" % (name, value))
    return value


def _text(obj: Any, path: str, key: str) -> str:
    value = _field(obj, path, key)
    if not isinstance(value, str):
        raise BackupError("manifest: %s is not text" % (path + "." + key if path else key))
    return value


def _list(manifest: dict[str, Any], key: str) -> list[Any]:
    value = _field(manifest, "", key)
    if not isinstance(value, list):
        raise BackupError("manifest: %s is not a list" % key)
    return value


def _check_header(manifest: Any) -> str:
    if not isinstance(manifest, dict):
        raise BackupError("manifest: not a JSON object")
    if manifest.get("format") != FORMAT_NAME:
        raise BackupError('manifest: not a quiblink backup (format is not "quiblink-backup")')
    version = _integer(manifest, "", "format_version", 0, 0x7FFFFFFF)
    if version != FORMAT_VERSION:
        raise BackupError("format version %d is not known here: this package reads version %d"
                          % (version, FORMAT_VERSION))
    family = _text(manifest, "", "family")
    if family not in ("graphic", "classic"):
        raise BackupError('manifest: family "%s" is neither graphic nor classic' % family)
    _text(manifest, "", "created")
    for key in ("name", "version"):
        _text(_field(manifest, "", "tool"), "tool", key)
    _text(manifest, "", "library_version")
    connection = _field(manifest, "", "connection")
    _text(connection, "connection", "port")
    _integer(connection, "connection", "baud", 0, 0xFFFFFFFF)
    _integer(connection, "connection", "model", 0, 0xFFFF)
    if family == "graphic":
        terminal = _field(manifest, "", "terminal")
        _integer(terminal, "terminal", "type", 0, 0xFF)
        for key in ("entry_00", "entry_80"):
            _integer(_field(terminal, "terminal", "os_info"), "terminal.os_info", key, 0,
                     0xFFFFFFFF)
        for key in ("value1", "value2", "value3"):
            _integer(_field(terminal, "terminal", "mem_data"), "terminal.mem_data", key, -32768,
                     32767)
        project = _field(terminal, "terminal", "project")
        name = _text(project, "terminal.project", "name")
        if any(ord(c) > 0xFF for c in name) or len(name) > 240:
            raise BackupError("manifest: terminal.project.name is not 0-240 bytes as Latin-1")
        for key in ("value1", "value2"):
            _integer(project, "terminal.project", key, 0, 0xFFFFFFFF)
    return family


def _entries(manifest: dict[str, Any], family: str) -> list[Any]:
    """(kind, number or Range key, expected member, length, sha256) per member, in order."""
    out: list[Any] = []
    if family == "graphic":
        offset = 0
        for i, item in enumerate(_list(manifest, "groups")):
            path = "groups[%d]" % i
            number = _integer(item, path, "group", 1, 0xFFFF)
            at = _integer(item, path, "offset", 0, MAX_MEMBER)
            if at != offset:
                raise BackupError("manifest: %s.offset %d is not where the group before it ends "
                                  "(%d)" % (path, at, offset))
            out.append(("group", number, _group_member(number), _member_entry(item, path)))
            offset += out[-1][3][1]
        for i, item in enumerate(_list(manifest, "areas")):
            path = "areas[%d]" % i
            number = _integer(item, path, "area", 0, 0xFF)
            out.append(("area", number, _area_member(number), _member_entry(item, path)))
    else:
        for i, item in enumerate(_list(manifest, "ranges")):
            path = "ranges[%d]" % i
            key = (_integer(item, path, "area", 0, 0xFFFF),
                   _integer(item, path, "address", -0x80000000, 0x7FFFFFFF))
            member = _range_member(Range(key[0], key[1], b""))
            out.append(("range", key, member, _member_entry(item, path)))
    return out


def _member_entry(item: Any, path: str) -> tuple[str, int, str]:
    member = _text(item, path, "member")
    length = _integer(item, path, "length", 0, 1 << 62)
    if length > MAX_MEMBER:
        raise BackupError("manifest: %s.length %d is more than one transfer carries (%d bytes)"
                          % (path, length, MAX_MEMBER))
    return member, length, _text(item, path, "sha256")


def _check_numbers(entries: list[Any]) -> None:
    seen = set()
    for kind, key, _, _ in entries:
        if kind == "area" and key not in _READABLE_AREAS:
            raise BackupError("area %d does not exist: plain areas are 3-6 and 240-242" % key)
        if (kind, key) in seen:
            what = ("range area %d, address 0x%X" % key) if kind == "range" else "%s %d" % (
                kind, key)
            raise BackupError("%s comes twice" % what)
        seen.add((kind, key))


def _read(archive: zipfile.ZipFile) -> Backup:
    infos = archive.infolist()
    names = set()
    for info in infos:
        _check_path(info.filename)
        if (info.external_attr >> 16) & 0o170000 == 0o120000:
            raise BackupError('member "%s" is a symbolic link: refused' % info.filename)
        if info.filename in names:
            raise BackupError("not a backup file: a member is in the archive twice")
        names.add(info.filename)
    if MANIFEST not in names:
        raise BackupError("not a backup file: the archive has no manifest.json")
    if archive.getinfo(MANIFEST).file_size > _MAX_MANIFEST:
        raise BackupError("manifest.json is too large to be a backup's")
    try:
        manifest = json.loads(_member(archive, MANIFEST, _MAX_MANIFEST).decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError):
        raise BackupError("manifest.json is not valid JSON") from None
    family = _check_header(manifest)
    entries = _entries(manifest, family)
    _check_numbers(entries)
    names.discard(MANIFEST)
    backup = Backup(family, manifest)
    grouped = 0
    for kind, key, expected, (member, length, digest) in entries:
        _check_path(member)
        if member != expected:
            raise BackupError('manifest: member "%s" should be named "%s"' % (member, expected))
        if member not in names:
            raise BackupError("%s: missing from the archive" % member)
        names.discard(member)
        data = _member(archive, member, length)
        if len(data) != length:
            raise BackupError("%s: holds %d bytes, the manifest says %d" % (member, len(data),
                                                                           length))
        if sha256(data) != digest:
            raise BackupError("%s: SHA-256 does not match the manifest: the file is damaged"
                              % member)
        if kind == "group":
            if not data:
                raise BackupError("group %d is empty" % key)
            grouped += len(data)
            backup.groups[key] = data
        elif kind == "area":
            backup.areas[key] = data
        else:
            backup.ranges.append(Range(key[0], key[1], data))
    if names:
        raise BackupError('member "%s" is not in the manifest' % sorted(names)[0])
    if grouped > MAX_MEMBER:
        raise BackupError("the groups hold %d bytes together, more than one read carries"
                          % grouped)
    if family == "classic":
        check_ranges(backup.model, backup.ranges)
    return backup


def _member(archive: zipfile.ZipFile, name: str, limit: int) -> bytes:
    info = archive.getinfo(name)
    if info.file_size > limit:
        raise BackupError("%s: holds %d bytes, more than %d" % (name, info.file_size, limit))
    try:
        with archive.open(info) as f:
            data = f.read(limit + 1)
    except (zipfile.BadZipFile, EOFError, OSError, NotImplementedError) as error:
        raise BackupError("%s: damaged: %s" % (name, error)) from None
    if len(data) > limit:
        raise BackupError("%s: longer than the archive says" % name)
    return data


# -- the terminal's side -----------------------------------------------------------------------


def _origin(tool: str, port: Any, baud: int, model: int) -> dict[str, Any]:
    from ._library import library
    number = int(library().QUIB_Version())
    from . import __version__
    return {
        "format": FORMAT_NAME,
        "format_version": FORMAT_VERSION,
        "created": datetime.datetime.utcnow().strftime("%Y-%m-%dT%H:%M:%SZ"),
        "tool": {"name": tool, "version": __version__},
        "library_version": "%d.%d.%d" % (number // 100, number // 10 % 10, number % 10),
        "connection": {"port": str(port), "baud": baud, "model": model},
    }


def read_graphic(terminal: Any, areas: Iterable[int], progress: Optional[Progress],
                 capacity: int) -> Backup:
    """The four queries, every group with its number (one grouped read), then each area."""
    areas = [_arguments.one_of("backup", "areas", area, _READABLE_AREAS, "3..6 or 240..242")
             for area in areas]
    for area in areas:
        if areas.count(area) > 1:
            raise refused("backup", "areas must name each area once, not %d twice" % area)
    kind = terminal.terminal_type()
    os_info = terminal.os_info()
    memory = terminal.memory_data()
    project = terminal.project_info()
    manifest = _origin("quiblink-python", terminal.port, terminal.baud, terminal.model)
    manifest["family"] = "graphic"
    manifest["terminal"] = {
        "type": kind,
        "os_info": {"entry_00": os_info.first, "entry_80": os_info.second},
        "mem_data": {"value1": memory.value1, "value2": memory.value2, "value3": memory.value3},
        "project": {"name": project.name.decode("latin-1"), "value1": project.value1,
                    "value2": project.value2},
    }
    expected = project.value1 if project.value1 <= capacity else 0
    groups = {}
    for number, data in terminal.read_all_groups(progress, capacity, expected):
        if number in groups:
            raise BackupError("the terminal sent group %d twice, apart" % number)
        groups[number] = data
    read = {area: terminal.read_area(area, progress, capacity) for area in areas}
    return Backup("graphic", manifest, groups, read)


def _check_backup(backup: Any) -> None:
    if not isinstance(backup, Backup):
        raise TypeError("restore: backup must be a quiblink.Backup (Backup.load(path)), not %s"
                        % type(backup).__name__)


def _stop(at: str, error: BaseException, done: list[str], left: list[str]) -> RestoreFailed:
    return RestoreFailed("restore stopped at %s: %s; written: %s; not written: %s"
                         % (at, error, ", ".join(done) or "none", ", ".join(left) or "none"),
                         done, left, error)


def restore_graphic(terminal: Any, backup: Backup, clean: bool, verify: bool,
                    progress: Optional[Progress], force: bool, groups_only: bool,
                    start: bool) -> None:
    from .errors import QuiblinkError
    _check_backup(backup)
    if backup.family != "graphic":
        raise WrongTerminal("the backup is of a classic panel: restore it onto a ClassicPanel")
    want = backup.manifest["terminal"]["type"]
    kind = terminal.terminal_type()
    if kind != want and not force:
        raise WrongTerminal("the backup is of terminal type %d (0x%02X), this terminal is type "
                            "%d (0x%02X): refused, nothing was written (force=True restores it)"
                            % (want, want, kind, kind))
    terminal.offline()
    if clean:
        terminal.delete_user_data()
    areas = {} if groups_only else {n: d for n, d in backup.areas.items()
                                    if n in _RESTORED_AREAS and d}
    parts = [("group %d" % n, 1, n, d) for n, d in backup.groups.items()]
    parts += [("area %d" % n, n, 0, d) for n, d in areas.items()]
    done: list[str] = []
    left = [name for name, _, _, _ in parts]
    for name, area, group, data in parts:
        try:
            terminal.write_area(area, data, group=group, progress=progress)
        except QuiblinkError as error:
            raise _stop(name, error, done, left) from error
        done.append(left.pop(0))
    if verify:
        for name, area, group, data in parts:
            capacity = len(data) + _READ_BACK_SPARE
            back = (terminal.read_group(group, capacity=capacity) if area == 1
                    else terminal.read_area(area, capacity=capacity))
            if sha256(back) != sha256(data):
                raise RestoreFailed("%s reads back %d bytes that differ from the backup" % (
                    name, len(back)), done, [])
    if start:
        terminal.start()


def read_classic(panel: Any, ranges: Iterable[Sequence[int]], progress: Optional[Progress]) -> \
        Backup:
    wanted = []
    for item in ranges:
        if not isinstance(item, (tuple, list)) or len(item) not in (2, 3):
            raise TypeError("backup: each range must be (address, count) or (area, address, "
                            "count), not %r" % (item,))
        area, address, count = (0, *item) if len(item) == 2 else tuple(item)
        area = _arguments.number("backup", "area", area, 0, 0xFFFF)
        address = _arguments.number("backup", "address", address, -(2**31), 2**31 - 1)
        count = _arguments.number("backup", "count", count, 1, 0xFFFF)
        wanted.append(Range(area, address, bytes(count)))
    check_ranges(panel.model, wanted)
    manifest = _origin("quiblink-python", panel.port, 9600, panel.model)
    manifest["family"] = "classic"
    read = []
    for chosen in wanted:
        read.append(Range(chosen.area, chosen.address,
                          panel.read(chosen.address, len(chosen.data), area=chosen.area)))
        if progress:
            progress(len(read), len(wanted))
    return Backup("classic", manifest, ranges=read)


def restore_classic(panel: Any, backup: Backup, verify: bool, progress: Optional[Progress],
                    force: bool) -> None:
    from .errors import QuiblinkError
    _check_backup(backup)
    if backup.family != "classic":
        raise WrongTerminal("the backup is of a graphic terminal: restore it onto a "
                            "GraphicTerminal")
    if backup.model != panel.model and not force:
        raise WrongTerminal("the backup is of a panel of model code %d, the channel is opened "
                            "with model code %d: refused, nothing was written (force=True "
                            "restores it)" % (backup.model, panel.model))
    check_ranges(panel.model, backup.ranges)
    chosen = [r for r in backup.ranges if range_restorable(panel.model, r)]
    done: list[str] = []
    left = [_describe_range(r) for r in chosen]
    for item in chosen:
        try:
            panel.write(item.address, item.data)
        except QuiblinkError as error:
            raise _stop("range " + left[0], error, done, left) from error
        done.append(left.pop(0))
        if verify and panel.read(item.address, len(item.data)) != item.data:
            raise RestoreFailed("range %s reads back other bytes than the backup holds"
                                % _describe_range(item), done, left)
        if progress:
            progress(len(done), len(chosen))
