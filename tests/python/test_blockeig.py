"""The Python module against numpy within rounding, against the program's
results file bit for bit, and on every bad input."""

import dataclasses
import os
import signal
import subprocess
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


def run_program(directory, nblocks, *options):
    subprocess.run([os.environ["BLOCKEIG_BIN"], "--results", "run.json", *options], cwd=directory,
                   input=f"{nblocks}\n", text=True, capture_output=True, check=True)
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
        for key, value in dataclasses.asdict(result.accuracy).items():
            assert same_bits(np.nan if value is None else value,
                             np.nan if run["end"]["accuracy"][key] is None else run["end"]["accuracy"][key]), key


def test_rule_partition_and_start(tmp_path):
    a = random_matrix(40, 7)
    blockeig.write_scr(tmp_path / "A.SCR", a)
    run = run_program(tmp_path, 4, "--tol", "1e-9", "--max-sweeps", "30")
    ruled = blockeig.block_sweeps(a, 4, tol=1e-9, max_sweeps=30)
    assert len(ruled.sweeps) == len(run["sweeps"]) <= 30
    assert same_bits(ruled.eigenvalues, run["end"]["E"]) and ruled.converged == run["end"]["settled"]
    # The program's layout and the identity, given, are the defaults' bits.
    default = blockeig.block_sweeps(a, 4)
    same = blockeig.block_sweeps(a, 4, partition=[10, 10, 10, 10], start=np.eye(40))
    assert same_bits(same.eigenvalues, default.eigenvalues) and same.sweeps[-1]["ITER"] == default.sweeps[-1]["ITER"]
    q = np.linalg.qr(random_matrix(40, 8))[0]
    other = blockeig.block_sweeps(a, 3, partition=[4, 30, 6], start=q)
    assert [b["dimension"] for b in other.layout] == [4, 30, 6]
    assert not same_bits(other.sweeps[0]["W"][0], blockeig.block_sweeps(a, 3, partition=[4, 30, 6]).sweeps[0]["W"][0])
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
        ("strings", TypeError, blockeig.eigvalsh, ([["a", "b"], ["c", "d"]],), {}),
        ("complex", TypeError, blockeig.eigvalsh, (good + 1j,), {}),
        ("objects", TypeError, blockeig.eigvalsh, ([[object(), 1], [1, 1]],), {}),
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
