"""Large STL files, written a chunk at a time and read a block at a time: every byte equals an
independent numpy encoding, every merged node and cell equals a first-seen merge on the 64-bit
bit patterns, at sizes around the chunk and block edges and whatever the thread count."""

import json
import os
import struct

import numpy as np
import pytest

import velk
from helpers import panic_text, positional, run_python

EPS = 2.220446049250313e-16
HEADER = b"Binary STL generated with VELK" + bytes(50)
# Records per write chunk and per read block, and facets per ASCII write chunk.
WRITE_CHUNK, READ_BLOCK, ASCII_CHUNK = 40960, 32768, 8192


def nan_with(bits):
    return np.array([bits], dtype=np.uint64).view(np.float64)[0]


SPECIAL = [0.0, -0.0, np.nan, -np.nan, nan_with(0x7FF0000000000001), nan_with(0xFFF8000000000123),
           np.inf, -np.inf, 1e300, -1e300, 5e-324, 1e-40, 3.4028235e38, 3.4028236e38, 1.0 + 2**-30]


def mesh_with_specials(seed, cells):
    """Random nodes, a fifth of the coordinates special values, and cells sharing corners."""
    rng = np.random.default_rng(seed)
    count = max(3, cells // 2)
    nodes = rng.uniform(-5, 5, (count, 3))
    mask = rng.random(nodes.shape) < 0.2
    nodes[mask] = rng.choice(np.array(SPECIAL), mask.sum())
    return nodes, rng.integers(0, count, (cells, 3))


def reference_normals(nodes, cells):
    """The facet normals in the writer's order of operations; a cross product no longer than
    the machine epsilon stays as it is."""
    p = nodes[cells]
    a, b, c = p[:, 0], p[:, 1], p[:, 2]
    with np.errstate(all="ignore"):
        e1, e2 = b - a, c - a
        n = np.stack([e1[:, 1] * e2[:, 2] - e1[:, 2] * e2[:, 1],
                      e1[:, 2] * e2[:, 0] - e1[:, 0] * e2[:, 2],
                      e1[:, 0] * e2[:, 1] - e1[:, 1] * e2[:, 0]], axis=1)
        length = np.sqrt((n[:, 0] * n[:, 0] + n[:, 1] * n[:, 1]) + n[:, 2] * n[:, 2])
        unit = length > EPS
        n[unit] = n[unit] / length[unit, None]
    return n


def reference_binary(nodes, cells):
    """The binary file by the format's definition."""
    n, p = reference_normals(nodes, cells), nodes[cells]
    with np.errstate(all="ignore"):
        records = np.zeros(len(cells), dtype=[("n", "<f4", 3), ("v", "<f4", (3, 3)), ("a", "<u2")])
        records["n"] = n
        records["v"] = p
    return HEADER + struct.pack("<I", len(cells)) + records.tobytes()


def without_nan_normals(data, reference):
    """Both files with the normals that are NaN in the reference blanked, after checking that
    they are NaN in data too (the sign and payload of a computed NaN follow operand order)."""
    def normals(raw):
        return np.frombuffer(raw, dtype=np.uint8, offset=84).reshape(-1, 50)[:, :12].copy()
    mine, theirs = normals(data), normals(reference)
    nan = np.isnan(theirs.view("<f4"))
    assert (np.isnan(mine.view("<f4")) == nan).all()
    blank = np.repeat(nan, 4, axis=1)
    mine[blank], theirs[blank] = 0, 0
    body = lambda raw, n: np.concatenate([n, np.frombuffer(raw, np.uint8, offset=84).reshape(-1, 50)[:, 12:]], 1)
    return (data[:84] + body(data, mine).tobytes(), reference[:84] + body(reference, theirs).tobytes())


def reference_read(data):
    """First-seen merge of the corners of a binary file on their 64-bit bit patterns."""
    (count,) = struct.unpack_from("<I", data, 80)
    records = np.frombuffer(data, dtype=np.uint8, count=50 * count, offset=84).reshape(count, 50)
    with np.errstate(all="ignore"):
        corners = records[:, 12:48].copy().view("<f4").reshape(-1, 3).astype(np.float64)
    if count == 0:
        return corners, np.zeros((0, 3), np.int64)
    _, first, inverse = np.unique(corners.view(np.uint64), axis=0, return_index=True,
                                  return_inverse=True)
    order = np.argsort(first)
    number = np.empty_like(order)
    number[order] = np.arange(len(order))
    return corners[first[order]], number[inverse.ravel()].reshape(count, 3)


def assert_same_mesh(mesh, expected):
    nodes, cells = expected
    got = np.array(mesh.nodes, dtype=np.float64).reshape(-1, 3)
    assert got.view(np.uint64).tolist() == nodes.view(np.uint64).tolist()
    assert mesh.cells == cells.tolist()


@pytest.mark.parametrize("cells", [1, 2, 11, 1000, READ_BLOCK - 1, READ_BLOCK, READ_BLOCK + 1,
                                   WRITE_CHUNK - 1, WRITE_CHUNK, WRITE_CHUNK + 1, 2 * WRITE_CHUNK + 7])
def test_binary_bytes_and_merge_across_chunk_edges(tmp_path, cells):
    nodes, cell_array = mesh_with_specials(cells, cells)
    path = str(tmp_path / "m.stl")
    velk.Mesh(nodes, cell_array).write_stl(path)
    data = open(path, "rb").read()
    mine, reference = without_nan_normals(data, reference_binary(nodes, cell_array))
    assert mine == reference
    assert_same_mesh(velk.Mesh.from_stl(path), reference_read(data))


def test_shared_corners_of_a_grid_merge_in_first_seen_order(tmp_path):
    x, y = np.meshgrid(np.linspace(-1.0, 1.0, 301), np.linspace(0.0, 2.0, 121), indexing="ij")
    nodes = np.stack([x.ravel(), y.ravel(), np.sin(x * y).ravel()], axis=1)
    a = (np.arange(300)[:, None] * 121 + np.arange(120)).ravel()
    cells = np.concatenate([np.stack([a, a + 121, a + 1], 1), np.stack([a + 1, a + 121, a + 122], 1)])
    path = str(tmp_path / "g.stl")
    velk.Mesh(nodes, cells).write_stl(path)
    data = open(path, "rb").read()
    assert data == reference_binary(nodes, cells)
    mesh = velk.Mesh.from_stl(path)
    assert len(mesh.nodes) == 301 * 121 and len(mesh.cells) == len(cells)
    assert_same_mesh(mesh, reference_read(data))


def f32(*values):
    return [struct.unpack("<I", struct.pack("<f", v))[0] for v in values]


# Float patterns no writer makes: NaNs that differ only in the quiet bit become the same 64-bit
# value, NaNs of another sign or payload do not, and -0.0 is not 0.0.
PATTERNS = f32(0.0, 1.0, 1e-45, -1e-45) + [0x80000000, 0x7FC00000, 0x7F800001, 0x7FC00001,
                                           0xFFC00001, 0x7FA00000, 0x7FE00000, 0x7F800000, 0xFF800000]


@pytest.mark.parametrize("records", [1, 3, 500, READ_BLOCK, READ_BLOCK + 3, 2 * READ_BLOCK + 1])
def test_reader_keys_on_the_widened_bit_patterns(tmp_path, records):
    rng = np.random.default_rng(records)
    fields = rng.choice(np.array(PATTERNS, dtype=np.uint32), (records, 12))
    body = np.zeros((records, 50), np.uint8)
    body[:, :48] = fields.astype("<u4").view(np.uint8).reshape(records, 48)
    data = bytes(80) + struct.pack("<I", records) + body.tobytes() + b"tail"
    path = tmp_path / "p.stl"
    path.write_bytes(data)
    assert_same_mesh(velk.Mesh.from_stl(str(path)), reference_read(data))


def test_signalling_and_quiet_nan_share_a_node_but_signs_do_not(tmp_path):
    corner = lambda bits: struct.pack("<3I", bits, 0, 0)
    record = bytes(12) + corner(0x7F800001) + corner(0x7FC00001) + corner(0xFFC00001) + b"\0\0"
    record += bytes(12) + corner(0) + corner(0x80000000) + corner(0x7F800001) + b"\0\0"
    path = tmp_path / "n.stl"
    path.write_bytes(bytes(80) + struct.pack("<I", 2) + record)
    mesh = velk.Mesh.from_stl(str(path))
    assert mesh.cells == [[0, 0, 1], [2, 3, 0]]
    assert [struct.pack("<d", n[0])[7] >> 7 for n in mesh.nodes] == [0, 1, 0, 1]


@pytest.mark.parametrize("records, cut", [(READ_BLOCK + 5, 50 * READ_BLOCK + 3),
                                          (READ_BLOCK + 5, 50 * READ_BLOCK),
                                          (2 * READ_BLOCK, 50 * (2 * READ_BLOCK) - 1)])
def test_truncation_after_whole_blocks_fails(tmp_path, records, cut):
    data = bytes(80) + struct.pack("<I", records) + bytes(50 * records)
    path = tmp_path / "t.stl"
    path.write_bytes(data[:84 + cut])
    with pytest.raises(OSError) as e:
        velk.Mesh.from_stl(str(path))
    assert str(e.value) == "🔴 IO error: failed to fill whole buffer"


@pytest.mark.parametrize("cells", [ASCII_CHUNK - 1, ASCII_CHUNK + 1, 2 * ASCII_CHUNK])
def test_ascii_text_across_chunk_edges(tmp_path, cells):
    nodes, cell_array = mesh_with_specials(cells + 1, cells)
    path = tmp_path / "a.stl"
    velk.Mesh(nodes, cell_array).write_stl(str(path), "ascii")
    triple = lambda p: " ".join(positional(v) for v in p)
    text = ["solid exported_grid"]
    for normal, cell in zip(reference_normals(nodes, cell_array), cell_array):
        text += ["  facet normal " + triple(normal), "    outer loop"]
        text += ["      vertex " + triple(nodes[k]) for k in cell]
        text += ["    endloop", "  endfacet"]
    assert path.read_text() == "\n".join(text + ["endsolid exported_grid"]) + "\n"


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_bad_index_in_a_later_chunk_fails_before_the_file_is_touched(tmp_path, fmt):
    path = tmp_path / "keep.stl"
    path.write_bytes(b"old")
    cells = [[0, 1, 2]] * (2 * WRITE_CHUNK)
    cells[WRITE_CHUNK + 9] = [0, 7, 2]
    cells[WRITE_CHUNK + 11] = [5, 1, 2]
    nodes = [[0, 0, 0], [1, 0, 0], [0, 1, 0]]
    assert panic_text(lambda: velk.write_stl(nodes, cells, str(path), fmt)) == (
        "index out of bounds: the len is 3 but the index is 7")
    assert path.read_bytes() == b"old"


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_a_failed_write_of_an_early_chunk_is_reported(fmt):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    nodes, cells = mesh_with_specials(3, 3 * WRITE_CHUNK)
    with pytest.raises(BaseException) as e:
        velk.Mesh(nodes, cells).write_stl("/dev/full", fmt)
    assert str(e.value) == (
        "called `Result::unwrap()` on an `Err` value: FileSystem(Os { code: 28, kind: StorageFull, "
        f'message: "{os.strerror(28)}" }})')


THREAD_SCRIPT = """
import hashlib, json, os, sys, numpy as np, velk
sys.path[:0] = [{here!r}, os.path.dirname({here!r})]
from test_stl_chunks import mesh_with_specials
out = {{}}
for cells, fmt in ((2 * {chunk} + 7, "binary"), (3 * {ascii} + 5, "ascii")):
    nodes, cell_array = mesh_with_specials(7, cells)
    path = {tmp!r} + "/" + fmt + ".stl"
    velk.Mesh(nodes, cell_array).write_stl(path, fmt)
    mesh = velk.Mesh.from_stl(path)
    out[fmt] = [hashlib.sha256(open(path, "rb").read()).hexdigest(),
                hashlib.sha256(np.array(mesh.nodes).tobytes() + np.array(mesh.cells).tobytes()).hexdigest()]
print(json.dumps(out))
"""


def test_thread_counts_give_the_same_files_and_meshes(tmp_path):
    results = []
    for threads in ("1", "2", "7"):
        folder = tmp_path / threads
        folder.mkdir()
        script = THREAD_SCRIPT.format(here=os.path.dirname(__file__), chunk=WRITE_CHUNK,
                                      ascii=ASCII_CHUNK, tmp=str(folder))
        results.append(json.loads(run_python(script, RAYON_NUM_THREADS=threads).stdout))
    assert results[0] == results[1] == results[2]
