#!/usr/bin/env python3
"""The long fault campaign: downloads through the blocking helpers in a test
program under Wine (tests/campaign/download_campaign.exe, in slices), and a
smaller share through a page in the test stub (tests/campaign/page_campaign.js),
against the chaos behaviour of the fault server. Seeded: the same seed plans
the same downloads and the same faults.

  python3 scripts/long_campaign.py [--build DIR] [--seed S] [--count 10000]
                                   [--page-count 300] [--slice 500] [--jobs 3] [--out DIR]
                                   [--prefix WINEPREFIX]

The build directory (default: $STUB_BUILD_DIR, else build/test) must hold a
built test tree (bash scripts/test.sh builds one). Prints the report: outcomes
per path and fault kind (identical file, DIFFERENT file, each failure code,
stops over one second, hangs, crashes) and the peak memory of the test program
and of the stub; writes it, with every outcome as a JSON line, into --out.
Exit status 0 only when no download ended with a different file, hung or
crashed.
"""
import argparse
import collections
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLOW_STOP_MS = 1000


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def read_lines(path, start):
    """JSON lines of path from byte offset start; (objects, new offset)."""
    if not os.path.exists(path):
        return [], start
    with open(path, 'rb') as f:
        f.seek(start)
        data = f.read()
    cut = data.rfind(b'\n') + 1
    objects = [json.loads(line) for line in data[:cut].splitlines() if line.strip()]
    return objects, start + cut


