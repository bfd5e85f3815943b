#!/usr/bin/env python3
"""Medians of benchmark runs and ratios against a reference measured in the
same run.

  report.py RESULTS GOAL...

RESULTS holds lines "RUN NAME VALUE" (RUN numbers the paired runs). Each GOAL
is "LABEL:SUBJECT:REFERENCE:KIND:TARGET", KIND one of
  throughput  ratio = reference time / subject time (higher is better)
  time        ratio = subject time / reference time (lower is better)
  memory      ratio = subject / reference (lower is better)
TARGET is the goal's bound for the ratio (0: shown for reference, no goal). Prints each measure's median and,
per goal, the median of the per-run ratios (paired runs) and the ratio of the
medians, and whether the goal is met.
"""
import statistics
import sys


def main():
    runs = {}
    for line in open(sys.argv[1]):
        parts = line.split()
        if len(parts) != 3:
            continue
        run, name, value = parts
        runs.setdefault(name, {})[run] = float(value)
    for name in sorted(runs):
        values = list(runs[name].values())
        print('%-22s median %12.4f  (min %.4f, max %.4f, %d runs)' %
              (name, statistics.median(values), min(values), max(values), len(values)))
    for goal in sys.argv[2:]:
        label, subject, reference, kind, target = goal.split(':')
        target = float(target)
        s, r = runs.get(subject, {}), runs.get(reference, {})
        paired = [run for run in s if run in r and s[run] > 0 and r[run] > 0]
        if not paired:
            print('%s: no paired runs' % label)
            continue
        if kind == 'throughput':
            ratios = [r[run] / s[run] for run in paired]
            of_medians = statistics.median(r.values()) / statistics.median(s.values())
            met = statistics.median(ratios) >= target
            bound = '>='
        else:
            ratios = [s[run] / r[run] for run in paired]
            of_medians = statistics.median(s.values()) / statistics.median(r.values())
            met = statistics.median(ratios) <= target
            bound = '<='
        verdict = '(for reference)' if target == 0 else '(goal %s %.2f: %s)' % (
            bound, target, 'met' if met else 'NOT MET')
        print('%-44s %s/%s: median of ratios %.3f, ratio of medians %.3f %s' %
              (label, subject, reference, statistics.median(ratios), of_medians, verdict))
    return 0


if __name__ == '__main__':
    sys.exit(main())
