"""How fast E(1) of the block sweeps reaches the lowest eigenvalue, for 1, 2,
4 and 8 blocks of one matrix: |E(1) - lambda_1| per sweep, on a log scale,
the direct lambda_1 as the reference (docs/python.md shows the picture).
It needs matplotlib (pip install matplotlib; Debian: python3-matplotlib).

    python3 examples/compare_blocks.py [compare_blocks.png]
"""
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import blockeig

rng = np.random.default_rng(1)
a = rng.uniform(-1, 1, (64, 64))
a = (a + a.T) / 2 + np.diag(np.linspace(0, 8, 64))  # order 64, a spread diagonal
lowest = blockeig.eigvalsh(a)[0]
for nblocks in (1, 2, 4, 8):
    run = blockeig.block_sweeps(a, nblocks)
    error = np.maximum(np.abs(run.E1 - lowest), 1e-16)  # exact: drawn at 1e-16
    plt.semilogy(run.iterations, error, marker=".", label=f"{nblocks} block{'s' * (nblocks > 1)}")
plt.xlabel("sweep (ITER)")
plt.ylabel("|E(1) - λ₁|")
plt.title("Block sweeps on a random symmetric matrix of order 64")
plt.legend()
plt.savefig(sys.argv[1] if len(sys.argv) > 1 else "compare_blocks.png", dpi=80)
