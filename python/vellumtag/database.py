"""The SQLite index of vellumtag.index --db and vellumtag.search: its tables, the lock of the run
that writes it, which files a run must read, and the rows it writes.

    files(path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER, result INTEGER, json TEXT)
    search   FTS5 over the file name and Title, Author, Subject, Keywords, Creator, Producer
    meta(key TEXT PRIMARY KEY, value TEXT)   schema_version, version, options

path is the walked path as the console tool prints it; json is the object of its --json line.
size and mtime_ns are those of the file when it was read (both NULL when it could not be
examined, such as a dangling link or a missing argument). size -1 marks a row written with other
options or by another version of the reader: it is read again.

search is an external-content FTS5 table (https://sqlite.org/fts5.html, 4.4.3) over the view
search_source, kept in step with files by triggers; its rowid is the rowid of files. VACUUM may
renumber those: after one, rebuild it with INSERT INTO search(search) VALUES('rebuild').
"""

import contextlib
import fcntl
import json
import os
import sqlite3
import urllib.parse

SCHEMA_VERSION = 1
STALE_SIZE = -1

# The values indexed for search, by column name, beside the file name.
_SEARCHED = ("Title", "Author", "Subject", "Keywords", "Creator", "Producer")
_COLUMNS = ", ".join(["name"] + [key.lower() for key in _SEARCHED])


def _search_values(row):
    # The file name: what follows the last '/' (rtrim strips every character that is not one).
    name = f"substr({row}.path, length(rtrim({row}.path, replace({row}.path, '/', ''))) + 1)"
    values = [f"json_extract({row}.json, '$.values.{key}')" for key in _SEARCHED]
    return ", ".join([name] + values)


_SCHEMA = f"""
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS files(
    path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER, result INTEGER, json TEXT);
CREATE VIEW IF NOT EXISTS search_source(id, {_COLUMNS}) AS
    SELECT files.rowid, {_search_values("files")} FROM files;
CREATE VIRTUAL TABLE IF NOT EXISTS search USING fts5({_COLUMNS},
    content='search_source', content_rowid='id', tokenize='unicode61 remove_diacritics 2');
CREATE TRIGGER IF NOT EXISTS files_inserted AFTER INSERT ON files BEGIN
    INSERT INTO search(rowid, {_COLUMNS}) VALUES(new.rowid, {_search_values("new")});
END;
CREATE TRIGGER IF NOT EXISTS files_deleted AFTER DELETE ON files BEGIN
    INSERT INTO search(search, rowid, {_COLUMNS})
        VALUES('delete', old.rowid, {_search_values("old")});
END;
CREATE TRIGGER IF NOT EXISTS files_changed AFTER UPDATE OF path, json ON files
    WHEN old.json IS NOT new.json OR old.path IS NOT new.path BEGIN
    INSERT INTO search(search, rowid, {_COLUMNS})
        VALUES('delete', old.rowid, {_search_values("old")});
    INSERT INTO search(rowid, {_COLUMNS}) VALUES(new.rowid, {_search_values("new")});
END;
"""

_UPSERT = """
INSERT INTO files(path, size, mtime_ns, result, json) VALUES(?, ?, ?, ?, ?)
ON CONFLICT(path) DO UPDATE SET size = excluded.size, mtime_ns = excluded.mtime_ns,
    result = excluded.result, json = excluded.json
"""


class IndexFileError(Exception):
    """A database that can't be indexed into: in use, of another schema, not a database."""


class InUse(IndexFileError):
    """The database is being written by another index run."""


def signature(path, status=None):
    """(size, mtime_ns) of the file that path (bytes) leads to, or (None, None); status is
    os.stat's result for it when the caller has one."""
    if status is None:
        try:
            status = os.stat(path)
        except (OSError, ValueError):
            return None, None
    return status.st_size, status.st_mtime_ns


