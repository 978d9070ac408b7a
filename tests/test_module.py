"""The Python surface of _strellis: argument conversion and checks, returned
arrays (dtypes, shapes, ownership), properties and docstrings."""

import re

import numpy as np
import pytest

import strellis
from strellis import Strellis, _strellis

WALK_METHODS = ["get_walks", "get_walks_for_last_batch", "get_walks_global", "get_walks_for_nodes"]


def call_walks(g, method, **kwargs):
    if method == "get_walks_global":
        return g.get_walks_global(kwargs.pop("num_walks_total", 4), **kwargs)
    if method == "get_walks_for_nodes":
        return g.get_walks_for_nodes(kwargs.pop("node_ids", np.array([1, 2], dtype=np.int32)), **kwargs)
    return getattr(g, method)(**kwargs)


@pytest.fixture
def chain():
    """Directed 1 -> 2 -> 3 -> 4 with 2-wide features [source, timestamp]."""
    g = Strellis(is_directed=True)
    src = np.array([1, 2, 3], dtype=np.int32)
    g.add_edges(src, [2, 3, 4], [10, 20, 30], features=np.array([[1, 10], [2, 20], [3, 30]], np.float32))
    return g


def test_package_reexports_the_extension_class():
    assert strellis.Strellis is _strellis.Strellis
    assert isinstance(strellis.__version__, str)


@pytest.mark.parametrize(
    "args, message",
    [
        (([[1, 2]], [[2, 3]], [[1, 2]]), "All arrays must be 1-dimensional"),
        (([1, 2, 3], [2, 3, 4], [[1, 2, 3]]), "All arrays must be 1-dimensional"),
        (([1, 2, 3], [2, 3, 4], [1, 2]), "sources, targets, and timestamps must have the same length"),
        (([1, 2, 3], [2, 3], [1, 2, 3]), "sources, targets, and timestamps must have the same length"),
    ],
)
def test_add_edges_rejects_bad_array_shapes(args, message):
    g = Strellis(True)
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        g.add_edges(*args)
    assert g.edge_count() == 0


@pytest.mark.parametrize(
    "features, message",
    [
        (np.zeros(4 * 3 + 1, np.float32), "1D features length must be a multiple of edge count"),
        (np.zeros((4, 4), np.float32), "features row count must match edge count"),
        (np.zeros((2, 4), np.float32), "features row count must match edge count"),
        (np.zeros((3, 2, 2), np.float32), "features must be 1D or 2D"),
        (np.float32(1.0), "features must be 1D or 2D"),
    ],
)
def test_add_edges_rejects_bad_feature_shapes(features, message):
    g = Strellis(True)
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        g.add_edges([1, 2, 3], [2, 3, 4], [1, 2, 3], features=features)
    assert g.edge_count() == 0 and g.feature_dim == 0


def test_features_numpy_cannot_convert_raise_numpys_error():
    g = Strellis(True)
    with pytest.raises(ValueError, match="could not convert"):
        g.add_edges([1], [2], [3], features="abc")
    assert g.edge_count() == 0


def test_inputs_are_converted_with_a_forced_cast():
    g = Strellis(True)
    g.add_edges(
        np.array([1, 5], dtype=np.int64),
        [2, 6],
        np.array([3.9, 7.2]),  # float64 timestamps are cast (truncated) to int64
        features=[[1, 2], [3, 4]],  # a nested list of ints becomes float32
    )
    e = g.get_edges()
    assert e["sources"].tolist() == [1, 5]
    assert e["timestamps"].tolist() == [3, 7]
    assert g.feature_dim == 2
    # A non-contiguous view is accepted as well.
    strided = np.arange(20, dtype=np.int32)[::2]
    g.add_edges(strided[:3], strided[:3] + 1, np.array([8, 9, 10]), features=np.ones((3, 4), np.float32)[:, ::2])
    assert g.get_edges()["sources"][2:].tolist() == [0, 2, 4]


def test_flat_and_2d_features_are_equivalent():
    rows = np.arange(12, dtype=np.float32).reshape(3, 4)
    results = []
    for features in (rows, rows.ravel()):
        g = Strellis(True)
        g.add_edges([1, 2, 3], [2, 3, 4], [10, 20, 30], features=features)
        assert g.feature_dim == 4
        results.append(g.get_walks_for_nodes([1], max_walk_len=4, seed=3)["edge_features"])
    np.testing.assert_array_equal(results[0], results[1])
    np.testing.assert_array_equal(results[0][0], rows)


@pytest.mark.parametrize(
    "kwargs, exception",
    [
        (dict(seed=-1), TypeError),
        (dict(max_walk_len=2.5), TypeError),
        (dict(max_walk_len=2**31), TypeError),
        (dict(padding_value=-(2**31) - 1), TypeError),
        (dict(seed=2**64), TypeError),
        (dict(walk_bias=3), TypeError),
    ],
)
def test_arguments_outside_their_types_fail_matching(chain, kwargs, exception):
    with pytest.raises(exception):
        chain.get_walks(**kwargs)


