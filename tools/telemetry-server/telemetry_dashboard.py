"""The funnel as one self-contained HTML page with plain SVG charts (no
script, no outside file). Every figure sits in an element with a
data-figure name, so a test (or a team's own tooling) can read it back.
"""
import html as html_module

from telemetry_report import clean, drop_offs, percent

BAR_WIDTH = 420
ROW_HEIGHT = 26
# Labels take the left column; a longer one is shortened to fit it.
LABEL_COLUMN = 260
LABEL_CHARS = 32
STAGE_TITLES = {
    'started': 'Runs started',
    'downloaded': 'Downloaded',
    'installed': 'Installed',
    'ended': 'Ended (closing report sent)',
}


def esc(text):
    return html_module.escape(clean(text), quote=True)


def _bars(rows, scale_to, colour):
    """A horizontal bar chart: rows of (label, value, caption, figure name)."""
    height = ROW_HEIGHT * max(len(rows), 1) + 4
    parts = ['<svg class="bars" width="%d" height="%d" role="img">' % (LABEL_COLUMN + BAR_WIDTH + 240, height)]
    for i, (label, value, caption, figure) in enumerate(rows):
        y = i * ROW_HEIGHT + 2
        width = 0 if not scale_to else max(1, round(BAR_WIDTH * value / scale_to)) if value else 0
        label = clean(label)
        short = label if len(label) <= LABEL_CHARS else label[:LABEL_CHARS - 1] + '\u2026'
        parts.append('<text x="0" y="%d" class="label"><title>%s</title>%s</text>' % (
            y + 17, html_module.escape(label), html_module.escape(short)))
        parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="%s"></rect>' % (
            LABEL_COLUMN, y, width, ROW_HEIGHT - 6, colour))
        parts.append('<text x="%d" y="%d" class="value" data-figure="%s">%s</text>' % (
            LABEL_COLUMN + 8 + width, y + 17, esc(figure), esc(caption)))
    parts.append('</svg>')
    return ''.join(parts)


def _funnel(data):
    rows, top = [], data['stages']['started']
    for name, count, lost in drop_offs(data['stages']):
        caption = '%d' % count if lost is None else '%d  (-%.1f%%)' % (count, lost)
        rows.append((STAGE_TITLES[name], count, caption, 'funnel.' + name))
    return _bars(rows, top, '#2f6fb3')


def _rates(table, prefix):
    rows = []
    for key, entry in sorted(table.items(), key=lambda item: item[0] or ''):
        rate = percent(entry['failed'], entry['runs'])
        caption = '%.1f%%  (%d of %d)' % (rate, entry['failed'], entry['runs'])
        if entry['no_end']:
            caption += ', %d without an end' % entry['no_end']
        rows.append((key or '(unknown)', rate, caption, '%s.%s' % (prefix, key)))
    return _bars(rows, 100.0, '#c0392b') if rows else '<p>No runs.</p>'


def _counts(table, prefix, colour):
    rows = [(key, count, '%d' % count, '%s.%s' % (prefix, key))
            for key, count in sorted(table.items(), key=lambda item: (-item[1], item[0]))]
    return _bars(rows, max((count for _, count, _, _ in rows), default=0), colour) if rows else '<p>None.</p>'


def _per_day(per_day):
    days = sorted(per_day)
    if not days:
        return '<p>No runs.</p>'
    top = max(entry['runs'] for entry in per_day.values())
    column, chart_height = 34, 160
    parts = ['<svg class="days" width="%d" height="%d" role="img">' % (column * len(days) + 10, chart_height + 60)]
    for i, day in enumerate(days):
        entry = per_day[day]
        x = i * column + 5
        for value, colour, css in ((entry['runs'], '#9bb7d4', 'runs'), (entry['installed'], '#2f6fb3', 'installed')):
            h = round(chart_height * value / top) if top else 0
            parts.append('<rect class="%s" x="%d" y="%d" width="%d" height="%d" fill="%s"></rect>' % (
                css, x, chart_height - h + 16, column - 8, h, colour))
        parts.append('<text x="%d" y="12" class="value" data-figure="day.%s.runs">%d</text>' % (
            x, esc(day), entry['runs']))
        parts.append('<text x="%d" y="%d" class="label small" transform="rotate(45 %d %d)">%s</text>' % (
            x, chart_height + 30, x, chart_height + 30, esc(day[5:])))
    parts.append('</svg>')
    return ''.join(parts)


STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 24px 32px; color: #1d2730; background: #f7f8fa; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 16px; margin: 0 0 10px; }
section { background: #fff; border: 1px solid #dde2e8; border-radius: 6px; padding: 14px 18px; margin: 14px 0; }
.grid { display: grid; grid-template-columns: repeat(auto-fit, minmax(960px, 1fr)); gap: 0 14px; }
svg text { font: 13px system-ui, sans-serif; fill: #1d2730; }
svg text.small { font-size: 11px; }
table { border-collapse: collapse; }
td, th { padding: 2px 12px 2px 0; text-align: left; }
p.note { color: #5b6670; margin: 6px 0 0; }
"""


def render(data, title='Install funnel'):
    """The page for funnel() data."""
    stops = {word + (' at ' + page if page else ''): count for (word, page), count in data['stops'].items()}
    logs = ''.join('<tr><td>#%d</td><td>%s</td><td>%s</td><td>%d bytes</td><td>%s</td></tr>' % (
        log['id'], esc(log['time']), esc(log['token']), log['size'], esc(', '.join(log['names'])))
        for log in data['logs'])
    refused = ', '.join('%s: <span data-figure="refused.%s">%d</span>' % (esc(reason), esc(reason), count)
                        for reason, count in sorted(data['refused_uploads'].items())) or 'none'
    sections = [
        ('Funnel', _funnel(data),
         'Each stage counts the runs of the one above that got that far; the percentage is the drop-off '
         'from the stage above.'),
        ('Where runs stop', _counts(stops, 'stop', '#7d8a96'),
         'The run\'s closing status word and the last page it reported a pageview from.'),
        ('Failure rate per OS', _rates(data['by_os'], 'os'), 'Failed runs among the runs that sent an end report.'),
        ('Failure rate per language', _rates(data['by_language'], 'language'),
         'The language the user picked for the install.'),
        ('Failure rate per channel', _rates(data['by_channel'], 'channel'), 'The channel the run last reported.'),
        ('Failed runs per result code', _counts(data['by_result'], 'result', '#c0392b'),
         'The result code the failing page reported with its pageview.'),
        ('Runs per day', _per_day(data['per_day']),
         'Light: runs that began that day; dark: of them, runs that installed.'),
    ]
    body = ''.join('<section><h2>%s</h2>%s<p class="note">%s</p></section>' % (esc(name), chart, esc(note))
                   for name, chart, note in sections)
    return ('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>%s</title>'
            '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; style-src \'unsafe-inline\'">'
            '<style>%s</style></head><body><h1>%s</h1>'
            '<p>Runs: <b data-figure="runs">%d</b> &middot; pageviews: <b data-figure="pageviews">%d</b>'
            ' &middot; log uploads refused: %s</p><div class="grid">%s</div>'
            '<section><h2>Newest uploaded logs</h2><table>%s</table></section></body></html>\n') % (
        esc(title), STYLE, esc(title), data['runs'], data['pageviews'], refused, body,
        logs or '<tr><td>none</td></tr>')
