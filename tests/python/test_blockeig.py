"""The Python module against numpy within rounding, against the program's
results file bit for bit, and on every bad input."""

import dataclasses
import multiprocessing
import os
import pickle
import signal
import subprocess
import sys
import threading
import tomllib
from pathlib import Path

import numpy as np
import pytest

import blockeig

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "build_backend"))
import blockeig_build  # noqa: E402
import blockeig_site  # noqa: E402


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


def run_program(directory, nblocks, *options):
    subprocess.run([os.environ["BLOCKEIG_BIN"], "--results", "run.json", *options], cwd=directory,
                   input=f"{nblocks}\n", text=True, capture_output=True, check=True)
    return blockeig.load_results(directory / "run.json")


def test_names_the_program_s_arithmetic_and_kernels():
    """The module names the arithmetic and kernels that the program's --version names by default."""
    version = subprocess.run([os.environ["BLOCKEIG_BIN"], "--version"], text=True, capture_output=True, check=True,
                             env={**os.environ, "BLOCKEIG_KERNELS": "auto"}).stdout
    assert version == f"blockeig {blockeig.__version__} ({blockeig.arithmetic} extended arithmetic)\n" \
                      f"kernels: {blockeig.kernels}\n"


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
        try:
            direct = blockeig.eigvalsh(a, threads=2)
        except blockeig.LinAlgError as error:
            assert error.ierr == run["direct"]["IERR"] != 0, case.name
            direct = error.values
        # Stored row by row this time: the same matrix, the same bits.
        result = blockeig.block_sweeps(np.ascontiguousarray(a), nblocks, threads=1)
        assert same_bits(direct, run["direct"]["eigenvalues"]), case.name
        assert same_bits(result.direct, direct), case.name
        assert result.ierr == run["direct"]["IERR"], case.name
        assert result.layout == run["blocks"]["layout"], case.name
        sweeps = run["sweeps"]
        assert result.iterations.tolist() == [sweep["ITER"] for sweep in sweeps], case.name
        for b, block in enumerate(result.W):
            assert block.shape == (len(sweeps), result.layout[b]["dimension"]), case.name
            assert same_bits(block, [sweep["W"][b] for sweep in sweeps]), (case.name, b)
        for name, key in (("E1", "E(1)"), ("E2", "E(2)"), ("EN1", "E(N-1)"), ("EN", "E(N)"), ("DELTA", "DELTA")):
            assert same_bits(getattr(result, name), [sweep[key] for sweep in sweeps]), (case.name, key)
        assert same_bits(result.eigenvalues, run["end"]["E"]), case.name
        assert result.converged == run["end"]["converged"], case.name
        assert not result.stopped
        for key, value in dataclasses.asdict(result.accuracy).items():
            assert same_bits(np.nan if value is None else value,
                             np.nan if run["end"]["accuracy"][key] is None else run["end"]["accuracy"][key]), key


def test_rule_partition_and_start(tmp_path):
    a = random_matrix(40, 7)
    blockeig.write_scr(tmp_path / "A.SCR", a)
    run = run_program(tmp_path, 4, "--tol", "1e-9", "--max-sweeps", "30")
    ruled = blockeig.block_sweeps(a, 4, tol=1e-9, max_sweeps=30)
    assert ruled.iterations.size == len(run["sweeps"]) <= 30
    assert same_bits(ruled.eigenvalues, run["end"]["E"]) and ruled.converged == run["end"]["settled"]
    # The program's layout and the identity, given, are the defaults' bits.
    default = blockeig.block_sweeps(a, 4)
    same = blockeig.block_sweeps(a, 4, partition=[10, 10, 10, 10], start=np.eye(40))
    assert same_bits(same.eigenvalues, default.eigenvalues) and same.iterations.size == default.iterations.size
    q = np.linalg.qr(random_matrix(40, 8))[0]
    other = blockeig.block_sweeps(a, 3, partition=[4, 30, 6], start=q)
    assert [b["dimension"] for b in other.layout] == [4, 30, 6]
    assert not same_bits(other.W[0][0], blockeig.block_sweeps(a, 3, partition=[4, 30, 6]).W[0][0])
    assert "|\u03bb\u2081|" in other.summary


