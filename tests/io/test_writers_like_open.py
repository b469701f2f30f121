"""Writers follow open(path, "w"): through symbolic links (dangling ones too), against files the
caller may not write, files of another owner and files with several hard links; and where they
replace a file they sync it before its name moves and leave nothing behind after a kill -9."""

import os
import pathlib
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import velk

MESH = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [8, 8, 8])
WRITERS = {
    "write_stl binary": lambda path: velk.write_stl(MESH.nodes, MESH.cells, path),
    "write_stl ascii": lambda path: velk.write_stl(MESH.nodes, MESH.cells, path, "ascii"),
    "write_obj": lambda path: velk.write_obj(MESH.nodes, MESH.cells, path),
    "write_vtp": lambda path: velk.write_vtp(MESH.nodes, path),
    "Mesh.write_obj": lambda path: MESH.write_obj(path),
}
NOBODY = 65534


def written_bytes(tmp_path, kind):
    """What the writer puts in a fresh file."""
    path = tmp_path / ("fresh-" + kind.replace(" ", "-"))
    WRITERS[kind](str(path))
    return path.read_bytes()


def failure_text(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    return str(info.value)


@pytest.mark.parametrize("kind", sorted(WRITERS))
@pytest.mark.parametrize("target", ["missing.out", "sub/missing.out"])
def test_writing_through_a_dangling_link_creates_the_file_it_names_and_keeps_the_link(
        tmp_path, kind, target):
    (tmp_path / "sub").mkdir()
    link = tmp_path / "link.out"
    link.symlink_to(target)  # relative: read from the link's own folder
    WRITERS[kind](str(link))
    assert link.is_symlink() and os.readlink(link) == target
    assert (tmp_path / target).read_bytes() == written_bytes(tmp_path, kind)


@pytest.mark.parametrize("kind", sorted(WRITERS))
def test_a_link_into_a_missing_folder_fails_as_open_fails(tmp_path, kind):
    link = tmp_path / "link.out"
    link.symlink_to(tmp_path / "nowhere" / "file.out")
    with pytest.raises(FileNotFoundError):
        open(link, "w")
    assert "FileSystem(Os { code: 2, kind: NotFound" in failure_text(lambda: WRITERS[kind](str(link)))
    assert sorted(os.listdir(tmp_path)) == ["link.out"]


def test_a_chain_of_links_reaches_the_last_target(tmp_path):
    (tmp_path / "a").symlink_to("b")
    (tmp_path / "b").symlink_to(tmp_path / "c.obj")
    MESH.write_obj(str(tmp_path / "a"))
    assert (tmp_path / "a").is_symlink() and (tmp_path / "b").is_symlink()
    assert velk.read_obj(str(tmp_path / "c.obj")) == (MESH.nodes, MESH.cells)


def as_user(uid, path):
    """In a forked child running as uid: whether open lets it write the file (r+ opens for
    writing without truncating), and what velk's writer does with it."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child reports through the pipe and never returns into pytest
        try:
            os.close(read_end)
            if uid is not None:
                os.setgroups([])
                os.setgid(uid)
                os.setuid(uid)
            try:
                open(path, "r+b").close()
                allowed = True
            except PermissionError:
                allowed = False
            try:
                velk.write_obj([[0, 0, 0]], [], path)
                outcome = "written"
            except BaseException as error:  # noqa: B036 - the writer's internal failure
                outcome = str(error)
            os.write(write_end, f"{allowed} {outcome}".encode())
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as report:
        text = report.read()
    os.waitpid(pid, 0)
    allowed, outcome = text.split(" ", 1)
    return allowed == "True", outcome


@pytest.mark.parametrize("user", ["self", "nobody"])
def test_a_read_only_file_is_refused_exactly_when_open_refuses_it(user):
    if user == "nobody" and os.geteuid() != 0:
        pytest.skip("only root can act as another user")
    # A folder the other user may write, so that only the file's own mode can stop the write.
    folder = tempfile.mkdtemp()
    try:
        os.chmod(folder, 0o777)
        path = os.path.join(folder, "ro.obj")
        with open(path, "w") as f:
            f.write("old")
        os.chmod(path, 0o444)
        if user == "nobody":
            os.chown(path, NOBODY, NOBODY)
        allowed, outcome = as_user(NOBODY if user == "nobody" else None, path)
        if allowed:
            assert outcome == "written" and open(path).read().startswith("# OBJ")
        else:
            assert "FileSystem(Os { code: 13, kind: PermissionDenied" in outcome, outcome
            assert open(path).read() == "old"
            assert os.listdir(folder) == ["ro.obj"]
        if user == "nobody":  # without override rights, open refuses
            assert not allowed
    finally:
        shutil.rmtree(folder)


def test_a_file_of_another_owner_is_written_in_place_and_keeps_its_owner(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("only root can give a file to another user")
    path = tmp_path / "theirs.stl"
    path.write_bytes(b"old")
    os.chown(path, NOBODY, NOBODY)
    os.chmod(path, 0o666)
    inode = os.stat(path).st_ino
    MESH.write_stl(str(path))
    after = os.stat(path)
    assert (after.st_uid, after.st_gid, after.st_ino) == (NOBODY, NOBODY, inode)
    assert path.read_bytes() == written_bytes(tmp_path, "write_stl binary")


@pytest.mark.parametrize("kind", sorted(WRITERS))
def test_a_file_with_hard_links_is_written_in_place_and_stays_linked(tmp_path, kind):
    path, other = tmp_path / "one.out", tmp_path / "two.out"
    path.write_bytes(b"old")
    os.link(path, other)
    WRITERS[kind](str(path))
    assert os.stat(path).st_ino == os.stat(other).st_ino and os.stat(path).st_nlink == 2
    assert other.read_bytes() == path.read_bytes() == written_bytes(tmp_path, kind)


def test_a_replaced_file_is_synced_before_its_name_moves_and_the_folder_after(tmp_path):
    if shutil.which("strace") is None:
        pytest.skip("no strace")
    path = tmp_path / "m.stl"
    path.write_bytes(b"old")
    script = f"import velk; velk.write_stl([[0, 0, 0]], [[0, 0, 0]], {str(path)!r})"
    log = tmp_path / "trace"
    subprocess.run(["strace", "-f", "-o", str(log), "-e",
                    "trace=openat,fsync,fdatasync,rename,renameat,renameat2,linkat",
                    sys.executable, "-c", script], check=True, timeout=60, capture_output=True)
    calls = [line for line in log.read_text().splitlines()
             if any(f" {name}(" in line or line.split(" ", 1)[-1].startswith(name + "(")
                    for name in ("fsync", "fdatasync", "rename", "linkat"))]
    names = [line.split(" ", 1)[-1].split("(")[0].strip() for line in calls]
    # fsync of the file, then its name (a link and a rename over the old file), then the folder.
    first_move = min(i for i, n in enumerate(names) if n.startswith(("rename", "linkat")))
    last_move = max(i for i, n in enumerate(names) if n.startswith(("rename", "linkat")))
    assert "fsync" in names[:first_move] and "fsync" in names[last_move + 1:], calls
    assert sorted(os.listdir(tmp_path)) == ["m.stl", "trace"]


def test_a_writer_killed_mid_write_leaves_the_old_file_and_nothing_else(tmp_path):
    path = tmp_path / "big.stl"
    path.write_bytes(b"old contents")
    script = textwrap.dedent(f"""
        import velk
        mesh = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [150, 150, 150])
        print("ready", flush=True)
        while True:
            mesh.write_stl({str(path)!r}, "ascii")
    """)
    proc = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "ready"
        # Wait until the child holds the new file open in that folder, then kill it there.
        fds = f"/proc/{proc.pid}/fd"
        for _ in range(20000):
            held = [os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)
                    if os.path.exists(os.path.join(fds, fd))]
            if any(h.startswith(str(tmp_path)) and h != str(path) for h in held):
                break
            time.sleep(0.001)
        else:
            pytest.fail("the child never opened its new file")
        proc.send_signal(signal.SIGKILL)
        proc.wait(timeout=60)
    finally:
        proc.kill()
    assert os.listdir(tmp_path) == ["big.stl"]
    assert path.read_bytes() in (b"old contents", written_ascii_box(tmp_path))


def written_ascii_box(tmp_path):
    fresh = tmp_path.parent / (tmp_path.name + "-fresh.stl")
    velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [150, 150, 150]).write_stl(str(fresh), "ascii")
    data = fresh.read_bytes()
    fresh.unlink()
    return data


def test_new_and_replaced_files_keep_the_modes_open_gives_them(tmp_path):
    old_mask = os.umask(0o022)
    try:
        MESH.write_obj(str(tmp_path / "new.obj"))
        (tmp_path / "link.obj").symlink_to("through-link.obj")
        MESH.write_obj(str(tmp_path / "link.obj"))
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE(os.stat(tmp_path / "new.obj").st_mode) == 0o644
    assert stat.S_IMODE(os.stat(tmp_path / "through-link.obj").st_mode) == 0o644


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="the address sanitizer must be the first library loaded")
def test_without_unnamed_files_a_named_temporary_replaces_atomically_and_leaves_nothing(
        tmp_path, compile_driver):
    shim = compile_driver(pathlib.Path(__file__).with_name("no_unnamed_files.cpp"), [],
                          "-shared", "-fPIC", "-ldl")
    expected = {kind: written_bytes(tmp_path, kind) for kind in WRITERS}
    folder = tmp_path / "out"
    folder.mkdir()
    script = textwrap.dedent(f"""
        import os, sys
        sys.path.insert(0, {str(pathlib.Path(__file__).parent)!r})
        from test_writers_like_open import WRITERS
        folder = {str(folder)!r}
        for i, kind in enumerate(sorted(WRITERS)):
            new = os.path.join(folder, f"new-{{i}}")
            WRITERS[kind](new)
            old = os.path.join(folder, f"old-{{i}}")
            with open(old, "wb") as f:
                f.write(b"old contents")
            os.chmod(old, 0o640)
            WRITERS[kind](old)
            os.symlink(f"linked-{{i}}", os.path.join(folder, f"link-{{i}}"))
            WRITERS[kind](os.path.join(folder, f"link-{{i}}"))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120, env=dict(os.environ, LD_PRELOAD=str(shim)))
    assert done.returncode == 0, done.stderr[-2000:]
    assert "refused O_TMPFILE" in done.stderr
    kinds = sorted(WRITERS)
    assert sorted(os.listdir(folder)) == sorted(
        f"{name}-{i}" for i in range(len(kinds)) for name in ("new", "old", "link", "linked"))
    for i, kind in enumerate(kinds):
        for name in ("new", "old", "linked"):
            assert (folder / f"{name}-{i}").read_bytes() == expected[kind], (kind, name)
        assert stat.S_IMODE(os.stat(folder / f"old-{i}").st_mode) == 0o640
        assert os.path.islink(folder / f"link-{i}")
