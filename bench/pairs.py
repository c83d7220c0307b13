#!/usr/bin/env python3
"""Times two commands in turn, A B A B ..., as whole processes, and prints the
median of each side and the median of the pairwise ratios A/B with their
spread (min to max).

  pairs.py NAME [options] -- A [ARG...] --vs B [ARG...]

Options:
  --runs N        counted pairs (default $QLR_BENCH_RUNS or 5), after one warm-up pair
  --prep CMD      bash command run before every run of either side, not timed
  --prep-a CMD, --prep-b CMD   the same before A's runs only, B's runs only
  --until FILE    a run's time ends when FILE grows (a program it started wrote it);
                  the process itself is still waited for, untimed
  --figure REGEX  the figure is the first group of REGEX in the command's output
                  (higher is better, e.g. requests per second) instead of the time
  --memory        the figure is the peak resident memory (KB) of the run
  --out FILE      append the result as one JSON line (default $QLR_BENCH_RESULTS)

The figure and the command's exit status are checked: a run that fails ends
the measurement with status 1.
"""
import json
import os
import re
import shlex
import statistics
import subprocess
import sys
import time


def usage(status):
    print(__doc__.strip(), file=sys.stderr if status else sys.stdout)
    sys.exit(status)


def parse(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        usage(0 if len(argv) > 1 else 2)
    opts = {"name": argv[1], "runs": int(os.environ.get("QLR_BENCH_RUNS", "5")),
            "prep": None, "prep_a": None, "prep_b": None,
            "until": None, "figure": None, "memory": False, "out": os.environ.get("QLR_BENCH_RESULTS")}
    rest = argv[2:]
    while rest and rest[0] != "--":
        key = rest.pop(0)
        if key == "--memory":
            opts["memory"] = True
            continue
        if not rest:
            usage(2)
        value = rest.pop(0)
        if key == "--runs":
            opts["runs"] = max(1, int(value))
        elif key in ("--prep", "--prep-a", "--prep-b", "--until", "--figure", "--out"):
            opts[key[2:].replace("-", "_")] = value
        else:
            usage(2)
    if not rest or "--vs" not in rest:
        usage(2)
    cut = rest.index("--vs")
    opts["a"], opts["b"] = rest[1:cut], rest[cut + 1:]
    if not opts["a"] or not opts["b"]:
        usage(2)
    return opts


def size_of(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


def run_once(command, prep, opts):
    for step in (opts["prep"], prep):
        if step:
            subprocess.run(["bash", "-c", step], check=True)
    before = size_of(opts["until"]) if opts["until"] else None
    output = subprocess.PIPE if opts["figure"] else subprocess.DEVNULL
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=output, stderr=subprocess.DEVNULL)
    took = None
    if opts["until"]:
        deadline = start + 120
        while size_of(opts["until"]) <= before:
            if time.perf_counter() > deadline:
                process.kill()
                raise RuntimeError(f"{opts['until']} did not grow within 120 s: {shlex.join(command)}")
            time.sleep(0.001)
        took = time.perf_counter() - start
    text = process.stdout.read().decode(errors="replace") if opts["figure"] else ""
    _, status, usage_ = os.wait4(process.pid, 0)
    took = took if took is not None else time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise RuntimeError(f"exit status {code}: {shlex.join(command)}")
    if opts["memory"]:
        return float(usage_.ru_maxrss)
    if opts["figure"]:
        found = re.search(opts["figure"], text)
        if not found:
            raise RuntimeError(f"no figure /{opts['figure']}/ in the output of {shlex.join(command)}")
        return float(found.group(1))
    return took


def main():
    opts = parse(sys.argv)
    a, b = [], []
    try:
        run_once(opts["a"], opts["prep_a"], opts)
        run_once(opts["b"], opts["prep_b"], opts)
        for _ in range(opts["runs"]):
            a.append(run_once(opts["a"], opts["prep_a"], opts))
            b.append(run_once(opts["b"], opts["prep_b"], opts))
    except (RuntimeError, subprocess.CalledProcessError) as error:
        print(f"pairs.py {opts['name']}: {error}", file=sys.stderr)
        return 1
    ratios = [x / y for x, y in zip(a, b)]
    result = {"name": opts["name"], "runs": opts["runs"],
              "unit": "KB" if opts["memory"] else ("per s" if opts["figure"] else "s"),
              "a": statistics.median(a), "b": statistics.median(b), "ratio": statistics.median(ratios),
              "ratio_min": min(ratios), "ratio_max": max(ratios)}
    print(f"{result['name']}: A {result['a']:.4g} {result['unit']}, B {result['b']:.4g} {result['unit']}, "
          f"A/B median {result['ratio']:.3f} ({result['ratio_min']:.3f} to {result['ratio_max']:.3f}), "
          f"{result['runs']} pairs")
    if opts["out"]:
        with open(opts["out"], "a") as out:
            out.write(json.dumps(result) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
