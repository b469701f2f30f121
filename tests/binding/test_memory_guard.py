"""Requests too large for memory fail at once with a MemoryError that names them; a sequence's
claimed length does not reserve memory it never fills."""

import os
import subprocess
import sys
import textwrap

import pytest

import velk


@pytest.mark.parametrize("call, text", [
    (lambda: velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [1000, 1000, 1000]),
     "a (1000, 1000, 1000) design block needs "),
    (lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [3000, 3000, 3000]),
     "a (3000, 3000, 3000) block cluster needs "),
    (lambda: velk.generate_sphere_cluster(1.0, [0, 0, 0], 5000), "a sphere cluster of resolution 5000 needs "),
    (lambda: velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [2**20, 2**20, 1]), "a mesh of "),
    (lambda: velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [2**40, 2**40, 1]),
     "the requested size does not fit in 64 bits"),
], ids=["design block", "block cluster", "sphere cluster", "box", "size overflow"])
def test_a_request_beyond_memory_fails_at_once_naming_what_and_how_much(call, text):
    with pytest.raises(MemoryError) as info:
        call()
    message = str(info.value)
    assert message.startswith(text)
    if "needs" in message:
        assert message.endswith(" GB this process can use") and " GB, more than the " in message


def vm_size_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))


class Boaster:
    """A sequence that claims a billion items and yields one."""

    def __len__(self):
        return 10**9

    def __getitem__(self, index):
        if index:
            raise IndexError(index)
        return [1.0, 2.0, 3.0]


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1", reason="the sanitizer maps its own memory")
def test_a_claimed_length_reserves_no_more_than_a_few_megabytes():
    before = vm_size_kib()
    meshes = [velk.Mesh(Boaster(), []) for _ in range(4)]
    assert all(m.nodes == [[1.0, 2.0, 3.0]] for m in meshes)
    assert vm_size_kib() - before < 256 * 1024  # 24 GB of address space each without the cap


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="the address sanitizer's shadow memory needs more than the limit")
def test_running_out_of_memory_past_the_guard_names_the_call_or_property():
    # The inputs are built first; then the address space is capped a few megabytes above what the
    # process holds, so converting them runs out where the guard's estimate does not reach.
    script = textwrap.dedent("""
        import resource, velk
        nodes = [[float(i), 2.0, 3.0] for i in range(1_000_000)]
        mesh = velk.Mesh([[0.0, 0.0, 0.0]] * 3, [[0, 1, 2]])
        def assign():
            mesh.nodes = nodes
        with open("/proc/self/status") as status:
            held = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) << 10
        resource.setrlimit(resource.RLIMIT_AS, (held + (5 << 20), resource.RLIM_INFINITY))
        for call in (lambda: velk.translate_nodes(nodes, [1, 1, 1]),
                     lambda: velk.Mesh(nodes, [[0, 1, 2]]), assign):
            try:
                call()
                print("no error")
            except MemoryError as error:
                print(error)
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=300, env=dict(os.environ, RAYON_NUM_THREADS="1"))
    suffix = " needs more memory than this process can get"
    assert done.stdout.splitlines() == [
        "translate_nodes()" + suffix, "Mesh()" + suffix, "Mesh.nodes" + suffix,
    ], done.stdout + done.stderr[-2000:]
