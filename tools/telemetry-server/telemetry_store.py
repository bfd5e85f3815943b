"""The telemetry service's storage: the documents the installer sends,
parsed into columns, and the log archives it uploads, in one SQLite file.
Also the install-funnel report read from it.

Standard library only.
"""
import io
import json
import sqlite3
import threading
import time
import zipfile
import xml.etree.ElementTree as ElementTree

# Status words whose run failed.
FAILURE_WORDS = {
    'error occurred', 'modify error occurred', 'repair error occurred',
    'remove error occurred', 'stub failed',
}
STARTED_WORD = 'started'
# Identifiers that mean "none could be made".
NO_MACHINE_ID = 'X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX'

MAX_ZIP_ENTRIES = 256
MAX_ZIP_UNPACKED_BYTES = 512 << 20

SCHEMA = """
CREATE TABLE IF NOT EXISTS analytics (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT, status TEXT,
  product TEXT, version TEXT, channel TEXT,
  language TEXT, install_language TEXT,
  os TEXT, architecture TEXT, browser TEXT,
  country TEXT, client_version TEXT,
  external_properties TEXT,
  document BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS region_checks (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT, product TEXT, version TEXT, channel TEXT, os TEXT,
  country TEXT, embargoed INTEGER,
  document BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS activities (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  token TEXT, product TEXT, version TEXT, activity TEXT,
  document BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS log_uploads (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  token TEXT, machine_id TEXT,
  entries TEXT NOT NULL,
  size INTEGER NOT NULL,
  archive BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS pageviews (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  payload BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS analytics_token ON analytics(token);
CREATE INDEX IF NOT EXISTS analytics_machine ON analytics(machine_id);
"""


class BadInput(Exception):
    """A request the service refuses (answered with 400, stored nowhere)."""


def now_text():
    return time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())


def parse_document(body, root_name):
    """The XML element tree of a UTF-8 document whose root is `root_name`."""
    # No document of ours declares a type or entities; refusing them keeps
    # entity expansion out of reach.
    if b'<!DOCTYPE' in body or b'<!ENTITY' in body:
        raise BadInput('document type declarations are not accepted')
    try:
        root = ElementTree.fromstring(body.decode('utf-8'))
    except (UnicodeDecodeError, ElementTree.ParseError) as error:
        raise BadInput('malformed document: %s' % error)
    if root.tag != root_name:
        raise BadInput('expected <%s>, got <%s>' % (root_name, root.tag))
    return root


def child_text(element, path, required=True):
    found = element.find(path)
    if found is None:
        if required:
            raise BadInput('missing <%s>' % path)
        return ''
    return found.text or ''


def parse_analytics(body):
    root = parse_document(body, 'ORVIKAnalytics')
    properties = []
    for prop in root.findall('mainApp/externalProperties/property'):
        properties.append([child_text(prop, 'name'), child_text(prop, 'value')])
    return {
        'token': child_text(root, 'requestToken'),
        'country': child_text(root, 'country'),
        'product': child_text(root, 'mainApp/productId'),
        'version': child_text(root, 'mainApp/productVersion'),
        'channel': child_text(root, 'mainApp/channelId'),
        'install_language': child_text(root, 'mainApp/installLanguage'),
        'status': child_text(root, 'mainApp/status'),
        'external_properties': json.dumps(properties, ensure_ascii=False),
        'os': child_text(root, 'userEnvironment/OS'),
        'language': child_text(root, 'userEnvironment/language'),
        'architecture': child_text(root, 'userEnvironment/architecture'),
        'browser': child_text(root, 'userEnvironment/defaultBrowser'),
        'client_version': child_text(root, 'ORVIKVersion'),
        'machine_id': child_text(root, 'machineId'),
    }


def parse_region_request(body):
    root = parse_document(body, 'RegionRestrictions')
    return {
        'token': child_text(root, 'token'),
        'product': child_text(root, 'productId'),
        'version': child_text(root, 'productVersion'),
        'channel': child_text(root, 'channel'),
        'os': child_text(root, 'os'),
        'machine_id': child_text(root, 'machineId'),
    }


def parse_activity(body):
    root = parse_document(body, 'UserActivity')
    return {
        'token': child_text(root, 'token'),
        'product': child_text(root, 'productId'),
        'version': child_text(root, 'productVersion'),
        'activity': child_text(root, 'activity'),
    }


def inspect_archive(body):
    """[(name, crc32, size)] of a ZIP archive whose every entry reads back intact."""
    try:
        archive = zipfile.ZipFile(io.BytesIO(body))
    except (zipfile.BadZipFile, ValueError, OSError) as error:
        raise BadInput('not a ZIP archive: %s' % error)
    with archive:
        infos = archive.infolist()
        if not infos:
            raise BadInput('empty archive')
        if len(infos) > MAX_ZIP_ENTRIES:
            raise BadInput('too many entries')
        if sum(info.file_size for info in infos) > MAX_ZIP_UNPACKED_BYTES:
            raise BadInput('archive unpacks too large')
        try:
            bad = archive.testzip()
        except (zipfile.BadZipFile, NotImplementedError, RuntimeError, ValueError, OSError, EOFError) as error:
            raise BadInput('unreadable archive: %s' % error)
        if bad is not None:
            raise BadInput('damaged entry %s' % bad)
        return [(info.filename, info.CRC, info.file_size) for info in infos]


