"""The telemetry service's two storage engines behind one small interface,
and the schema's migrations for both, in one list.

  open_database('telemetry.db')                  SQLite file (embedded; one machine)
  open_database('postgresql://user@host/name')   PostgreSQL (several service processes)

SQL is written once with '?' placeholders and the type words {id} and {blob};
each engine turns them into its own. Every method may be called from any
thread: SQLite serialises on one connection's lock, PostgreSQL hands each
caller a pooled connection of its own.
"""
import contextlib
import queue
import sqlite3
import sys
import threading

# The schema's history. Each step runs once per database, in order, and is
# recorded in schema_version; a step is never edited once released, only
# followed by another.
MIGRATIONS = [
    # 1: the documents and log archives as the first releases stored them.
    """
CREATE TABLE IF NOT EXISTS analytics (
  id {id},
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT, status TEXT,
  product TEXT, version TEXT, channel TEXT,
  language TEXT, install_language TEXT,
  os TEXT, architecture TEXT, browser TEXT,
  country TEXT, client_version TEXT,
  external_properties TEXT,
  document {blob} NOT NULL);
CREATE TABLE IF NOT EXISTS region_checks (
  id {id},
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT, product TEXT, version TEXT, channel TEXT, os TEXT,
  country TEXT, embargoed INTEGER,
  document {blob} NOT NULL);
CREATE TABLE IF NOT EXISTS activities (
  id {id},
  time TEXT NOT NULL,
  token TEXT, product TEXT, version TEXT, activity TEXT,
  document {blob} NOT NULL);
CREATE TABLE IF NOT EXISTS log_uploads (
  id {id},
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT,
  entries TEXT NOT NULL,
  size INTEGER NOT NULL,
  archive {blob} NOT NULL);
CREATE TABLE IF NOT EXISTS pageviews (
  id {id},
  time TEXT NOT NULL,
  payload {blob} NOT NULL);
CREATE INDEX IF NOT EXISTS analytics_token ON analytics(token);
CREATE INDEX IF NOT EXISTS analytics_machine ON analytics(machine_id);
""",
    # 2: archives kept in pieces (written and read a piece at a time), one
    # upload per run (earlier extra uploads of a run keep a token marked
    # "#id"), refused uploads counted, pageviews parsed into columns.
    """
CREATE TABLE log_chunks (
  upload_id INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  data {blob} NOT NULL,
  PRIMARY KEY (upload_id, seq));
UPDATE log_uploads SET token = token || '#' || CAST(id AS TEXT)
  WHERE id NOT IN (SELECT MIN(id) FROM log_uploads GROUP BY token);
CREATE UNIQUE INDEX log_uploads_token ON log_uploads(token);
CREATE TABLE refused_uploads (
  id {id},
  time TEXT NOT NULL,
  token TEXT, reason TEXT NOT NULL, size BIGINT NOT NULL);
ALTER TABLE pageviews ADD COLUMN machine_id TEXT;
ALTER TABLE pageviews ADD COLUMN page TEXT;
ALTER TABLE pageviews ADD COLUMN result TEXT;
ALTER TABLE pageviews ADD COLUMN channel TEXT;
ALTER TABLE pageviews ADD COLUMN language TEXT;
CREATE INDEX pageviews_machine ON pageviews(machine_id);
CREATE INDEX analytics_time ON analytics(time);
""",
]

TYPE_WORDS = {
    'sqlite': {'id': 'INTEGER PRIMARY KEY', 'blob': 'BLOB'},
    'postgresql': {'id': 'BIGSERIAL PRIMARY KEY', 'blob': 'BYTEA'},
}


def postgres_sql(sql, args):
    """SQL with '?' placeholders as psycopg takes it (a literal '%' doubled
    when there are arguments; no arguments given as None, so '%' stays)."""
    if not args:
        return sql, None
    return sql.replace('%', '%%').replace('?', '%s'), args


def statements(script, engine):
    text = script.replace('{id}', TYPE_WORDS[engine]['id']).replace('{blob}', TYPE_WORDS[engine]['blob'])
    return [s.strip() for s in text.split(';') if s.strip()]


class IntegrityError(Exception):
    """A unique key was already taken (by this process or another)."""


class StoreUnavailable(Exception):
    """The database cannot be reached or is busy; the request may be tried again."""


