"""Indicators for a universe of symbols on a Dask cluster: one batch call per partition and indicator.

The bars of a few hundred generated symbols are stored as a Parquet dataset whose files each
hold whole symbols, sorted by symbol and bar, so a symbol never spans two partitions. Each
partition computes every indicator with one ``velkized_ta.batch`` call, using the partition's
symbol boundaries as offsets; the result is the same, bit for bit, as one process computing
the whole table.

    python examples/cluster.py                                # a local cluster of two worker processes
    python examples/cluster.py --scheduler tcp://host:8786    # an existing cluster
    python examples/cluster.py --symbols 2000 --bars 2500 --data /shared/bars

On an existing cluster the workers need this package installed and the data path readable
by every worker (a shared file system or an object store URL that pyarrow understands).
"""

import argparse
import os
import tempfile
import time

import numpy as np
import pandas as pd

from velkized_ta import batch
from velkized_ta.sample import sample_ohlc

# Output column, batch function, series columns, parameters.
INDICATORS = (
    ("rsi_14", batch.velk_rsi, ("close",), {"timeperiod": 14}),
    ("ema_20", batch.velk_ema, ("close",), {"timeperiod": 20, "normalize": False}),
    ("macd_12_26", batch.velk_macd, ("close",), {"short_period": 12, "long_period": 26}),
    ("willr_14", batch.velk_willr, ("high", "low", "close"), {"timeperiod": 14}),
    ("adx_14", batch.velk_adx, ("high", "low", "close"), {"timeperiod": 14}),
    ("natr_14", batch.velk_natr, ("high", "low", "close"), {"timeperiod": 14}),
)
PRICE_COLUMNS = ("open", "high", "low", "close")


def generate(path, symbols=300, bars=2500, symbols_per_file=25):
    """Writes a Parquet dataset of random-walk bars, whole symbols per file, sorted by symbol and bar."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    os.makedirs(path, exist_ok=True)
    for first in range(0, symbols, symbols_per_file):
        frames = []
        for s in range(first, min(first + symbols_per_file, symbols)):
            ohlc = sample_ohlc(bars, seed=1000 + s)
            frames.append(pd.DataFrame({"symbol": f"S{s:05d}", "bar": np.arange(bars, dtype=np.int32),
                                        **{c: ohlc[c] for c in PRICE_COLUMNS}}))
        table = pa.Table.from_pandas(pd.concat(frames, ignore_index=True), preserve_index=False)
        pq.write_table(table, os.path.join(path, f"part-{first // symbols_per_file:05d}.parquet"))
    return path


def symbol_offsets(symbols):
    """Segment starts of each run of equal symbols, ending with the length."""
    symbols = np.asarray(symbols)
    if len(symbols) == 0:
        return np.zeros(1, dtype=np.int64)
    changes = np.flatnonzero(symbols[1:] != symbols[:-1]) + 1
    return np.concatenate(([0], changes, [len(symbols)])).astype(np.int64)


def compute_indicators(bars):
    """Every indicator for every symbol of `bars` (whole symbols), one batch call per indicator."""
    bars = bars.sort_values(["symbol", "bar"], kind="stable")
    offsets = symbol_offsets(bars["symbol"].to_numpy())
    prices = {c: bars[c].to_numpy(np.float32) for c in PRICE_COLUMNS}
    result = pd.DataFrame({"symbol": bars["symbol"].to_numpy(), "bar": bars["bar"].to_numpy()})
    for column, function, inputs, params in INDICATORS:
        # A symbol too short or too flat for an indicator gets NaN there instead of failing the partition.
        result[column] = function(*(prices[c] for c in inputs), **params, offsets=offsets, errors="nan")
    return result


def _meta():
    meta = pd.DataFrame({"symbol": pd.Series(dtype=object), "bar": pd.Series(dtype=np.int32)})
    for column, *_ in INDICATORS:
        meta[column] = pd.Series(dtype=np.float32)
    return meta


def run_on_cluster(path, client):
    """The indicators for the dataset at `path`, computed by the cluster behind `client`."""
    import dask.dataframe as dd

    frame = dd.read_parquet(path, split_row_groups=False)  # one partition per file: whole symbols
    return client.compute(frame.map_partitions(compute_indicators, meta=_meta())).result()


def run_in_one_process(path):
    """The same table computed by this process alone, for comparison."""
    return compute_indicators(pd.read_parquet(path))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("--symbols", type=int, default=300)
    parser.add_argument("--bars", type=int, default=2500)
    parser.add_argument("--data", help="dataset folder (default: generated in a temporary folder)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory() as scratch:
        path = args.data or os.path.join(scratch, "bars")
        if not os.path.exists(path):
            generate(path, args.symbols, args.bars)
        if args.scheduler:
            client, cluster = Client(args.scheduler), None
        else:
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True)
            client = Client(cluster)
        try:
            run_on_cluster(path, client)  # warm the workers' imports
            begin = time.perf_counter()
            table = run_on_cluster(path, client)
            cluster_seconds = time.perf_counter() - begin
        finally:
            client.close()
            if cluster is not None:
                cluster.close()
        begin = time.perf_counter()
        alone = run_in_one_process(path)
        process_seconds = time.perf_counter() - begin
    symbol_bars = len(table)
    same = all(np.array_equal(np.asarray(table[c], np.float32).view(np.uint32),
                              np.asarray(alone[c], np.float32).view(np.uint32)) for c, *_ in INDICATORS)
    print(f"{table['symbol'].nunique()} symbols, {symbol_bars} symbol-bars, {len(INDICATORS)} indicators")
    print(f"cluster:     {symbol_bars / cluster_seconds:,.0f} symbol-bars/s ({cluster_seconds:.2f} s)")
    print(f"one process: {symbol_bars / process_seconds:,.0f} symbol-bars/s ({process_seconds:.2f} s)")
    print(f"identical to one process, bit for bit: {same}")
    return 0 if same else 1


if __name__ == "__main__":
    raise SystemExit(main())