def run_slice(args, prefix, exe, child, env, first, count):
    """Runs downloads first..first+count-1 in one process, starting again after
    a download that crashed or hung. Returns (outcomes, memory lines)."""
    out = os.path.join(args.out, 'helpers-%06d.jsonl' % first)
    offset = 0
    results = []
    memory = []
    index = first
    failures = 0
    while index < first + count:
        started = time.time()
        proc = subprocess.run(['bash', os.path.join(REPO, 'scripts', 'wine-run.sh'), prefix, exe,
                               '--seed', str(args.seed), '--first', str(index),
                               '--count', str(first + count - index),
                               '--out', windows_path(out), '--child', windows_path(child)],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        lines, offset = read_lines(out, offset)
        last_started = None
        done = set()
        for line in lines:
            if 'start' in line:
                last_started = line['start']
            elif 'hang' in line:
                results.append({'seed': args.seed, 'i': line['hang'], 'path': line['path'], 'fault': line['fault'],
                                'via': 'helpers', 'hang': True, 'code': -1})
                done.add(line['hang'])
            elif 'memory' in line:
                memory.append(line['memory'])
            else:
                line['via'] = 'helpers'
                results.append(line)
                done.add(line['i'])
        next_index = first + count
        if proc.returncode != 0 and last_started is None:
            # Not one download began (the slice could not prepare): try again, a few times.
            failures += 1
            print('helpers: slice %d did not start (exit %d): %s' % (
                index, proc.returncode, proc.stderr.decode(errors='replace')[-300:]), flush=True)
            if failures >= 3:
                results.append({'seed': args.seed, 'i': index, 'via': 'helpers', 'path': '?', 'fault': '?',
                                'code': -1, 'not_run': first + count - index})
                break
            time.sleep(2)
            continue
        if proc.returncode != 0:
            if last_started not in done:
                # The program died inside this download: a crash (a hang wrote its own line).
                results.append({'seed': args.seed, 'i': last_started, 'via': 'helpers', 'crash': True, 'code': -1,
                                'path': '?', 'fault': '?', 'exit': proc.returncode,
                                'stderr': proc.stderr.decode(errors='replace')[-400:]})
            next_index = last_started + 1
        print('helpers: %d..%d in %.0f s (exit %d)' % (index, next_index - 1, time.time() - started,
                                                      proc.returncode), flush=True)
        index = next_index
    return results, memory


def run_helper_slices(args, prefix, exe, child, env, results):
    """The helper downloads in slices, --jobs of them side by side."""
    memory = []
    slices = [(first, min(args.slice, args.count - first)) for first in range(0, args.count, args.slice)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for outcomes, lines in pool.map(lambda s: run_slice(args, prefix, exe, child, env, *s), slices):
            results.extend(outcomes)
            memory.extend(lines)
    return memory


def run_page_share(args, stub, env, results):
    out = os.path.join(args.out, 'page.jsonl')
    node_env = dict(env, UIHOST_TEST_STUB=stub)
    started = time.time()
    proc = subprocess.run(['node', os.path.join(REPO, 'tests', 'campaign', 'page_campaign.js'),
                           '--seed', str(args.seed), '--first', '0', '--count', str(args.page_count),
                           '--out', out], env=node_env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines, _ = read_lines(out, 0)
    memory = []
    for line in lines:
        if 'memory' in line:
            memory.extend(line['memory']['stub_peak_rss_kib'])
        else:
            results.append(line)
    print('page: %d downloads in %.0f s (exit %d)' % (args.page_count, time.time() - started, proc.returncode),
          flush=True)
    if proc.returncode != 0:
        print(proc.stderr.decode(errors='replace')[-2000:], file=sys.stderr)
    return memory


def report(results, helper_memory, stub_memory, seed):
    rows = collections.OrderedDict()
    totals = collections.Counter()
    for r in sorted(results, key=lambda r: (r.get('via', ''), r.get('path', ''), r.get('fault', ''))):
        key = (r.get('via', '?'), r.get('path', '?'), r.get('fault', '?'))
        row = rows.setdefault(key, collections.Counter())
        row['n'] += 1
        totals['n'] += 1
        if r.get('hang'):
            kind = 'hangs'
        elif r.get('crash'):
            kind = 'crashes'
        elif r.get('different'):
            kind = 'different'
        elif r.get('identical'):
            kind = 'identical'
        else:
            kind = 'code %d' % r.get('code', -1)
        row[kind] += 1
        totals[kind] += 1
        if r.get('crash') and not r.get('hang') and kind != 'crashes':
            row['crashes'] += 1
            totals['crashes'] += 1
        if r.get('stopped'):
            row['stops'] += 1
            totals['stops'] += 1
            row['max_stop'] = max(row['max_stop'], r.get('stop_ms', 0))
            totals['max_stop'] = max(totals['max_stop'], r.get('stop_ms', 0))
            if r.get('stop_ms', 0) > SLOW_STOP_MS:
                row['slow'] += 1
                totals['slow'] += 1
    lines = ['seed %d: %d downloads' % (seed, totals['n']),
             '%-8s %-16s %-12s %6s %6s %5s %6s %5s %7s %5s %5s  %s' % (
                 'via', 'path', 'fault', 'n', 'same', 'DIFF', 'stops', '>1s', 'max ms', 'hang', 'crash',
                 'failure codes (code:count)')]
    for (via, path, fault), row in rows.items():
        codes = ' '.join('%s:%d' % (k[5:], v) for k, v in sorted(row.items()) if k.startswith('code '))
        lines.append('%-8s %-16s %-12s %6d %6d %5d %6d %5d %7d %5d %5d  %s' % (
            via, path, fault, row['n'], row['identical'], row['different'], row['stops'], row['slow'],
            row['max_stop'], row['hangs'], row['crashes'], codes))
    codes = ' '.join('%s:%d' % (k[5:], v) for k, v in sorted(totals.items()) if k.startswith('code '))
    lines.append('total: %d downloads, %d identical, %d DIFFERENT, %d stops (%d over 1 s, max %d ms), %d hangs, '
                 '%d crashes; failure codes %s' % (totals['n'], totals['identical'], totals['different'],
                                                   totals['stops'], totals['slow'], totals['max_stop'],
                                                   totals['hangs'], totals['crashes'], codes))
    if helper_memory:
        lines.append('test program peak working set: max %.1f MiB, peak private bytes: max %.1f MiB (%d slices)' % (
            max(m['peak_working_set'] for m in helper_memory) / 1048576.0,
            max(m['peak_private'] for m in helper_memory) / 1048576.0, len(helper_memory)))
    if stub_memory:
        lines.append('stub (Wine process) peak resident memory: max %.1f MiB over %d runs' % (
            max(stub_memory) / 1024.0, len(stub_memory)))
    return '\n'.join(lines), totals


def report_from_files(args):
    results, helper_memory, stub_memory = [], [], []
    for name in sorted(os.listdir(args.out)):
        if not name.endswith('.jsonl'):
            continue
        lines, _ = read_lines(os.path.join(args.out, name), 0)
        for line in lines:
            if 'start' in line:
                continue
            if 'memory' in line:
                if 'stub_peak_rss_kib' in line['memory']:
                    stub_memory.extend(line['memory']['stub_peak_rss_kib'])
                else:
                    helper_memory.append(line['memory'])
            elif 'hang' in line:
                results.append(dict(line, i=line['hang'], via='helpers', hang=True, code=-1))
            else:
                line.setdefault('via', 'page' if name.startswith('page') else 'helpers')
                results.append(line)
    seed = results[0]['seed'] if results and 'seed' in results[0] else args.seed
    text, totals = report(results, helper_memory, stub_memory, seed)
    print(text)
    return 0 if totals['different'] == 0 and totals['hangs'] == 0 and totals['crashes'] == 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', default=os.environ.get('STUB_BUILD_DIR') or os.path.join(REPO, 'build', 'test'))
    parser.add_argument('--seed', type=int, default=random.randrange(1, 2 ** 31))
    parser.add_argument('--count', type=int, default=10000)
    parser.add_argument('--page-count', type=int, default=300)
    parser.add_argument('--slice', type=int, default=500)
    parser.add_argument('--report-only', action='store_true',
                        help='print the report of the outcomes already in --out, run nothing')
    parser.add_argument('--jobs', type=int, default=3, help='slices run side by side (each mostly waits)')
    parser.add_argument('--out', default=None)
    parser.add_argument('--prefix', default=None, help='Wine prefix (made when missing; default: the build\'s)')
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.out = os.path.abspath(args.out or os.path.join(args.build, 'long-campaign-%d' % args.seed))
    os.makedirs(args.out, exist_ok=True)
    if args.report_only:
        return report_from_files(args)
    for name in os.listdir(args.out):
        if name.endswith('.jsonl'):
            os.remove(os.path.join(args.out, name))
    prefix = os.path.abspath(args.prefix or os.environ.get('STUB_WINEPREFIX') or
                             os.path.join(args.build, 'wineprefix'))
    # The programs run from a copy, so that the build tree may be rebuilt meanwhile.
    programs = {}
    os.makedirs(os.path.join(args.out, 'bin'), exist_ok=True)
    for folder, name in (('campaign', 'download_campaign.exe'), ('utils', 'verified_download_child.exe'),
                         ('browserhost', 'UiHostTestStub.exe')):
        built = os.path.join(args.build, 'tests', folder, name)
        if not os.path.exists(built):
            sys.exit('%s is missing: build the tests first (bash scripts/test.sh)' % built)
        programs[name] = os.path.join(args.out, 'bin', name)
        shutil.copy2(built, programs[name])
    if not os.path.exists(os.path.join(prefix, '.stub-ready')):
        subprocess.check_call(['bash', os.path.join(REPO, 'scripts', 'setup.sh')],
                              env=dict(os.environ, STUB_WINEPREFIX=prefix), stdout=subprocess.DEVNULL)
    state = os.path.join(args.out, 'servers')
    env = dict(os.environ, STUB_TEST_SERVERS=state, STUB_WINEPREFIX=prefix)
    print('long campaign, seed %d: %d downloads through the helpers, %d through a page' % (
        args.seed, args.count, args.page_count), flush=True)
    if subprocess.call([sys.executable, os.path.join(REPO, 'tests', 'support', 'servers.py'), 'start', state],
                       stdout=subprocess.DEVNULL) != 0:
        sys.exit('the test servers did not start')
    wine_env = dict(env, WINEPREFIX=prefix, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree=;mshtml=')
    subprocess.call(['wineserver', '-p'], env=wine_env)
    subprocess.call(['bash', os.path.join(REPO, 'scripts', 'wine-run.sh'), prefix, 'cmd', '/c', 'exit'], env=env,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    results = []
    try:
        # The page share runs beside the helper slices: one stub at a time.
        page_results = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=1) as pool:
            page = pool.submit(run_page_share, args, programs['UiHostTestStub.exe'], env, page_results) \
                if args.page_count > 0 else None
            helper_memory = (run_helper_slices(args, prefix, programs['download_campaign.exe'],
                                               programs['verified_download_child.exe'], env, results)
                             if args.count > 0 else [])
            stub_memory = page.result() if page else []
        results.extend(page_results)
    finally:
        subprocess.call([sys.executable, os.path.join(REPO, 'tests', 'support', 'servers.py'), 'stop', state])
        subprocess.call(['wineserver', '-k'], env=wine_env)
    text, totals = report(results, helper_memory, stub_memory, args.seed)
    with open(os.path.join(args.out, 'report.txt'), 'w') as f:
        f.write(text + '\n')
    print(text)
    return 0 if totals['different'] == 0 and totals['hangs'] == 0 and totals['crashes'] == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
