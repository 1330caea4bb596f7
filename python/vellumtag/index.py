"""Indexes trees of PDF files on a Dask cluster into JSON Lines or into a SQLite database.

    python3 -m vellumtag.index DIR... --out FILE.jsonl [--scheduler tcp://HOST:PORT]
    python3 -m vellumtag.index DIR... --db FILE.sqlite [--scheduler tcp://HOST:PORT]

The directories are walked as the console tool's -r walks them, and the lines written are the
ones its --json writes for the same arguments, in the same order. --db keeps them in a database
(vellumtag.database) and reads only the files that changed since the last run into it.
Without --scheduler the files are read on a cluster of this machine's own (one worker process
per core, on 127.0.0.1); with it, on the workers of that scheduler, which must be able to
import vellumtag.

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
from vellumtag import database

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
    return (path for path, _ in walk_with_status(arguments))


def walk_with_status(arguments):
    """walk(), each path with os.stat's result for it as the walk found it, or None for an
    argument that is no directory and for a dangling link."""
    for argument in arguments:
        top = os.fsencode(argument)
        if not os.path.isdir(top):
            yield top, None
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
                        yield path, None
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
                yield path, target


def json_line(path, options=None):
    """The console tool's --json line for one file (path as bytes), newline included, options
    the keywords of vellumtag.read that are set, with its --details and --xmp objects when
    asked. Any failure is a line of its own."""
    options = options or {}
    row = {"file": path.decode("utf-8", "replace")}
    try:
        values = vellumtag.read(os.fsdecode(path), **options)
        row.update(result=0, values=dict(values))
        if options.get("details"):
            row["document"] = values.document
        if options.get("xmp"):
            row["xmp"] = values.xmp
    except vellumtag.PdfError as error:
        row.update(result=error.code, error=error.message)
    except MemoryError:
        row.update(result=199, error="Out of memory")
    except Exception as error:  # whatever else went wrong is a row too, never a lost batch
        row.update(result=199, error=f"{type(error).__name__}: {error}")
    return json.dumps(row, ensure_ascii=False, separators=(",", ":")) + "\n"


def read_batch(paths, options=None):
    """The JSON lines of a batch of paths, joined, as UTF-8."""
    return "".join(json_line(path, options) for path in paths).encode("utf-8")


def run(client, paths, out, batch_size=BATCH_SIZE, progress=False, on_batch=None, options=None):
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
        return client.map(read_batch, [batches[i] for i in indices], key=keys, options=options)

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


def reader_options(details=False, xmp=False):
    """The keywords of vellumtag.read for --details and --xmp, those that are set."""
    return {name: True for name, wanted in (("details", details), ("xmp", xmp)) if wanted}


class _DatabaseRows:
    """The out of run() for an index database: each batch of lines is written as one
    transaction of rows, with the size and modification time the file had before it was read."""

    def __init__(self, index, signatures):
        self.index = index
        self.signatures = signatures
        self.failed = 0

    def write(self, data):
        rows = []
        for line in data.decode("utf-8").splitlines():
            row = json.loads(line)
            rows.append((row["file"], *self.signatures[row["file"]], row["result"], line))
            self.failed += row["result"] != 0
        self.index.write(rows)


def update_database(index, arguments, start_client, options=None, batch_size=BATCH_SIZE,
                    progress=False, on_batch=None):
    """Brings the database (a database.Index) up to date with the trees of arguments: reads the
    files that are new or whose size or modification time differ from their row, or all of them
    when the rows were written with other options or another version; deletes the rows of files
    that are gone. start_client() gives the context of a Dask client, entered only when there is
    something to read. Returns (read, unchanged, removed, failed)."""
    options = options or {}
    known = index.prepare(vellumtag.__version__,
                          {"details": "details" in options, "xmp": "xmp" in options})
    walked = {}  # printed path: (walked path, status), the first one of those printed alike
    for path, status in walk_with_status(arguments):
        name = database.printed(path)
        first, _ = walked.setdefault(name, (path, status))
        if first != path:
            print(f"Warning: {name} names two files once printed; only the first is indexed",
                  file=sys.stderr)
    removed = [name for name in known if name not in walked]
    if removed:
        index.remove(removed)
    signatures = {}
    for name, (path, status) in walked.items():
        current = database.signature(path, status)
        if known.get(name) != current:
            signatures[name] = current
    rows = _DatabaseRows(index, signatures)
    if signatures:
        to_read = [walked[name][0] for name in signatures]
        with start_client() as client:
            run(client, to_read, rows, batch_size, progress, on_batch, options)
    return len(signatures), len(walked) - len(signatures), len(removed), rows.failed


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m vellumtag.index",
        description="Reads the .pdf files of the directories on a Dask cluster and writes the "
        "console tool's --json lines for them, or keeps them in a database.",
    )
    parser.add_argument("paths", nargs="+", metavar="DIR", help="a directory (or file) to read")
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--out", metavar="FILE.jsonl", help="the JSON Lines file")
    target.add_argument(
        "--db", metavar="FILE.sqlite", help="the SQLite database to write or bring up to date: "
        "only new and changed files are read"
    )
    parser.add_argument("--details", action="store_true", help="as the console tool's --details")
    parser.add_argument("--xmp", action="store_true", help="as the console tool's --xmp")
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
    args = parser.parse_args(argv)
    if args.batch_size < 1 or (args.workers is not None and args.workers < 1):
        parser.error("--workers and --batch-size take a number of at least 1")
    options = reader_options(args.details, args.xmp)
    progress = sys.stderr.isatty()
    if args.db is not None:
        try:
            index = database.Index(args.db)
        except database.IndexFileError as error:
            print(f"vellumtag.index: {error}", file=sys.stderr)
            return 1
        try:
            counts = update_database(index, args.paths,
                                     lambda: _client(args.scheduler, args.workers), options,
                                     args.batch_size, progress)
        except KeyboardInterrupt:
            print("vellumtag.index: interrupted; the next run reads what this one left",
                  file=sys.stderr)
            return 130
        finally:
            index.close()
        print("indexed: {} read, {} unchanged, {} removed, {} failed".format(*counts),
              file=sys.stderr)
        return 0
    paths = list(walk(args.paths))
    with _client(args.scheduler, args.workers) as client, open(args.out, "wb") as out:
        run(client, paths, out, args.batch_size, progress, options=options)
    return 0


if __name__ == "__main__":
    # Run through the package's module, so that Dask sends its functions to the workers by name
    # (vellumtag.index.read_batch), not as functions of __main__.
    from vellumtag.index import main as _main

    sys.exit(_main())
