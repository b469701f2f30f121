"""STL files: exact bytes of both writers, form detection, both readers and their failures."""

import math
import os
import struct

import pytest

import velk
from helpers import panic_text, positional

HEADER = b"Binary STL generated with VELK" + bytes(50)
TRIANGLE = ([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
BOX_NODES = [[x, y, z] for z in (0.0, 1.0) for y in (0.0, 1.0) for x in (0.0, 1.0)]
BOX_CELLS = [
    [0, 2, 1], [1, 2, 3], [4, 5, 6], [5, 7, 6], [0, 1, 4], [1, 5, 4],
    [2, 6, 3], [3, 6, 7], [0, 4, 2], [2, 4, 6], [1, 3, 5], [3, 7, 5],
]


def failure_text(exc_info):
    return str(exc_info.value)


def facet(normal, *corners):
    lines = ["  facet normal " + normal, "    outer loop"]
    lines += ["      vertex " + c for c in corners]
    return "\n".join(lines + ["    endloop", "  endfacet"]) + "\n"


def test_ascii_unit_triangle_exact(tmp_path):
    path = tmp_path / "t.stl"
    velk.write_stl(*TRIANGLE, str(path), "ascii")
    assert path.read_bytes().decode() == (
        "solid exported_grid\n" + facet("0 0 1", "0 0 0", "1 0 0", "0 1 0") + "endsolid exported_grid\n"
    )


def test_ascii_normals_and_numbers(tmp_path):
    path = tmp_path / "t.stl"
    nodes = [[0, 0, 0], [2, 0, 0], [0, 3, 0], [0.5, -0.25, 1e-7], [1, 1, 1]]
    # a scaled triangle gets a unit normal; three equal corners get the zero normal, still written
    velk.write_stl(nodes, [[0, 2, 1], [4, 4, 4], [0, 1, 3]], str(path), "ascii")
    text = path.read_text()
    assert facet("0 0 -1", "0 0 0", "0 3 0", "2 0 0") in text
    assert facet("0 0 0", "1 1 1", "1 1 1", "1 1 1") in text
    a, b, c = nodes[0], nodes[1], nodes[3]
    e1 = [b[i] - a[i] for i in range(3)]
    e2 = [c[i] - a[i] for i in range(3)]
    n = [e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]]
    length = math.sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2])
    assert "  facet normal " + " ".join(positional(v / length) for v in n) + "\n" in text
    assert "      vertex 0.5 -0.25 0.0000001\n" in text


def test_tiny_cross_product_is_written_unnormalised(tmp_path):
    path = tmp_path / "t.stl"
    velk.write_stl([[0, 0, 0], [1e-9, 0, 0], [0, 1e-9, 0]], [[0, 1, 2]], str(path), "ascii")
    assert "  facet normal 0 0 0.000000000000000001\n" in path.read_text()


def test_empty_mesh_binary(tmp_path):
    path = tmp_path / "e.stl"
    velk.write_stl([], [], str(path), "binary")
    assert path.read_bytes() == HEADER + bytes(4)
    assert velk.read_stl(str(path)) == ([], [])


def test_empty_mesh_ascii(tmp_path):
    path = tmp_path / "e.stl"
    velk.write_stl([], [], str(path), "ascii")
    assert path.read_bytes() == b"solid exported_grid\nendsolid exported_grid\n"
    # no "facet normal", but far too short for a binary file: read as the ASCII it is
    assert velk.read_stl(str(path)) == ([], [])
    assert velk.Mesh.from_stl(str(path)).cells == []


@pytest.mark.parametrize("case", ["long solid name", "multi-byte character across byte 512",
                                  "leading white space and a long name"])
def test_ascii_files_whose_first_facet_is_beyond_the_detection_window_read_as_ascii(tmp_path, case):
    box = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 0], [1, 1, 1])
    plain = tmp_path / "plain.stl"
    box.write_stl(str(plain), "ascii")
    body = plain.read_bytes().split(b"\n", 1)[1]
    name = {"long solid name": b"x" * 600,
            "multi-byte character across byte 512": b"y" * 505 + "é€".encode() * 3,
            "leading white space and a long name": b"z" * 700}[case]
    prefix = b"  \t" if case.startswith("leading") else b""
    path = tmp_path / "named.stl"
    path.write_bytes(prefix + b"solid " + name + b"\n" + body)
    assert velk.read_stl(str(path)) == velk.read_stl(str(plain))


@pytest.mark.parametrize("size", [0, 83])
def test_a_short_solid_file_without_facets_reads_as_an_empty_ascii_mesh(tmp_path, size):
    path = tmp_path / "short.stl"
    path.write_bytes((b"solid " + b"s" * 100)[:max(size, 5)])
    assert velk.read_stl(str(path)) == ([], [])


