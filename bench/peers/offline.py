"""What the peer benchmarks share: the sample seeds as the window's keyword
file, and the offline engine as they all run it (50 ms a page with 10 ms
jitter, 10 phrases a page)."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LATENCY_MS, JITTER_MS, PHRASES = 50, 10, 10


def write_seeds(work, count):
    """The first `count` sample seeds as GBK lines ending in CR LF, in work/seeds.txt; returns its path."""
    seeds = os.path.join(work, "seeds.txt")
    with open(os.path.join(ROOT, "tools", "sample", "seeds.txt"), encoding="utf-8") as f:
        lines = [line.strip() for line in f if line.strip()][:count]
    with open(seeds, "wb") as f:
        f.write(b"".join(line.encode("gbk") + b"\r\n" for line in lines))
    return seeds


def start_engine(build, *more):
    """Starts build's kelvarn-engine with the extra flags; returns it and its base URL."""
    engine = subprocess.Popen([os.path.join(build, "kelvarn-engine"), "--latency", str(LATENCY_MS), "--jitter",
                               str(JITTER_MS), "--phrases", str(PHRASES), *more], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    return engine, engine.stdout.readline().decode().strip()
