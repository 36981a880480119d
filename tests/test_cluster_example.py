"""The Dask example computes on two worker processes exactly what one process computes."""

import importlib.util
import os

import numpy as np
import pytest

pytest.importorskip("distributed", reason="the cluster example needs dask.distributed (tests/requirements.txt)")
pytest.importorskip("pyarrow", reason="the cluster example stores its bars as Parquet (tests/requirements.txt)")

EXAMPLE = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "cluster.py")


@pytest.fixture(scope="module")
def cluster_example():
    spec = importlib.util.spec_from_file_location("cluster_example", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_two_worker_processes_match_one_process_bit_for_bit(cluster_example, tmp_path):
    from dask.distributed import Client, LocalCluster

    path = cluster_example.generate(str(tmp_path / "bars"), symbols=23, bars=300, symbols_per_file=5)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        table = cluster_example.run_on_cluster(path, client)
    alone = cluster_example.run_in_one_process(path)
    assert len(table) == len(alone) == 23 * 300
    assert (table["symbol"].to_numpy() == alone["symbol"].to_numpy()).all()
    for column, *_ in cluster_example.INDICATORS:
        assert np.array_equal(np.asarray(table[column], np.float32).view(np.uint32),
                              np.asarray(alone[column], np.float32).view(np.uint32)), column


def test_symbol_offsets(cluster_example):
    assert cluster_example.symbol_offsets(np.array(["a", "a", "b", "c", "c"])).tolist() == [0, 2, 3, 5]
    assert cluster_example.symbol_offsets(np.array([], dtype=object)).tolist() == [0]