def printed(path):
    """The path (bytes) as the console tool prints it, which is the key of its row."""
    return path.decode("utf-8", "replace")


class Index:
    """An index database opened by the one run that writes it: the run holds an exclusive lock
    (flock(2) on the database file, which SQLite's own POSIX locks don't meet) until close(), so
    that a second run stops at once. Every batch of rows is one transaction; the journal is a
    write-ahead log, so that readers query while the run writes."""

    def __init__(self, path):
        self.path = os.fsdecode(path)
        # Held open until after the connection is closed: closing another descriptor of the file
        # would drop SQLite's POSIX locks on it.
        try:
            self._lock = os.open(path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
        except OSError as error:
            raise IndexFileError(f"{self.path}: {error.strerror}") from None
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(self._lock)
            raise InUse(f"{self.path} is being written by another index run; "
                        "run this one when it has finished") from None
        try:
            self.connection = sqlite3.connect(path, isolation_level=None)
            self.connection.execute("PRAGMA journal_mode=WAL")
            # In WAL mode a commit survives the death of the process that made it.
            self.connection.execute("PRAGMA synchronous=NORMAL")
            self.connection.executescript("BEGIN IMMEDIATE;" + _SCHEMA + "COMMIT;")
        except sqlite3.DatabaseError as error:
            self.close()
            raise IndexFileError(f"{self.path}: {error}") from None

    def close(self):
        if getattr(self, "connection", None) is not None:
            self.connection.close()
            self.connection = None
        if self._lock is not None:
            os.close(self._lock)
            self._lock = None

    @contextlib.contextmanager
    def _transaction(self):
        self.connection.execute("BEGIN IMMEDIATE")
        try:
            yield self.connection
        except BaseException:
            self.connection.execute("ROLLBACK")
            raise
        self.connection.execute("COMMIT")

    def prepare(self, version, options):
        """Records the version and options of this run; when they differ from those the rows
        were written with, marks every row to be read again. Returns the rows' signatures by
        path: {path: (size, mtime_ns)}."""
        meta = dict(self.connection.execute("SELECT key, value FROM meta"))
        schema = meta.get("schema_version")
        if schema is not None and schema != str(SCHEMA_VERSION):
            raise IndexFileError(f"{self.path} has the index schema {schema}, which this "
                                 f"version ({version}) doesn't write; index into a new file")
        wanted = {"schema_version": str(SCHEMA_VERSION), "version": version,
                  "options": json.dumps(options, sort_keys=True)}
        if meta != wanted:
            with self._transaction() as connection:
                if meta.get("version") != version or meta.get("options") != wanted["options"]:
                    connection.execute("UPDATE files SET size = ?", (STALE_SIZE,))
                connection.executemany("INSERT OR REPLACE INTO meta VALUES(?, ?)",
                                       wanted.items())
        return {path: (size, mtime) for path, size, mtime in
                self.connection.execute("SELECT path, size, mtime_ns FROM files")}

    def remove(self, paths):
        with self._transaction() as connection:
            connection.executemany("DELETE FROM files WHERE path = ?", ((p,) for p in paths))

    def write(self, rows):
        """Writes rows of (path, size, mtime_ns, result, json) in one transaction."""
        with self._transaction() as connection:
            connection.executemany(_UPSERT, rows)


def open_for_search(path):
    """A read-only connection to an existing index; IndexFileError if there is none."""
    if not os.path.isfile(path):
        raise IndexFileError(f"{os.fsdecode(path)}: no such index")
    uri = "file:" + urllib.parse.quote_from_bytes(os.path.abspath(os.fsencode(path))) + "?mode=ro"
    try:
        connection = sqlite3.connect(uri, uri=True)
        connection.execute("SELECT 1 FROM files, search LIMIT 1").fetchall()
    except sqlite3.DatabaseError as error:
        raise IndexFileError(f"{os.fsdecode(path)}: not an index: {error}") from None
    return connection
