"""The Python module against numpy within rounding, against the program's
results file bit for bit, and on every bad input."""

import multiprocessing
import os
import signal
import subprocess
import sys
import threading
import warnings

import numpy as np
import pytest

import blockeig


def same_bits(got, want):
    """Equal to the bit, NaN matching NaN (the results file keeps no payload)."""
    got = np.asarray(got, dtype=np.float64)
    want = np.asarray(want, dtype=np.float64)
    if got.shape != want.shape or not np.array_equal(np.isnan(got), np.isnan(want)):
        return False
    keep = ~np.isnan(got)
    return np.array_equal(got[keep].view(np.uint64), want[keep].view(np.uint64))


def random_matrix(n, seed, symmetric=True):
    a = np.random.default_rng(seed).uniform(-1, 1, (n, n))
    return (a + a.T) / 2 if symmetric else a


def run_program(directory, nblocks):
    subprocess.run([os.environ["BLOCKEIG_BIN"], "--results", "run.json"], cwd=directory, input=f"{nblocks}\n",
                   text=True, capture_output=True, check=True)
    return blockeig.load_results(directory / "run.json")


@pytest.fixture(scope="module")
def end_to_end_cases(tmp_path_factory):
    root = tmp_path_factory.mktemp("cases")
    subprocess.run([os.environ["BLOCKEIG_CATALOGUE_BIN"], root], check=True)
    return sorted(root.iterdir())


def test_same_bits_as_the_program_on_every_end_to_end_case(end_to_end_cases):
    for case in end_to_end_cases:
        nblocks = int((case / "blocks.txt").read_text())
        run = run_program(case, nblocks)
        a = blockeig.read_scr(case / "A.SCR")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", blockeig.ConvergenceWarning)
            direct = blockeig.eigvalsh(a, threads=2)
            # Stored row by row this time: the same matrix, the same bits.
            result = blockeig.block_sweeps(np.ascontiguousarray(a), nblocks, threads=1)
        assert same_bits(direct, run["direct"]["eigenvalues"]), case.name
        assert same_bits(result.direct, direct), case.name
        assert result.ierr == run["direct"]["IERR"], case.name
        assert result.layout == run["blocks"]["layout"], case.name
        assert len(result.sweeps) == len(run["sweeps"]), case.name
        for got, want in zip(result.sweeps, run["sweeps"]):
            assert got["ITER"] == want["ITER"]
            assert all(same_bits(g, w) for g, w in zip(got["W"], want["W"], strict=True)), (case.name, got["ITER"])
            for key in ("E(1)", "E(2)", "E(N-1)", "E(N)", "DELTA"):
                assert same_bits(got[key], want[key]), (case.name, got["ITER"], key)
        assert same_bits(result.eigenvalues, run["end"]["E"]), case.name
        assert result.converged == run["end"]["converged"], case.name
        assert not result.stopped


@pytest.mark.parametrize("n", [2, 3, 17, 120])
def test_close_to_numpy(n):
    a = random_matrix(n, n)
    expected = np.linalg.eigvalsh(a)
    assert np.max(np.abs(blockeig.eigvalsh(a) - expected)) <= 8 * n * np.finfo(float).eps * np.max(np.abs(expected))
    w, v = blockeig.eigh(a)
    assert same_bits(w, blockeig.eigvalsh(a))
    assert np.max(np.abs(a @ v - v * w)) <= 8 * n * np.finfo(float).eps * np.max(np.abs(w))
    assert np.max(np.abs(v.T @ v - np.eye(n))) <= 8 * n * np.finfo(float).eps


def layouts(a):
    """The matrix a held in other ways: C order, a strided view, reversed
    strides, read-only, and (its values allowing) other element types."""
    n = a.shape[0]
    wide = np.zeros((2 * n, 3 * n))
    wide[::2, ::3] = a
    reversed_strides = np.empty_like(a)
    reversed_strides[::-1, ::-1] = a
    read_only = np.asfortranarray(a)
    read_only.setflags(write=False)
    yield "C order", np.ascontiguousarray(a)
    yield "strided view", wide[::2, ::3]
    yield "negative strides", reversed_strides[::-1, ::-1]
    yield "columns from the last", np.asfortranarray(a[:, ::-1])[:, ::-1]
    yield "read-only", read_only
    yield "nested lists", a.tolist()
    if np.array_equal(a, np.round(a)):
        yield "int32", a.astype(np.int32)
        yield "float32", a.astype(np.float32)


