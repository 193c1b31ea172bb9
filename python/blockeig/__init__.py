"""The eigenvalues of a real symmetric matrix exactly as the blockeig program
computes them: Householder reduction and the QL algorithm with implicit
shifts in extended precision, and block Rayleigh-Ritz sweeps; the same bits
on every run and every thread count.

    eigvalsh(a, threads=None)        the eigenvalues, ascending
    eigh(a, threads=None)            (w, v): and the eigenvectors, v[:, j] for w[j]
    block_sweeps(a, nblocks, tol=1.0e-6, max_sweeps=101, partition=None, start=None,
                 callback=None, threads=None)
                                     the block scheme, sweep by sweep, and where E(1)
                                     ended (BlockSweeps, its Accuracy)
    read_scr(path, byte_order="little"), write_scr(path, a, byte_order="little")
                                     the program's matrix files (A.SCR)
    load_results(path)               a results file (blockeig --results)
    limits, max_block_count(n)       the library's limits

The direct solve reads the lower triangle with the diagonal; the block
sweeps read every element. threads=None (or 0) uses one thread per core.
The GIL is released while the library computes; Ctrl-C ends block_sweeps at
the end of the sweep in progress with KeyboardInterrupt. When the QL
iteration gives up, eigvalsh and eigh raise blockeig.LinAlgError, a
numpy.linalg.LinAlgError, which carries IERR and the values.
"""

import dataclasses
import operator
import os
import sys

try:
    import numpy as np
except ImportError as error:
    raise ImportError(f"blockeig needs numpy, which {sys.executable} cannot import ({error}): "
                      "pip install numpy, or Debian's python3-numpy for /usr/bin/python3") from error
try:
    from . import _blockeig
except ImportError as error:
    raise ImportError(f"blockeig's extension was not built for this Python ({sys.version.split()[0]}, "
                      f"{sys.executable}) or cannot be loaded ({error}): pip install . builds it for the "
                      "Python that runs pip") from error
from ._summary import run_table

__all__ = ["eigvalsh", "eigh", "block_sweeps", "BlockSweeps", "Accuracy", "read_scr", "write_scr", "load_results",
           "LinAlgError", "Limits", "limits", "max_block_count", "__version__", "arithmetic",
           "kernels"]

__version__ = _blockeig.version
arithmetic = _blockeig.arithmetic
# The kernels the calls run ("AVX-512", "x87 tiles of 4 sums", ...): the same
# bits whichever they are.
kernels = _blockeig.kernels


@dataclasses.dataclass(frozen=True)
class Limits:
    """The library's limits: a matrix's order is from min_order to
    max_order (a matrix file's to max_file_order); threads is None or 0 (one
    per core), or from 1 to max_threads."""
    min_order: int
    max_order: int
    max_file_order: int
    max_threads: int


limits = Limits(**_blockeig.limits)


def max_block_count(n):
    """The most blocks block_sweeps takes for order n (every block needs two
    positions): nblocks runs from 1 to max_block_count(n)."""
    return _blockeig.max_block_count(_whole(n, "n"))


class LinAlgError(np.linalg.LinAlgError):
    """The QL iteration gave up: ierr (the program's IERR) is the position
    at which it stopped; values (and, from eigh, vectors) are as it left
    them, unsorted: what the program prints."""

    def __init__(self, message, ierr, values, vectors=None):
        super().__init__(message)
        self.ierr = ierr
        self.values = values
        self.vectors = vectors

    def __reduce__(self):
        return type(self), (str(self), self.ierr, self.values, self.vectors)