def test_a_solid_file_long_enough_for_its_binary_count_is_still_binary(tmp_path):
    # Bytes 80-83 announce one triangle and 50 bytes follow: the binary reading holds.
    record = struct.pack("<12fH", 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0)
    path = tmp_path / "b.stl"
    path.write_bytes(b"solid binary".ljust(80, b" ") + struct.pack("<I", 1) + record)
    assert velk.read_stl(str(path)) == ([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])


def test_binary_exact_bytes(tmp_path):
    path = tmp_path / "b.stl"
    nodes = [[0.1, 0, 0], [1, 0, 0], [0, 1, -0.0]]
    velk.write_stl(nodes, [[0, 1, 2]], str(path))
    data = path.read_bytes()
    assert data[:84] == HEADER + struct.pack("<I", 1)
    assert len(data) == 134
    record = struct.unpack("<12fH", data[84:])
    assert record[12] == 0
    # normal and corners rounded to nearest 32-bit floats (0.1 rounds up, truncation would not)
    a, b, c = nodes
    e1 = [b[i] - a[i] for i in range(3)]
    e2 = [c[i] - a[i] for i in range(3)]
    cross = (e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0])
    length = math.sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2])
    expected = [c / length for c in cross] + [x for p in nodes for x in p]
    as_f32 = [struct.unpack("<f", struct.pack("<f", v))[0] for v in expected]
    assert struct.pack("<12f", *record[:12]) == struct.pack("<12f", *as_f32)


@pytest.mark.parametrize(
    "fmt, ascii",
    [("ascii", True), ("ASCII", False), ("Ascii", False), (" ascii", False), ("ascii ", False),
     ("binary", False), ("", False), (None, False)],
)
def test_format_choice(tmp_path, fmt, ascii):
    path = tmp_path / "f.stl"
    velk.write_stl(*TRIANGLE, str(path), fmt)
    assert path.read_bytes().startswith(b"solid exported_grid\n") == ascii


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_default_file_name(tmp_path, monkeypatch, fmt):
    monkeypatch.chdir(tmp_path)
    assert velk.write_stl(*TRIANGLE, format=fmt) is None
    assert velk.read_stl("mesh.stl") == ([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_box_round_trip(tmp_path, fmt):
    path = str(tmp_path / "box.stl")
    velk.write_stl(BOX_NODES, BOX_CELLS, path, fmt)
    nodes, cells = velk.read_stl(path)
    assert len(nodes) == 8 and len(cells) == 12
    # same triangles and winding, nodes numbered in order of first appearance
    assert [[nodes[i] for i in c] for c in cells] == [[BOX_NODES[i] for i in c] for c in BOX_CELLS]
    order = []
    for c in BOX_CELLS:
        for i in c:
            if i not in order:
                order.append(i)
    assert nodes == [BOX_NODES[i] for i in order]


def test_existing_file_is_truncated(tmp_path):
    path = tmp_path / "t.stl"
    path.write_bytes(b"x" * 10000)
    velk.write_stl([], [], str(path))
    assert path.read_bytes() == HEADER + bytes(4)


def ascii_file(tmp_path, body, name="a.stl"):
    path = tmp_path / name
    path.write_bytes(body.encode() if isinstance(body, str) else body)
    return str(path)


def vertex_lines(*corners):
    return "solid t\nfacet normal 0 0 0\n" + "".join(f"vertex {c}\n" for c in corners) + "endsolid\n"


@pytest.mark.parametrize(
    "corners, nodes, cells",
    [
        (["0 0 0", "-0 0 0", "0 0 0"], [[0.0, 0.0, 0.0], [-0.0, 0.0, 0.0]], [[0, 1, 0]]),
        (["1.0 0 0", "1.00 0 0", "1 0 0"], [[1.0, 0.0, 0.0]], [[0, 0, 0]]),
        (["1 2 x 3", "1 2", "4 5 6", "7 8 9"], [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0], [7.0, 8.0, 9.0]],
         [[0, 1, 2]]),
        (["1 2 3 4", "0 0 0", "1 0 0", "0 1 0"], [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]],
         [[0, 1, 2]]),
        ([f"{i} 0 0" for i in range(7)], [[float(i), 0.0, 0.0] for i in range(7)],
         [[0, 1, 2], [3, 4, 5]]),
        (["+1e0 -INF nan(2)  NaN", "2\t0\u00a00", "3 0 0"], [[1.0, -float("inf"), float("nan")],
                                                          [2.0, 0.0, 0.0], [3.0, 0.0, 0.0]],
         [[0, 1, 2]]),
    ],
)
def test_ascii_reader_corners(tmp_path, corners, nodes, cells):
    got_nodes, got_cells = velk.read_stl(ascii_file(tmp_path, vertex_lines(*corners)))
    assert got_cells == cells
    assert repr(got_nodes) == repr(nodes)  # repr tells -0.0 and nan apart


def test_ascii_reader_ignores_structure_and_handles_crlf(tmp_path):
    body = ("  solid x\r\n facet normal 9 9 9\r\n   outer loop\r\n\tvertex 0 0 0\r\n"
            "vertex 1 0 0\r\n  vertexes 0 1 0\r\n endloop\r\nendfacet\r\nendsolid")
    assert velk.read_stl(ascii_file(tmp_path, body)) == (
        [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])


