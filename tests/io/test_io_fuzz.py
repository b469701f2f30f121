"""Seeded fuzzing of the readers: truncated, corrupted and random files give a mesh or one of
the specified errors, never a crash; binary STL results match an independent decoding."""

import random
import re
import struct

import pytest

import velk

STL_ERRORS = re.compile(
    r"🔴 IO error: (failed to fill whole buffer|Too many triangles: \d+|"
    r"stream did not contain valid UTF-8|"
    r"file ended inside a facet: [12] of its 3 corners read, the last on line \d+)\Z")
OBJ_ERRORS = re.compile(r"🔴 IO error: (stream did not contain valid UTF-8|"
                        r"face on line \d+ names vertex \d+, which the file does not define)\Z")


def seed_files(tmp_path, rng):
    nodes = [[rng.choice([0.0, -0.0, 1.0, 0.5, rng.uniform(-9, 9)]) for _ in range(3)] for _ in range(9)]
    cells = [[rng.randrange(9) for _ in range(3)] for _ in range(8)]
    out = []
    for name, write in (
        ("a.stl", lambda p: velk.write_stl(nodes, cells, p, "ascii")),
        ("b.stl", lambda p: velk.write_stl(nodes, cells, p)),
        ("c.obj", lambda p: velk.write_obj(nodes, cells, p)),
    ):
        path = tmp_path / name
        write(str(path))
        out.append(path.read_bytes())
    quad = b"v 1 2 3\r\nv 4 5 6\nvt 0 0\nf 1/1 2//3 3 4\nf 1 2 3\n# end \xc3\xa9\n"
    return out + [quad]


def mutate(data, rng):
    kind = rng.randrange(5)
    data = bytearray(data)
    if kind == 0 and data:  # truncate
        return bytes(data[: rng.randrange(len(data))])
    if kind == 1:  # flip bytes
        for _ in range(rng.randint(1, 8)):
            if data:
                data[rng.randrange(len(data))] = rng.randrange(256)
        return bytes(data)
    if kind == 2:  # splice in bytes that matter to the grammars
        piece = rng.choice([b"\n", b"\r", b" ", b"/", b"e", b"-", b"+", b".", b"nan", b"\xff",
                            b"\xe2\x80\x83", b"vertex", b"facet normal", b"solid", b"f ", b"v "])
        at = rng.randrange(len(data) + 1)
        return bytes(data[:at] + piece + data[at:])
    if kind == 3:  # random bytes, sometimes behind a plausible start
        start = rng.choice([b"", b"solid x\nfacet normal\n", b"v ", bytes(80)])
        return start + bytes(rng.randrange(256) for _ in range(rng.randrange(300)))
    return bytes(data)


def binary_reference(data):
    """Decoding of a binary STL by the format's definition, or None when it must fail."""
    if len(data) < 84:
        return None
    (count,) = struct.unpack_from("<I", data, 80)
    if count > 10_000_000 or len(data) < 84 + 50 * count:
        return None
    keys, nodes, cells = {}, [], []
    for t in range(count):
        values = struct.unpack_from("<9f", data, 84 + 50 * t + 12)
        cell = []
        for k in range(3):
            point = values[3 * k: 3 * k + 3]
            key = struct.pack("<3d", *point)
            if key not in keys:
                keys[key] = len(nodes)
                nodes.append(list(point))
            cell.append(keys[key])
        cells.append(cell)
    return nodes, cells


def too_short_for_binary(data):
    return len(data) < 84 or len(data) < 84 + 50 * struct.unpack_from("<I", data, 80)[0]


def is_ascii_stl(data):
    """The detection rule: "solid" and "facet normal" in a valid UTF-8 window of 512 bytes, or
    "solid" at the start of a file too short for the binary layout it announces."""
    head = data[:512]
    if head.decode("utf-8", errors="replace").lstrip().startswith("solid") and too_short_for_binary(data):
        return True
    try:
        text = head.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return text.lstrip().startswith("solid") and "facet normal" in text


def same(a, b):
    return [struct.pack("<3d", *n) for n in a[0]] == [struct.pack("<3d", *n) for n in b[0]] and a[1] == b[1]


def test_readers_survive_fuzzed_files(tmp_path):
    rng = random.Random(20240606)
    seeds = seed_files(tmp_path, rng)
    path = tmp_path / "fuzz"
    outcomes = {"mesh": 0, "error": 0}
    for case in range(3000):
        data = mutate(rng.choice(seeds), rng)
        path.write_bytes(data)
        try:
            mesh = velk.Mesh.from_stl(str(path))
        except OSError as e:
            assert STL_ERRORS.match(str(e)), (case, str(e))
            outcomes["error"] += 1
            if not is_ascii_stl(data):
                assert binary_reference(data) is None, case
        else:
            outcomes["mesh"] += 1
            nodes, cells = mesh.nodes, mesh.cells
            assert all(i < len(nodes) for c in cells for i in c), case
            assert len({struct.pack("<3d", *n) for n in nodes}) == len(nodes), case
            if not is_ascii_stl(data):
                assert same((nodes, cells), binary_reference(data)), case
        try:
            velk.read_obj(str(path))
        except BaseException as e:  # the module function routes Errors to the internal failure
            assert type(e).__name__ == "PanicException", case
            with pytest.raises(OSError) as oe:
                velk.Mesh.from_obj(str(path))
            assert OBJ_ERRORS.match(str(oe.value)), case
    assert outcomes["mesh"] > 300 and outcomes["error"] > 300
