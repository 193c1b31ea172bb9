"""The eigenvalues of a real symmetric matrix exactly as the blockeig program
computes them: Householder reduction and the QL algorithm with implicit
shifts in extended precision, and block Rayleigh-Ritz sweeps; the same bits
on every run and every thread count.

    eigvalsh(a, threads=None)        the eigenvalues, ascending
    eigh(a, threads=None)            (w, v): and the eigenvectors, v[:, j] for w[j]
    block_sweeps(a, nblocks, tol=1.0e-6, max_sweeps=101, partition=None, start=None,
                 callback=None, threads=None)
                                     the block scheme, sweep by sweep, and where E(1) ended
    read_scr(path, byte_order="little"), write_scr(path, a, byte_order="little")
                                     the program's matrix files (A.SCR)
    load_results(path)               a results file (blockeig --results)

The direct solve reads the lower triangle with the diagonal; the block
sweeps read every element. threads=None uses one thread per core. The GIL
is released while the library computes; Ctrl-C ends block_sweeps at the end
of the sweep in progress with KeyboardInterrupt.
"""

import dataclasses
import operator
import os
import warnings

import numpy as np

from . import _blockeig

__all__ = ["eigvalsh", "eigh", "block_sweeps", "BlockSweeps", "Accuracy", "read_scr", "write_scr", "load_results",
           "ConvergenceWarning", "__version__", "arithmetic"]

__version__ = _blockeig.version
arithmetic = _blockeig.arithmetic


class ConvergenceWarning(RuntimeWarning):
    """The QL iteration gave up (IERR is not 0): the values are as it left them, unsorted."""


def _matrix(a, name="a"):
    """`a` as a square float64 array of order 2 or more, read where it lies when it can be."""
    try:
        m = np.asarray(a)
    except (TypeError, ValueError) as error:
        raise TypeError(f"blockeig: {name} cannot be read as an array of numbers: {error}") from None
    if m.dtype.kind not in "biuf":
        if m.dtype.kind != "O":
            raise TypeError(f"blockeig: {name} holds {m.dtype} values, which are not real numbers (float64)")
        try:
            m = m.astype(np.float64)
        except (TypeError, ValueError) as error:
            raise TypeError(f"blockeig: {name} holds values that are not real numbers: {error}") from None
    if m.ndim != 2 or m.shape[0] != m.shape[1]:
        raise ValueError(f"blockeig: {name} must be a square matrix (an n x n array); its shape is {m.shape}")
    if m.shape[0] < 2:
        raise ValueError(f"blockeig: the order of {name} is {m.shape[0]}; blockeig needs 2 or more")
    m = m.astype(np.float64, copy=False)
    if not m.flags.aligned or any(s % m.itemsize for s in m.strides):
        m = np.array(m, order="F")
    return m


def _threads(threads):
    if threads is None:
        return 0
    try:
        count = operator.index(threads)
    except TypeError:
        raise TypeError(f"blockeig: threads must be a whole number or None, not {type(threads).__name__}") from None
    if not 1 <= count <= 1024:
        raise ValueError(f"blockeig: threads must be from 1 to 1024 (or None: one per core), not {count}")
    return count


def _warn_ierr(ierr):
    if ierr != 0:
        warnings.warn(f"blockeig: the QL iteration gave up at position {ierr} (IERR = {ierr}); "
                      "the eigenvalues are as it left them, unsorted", ConvergenceWarning, stacklevel=3)


def eigvalsh(a, threads=None):
    """The eigenvalues of the symmetric matrix a (its lower triangle with the
    diagonal), ascending: the bits of blockeig's direct phase."""
    m = _matrix(a)
    values, ierr = _blockeig.eigenvalues(m, _threads(threads))
    _warn_ierr(ierr)
    return values


def eigh(a, threads=None):
    """(w, v): the eigenvalues as eigvalsh gives them and the unit
    eigenvectors, column v[:, j] belonging to w[j]."""
    m = _matrix(a)
    values, vectors, ierr = _blockeig.eigensystem(m, _threads(threads))
    _warn_ierr(ierr)
    return values, vectors


def _subscript(k):
    return "".join(chr(0x2080 + int(d)) for d in str(k))


@dataclasses.dataclass(frozen=True)
class Accuracy:
    """How far the final E(1) ended from the lowest direct eigenvalue
    lambda_1, as the results file's end.accuracy says it. Settled (DELTA <=
    tol) is not accurate: E(1) may stop moving far from lambda_1.

    relative_lambda_1  (E(1) - lambda_1) / |lambda_1|; None when lambda_1 is 0
    nearest_rank       k of the direct eigenvalue lambda_k nearest E(1); None when E(1) is NaN
    difference         E(1) - lambda_1
    lambda_1           the lowest direct eigenvalue
    gap                lambda_2 - lambda_1, lambda_2 the next one up
    relative_gap       (E(1) - lambda_1) / (lambda_2 - lambda_1); None when the gap is 0
    norm_2             ||A||_2, the largest |direct eigenvalue|
    relative           (E(1) - lambda_1) / ||A||_2

    str() says it in words: "E(1) ended 12.3 |λ₁| above λ₁, nearest λ₄".
    """
    relative_lambda_1: float
    nearest_rank: int
    difference: float
    lambda_1: float
    gap: float
    relative_gap: float
    norm_2: float
    relative: float

    def __str__(self):
        d = self.difference
        if d != d:
            return "E(1) is NaN"
        if d == 0:
            where = "on \u03bb\u2081 to the bit"
        else:
            side = "above" if d > 0 else "below"
            if self.relative_lambda_1 is None:
                where = f"{abs(d):.3g} {side} \u03bb\u2081 = 0"
            else:
                where = f"{abs(self.relative_lambda_1):.3g} |\u03bb\u2081| {side} \u03bb\u2081"
        nearest = f", nearest \u03bb{_subscript(self.nearest_rank)}" if self.nearest_rank else ""
        return f"E(1) ended {where}{nearest}"


