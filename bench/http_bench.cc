// Pages per second fetched one after another from the offline engine (no
// latency) through HttpClient, against a bare libcurl loop that also makes a
// new easy handle per request.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "net/http_client.h"
#include "tools/engine/offline_engine.h"

namespace kelvarn {
namespace {

OfflineEngine& Engine() {
  static OfflineEngine* engine = [] {
    EngineOptions options;
    options.pageBytes = 100 * 1024;
    auto* e = new OfflineEngine(options);
    e->Start();
    return e;
  }();
  return *engine;
}

std::string Url() { return Engine().BaseUrl() + "/s?wd=%B9%D8%BC%FC%D7%D6"; }

void BM_HttpClient(benchmark::State& state) {
  const std::string url = Url();
  std::size_t bytes = 0;
  for (auto _ : state) {
    HttpClient client;
    client.Open("GET", url);
    client.Send(Value{}, 15000, 15000, 15000);
    bytes += client.GetResponseText().size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["page_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void BM_BaselineBareCurl(benchmark::State& state) {
  const std::string url = Url();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    bytes += body.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["page_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_HttpClient)->UseRealTime();
BENCHMARK(BM_BaselineBareCurl)->UseRealTime();

}  // namespace
}  // namespace kelvarn

BENCHMARK_MAIN();
