"""Runs every benchmark in this folder side by side with its peers and prints one table of
ratios (velk time / peer time; below 1 means velk is faster), with the slowest call of each side
beside its best where the benchmark records it.

    python3 benchmarks/run.py            # everything
    python3 benchmarks/run.py io ffd     # only bench_io.py and bench_ffd.py

Each bench_<topic>.py module exposes run() returning rows with the keys "benchmark", "size",
"velk_s", "peer" and "peer_s", and the slowest call of each side in one of three forms:
"velk_spread_s" / "peer_spread_s" (seconds), "velk_spread" / "peer_spread" (slowest / best - 1)
or "spread" ("velk/peer" as slowest / best). Peers that are not installed are skipped by the
module itself.
"""

import importlib.util
import pathlib
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent


def load(path):
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def worst(row, side):
    """The slowest call of one side ("velk" or "peer") of a row in seconds, or None."""
    best = row.get(f"{side}_s")
    if best is None:
        return None
    if row.get(f"{side}_spread_s") is not None:
        return row[f"{side}_spread_s"]
    if row.get(f"{side}_spread") is not None:
        return best * (1 + row[f"{side}_spread"])
    if "spread" in row:
        return best * float(row["spread"].split("/")[0 if side == "velk" else 1])
    return None


def seconds(value, width=9):
    return f"{value:{width}.4f}" if value is not None else " " * (width - 1) + "-"


def main(topics):
    paths = sorted(HERE.glob("bench_*.py"))
    if topics:
        paths = [p for p in paths if p.stem.removeprefix("bench_") in topics]
    rows, started = [], time.perf_counter()
    for path in paths:
        print(f"running {path.name} ...", file=sys.stderr, flush=True)
        rows.extend(load(path).run())
    header = (f"| {'benchmark':<44} | {'size':<24} | {'velk s':>9} | {'(worst)':>9} | "
              f"{'peer':<28} | {'peer s':>9} | {'(worst)':>9} | {'ratio':>7} |")
    print(header)
    print("|" + "|".join("-" * (len(cell)) for cell in header.split("|")[1:-1]) + "|")
    for r in rows:
        peer_s = r.get("peer_s")
        ratio = f"{r['velk_s'] / peer_s:7.3f}" if peer_s else "      -"
        print(
            f"| {r['benchmark']:<44} | {str(r['size']):<24} | {seconds(r['velk_s'])} | "
            f"{seconds(worst(r, 'velk'))} | {r.get('peer') or '-':<28} | {seconds(peer_s)} | "
            f"{seconds(worst(r, 'peer'))} | {ratio} |"
        )
    print(f"\n{len(rows)} rows in {time.perf_counter() - started:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    main(sys.argv[1:])
