"""vellumtag.index --db and vellumtag.search over a tree of more than 1,000 files: the builder
files of make_tree, the samples and test files, a name that is not UTF-8, a dangling link and a
missing argument. The first run's rows are the console tool's --json -r lines; a rerun over an
unchanged tree opens no PDF (strace counts the opens of the client and its workers); changes,
a client killed with SIGKILL, another version or other options each end in the database that a
fresh index of the tree gives. Runs go through a two-worker local cluster and --workers 1."""
import contextlib
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import unicodedata

import pytest
import vellumtag
from conftest import FILES, SOURCE, console_json
from distributed import Client, LocalCluster
from vellumtag import database, index


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as connected:
        yield connected


@pytest.fixture
def tree(tmp_path):
    root = tmp_path / "tree"
    subprocess.run([os.environ["VELLUMTAG_MAKE_TREE"], root / "builder", "1000"], check=True)
    for folder in range(3):
        (root / f"copies-{folder}").mkdir()
        for path in FILES:
            shutil.copyfile(path, root / f"copies-{folder}" / path.name)
    shutil.copyfile(SOURCE / "samples/hello.pdf", os.path.join(os.fsencode(root), b"caf\xe9.pdf"))
    (root / "dangling.pdf").symlink_to(root / "gone.pdf")
    return [root, tmp_path / "missing.pdf"]