@pytest.mark.parametrize("a", [np.asfortranarray(random_matrix(30, 1, symmetric=False)),
                               np.asfortranarray(np.round(8 * random_matrix(12, 2)))])
def test_every_layout_gives_the_same_bits(a):
    direct = blockeig.eigvalsh(a)
    sweeps = blockeig.block_sweeps(a, 3)
    for name, held in layouts(a):
        assert same_bits(blockeig.eigvalsh(held), direct), name
        assert same_bits(blockeig.block_sweeps(held, 3).eigenvalues, sweeps.eigenvalues), name


def test_views_with_zero_strides():
    column = random_matrix(6, 9)[:, 0].copy()
    for view in (np.broadcast_to(column[:, None], (6, 6)), np.broadcast_to(column[None, :], (6, 6))):
        copy = np.array(view, order="F")
        assert same_bits(blockeig.eigvalsh(view), blockeig.eigvalsh(copy))
        assert same_bits(blockeig.block_sweeps(view, 2).eigenvalues, blockeig.block_sweeps(copy, 2).eigenvalues)


def test_callbacks_see_every_sweep_and_can_stop():
    a = random_matrix(40, 3) + np.diag(np.arange(40.0))
    full = blockeig.block_sweeps(a, 4)
    assert full.converged and len(full.sweeps) > 3
    seen = []
    stopped = blockeig.block_sweeps(a, 4, callback=lambda sweep: seen.append(sweep) or sweep["ITER"] == 2)
    assert stopped.stopped and not stopped.converged
    assert [s["ITER"] for s in seen] == [1, 2] and stopped.sweeps == seen
    assert same_bits(seen[1]["DELTA"], full.sweeps[1]["DELTA"])

    def failing(sweep):
        raise ZeroDivisionError("from the callback")
    with pytest.raises(ZeroDivisionError, match="from the callback"):
        blockeig.block_sweeps(a, 4, callback=failing)


def test_ctrl_c_ends_the_sweeps():
    # Entries near 1e9: E(1) never settles within 1.0e-6, so 101 sweeps
    # would run. The signal comes from another thread, which can run only
    # because the call lets the GIL go.
    a = 1e9 * random_matrix(200, 4)
    seen = []
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            blockeig.block_sweeps(a, 2, callback=seen.append, threads=1)
    finally:
        timer.cancel()
    assert 0 < len(seen) < 101


# A daemon thread inside a call while the interpreter ends: computing, or in
# a callback that lets the GIL go. The object deleted as the interpreter
# ends lets the GIL go for a while, so that the daemon thread tries to take
# it back meanwhile.
_INTERPRETER_ENDS = """
import os, signal, sys, threading, time, types
import numpy as np
import blockeig
rng = np.random.default_rng(4)
a = rng.uniform(-1, 1, (100, 100))
a = 1e9 * (a + a.T)
inside = threading.Event()
def sweeps():
    blockeig.block_sweeps(a, 2, callback=lambda sweep: inside.set() or time.sleep(0.01), threads=1)
def computing():
    while True:
        inside.set()
        blockeig.eigvalsh(a[:60, :60], threads=2)
class LastToGo:
    def __del__(self, sleep=time.sleep):
        sleep(0.5)
# In a module of its own, which the interpreter empties as it ends (the
# daemon thread keeps __main__ alive).
sys.modules["last_to_go"] = types.ModuleType("last_to_go")
sys.modules["last_to_go"].last = LastToGo()
threading.Thread(target=globals()[sys.argv[1]], daemon=True).start()
inside.wait()
if sys.argv[2] == "ctrl-c":
    os.kill(os.getpid(), signal.SIGINT)
    time.sleep(10)
"""


def test_the_interpreter_ends_normally_while_a_daemon_thread_is_in_a_call():
    cases = [("sweeps", "return", 0), ("computing", "return", 0), ("sweeps", "ctrl-c", -signal.SIGINT)]
    for work, ending, status in cases:
        run = subprocess.run([sys.executable, "-c", _INTERPRETER_ENDS, work, ending], capture_output=True, text=True,
                             timeout=60)
        assert run.returncode == status, (work, ending, run.returncode, run.stderr)
        assert "terminate" not in run.stderr, (work, ending, run.stderr)


