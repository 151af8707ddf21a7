"""What a caller's type checker sees of the package: mypy --strict checks this file (python.typing).

A context manager hands back its own class, the queries their named tuples.
"""

from typing import assert_type

import quiblink


def backup(port: str) -> bytes:
    with quiblink.GraphicTerminal(port, baud=38400) as terminal:
        assert_type(terminal, quiblink.GraphicTerminal)
        assert_type(terminal.project_info(), quiblink.ProjectInfo)
        return terminal.read_all(progress=lambda done, total: None)


def peek(port: int) -> bytes:
    with quiblink.ClassicPanel(port) as panel:
        assert_type(panel, quiblink.ClassicPanel)
        return panel.read(0x100, 4)
