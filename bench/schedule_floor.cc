// The CPU floor of a harvest's schedule: the same number of requests and
// pauses with nothing else, on bare libcurl. What a harvest spends above this
// is its own work (records, lists, pool, parsing); what this spends is the
// network and the sleeping, which any program keeping the schedule pays.
//
//   schedule_floor BASE_URL REQUESTS WORKERS PAUSES PAUSE_MS [SPACED]
//
// WORKERS threads share REQUESTS page requests (one easy handle per thread,
// a new connection per request, as a harvest makes); each of the first SPACED requests (default: all) is followed
// by PAUSES sleeps of PAUSE_MS, each later one by one sleep as long as those.
// The process stays on one processor, as `kelvarn harvest` does. Prints the
// CPU seconds used.
#include <curl/curl.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::size_t Keep(char* data, std::size_t size, std::size_t count, void* page) {
  static_cast<std::string*>(page)->append(data, size * count);
  return size * count;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: schedule_floor BASE_URL REQUESTS WORKERS PAUSES PAUSE_MS [SPACED]\n");
    return 2;
  }
  const std::string base = argv[1];
  const int requests = std::atoi(argv[2]), workers = std::atoi(argv[3]), pauses = std::atoi(argv[4]);
  const auto pause = std::chrono::milliseconds(std::atoi(argv[5]));
  const int spaced = argc == 7 ? std::atoi(argv[6]) : requests;

  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  sched_setaffinity(0, sizeof one, &one);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  std::atomic<int> next{0}, failed{0};
  std::vector<std::thread> threads;
  threads.reserve(std::max(workers, 0));
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      CURL* easy = curl_easy_init();
      std::string page;
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Keep);
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, &page);
      curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
      for (int i; (i = next.fetch_add(1)) < requests;) {
        const std::string url = base + "/s?wd=k" + std::to_string(i);
        page.clear();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        if (curl_easy_perform(easy) != CURLE_OK || page.empty()) failed.fetch_add(1);
        if (i < spaced) {
          for (int p = 0; p < pauses; ++p) std::this_thread::sleep_for(pause);
        } else {
          std::this_thread::sleep_for(pause * pauses);
        }
      }
      curl_easy_cleanup(easy);
    });
  }
  for (std::thread& thread : threads) thread.join();
  if (failed.load() > 0) {
    std::fprintf(stderr, "schedule_floor: %d requests failed\n", failed.load());
    return 1;
  }
  std::printf("%.3f\n", CpuSeconds());
  return 0;
}
