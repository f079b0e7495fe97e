"""A Scrapy spider with 20 concurrent requests and the same cut rules.
    harvest_scrapy.py BASE_URL SEEDS_FILE DEPTH > phrases (GBK lines, CR LF)"""
import sys

import scrapy
from scrapy.crawler import CrawlerProcess

from cut import related_phrases, search_path

base, seeds_file, depth = sys.argv[1], sys.argv[2], int(sys.argv[3])
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


process = CrawlerProcess(settings={
    "CONCURRENT_REQUESTS": 20, "CONCURRENT_REQUESTS_PER_DOMAIN": 20, "DOWNLOAD_DELAY": 0,
    "ROBOTSTXT_OBEY": False, "LOG_LEVEL": "ERROR", "TELNETCONSOLE_ENABLED": False,
    "COOKIES_ENABLED": False, "RETRY_ENABLED": False, "DOWNLOAD_TIMEOUT": 15,
    "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
})
process.crawl(Related)
process.start()
out.flush()
