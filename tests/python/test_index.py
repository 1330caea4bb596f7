"""vellumtag.index on a Dask cluster of two worker processes on 127.0.0.1: over more than 1,000
files its JSON Lines are the console tool's --json output for the same directories, byte for
byte and in the same order, also when a worker is killed halfway through the run.

The files are the samples and test files copied into 52 folders, beside what the walk must
take or pass over alike (names in other letter cases, that are not UTF-8 or need escaping in
JSON, links to files and dangling ones, a link to a folder, a FIFO, a text file, a file that
is not a PDF), and the conformance corpus when conformance.real_world has cached it."""
import io
import os
import pty
import shutil
import signal
import subprocess
import sys
import threading

import pytest
from conftest import FILES, SOURCE, console_json, corpus
from distributed import Client, LocalCluster
from vellumtag import index


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("tree")
    for folder in range(52):
        target = root / f"{folder:02}"
        target.mkdir()
        for path in FILES:
            shutil.copyfile(path, target / path.name)
    odd = root / "odd"
    odd.mkdir()
    hello = SOURCE / "samples/hello.pdf"
    for name in [b"UPPER.PDF", b"Mixed.Pdf", b"caf\xe9.pdf", b'quote"back\\slash\nline.pdf',
                 b"..pdf", b"no-extension"]:
        shutil.copyfile(hello, os.path.join(os.fsencode(odd), name))
    (odd / ".pdf").write_bytes(hello.read_bytes())
    (odd / "notes.txt").write_text("not read")
    (odd / "text.pdf").write_text("not a PDF")
    (odd / "linked.pdf").symlink_to(hello)
    (odd / "dangling.pdf").symlink_to(odd / "gone.pdf")
    (odd / "folder-link").symlink_to(root / "00", target_is_directory=True)
    os.mkfifo(odd / "fifo.pdf")
    # A missing argument is a line of its own, as the console tool gives it.
    roots = [root, root / "missing.pdf"]
    if corpus() is not None:
        roots.append(corpus())
    return roots


@pytest.fixture(scope="module")
def expected(tree):
    out = console_json("-r", *tree)
    assert out.count(b"\n") >= 1000
    return out


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as connected:
        yield connected


def index_command(*arguments, stderr=subprocess.PIPE):
    return subprocess.run([sys.executable, "-m", "vellumtag.index", *map(os.fsencode, arguments)],
                          stdout=subprocess.PIPE, stderr=stderr, timeout=300)


def test_lines_are_the_console_tools_on_a_running_cluster(tree, expected, client, tmp_path):
    out = tmp_path / "index.jsonl"
    done = index_command(*tree, "--out", out, "--scheduler", client.scheduler_info()["address"])
    assert done.returncode == 0, done.stderr.decode()
    assert out.read_bytes() == expected
    assert b'"file":"' + os.fsencode(tree[0]) + b'/odd/caf\xef\xbf\xbd.pdf"' in expected
    assert b'"result":101,"error":"Not a PDF file"' in expected
    assert b'"result":106,' in expected


def test_each_file_once_when_a_worker_is_killed(tree, expected, client):
    paths = list(index.walk(tree))
    pids = client.run(os.getpid)
    victim = sorted(pids.values())[0]
    state = {}

    def kill_once(done, total):
        if not state:
            state.update(done=done, total=total)
            os.kill(victim, signal.SIGKILL)

    out = io.BytesIO()
    index.run(client, paths, out, batch_size=20, on_batch=kill_once)
    assert state["done"] < state["total"]
    assert out.getvalue() == expected
    client.wait_for_workers(2, timeout=60)
    assert victim not in client.run(os.getpid).values()


def test_embedded_cluster_with_progress_on_a_terminal(tmp_path):
    out = tmp_path / "samples.jsonl"
    samples = SOURCE / "samples"
    controller, terminal = pty.openpty()
    shown = []

    def collect():
        while True:
            try:
                data = os.read(controller, 4096)
            except OSError:
                return
            if not data:
                return
            shown.append(data)

    reader = threading.Thread(target=collect)
    reader.start()
    try:
        done = index_command(samples, "--out", out, "--workers", "2", stderr=terminal)
    finally:
        os.close(terminal)
        reader.join(timeout=10)
        os.close(controller)
    assert done.returncode == 0, b"".join(shown).decode()
    assert out.read_bytes() == console_json("-r", samples)
    assert b"| 100% Completed |" in b"".join(shown)


def test_each_file_once_when_the_cluster_restarts(tree, expected, client):
    paths = list(index.walk(tree))
    restarted = []

    def restart_once(done, total):
        if not restarted:
            restarted.append(total - done)
            client.restart()

    out = io.BytesIO()
    index.run(client, paths, out, batch_size=20, on_batch=restart_once)
    assert restarted[0] > 0
    assert out.getvalue() == expected
