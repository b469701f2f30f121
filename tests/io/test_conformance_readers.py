"""The lenient line readers against an independent plain-Python reading of their grammar:
random lines of OBJ statements and STL vertex lines, with Unicode white space, unreadable words,
index and float edge cases, CRLF and a missing last line break."""

import random
import re
import struct

import pytest

import velk

# Unicode White_Space: the separators of both readers (not the \x1c-\x1f that str.split uses).
WHITE = {chr(c) for c in [*range(9, 14), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
                          0x2028, 0x2029, 0x202F, 0x205F, 0x3000]}
FLOAT = re.compile(r"[+-]?(inf|infinity|nan|([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)\Z",
                   re.IGNORECASE)
TOKENS = ["v", "f", "vertex", "vertex1", "vn", "#", "1", "2", "3", "-1", "+2", "0", "1/2/3",
          "2//4", "x", "1e5", "-.5", "1.", ".", "e5", "nan", "-inf", "Infinity", "1e400",
          "1e-400", "+", "-", "18446744073709551615", "18446744073709551616", "\u0661", "é",
          "\u00a0", "\u2003", "\u3000", "\x85", "\x1c", "\t", "\r", "  "]


def words(line):
    out, word = [], ""
    for ch in line:
        if ch in WHITE:
            if word:
                out.append(word)
            word = ""
        else:
            word += ch
    return out + ([word] if word else [])


def number(word):
    return float(word) if FLOAT.match(word) else None


def index(word):
    word = word.split("/")[0]
    word = word[1:] if word.startswith("+") else word
    if not word or any(not "0" <= c <= "9" for c in word) or int(word) >= 2**64:
        return None
    return (int(word) - 1) % 2**64


def lines(text):
    parts = text.split("\n")
    if parts[-1] == "":
        parts.pop()
    return [p[:-1] if p.endswith("\r") else p for p in parts]


def read_obj(text):
    """The nodes and cells, or the failure text for a face naming a vertex the file lacks."""
    nodes, cells, faces = [], [], []
    for number_of_line, line in enumerate(lines(text), 1):
        w = words(line)
        if len(w) < 4:
            continue
        if w[0] == "v":
            nodes.append([number(x) if number(x) is not None else 0.0 for x in w[1:4]])
        elif w[0] == "f":
            ids = [i for i in map(index, w[1:]) if i is not None]
            if len(ids) == 3:
                cells.append(ids)
            elif len(ids) == 4:
                cells += [[ids[0], ids[1], ids[2]], [ids[0], ids[2], ids[3]]]
            if len(ids) in (3, 4):
                faces.append((number_of_line, ids))
    for number_of_line, ids in faces:
        for i in ids:
            if i >= len(nodes):
                return (f"face on line {number_of_line} names vertex {(i + 1) % 2**64}, "
                        "which the file does not define")
    return nodes, cells


def read_ascii_stl(text):
    """The nodes and cells, or the failure text for a file cut inside a facet."""
    nodes, cells, seen, pending, closed = [], [], {}, [], False
    for number_of_line, line in enumerate(lines(text), 1):
        w = words(line)
        if w and w[0].startswith("endsolid"):
            closed = True
        if not w or not w[0].startswith("vertex"):
            continue
        corner = [x for x in map(number, w[1:]) if x is not None]
        if len(corner) != 3:
            continue
        key = struct.pack("<3d", *corner)
        if key not in seen:
            seen[key] = len(nodes)
            nodes.append(corner)
        pending.append(seen[key])
        last, closed = number_of_line, False
        if len(pending) == 3:
            cells.append(pending)
            pending = []
    if pending and not closed:
        return (f"file ended inside a facet: {len(pending)} of its 3 corners read, "
                f"the last on line {last}")
    return nodes, cells


def bits(nodes):
    return [struct.pack("<3d", *n) for n in nodes]


def test_readers_follow_the_line_grammar(tmp_path):
    rng = random.Random(7)
    obj, stl = tmp_path / "r.obj", tmp_path / "r.stl"
    failures = 0
    for _ in range(400):
        body = "\n".join(
            "".join(rng.choice(TOKENS) + rng.choice([" ", " ", "", "\t"])
                    for _ in range(rng.randint(0, 10)))
            for _ in range(rng.randint(0, 6)))
        body += rng.choice(["", "\n", "\r\n"])
        obj.write_bytes(body.encode())
        text = "solid x\n  facet normal 0 0 1\n" + body
        stl.write_bytes(text.encode())
        for path, read, model, source in ((obj, velk.Mesh.from_obj, read_obj, body),
                                          (stl, velk.Mesh.from_stl, read_ascii_stl, text)):
            want = model(source)
            if isinstance(want, str):
                with pytest.raises(OSError) as info:
                    read(str(path))
                assert str(info.value) == "🔴 IO error: " + want, source
                failures += 1
            else:
                mesh = read(str(path))
                assert (bits(mesh.nodes), mesh.cells) == (bits(want[0]), want[1]), source
    # Both outcomes are met often enough to be worth comparing.
    assert 0 < failures < 400
