#!/usr/bin/env python3
"""Runs one command and measures it from outside its process.

  measure.py COMMAND [ARG...]

Prints "SECONDS CPU_SECONDS PEAK_PRIVATE_KIB" on standard output and exits
with the command's status. SECONDS is the wall time from start to exit;
CPU_SECONDS user plus system time of the command and every descendant it
waited for (for a Windows program: the Wine process; the wineserver it talks
to is shared and not counted); PEAK_PRIVATE_KIB the largest sum of private
pages (Private_Clean + Private_Dirty of /proc/PID/smaps_rollup) over the
command and its descendants, sampled every 20 ms. The command's standard
output goes to standard error, so the caller reads the figures alone.
"""
import os
import subprocess
import sys
import threading
import time


def descendants(pid):
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        try:
            for tid in os.listdir('/proc/%d/task' % p):
                with open('/proc/%d/task/%s/children' % (p, tid)) as f:
                    todo.extend(int(c) for c in f.read().split())
        except OSError:
            pass
    return found


def private_kib(pid):
    total = 0
    try:
        with open('/proc/%d/smaps_rollup' % pid) as f:
            for line in f:
                if line.startswith(('Private_Clean:', 'Private_Dirty:')):
                    total += int(line.split()[1])
    except OSError:
        pass
    return total


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    start = time.perf_counter()
    child = subprocess.Popen(sys.argv[1:], stdout=sys.stderr)
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.wait(0.02):
            peak[0] = max(peak[0], sum(private_kib(p) for p in descendants(child.pid)))

    sampler = threading.Thread(target=sample)
    sampler.start()
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    done.set()
    sampler.join()
    child.returncode = os.waitstatus_to_exitcode(status)
    print('%.6f %.6f %d' % (seconds, usage.ru_utime + usage.ru_stime, peak[0]))
    return child.returncode


if __name__ == '__main__':
    sys.exit(main())