def _eigenvalues_in_child(a, queue):
    queue.put(blockeig.eigvalsh(a, threads=2))


def test_multiprocessing_forks_while_a_thread_waits_in_a_callback():
    a = random_matrix(30, 10)
    want = blockeig.eigvalsh(a)
    busy = 1e9 * random_matrix(60, 4)
    inside, forked = threading.Event(), threading.Event()
    thread = threading.Thread(target=blockeig.block_sweeps,
                              args=(busy, 2, lambda sweep: inside.set() or forked.wait(30)))
    thread.start()
    inside.wait(30)
    try:
        context = multiprocessing.get_context("fork")
        queue = context.Queue()
        child = context.Process(target=_eigenvalues_in_child, args=(a, queue))
        child.start()
        child.join(30)
        if child.exitcode is None:
            child.kill()
        assert child.exitcode == 0
        assert same_bits(queue.get(timeout=5), want)
    finally:
        forked.set()
        thread.join()


def test_written_files_are_the_programs(tmp_path):
    a = random_matrix(7, 5, symmetric=False)
    blockeig.write_scr(tmp_path / "A.SCR", np.ascontiguousarray(a))
    head = np.frombuffer((tmp_path / "A.SCR").read_bytes()[:16], dtype="<i4")
    assert head.tolist() == [4, 7, 4, 8 * 49]
    assert np.array_equal(blockeig.read_scr(tmp_path / "A.SCR"), a)
    assert same_bits(run_program(tmp_path, 1)["direct"]["eigenvalues"], blockeig.eigvalsh(a))


def test_results_files(tmp_path):
    a = random_matrix(6, 6)
    a[2, 1] = a[1, 2] = np.nan
    blockeig.write_scr(tmp_path / "A.SCR", a)
    run = run_program(tmp_path, 2)
    assert run["format"] == 1 and run["state"] == "finished"
    assert np.isnan(run["sweeps"][0]["DELTA"]) and np.isnan(run["end"]["E"]).all()
    assert np.isnan(run["end"]["accuracy"]["difference"])
    assert isinstance(run["input"]["path"], str)


def test_file_names_the_system_cannot_take(tmp_path):
    good = random_matrix(3, 8)
    (tmp_path / ".x").write_text("temporary?")
    blockeig.write_scr(tmp_path / "x", good)
    kept = (tmp_path / "x").read_bytes()
    (tmp_path / "d").mkdir()
    os.mkfifo(tmp_path / "p")
    nul = str(tmp_path / "x") + "\0y.scr"
    cases = [
        ("write, NUL in a str", ValueError, "null", blockeig.write_scr, (nul, good)),
        ("write, NUL in bytes", ValueError, "null", blockeig.write_scr, (os.fsencode(nul), good)),
        ("read, NUL in a path-like", ValueError, "null", blockeig.read_scr, (FsPath(nul),)),
        ("read, NUL in bytes", ValueError, "null", blockeig.read_scr, (os.fsencode(str(tmp_path / "x")) + b"\0",)),
        ("write, a directory", IsADirectoryError, "Is a directory", blockeig.write_scr, (tmp_path / "d", good)),
        ("write, a FIFO", OSError, "it is a FIFO, not a regular file", blockeig.write_scr, (tmp_path / "p", good)),
        ("read, a name that is not UTF-8", FileNotFoundError, "No such file", blockeig.read_scr,
         (os.fsencode(str(tmp_path)) + b"/\xff",)),
    ]
    for name, expected, text, call, arguments in cases:
        with pytest.raises(expected, match=text):
            call(*arguments)
    assert (tmp_path / ".x").read_text() == "temporary?"
    assert (tmp_path / "x").read_bytes() == kept
    assert sorted(p.name for p in tmp_path.iterdir()) == [".x", "d", "p", "x"]


class FsPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


