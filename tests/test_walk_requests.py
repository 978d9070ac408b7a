"""Start lists of the four walk requests and their empty answers."""

import numpy as np
import pytest

from strellis import Strellis


def starts(w, backward=False):
    """Start node of each row: first slot forward, last filled slot backward."""
    lens = w["walk_lens"]
    assert (lens > 0).all(), "every row of these graphs has a start edge"
    col = lens - 1 if backward else np.zeros_like(lens)
    return w["nodes"][np.arange(len(lens)), col].tolist()


@pytest.fixture
def triangle():
    """Undirected 2-5-9: every active node has edges both ways in time."""
    g = Strellis(False)
    g.add_edges([2, 5, 9], [5, 9, 2], [1, 2, 3])
    return g


@pytest.mark.parametrize("per_node, k", [(3, 3), (1, 1), (0, 1), (-4, 1)])
@pytest.mark.parametrize("direction", ["Forward", "Backward"])
def test_get_walks_starts_node_major(triangle, per_node, k, direction):
    w = triangle.get_walks(
        max_walk_len=3, num_walks_per_node=per_node, direction=direction, shuffle_walks=False, seed=5
    )
    assert starts(w, backward=direction == "Backward") == [2] * k + [5] * k + [9] * k


def test_shuffled_starts_are_a_reproducible_permutation(triangle):
    kwargs = dict(max_walk_len=3, num_walks_per_node=4, seed=99)
    a = triangle.get_walks(**kwargs)
    b = triangle.get_walks(**kwargs)
    for key in ("nodes", "timestamps", "walk_lens"):
        np.testing.assert_array_equal(a[key], b[key])
    assert sorted(starts(a)) == [2] * 4 + [5] * 4 + [9] * 4


@pytest.fixture
def directed_last_batch():
    g = Strellis(True)
    g.add_edges([7], [8], [0])  # an earlier batch whose nodes must not start walks
    g.add_edges([2, 1, 2], [3, 3, 3], [5, 6, 7])
    return g


@pytest.mark.parametrize(
    "direction, expected",
    [("Forward", [1, 1, 2, 2]), ("Forward_In_Time", [1, 1, 2, 2]), ("Backward", [3, 3]), ("Backward_In_Time", [3, 3])],
)
def test_last_batch_starts_directed(directed_last_batch, direction, expected):
    w = directed_last_batch.get_walks_for_last_batch(
        max_walk_len=4, num_walks_per_node=2, direction=direction, shuffle_walks=False
    )
    assert starts(w, backward=direction.startswith("Backward")) == expected


@pytest.mark.parametrize("direction", ["Forward", "Backward"])
def test_last_batch_starts_undirected(direction):
    g = Strellis(False)
    g.add_edges([7], [8], [0])
    g.add_edges([2, 1], [3, 3], [5, 6])
    g.add_edges([], [], [])  # an empty batch keeps the previous sets
    w = g.get_walks_for_last_batch(max_walk_len=4, direction=direction, shuffle_walks=False)
    assert starts(w, backward=direction == "Backward") == [1, 2, 3]


def test_last_batch_empty_before_any_batch_and_after_clear(directed_last_batch):
    assert Strellis(True).get_walks_for_last_batch()["nodes"].shape == (0, 0)
    directed_last_batch.clear()
    assert directed_last_batch.get_walks_for_last_batch()["nodes"].shape == (0, 0)


def test_global_walks_count_independent_of_nodes(triangle):
    for total in (1, 5, 50):
        w = triangle.get_walks_global(total, max_walk_len=3, seed=2)
        assert w["nodes"].shape == (total, 3)
        assert (w["walk_lens"] >= 2).all()  # a start edge is always found here
    for total in (0, -1):
        assert triangle.get_walks_global(total)["nodes"].shape == (0, 0)
    assert Strellis(True).get_walks_global(5)["nodes"].shape == (0, 0)


def test_walks_for_nodes_keeps_entry_order_and_pads_unknown_nodes(triangle):
    w = triangle.get_walks_for_nodes(
        np.array([9, 4, 2, 1000, 9], np.int32), max_walk_len=3, shuffle_walks=False, padding_value=-7, seed=3
    )
    lens = w["walk_lens"].tolist()
    assert lens[1] == 0 and lens[3] == 0
    for row in (1, 3):
        assert (w["nodes"][row] == -7).all() and (w["timestamps"][row] == -7).all()
    assert [w["nodes"][r, 0] for r in (0, 2, 4)] == [9, 2, 9]
    assert all(lens[r] >= 2 for r in (0, 2, 4))
    # The start slot of a forward walk carries the padding value too.
    assert (w["timestamps"][[0, 2, 4], 0] == -7).all()


def test_walks_for_nodes_minus_one_samples_a_start_edge(triangle):
    w = triangle.get_walks_for_nodes([-1, -1, -1], max_walk_len=3, seed=4)
    assert (w["walk_lens"] >= 2).all()
    assert set(w["nodes"][:, 0].tolist()) <= {2, 5, 9}


def test_single_start_is_never_shuffled(triangle):
    a = triangle.get_walks_for_nodes([5], max_walk_len=4, seed=8, shuffle_walks=True)
    b = triangle.get_walks_for_nodes([5], max_walk_len=4, seed=8, shuffle_walks=False)
    np.testing.assert_array_equal(a["nodes"], b["nodes"])
    np.testing.assert_array_equal(a["timestamps"], b["timestamps"])


@pytest.mark.parametrize(
    "request_walks, shape",
    [
        (lambda g: g.get_walks_for_nodes(np.array([], np.int32)), (0, 0)),
        (lambda g: Strellis(True).get_walks(), (0, 0)),
        (lambda g: Strellis(False).get_walks_for_nodes([3], max_walk_len=4), (1, 4)),  # padding, no error
    ],
)
def test_requests_that_find_nothing(triangle, request_walks, shape):
    w = request_walks(triangle)
    assert w["nodes"].shape == w["timestamps"].shape == shape
    assert (w["walk_lens"] == 0).all() and (w["nodes"] == -1).all()
    assert w["edge_features"] is None
