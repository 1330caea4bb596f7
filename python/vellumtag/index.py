"""Indexes trees of PDF files on a Dask cluster into JSON Lines.

    python3 -m vellumtag.index DIR... --out FILE.jsonl [--scheduler tcp://HOST:PORT]

The directories are walked as the console tool's -r walks them, and the lines written are the
ones its --json writes for the same arguments, in the same order. Without --scheduler the files
are read on a cluster of this machine's own (one worker process per core, on 127.0.0.1); with
it, on the workers of that scheduler, which must be able to import vellumtag.

walk(), json_line() and read_batch() need no Dask: other engines (Spark's mapPartitions, a
multiprocessing pool) can map them over the paths as well.
"""

import argparse
import concurrent.futures
import contextlib
import json
import logging
import os
import stat
import sys
import uuid

import vellumtag

BATCH_SIZE = 256
# How often one batch is submitted again after its futures were cancelled or its worker kept
# dying (Dask itself already retries a task whose worker died, up to allowed-failures).
RESUBMISSIONS = 3


def _has_pdf_extension(name):
    # The extension as std::filesystem has it: from the last dot, unless that begins the name.
    dot = name.rfind(b".")
    return dot > 0 and name[dot:].lower() == b".pdf"


def _warn_directory(directory, error):
    name = directory.decode("utf-8", "replace")
    print(f"Warning: cannot read directory {name}: {error.strerror or error}", file=sys.stderr)


def _sorted_names(directory):
    try:
        return sorted(os.listdir(directory))
    except OSError as error:
        _warn_directory(directory, error)
        return None


def walk(arguments):
    """The paths (bytes) that the console tool's -r reads for these arguments, in its order:
    an argument that is no directory as given; a directory's tree depth first, each directory's
    entries in byte order of their names, taking regular files and links to them whose extension
    is .pdf in any letter case, and dangling links so named. Links to directories are not
    entered. A directory that can't be read is a warning on standard error."""
    for argument in arguments:
        top = os.fsencode(argument)
        if not os.path.isdir(top):
            yield top
            continue
        names = _sorted_names(top)
        stack = [(top, iter(names))] if names is not None else []
        while stack:
            directory, entries = stack[-1]
            name = next(entries, None)
            if name is None:
                stack.pop()
                continue
            path = os.path.join(directory, name)
            try:
                status = os.lstat(path)
            except OSError:
                continue
            target = status
            if stat.S_ISLNK(status.st_mode):
                try:
                    target = os.stat(path)
                except OSError:
                    if _has_pdf_extension(name):
                        yield path
                    continue
                if stat.S_ISDIR(target.st_mode):
                    continue
            elif stat.S_ISDIR(status.st_mode):
                names = _sorted_names(path)
                if names is not None:
                    stack.append((path, iter(names)))
                continue
            # Only regular files: a FIFO named .pdf would block a worker.
            if stat.S_ISREG(target.st_mode) and _has_pdf_extension(name):
                yield path


def json_line(path, details=False, xmp=False):
    """The console tool's --json line for one file (path as bytes), newline included, with
    its --details and --xmp objects when asked. Any failure is a line of its own."""
    row = {"file": path.decode("utf-8", "replace")}
    try:
        values = vellumtag.read(os.fsdecode(path), details=details, xmp=xmp)
        row.update(result=0, values=dict(values))
        if details:
            row["document"] = values.document
        if xmp:
            row["xmp"] = values.xmp
    except vellumtag.PdfError as error:
        row.update(result=error.code, error=error.message)
    except MemoryError:
        row.update(result=199, error="Out of memory")
    except Exception as error:  # whatever else went wrong is a row too, never a lost batch
        row.update(result=199, error=f"{type(error).__name__}: {error}")
    return json.dumps(row, ensure_ascii=False, separators=(",", ":")) + "\n"


