"""vellumtag.read on 8 Python threads at once: the results of one thread, and sooner, as a read
releases the interpreter's lock. The workload is files that qpdf makes of the samples: 700
pages, as they are, in object streams and encrypted with AES-256, whose reading is C++ work of a
tenth to two thirds of a millisecond each, as a real document's is."""
import hashlib
import os
import shutil
import subprocess
import threading
import time

import pytest
import vellumtag
from conftest import FILES, SOURCE

THREADS = 8


@pytest.fixture(scope="module")
def workload(tmp_path_factory):
    if shutil.which("qpdf") is None:
        pytest.skip("qpdf is not installed")
    folder = tmp_path_factory.mktemp("threads")
    pages = folder / "pages.pdf"
    samples = [str(path) for path in sorted(SOURCE.glob("samples/*.pdf"))]
    made = [
        ["--empty", "--pages", *samples * 100, "--", pages],
        ["--object-streams=generate", pages, folder / "object-streams.pdf"],
        ["--encrypt", "", "owner", "256", "--", pages, folder / "aes-256.pdf"],
    ]
    for arguments in made:
        subprocess.run(["qpdf", *arguments], check=True, timeout=120)
    return sorted(map(str, folder.glob("*.pdf"))) * 100


def read_all(paths):
    results = []
    for path in paths:
        try:
            results.append(vellumtag.read(path))
        except vellumtag.PdfError as error:
            results.append(error.code)
    return results


def read_on_threads(paths):
    shares = [paths[i::THREADS] for i in range(THREADS)]
    results = [None] * THREADS

    def work(i):
        results[i] = read_all(shares[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    merged = [None] * len(paths)
    for i, share in enumerate(results):
        merged[i::THREADS] = share
    return merged


def best_time(function, work, repetitions=5):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        function(work)
        times.append(time.perf_counter() - start)
    return min(times)


def ratio(serial, parallel, work):
    """Time on THREADS threads over time on one, the best of several runs each."""
    return best_time(parallel, work) / best_time(serial, work)


def hash_all(blocks):
    for block in blocks:
        hashlib.sha256(block).digest()


def hash_on_threads(blocks):
    threads = [threading.Thread(target=hash_all, args=(blocks[i::THREADS],))
               for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def test_threads_read_the_same_values(workload):
    paths = workload + list(map(str, FILES)) * 10
    expected = read_all(paths)
    assert read_on_threads(paths) == expected
    assert expected[0] == {"PageCount": "700"}
    assert expected[-len(FILES):] == read_all(map(str, FILES))


@pytest.mark.skipif((os.cpu_count() or 1) < 2, reason="one processor core")
def test_threads_read_faster_than_one(workload):
    # SHA-256 of large blocks, which releases the lock too, tells whether the machine has a
    # second core free at the moment; without one clearly free (hashing 1.33 times as fast),
    # no round can tell anything.
    blocks = [os.urandom(1 << 20) for _ in range(32)]
    rounds = []
    for _ in range(5):
        control = ratio(hash_all, hash_on_threads, blocks)
        ours = ratio(read_all, read_on_threads, workload)
        if ours < 0.9:
            return
        rounds.append((control, ours))
    report = "; ".join(f"reading {ours:.2f}, hashing {control:.2f}" for control, ours in rounds)
    if all(control >= 0.75 for control, _ in rounds):
        pytest.skip(f"no second core free: time on {THREADS} threads over one thread: {report}")
    pytest.fail(f"not faster on {THREADS} threads: time over one thread's: {report}")
