"""Arguments are checked before any call: ctypes would cut a number to the export's width."""

from __future__ import annotations

import array

import pytest

import quiblink

# A channel that was never opened: an argument that passes its checks reaches the closed
# channel's ValueError, one that fails them never gets that far.
graphic = quiblink.GraphicTerminal.__new__(quiblink.GraphicTerminal)
classic = quiblink.ClassicPanel.__new__(quiblink.ClassicPanel)
classic.port, classic.model = 0, 0

REFUSED = [
    # (what, call, words of the refusal)
    ("port above the 16-bit width", lambda: quiblink.GraphicTerminal(65536), "port must be 0..9"),
    ("port above COM10", lambda: quiblink.ClassicPanel(10), "port must be 0..9"),
    ("negative port", lambda: quiblink.ClassicPanel(-1), "port must be 0..9"),
    ("baud above 16 bits", lambda: quiblink.GraphicTerminal(0, baud=115200), "baud must be 1..65535"),
    ("baud 0", lambda: quiblink.GraphicTerminal(0, baud=0), "baud must be 1..65535"),
    ("model above 16 bits", lambda: quiblink.ClassicPanel(0, model=65536), "model must be 0..65535"),
    ("empty device name", lambda: quiblink.ClassicPanel(""), "port name must be 1..255 bytes"),
    ("device name with NUL", lambda: quiblink.ClassicPanel("/dev/x\0y"), "without NUL"),
    ("area 257, which wraps to 1", lambda: graphic.write_area(257, b"x", group=2), "area must be 1 or 3..6"),
    ("area 2", lambda: graphic.write_area(2, b"x"), "area must be 1 or 3..6"),
    ("group that wraps to 2", lambda: graphic.write_area(1, b"x", group=65538), "group must be 0..65535"),
    ("area 1 without a group", lambda: graphic.write_area(1, b"x"), "group is required with area 1"),
    ("empty write", lambda: graphic.write_area(3, b""), "data must hold 1..4294967295 bytes"),
    ("read of area 7", lambda: graphic.read_area(7), "area must be 3..6 or 240..242"),
    ("read of area 259 (3 + 256)", lambda: graphic.read_area(259), "area must be 3..6 or 240..242"),
    ("group read above 16 bits", lambda: graphic.read_group(65536), "group must be 0..65535"),
    ("capacity 0", lambda: graphic.read_all(capacity=0), "capacity must be 1..4294967295"),
    ("capacity above 32 bits", lambda: graphic.read_all(capacity=2**32), "capacity must be"),
    ("baud code 0x181, which wraps to 0x81", lambda: graphic.change_baud(0x181), "code must be 0x81..0x83"),
    ("password of 256 bytes", lambda: graphic.check_password(b"x" * 256), "password must hold 0..255"),
    ("password outside Latin-1", lambda: graphic.check_password("\u20ac"), "Latin-1"),
    ("install subcommand 'c'", lambda: graphic.install_os("c", 0, b"x"), "subcommand must be"),
    ("install option 0x40", lambda: graphic.install_os("a", 0x40, b"x"), "option must be 0x00 or 0x80"),
    ("address that wraps to 0x100", lambda: classic.write(2**32 + 0x100, b"x"), "address must be"),
    ("address below 32 bits", lambda: classic.read(-(2**31) - 1, 1), "address must be"),
    ("classic count 0", lambda: classic.read(0, 0), "count must be 1..65535"),
    ("classic count above 16 bits", lambda: classic.read(0, 65536), "count must be 1..65535"),
    ("classic read area 4", lambda: classic.read(0, 1, area=4), "area must be 0..3"),
    ("classic write area 1", lambda: classic.write(0, b"x", area=1), "area must be 0"),
    ("classic write above 16 bits", lambda: classic.write(0, bytes(65536)), "data must hold 1..65535"),
    ("backup of area 7", lambda: graphic.backup(areas=(7,)), "areas must be 3..6 or 240..242"),
    ("backup naming an area twice", lambda: graphic.backup(areas=(3, 3)), "each area once"),
    ("grouped read expecting 2**32", lambda: graphic.read_all_groups(expected=2**32), "expected must be"),
    ("classic backup above 16 bits", lambda: classic.backup([(0, 65536)]), "count must be 1..65535"),
]


@pytest.mark.parametrize("what, call, words", REFUSED, ids=[r[0] for r in REFUSED])
def test_an_argument_out_of_range_is_refused_naming_it(what, call, words):
    with pytest.raises(quiblink.ArgumentError) as caught:
        call()
    assert isinstance(caught.value, ValueError)
    assert words in str(caught.value) and words in caught.value.detail


def test_a_port_number_out_of_range_is_also_a_port_error():
    with pytest.raises(quiblink.PortError) as caught:
        quiblink.GraphicTerminal(65536)
    assert (caught.value.code, caught.value.name) == (-33, "RC_BAD_PORT")


WRONG_TYPES = [
    # (what, call, the argument named)
    ("int as data, once six zero bytes", lambda: graphic.write_area(4, 6), "data"),
    ("str as data", lambda: graphic.write_area(3, "abc"), "data"),
    ("list as data", lambda: classic.write(0, [1, 2]), "data"),
    ("str as area", lambda: graphic.read_area("3"), "area"),
    ("float as address", lambda: classic.read(1.5, 1), "address"),
    ("bool as group", lambda: graphic.read_group(True), "group"),
    ("None as port", lambda: quiblink.ClassicPanel(None), "port"),
    ("progress that is no callable", lambda: graphic.read_all(progress=5), "progress"),
    ("int as password", lambda: graphic.check_password(1234), "password"),
    ("str as backup area", lambda: graphic.backup(areas=("3",)), "areas"),
    ("restore of a file name", lambda: graphic.restore("plant.qbk"), "backup"),
    ("range of one number", lambda: classic.backup([(5,)]), "each range"),
]


@pytest.mark.parametrize("what, call, name", WRONG_TYPES, ids=[r[0] for r in WRONG_TYPES])
def test_a_wrong_type_is_a_type_error_naming_the_argument(what, call, name):
    with pytest.raises(TypeError, match=": %s must be" % name):
        call()


ACCEPTED = [
    ("bytearray", lambda: graphic.write_area(3, bytearray(b"ab"))),
    ("memoryview", lambda: graphic.write_area(1, memoryview(b"ab"), group=65535)),
    ("array of words", lambda: classic.write(-(2**31), array.array("H", [1, 2]))),
    ("edge of every range", lambda: graphic.read_area(242, capacity=2**32 - 1)),
    ("install with bytes subcommand", lambda: graphic.install_os(b"b", 0x80, b"x")),
    ("empty password", lambda: graphic.check_password("")),
    ("backup of two areas", lambda: graphic.backup(areas=(3, 240))),
    ("classic backup of two ranges", lambda: classic.backup([(0x100, 64), (1, 0, 2)])),
]


@pytest.mark.parametrize("what, call", ACCEPTED, ids=[r[0] for r in ACCEPTED])
def test_arguments_in_range_pass_to_the_channel(what, call):
    with pytest.raises(ValueError, match="channel is closed"):
        call()
