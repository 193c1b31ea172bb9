"""The eigenvalues of a real symmetric matrix exactly as the blockeig program
computes them: Householder reduction and the QL algorithm with implicit
shifts in extended precision, and block Rayleigh-Ritz sweeps; the same bits
on every run and every thread count.

    eigvalsh(a, threads=None)        the eigenvalues, ascending
    eigh(a, threads=None)            (w, v): and the eigenvectors, v[:, j] for w[j]
    block_sweeps(a, nblocks, callback=None, threads=None)
                                     the block scheme, sweep by sweep
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

__all__ = ["eigvalsh", "eigh", "block_sweeps", "BlockSweeps", "read_scr", "write_scr", "load_results",
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
        except (TypeError, ValueError, OverflowError) as error:
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


@dataclasses.dataclass(frozen=True)
class BlockSweeps:
    """What block_sweeps found.

    direct       the direct eigenvalues (eigvalsh), ascending when ierr is 0
    ierr         the direct solve's IERR
    layout       the blocks: {"block", "dimension", "start", "end"} each, as the block table
    sweeps       one dict per sweep: "ITER", "W" (every block's eigenvalues), "E(1)",
                 "E(2)", "E(N-1)", "E(N)", "DELTA", as the results file holds them
    eigenvalues  the final E(1) .. E(N), by position
    converged    the last DELTA was no more than 1.0e-6
    stopped      the callback stopped the sweeps
    """
    direct: np.ndarray
    ierr: int
    layout: list
    sweeps: list
    eigenvalues: np.ndarray
    converged: bool
    stopped: bool


def block_sweeps(a, nblocks, callback=None, threads=None):
    """The program's run on a without its files: the direct eigenvalues, then
    block sweeps in nblocks blocks until E(1) moves by no more than 1.0e-6 or
    101 sweeps have run. callback(sweep), if given, receives every sweep's
    dict as it ends; a true return value stops the sweeps."""
    m = _matrix(a)
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
    run = _blockeig.block_sweeps(m, count, callback, threads)
    return BlockSweeps(direct=direct, ierr=ierr, **run)


def _byte_order(byte_order):
    if byte_order not in ("little", "big"):
        raise ValueError(f'blockeig: byte_order must be "little" or "big", not {byte_order!r}')
    return byte_order == "big"


def _file_call(call, path, *arguments):
    path = os.fspath(path)
    if ("\0" if isinstance(path, str) else b"\0") in path:
        raise ValueError(f"blockeig: embedded null character in the file name {path!r}")
    try:
        return call(path, *arguments)
    except OSError as error:
        # The system's text, or the library's where no errno says it ("it
        # is a FIFO, not a regular file").
        reason = os.strerror(error.errno)
        if not error.strerror.endswith(reason):
            reason = error.strerror.rsplit(": ", 1)[-1]
        raise OSError(error.errno, reason, path) from None


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
