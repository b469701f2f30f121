"""The memory guard reads the control groups of this process (/proc/self/cgroup), version 1 and
version 2, with every group above them: a fake file system tree stands in for /sys/fs/cgroup."""

import pathlib
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
NONE = 2**64 - 1
UNLIMITED_V1 = 9223372036854771712


@pytest.fixture(scope="module")
def driver(compile_driver):
    return compile_driver(HERE / "cgroup_driver.cpp", [ROOT / "src" / "core" / "checked_size.cpp"])


def room(driver, tmp_path, cgroup, files):
    """The driver's answer for a /proc/self/cgroup text and limit files {relative path: text}."""
    mount = tmp_path / "mount"
    for name, text in files.items():
        (mount / name).parent.mkdir(parents=True, exist_ok=True)
        (mount / name).write_text(text + "\n")
    mount.mkdir(exist_ok=True)
    (tmp_path / "cgroup").write_text(cgroup)
    done = subprocess.run([str(driver), str(tmp_path / "cgroup"), str(mount)], check=True,
                          capture_output=True, text=True)
    return int(done.stdout)


V2_LEAF = {"app/job/memory.max": "1000000", "app/job/memory.current": "200000"}
V1_LEAF = {"memory/app/job/memory.limit_in_bytes": "3000000",
           "memory/app/job/memory.usage_in_bytes": "1000000"}


@pytest.mark.parametrize("cgroup, files, expected", [
    # version 2: the group's own limit, then a tighter one above it
    ("0::/app/job\n", V2_LEAF, 800000),
    ("0::/app/job\n", {**V2_LEAF, "app/memory.max": "500000", "app/memory.current": "400000"},
     100000),
    ("0::/app/job\n", {"app/job/memory.max": "max", "app/job/memory.current": "5"}, NONE),
    # the root's files (a namespaced view shows the group as "/")
    ("0::/\n", {"memory.max": "700", "memory.current": "100"}, 600),
    # version 1: the memory controller's line, alone or with others, never another controller's
    ("9:name=systemd:/\n4:memory:/app/job\n3:cpu:/other\n", V1_LEAF, 2000000),
    ("5:cpu,memory,pids:/app/job\n", V1_LEAF, 2000000),
    ("5:cpu,memoryx:/app/job\n", V1_LEAF, NONE),
    ("4:memory:/app/job\n", {"memory/app/job/memory.limit_in_bytes": str(UNLIMITED_V1),
                             "memory/app/job/memory.usage_in_bytes": "1000"},
     UNLIMITED_V1 - 1000),
    # usage at or over the limit leaves nothing
    ("4:memory:/app/job\n", {"memory/app/job/memory.limit_in_bytes": "10",
                             "memory/app/job/memory.usage_in_bytes": "20"}, 0),
    # both hierarchies (a hybrid layout): the tighter one
    ("4:memory:/app/job\n0::/app/job\n", {**V1_LEAF, **V2_LEAF}, 800000),
    # no limit files, or no such group file
    ("0::/app/job\n", {}, NONE),
    ("", {}, NONE),
])
def test_the_room_is_the_least_left_under_every_limit_on_the_way_up(driver, tmp_path, cgroup,
                                                                     files, expected):
    assert room(driver, tmp_path, cgroup, files) == expected