@pytest.mark.parametrize("options, error, message", [
    ({"tol": 0.0}, ValueError, "tol 0 is not a positive number"),
    ({"tol": "1e-9"}, TypeError, "tol must be a real number"),
    ({"max_sweeps": 100000}, ValueError, "max_sweeps 100000 is not from 1 to 99999"),
    ({"partition": [6, 6]}, ValueError, "partition has 2 block sizes for 3 blocks"),
    ({"partition": [1, 5, 6]}, ValueError, "block 1 has size 1; every block needs at least 2"),
    ({"partition": [2, 4, 4]}, ValueError, "add up to 10, not to the order 12"),
    ({"start": np.eye(11)}, ValueError, "start: its order is 11"),
    ({"start": np.eye(12) + 1e-9 * np.eye(12, k=1)}, ValueError, "columns 1 and 2 have dot product 1e-09"),
])
def test_sweep_options_refused(options, error, message):
    with pytest.raises(error, match=message.replace("(", "\\(")):
        blockeig.block_sweeps(random_matrix(12, 9), 3, **options)


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
    assert full.converged and full.iterations.size > 3
    seen = []
    stopped = blockeig.block_sweeps(a, 4, callback=lambda sweep: seen.append(sweep) or sweep["ITER"] == 2)
    assert stopped.stopped and not stopped.converged
    assert [s["ITER"] for s in seen] == [1, 2] == stopped.iterations.tolist()
    assert same_bits(seen[1]["DELTA"], full.DELTA[1]) and same_bits(seen[1]["W"][3], full.W[3][1])

    def failing(sweep):
        raise ZeroDivisionError("from the callback")
    with pytest.raises(ZeroDivisionError, match="from the callback"):
        blockeig.block_sweeps(a, 4, callback=failing)


def test_ctrl_c_ends_the_sweeps():
    # Entries near 1e9: E(1) never settles within 1.0e-6, so 101 sweeps
    # would run. The signal comes from another thread, which can run only
    # because the call lets the GIL go.
    # The timer starts at the first sweep's end: on a loaded machine the
    # direct solve and the first sweep may take longer than any fixed delay.
    a = 1e9 * random_matrix(200, 4)
    seen = []
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))

    def watch(sweep):
        seen.append(sweep)
        if len(seen) == 1:
            timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            blockeig.block_sweeps(a, 2, callback=watch, threads=1)
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
        ("blocks beyond int32", ValueError, blockeig.block_sweeps, (good, 1 << 80), {}),
        ("threads -1", ValueError, blockeig.eigvalsh, (good,), {"threads": -1}),
        ("threads above the cap", ValueError, blockeig.eigh, (good,), {"threads": blockeig.limits.max_threads + 1}),
        ("threads beyond int", ValueError, blockeig.block_sweeps, (good, 1), {"threads": -(1 << 80)}),
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


def test_a_failed_ql_iteration_raises_numpys_linalgerror_with_ierr_and_values():
    a = np.array([[np.nan, 1.0], [1.0, 1.0]])
    for call in (blockeig.eigvalsh, blockeig.eigh):
        with pytest.raises(np.linalg.LinAlgError) as caught:
            call(a)
        error = caught.value
        assert isinstance(error, blockeig.LinAlgError) and error.ierr != 0 and f"IERR = {error.ierr}" in str(error)
        assert error.values.shape == (2,) and (error.vectors is None) == (call is blockeig.eigvalsh)
        again = pickle.loads(pickle.dumps(error))
        assert str(again) == str(error) and again.ierr == error.ierr and same_bits(again.values, error.values)
    # The sweeps run on whatever the direct solve gave, as the program's do.
    assert blockeig.block_sweeps(a, 1).ierr == error.ierr


@pytest.mark.parametrize("call, message", [
    (lambda: blockeig.eigvalsh(np.eye(1)), "blockeig: order 1 is not from {min_order} to {max_order}"),
    (lambda: blockeig.block_sweeps(np.eye(6), blockeig.max_block_count(6) + 1),
     "blockeig: block count 4 is not from 1 to 3 (every block needs at least 2 positions)"),
    (lambda: blockeig.eigvalsh(np.eye(3), threads=-1),
     "blockeig: thread count -1 is not from 0 (one per core) to {max_threads}"),
    (lambda: blockeig.read_scr("missing.scr"), "blockeig: cannot open missing.scr: No such file or directory"),
])
def test_errors_keep_the_librarys_message_and_limits(call, message):
    with pytest.raises((ValueError, OSError)) as caught:
        call()
    assert message.format(**dataclasses.asdict(blockeig.limits)) in str(caught.value)


def test_threads_zero_is_one_per_core():
    a = random_matrix(9, 9)
    assert same_bits(blockeig.eigvalsh(a, threads=0), blockeig.eigvalsh(a))


