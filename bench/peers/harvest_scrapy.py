"""A Scrapy spider with 20 concurrent requests and the same cut rules.
    harvest_scrapy.py [--autothrottle] BASE_URL SEEDS_FILE DEPTH > phrases (GBK lines, CR LF)
--autothrottle is what a user would turn on against an engine that limits its
clients: AutoThrottle aiming at one request in flight, cookies kept (Scrapy's
default), and each page's phrases flushed as they come, so that the output's
growth can be timed."""
import sys

import scrapy
from scrapy.crawler import CrawlerProcess

from cut import related_phrases, search_path

throttled = "--autothrottle" in sys.argv[1:]
args = [a for a in sys.argv[1:] if a != "--autothrottle"]
base, seeds_file, depth = args[0], args[1], int(args[2])
seeds = [line for line in open(seeds_file, "rb").read().split(b"\r\n") if line.strip()]
out = sys.stdout.buffer


class Related(scrapy.Spider):
    name = "related"

    def start_requests(self):
        for seed in seeds:
            yield scrapy.Request(base + search_path(seed), cb_kwargs={"level": 1}, dont_filter=True)

    def parse(self, response, level):
        for phrase in related_phrases(response.body):
            out.write(phrase + b"\r\n")
            if level + 1 <= depth:
                yield scrapy.Request(base + search_path(phrase), cb_kwargs={"level": level + 1}, dont_filter=True)
        if throttled:
            out.flush()


settings = {
    "CONCURRENT_REQUESTS": 20, "CONCURRENT_REQUESTS_PER_DOMAIN": 20, "DOWNLOAD_DELAY": 0,
    "ROBOTSTXT_OBEY": False, "LOG_LEVEL": "ERROR", "TELNETCONSOLE_ENABLED": False,
    "COOKIES_ENABLED": False, "RETRY_ENABLED": False, "DOWNLOAD_TIMEOUT": 15,
    "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
}
if throttled:
    settings.update({"AUTOTHROTTLE_ENABLED": True, "AUTOTHROTTLE_TARGET_CONCURRENCY": 1, "COOKIES_ENABLED": True})
process = CrawlerProcess(settings=settings)
process.crawl(Related)
process.start()
out.flush()