def read_batch(paths, details=False, xmp=False):
    """The JSON lines of a batch of paths, joined, as UTF-8."""
    return "".join(json_line(path, details, xmp) for path in paths).encode("utf-8")


def run(client, paths, out, batch_size=BATCH_SIZE, progress=False, on_batch=None,
        details=False, xmp=False):
    """Reads paths (bytes) on the client's cluster in batches and writes their lines to out (a
    binary file) in the order of paths, each exactly once: a batch whose worker died is computed
    again by Dask; one whose futures were cancelled (as a restart of the cluster does) is
    submitted again. on_batch(done, total) is called after each batch is written."""
    import distributed
    from distributed.scheduler import KilledWorker

    batches = [paths[i : i + batch_size] for i in range(0, len(paths), batch_size)]
    run_id = uuid.uuid4().hex
    attempts = [0] * len(batches)

    def submit(indices):
        keys = [f"vellumtag-read-{run_id}-{i}-{attempts[i]}" for i in indices]
        return client.map(read_batch, [batches[i] for i in indices], key=keys,
                          details=details, xmp=xmp)

    futures = submit(range(len(batches)))
    if progress:
        # Dask's bar draws on standard output, which may be the data; the terminal is stderr's.
        with contextlib.redirect_stdout(sys.stderr):
            distributed.progress(futures)
    for i in range(len(batches)):
        while True:
            try:
                data = futures[i].result()
                break
            except (concurrent.futures.CancelledError, KilledWorker):
                # The later batches that met the same fate go again at once, not one by one.
                again = [i] + [
                    j
                    for j in range(i + 1, len(batches))
                    if futures[j].status in ("cancelled", "error", "lost")
                ]
                for j in again:
                    attempts[j] += 1
                    if attempts[j] > RESUBMISSIONS:
                        raise
                for j, future in zip(again, submit(again)):
                    futures[j] = future
        out.write(data)
        futures[i].release()
        futures[i] = None
        if on_batch is not None:
            on_batch(i + 1, len(batches))


@contextlib.contextmanager
def _client(scheduler, workers):
    import distributed

    if scheduler is not None:
        with distributed.Client(scheduler) as client:
            yield client
        return
    with distributed.LocalCluster(
        n_workers=workers or os.cpu_count() or 1,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        dashboard_address=None,
        silence_logs=logging.ERROR,
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m vellumtag.index",
        description="Reads the .pdf files of the directories on a Dask cluster and writes the "
        "console tool's --json lines for them.",
    )
    parser.add_argument("paths", nargs="+", metavar="DIR", help="a directory (or file) to read")
    parser.add_argument("--out", required=True, metavar="FILE.jsonl", help="the JSON Lines file")
    parser.add_argument(
        "--scheduler", metavar="tcp://HOST:PORT", help="a running cluster's scheduler"
    )
    parser.add_argument(
        "--workers", type=int, metavar="N", help="without --scheduler: worker processes "
        "(default: one per core)"
    )
    parser.add_argument(
        "--batch-size", type=int, default=BATCH_SIZE, metavar="N",
        help=f"files per task (default: {BATCH_SIZE})"
    )
    parser.add_argument("--details", action="store_true", help="the document's facts as well")
    parser.add_argument("--xmp", action="store_true", help="every XMP property as well")
    args = parser.parse_args(argv)
    if args.batch_size < 1 or (args.workers is not None and args.workers < 1):
        parser.error("--workers and --batch-size take a number of at least 1")
    paths = list(walk(args.paths))
    with _client(args.scheduler, args.workers) as client, open(args.out, "wb") as out:
        run(client, paths, out, args.batch_size, progress=sys.stderr.isatty(),
            details=args.details, xmp=args.xmp)
    return 0


if __name__ == "__main__":
    # Run through the package's module, so that Dask sends its functions to the workers by name
    # (vellumtag.index.read_batch), not as functions of __main__.
    from vellumtag.index import main as _main

    sys.exit(_main())