@dataclasses.dataclass(frozen=True)
class BlockSweeps:
    """What block_sweeps found.

    accuracy     where the final E(1) ended against the direct lambda_1 (Accuracy);
                 summary says it in words, with whether the sweeps settled
    direct       the direct eigenvalues (eigvalsh), ascending when ierr is 0
    ierr         the direct solve's IERR
    layout       the blocks: {"block", "dimension", "start", "end"} each, as the block table
    sweeps       one dict per sweep: "ITER", "W" (every block's eigenvalues), "E(1)",
                 "E(2)", "E(N-1)", "E(N)", "DELTA", as the results file holds them
    eigenvalues  the final E(1) .. E(N), by position
    converged    the last DELTA was no more than tol (the sweeps settled)
    stopped      the callback stopped the sweeps
    """
    accuracy: Accuracy
    direct: np.ndarray
    ierr: int
    layout: list
    sweeps: list
    eigenvalues: np.ndarray
    converged: bool
    stopped: bool

    @property
    def summary(self):
        """"E(1) ended 12.3 |λ₁| above λ₁, nearest λ₄; settled"."""
        end = "stopped" if self.stopped else "settled" if self.converged else "not settled"
        return f"{self.accuracy}; {end}"


def _real(value, name):
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"blockeig: {name} must be a real number, not {type(value).__name__}"
                        + ("; a callback is passed as callback=..." if callable(value) else ""))
    return float(value)


def _whole(value, name):
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"blockeig: {name} must be a whole number, not {type(value).__name__}") from None


def block_sweeps(a, nblocks, tol=_blockeig.TOL, max_sweeps=_blockeig.max_sweeps, partition=None, start=None,
                 callback=None, threads=None):
    """The program's run on a without its files: the direct eigenvalues, then
    block sweeps in nblocks blocks until E(1) moves by no more than tol
    (1.0e-6) or max_sweeps (101) sweeps have run. partition, a sequence of
    nblocks block sizes (each at least 2, summing to the order), replaces the
    program's even cut; start, an n x n array with orthonormal columns (to
    1e-12), replaces the identity the sweeps start from. callback(sweep), if
    given, receives every sweep's dict as it ends; a true return value stops
    the sweeps. The defaults give the program's bits."""
    m = _matrix(a)
    tol = _real(tol, "tol")
    max_sweeps = _whole(max_sweeps, "max_sweeps")
    sizes = [] if partition is None else [_whole(size, "a block size of partition") for size in partition]
    basis = None if start is None else _matrix(start, "start")
    try:
        count = operator.index(nblocks)
    except TypeError:
        raise TypeError(f"blockeig: nblocks must be a whole number, not {type(nblocks).__name__}") from None
    if not 1 <= count <= m.shape[0] // 2:
        raise ValueError(f"blockeig: nblocks must be from 1 to {m.shape[0] // 2} for order {m.shape[0]} "
                         f"(every block needs at least 2 positions), not {count}")
    if callback is not None and not callable(callback):
        raise TypeError("blockeig: callback must be callable or None")
    threads = _threads(threads)
    direct, ierr = _blockeig.eigenvalues(m, threads)
    run = _blockeig.block_sweeps(m, count, callback, threads, tol, max_sweeps, sizes, basis)
    final = run["eigenvalues"]
    accuracy = Accuracy(**_blockeig.accuracy(final[0], direct))
    return BlockSweeps(accuracy=accuracy, direct=direct, ierr=ierr, **run)


def _byte_order(byte_order):
    if byte_order not in ("little", "big"):
        raise ValueError(f'blockeig: byte_order must be "little" or "big", not {byte_order!r}')
    return byte_order == "big"


def _file_call(call, path, *arguments):
    path = os.fspath(path)
    try:
        return call(path, *arguments)
    except OSError as error:
        raise OSError(error.errno, os.strerror(error.errno), path) from None


def read_scr(path, byte_order="little"):
    """The matrix of an A.SCR file, as an n x n float64 array; refuses what
    the program refuses (ValueError), and reads what it reads."""
    return _file_call(_blockeig.read_scr, path, _byte_order(byte_order))


def write_scr(path, a, byte_order="little"):
    """Writes the square matrix a as an A.SCR file (every element, column by
    column); an existing file is replaced only once the new one is whole."""
    big = _byte_order(byte_order)
    _file_call(_blockeig.write_scr, path, _matrix(a), big)


from ._results import load_results  # noqa: E402  (it needs nothing above)