def test_runs_and_results_files_show_as_short_tables(tmp_path):
    a = random_matrix(12, 8) + np.diag(np.arange(12.0))
    run = blockeig.block_sweeps(a, 3)
    lines = repr(run).splitlines()
    assert lines[0] == "blockeig.BlockSweeps" and lines[1].split() == ["N", "blocks", "sweeps", "settled", "/",
                                                                       "|lambda_1|", "nearest", "E(1)", "-", "lambda_1"]
    row = lines[2].split()
    assert row[:4] == ["12", "3", str(run.iterations.size), "yes" if run.converged else "no"]
    # Where E(1) ended relative to |lambda_1| and the nearest rank lead.
    assert float(row[4]) == pytest.approx(run.accuracy.relative_lambda_1, rel=1e-5)
    assert row[5] == str(run.accuracy.nearest_rank)
    assert float(row[6]) == pytest.approx(run.eigenvalues[0] - run.direct[0], rel=1e-5)
    assert run._repr_html_().startswith("<table>") and "<td>12</td><td>3</td>" in run._repr_html_()
    blockeig.write_scr(tmp_path / "A.SCR", a)
    document = run_program(tmp_path, 3)
    assert repr(document).splitlines()[0] == "blockeig results (finished)"
    assert repr(document).splitlines()[2] == lines[2] and document["input"]["N"] == 12
    # Members missing, or not where the schema puts them, show as "-".
    odd = type(document)({"format": 1, "input": [], "end": "x"})
    assert repr(odd).splitlines()[2].split() == ["-"] * 7


def test_the_build_backend_reads_its_project_table_without_tomllib():
    text = (Path(blockeig_build.ROOT) / "pyproject.toml").read_text()
    assert blockeig_build._project_table(text) == tomllib.loads(text)["project"]
    assert [blockeig_site.version_tuple(v) for v in ("1.24.2", "2.0rc1", "1", "3.13")] == [(1, 24), (2, 0), (1, 0),
                                                                                           (3, 13)]


def test_cmake_install_puts_the_package_where_the_interpreter_reads_it(tmp_path):
    import site
    if site.ENABLE_USER_SITE:
        user = os.path.relpath(site.getusersitepackages(), site.getuserbase())
        assert blockeig_site.install_dir(site.getuserbase()) == (user, None)
    own, note = blockeig_site.install_dir(sys.prefix)
    assert note is None and os.path.join(sys.prefix, own) in site.getsitepackages() + sys.path
    elsewhere, note = blockeig_site.install_dir(str(tmp_path))
    assert f"PYTHONPATH={tmp_path / elsewhere}" in note


def test_the_source_distribution_holds_the_build_and_is_the_same_every_time(tmp_path):
    import tarfile
    (tmp_path / "a").mkdir()
    (tmp_path / "b").mkdir()
    name = blockeig_build.build_sdist(str(tmp_path / "a"))
    assert name == blockeig_build.build_sdist(str(tmp_path / "b")) == f"blockeig-{blockeig.__version__}.tar.gz"
    assert (tmp_path / "a" / name).read_bytes() == (tmp_path / "b" / name).read_bytes()
    with tarfile.open(tmp_path / "a" / name) as sdist:
        members = [member.name.split("/", 1)[1] for member in sdist.getmembers()]
    tops = {member.split("/")[0] for member in members}
    assert tops == set(blockeig_build.SDIST_PATHS) | {"PKG-INFO"}
    assert "python/build_backend/blockeig_build.py" in members and "python/module.cpp" in members
    assert not [member for member in members if "__pycache__" in member or member.endswith(".pyc")]


def test_a_wheel_records_every_member(tmp_path):
    import base64
    import hashlib
    import zipfile
    staging = tmp_path / "staging" / "blockeig"
    staging.mkdir(parents=True)
    (staging / "__init__.py").write_text("")
    (staging / "_blockeig.so").write_bytes(b"\x7fELF")
    (staging / "_blockeig.so").chmod(0o755)
    name = blockeig_build._write_wheel(str(tmp_path), str(tmp_path / "staging"), ["numpy>=1.21"])
    assert name.endswith(f"-{blockeig_build._wheel_tag()}.whl")
    with zipfile.ZipFile(tmp_path / name) as wheel:
        dist_info = f"blockeig-{blockeig.__version__}.dist-info"
        rows = [row.split(",") for row in wheel.read(f"{dist_info}/RECORD").decode().splitlines()]
        assert sorted(row[0] for row in rows) == sorted(wheel.namelist()) and rows[-1][1:] == ["", ""]
        for path, digest, size in rows[:-1]:
            data = wheel.read(path)
            assert digest == "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert int(size) == len(data)
        assert "Requires-Dist: numpy>=1.21\n" in wheel.read(f"{dist_info}/METADATA").decode()
        assert wheel.getinfo("blockeig/_blockeig.so").external_attr >> 16 & 0o777 == 0o755


def test_the_build_asks_the_index_for_nothing_this_machine_has():
    assert blockeig_build.get_requires_for_build_wheel() == []
    assert blockeig_build._numpy_requirement((2, 10)) == "numpy>=1.21,<2"
    assert blockeig_build._numpy_requirement((2, 12)) == "numpy>=1.21"