class Store:
    """One SQLite file, shared by the server's threads."""

    def __init__(self, path):
        self._lock = threading.Lock()
        self._db = sqlite3.connect(path, check_same_thread=False)
        with self._lock:
            self._db.executescript(SCHEMA)
            self._db.commit()

    def close(self):
        with self._lock:
            self._db.close()

    def _insert(self, table, row):
        columns = ', '.join(row)
        marks = ', '.join('?' for _ in row)
        with self._lock:
            self._db.execute('INSERT INTO %s (%s) VALUES (%s)' % (table, columns, marks), list(row.values()))
            self._db.commit()

    def query(self, sql, args=()):
        with self._lock:
            return self._db.execute(sql, args).fetchall()

    def add_analytics(self, body):
        row = parse_analytics(body)
        row.update(time=now_text(), document=body)
        self._insert('analytics', row)
        return row

    def country_of(self, token, machine_id):
        """The country the newest analytics document of this run, else of
        this machine, reported; empty when none did."""
        found = self.query('SELECT country FROM analytics WHERE token = ? ORDER BY id DESC LIMIT 1', (token,))
        if not found and machine_id and machine_id != NO_MACHINE_ID:
            found = self.query('SELECT country FROM analytics WHERE machine_id = ? ORDER BY id DESC LIMIT 1',
                               (machine_id,))
        return found[0][0] if found else ''

    def add_region_check(self, body, embargoed_countries):
        row = parse_region_request(body)
        country = self.country_of(row['token'], row['machine_id'])
        embargoed = bool(country) and country in embargoed_countries
        row.update(time=now_text(), country=country, embargoed=int(embargoed), document=body)
        self._insert('region_checks', row)
        return country, embargoed

    def add_activity(self, body):
        row = parse_activity(body)
        row.update(time=now_text(), document=body)
        self._insert('activities', row)
        return row

    def add_log_upload(self, body, token, machine_id):
        entries = inspect_archive(body)
        self._insert('log_uploads', {
            'time': now_text(), 'token': token, 'machine_id': machine_id,
            'entries': json.dumps([list(e) for e in entries], ensure_ascii=False),
            'size': len(body), 'archive': body})
        return entries

    def add_pageview(self, body):
        self._insert('pageviews', {'time': now_text(), 'payload': body})

    def log_archive(self, upload_id):
        found = self.query('SELECT archive FROM log_uploads WHERE id = ?', (upload_id,))
        return found[0][0] if found else None


def funnel(store, newest_logs=5):
    """The install funnel as a dictionary (see format_report)."""
    started = store.query('SELECT COUNT(DISTINCT token) FROM analytics WHERE status = ?', (STARTED_WORD,))[0][0]
    # The last end report of each run counts.
    ends = store.query(
        'SELECT a.status, a.os, a.language FROM analytics a JOIN '
        '(SELECT token, MAX(id) AS id FROM analytics WHERE status != ? GROUP BY token) last ON a.id = last.id',
        (STARTED_WORD,))
    by_status, by_os, by_language = {}, {}, {}
    for status, os_name, language in ends:
        by_status[status] = by_status.get(status, 0) + 1
        failed = status in FAILURE_WORDS
        for table, key in ((by_os, os_name), (by_language, language)):
            runs, failures = table.get(key, (0, 0))
            table[key] = (runs + 1, failures + int(failed))
    logs = store.query('SELECT id, time, token, machine_id, size, entries FROM log_uploads '
                       'ORDER BY id DESC LIMIT ?', (newest_logs,))
    return {
        'started': started,
        'ended': len(ends),
        'by_status': by_status,
        'by_os': by_os,
        'by_language': by_language,
        'pageviews': store.query('SELECT COUNT(*) FROM pageviews')[0][0],
        'logs': [{'id': i, 'time': t, 'token': tok, 'machine_id': m, 'size': s,
                  'names': [e[0] for e in json.loads(entries)]} for i, t, tok, m, s, entries in logs],
    }


def format_report(data):
    lines = ['Install funnel',
             '  runs started: %d' % data['started'],
             '  runs ended:   %d' % data['ended']]
    for status, count in sorted(data['by_status'].items(), key=lambda item: (-item[1], item[0])):
        lines.append('    %-28s %d' % (status or '(no word)', count))
    for title, table in (('Failure rate per OS', data['by_os']),
                         ('Failure rate per language', data['by_language'])):
        lines.append(title)
        if not table:
            lines.append('  (no ended runs)')
        for key, (runs, failures) in sorted(table.items()):
            lines.append('  %-28s %d of %d failed (%.1f%%)' % (key or '(unknown)', failures, runs,
                                                             100.0 * failures / runs))
    lines.append('Pageviews: %d' % data['pageviews'])
    lines.append('Newest uploaded logs')
    if not data['logs']:
        lines.append('  (none)')
    for log in data['logs']:
        lines.append('  #%d %s token %s machine %s, %d bytes: %s' % (
            log['id'], log['time'], log['token'], log['machine_id'], log['size'], ', '.join(log['names'])))
    return '\n'.join(lines) + '\n'
