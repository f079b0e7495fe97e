"""What a user would write: requests, a pool of 20 threads, the same cut rules.
    harvest_requests.py BASE_URL SEEDS_FILE DEPTH > phrases (GBK lines, CR LF)"""
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import requests

from cut import related_phrases, search_path

base, seeds_file, depth = sys.argv[1], sys.argv[2], int(sys.argv[3])
seeds = [line for line in open(seeds_file, "rb").read().split(b"\r\n") if line.strip()]
local = threading.local()
lock = threading.Lock()
pending = 0
done = threading.Event()
out = sys.stdout.buffer
pool = ThreadPoolExecutor(max_workers=20)


def session():
    if not hasattr(local, "session"):
        local.session = requests.Session()
    return local.session


def task(keyword, level):
    global pending
    try:
        if level <= depth:
            page = session().get(base + search_path(keyword), timeout=15).content
            for phrase in related_phrases(page):
                with lock:
                    out.write(phrase + b"\r\n")
                    pending += 1
                pool.submit(task, phrase, level + 1)
    finally:
        with lock:
            pending -= 1
            if pending == 0:
                done.set()


with lock:
    pending = len(seeds)
for seed in seeds:
    pool.submit(task, seed, 1)
if seeds:
    done.wait()
pool.shutdown()
out.flush()
