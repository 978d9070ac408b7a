"""The demo command and its edge-list reader."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import strellis
from strellis.__main__ import main
from strellis.datasets import synthetic_temporal_graph
from strellis.demo import EdgeListError, read_edge_list


def test_synthetic_graph_shape():
    src, dst, ts = synthetic_temporal_graph(20_000, seed=1)
    assert (src.dtype, dst.dtype, ts.dtype) == (np.int32, np.int32, np.int64)
    assert len(src) == len(dst) == len(ts) == 20_000
    assert (np.diff(ts) >= 0).all() and (src != dst).all() and src.min() >= 0
    # Heavy-tailed popularity: the busiest node is far above the mean degree.
    degree = np.bincount(np.concatenate([src, dst]))
    assert degree.max() > 20 * degree[degree > 0].mean()
    # Bursty: a few gaps hold most of the elapsed time.
    gaps = np.sort(np.diff(ts))[::-1]
    assert gaps[: len(gaps) // 100].sum() > 0.5 * gaps.sum()
    # Seeded.
    again = synthetic_temporal_graph(20_000, seed=1)
    assert all((a == b).all() for a, b in zip((src, dst, ts), again))


def test_demo_on_a_small_synthetic_graph(capsys):
    assert main(["demo", "--num-edges", "5000", "--batches", "6", "--walk-len", "5"]) == 0
    out = capsys.readouterr().out
    lines = out.splitlines()
    header = next(i for i, line in enumerate(lines) if line.split()[:2] == ["batch", "added"])
    rows = [line.split() for line in lines[header + 1 : header + 7]]
    assert [r[0] for r in rows] == ["1", "2", "3", "4", "5", "6"]
    assert sum(int(r[1].replace(",", "")) for r in rows) == 5000
    assert "summary: 5,000 edges ingested" in out


EDGE_FILES = [
    ("plain.txt", "1 2 10\n2 3 20\n\n3 1 30\n", [(1, 2, 10), (2, 3, 20), (3, 1, 30)]),
    ("csv.csv", "from,to,rating,time\n6,2,4,1289241911.72836\n6,5,2,1289241941.5\n",
     [(6, 2, 1289241911), (6, 5, 1289241941)]),
    ("unnamed.csv", "a,b,c\n6,2,4\n", [(6, 2, 4)]),
    ("floats.txt", "src dst t\n1 2 1289241911.72836\n2\t3 -5.9 extra\n", [(1, 2, 1289241911), (2, 3, -5)]),
    ("comments.txt", "% konect header\n# another\n4 5 6\n", [(4, 5, 6)]),
]


@pytest.mark.parametrize("name, text, edges", EDGE_FILES)
def test_read_edge_list(tmp_path, name, text, edges):
    path = tmp_path / name
    path.write_text(text)
    src, dst, ts = read_edge_list(str(path))
    assert (src.dtype, dst.dtype, ts.dtype) == (np.int32, np.int32, np.int64)
    assert list(zip(src.tolist(), dst.tolist(), ts.tolist())) == edges


def test_time_column_option(tmp_path, capsys):
    path = tmp_path / "contact.edges"
    path.write_text("1 2\t1 21574\n1 3\t1 21578\n")  # src dst weight t
    src, dst, ts = read_edge_list(str(path), time_column=4)
    assert ts.tolist() == [21574, 21578]
    path.write_text("1 2\t1 21574\n1 3\t1\n")
    with pytest.raises(EdgeListError, match="line 2: expected 'src dst ... t' with t in column 4"):
        read_edge_list(str(path), time_column=4)
    with pytest.raises(SystemExit):
        main(["demo", "--edges", str(path), "--time-column", "2"])
    assert "--time-column" in capsys.readouterr().err


@pytest.mark.parametrize(
    "text, message",
    [
        ("1 2 3\n4 5 6\na b\n", "line 3: expected 'src dst t', got: 'a b'"),
        ("1 2 3\nx y z\n", "line 2: expected 'src dst t', got: 'x y z'"),
        ("1 2\n", "line 1: expected 'src dst t', got: '1 2'"),
        ("1 2 3\n1.5 2 3\n", "line 2: node ids must be integers"),
        ("1 -2 3\n", "line 1: node ids must lie in 0..2147483647"),
        ("1 2147483648 3\n", "line 1: node ids must lie in 0..2147483647"),
        ("1 2 1e300\n", "line 1: timestamp out of range"),
        ("src dst t\n", "no edges found"),
    ],
)
def test_demo_reports_bad_edge_lists(tmp_path, capsys, text, message):
    path = tmp_path / "edges.txt"
    path.write_text(text)
    with pytest.raises(EdgeListError, match=message):
        read_edge_list(str(path))
    assert main(["demo", "--edges", str(path)]) == 2
    err = capsys.readouterr().err
    assert err.startswith("strellis demo: ") and message in err


def test_demo_missing_file_exits_2_without_traceback(tmp_path):
    # Through the real entry point, so the exit status and stderr are what a user sees.
    env = dict(os.environ, PYTHONPATH=str(pathlib.Path(strellis.__file__).parents[1]))
    missing = tmp_path / "nope.txt"
    proc = subprocess.run(
        [sys.executable, "-m", "strellis", "demo", "--edges", str(missing)],
        capture_output=True,
        text=True,
        env=env,
        timeout=60,
    )
    assert proc.returncode == 2
    assert proc.stderr.startswith(f"strellis demo: cannot read {missing}")
    assert "Traceback" not in proc.stderr


def test_demo_over_a_user_file(tmp_path, capsys):
    path = tmp_path / "edges.csv"
    rng = np.random.default_rng(0)
    rows = [f"{a},{b},{t}.25" for a, b, t in zip(rng.integers(0, 50, 800), rng.integers(50, 99, 800), range(800))]
    path.write_text("\n".join(rows) + "\n")
    assert main(["demo", "--edges", str(path), "--batches", "4"]) == 0
    out = capsys.readouterr().out
    assert str(path) in out and "summary: 800 edges ingested" in out


@pytest.mark.parametrize(
    "name, count",
    [("CollegeMsg.txt", 59_835), ("fb-forum.edges", 33_720), ("ia-contact.edges", 28_244), ("soc-sign-bitcoinotc.csv", 35_592)],
)
def test_reads_the_shared_data_sets(data_file, name, count):
    src, dst, ts = read_edge_list(str(data_file(name)))
    assert len(src) == len(dst) == len(ts) == count
