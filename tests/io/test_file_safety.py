"""Writes that leave the old file or the new one, never a broken one; text lines are bounded."""

import os
import stat
import subprocess
import sys
import textwrap
import time

import pytest

import velk

NODES = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
BIG = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [20, 20, 20])

WRITERS = {
    "binary STL": lambda mesh, path: mesh.write_stl(path, "binary"),
    "ASCII STL": lambda mesh, path: mesh.write_stl(path, "ascii"),
    "OBJ": lambda mesh, path: mesh.write_obj(path),
    "VTP": lambda mesh, path: mesh.write_vtp(path),
}


@pytest.mark.parametrize("kind", sorted(WRITERS))
def test_a_write_failing_half_way_leaves_the_old_file_and_no_temporary_file(tmp_path, kind):
    path = tmp_path / "mesh.out"
    WRITERS[kind](velk.Mesh(NODES, [[0, 1, 2]]), str(path))
    old = path.read_bytes()
    script = textwrap.dedent(f"""
        import resource, signal, velk
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails with EFBIG
        resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))
        mesh = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [20, 20, 20])
        try:
            {{"binary STL": lambda: mesh.write_stl({str(path)!r}, "binary"),
              "ASCII STL": lambda: mesh.write_stl({str(path)!r}, "ascii"),
              "OBJ": lambda: mesh.write_obj({str(path)!r}),
              "VTP": lambda: mesh.write_vtp({str(path)!r})}}[{kind!r}]()
        except BaseException as error:
            print(type(error).__name__, error)
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.stdout.startswith("PanicException") and "File too large" in done.stdout, done.stdout + done.stderr
    assert path.read_bytes() == old
    assert sorted(os.listdir(tmp_path)) == ["mesh.out"]


def test_a_write_through_a_symlink_replaces_the_file_it_points_to(tmp_path):
    target = tmp_path / "real.stl"
    link = tmp_path / "link.stl"
    target.write_bytes(b"old contents")
    link.symlink_to(target)
    BIG.write_stl(str(link))
    assert link.is_symlink() and os.readlink(link) == str(target)
    assert target.read_bytes() == (tmp_path / "real.stl").read_bytes() != b"old contents"
    BIG.write_stl(str(tmp_path / "direct.stl"))
    assert target.read_bytes() == (tmp_path / "direct.stl").read_bytes()
    assert sorted(os.listdir(tmp_path)) == ["direct.stl", "link.stl", "real.stl"]


def test_new_files_get_the_create_mode_and_replaced_files_keep_theirs(tmp_path):
    old_mask = os.umask(0o027)
    try:
        BIG.write_obj(str(tmp_path / "new.obj"))
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE(os.stat(tmp_path / "new.obj").st_mode) == 0o640
    kept = tmp_path / "kept.obj"
    kept.write_text("x")
    os.chmod(kept, 0o604)
    BIG.write_obj(str(kept))
    assert stat.S_IMODE(os.stat(kept).st_mode) == 0o604


def test_devices_are_written_in_place_and_a_full_device_reports_it():
    with pytest.raises(BaseException) as info:
        BIG.write_stl("/dev/full")
    assert type(info.value).__name__ == "PanicException" and "No space left on device" in str(info.value)
    BIG.write_stl("/dev/null")


def test_a_failed_write_into_a_read_only_folder_reports_the_create_error(tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir()
    os.chmod(folder, 0o500)
    try:
        if os.access(folder, os.W_OK):
            pytest.skip("running with privileges that ignore folder permissions")
        with pytest.raises(BaseException) as info:
            BIG.write_stl(str(folder / "m.stl"))
        assert "Permission denied (os error 13)" in str(info.value)
    finally:
        os.chmod(folder, 0o700)


@pytest.mark.parametrize("read", [velk.read_obj, velk.Mesh.from_obj], ids=["read_obj", "from_obj"])
def test_an_endless_line_fails_within_the_limit(read):
    start = time.perf_counter()
    with pytest.raises(BaseException) as info:
        read("/dev/zero")
    assert time.perf_counter() - start < 2
    assert "line longer than 16 MiB" in str(info.value)


def test_a_long_line_under_the_limit_still_reads(tmp_path):
    path = tmp_path / "long.obj"
    path.write_text("# " + "x" * (1 << 20) + "\nv 1 2 3\n")
    assert velk.read_obj(str(path)) == ([[1.0, 2.0, 3.0]], [])