def test_signature_level_type_errors():
    with pytest.raises(TypeError):
        Strellis()  # is_directed is required
    with pytest.raises(TypeError):
        Strellis(True, max_time_capacity=2**63)
    with pytest.raises(TypeError):
        Strellis(True).get_walks_global()  # num_walks_total is required
    with pytest.raises(TypeError):
        Strellis(True).add_edges(object(), [1], [1])
    # Largest values of the declared types are fine.
    assert Strellis(True, max_time_capacity=2**63 - 1).max_time_capacity == 2**63 - 1
    Strellis(True).get_walks(seed=2**64 - 1)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (
            dict(walk_bias="uniform"),
            "Unknown picker type: 'uniform'. Valid types: Uniform, Linear, ExponentialIndex, "
            "ReservoirExponential, TemporalNode2Vec",
        ),
        (dict(direction="forward"), "Unknown walk direction: 'forward'. Valid directions: Forward, Backward"),
        (dict(kernel_mode="fullwalk"), "Unknown kernel mode: 'fullwalk'. Valid modes: NodeGrouped, FullWalk"),
        (dict(start_bias=" Linear"), "Unknown picker type: ' Linear'"),
        # Names are parsed walk_bias, direction, start_bias, kernel_mode: the first bad one wins.
        (dict(walk_bias="x", kernel_mode="y"), "Unknown picker type: 'x'"),
        (dict(direction="x", start_bias="y"), "Unknown walk direction: 'x'"),
    ],
)
@pytest.mark.parametrize("method", WALK_METHODS)
def test_unknown_names_raise_value_error(chain, method, kwargs, message):
    with pytest.raises(ValueError) as info:
        call_walks(chain, method, **kwargs)
    assert str(info.value).startswith(message)


def test_node_ids_dimension_is_checked_before_names(chain):
    with pytest.raises(RuntimeError, match="^node_ids must be 1-dimensional$"):
        chain.get_walks_for_nodes(np.array([[1, 2]], dtype=np.int32), walk_bias="nope")


@pytest.mark.parametrize("method", WALK_METHODS)
def test_walk_dict_layout(chain, method):
    w = call_walks(chain, method, max_walk_len=5, seed=7)
    assert list(w) == ["nodes", "timestamps", "walk_lens", "edge_features"]
    n = len(w["walk_lens"])
    assert n > 0
    assert (w["nodes"].dtype, w["nodes"].shape) == (np.int32, (n, 5))
    assert (w["timestamps"].dtype, w["timestamps"].shape) == (np.int64, (n, 5))
    assert (w["walk_lens"].dtype, w["walk_lens"].shape) == (np.int64, (n,))
    assert (w["edge_features"].dtype, w["edge_features"].shape) == (np.float32, (n, 4, 2))


@pytest.mark.parametrize("method", WALK_METHODS)
@pytest.mark.parametrize("max_walk_len", [0, -3])
def test_no_walk_length_gives_the_empty_result(chain, method, max_walk_len):
    w = call_walks(chain, method, max_walk_len=max_walk_len)
    assert w["nodes"].shape == (0, 0) and w["nodes"].dtype == np.int32
    assert w["timestamps"].shape == (0, 0) and w["timestamps"].dtype == np.int64
    assert w["walk_lens"].shape == (0,)
    assert w["edge_features"] is None


@pytest.mark.parametrize("with_features, max_walk_len", [(False, 5), (True, 1)])
def test_edge_features_none_without_features_or_hops(with_features, max_walk_len):
    g = Strellis(True)
    g.add_edges([1, 2], [2, 3], [1, 2], features=np.ones((2, 3), np.float32) if with_features else None)
    w = g.get_walks(max_walk_len=max_walk_len)
    assert len(w["walk_lens"]) == 3
    assert w["edge_features"] is None


def _returned_arrays(g):
    w = g.get_walks(max_walk_len=4, seed=1)
    e = g.get_edges()
    return {
        **{f"walk {k}": v for k, v in w.items()},
        **{f"edges {k}": v for k, v in e.items()},
        "get_node_ids": g.get_node_ids(),
        "last_batch_sources": g.last_batch_sources,
        "last_batch_targets": g.last_batch_targets,
    }


def test_returned_arrays_adopt_the_result_buffers(chain):
    for name, arr in _returned_arrays(chain).items():
        assert isinstance(arr, np.ndarray), name
        assert not arr.flags.owndata, name
        assert type(arr.base).__name__ == "PyCapsule", name
        assert arr.flags.writeable and arr.flags.c_contiguous, name