def command(module, *arguments, strace=None):
    line = [sys.executable, "-m", module, *map(os.fsencode, arguments)]
    if strace is not None:
        line = ["strace", "-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o", strace, *line]
    done = subprocess.run(line, capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def scheduler(client):
    return "--scheduler", client.scheduler_info()["address"]


def rows(db):
    with sqlite3.connect(db) as connection:
        return dict(connection.execute("SELECT path, json FROM files"))


def console_rows(arguments):
    lines = console_json("-r", *arguments).decode().splitlines()
    return {json.loads(line)["file"]: line for line in lines}


def fresh_index(db, roots, client):
    written = database.Index(db)
    try:
        index.update_database(written, roots, lambda: contextlib.nullcontext(client))
    finally:
        written.close()


def assert_fresh(db, roots, client, tmp_path):
    """db holds what a fresh index of roots holds, and its search index matches its rows."""
    fresh = tmp_path / "fresh.sqlite"
    fresh_index(fresh, roots, client)
    table = "SELECT path, size, mtime_ns, result, json FROM files ORDER BY path"
    with sqlite3.connect(db) as got, sqlite3.connect(fresh) as want:
        assert got.execute(table).fetchall() == want.execute(table).fetchall()
        got.execute("INSERT INTO search(search, rank) VALUES('integrity-check', 1)")


def summary(read, unchanged, removed, failed=0):
    return f"indexed: {read} read, {unchanged} unchanged, {removed} removed, {failed} failed\n"


def test_first_run_changes_and_unchanged_reruns(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    expected = console_rows(tree)
    assert len(expected) > 1000
    failed = sum(json.loads(line)["result"] != 0 for line in expected.values())
    code, _, errors = command("vellumtag.index", *tree, "--db", db, *scheduler(client))
    assert code == 0 and errors.endswith(summary(len(expected), 0, 0, failed)), errors
    assert rows(db) == expected
    with sqlite3.connect(db) as connection:
        assert connection.execute("PRAGMA journal_mode").fetchone() == ("wal",)
        assert dict(connection.execute("SELECT key, value FROM meta")) == {
            "schema_version": "1", "version": vellumtag.__version__,
            "options": '{"details": false, "xmp": false}'}

    # Nothing changed: not one PDF is opened, by the client or by a worker.
    opens = tmp_path / "opens.txt"
    code, _, errors = command("vellumtag.index", *tree, "--db", db, "--workers", "1", strace=opens)
    assert (code, errors) == (0, summary(0, len(expected), 0)), errors
    root = os.fsencode(tree[0])
    assert [line for line in opens.read_bytes().splitlines()
            if root in line and b"O_DIRECTORY" not in line] == []

    # One file changed, one added, one deleted, one replaced by a folder holding a new file.
    builder = tree[0] / "builder/000"
    shutil.copyfile(SOURCE / "samples/unicode-title.pdf", builder / "doc-000001.pdf")
    shutil.copyfile(SOURCE / "samples/xmp-only.pdf", builder / "added.pdf")
    (builder / "doc-000002.pdf").unlink()
    (builder / "doc-000003.pdf").unlink()
    (builder / "doc-000003.pdf").mkdir()
    shutil.copyfile(SOURCE / "samples/hello.pdf", builder / "doc-000003.pdf/inside.pdf")
    code, _, errors = command("vellumtag.index", *tree, "--db", db, "--workers", "1")
    assert code == 0 and errors.endswith(summary(3, len(expected) - 3, 2)), errors
    assert rows(db) == console_rows(tree)
    assert_fresh(db, tree, client, tmp_path)


def test_a_killed_client_leaves_what_it_committed(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    # A client that kills itself with SIGKILL once its third batch is written.
    killer = """if True:
        import contextlib, os, signal, sys
        from distributed import Client
        from vellumtag import database, index
        def kill(done, total):
            if done == 3:
                os.kill(os.getpid(), signal.SIGKILL)
        with Client(sys.argv[2]) as client:
            index.update_database(database.Index(sys.argv[1]), sys.argv[3:],
                                  lambda: contextlib.nullcontext(client), batch_size=50,
                                  on_batch=kill)"""
    done = subprocess.run([sys.executable, "-c", killer, db, scheduler(client)[1], *tree],
                          capture_output=True, timeout=300)
    assert done.returncode == -signal.SIGKILL, done.stderr.decode()
    assert len(rows(db)) == 150
    total = len(console_rows(tree))
    code, _, errors = command("vellumtag.index", *tree, "--db", db, *scheduler(client))
    assert code == 0 and f"indexed: {total - 150} read, 150 unchanged, 0 removed" in errors
    assert_fresh(db, tree, client, tmp_path)


def test_another_version_reads_everything_again(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    fresh_index(db, tree, client)
    total = len(rows(db))
    with sqlite3.connect(db) as connection:
        connection.execute("UPDATE meta SET value = '0.9.0' WHERE key = 'version'")
    code, _, errors = command("vellumtag.index", *tree, "--db", db, *scheduler(client))
    assert code == 0 and f"indexed: {total} read, 0 unchanged" in errors
    assert_fresh(db, tree, client, tmp_path)


def test_other_options_read_everything_again(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    fresh_index(db, tree, client)
    total = len(rows(db))
    code, _, errors = command("vellumtag.index", *tree, "--db", db, "--details", "--workers", "1")
    assert code == 0 and f"indexed: {total} read, 0 unchanged" in errors
    for options in [["--details", "--xmp"], [], ["--xmp"]]:
        code, _, errors = command("vellumtag.index", *tree, "--db", db, *options,
                                  *scheduler(client))
        assert code == 0 and f"indexed: {total} read, 0 unchanged" in errors
        assert rows(db) == console_rows([*options, *tree])


def test_a_second_run_on_the_same_database_stops(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    fresh_index(db, [SOURCE / "samples"], client)
    before = rows(db)
    first = database.Index(db)
    try:
        # The first run is writing a batch: readers still see the committed rows.
        first.connection.execute("BEGIN IMMEDIATE")
        first.connection.execute("DELETE FROM files")
        _, found, _ = command("vellumtag.search", db, "hello")
        assert found.endswith("samples/hello.pdf\n")
        code, _, errors = command("vellumtag.index", *tree, "--db", db, "--workers", "1")
        first.connection.execute("ROLLBACK")
    finally:
        first.close()
    assert (code, errors) == (1, f"vellumtag.index: {db} is being written by another index run; "
                                 "run this one when it has finished\n")
    assert rows(db) == before


def test_search(tree, client, tmp_path):
    db = tmp_path / "index.sqlite"
    fresh_index(db, tree, client)
    values = {path: json.loads(line).get("values", {}) for path, line in rows(db).items()}

    def words(path, key):
        # The text as FTS5's unicode61 tokenizer with remove_diacritics folds it.
        text = unicodedata.normalize("NFKD", values[path].get(key, "")).lower()
        return "".join(c for c in text if not unicodedata.combining(c))

    for query, wanted in [
        ("concrete", lambda path: "concrete" in words(path, "Title")),
        ("author:jose", lambda path: "jose" in words(path, "Author")),
        ('title:"type theory" AND producer:pdftex',
         lambda path: "type theory" in words(path, "Title")
         and "pdftex" in words(path, "Producer")),
        ("name:hello", lambda path: path.endswith("/hello.pdf")),
    ]:
        code, out, errors = command("vellumtag.search", db, query)
        assert (code, errors) == (0, "") and len(out.splitlines()) >= 3, query
        assert sorted(out.splitlines()) == sorted(filter(wanted, values)), query
    # Best first: the sample whose title, subject and file name all say so.
    _, out, _ = command("vellumtag.search", db, "xmp OR metadata", "--limit", "1")
    assert out.endswith("/xmp-only.pdf\n") and out.count("\n") == 1
    _, out, _ = command("vellumtag.search", db, "title:concrete", "--json", "--limit", "2")
    assert [json.loads(line)["values"]["Title"][:21] for line in out.splitlines()] == [
        "Concrete Mathematics "] * 2
    for query in ['title:"type', "nosuchcolumn:knuth", "AND", "knuth NOT"]:
        code, out, errors = command("vellumtag.search", db, query)
        assert (code, out) == (2, "") and errors.startswith("vellumtag.search: malformed query")
    code, _, errors = command("vellumtag.search", tmp_path / "none.sqlite", "knuth")
    assert code == 1 and "no such index" in errors and not (tmp_path / "none.sqlite").exists()
