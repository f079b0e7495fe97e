#!/usr/bin/python3
"""Kelvarn against what users would pick instead, in one run.

Starts the offline engine (50 ms a page with 10 ms jitter, 10 phrases a page),
then harvests the 20 sample seeds to depth 3 with `kelvarn harvest`, a
requests script and a Scrapy spider, all at 20 concurrent requests. Checks
that the three collect the same multiset of phrases, prints wall time, CPU
time, peak memory and pages per second, and draws docs/benchmarks.png. Last it
runs the floor of Kelvarn's schedule (bench/schedule_floor.cc) to split
Kelvarn's CPU time into the network and pausing any program keeping its
schedule pays, and its own work; and the floor again with a wake-up after
every phrase, to show what spacing the last level's posts would cost.
With --blocked it also harvests through an engine that blocks for 2 s after
500 requests, against the unblocked time plus Kelvarn's 60 s hold.
    bench/peers/compare.py [--blocked] [BUILD_DIR]     (default build/default)
"""
import collections
import heapq
import os
import subprocess
import sys
import tempfile
import time

import offline

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BLOCKED = "--blocked" in sys.argv[1:]
ARGS = [a for a in sys.argv[1:] if a != "--blocked"]
BUILD = os.path.abspath(ARGS[0] if ARGS else os.path.join(ROOT, "build", "default"))
HOLD_S = 60
SEEDS, DEPTH, WORKERS, SPACING_MS = 20, 3, 20, 5
LATENCY_MS, PHRASES = offline.LATENCY_MS, offline.PHRASES


def run(argv, out_path):
    """Runs a tool to completion; returns (wall s, cpu s, peak MiB)."""
    with open(out_path, "wb") as out:
        start = time.monotonic()
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.DEVNULL, cwd=HERE)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed with %d" % (argv[0], os.waitstatus_to_exitcode(status)))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def ideal_seconds():
    """The makespan of Kelvarn's own schedule at the mean latency: seeds posted
    5 ms apart; a fetched task takes the page's latency plus 5 ms for each of
    its posts (spaced after each one, or on the last level as one pause, which
    changes nothing here: the tasks it posts take nothing); tasks below the
    depth take nothing; free workers take tasks first in, first out."""
    queue = collections.deque((i * SPACING_MS / 1000.0, 1) for i in range(SEEDS))
    free = [0.0] * WORKERS
    end = 0.0
    while queue:
        ready, level = queue.popleft()
        t = max(ready, heapq.heappop(free))
        if level <= DEPTH:
            t += LATENCY_MS / 1000.0
            for _ in range(PHRASES):
                queue.append((t, level + 1))
                t += SPACING_MS / 1000.0
        heapq.heappush(free, t)
        end = max(end, t)
    return end


