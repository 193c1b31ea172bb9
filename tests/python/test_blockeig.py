"""The Python module against numpy within rounding, against the program's
results file bit for bit, and on every bad input."""

import dataclasses
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
        ("blocks beyond int32", ValueError, blockeig.block_sweeps, (good, 1 << 80), {}),
        ("threads -1", ValueError, blockeig.eigvalsh, (good,), {"threads": -1}),
        ("threads above the cap", ValueError, blockeig.eigh, (good,), {"threads": blockeig.limits.max_threads + 1}),
        ("threads beyond int", ValueError, blockeig.block_sweeps, (good, 1), {"threads": -(1 << 80)}),
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
    assert lines[0] == "blockeig.BlockSweeps" and lines[1].split() == ["N", "blocks", "sweeps", "settled", "E(1)", "-",
                                                                       "lambda_1"]
    row = lines[2].split()
    assert row[:4] == ["12", "3", str(run.iterations.size), "yes" if run.converged else "no"]
    assert float(row[4]) == pytest.approx(run.eigenvalues[0] - run.direct[0], rel=1e-5)
    assert run._repr_html_().startswith("<table>") and "<td>12</td><td>3</td>" in run._repr_html_()
    blockeig.write_scr(tmp_path / "A.SCR", a)
    document = run_program(tmp_path, 3)
    assert repr(document).splitlines()[0] == "blockeig results (finished)"
    assert repr(document).splitlines()[2] == lines[2] and document["input"]["N"] == 12
    # Members missing, or not where the schema puts them, show as "-".
    odd = type(document)({"format": 1, "input": [], "end": "x"})
    assert repr(odd).splitlines()[2].split() == ["-"] * 5


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