def _matrix(a, name="a"):
    """`a` as a square float64 array, read where it lies when it can be."""
    try:
        m = np.asarray(a)
    except (TypeError, ValueError) as error:
        raise TypeError(f"blockeig: {name} cannot be read as an array of numbers: {error}") from None
    if m.dtype.kind not in "biuf":
        if m.dtype.kind != "O":
            raise TypeError(f"blockeig: {name} holds {m.dtype} values, which are not real numbers (float64)")
        try:
            m = m.astype(np.float64)
        except (TypeError, ValueError, OverflowError) as error:
            raise TypeError(f"blockeig: {name} holds values that are not real numbers: {error}") from None
    if m.ndim != 2 or m.shape[0] != m.shape[1]:
        raise ValueError(f"blockeig: {name} must be a square matrix (an n x n array); its shape is {m.shape}")
    m = m.astype(np.float64, copy=False)
    if not m.flags.aligned or any(s % m.itemsize for s in m.strides):
        m = np.array(m, order="F")
    return m


def _whole(value, name):
    """value as an int, for the library to judge."""
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"blockeig: {name} must be a whole number, not {type(value).__name__}") from None


def _threads(threads):
    return 0 if threads is None else _whole(threads, "threads")


def _real(value, name):
    """value as a float, for the library to judge."""
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"blockeig: {name} must be a real number, not {type(value).__name__}"
                        + ("; a callback is passed as callback=..." if callable(value) else ""))
    return float(value)


def _gave_up(ierr, values, vectors=None):
    """LinAlgError for a direct solve whose QL iteration gave up."""
    return LinAlgError(f"blockeig: the QL iteration gave up at position {ierr} (IERR = {ierr}); "
                       "the eigenvalues are as it left them, unsorted (LinAlgError.values)", ierr, values, vectors)


def eigvalsh(a, threads=None):
    """The eigenvalues of the symmetric matrix a (its lower triangle with the
    diagonal), ascending: the bits of blockeig's direct phase. Raises
    LinAlgError when the QL iteration gives up."""
    m = _matrix(a)
    values, ierr = _blockeig.eigenvalues(m, _threads(threads))
    if ierr != 0:
        raise _gave_up(ierr, values)
    return values


def eigh(a, threads=None):
    """(w, v): the eigenvalues as eigvalsh gives them and the unit
    eigenvectors, column v[:, j] belonging to w[j]. Raises LinAlgError when
    the QL iteration gives up."""
    m = _matrix(a)
    values, vectors, ierr = _blockeig.eigensystem(m, _threads(threads))
    if ierr != 0:
        raise _gave_up(ierr, values, vectors)
    return values, vectors


def _subscript(k):
    return "".join(chr(0x2080 + int(d)) for d in str(k))