def main():
    work = tempfile.mkdtemp(prefix="kelvarn-peers-")
    seeds = offline.write_seeds(work, SEEDS)
    engine, base = start_engine()
    tools = {
        "kelvarn harvest": kelvarn_argv(base, seeds),
        "requests + 20 threads": ["/usr/bin/python3", "harvest_requests.py", base, seeds, str(DEPTH)],
        "Scrapy, 20 requests": ["/usr/bin/python3", "harvest_scrapy.py", base, seeds, str(DEPTH)],
    }
    pages = sum(SEEDS * PHRASES ** level for level in range(DEPTH))
    last_level_pages = SEEDS * PHRASES ** (DEPTH - 1)
    results, multisets = {}, {}
    try:
        for name, argv in tools.items():
            out = os.path.join(work, name.split()[0] + ".txt")
            results[name] = run(argv, out)
            with open(out, "rb") as f:
                multisets[name] = collections.Counter(f.read().split(b"\r\n")[:-1])
        # The floor of Kelvarn's schedule: the same requests and pauses on bare
        # libcurl, spaced on the pages above the last level and one a page on
        # the last, as Kelvarn pauses; then spaced on every page.
        floor_bin = os.path.join(BUILD, "bench", "schedule_floor")
        floor_argv = [floor_bin, base, str(pages), str(WORKERS), str(PHRASES), str(SPACING_MS)]
        floor = run(floor_argv + [str(pages - last_level_pages)], os.devnull)
        all_spaced = run(floor_argv, os.devnull)
    finally:
        engine.terminate()
        engine.wait()
    first = next(iter(multisets.values()))
    same = all(m == first for m in multisets.values())
    print("same multiset of phrases in all three: %s (%d phrases, %d pages each)" % (same, sum(first.values()), pages))
    print("%-24s %9s %9s %10s %9s" % ("tool", "wall s", "CPU s", "peak MiB", "pages/s"))
    for name, (wall, cpu, peak) in results.items():
        print("%-24s %9.2f %9.2f %10.1f %9.1f" % (name, wall, cpu, peak, pages / wall))
    ideal = ideal_seconds()
    wall = results["kelvarn harvest"][0]
    print("kelvarn: ideal time of its schedule %.2f s, ratio %.3f; the 5 ms spacing alone is %.2f s of the ideal"
          % (ideal, wall / ideal, ideal - ideal_without_spacing()))
    cpu, peer_cpu = results["kelvarn harvest"][1], best_peer_cpu(results)
    print("floor of kelvarn's schedule (bare libcurl, the same %d requests, %d threads on one processor, "
          "a %d ms pause after each phrase on the %d pages above the last level, one %d ms pause a page on "
          "the %d of the last): CPU %.2f s; with every pause spaced: %.2f s"
          % (pages, WORKERS, SPACING_MS, pages - last_level_pages, PHRASES * SPACING_MS, last_level_pages,
             floor[1], all_spaced[1]))
    print("kelvarn: CPU %.2f s = floor %.2f s + its own work %.2f s; %.3fx the best peer's CPU; "
          "spacing the last level's posts too would add about %.2f s"
          % (cpu, floor[1], cpu - floor[1], cpu / peer_cpu, all_spaced[1] - floor[1]))
    plot(results, pages)
    if BLOCKED:
        blocked_engine, blocked_base = start_engine("--block-after", "500", "--block-ms", "2000")
        try:
            out = os.path.join(work, "blocked.txt")
            blocked = run(kelvarn_argv(blocked_base, seeds), out)
            with open(out, "rb") as f:
                blocked_same = collections.Counter(f.read().split(b"\r\n")[:-1]) == multisets["kelvarn harvest"]
        finally:
            blocked_engine.terminate()
            blocked_engine.wait()
        print("kelvarn through a 2 s block after 500 requests: wall %.2f s, CPU %.2f s, same phrases: %s; "
              "unblocked %.2f s + the %d s hold = %.2f s, ratio %.3f"
              % (blocked[0], blocked[1], blocked_same, wall, HOLD_S, wall + HOLD_S, blocked[0] / (wall + HOLD_S)))
        same = same and blocked_same
    if not same:
        sys.exit(1)


def kelvarn_argv(base, seeds):
    """Unpaced, as the peers are: the command paces by itself unless told not
    to (builds before pacing know no --rate)."""
    kelvarn = os.path.join(BUILD, "kelvarn")
    helptext = subprocess.run([kelvarn, "harvest", "--help"], capture_output=True, text=True).stdout
    pace = ["--rate", "0"] if "--rate" in helptext else []
    return [kelvarn, "harvest", "--quiet", "--encoding", "gbk", "--search-url", base, "--depth", str(DEPTH),
            "--workers", str(WORKERS), *pace, seeds]


def start_engine(*more):
    return offline.start_engine(BUILD, *more)


def best_peer_cpu(results):
    return min(cpu for name, (_, cpu, _) in results.items() if name != "kelvarn harvest")


def ideal_without_spacing():
    global SPACING_MS
    saved, SPACING_MS = SPACING_MS, 0
    try:
        return ideal_seconds()
    finally:
        SPACING_MS = saved


def plot(results, pages):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    names = list(results)
    fig, (left, right) = plt.subplots(1, 2, figsize=(9, 3.6))
    left.bar(names, [pages / results[n][0] for n in names], color=["#2a6f97", "#a3a3a3", "#6b6b6b"])
    left.set_title("pages per second (higher is better)")
    right.bar(names, [results[n][2] for n in names], color=["#2a6f97", "#a3a3a3", "#6b6b6b"])
    right.set_title("peak memory, MiB (lower is better)")
    for axis in (left, right):
        axis.tick_params(axis="x", labelrotation=15, labelsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(ROOT, "docs", "benchmarks.png"), dpi=100)


if __name__ == "__main__":
    main()
