"""The install funnel read from the store: one record per run (by its
token) built from what that run sent, then the figures the text report and
the dashboard show. Every text that came from a client is escaped before
it is shown (clean() for a terminal, html() for the page).
"""
import json
import time as time_module
import unicodedata

from telemetry_store import FAILURE_WORDS, STARTED_WORD

NO_END = '(no end report)'
# The pages that only a run past its download reaches.
PAGES_AFTER_DOWNLOAD = {'Installing', 'Finish'}
FUNNEL_STAGES = ('started', 'downloaded', 'installed', 'ended')


def clean(text):
    """Text safe to print: control and format characters (escape sequences,
    bidirectional overrides, line breaks) shown as \\xNN / \\uNNNN."""
    text = '' if text is None else str(text)
    out = []
    for ch in text:
        if unicodedata.category(ch) in ('Cc', 'Cf', 'Zl', 'Zp') or ch == '\\':
            out.append('\\\\' if ch == '\\' else ('\\x%02x' % ord(ch) if ord(ch) < 0x100 else '\\u%04x' % ord(ch)))
        else:
            out.append(ch)
    return ''.join(out)


def since_text(days):
    """The stored time text of `days` days ago (UTC), or '' for no bound."""
    if not days or days <= 0:
        return ''
    days = min(days, 100 * 366)  # older than any store; keeps the clock arithmetic in range
    return time_module.strftime('%Y-%m-%dT%H:%M:%SZ', time_module.gmtime(time_module.time() - days * 86400))


def _runs(store, since=''):
    """{token: run} in the order runs first reported; with since, only the
    runs whose start report came at or after it."""
    runs = {}
    sql = 'SELECT token, time, status, channel, language, install_language, os, machine_id FROM analytics'
    args = ()
    if since:
        sql += (' WHERE token IN (SELECT token FROM analytics WHERE status = ? AND time >= ?)')
        args = (STARTED_WORD, since)
    rows = store.query(sql + ' ORDER BY id', args)
    for token, time, status, channel, language, install_language, os_name, machine in rows:
        run = runs.get(token)
        if run is None:
            run = runs[token] = {'token': token, 'first': time, 'machine': machine, 'os': os_name,
                                 'started': False, 'end': None, 'pages': [], 'result': '',
                                 'channel': channel, 'language': install_language or language}
        run['os'] = os_name or run['os']
        if status == STARTED_WORD:
            run['started'] = True
        else:
            # The start report is sent before the page sets the channel or the
            # user picks a language; the end report carries both.
            run['end'] = status
            run['channel'] = channel
            run['language'] = install_language or language
    _attach_pageviews(store, runs, since)
    return runs


def _attach_pageviews(store, runs, since):
    """A pageview names the machine, not the run: it belongs to that
    machine's newest run that had begun by then."""
    by_machine = {}
    for run in runs.values():
        by_machine.setdefault(run['machine'], []).append(run)
    for time, machine, page, result, channel in store.query(
            'SELECT time, machine_id, page, result, channel FROM pageviews '
            'WHERE machine_id IS NOT NULL AND time >= ? ORDER BY id', (since,)):
        owner = None
        for run in by_machine.get(machine, ()):
            if run['first'] <= time:
                owner = run
        if owner is None:
            continue
        owner['pages'].append(page)
        if result not in ('', '0'):
            owner['result'] = result
        if owner['end'] is None and channel:
            # A run that never ended told its channel only in its pageview.
            owner['channel'] = channel


def _stage_flags(run):
    pages = set(run['pages'])
    installed = run['end'] == 'completed' or 'Finish' in pages
    downloaded = installed or run['end'] == 'downloaded' or bool(pages & PAGES_AFTER_DOWNLOAD)
    return {'started': True, 'downloaded': downloaded, 'installed': installed,
            'ended': installed and run['end'] is not None}


def _rate_table(runs, key):
    table = {}
    for run in runs:
        entry = table.setdefault(key(run), {'runs': 0, 'failed': 0, 'no_end': 0})
        if run['end'] is None:
            entry['no_end'] += 1
            continue
        entry['runs'] += 1
        entry['failed'] += int(run['end'] in FAILURE_WORDS)
    return table


