#!/usr/bin/env python3
"""Times loading a table whose tree level has many distinct values.

For each count n of distinct values, a table of ROWS rows (id int, key,
amount double) is written to a scratch folder twice: with the keys in
ascending order (each value's rows together) and in random order (every
value present). tabulon loads it with the key column as its only tree level
(`cat 1`), pandas reads it with read_csv; both answers are read back into
Python and must agree on row count and key checksum before any time counts.
Each load runs several times in separate databases and the median counts.

Keys are ints (`--type int`, any n up to 65,534) or texts of nine
characters (`--type string`); a load that tabulon refuses is reported with
its message.

`--rebuild` times the level a table chooses in the middle of a load
instead: the table is created without `cat`, its file holds PREFIX rows
with 20 keys, so that the rebuild at `lines.threshold` (10,000 by
default) makes the key a tree level, then n rows with n new keys. A load
that takes longer than `--cap` seconds is stopped and shown as such.

Usage: PYTHONPATH=build python3 bench/level_load.py [--rows N] [--runs N]
       [--counts 4000,8000,...] [--type int|string] [--scratch DIR]
       [--rebuild [--cap SECONDS]]
"""

import argparse
import random
import signal
import tempfile
from pathlib import Path

import pandas as pd

import tabulon
from bench_common import load_table, timed, write_once

SEED = 20240611
DEFAULT_COUNTS = "4000,8000,16000,24000,32000,40000,48000,56000,64000"


def key_text(value, kind):
    return str(value * 7 + 3) if kind == "int" else f"k{value:08d}"


def write_table(folder, rows, distinct, order, kind):
    """Writes the table of `rows` rows with `distinct` keys in `order`
    ("sorted" or "random") into `folder` once; returns its path."""
    def write(out):
        keys = [i % distinct for i in range(rows)]
        if order == "random":
            random.Random(SEED + distinct).shuffle(keys)
        else:
            keys.sort()
        texts = [key_text(v, kind) for v in range(distinct)]
        out.write("id,key,amount\n")
        out.writelines(f"{i},{texts[k]},{(i * 37) % 100000 / 100}\n" for i, k in enumerate(keys))

    return write_once(folder / f"level_{kind}_{order}_{distinct}_{rows}.csv", write)


def key_checksum(values, kind):
    if kind == "int":
        return sum(int(v) for v in values)
    return sum(int(v[1:]) for v in values)


def load_tabulon(path, kind):
    db = tabulon.DatabaseParser()
    load_table(db, "t", f"id int, key {kind} cat 1, amount double", path)
    return db


def answer_tabulon(db, kind):
    keys = db.executeSelect("select key from t").getColumn(0)
    return len(keys), key_checksum(keys, kind)


def answer_pandas(frame, kind):
    return len(frame), key_checksum(frame["key"].tolist(), kind)


def measure(path, kind, runs):
    try:
        tabulon_time, db = timed(lambda: load_tabulon(path, kind), runs)
    except RuntimeError as error:
        return None, str(error), None
    pandas_time, frame = timed(lambda: pd.read_csv(path, dtype={"key": str if kind == "string" else "int64"}),
                               runs)
    if answer_tabulon(db, kind) != answer_pandas(frame, kind):
        raise SystemExit(f"{path.name}: tabulon and pandas disagree")
    return tabulon_time, None, pandas_time


PREFIX = 20000
PREFIX_KEYS = 20


class Capped(Exception):
    """A load stopped after the time it was given."""


def write_rebuild_table(path, new_keys, kind):
    def write(out):
        out.write("id,key,amount\n")
        out.writelines(f"{i},{key_text(i % PREFIX_KEYS, kind)},{i % 1000 / 10}\n" for i in range(PREFIX))
        out.writelines(f"{PREFIX + j},{key_text(PREFIX_KEYS + j, kind)},{j % 1000 / 10}\n" for j in range(new_keys))

    write_once(path, write)


def load_unconfigured(path, kind, cap):
    def stop(*_):
        raise Capped()

    db = tabulon.DatabaseParser()
    db.executeCommand(f"create table t (id int, key {kind}, amount double)")
    previous = signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, cap)
    try:
        db.executeCommand(f"load t from '{path}'")
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    return db


def rebuild_main(args):
    print(f"{PREFIX:,} rows with {PREFIX_KEYS} {args.kind} keys, then n rows with n new keys; "
          f"no `cat`: the key becomes a level at the rebuild; median of {args.runs} loads, seconds")
    print("| n | load | per 1,000 new keys |")
    print("| --- | --- | --- |")
    for new_keys in (int(c) for c in args.counts.split(",")):
        path = args.scratch / f"rebuild_{args.kind}_{new_keys}.csv"
        write_rebuild_table(path, new_keys, args.kind)
        try:
            load_time, db = timed(lambda: load_unconfigured(path, args.kind, args.cap), args.runs)
        except Capped:
            print(f"| {new_keys:,} | > {args.cap:g} (stopped) | |", flush=True)
            continue
        keys = [key_text(i % PREFIX_KEYS, args.kind) for i in range(PREFIX)]
        keys += [key_text(PREFIX_KEYS + j, args.kind) for j in range(new_keys)]
        if answer_tabulon(db, args.kind) != (len(keys), key_checksum(keys, args.kind)):
            raise SystemExit(f"{path.name}: wrong answer")
        print(f"| {new_keys:,} | {load_time:.3f} | {load_time / new_keys * 1000:.4f} |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--counts", default=DEFAULT_COUNTS)
    parser.add_argument("--type", dest="kind", choices=["int", "string"], default="int")
    parser.add_argument("--scratch", type=Path, default=Path(tempfile.gettempdir()) / "tabulon-level-load")
    parser.add_argument("--rebuild", action="store_true")
    parser.add_argument("--cap", type=float, default=120.0)
    args = parser.parse_args()
    args.scratch.mkdir(parents=True, exist_ok=True)
    if args.rebuild:
        rebuild_main(args)
        return

    print(f"{args.rows:,} rows, {args.kind} keys, median of {args.runs} loads, seconds")
    print("| distinct values | sorted: tabulon | pandas | ratio | random: tabulon | pandas | ratio |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for distinct in (int(c) for c in args.counts.split(",")):
        cells = [f"{distinct:,}"]
        for order in ("sorted", "random"):
            path = write_table(args.scratch, args.rows, distinct, order, args.kind)
            tabulon_time, refused, pandas_time = measure(path, args.kind, args.runs)
            if refused is not None:
                cells += [f"refused: {refused}", "", ""]
                continue
            cells += [f"{tabulon_time:.3f}", f"{pandas_time:.3f}", f"{tabulon_time / pandas_time:.2f}"]
        print("| " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    main()