class SqliteDatabase:
    engine = 'sqlite'

    def __init__(self, path):
        self._lock = threading.RLock()
        self._db = sqlite3.connect(path, check_same_thread=False, isolation_level=None, timeout=30)
        # WAL lets --report read while the service writes, and several
        # processes on one machine share the file.
        self._db.execute('PRAGMA journal_mode=WAL')
        self._migrate()

    def _migrate(self):
        with self.transaction() as cursor:
            cursor.execute('CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)')
            found = cursor.execute('SELECT MAX(version) FROM schema_version').fetchone()[0] or 0
            for version in range(found + 1, len(MIGRATIONS) + 1):
                for sql in statements(MIGRATIONS[version - 1], self.engine):
                    cursor.execute(sql)
                cursor.execute('INSERT INTO schema_version (version) VALUES (?)', (version,))

    @contextlib.contextmanager
    def transaction(self):
        """A cursor inside BEGIN ... COMMIT (ROLLBACK on an exception)."""
        with self._lock:
            cursor = self._db.cursor()
            try:
                cursor.execute('BEGIN IMMEDIATE')
            except sqlite3.OperationalError as error:
                raise StoreUnavailable(str(error))
            try:
                yield Cursor(cursor, self.engine)
            except BaseException:
                cursor.execute('ROLLBACK')
                raise
            try:
                cursor.execute('COMMIT')
            except sqlite3.OperationalError as error:
                cursor.execute('ROLLBACK')
                raise StoreUnavailable(str(error))

    def query(self, sql, args=()):
        with self._lock:
            try:
                return self._db.execute(sql, args).fetchall()
            except sqlite3.OperationalError as error:
                raise StoreUnavailable(str(error))

    def insert(self, table, row):
        """One row in a transaction of its own; answers its id."""
        with self.transaction() as cursor:
            return cursor.insert(table, row)

    def close(self):
        with self._lock:
            self._db.close()


class PostgresDatabase:
    engine = 'postgresql'

    def __init__(self, url, pool_size=16):
        try:
            import psycopg  # only a PostgreSQL deployment needs it
        except ImportError:
            raise StoreUnavailable('PostgreSQL needs psycopg 3 (Debian: python3-psycopg) in this interpreter, %s'
                                   % sys.executable)
        self._psycopg = psycopg
        self._url = url
        self._idle = queue.LifoQueue()
        self._slots = threading.BoundedSemaphore(pool_size)
        self._closed = False
        with self._connection() as conn:
            with conn.transaction():
                # Several processes may start at once: one migrates, the others wait.
                conn.execute('SELECT pg_advisory_xact_lock(7270001)')
                conn.execute('CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)')
                found = conn.execute('SELECT MAX(version) FROM schema_version').fetchone()[0] or 0
                for version in range(found + 1, len(MIGRATIONS) + 1):
                    for sql in statements(MIGRATIONS[version - 1], self.engine):
                        conn.execute(sql)
                    conn.execute('INSERT INTO schema_version (version) VALUES (%s)', (version,))

    @contextlib.contextmanager
    def _connection(self):
        self._slots.acquire()
        conn = None
        try:
            try:
                conn = self._idle.get_nowait()
            except queue.Empty:
                conn = self._psycopg.connect(self._url, autocommit=True)
            yield conn
        except self._psycopg.OperationalError as error:
            if conn is not None:
                conn.close()
                conn = None
            raise StoreUnavailable(str(error))
        except BaseException:
            if conn is not None:
                conn.close()
                conn = None
            raise
        finally:
            if conn is not None:
                if self._closed or conn.closed or conn.info.transaction_status != 0:
                    conn.close()
                else:
                    self._idle.put(conn)
            self._slots.release()

    @contextlib.contextmanager
    def transaction(self):
        with self._connection() as conn:
            try:
                with conn.transaction():
                    yield Cursor(conn.cursor(), self.engine, self._psycopg)
            except self._psycopg.errors.UniqueViolation as error:
                raise IntegrityError(str(error))

    def query(self, sql, args=()):
        with self._connection() as conn:
            return conn.execute(*postgres_sql(sql, args)).fetchall()

    def insert(self, table, row):
        """One row, committed by itself (one round trip: no BEGIN and COMMIT
        around it); answers its id."""
        with self._connection() as conn:
            return Cursor(conn.cursor(), self.engine, self._psycopg).insert(table, row)

    def close(self):
        self._closed = True
        while True:
            try:
                self._idle.get_nowait().close()
            except queue.Empty:
                break


class Cursor:
    """The few cursor operations the store needs, the same on both engines."""

    def __init__(self, cursor, engine, psycopg=None):
        self._cursor = cursor
        self._engine = engine
        self._psycopg = psycopg

    def execute(self, sql, args=()):
        if self._engine == 'postgresql':
            sql, args = postgres_sql(sql, args)
        try:
            return self._cursor.execute(sql, args)
        except sqlite3.IntegrityError as error:
            raise IntegrityError(str(error))
        except Exception as error:
            if self._psycopg and isinstance(error, self._psycopg.errors.UniqueViolation):
                raise IntegrityError(str(error))
            raise

    def fetchall(self):
        return self._cursor.fetchall()

    def insert(self, table, row):
        """Inserts row (a dict) and answers its id."""
        columns = ', '.join(row)
        marks = ', '.join('?' for _ in row)
        sql = 'INSERT INTO %s (%s) VALUES (%s)' % (table, columns, marks)
        if self._engine == 'postgresql':
            self.execute(sql + ' RETURNING id', list(row.values()))
            return self._cursor.fetchone()[0]
        self.execute(sql, list(row.values()))
        return self._cursor.lastrowid


def open_database(target):
    if target.startswith(('postgresql://', 'postgres://')):
        return PostgresDatabase(target)
    return SqliteDatabase(target)
