"""Readers never return data the file does not hold: an OBJ face naming a vertex the file does not
define, and an ASCII STL cut inside a facet, fail by each reader's route (the module function's
internal failure, the Mesh class method's OSError) with a message that says where."""

import os
import subprocess
import sys
import textwrap

import pytest

import velk

SQUARE = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"


def failures(path):
    """The texts of both routes' failures for an OBJ file."""
    with pytest.raises(BaseException) as panic:
        velk.read_obj(str(path))
    assert type(panic.value).__name__ == "PanicException"
    with pytest.raises(OSError) as os_error:
        velk.Mesh.from_obj(str(path))
    return str(panic.value), str(os_error.value)


@pytest.mark.parametrize("text, line, index", [
    (SQUARE + "f 1 2 3\nf 1 3 5\n", 6, "5"),
    (SQUARE + "# comment\nf 1 2 3 9\n", 6, "9"),        # the quad's fourth corner
    ("f 0 1 2\n" + SQUARE, 1, "0"),                       # OBJ counts from 1
    (SQUARE + "f 1 2 9223372036854775809\n", 5, "9223372036854775809"),  # vertex 2**63
    (SQUARE + "f 1 2 7 8\nf 1 2 3\nf 9 9 9\n", 5, "7"),   # the first failing face is reported
    (SQUARE + "f 5/1/1 6//2 7/3\n", 5, "5"),             # the index before the first "/"
])
def test_a_face_naming_a_missing_vertex_fails_with_its_line_and_index(tmp_path, text, line, index):
    path = tmp_path / "bad.obj"
    path.write_text(text)
    message = f"face on line {line} names vertex {index}, which the file does not define"
    panic, os_error = failures(path)
    assert message in panic and "FileSystem" in panic
    assert os_error == "🔴 IO error: " + message


@pytest.mark.parametrize("text, cells", [
    ("f 1 2 3\n" + SQUARE, [[0, 1, 2]]),             # named before it is defined
    (SQUARE + "f -4 -3 -2\nf 1 -1 3\n", [[0, 1, 2], [0, 3, 2]]),
    (SQUARE + "f 1 2 4\n", [[0, 1, 3]]),             # the last vertex exactly
    (SQUARE + "f 1 9\nf 9 9\n", []),                 # lines that make no cell are not judged
])
def test_faces_naming_defined_vertices_still_read(tmp_path, text, cells):
    path = tmp_path / "good.obj"
    path.write_text(text)
    assert velk.read_obj(str(path))[1] == cells
    assert velk.Mesh.from_obj(str(path)).cells == cells


def ascii_stl(facets):
    lines = ["solid cut"]
    for k in range(facets):
        lines += ["  facet normal 0 0 1", "    outer loop",
                  f"      vertex {k} 0 0", f"      vertex {k} 1 0", f"      vertex {k} 0 1",
                  "    endloop", "  endfacet"]
    return lines + ["endsolid cut"]


@pytest.mark.parametrize("keep", range(1, 16))
def test_an_ascii_stl_cut_after_any_line_fails_unless_its_facets_are_whole(tmp_path, keep):
    lines = ascii_stl(2)
    path = tmp_path / "cut.stl"
    path.write_text("\n".join(lines[:keep]) + "\n")
    corner_lines = [n for n, line in enumerate(lines[:keep], 1) if "vertex" in line]
    if len(corner_lines) % 3 == 0:
        nodes, cells = velk.read_stl(str(path))
        assert len(cells) == len(corner_lines) // 3
        return
    message = (f"file ended inside a facet: {len(corner_lines) % 3} of its 3 corners read, "
               f"the last on line {corner_lines[-1]}")
    with pytest.raises(OSError) as info:
        velk.Mesh.from_stl(str(path))
    assert str(info.value) == "🔴 IO error: " + message
    with pytest.raises(BaseException) as panic:
        velk.read_stl(str(path))
    assert message in str(panic.value)


def test_a_cut_inside_a_vertex_line_fails_too(tmp_path):
    text = "\n".join(ascii_stl(1))
    path = tmp_path / "cut.stl"
    path.write_text(text[:text.index("vertex 0 1 0") + len("vertex 0 1")])
    with pytest.raises(OSError, match="file ended inside a facet: 1 of its 3 corners read"):
        velk.Mesh.from_stl(str(path))


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="the address sanitizer's shadow memory needs more than the limit")
@pytest.mark.parametrize("read", ["read_obj", "read_stl"])
def test_a_reader_out_of_memory_names_the_file_it_was_reading(read):
    # An endless pipe under a small address-space limit: the node list outgrows it.
    feed = {"read_obj": "yes 'v 1 2 3'",
            "read_stl": "echo 'solid s'; echo ' facet normal 0 0 1'; yes ' vertex 1 2 3'"}[read]
    script = textwrap.dedent(f"""
        import resource, velk
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        try:
            velk.{read}("/dev/stdin")
        except MemoryError as error:
            print(str(error))
    """)
    source = subprocess.Popen(["sh", "-c", feed], stdout=subprocess.PIPE)
    try:
        done = subprocess.run([sys.executable, "-c", script], stdin=source.stdout,
                              capture_output=True, text=True, timeout=300,
                              env=dict(os.environ, RAYON_NUM_THREADS="1"))
    finally:
        source.kill()
        source.wait()
    assert done.stdout.strip() == ('reading "/dev/stdin" needs more memory than this process '
                                   'can get'), done.stdout + done.stderr[-2000:]
