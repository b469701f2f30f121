"""The example scripts run end to end with small sizes, and the files they report read back."""

import csv
import importlib
import math
import pathlib
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest

import velk

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def run_example(name, *args, cwd):
    result = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)],
                            capture_output=True, text=True, cwd=cwd, timeout=120)
    return result


def written(stdout):
    """The paths an example reports on its "wrote PATH  (what)" lines."""
    return [pathlib.Path(m) for m in re.findall(r"^wrote (\S+)", stdout, flags=re.MULTILINE)]


def is_png(path):
    return path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def vtp_point_count(path):
    piece = ElementTree.parse(path).getroot().find("./PolyData/Piece")
    return int(piece.get("NumberOfPoints"))


def test_morph_wing_writes_wings_lattices_and_picture(tmp_path):
    pytest.importorskip("matplotlib")
    out = tmp_path / "result"
    result = run_example("morph_wing.py", "--out", out, "--chord-points", 8, "--span-stations", 5, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    files = {p.name: p for p in written(result.stdout)}
    assert set(files) == {"wing.stl", "wing_ffd.stl", "wing_rbf.stl", "lattice.vtp", "lattice_moved.vtp",
                          "morph_wing.png"}
    assert all(p.parent == out and p.is_file() for p in files.values())

    wing, ffd, rbf = (velk.Mesh.from_stl(str(files[n])) for n in ("wing.stl", "wing_ffd.stl", "wing_rbf.stl"))
    assert len(wing.cells) == len(ffd.cells) == len(rbf.cells) == 4 * 8 * (5 - 1)
    for morphed in (ffd, rbf):
        tip = [p for p in morphed.nodes if p[2] > 3.99]
        assert tip and min(p[1] for p in tip) > 0.2  # the tip is lifted clear of where it was
        # Cells keep their order through the files: corners at the root stay where they were.
        pairs = [(p, q) for a, b in zip(wing.triangles(), morphed.triangles()) for p, q in zip(a, b) if p[2] == 0.0]
        assert pairs and all(math.dist(p, q) < 1e-3 for p, q in pairs)
    assert vtp_point_count(files["lattice.vtp"]) == vtp_point_count(files["lattice_moved.vtp"]) == 5 * 3 * 9
    assert is_png(files["morph_wing.png"])


def test_morph_wing_refuses_too_few_sections(tmp_path):
    pytest.importorskip("matplotlib")
    result = run_example("morph_wing.py", "--out", tmp_path, "--span-stations", 2, cwd=tmp_path)
    assert result.returncode == 2 and "at least 3" in result.stderr


def section_area(stdout):
    return float(re.search(r"enclosed area (\S+)", stdout).group(1))


def ring_tube(path, sides=24):
    """A tube of three rings of nodes at z = 0, 1 and 2 around the z axis."""
    nodes = [[math.cos(2 * math.pi * k / sides), math.sin(2 * math.pi * k / sides), float(z)]
             for z in range(3) for k in range(sides)]
    cells = []
    for z in range(2):
        for k in range(sides):
            a, b = z * sides + k, z * sides + (k + 1) % sides
            cells += [[a, b, b + sides], [a, b + sides, a + sides]]
    velk.Mesh(nodes, cells).write_stl(str(path))
    return sides / 2 * math.sin(2 * math.pi / sides)


@pytest.mark.parametrize("case", ["default wing", "sphere", "torus", "plane on a ring of nodes"])
def test_slice_section_reports_the_enclosed_area(tmp_path, case):
    pytest.importorskip("matplotlib")
    args = []
    if case == "plane on a ring of nodes":  # zero-length and duplicated segments: one polygon
        polygon = ring_tube(tmp_path / "tube.stl")
        args = [tmp_path / "tube.stl", "--origin", 0, 0, 1]
        low, high = polygon * (1 - 1e-6), polygon * (1 + 1e-6)
    elif case == "sphere":  # through the centre: a polygon inscribed in the unit circle
        velk.generate_icosphere(1.0, (0, 0, 0), 3).write_stl(str(tmp_path / "ball.stl"))
        args = [tmp_path / "ball.stl", "--origin", 0, 0, 0, "--normal", 0.3, 0.2, 1]
        low, high = 3.0, math.pi
    elif case == "torus":  # across the ring: an annulus between radii 1.4 and 2.6, a hole inside
        velk.generate_torus(2.0, 0.6, (0, 0, 0), 48, 24).write_stl(str(tmp_path / "ring.stl"))
        args = [tmp_path / "ring.stl", "--normal", 0, 1, 0]
        low, high = math.pi * (2.6**2 - 1.4**2) * 0.98, math.pi * (2.6**2 - 1.4**2)
    else:  # a 12 % thick aerofoil of unit chord
        low, high = 0.080, 0.083
    result = run_example("slice_section.py", *args, "--out", tmp_path / "out", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert low < section_area(result.stdout) < high
    files = written(result.stdout)
    assert files[-1].name == "section.png" and is_png(files[-1])
    if case == "default wing":
        assert files[0].name == "naca2412_wing.stl"
        assert len(velk.Mesh.from_stl(str(files[0])).cells) == 4 * 80


@pytest.mark.parametrize("case", ["missing file", "plane misses"])
def test_slice_section_reports_a_failure_without_a_traceback(tmp_path, case):
    pytest.importorskip("matplotlib")
    velk.generate_icosphere(1.0, (0, 0, 0), 1).write_stl(str(tmp_path / "ball.stl"))
    path = tmp_path / ("nothing.stl" if case == "missing file" else "ball.stl")
    result = run_example("slice_section.py", path, "--origin", 0, 0, 5, "--out", tmp_path, cwd=tmp_path)
    assert result.returncode == 1
    assert ("cannot read" if case == "missing file" else "does not cut") in result.stderr
    assert "Traceback" not in result.stderr


def check_sweep(result, out, variants):
    assert result.returncode == 0, result.stderr
    with open(out / "sweep.csv", newline="") as stream:
        rows = list(csv.DictReader(stream))
    assert [int(r["variant"]) for r in rows] == list(range(variants))
    for row in rows:
        mesh = velk.Mesh.from_stl(row["file"])
        assert len(mesh.cells) == 4 * 8 * (5 - 1)
        # The measured tip section follows the requested twist and lift.
        assert float(row["section_twist"]) == pytest.approx(float(row["twist"]), abs=0.5)
        assert float(row["section_lift"]) == pytest.approx(float(row["lift"]), abs=0.1)
        assert 0.07 < float(row["section_area"]) < 0.085
    assert len({(r["lift"], r["twist"]) for r in rows}) == variants


def test_design_sweep_on_a_local_cluster(tmp_path):
    pytest.importorskip("dask.distributed")
    out = tmp_path / "sweep"
    result = run_example("design_sweep.py", "--variants", 4, "--workers", 1, "--out", out,
                         "--chord-points", 8, "--span-stations", 5, cwd=tmp_path)
    check_sweep(result, out, 4)
    assert "4 variants" in result.stdout


def test_design_sweep_on_a_running_scheduler(tmp_path):
    distributed = pytest.importorskip("dask.distributed")
    out = tmp_path / "sweep"
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False, protocol="tcp",
                                   host="127.0.0.1", dashboard_address=None) as cluster:
        result = run_example("design_sweep.py", "--variants", 3, "--scheduler", cluster.scheduler_address,
                             "--out", out, "--chord-points", 8, "--span-stations", 5, cwd=tmp_path)
    check_sweep(result, out, 3)
    assert "the cluster at tcp://" in result.stdout


def test_design_sweep_reports_a_failing_variant_and_keeps_the_others(tmp_path):
    pytest.importorskip("dask.distributed")
    out = tmp_path / "sweep"
    table = tmp_path / "designs.csv"
    # A NaN lift moves the lattice to NaN: the section finds nothing and velk fails internally.
    table.write_text("lift,twist\n0.1,2.0\nnan,0.0\n0.3,-4.0\n")
    result = subprocess.run([sys.executable, str(EXAMPLES / "design_sweep.py"), "--designs", str(table),
                             "--workers", "1", "--out", str(out), "--chord-points", "8", "--span-stations", "5"],
                            capture_output=True, text=True, cwd=tmp_path, timeout=30)
    assert result.returncode == 1
    assert "failed: variant 1: PanicException: called `Option::unwrap()` on a `None` value" in result.stderr
    assert "1 of 3 variants failed" in result.stderr
    with (out / "sweep.csv").open() as stream:
        assert [int(row["variant"]) for row in csv.DictReader(stream)] == [0, 2]


def optimisation(stdout):
    """The figures optimise_wing.py reports: OpenMDAO's rel error of every checked pair, the
    optimum and the morph count."""
    found = {key: float(re.search(pattern, stdout).group(1)) for key, pattern in {
        "misfit": r"optimised: misfit (\S+)",
        "morphs": r"morphs: (\d+)",
    }.items()}
    for check in ("check_partials", "check_totals"):
        block = re.search(rf"^{check}: .*\n((?:  .*\n)+)", stdout, flags=re.MULTILINE).group(1)
        lines = re.findall(r"^  (\w+ / \w+) \(\S+\): (\S+)$", block, flags=re.MULTILINE)
        found[check] = {pair: float(value) for pair, value in lines}
    found["success"] = "success True" in stdout
    return found


def test_optimise_wing_exact_partials_reach_the_fd_optimum_in_a_fifth_of_the_morphs(tmp_path):
    pytest.importorskip("matplotlib")
    pytest.importorskip("openmdao")
    runs = {}
    for mode in ("exact", "fd"):
        out = tmp_path / mode
        args = ["--out", out, "--chord-points", 10, "--span-stations", 7] + (["--fd"] if mode == "fd" else [])
        result = run_example("optimise_wing.py", *args, cwd=tmp_path)
        assert result.returncode == 0, result.stderr
        runs[mode] = optimisation(result.stdout)
        assert [p.name for p in written(result.stdout)] == ["optimise_wing.png"]
        assert is_png(out / "optimise_wing.png")
    exact, fd = runs["exact"], runs["fd"]
    assert exact["success"] and fd["success"]
    # Every pair of both responses and all three variable groups is checked, and within 1e-6.
    pairs = {f"{of} / {wrt}" for of in ("misfit", "volume") for wrt in ("twist", "dihedral", "bumps")}
    for check in ("check_partials", "check_totals"):
        assert set(exact[check]) == pairs
        assert all(error <= 1e-6 for error in exact[check].values()), exact[check]
    assert exact["misfit"] == pytest.approx(fd["misfit"], abs=1e-6)
    assert exact["morphs"] <= fd["morphs"] / 5


def test_optimise_wing_fails_when_an_exact_partial_is_off(tmp_path, monkeypatch):
    """A volume gradient off by one part in a thousand fails the derivative check, before the
    optimisation runs."""
    pytest.importorskip("matplotlib")
    pytest.importorskip("openmdao")
    velk_morph = pytest.importorskip("velk_morph")
    monkeypatch.syspath_prepend(str(EXAMPLES))
    example = importlib.import_module("optimise_wing")
    gradient = velk_morph.volume_gradient
    monkeypatch.setattr(velk_morph, "volume_gradient", lambda *args: gradient(*args) * 1.001)
    with pytest.raises(SystemExit, match=r"derivative check failed: rel error 1\.0\de-03 > 1e-06"):
        example.main(["--out", str(tmp_path), "--chord-points", "8", "--span-stations", "5"])
    assert not (tmp_path / "optimise_wing.png").exists()


def test_volume_morph_moves_the_air_without_inverting_a_cell(tmp_path):
    pytest.importorskip("gmsh")
    meshio = pytest.importorskip("meshio")
    out = tmp_path / "result"
    result = run_example("volume_morph.py", "--out", out, "--size", 2.5, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "inverted cells: 0\n" in result.stdout
    miss = float(re.search(r"largest miss on the wing (\S+)", result.stdout).group(1))
    assert miss < 1e-9
    files = {p.name: p for p in written(result.stdout)}
    assert set(files) == {"air.vtu", "air_morphed.vtu", "volume_morph.png"}
    before, after = (meshio.read(files[name]) for name in ("air.vtu", "air_morphed.vtu"))
    assert before.points.shape == after.points.shape
    moved = (after.points - before.points)
    assert abs(moved[:, 1]).max() > 0.2  # the tip rose
    # The far-field box stays where it was.
    on_box = (abs(before.points[:, 0] + 5.5) < 1e-9) | (abs(before.points[:, 1] - 6.0) < 1e-9)
    assert on_box.any() and abs(moved[on_box]).max() < 1e-9
    assert is_png(files["volume_morph.png"])


@pytest.mark.parametrize("morph", ["idw", "rbf"])
def test_dask_morph_matches_a_single_process_run(tmp_path, morph):
    pytest.importorskip("dask.distributed")
    pytest.importorskip("velk_morph")
    out = tmp_path / "dask"
    result = run_example("dask_morph.py", "--nodes", 100_000, "--chunk", 30_000, "--workers", 2,
                         "--chord-points", 8, "--span-stations", 4, "--morph", morph,
                         "--out", out, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "the bits are the same" in result.stdout
    [path] = written(result.stdout)
    morphed = np.load(path)
    assert morphed.shape == (100_000, 3) and np.all(np.isfinite(morphed))


def test_dask_morph_task_failure_reaches_the_caller():
    distributed = pytest.importorskip("dask.distributed")
    import dask.array

    sys.path.insert(0, str(EXAMPLES))
    try:
        import dask_morph
    finally:
        sys.path.remove(str(EXAMPLES))
    morph = dask_morph.fit(8, 3)
    points = np.zeros((9, 3))
    points[7, 2] = np.nan  # in the third chunk
    target = np.full((9, 3), -1.0)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        with pytest.raises(ValueError, match="points must be finite, but row 1 holds NaN"):
            dask_morph.morph_on_cluster(client, morph, dask.array.from_array(points, chunks=3), target)
        # The same recipe on clean points fills the whole target with the single-process bits.
        points[7, 2] = 0.5
        dask_morph.morph_on_cluster(client, morph, dask.array.from_array(points, chunks=3), target)
    assert np.array_equal(target, morph.deform(points))
