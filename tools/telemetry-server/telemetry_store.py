"""The telemetry service's storage: the documents the installer sends,
parsed into columns, and the log archives it uploads, in SQLite or
PostgreSQL (telemetry_db.py). The funnel report is in telemetry_report.py.
"""
import io
import json
import os
import re
import time
import zipfile
import xml.etree.ElementTree as ElementTree
from urllib.parse import parse_qs

from telemetry_db import IntegrityError, open_database

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
# Archives are written to and read from the store in pieces of this size, so
# no upload is ever whole in memory.
CHUNK_BYTES = 1 << 20
# Longest pageview field kept in a column (the whole payload is kept too).
MAX_PAGEVIEW_FIELD = 200

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


# A drive ("C:"), a stream name ("a.txt:x") or any control character.
_BAD_NAME_CHARS = re.compile(r'[:\x00-\x1f\x7f]')


def unsafe_entry_name(name):
    """Why an archive entry name could write outside the folder it is saved
    into (or hide what it is), or '' when it is a plain relative path."""
    parts = name.replace('\\', '/').split('/')
    if not name or parts[0] == '':
        return 'absolute path'
    if _BAD_NAME_CHARS.search(name):
        return 'drive, stream or control character'
    if '..' in parts:
        return 'parent folder'
    return ''


def inspect_archive(source):
    """[(name, crc32, size)] of a ZIP archive (a path, a file or bytes) whose
    every entry has a safe name and reads back intact."""
    if isinstance(source, (bytes, bytearray)):
        source = io.BytesIO(source)
    try:
        archive = zipfile.ZipFile(source)
    except (zipfile.BadZipFile, ValueError, OSError) as error:
        raise BadInput('not a ZIP archive: %s' % error)
    with archive:
        infos = archive.infolist()
        if not infos:
            raise BadInput('empty archive')
        if len(infos) > MAX_ZIP_ENTRIES:
            raise BadInput('too many entries')
        for info in infos:
            why = unsafe_entry_name(info.filename)
            if why:
                raise BadInput('entry name %r refused: %s' % (info.filename, why))
        if sum(info.file_size for info in infos) > MAX_ZIP_UNPACKED_BYTES:
            raise BadInput('archive unpacks too large')
        try:
            bad = archive.testzip()
        except (zipfile.BadZipFile, NotImplementedError, RuntimeError, ValueError, OSError, EOFError) as error:
            raise BadInput('unreadable archive: %s' % error)
        if bad is not None:
            raise BadInput('damaged entry %s' % bad)
        return [(info.filename, info.CRC, info.file_size) for info in infos]


def parse_pageview(body):
    """The columns of a pageview payload (form-encoded text the page built)."""
    fields = parse_qs(body.decode('latin-1'), keep_blank_values=True)

    def field(name):
        return fields.get(name, [''])[0][:MAX_PAGEVIEW_FIELD]
    page = field('dp')
    return {'machine_id': field('cid'), 'page': page[1:] if page.startswith('/') else page,
            'result': field('cd3'), 'channel': field('cd1'), 'language': field('cd2')}


class Conflict(BadInput):
    """A second log upload for a run that already has one (409)."""


class Store:
    """The documents and archives in one database (a SQLite file or a
    PostgreSQL URL); shared by the service's threads, and on PostgreSQL by
    several service processes."""

    def __init__(self, target):
        self.db = open_database(target)
        self.engine = self.db.engine

    def close(self):
        self.db.close()

    def query(self, sql, args=()):
        return self.db.query(sql, args)

    def _insert(self, table, row):
        return self.db.insert(table, row)

    def add_analytics(self, body):
        row = parse_analytics(body)
        row.update(time=now_text(), document=body)
        self._insert('analytics', row)
        return row

    def country_of(self, token, machine_id):
        """The country the first analytics document of this run, else of this
        machine, reported; empty when none did. Later documents cannot change
        it, so whoever learns a token or a machine id cannot move its region."""
        found = self.query('SELECT country FROM analytics WHERE token = ? ORDER BY id LIMIT 1', (token,))
        if not found and machine_id and machine_id != NO_MACHINE_ID:
            found = self.query('SELECT country FROM analytics WHERE machine_id = ? ORDER BY id LIMIT 1',
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

    def has_upload(self, token):
        return bool(self.query('SELECT 1 FROM log_uploads WHERE token = ? LIMIT 1', (token,)))

    def stored_upload_bytes(self):
        return int(self.query('SELECT COALESCE(SUM(size), 0) FROM log_uploads')[0][0])

    def count_refused_upload(self, token, reason, size):
        self._insert('refused_uploads', {'time': now_text(), 'token': token, 'reason': reason, 'size': size})

    def add_log_upload(self, source, token, machine_id):
        """Checks and stores an archive (a file path, or bytes); answers its
        entries. The archive goes in a piece at a time."""
        if not token:
            raise BadInput('a log upload needs its run token')
        if isinstance(source, (bytes, bytearray)):
            data = bytes(source)
            size = len(data)
            opened = io.BytesIO(data)
        else:
            size = os.path.getsize(source)
            opened = open(source, 'rb')
        with opened as archive:
            entries = inspect_archive(archive)
            archive.seek(0)
            try:
                with self.db.transaction() as cursor:
                    upload_id = cursor.insert('log_uploads', {
                        'time': now_text(), 'token': token, 'machine_id': machine_id,
                        'entries': json.dumps([list(e) for e in entries], ensure_ascii=False),
                        'size': size, 'archive': b''})
                    seq = 0
                    while True:
                        piece = archive.read(CHUNK_BYTES)
                        if not piece:
                            break
                        cursor.execute('INSERT INTO log_chunks (upload_id, seq, data) VALUES (?, ?, ?)',
                                       (upload_id, seq, piece))
                        seq += 1
            except IntegrityError:
                raise Conflict('this run already uploaded its logs')
        return entries

    def add_pageview(self, body):
        row = parse_pageview(body)
        row.update(time=now_text(), payload=body)
        self._insert('pageviews', row)

    def write_log_archive(self, upload_id, out):
        """Writes upload upload_id to the file out; False when there is none."""
        found = self.query('SELECT archive FROM log_uploads WHERE id = ?', (upload_id,))
        if not found:
            return False
        out.write(bytes(found[0][0]))  # archives stored whole before they were kept in pieces
        seq = 0
        while True:
            piece = self.query('SELECT data FROM log_chunks WHERE upload_id = ? AND seq = ?', (upload_id, seq))
            if not piece:
                return True
            out.write(bytes(piece[0][0]))
            seq += 1

    def log_archive(self, upload_id):
        out = io.BytesIO()
        return out.getvalue() if self.write_log_archive(upload_id, out) else None
