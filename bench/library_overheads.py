"""What the Python module and the library cost beside the program, on one
random symmetric matrix: the Python call against the C++ call (the direct
solve at order N, and a call on an order-2 matrix, which is all overhead),
and block_sweeps from C++ and from Python against the program's block phase
(its results file's end.seconds less the file's own time). Rounds alternate the three so that a
changing load falls on all of them; the medians are printed as Markdown.

    python3 bench/library_overheads.py BUILD [--n 1000] [--sweep-n 400] [--blocks 4] [--rounds 3] [--repeats 3]

BUILD is a build directory configured with -DBLOCKEIG_BENCH=ON and
-DBLOCKEIG_PYTHON=ON, and built.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np


def best(call, count):
    times = []
    for _ in range(count):
        t0 = time.perf_counter()
        call()
        times.append(time.perf_counter() - t0)
    return min(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--n", type=int, default=1000)
    parser.add_argument("--sweep-n", type=int, default=400)
    parser.add_argument("--blocks", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--repeats", type=int, default=3, help="direct solves per round, the best counted")
    options = parser.parse_args()
    options.build = os.path.abspath(options.build)
    sys.path.insert(0, os.path.join(options.build, "python"))
    import blockeig

    rng = np.random.default_rng(1)
    def matrix(n):
        a = rng.uniform(-1, 1, (n, n))
        return (a + a.T) / 2
    work = tempfile.mkdtemp()
    direct_file, sweep_file = os.path.join(work, "direct.scr"), os.path.join(work, "sweeps", "A.SCR")
    os.mkdir(os.path.dirname(sweep_file))
    a, s = matrix(options.n), matrix(options.sweep_n)
    blockeig.write_scr(direct_file, a)
    blockeig.write_scr(sweep_file, s)
    tiny = np.array([[2.0, 1.0], [1.0, 2.0]])

    rows = {key: [] for key in ("cpp call", "py call", "cpp direct", "py direct", "cpp sweeps", "py sweeps",
                                "program sweeps")}
    loads = []
    for _ in range(options.rounds):
        loads.append(os.getloadavg()[0])
        out = subprocess.run([os.path.join(options.build, "bench", "library_bench"), direct_file, str(options.blocks),
                              str(options.repeats)], capture_output=True, text=True, check=True).stdout.split("\n")
        cpp = {line.split()[0]: float(line.split()[1]) for line in out if line}
        out = subprocess.run([os.path.join(options.build, "bench", "library_bench"), sweep_file, str(options.blocks),
                              "1"], capture_output=True, text=True, check=True).stdout.split("\n")
        cpp_sweeps = {line.split()[0]: line.split()[1:] for line in out if line}
        rows["cpp call"].append(cpp["call"])
        rows["cpp direct"].append(cpp["direct"])
        rows["cpp sweeps"].append(float(cpp_sweeps["sweeps"][0]))
        rows["py call"].append(best(lambda: blockeig.eigvalsh(tiny), 2000))
        rows["py direct"].append(best(lambda: blockeig.eigvalsh(a), options.repeats))
        direct = best(lambda: blockeig.eigvalsh(s), 1)
        rows["py sweeps"].append(best(lambda: blockeig.block_sweeps(s, options.blocks), 1) - direct)
        subprocess.run([os.path.join(options.build, "blockeig"), "--results", "run.json"], cwd=os.path.dirname(sweep_file),
                       input=f"{options.blocks}\n", capture_output=True, text=True, check=True)
        with open(os.path.join(os.path.dirname(sweep_file), "run.json")) as f:
            end = json.load(f)["end"]
        # Less the results file's own time (which includes its start), so
        # that the program's figure is, if anything, too low.
        rows["program sweeps"].append(end["seconds"] - end["results_seconds"])
    m = {key: statistics.median(values) for key, values in rows.items()}
    sweeps = cpp_sweeps["sweeps"][1]
    print(f"load average (1 min) during the rounds: {', '.join(f'{x:.1f}' for x in loads)}; medians of {options.rounds} rounds\n")
    print("| measure | C++ | Python | Python over C++ |")
    print("|---|---:|---:|---:|")
    print(f"| a call on an order-2 matrix | {m['cpp call'] * 1e6:.1f} us | {m['py call'] * 1e6:.1f} us | "
          f"+{(m['py call'] - m['cpp call']) * 1e6:.1f} us |")
    print(f"| eigenvalues, n = {options.n} | {m['cpp direct']:.3f} s | {m['py direct']:.3f} s | "
          f"{100 * (m['py direct'] / m['cpp direct'] - 1):+.2f} % (call overhead alone: "
          f"{100 * (m['py call'] - m['cpp call']) / m['cpp direct']:.4f} %) |")
    print(f"| block sweeps, n = {options.sweep_n}, {options.blocks} blocks, {sweeps} sweeps | {m['cpp sweeps']:.3f} s | "
          f"{m['py sweeps']:.3f} s | {100 * (m['py sweeps'] / m['cpp sweeps'] - 1):+.2f} % |")
    print(f"\nThe program's block phase on the same matrix: {m['program sweeps']:.3f} s "
          f"(C++ library {100 * (m['cpp sweeps'] / m['program sweeps'] - 1):+.2f} %, "
          f"Python {100 * (m['py sweeps'] / m['program sweeps'] - 1):+.2f} %)")


if __name__ == "__main__":
    main()