def funnel(store, newest_logs=5, days=0):
    """The report's figures as a dictionary (see format_report); with days,
    of the runs that started in the last that many days."""
    since = since_text(days)
    runs = list(_runs(store, since).values())
    ended = [run for run in runs if run['end'] is not None]
    stages = {name: 0 for name in FUNNEL_STAGES}
    by_status, stops, by_result, per_day = {}, {}, {}, {}
    for run in runs:
        for name, reached in _stage_flags(run).items():
            stages[name] += int(reached)
        word = run['end'] if run['end'] is not None else NO_END
        by_status[word] = by_status.get(word, 0) + 1
        page = run['pages'][-1] if run['pages'] else ''
        stops[(word, page)] = stops.get((word, page), 0) + 1
        failed = run['end'] in FAILURE_WORDS
        if failed:
            code = run['result'] or '(none reported)'
            by_result[code] = by_result.get(code, 0) + 1
        day = per_day.setdefault(run['first'][:10], {'runs': 0, 'failed': 0, 'installed': 0})
        day['runs'] += 1
        day['failed'] += int(failed)
        day['installed'] += int(_stage_flags(run)['installed'])
    logs = store.query('SELECT id, time, token, machine_id, size, entries FROM log_uploads '
                       'ORDER BY id DESC LIMIT ?', (newest_logs,))
    refused = store.query('SELECT reason, COUNT(*) FROM refused_uploads GROUP BY reason ORDER BY reason')
    return {
        'runs': len(runs),
        'started': sum(1 for run in runs if run['started']),
        'ended': len(ended),
        'stages': stages,
        'by_status': by_status,
        'stops': stops,
        'by_os': _rate_table(runs, lambda run: run['os']),
        'by_language': _rate_table(runs, lambda run: run['language']),
        'by_channel': _rate_table(runs, lambda run: run['channel']),
        'by_result': by_result,
        'per_day': per_day,
        'pageviews': store.query('SELECT COUNT(*) FROM pageviews WHERE time >= ?', (since,))[0][0],
        'refused_uploads': {reason: count for reason, count in refused},
        'logs': [{'id': i, 'time': t, 'token': tok, 'machine_id': m, 'size': s,
                  'names': [e[0] for e in json.loads(entries)]} for i, t, tok, m, s, entries in logs],
    }


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def drop_offs(stages):
    """[(stage, count, % lost since the stage before)]."""
    out, before = [], None
    for name in FUNNEL_STAGES:
        count = stages[name]
        out.append((name, count, None if before is None else percent(before - count, before)))
        before = count
    return out


def format_report(data):
    lines = ['Install funnel',
             '  runs started: %d' % data['started'],
             '  runs ended:   %d' % data['ended']]
    for status, count in sorted(data['by_status'].items(), key=lambda item: (-item[1], item[0])):
        lines.append('    %-28s %d' % (clean(status) or '(no word)', count))
    lines.append('Stages')
    for name, count, lost in drop_offs(data['stages']):
        lines.append('  %-12s %6d%s' % (name, count, '' if lost is None else '   (-%.1f%%)' % lost))
    lines.append('Where runs stop (last word, last page)')
    for (word, page), count in sorted(data['stops'].items(), key=lambda item: (-item[1], item[0])):
        lines.append('  %-28s %-14s %d' % (clean(word), clean(page) or '-', count))
    for title, table in (('Failure rate per OS', data['by_os']),
                         ('Failure rate per language', data['by_language']),
                         ('Failure rate per channel', data['by_channel'])):
        lines.append(title)
        if not table:
            lines.append('  (no runs)')
        for key, entry in sorted(table.items(), key=lambda item: item[0] or ''):
            text = '  %-28s %d of %d failed (%.1f%%)' % (clean(key) or '(unknown)', entry['failed'], entry['runs'],
                                                        percent(entry['failed'], entry['runs']))
            if entry['no_end']:
                text += ', %d without an end' % entry['no_end']
            lines.append(text)
    lines.append('Failed runs per result code')
    if not data['by_result']:
        lines.append('  (none)')
    for code, count in sorted(data['by_result'].items(), key=lambda item: (-item[1], item[0])):
        lines.append('  %-28s %d' % (clean(code), count))
    lines.append('Runs per day')
    for day, entry in sorted(data['per_day'].items()):
        lines.append('  %-12s %d runs, %d installed, %d failed' % (clean(day), entry['runs'], entry['installed'],
                                                                    entry['failed']))
    lines.append('Pageviews: %d' % data['pageviews'])
    if data['refused_uploads']:
        lines.append('Log uploads refused: ' + ', '.join('%s %d' % (clean(reason), count)
                                                        for reason, count in data['refused_uploads'].items()))
    lines.append('Newest uploaded logs')
    if not data['logs']:
        lines.append('  (none)')
    for log in data['logs']:
        lines.append('  #%d %s token %s machine %s, %d bytes: %s' % (
            log['id'], clean(log['time']), clean(log['token']), clean(log['machine_id']), log['size'],
            ', '.join(clean(name) for name in log['names'])))
    return '\n'.join(lines) + '\n'
