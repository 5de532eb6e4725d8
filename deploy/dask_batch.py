#!/usr/bin/env python3
"""Runs a composition over every input of a list on a dask.distributed cluster.

    deploy/dask_batch.py COMPOSITION LIST OUT [--scheduler ADDRESS] [--workers N]
                         [-- cvcomp run options...]

One task per line of LIST (one input a line, Unix or CRLF line ends): the task for line K runs
`cvcomp run COMPOSITION --input @LIST --index K --json OUT/K-<stem>.jsonl --quiet`, so each
input's JSON lines are what `cvcomp run` writes for it, under the names the Slurm and Kubernetes
recipes give them. Without --scheduler the tasks run on a LocalCluster of N workers (one thread
each; the number of cores by default); with it, on the workers of that scheduler, which must see
COMPOSITION, LIST, the inputs and OUT at the same paths and have cvcomp on their PATH. An input
that fails is reported on standard error behind its line number while the others go on; the exit
status is the number of inputs that failed (up to 100). $CVCOMP names the program when it is not
`cvcomp` on the PATH.

From Python, run_all(composition, inputs_list, out, client) gives each line's Outcome.
"""

import argparse
import os
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

from dask.distributed import Client, LocalCluster, as_completed, progress


@dataclass
class Outcome:
    index: int
    status: int
    message: str


def run_one(cvcomp, composition, inputs_list, out, index, options):
    """Runs line `index` of the list; cvcomp reads the line, so no name reaches a shell."""
    result = subprocess.run(
        [cvcomp, "run", composition, "--input", "@" + inputs_list, "--index", str(index),
         "--json", os.path.join(out, "{index}-{stem}.jsonl"), "--quiet", *options],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    return Outcome(index, result.returncode, result.stderr.decode(errors="replace").strip())


def count_lines(inputs_list):
    with open(inputs_list, "rb") as lines:
        data = lines.read()
    return data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)


def run_all(composition, inputs_list, out, client, options=(), show_progress=False):
    """One task per line of `inputs_list` on `client`'s cluster; the Outcomes by line."""
    Path(out).mkdir(parents=True, exist_ok=True)
    cvcomp = os.environ.get("CVCOMP", "cvcomp")
    paths = [os.path.abspath(p) for p in (composition, inputs_list, out)]
    futures = {
        client.submit(run_one, cvcomp, *paths, index, list(options), pure=False): index
        for index in range(count_lines(inputs_list))
    }
    if show_progress:
        progress(list(futures))
        print(file=sys.stderr)
    outcomes = []
    for future in as_completed(futures):
        try:
            outcomes.append(future.result())
        except Exception as error:  # a worker lost or cvcomp missing there: that line failed
            outcomes.append(Outcome(futures[future], -1, f"{type(error).__name__}: {error}"))
    return sorted(outcomes, key=lambda outcome: outcome.index)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        usage="%(prog)s COMPOSITION LIST OUT [--scheduler ADDRESS] [--workers N] "
              "[-- cvcomp run options...]")
    parser.add_argument("composition")
    parser.add_argument("list")
    parser.add_argument("out")
    parser.add_argument("--scheduler", help="a dask scheduler's address (tcp://HOST:PORT)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="LocalCluster workers, when no scheduler is given")
    argv = sys.argv[1:]
    # What follows -- goes to cvcomp run as it is.
    split = argv.index("--") if "--" in argv else len(argv)
    args = parser.parse_args(argv[:split])
    args.options = argv[split + 1:]
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    with client:
        outcomes = run_all(args.composition, args.list, args.out, client, args.options,
                           show_progress=sys.stderr.isatty())
    failed = [outcome for outcome in outcomes if outcome.status != 0]
    for outcome in failed:
        print(f"{outcome.index}\t{outcome.message}", file=sys.stderr)
    return min(len(failed), 100)


if __name__ == "__main__":
    sys.exit(main())
