#!/usr/bin/python3
"""What --journal costs a harvest.

The harvest of compare.py (the 20 sample seeds to depth 3, 20 workers,
--rate 0, against the offline engine without limits), with and without
`--journal FILE`, both with `--output FILE`, alternating, ROUNDS of each
(default 3). Prints each run, the medians of CPU time (user + sys of the
child) and wall time, and journaled / plain (of the medians, and the median
of each round's); checks that both give the same phrases and that the
journal has a line for every page. The goal: at most 1.10 for either.
    bench/peers/journal_cost.py [--rounds N] [BUILD_DIR]     (default build/default)
"""
import os
import statistics
import sys
import tempfile

import compare
import offline

GOAL = 1.10


def main():
    args, rounds = sys.argv[1:], 3
    if "--rounds" in args:
        at = args.index("--rounds")
        rounds = int(args[at + 1])
        del args[at:at + 2]
    compare.BUILD = os.path.abspath(args[0] if args else os.path.join(compare.ROOT, "build", "default"))
    work = tempfile.mkdtemp(prefix="kelvarn-journal-")
    seeds = offline.write_seeds(work, compare.SEEDS)
    pages = sum(compare.SEEDS * compare.PHRASES ** level for level in range(compare.DEPTH))
    engine, base = compare.start_engine()
    times = {"plain": [], "journaled": []}
    outputs = {}
    try:
        for r in range(rounds):
            for name in times:
                out, journal = os.path.join(work, name + ".txt"), os.path.join(work, name + ".journal")
                for path in (out, journal):
                    if os.path.exists(path):
                        os.remove(path)
                argv = compare.kelvarn_argv(base, seeds)
                extra = ["--output", out] + (["--journal", journal] if name == "journaled" else [])
                wall, cpu, _ = compare.run(argv[:-1] + extra + argv[-1:], os.devnull)
                times[name].append((cpu, wall))
                print("round %d %-10s CPU %6.2f s  wall %6.2f s" % (r + 1, name, cpu, wall))
                with open(out, "rb") as f:
                    outputs[name] = sorted(f.read().split(b"\r\n")[:-1])
                if name == "journaled":
                    with open(journal, "rb") as f:
                        lines = f.read().count(b"\n")
                    if lines != pages + 1:
                        sys.exit("the journal has %d lines, not a header and %d pages" % (lines, pages))
    finally:
        engine.terminate()
        engine.wait()
    if outputs["plain"] != outputs["journaled"]:
        sys.exit("the journaled harvest gave other phrases")
    med = {name: [statistics.median(t[i] for t in runs) for i in (0, 1)] for name, runs in times.items()}
    print("%-10s %12s %12s" % ("median", "CPU s", "wall s"))
    for name, (cpu, wall) in med.items():
        print("%-10s %12.2f %12.2f" % (name, cpu, wall))
    ratios = [med["journaled"][i] / med["plain"][i] for i in (0, 1)]
    # The machine's speed drifts between rounds; each round's own pair does not see it.
    paired = [statistics.median(j[i] / p[i] for p, j in zip(times["plain"], times["journaled"])) for i in (0, 1)]
    print("journaled / plain, of the medians: CPU %.3f, wall %.3f; median of each round's: CPU %.3f, wall %.3f"
          % (*ratios, *paired))
    print("goal, at most %.2f for both: %s" % (GOAL, "met" if max(ratios) <= GOAL else "not met"))


if __name__ == "__main__":
    main()