def bad_calls(tmp_path):
    good = random_matrix(6, 7)
    short = tmp_path / "short.scr"
    short.write_bytes(b"\x04\x00\x00\x00\x06\x00\x00\x00\x04\x00\x00\x00\x01\x02")
    order_one = tmp_path / "order_one.scr"
    blockeig.write_scr(order_one, np.eye(2))
    order_one.write_bytes(order_one.read_bytes().replace(b"\x02\x00\x00\x00", b"\x01\x00\x00\x00", 1))
    other_format = tmp_path / "other.json"
    other_format.write_text('{"format": 2}')
    not_json = tmp_path / "not.json"
    not_json.write_text("N = 4")
    nested = {}
    for depth in (900, 100000):
        nested[depth] = tmp_path / f"nested{depth}.json"
        nested[depth].write_text('{"format": 1, "sweeps": ' + "[" * depth + "]" * depth + "}")
    format_true = tmp_path / "true.json"
    format_true.write_text('{"format": true}')
    format_float = tmp_path / "float.json"
    format_float.write_text('{"format": 1.0}')
    huge = np.broadcast_to(1.0, (1 << 20, 1 << 20))
    return [
        ("1-D", ValueError, blockeig.eigvalsh, (np.zeros(3),), {}),
        ("3-D", ValueError, blockeig.eigvalsh, (np.zeros((2, 2, 2)),), {}),
        ("not square", ValueError, blockeig.eigvalsh, (np.zeros((2, 3)),), {}),
        ("1 x 1", ValueError, blockeig.eigvalsh, (np.ones((1, 1)),), {}),
        ("0 x 0", ValueError, blockeig.eigh, (np.zeros((0, 0)),), {}),
        ("no blocks", ValueError, blockeig.block_sweeps, (good, 0), {}),
        ("blocks of one position", ValueError, blockeig.block_sweeps, (good, 4), {}),
        ("threads 0", ValueError, blockeig.eigvalsh, (good,), {"threads": 0}),
        ("threads 1025", ValueError, blockeig.eigvalsh, (good,), {"threads": 1025}),
        ("byte order", ValueError, blockeig.write_scr, (tmp_path / "x.scr", good), {"byte_order": "middle"}),
        ("short record", ValueError, blockeig.read_scr, (short,), {}),
        ("order 1 in a file", ValueError, blockeig.read_scr, (order_one,), {}),
        ("results format 2", ValueError, blockeig.load_results, (other_format,), {}),
        ("results not JSON", ValueError, blockeig.load_results, (not_json,), {}),
        ("results nested 900 deep", ValueError, blockeig.load_results, (nested[900],), {}),
        ("results nested 100000 deep", ValueError, blockeig.load_results, (nested[100000],), {}),
        ("results format true", ValueError, blockeig.load_results, (format_true,), {}),
        ("results format 1.0", ValueError, blockeig.load_results, (format_float,), {}),
        ("strings", TypeError, blockeig.eigvalsh, ([["a", "b"], ["c", "d"]],), {}),
        ("complex", TypeError, blockeig.eigvalsh, (good + 1j,), {}),
        ("objects", TypeError, blockeig.eigvalsh, ([[object(), 1], [1, 1]],), {}),
        ("an integer beyond float64", TypeError, blockeig.eigvalsh, ([[10**400, 1], [1, 1]],), {}),
        ("threads as text", TypeError, blockeig.eigvalsh, (good,), {"threads": "2"}),
        ("fractional blocks", TypeError, blockeig.block_sweeps, (good, 1.5), {}),
        ("callback not callable", TypeError, blockeig.block_sweeps, (good, 1), {"callback": 3}),
        ("no memory for eigvalsh", MemoryError, blockeig.eigvalsh, (huge,), {}),
        ("no memory for eigh", MemoryError, blockeig.eigh, (huge,), {}),
        ("no memory for block_sweeps", MemoryError, blockeig.block_sweeps, (huge, 1), {}),
        ("missing file", FileNotFoundError, blockeig.read_scr, (tmp_path / "missing.scr",), {}),
        ("missing directory", FileNotFoundError, blockeig.write_scr, (tmp_path / "missing" / "A.SCR", good), {}),
    ]


def test_bad_input_raises_and_never_crashes(tmp_path):
    for name, expected, call, arguments, keywords in bad_calls(tmp_path):
        try:
            call(*arguments, **keywords)
        except expected as error:
            assert "blockeig" in str(error) or isinstance(error, OSError), (name, error)
        else:
            pytest.fail(f"{name}: no {expected.__name__}")
