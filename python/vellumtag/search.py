"""Queries an index that python3 -m vellumtag.index --db wrote.

    python3 -m vellumtag.search FILE.sqlite QUERY [--json] [--limit N]

QUERY is an FTS5 query (https://sqlite.org/fts5.html, 3) over the columns name (the file name),
title, author, subject, keywords, creator and producer: knuth, author:knuth,
title:"type theory" AND producer:pdftex. The paths of the matching files are printed best match
first, or with --json the console tool's --json lines for them. A malformed query is an error
with exit code 2; an index that can't be opened one with exit code 1.
"""

import argparse
import sqlite3
import sys

from vellumtag import database

_QUERY = """
SELECT files.path, files.json FROM search JOIN files ON files.rowid = search.rowid
WHERE search MATCH ? ORDER BY search.rank LIMIT ?
"""


def search(connection, query, limit=None):
    """(path, json) of the files that match query, best first; sqlite3.OperationalError for a
    malformed query."""
    return connection.execute(_QUERY, (query, -1 if limit is None else limit)).fetchall()


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m vellumtag.search",
        description="Prints the files of an index database that match an FTS5 query, best "
        "first. Columns: name, title, author, subject, keywords, creator, producer.",
    )
    parser.add_argument("database", metavar="FILE.sqlite", help="the index database")
    parser.add_argument("query", metavar="QUERY", help='e.g. author:knuth, title:"type theory"')
    parser.add_argument("--json", action="store_true", help="print the --json lines, not paths")
    parser.add_argument("--limit", type=int, metavar="N", help="at most N files")
    args = parser.parse_args(argv)
    if args.limit is not None and args.limit < 0:
        parser.error("--limit takes a number of at least 0")
    try:
        connection = database.open_for_search(args.database)
    except database.IndexFileError as error:
        print(f"vellumtag.search: {error}", file=sys.stderr)
        return 1
    try:
        rows = search(connection, args.query, args.limit)
    except sqlite3.OperationalError as error:
        # FTS5's own words, such as "fts5: syntax error near ...", "no such column: ...",
        # "unterminated string"; the database's troubles name it.
        malformed = not any(text in str(error) for text in ("database", "disk", "locked", "open"))
        what = f"malformed query {args.query!r}" if malformed else args.database
        print(f"vellumtag.search: {what}: {error}", file=sys.stderr)
        return 2 if malformed else 1
    finally:
        connection.close()
    # UTF-8, as the console tool prints, whatever the locale.
    sys.stdout.buffer.write("".join((line if args.json else path) + "\n" for path, line in rows)
                            .encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