@dataclasses.dataclass(frozen=True)
class Accuracy:
    """How far the final E(1) ended from the lowest direct eigenvalue
    lambda_1, as the results file's end.accuracy says it. Settled (DELTA <=
    TOL) is not accurate: E(1) may stop moving far from lambda_1.

    relative_lambda_1  (E(1) - lambda_1) / |lambda_1|; None when lambda_1 is 0
    nearest_rank       k of the direct eigenvalue lambda_k nearest E(1); None when E(1) is NaN
    difference         E(1) - lambda_1
    lambda_1           the lowest direct eigenvalue
    gap                lambda_2 - lambda_1, lambda_2 the next one up
    relative_gap       (E(1) - lambda_1) / (lambda_2 - lambda_1); None when the gap is 0
    norm_2             ||A||_2, the largest |direct eigenvalue|
    relative           (E(1) - lambda_1) / ||A||_2, small whenever ||A||_2 is large against |lambda_1|

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


@dataclasses.dataclass(frozen=True, eq=False, repr=False)
class BlockSweeps:
    """What block_sweeps found. Of k sweeps, the history holds one value per
    sweep in arrays of shape (k,): iterations (ITER, 1 to k), E1, E2, EN1,
    EN (E(1), E(2), E(N-1), E(N) after the sweep) and DELTA; W[b] is block
    b + 1's eigenvalues in every sweep, of shape (k, its dimension).

    accuracy     where the final E(1) ended against the direct lambda_1 (Accuracy);
                 summary says it in words, with whether the sweeps settled
    direct       the direct eigenvalues (eigvalsh), ascending when ierr is 0
    ierr         the direct solve's IERR (the sweeps run whatever it is, as the program's)
    layout       the blocks: {"block", "dimension", "start", "end"} each, as the block table
    iterations, E1, E2, EN1, EN, DELTA, W
                 the history, above
    eigenvalues  the final E(1) .. E(N), by position
    converged    the last DELTA was no more than TOL: the sweeps settled
    stopped      the callback stopped the sweeps
    """
    accuracy: Accuracy
    direct: np.ndarray
    ierr: int
    layout: list
    iterations: np.ndarray
    E1: np.ndarray
    E2: np.ndarray
    EN1: np.ndarray
    EN: np.ndarray
    DELTA: np.ndarray
    W: tuple
    eigenvalues: np.ndarray
    converged: bool
    stopped: bool

    @property
    def summary(self):
        """"E(1) ended 12.3 |λ₁| above λ₁, nearest λ₄; settled"."""
        end = "stopped" if self.stopped else "settled" if self.converged else "not settled"
        return f"{self.accuracy}; {end}"

    def _table(self):
        a = self.accuracy
        return run_table("blockeig.BlockSweeps", self.direct.size, len(self.layout), self.iterations.size,
                         self.converged, a.relative_lambda_1, a.nearest_rank, a.difference)

    def __repr__(self):
        return self._table().text()

    def _repr_html_(self):
        return self._table().html()


def block_sweeps(a, nblocks, tol=_blockeig.TOL, max_sweeps=_blockeig.max_sweeps, partition=None, start=None,
                 callback=None, threads=None):
    """The program's run on a without its files: the direct eigenvalues, then
    block sweeps in nblocks blocks (1 to max_block_count(n)) until E(1)
    moves by no more than tol (1.0e-6) or max_sweeps (101) sweeps have run.
    partition, a sequence of nblocks block sizes (each at least 2, summing to
    the order), replaces the program's even cut; start, an n x n array with
    orthonormal columns (to 1e-12), replaces the identity the sweeps start
    from. The defaults give the program's bits. callback(sweep), if given,
    receives every sweep as it ends, a dict with the results file's names
    ("ITER", "W", "E(1)", "E(2)", "E(N-1)", "E(N)", "DELTA"); a true return
    value stops the sweeps."""
    m = _matrix(a)
    count = _whole(nblocks, "nblocks")
    tol = _real(tol, "tol")
    max_sweeps = _whole(max_sweeps, "max_sweeps")
    sizes = [] if partition is None else [_whole(size, "a block size of partition") for size in partition]
    basis = None if start is None else _matrix(start, "start")
    if callback is not None and not callable(callback):
        raise TypeError("blockeig: callback must be callable or None")
    threads = _threads(threads)
    direct, ierr = _blockeig.eigenvalues(m, threads)
    run = _blockeig.block_sweeps(m, count, callback, threads, tol, max_sweeps, sizes, basis)
    accuracy = Accuracy(**_blockeig.accuracy(run["eigenvalues"][0], direct))
    return BlockSweeps(accuracy=accuracy, direct=direct, ierr=ierr, **run)


def _byte_order(byte_order):
    if byte_order not in ("little", "big"):
        raise ValueError(f'blockeig: byte_order must be "little" or "big", not {byte_order!r}')
    return byte_order == "big"


def _path(path):
    """path as the library takes it; a name with a NUL in it, which the system
    would cut short, is a ValueError as open() makes it."""
    path = os.fspath(path)
    if ("\0" if isinstance(path, str) else b"\0") in path:
        raise ValueError(f"blockeig: embedded null character in the file name {path!r}")
    return path


def read_scr(path, byte_order="little"):
    """The matrix of an A.SCR file, as an n x n float64 array; refuses what
    the program refuses (ValueError), and reads what it reads."""
    return _blockeig.read_scr(_path(path), _byte_order(byte_order))


def write_scr(path, a, byte_order="little"):
    """Writes the square matrix a as an A.SCR file (every element, column by
    column); an existing file is replaced only once the new one is whole."""
    big = _byte_order(byte_order)
    _blockeig.write_scr(_path(path), _matrix(a), big)


from ._results import load_results  # noqa: E402  (it needs nothing above)