def test_writing_into_results_does_not_leak_into_later_calls(chain):
    first = _returned_arrays(chain)
    reference = {k: v.copy() for k, v in _returned_arrays(chain).items()}
    for arr in first.values():
        arr[...] = 99
    second = _returned_arrays(chain)
    for name in reference:
        np.testing.assert_array_equal(second[name], reference[name], err_msg=name)
    # Nor into the graph.
    assert chain.get_edges()["sources"].tolist() == [1, 2, 3]


def test_properties_report_construction_values_and_are_read_only():
    g = Strellis(False, use_gpu=False, max_time_capacity=123, enable_node2vec=True, node2vec_p=2.0)
    expected = dict(
        feature_dim=0, is_directed=False, use_gpu=False, max_time_capacity=123, enable_node2vec=True
    )
    for name, value in expected.items():
        assert getattr(g, name) == value and type(getattr(g, name)) is type(value), name
    for name in [*expected, "last_batch_sources", "last_batch_targets"]:
        with pytest.raises(AttributeError):
            setattr(g, name, getattr(g, name))
        assert not getattr(Strellis, name).__doc__, name


def test_last_batch_properties_are_copies():
    g = Strellis(True)
    g.add_edges([5, 1, 5], [2, 2, 7], [1, 2, 3])
    s = g.last_batch_sources
    assert s.dtype == np.int32 and s.tolist() == [1, 5]
    s[0] = 42
    assert g.last_batch_sources.tolist() == [1, 5]
    assert g.last_batch_targets.tolist() == [2, 7]


def test_defaults_of_get_walks(chain):
    # Width 10, one walk per active node, forward in time: on the chain every
    # start has exactly one walk.
    w = chain.get_walks()
    assert w["nodes"].shape == (4, 10)
    expected = {
        1: ([1, 2, 3, 4], [-1, 10, 20, 30]),
        2: ([2, 3, 4], [-1, 20, 30]),
        3: ([3, 4], [-1, 30]),
    }
    seen = []
    for nodes, ts, n in zip(w["nodes"], w["timestamps"], w["walk_lens"]):
        if n == 0:  # node 4 has no later edge: an untouched row
            assert (nodes == -1).all() and (ts == -1).all()
            seen.append(4)
            continue
        want_nodes, want_ts = expected[int(nodes[0])]
        assert nodes.tolist() == want_nodes + [-1] * (10 - n)
        assert ts.tolist() == want_ts + [-1] * (10 - n)
        seen.append(int(nodes[0]))
    assert sorted(seen) == [1, 2, 3, 4]


DOCS = {
    "__init__": "Create a Strellis instance.\n\nArgs:\n    is_directed: Whether the graph is directed.\n"
    "    use_gpu: Use GPU acceleration. Default False.\n    max_time_capacity: Sliding-window duration. "
    "Edges older than\n        (latest_timestamp - max_time_capacity) are evicted. -1 for no limit.\n"
    "    enable_node2vec: Enable Node2Vec structural bias. Default False.\n    node2vec_p: Node2Vec "
    "return parameter. Default 1.0.\n    node2vec_q: Node2Vec in-out parameter. Default 1.0.\n"
    "    timescale_bound: Temporal weight normalization factor. Default 1.0.\n",
    "add_edges": "Add a batch of edges. Features are optional.\n\nfeatures, when given, must be float32 and "
    "shaped either\n[num_edges, feature_dim] (2D) or a flat [num_edges * feature_dim] (1D). The\nfirst "
    "add_edges call pins feature_dim; every subsequent call must match\n(all-with-features or all-without, "
    "same dim). Features are stored CPU-side\nand kept in sync with the edge store across sort/merge and "
    "eviction.\n",
    "get_walks": "Generate walks starting from every active node.\n\nReturns:\n    dict with:\n"
    '      "nodes":         int32 [num_walks, max_walk_len]\n'
    '      "timestamps":    int64 [num_walks, max_walk_len]\n'
    '      "walk_lens":     int64 [num_walks]\n'
    '      "edge_features": float32 [num_walks, max_walk_len - 1, feature_dim],\n'
    "                       or None when no features are attached. Padding slots\n"
    "                       past walk_lens[w] - 1 are zero rows.\n"
    "    Unused node / timestamp positions are padded with `padding_value`\n"
    "    (default -1). Also used for the edgeless slot in each walk (position 0\n"
    "    for forward walks, position walk_lens[i]-1 for backward walks).\n",
    "get_walks_for_nodes": "Generate one walk per entry in node_ids.\n\nUnused node / timestamp positions are "
    "padded with `padding_value`\n(default -1). Also used for the edgeless slot in each walk (position 0\nfor "
    "forward walks, position walk_lens[i]-1 for backward walks).\n",
    "get_walks_for_last_batch": "Generate walks starting from the nodes in the most recent\nadd_edges call.\n\n"
    "For directed graphs the start set is the unique sources of the last batch for\nforward walks and the "
    "unique targets for backward walks. For undirected graphs\nthe start set is the union of both. Returns "
    "the same dict as get_walks.\n\nUnused node / timestamp positions are padded with `padding_value`\n"
    "(default -1). Also used for the edgeless slot in each walk (position 0\nfor forward walks, position "
    "walk_lens[i]-1 for backward walks).\n",
    "get_walks_global": "Generate `num_walks_total` walks whose start edges are sampled\nfrom the entire graph "
    "according to `start_bias`. Start nodes emerge\nfrom the edge-level sampling distribution \u2014 no "
    "uniform node coverage.\n",
    "get_node_ids": "Return a numpy array of active node IDs.",
    "get_edges": "Return a dict of edge arrays: {sources, targets, timestamps}.",
    "edge_count": "Number of edges in the active window.",
    "node_count": "Number of active nodes.",
    "clear": "Clear the graph, feature matrix, and last-batch tracking.",
}


