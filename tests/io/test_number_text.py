"""Number text of the text writers and the number grammar of the readers, seen through OBJ files."""

import math
import random
import struct

import pytest

import velk
from helpers import positional


def written_vertex_words(tmp_path, values):
    """The three coordinate words of each "v" line that write_obj produces for values."""
    nodes = [[v, v, v] for v in values]
    path = tmp_path / "n.obj"
    velk.write_obj(nodes, [], str(path))
    lines = path.read_text().split("\n")[2:-1]
    return [line.split(" ")[1] for line in lines]


@pytest.mark.parametrize(
    "value, text",
    [
        (0.0, "0"),
        (-0.0, "-0"),
        (1.0, "1"),
        (0.5, "0.5"),
        (-2.25, "-2.25"),
        (1e-7, "0.0000001"),
        (1e21, "1" + "0" * 21),
        (123456789012345680.0, "123456789012345680"),
        (0.1, "0.1"),
        (1 / 3, "0.3333333333333333"),
        (5e-324, "0." + "0" * 323 + "5"),
        (1.7976931348623157e308, "17976931348623157" + "0" * 292),
        (float("inf"), "inf"),
        (float("-inf"), "-inf"),
        (float("nan"), "NaN"),
        (-float("nan"), "NaN"),
    ],
)
def test_number_text(tmp_path, value, text):
    assert written_vertex_words(tmp_path, [value]) == [text]


def test_random_doubles_are_shortest_and_read_back(tmp_path):
    rng = random.Random(1234)
    values = []
    while len(values) < 3000:
        (x,) = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))
        if math.isfinite(x):
            values.append(x)
    values += [rng.uniform(-1e3, 1e3) for _ in range(500)]
    words = written_vertex_words(tmp_path, values)
    assert words == [positional(v) for v in values]
    nodes, _ = velk.read_obj(str(tmp_path / "n.obj"))
    assert [struct.pack("<d", n[0]) for n in nodes] == [struct.pack("<d", v) for v in values]


def read_vertex(tmp_path, words):
    path = tmp_path / "v.obj"
    path.write_text("v " + words + "\n")
    nodes, cells = velk.read_obj(str(path))
    assert cells == []
    return nodes


@pytest.mark.parametrize(
    "word, value",
    [
        ("+1.5", 1.5),
        ("-2", -2.0),
        ("1e3", 1000.0),
        ("1E-2", 0.01),
        ("2.5e+1", 25.0),
        (".5", 0.5),
        ("5.", 5.0),
        ("007", 7.0),
        ("inf", math.inf),
        ("-Infinity", -math.inf),
        ("+INF", math.inf),
        ("1e400", math.inf),
        ("-1e400", -math.inf),
        ("1e-400", 0.0),
        ("2.4703282292062328e-324", 5e-324),
        ("0.1000000000000000055511151231257827", 0.1),
        # Not in the grammar: read as 0.0 by the OBJ reader.
        ("nan(1)", 0.0),
        ("0x10", 0.0),
        ("1.5x", 0.0),
        ("e5", 0.0),
        ("1e", 0.0),
        ("1e+", 0.0),
        (".", 0.0),
        ("+-1", 0.0),
        ("--1", 0.0),
        ("+", 0.0),
        ("1_000", 0.0),
        ("in", 0.0),
        ("infinit", 0.0),
        ("١", 0.0),
    ],
)
def test_float_grammar(tmp_path, word, value):
    [node] = read_vertex(tmp_path, f"{word} 0 0")
    assert node[0] == value
    assert math.copysign(1, node[0]) == math.copysign(1, value)


@pytest.mark.parametrize("word", ["nan", "NaN", "-nAn", "+NAN"])
def test_nan_words(tmp_path, word):
    [node] = read_vertex(tmp_path, f"{word} 0 0")
    assert math.isnan(node[0])


@pytest.mark.parametrize(
    "line, cells",
    [
        ("f +1 +2 +3", [[0, 1, 2]]),
        ("f 18446744073709551615 1 2", [[2**64 - 2, 0, 1]]),
        ("f 18446744073709551616 1 2 3", [[0, 1, 2]]),  # overflow: the word is dropped
        ("f 0 1 2", [[2**64 - 1, 0, 1]]),  # index 0 wraps and is kept
        ("f 1 2 3 ++4", [[0, 1, 2]]),
        ("f 1 2 3 -4", [[0, 1, 2]]),
        ("f 1 2 3 +", [[0, 1, 2]]),
        ("f 1 2 3 4.0", [[0, 1, 2]]),
        ("f 1 2 3 /4", [[0, 1, 2]]),
        ("f 1/2/3 4/5/6 7/8/9", [[0, 3, 6]]),
        ("f 1 2 3 ４", [[0, 1, 2]]),  # a full-width digit is not a digit
    ],
)
def test_index_grammar(tmp_path, line, cells):
    path = tmp_path / "f.obj"
    path.write_text(line + "\n")
    assert velk.read_obj(str(path)) == ([], cells)