def binary_file(tmp_path, count, records, header=bytes(80), tail=b""):
    path = tmp_path / "b.stl"
    body = b"".join(struct.pack("<12fH", *([0.0] * 3 + list(r)), 7) for r in records)
    path.write_bytes(header + struct.pack("<I", count) + body + tail)
    return str(path)


def test_binary_reader_widens_and_ignores_normal_attribute_and_tail(tmp_path):
    rec = [0.1, 0, 0, 1, 0, 0, 0.1, 0, 0]
    nodes, cells = velk.read_stl(binary_file(tmp_path, 1, [rec], tail=b"junk"))
    f = struct.unpack("<f", struct.pack("<f", 0.1))[0]
    assert nodes == [[f, 0.0, 0.0], [1.0, 0.0, 0.0]] and cells == [[0, 1, 0]]


def test_binary_file_beginning_with_solid_without_facet_normal(tmp_path):
    header = b"solid but binary".ljust(80, b" ")
    path = binary_file(tmp_path, 1, [[0, 0, 0, 1, 0, 0, 0, 1, 0]], header=header)
    assert velk.read_stl(path) == ([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])


def test_facet_normal_after_512_bytes_in_a_file_too_short_for_binary_reads_as_ascii(tmp_path):
    body = "solid " + " " * 600 + "facet normal 0 0 0\nvertex 0 0 0\n" + "vertex 1 0 0\nvertex 0 1 0\n"
    near = ascii_file(tmp_path, "solid\nfacet normal 0 0 0\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n")
    expected = velk.read_stl(near)
    assert expected == ([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])
    (tmp_path / "padded.stl").write_text(body)
    assert velk.read_stl(str(tmp_path / "padded.stl")) == expected


def test_multibyte_character_cut_at_512_in_a_file_too_short_for_binary_reads_as_ascii(tmp_path):
    head = "solid facet normal "
    body = head + "x" * (511 - len(head)) + "é" + "\nvertex 0 0 0\n" * 3
    assert len(body[:512].encode()) == 513
    # bytes 80..84 ("xxxx") announce far more triangles than the file holds: not binary
    assert velk.Mesh.from_stl(ascii_file(tmp_path, body)).cells == [[0, 0, 0]]


@pytest.mark.parametrize(
    "count, held, text",
    [
        (10000001, 0, "Too many triangles: 10000001"),
        (4294967295, 2, "Too many triangles: 4294967295"),
        (5, 4, "failed to fill whole buffer"),
        # a tiny file announcing the cap fails at once, reserving nothing for the count
        (10000000, 0, "failed to fill whole buffer"),
    ],
)
def test_binary_reader_failures(tmp_path, count, held, text):
    path = binary_file(tmp_path, count, [[0] * 9] * held)
    with pytest.raises(OSError) as e:
        velk.Mesh.from_stl(path)
    assert failure_text(e) == "🔴 IO error: " + text


@pytest.mark.parametrize("size", [0, 1, 80, 83])
def test_too_short_binary_file(tmp_path, size):
    path = tmp_path / "s.stl"
    path.write_bytes(bytes(size))
    with pytest.raises(OSError) as e:
        velk.Mesh.from_stl(str(path))
    assert failure_text(e) == "🔴 IO error: failed to fill whole buffer"


def test_ascii_line_not_utf8(tmp_path):
    body = vertex_lines("0 0 0", *["1 0 0"] * 100).encode() + b"vertex 0 1 \xff\n"
    assert len(body) > 600
    with pytest.raises(OSError) as e:
        velk.Mesh.from_stl(ascii_file(tmp_path, body))
    assert failure_text(e) == "🔴 IO error: stream did not contain valid UTF-8"


def test_reading_a_directory(tmp_path):
    with pytest.raises(OSError) as e:
        velk.Mesh.from_stl(str(tmp_path))
    assert failure_text(e) == "🔴 IO error: " + os.strerror(21) + " (os error 21)"


def test_bad_index_fails_before_the_file_is_touched(tmp_path):
    path = tmp_path / "keep.stl"
    path.write_bytes(b"old")
    for fmt in ("ascii", None):
        assert panic_text(lambda: velk.write_stl([[0, 0, 0]], [[0, 0, 0], [0, 5, 0]], str(path), fmt)) \
            == "index out of bounds: the len is 1 but the index is 5"
    assert path.read_bytes() == b"old"


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_write_failure_of_the_last_flush_is_reported(fmt):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    with pytest.raises(BaseException) as e:
        velk.write_stl(*TRIANGLE, "/dev/full", fmt)
    assert str(e.value) == (
        "called `Result::unwrap()` on an `Err` value: FileSystem(Os { code: 28, kind: StorageFull, "
        f'message: "{os.strerror(28)}" }})'
    )