@pytest.mark.parametrize("name", list(DOCS))
def test_method_docstrings(name):
    # The binding library puts the signature first; the text follows a blank line.
    signature, _, text = getattr(Strellis, name).__doc__.partition("\n\n")
    assert signature.startswith(f"{name}(")
    assert text.startswith(DOCS[name])
    assert text[len(DOCS[name]) :].strip("\n") == ""


def test_module_and_class_docstrings():
    assert _strellis.__doc__ == "Strellis: GPU-accelerated streaming temporal random walks"
    assert Strellis.__doc__ is None


@pytest.mark.parametrize(
    "method, params",
    [
        (
            "__init__",
            "is_directed use_gpu=False max_time_capacity=-1 enable_node2vec=False node2vec_p=1.0 "
            "node2vec_q=1.0 timescale_bound=1.0",
        ),
        ("add_edges", "sources targets timestamps features=None"),
        (
            "get_walks",
            "max_walk_len=10 num_walks_per_node=1 walk_bias='Uniform' direction='Forward' start_bias='Uniform' "
            "kernel_mode='NodeGrouped' seed=0 shuffle_walks=True padding_value=-1",
        ),
        (
            "get_walks_for_last_batch",
            "max_walk_len=10 num_walks_per_node=1 walk_bias='Uniform' direction='Forward' start_bias='Uniform' "
            "kernel_mode='NodeGrouped' seed=0 shuffle_walks=True padding_value=-1",
        ),
        (
            "get_walks_for_nodes",
            "node_ids max_walk_len=10 walk_bias='Uniform' direction='Forward' start_bias='Uniform' "
            "kernel_mode='NodeGrouped' seed=0 shuffle_walks=True padding_value=-1",
        ),
        (
            "get_walks_global",
            "num_walks_total max_walk_len=10 walk_bias='Uniform' direction='Forward' start_bias='Uniform' "
            "kernel_mode='NodeGrouped' seed=0 shuffle_walks=True padding_value=-1",
        ),
    ],
)
def test_parameter_names_order_and_defaults(method, params):
    signature = getattr(Strellis, method).__doc__.partition("\n")[0]
    inner = signature[signature.index("(") + 1 : signature.rindex(")")]
    names = list(re.finditer(r"(?:^|, )(\w+): ", inner))
    found = []
    for m, nxt in zip(names, names[1:] + [None]):
        text = inner[m.end() : nxt.start() if nxt else len(inner)]
        default = text.partition(" = ")[2]
        found.append(f"{m.group(1)}={default}" if default else m.group(1))
    assert found[0] == "self"
    assert " ".join(found[1:]) == params


def test_use_gpu_instance_rejects_work_without_changing_state():
    g = Strellis(True, use_gpu=True)  # constructing touches no device
    assert g.use_gpu
    g.add_edges([], [], [])  # an empty batch is no work
    try:
        g.add_edges([1, 2], [2, 3], [1, 2], features=np.ones((2, 3), np.float32))
    except RuntimeError:
        pass
    else:
        pytest.skip("this build has a working device path")
    assert (g.edge_count(), g.feature_dim) == (0, 0)
    assert g.last_batch_sources.size == 0 and g.last_batch_targets.size == 0
    # The width was not pinned by the failed batch: a batch without features is
    # refused by the store, not by the feature rule.
    with pytest.raises(RuntimeError) as info:
        g.add_edges([1], [2], [1])
    assert "features" not in str(info.value)
    # An empty graph answers node-based requests with the empty result...
    assert g.get_walks()["nodes"].shape == (0, 0)
    assert g.get_walks_global(3)["nodes"].shape == (0, 0)
    # ...but explicit starts reach the device dispatcher.
    with pytest.raises(RuntimeError, match="use_gpu"):
        g.get_walks_for_nodes([1])
