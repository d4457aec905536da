"""One filtered query over a partitioned data set, answered by a Dask cluster
of tabulon databases.

Each worker process loads one partition (a CSV file) into a database of its
own, with a small store table broadcast to every worker, answers the same
query and returns its answer as a pyarrow Table; the client concatenates the
answers. Here the cluster is a LocalCluster of two worker processes on this
machine; given the address of a real cluster's scheduler (--scheduler) the
same code runs there, the partitions then on storage every worker reads.

    python3 examples/distributed.py [--rows N] [--partitions N] [--folder DIR]

Needs dask, distributed and pyarrow besides tabulon.
"""

import argparse
import random
import sys
import tempfile
from pathlib import Path

# Run as a script, this file's folder comes first on the path, where this
# file would stand in for the package `distributed` that dask imports.
sys.path = [entry for entry in sys.path if Path(entry or ".").resolve() != Path(__file__).resolve().parent]

import pyarrow as pa  # type: ignore[import-untyped]  # noqa: E402

import tabulon  # noqa: E402

SALES = "id int, store string cat 1, qty short, amount double"
STORES = "store string, city string"
QUERY = "select id, store, city, amount from sales join stores on store = store where qty >= 90 and city = Lyon"
CITIES = ["Lyon", "Porto", "Gent", "Turin"]


def write_partitions(folder, rows, partitions):
    """Writes the sales rows as `partitions` CSV files; returns their paths
    and the store table (as a pyarrow Table, the broadcast dimension)."""
    folder.mkdir(parents=True, exist_ok=True)
    rng = random.Random(20240611)
    paths = []
    per_partition = -(-rows // partitions)
    for number in range(partitions):
        path = folder / f"sales-{number:03d}.csv"
        first, last = number * per_partition, min(rows, (number + 1) * per_partition)
        lines = [f"{i},S{rng.randrange(20):02d},{rng.randrange(1, 101)},{rng.randrange(100000) / 100}\n"
                 for i in range(first, last)]
        path.write_text("id,store,qty,amount\n" + "".join(lines))
        paths.append(str(path))
    stores = pa.table({"store": [f"S{i:02d}" for i in range(20)], "city": [CITIES[i % 4] for i in range(20)]})
    return paths, stores


def answer(path, stores, query):
    """Runs on a worker: one partition and the broadcast stores in a
    database of their own, the query's answer as a pyarrow Table."""
    db = tabulon.DatabaseParser()
    db.executeCommand(f"create table sales ({SALES})")
    db.executeCommand(f"load sales from '{path}'")
    db.executeCommand(f"create table stores ({STORES})")
    db.executeCommand("load stores from ?", [stores])
    return db.executeSelect(query).toArrow()


def run(client, paths, stores, query=QUERY):
    """The query's answer over every partition, one pyarrow Table."""
    broadcast = client.scatter(stores, broadcast=True)
    futures = client.map(answer, paths, stores=broadcast, query=query)
    return pa.concat_tables(client.gather(futures))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=200000)
    parser.add_argument("--partitions", type=int, default=4)
    parser.add_argument("--folder", help="where the partitions are written (default: a temporary folder)")
    parser.add_argument("--scheduler", help="address of a running cluster's scheduler")
    args = parser.parse_args()

    from dask.distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory() as scratch:
        paths, stores = write_partitions(Path(args.folder or scratch), args.rows, args.partitions)
        if args.scheduler:
            with Client(args.scheduler) as client:
                table = run(client, paths, stores)
        else:
            with LocalCluster(n_workers=2, threads_per_worker=1, processes=True) as cluster, Client(cluster) as client:
                table = run(client, paths, stores)
    print(f"{table.num_rows} rows from {len(paths)} partitions")
    print(table.slice(0, 5).to_pylist())


if __name__ == "__main__":
    main()
