#include "net/http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <tuple>

#include "frame/runtime.h"
#include "tests/proxies.h"
#include "tests/raw_server.h"
#include "tools/engine/offline_engine.h"

namespace kelvarn {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::RawServer;
using testing::Response;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

const std::string kAgentLine = "User-Agent: " + std::string(HttpClient::kUserAgent);

RawServer::Responder Answer(const std::string& body, const std::string& headers = "") {
  return [body, headers](const std::string&, int) { return Response(body, headers); };
}

// Where the stack puts its own lines is its business (libcurl writes Host
// and User-Agent first, WinINet the User-Agent last); the lines the client
// adds keep their order. The request line, then the header lines without
// the User-Agent and, over WinINet, the Connection line, which must be there.
Lines Sent(const RawServer& server, std::size_t index) {
  Lines lines = server.Lines(index);
#ifdef _WIN32
  const Lines stackLines{kAgentLine, "Connection: close"};
#else
  const Lines stackLines{kAgentLine};
#endif
  for (const std::string& line : stackLines) {
    const auto at = std::find(lines.begin(), lines.end(), line);
    if (at == lines.end()) return {"(no " + line + ")"};
    lines.erase(at);
  }
  const auto host =
      std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Host:"); });
  if (host != lines.end() && host != lines.begin() + 1) std::rotate(lines.begin() + 1, host, host + 1);
  return lines;
}

TEST(HttpClientTest, UserAgentIs117Bytes) { EXPECT_EQ(117u, HttpClient::kUserAgent.size()); }

TEST(HttpClientTest, GetSendsExactlyTheHeaderLines) {
  RawServer server(Answer("page"));
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base() + "/s?wd=abc"));
  ASSERT_TRUE(client.Send());
  EXPECT_THAT(Sent(server, 0), ElementsAre("GET /s?wd=abc HTTP/1.1", "Host: 127.0.0.1", "Accept: */*"));
  EXPECT_EQ("page", client.GetResponseText());
  EXPECT_EQ(200u, client.StatusCode());
}

TEST(HttpClientTest, PostAddsContentLinesInOrder) {
  RawServer server(Answer("ok"));
  HttpClient client;
  ASSERT_TRUE(client.Open("POST", server.Base() + "/form"));
  ASSERT_TRUE(client.Send(Text("a=1")));
  EXPECT_THAT(Sent(server, 0), ElementsAre("POST /form HTTP/1.1", "Host: 127.0.0.1", "Accept: */*",
                                           "Content-Type: application/x-www-form-urlencoded", "Content-Length: 3",
                                           "Cache-Control: no-cache"));
  EXPECT_EQ("a=1", server.Body(0));

  // Without a body the client adds no Content-Length (WinINet writes its
  // own "0" for any method but GET); lower-case "post" counts as POST and is
  // sent as written.
  ASSERT_TRUE(client.Open("post", server.Base() + "/form"));
  ASSERT_TRUE(client.Send());
  Lines bodiless{"post /form HTTP/1.1", "Host: 127.0.0.1", "Accept: */*",
                 "Content-Type: application/x-www-form-urlencoded", "Cache-Control: no-cache"};
#ifdef _WIN32
  bodiless.push_back("Content-Length: 0");
#endif
  EXPECT_EQ(bodiless, Sent(server, 1));
  // A text body is sent up to its first zero byte; a byte array whole.
  ASSERT_TRUE(client.Send(Text("xy\0z", 4)));
  EXPECT_EQ("xy", server.Body(2));
  ASSERT_TRUE(client.Send(ByteArray{'x', 0, 'z'}));
  EXPECT_EQ(std::string("x\0z", 3), server.Body(3));
}

// Where a redirect leads each method, by the redirect's status, over either
// stack: "GET" turns it into a GET without the body or its content lines
// (Cache-Control stays), "=" sends it again as it was.
TEST(HttpClientTest, RedirectKeepsOrChangesTheMethodByItsStatus) {
  RawServer server([](const std::string& request, int) {
    if (request.find(" /done ") != std::string::npos) return Response("");
    return Response("", "Location: /done\r\n", request.substr(request.find("/go") + 3, 3) + " Moved");
  });
  const std::string codes[] = {"301", "302", "303", "307", "308"};
  const struct {
    std::string verb, body;
    std::string after[5];  // after each of `codes`
  } table[] = {
      {"GET", "", {"=", "=", "=", "=", "="}},
      {"HEAD", "", {"=", "=", "=", "=", "="}},
      {"POST", "a=1", {"GET", "GET", "GET", "=", "="}},
      {"post", "a=1", {"GET", "GET", "GET", "=", "="}},  // a POST in any letter case
      {"PUT", "a=1", {"=", "=", "GET", "=", "="}},       // any other method
  };
  HttpClient client;
  std::size_t next = 1;
  for (const auto& row : table) {
    for (std::size_t i = 0; i < 5; ++i, next += 2) {
      SCOPED_TRACE(row.verb + " " + codes[i]);
      ASSERT_TRUE(client.Open(row.verb, server.Base() + "/go" + codes[i]));
      ASSERT_TRUE(client.Send(Text(row.body), 2000, 2000, 2000));
      EXPECT_EQ(200u, client.StatusCode());
      EXPECT_THAT(client.Redirects(), ElementsAre("/done"));
      const bool same = row.after[i] == "=";
      const bool post = row.verb == "POST" || row.verb == "post";
      const Lines lines = Sent(server, next);
      EXPECT_EQ((same ? row.verb : "GET") + " /done HTTP/1.1", lines.at(0));
      EXPECT_EQ(same ? row.body : "", server.Body(next));
      const auto has = [&](const std::string& line) { return std::ranges::count(lines, line) == 1; };
      EXPECT_EQ(same && post, has("Content-Type: application/x-www-form-urlencoded"));
      if (post) {
        EXPECT_TRUE(has("Cache-Control: no-cache"));  // WinINet adds its own to a HEAD or PUT
      }
    }
  }
}

TEST(HttpClientTest, ABodyWithAnotherVerbAddsNoContentType) {
  RawServer server(Answer("ok"));
  HttpClient client;
  ASSERT_TRUE(client.Open("PUT", server.Base() + "/x"));
  ASSERT_TRUE(client.Send(Text("abc")));
  const Lines lines = server.Lines();
  EXPECT_EQ("PUT /x HTTP/1.1", lines.at(0));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(HasSubstr("Content-Type"))));
  EXPECT_EQ("abc", server.Body());
}

TEST(HttpClientTest, RequestTargetComesFromTheUrlText) {
  RawServer server(Answer(""));
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base()));
  ASSERT_TRUE(client.Send());
  ASSERT_TRUE(client.Open("GET", server.Base() + "?x=1"));  // the query is lost
  ASSERT_TRUE(client.Send());
  ASSERT_TRUE(client.Open("GET", server.Base() + "/a/b?c=/d"));
  ASSERT_TRUE(client.Send());
  // Spaces go as %20; the fragment is part of the target and goes as written.
  ASSERT_TRUE(client.Open("GET", server.Base() + "/a b?q=x y#top"));
  ASSERT_TRUE(client.Send());
  EXPECT_EQ("GET / HTTP/1.1", server.Lines(0).at(0));
  EXPECT_EQ("GET / HTTP/1.1", server.Lines(1).at(0));
  EXPECT_EQ("GET /a/b?c=/d HTTP/1.1", server.Lines(2).at(0));
  EXPECT_EQ("GET /a%20b?q=x%20y#top HTTP/1.1", server.Lines(3).at(0));
  EXPECT_EQ("", client.GetResponseText());  // empty body
}

TEST(HttpClientTest, UrlsThatDoNotCrackLeaveTheClientAsItWas) {
  RawServer server(Answer("again"));
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base() + "/first"));
  ASSERT_TRUE(client.Send());
  EXPECT_FALSE(client.Open("GET", "no-scheme/path"));
  EXPECT_FALSE(client.Open("GET", "http://" + std::string(256, 'h') + "/"));
  EXPECT_FALSE(client.Open("GET", "http://h/" + std::string(2047, 'p')));  // path part of 2048 bytes
  EXPECT_FALSE(client.Open("GET", "http://h:99999/"));
  EXPECT_FALSE(client.Open("GET", "http:///no-host"));
  EXPECT_FALSE(client.Open("GET", "http://a b/"));  // no host name holds a space
  EXPECT_FALSE(client.Open("GET", server.Base() + "/x\r\nX-Injected: 1"));
  EXPECT_EQ("again", client.GetResponseText());
  ASSERT_TRUE(client.Send());  // repeats the previous request, appending
  EXPECT_EQ("againagain", client.GetResponseText());
  EXPECT_EQ("GET /first HTTP/1.1", server.Lines(1).at(0));

  EXPECT_TRUE(client.Open("GET", "http://" + std::string(255, 'h') + "/" + std::string(2046, 'p')));
  EXPECT_EQ(80, client.Port());
  EXPECT_EQ("", client.GetResponseText());  // Open empties the body
  EXPECT_TRUE(client.Open("GET", "https://h/"));
  EXPECT_EQ(443, client.Port());
}

TEST(HttpClientTest, SendNeedsAnHttpTarget) {
  HttpClient fresh;
  EXPECT_FALSE(fresh.Send());
  HttpClient ftp;
  ASSERT_TRUE(ftp.Open("GET", "ftp://127.0.0.1/file"));
  EXPECT_FALSE(ftp.Send());
}

TEST(HttpClientTest, ConnectionFailureReturnsFalseAndKeepsTheBody) {
  int port;
  {
    RawServer closed(Answer(""));
    port = closed.Port();
  }
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", "http://127.0.0.1:" + std::to_string(port) + "/"));
  EXPECT_FALSE(client.Send(Value{}, 2000, 2000, 2000));
  EXPECT_EQ(0u, client.StatusCode());
}

TEST(HttpClientTest, ResponseHeadersParse) {
  RawServer server([](const std::string&, int) {
    return std::string(
        "HTTP/1.1 404 Not Found\r\nX-A:   spaced value  \r\nX-B: 1\r\nX-B: 2\r\nX-C: a:b\r\n"
        "X-D : v\r\nX-E:\r\nContent-Length: 4\r\nConnection: close\r\n\r\nmiss");
  });
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base() + "/"));
  ASSERT_TRUE(client.Send());
  EXPECT_EQ(404u, client.StatusCode());
  EXPECT_EQ("miss", client.GetResponseText());  // an error page is collected like any other
  using H = HttpClient::HeaderEntry;
#ifdef _WIN32
  // WinINet hands over the headers it rebuilt: without the spaces around
  // the colon or at the end of a value.
  const H spaced{"X-A", "spaced value"}, beforeColon{"X-D", "v"};
#else
  const H spaced{"X-A", "spaced value  "}, beforeColon{"X-D ", "v"};
#endif
  EXPECT_THAT(client.ResponseHeaders(),
              ElementsAre(spaced, H{"X-B", "1"}, H{"X-B", "2"}, H{"X-C", "a:b"}, beforeColon, H{"X-E", std::nullopt},
                          H{"Content-Length", "4"}, H{"Connection", "close"}));
}

// One cookie store for the process, as the platform keeps it: a cookie set
// on one client's response goes with the next request of any client, and a
// cookie file lends the store a browser's cookies. The host is "localhost",
// so that no other test's request to 127.0.0.1 carries these cookies.
TEST(HttpClientTest, CookiesAreSharedByEveryClientAndLoadedFromAFile) {
  RawServer server([](const std::string&, int index) {
    return Response("c", index == 0 ? "Set-Cookie: session=42; Path=/\r\n" : "");
  });
  const std::string base = "http://localhost:" + std::to_string(server.Port());
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", base + "/"));
  ASSERT_TRUE(client.Send());
  EXPECT_THAT(server.Lines(0), ::testing::Not(::testing::Contains(HasSubstr("Cookie"))));
  std::thread([&] {
    HttpClient other;
    ASSERT_TRUE(other.Open("GET", base + "/again"));
    ASSERT_TRUE(other.Send());
  }).join();
  EXPECT_THAT(server.Lines(1), ::testing::Contains("Cookie: session=42"));

  const std::string path =
      (std::filesystem::temp_directory_path() / ("kelvarn-cookies-" + std::to_string(server.Port()) + ".txt")).string();
  std::ofstream(path, std::ios::binary) << "localhost\tFALSE\t/\tFALSE\t0\tlent\tyes\n"
                                        << "# a comment\n"
                                        << "#HttpOnly_localhost\tFALSE\t/\tFALSE\t0\tscript\tunseen\r\n"
                                        << "localhost\tFALSE\t/\tFALSE\t1\texpired\tlong-ago\n";
  EXPECT_EQ(2u, HttpClient::LoadCookieFile(path).loaded);  // the expired one is no use
  EXPECT_FALSE(HttpClient::LoadCookieFile(path + ".missing"));
  // The same file seeds an identity's own store, which the process's
  // cookies never reach.
  const std::shared_ptr<HttpIdentity> identity = HttpIdentity::Create().identity;
  ASSERT_TRUE(identity);
  EXPECT_EQ(2u, identity->LoadCookieFile(path).loaded);
  // More cookies than a browser keeps: refused whole, none taken.
  {
    std::ofstream many(path, std::ios::binary);
    for (int i = 0; i <= 3000; ++i) many << "localhost\tFALSE\t/\tFALSE\t0\tmany" << i << "\tx\n";
  }
  const CookieFileLoad refused = identity->LoadCookieFile(path);
  EXPECT_FALSE(refused);
  EXPECT_EQ("more than 3000 cookies, more than a browser keeps", refused.error);
  std::filesystem::remove(path);
  ASSERT_TRUE(client.Open("GET", base + "/third"));
  ASSERT_TRUE(client.Send());
  EXPECT_THAT(server.Lines(2), ::testing::Contains(::testing::AllOf(HasSubstr("session=42"), HasSubstr("lent=yes"),
                                                                    HasSubstr("script=unseen"))));
  EXPECT_THAT(server.Lines(2), ::testing::Not(::testing::Contains(HasSubstr("expired"))));
  HttpClient seeded;
  seeded.SetIdentity(identity);
  ASSERT_TRUE(seeded.Open("GET", base + "/fourth"));
  ASSERT_TRUE(seeded.Send());
  EXPECT_THAT(server.Lines(3), ::testing::Contains(::testing::AllOf(HasSubstr("lent=yes"), HasSubstr("script=unseen"),
                                                                    ::testing::Not(HasSubstr("session")),
                                                                    ::testing::Not(HasSubstr("many")))));
}

TEST(HttpClientTest, SilentServerEndsAtTheReceiveTimeout) {
  RawServer server([](const std::string&, int) { return std::string("hang"); });
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base() + "/"));
  const auto start = Clock::now();
  EXPECT_FALSE(client.Send(Value{}, 0, 0, 300));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  // The root handle keeps the setting: a later 0 leaves it in force.
  EXPECT_FALSE(client.Send(Value{}, 0, 0, 0));
}

// A server that answers after 1.5 s: a receive time-out of 1.9 s waits for
// it, one of 1 s does not. Both at once, on a server each, to keep it short.
TEST(HttpClientTest, ReceiveTimeoutCountsMilliseconds) {
  const auto fetch = [](std::int32_t receiveTimeout) {
    return std::async(std::launch::async, [receiveTimeout] {
      RawServer server([](const std::string&, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return Response("late");
      });
      HttpClient client;
      EXPECT_TRUE(client.Open("GET", server.Base() + "/"));
      return client.Send(Value{}, 0, 0, receiveTimeout) ? client.GetResponseText() : Text("(timed out)");
    });
  };
  auto patient = fetch(1900), hasty = fetch(1000);
  EXPECT_EQ("late", patient.get());
  EXPECT_EQ("(timed out)", hasty.get());
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(engine_.Start(), 0); }
  std::string Url(const std::string& keyword, const std::string& fault = "") const {
    return engine_.BaseUrl() + "/s?wd=" + keyword + (fault.empty() ? "" : "&fault=" + fault);
  }
  OfflineEngine engine_;
};

TEST_F(EngineTest, FetchesAPageAndFollowsRedirects) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc")));
  ASSERT_TRUE(client.Send(Value{}, 15000, 15000, 15000));
  EXPECT_EQ(OfflineEngine::PageFor("abc", {}, EngineFault::kNone), client.GetResponseText());

  ASSERT_TRUE(client.Open("GET", Url("abc", "redirect")));
  ASSERT_TRUE(client.Send());
  EXPECT_EQ(200u, client.StatusCode());
  EXPECT_EQ(OfflineEngine::PageFor("abc", {}, EngineFault::kNone), client.GetResponseText());
  EXPECT_EQ(3u, engine_.RequestCount());

  ASSERT_TRUE(client.Open("GET", Url("abc", "error")));
  ASSERT_TRUE(client.Send());
  EXPECT_EQ(500u, client.StatusCode());
  EXPECT_THAT(client.GetResponseText(), HasSubstr("server error"));
}

TEST_F(EngineTest, BodyStopsAtTheCap) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc", "huge")));
  EXPECT_TRUE(client.Send());
  EXPECT_EQ(HttpClient::kMaxBodyBytes, client.GetResponseText().size());
  // Not whole: such a page without its block fails, it does not lack one.
  EXPECT_EQ(HttpClient::Ending::kCutOff, client.LastEnding());
}

TEST_F(EngineTest, ResetMidBodyKeepsWhatWasRead) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc", "reset")));
  EXPECT_TRUE(client.Send());
  const Text page = OfflineEngine::PageFor("abc", {}, EngineFault::kNone);
  EXPECT_EQ(page.substr(0, page.size() / 2), client.GetResponseText());
}

// Whether the body stalls or streams without a pause, the hook ends it: the
// stalled one after 100 ms, the streaming one at the hook's fourth look,
// long before its 200 MiB are through.
TEST_F(EngineTest, AbortHookEndsAStalledOrStreamingTransfer) {
  for (const std::string fault : {"stall", "huge"}) {
    SCOPED_TRACE(fault);
    HttpClient client;
    const auto start = Clock::now();
    int looks = 0;
    client.SetAbortHook(
        [&] { return fault == "stall" ? Clock::now() - start > std::chrono::milliseconds(100) : ++looks > 3; });
    ASSERT_TRUE(client.Open("GET", Url("abc", fault)));
    EXPECT_FALSE(client.Send(Value{}, 15000, 15000, 15000));
    EXPECT_EQ(HttpClient::Ending::kAborted, client.LastEnding());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));  // not the 15 s time-out, nor the whole body
  }
}

// Without a wake the hook is looked at once a second; a wake from another
// thread makes the transfer look at once.
TEST_F(EngineTest, WakeTransfersMakesAStalledTransferLookAtItsHook) {
  std::atomic<bool> abort{false};
  std::atomic<bool> sending{false};
  Clock::time_point woken;
  std::thread stopper([&] {
    while (!sending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    abort = true;
    woken = Clock::now();
    HttpClient::WakeTransfers();
  });
  HttpClient client;
  client.SetAbortHook([&] { return abort.load(); });
  ASSERT_TRUE(client.Open("GET", Url("abc", "stall")));
  sending = true;
  EXPECT_FALSE(client.Send(Value{}, 15000, 15000, 15000));
  const auto ended = Clock::now();
  stopper.join();
  EXPECT_LT(ended - woken, std::chrono::milliseconds(500));
}

TEST_F(EngineTest, StalledBodyEndsAtTheReceiveTimeoutWithWhatWasRead) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc", "stall")));
  // Long enough for a loaded machine, Wine included, to send the first half in time.
  EXPECT_TRUE(client.Send(Value{}, 0, 0, 3000));
  const Text page = OfflineEngine::PageFor("abc", {}, EngineFault::kNone);
  EXPECT_EQ(page.substr(0, page.size() / 2), client.GetResponseText());
}

// One byte a second never trips the no-progress time-out; the slow-transfer
// limit ends it after the receive time-out all the same.
TEST_F(EngineTest, TrickleEndsAfterTheReceiveTimeoutWithWhatWasRead) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc", "trickle")));
  const auto start = Clock::now();
  EXPECT_TRUE(client.Send(Value{}, 0, 0, 1000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
  const Text page = OfflineEngine::PageFor("abc", {}, EngineFault::kNone);
  EXPECT_LT(client.GetResponseText().size(), 10u);
  EXPECT_EQ(page.substr(0, client.GetResponseText().size()), client.GetResponseText());
}

// 10 bytes every 2 ms stays far above the slow-transfer floor; the sum of
// the time-outs ends it all the same, with what was read.
TEST(HttpClientTest, DripFedResponseEndsAtTheSumOfTheTimeouts) {
  const std::string body(1 << 20, 'x');
  testing::KeepAliveServer server([&](const std::string&) {
    std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"};
    for (std::size_t i = 0; i < body.size(); i += 10) pieces.push_back(body.substr(i, 10));
    return pieces;
  });
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", server.Base() + "/"));
  const auto start = Clock::now();
  // Each time-out alone outlasts a loaded machine's pauses; their sum does not.
  EXPECT_TRUE(client.Send(Value{}, 600, 600, 800));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(2000));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_GT(client.GetResponseText().size(), 0u);
  EXPECT_LT(client.GetResponseText().size(), body.size());
}

// A response to HEAD, a 204 and a 304 are whole at their headers, whatever
// their Content-Length says, over a connection the server keeps open.
TEST(HttpClientTest, BodilessResponsesEndAtTheirHeaders) {
  testing::KeepAliveServer server([](const std::string& target) -> std::vector<std::string> {
    return {"HTTP/1.1 " + (target == "/" ? std::string("200") : target.substr(1)) + " X\r\nContent-Length: 99\r\n\r\n"};
  });
  HttpClient client;
  for (const auto& [verb, target, status] :
       {std::tuple{"HEAD", "/", 200u}, {"head", "/", 200u}, {"GET", "/204", 204u}, {"GET", "/304", 304u}}) {
    SCOPED_TRACE(std::string(verb) + " " + target);
    ASSERT_TRUE(client.Open(verb, server.Base() + target));
    ASSERT_TRUE(client.Send(Value{}, 5000, 5000, 5000));
    EXPECT_EQ(HttpClient::Ending::kComplete, client.LastEnding());
    EXPECT_EQ(status, client.StatusCode());
    EXPECT_EQ("", client.GetResponseText());
  }
}

// Every request goes over a new connection, closed after it: bytes a server
// leaves on a kept connection never pass for the answer to the next request.
TEST(HttpClientTest, EveryRequestGoesOverANewConnection) {
  for (const bool sameWrite : {true, false}) {
    SCOPED_TRACE(sameWrite ? "same write" : "2 ms later");
    testing::KeepAliveServer server([&](const std::string& target) -> std::vector<std::string> {
      const std::string answer =
          "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(target.size()) + "\r\n\r\n" + target;
      const std::string invented = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\ninvented";
      if (sameWrite) return {answer + invented};
      return {answer, invented};
    });
    HttpClient client;
    for (const std::string target : {"/first", "/second", "/third"}) {
      ASSERT_TRUE(client.Open("GET", server.Base() + target));
      const auto start = Clock::now();
      ASSERT_TRUE(client.Send(Value{}, 2000, 2000, 2000));
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));  // the body ends at its length
      EXPECT_EQ(target, client.GetResponseText());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the unasked bytes arrive
    }
    EXPECT_EQ(3, server.Connections());
  }
}

// The bodies that clients hold count against one bound for the process: a
// response that would pass it fails and keeps nothing, and what a client
// lets go is free again.
TEST_F(EngineTest, BodiesOfAllClientsStayWithinTheProcessBound) {
  const std::size_t page = OfflineEngine::PageFor("abc", {}, EngineFault::kNone).size();
  const std::size_t limit = HttpClient::ResponseMemoryLimit();
  HttpClient::SetResponseMemoryLimit(page + page / 2);
  {
    HttpClient first, second;
    ASSERT_TRUE(first.Open("GET", Url("abc")));
    ASSERT_TRUE(first.Send());
    EXPECT_EQ(page, HttpClient::ResponseMemoryHeld());
    ASSERT_TRUE(second.Open("GET", Url("abc")));
    EXPECT_FALSE(second.Send());
    EXPECT_EQ("", second.GetResponseText());
    EXPECT_EQ(page, HttpClient::ResponseMemoryHeld());
    ASSERT_TRUE(first.Open("GET", Url("abc")));  // lets its page go
    ASSERT_TRUE(second.Open("GET", Url("abc")));
    EXPECT_TRUE(second.Send());
    EXPECT_EQ(page, second.GetResponseText().size());
  }
  EXPECT_EQ(0u, HttpClient::ResponseMemoryHeld());
  HttpClient::SetResponseMemoryLimit(limit);
}

TEST_F(EngineTest, RedirectLoopEndsWithTheLastRedirect) {
  HttpClient client;
  ASSERT_TRUE(client.Open("GET", Url("abc", "redirect-loop")));
  client.Send(Value{}, 1000, 1000, 1000);
  EXPECT_EQ(302u, client.StatusCode());
  EXPECT_EQ(std::string::npos, client.GetResponseText().find("<a"));
  EXPECT_LE(engine_.RequestCount(), 32u);
}

TEST(ProxyUrlTest, ParsesOrSaysWhyWithoutTheCredentials) {
  const ProxyParse socks = ParseProxyUrl("socks5://u%40x:p%3Aw%25@[::1]:1080");
  ASSERT_TRUE(socks.proxy) << socks.error;
  EXPECT_EQ(ProxyUrl::Kind::kSocks5, socks.proxy->kind);
  EXPECT_EQ("u@x", socks.proxy->user);
  EXPECT_EQ("p:w%", socks.proxy->password);
  EXPECT_EQ("[::1]:1080", socks.proxy->Display());
  // Over WinINet a SOCKS5 proxy is refused, never silently gone round.
  const HttpIdentity::Made made = HttpIdentity::Create(socks.proxy);
#ifdef _WIN32
  EXPECT_FALSE(made.identity);
  EXPECT_EQ("proxy [::1]:1080: SOCKS5 proxies need the Linux build; use an http:// proxy here", made.error);
#else
  EXPECT_TRUE(made.identity) << made.error;
#endif
  const ProxyParse http = ParseProxyUrl("http://proxy.example:3128/");
  ASSERT_TRUE(http.proxy) << http.error;
  EXPECT_EQ("proxy.example:3128", http.proxy->Display());
  EXPECT_FALSE(http.proxy->HasCredentials());
  for (const std::string bad :
       {"proxy:3128", "https://secret:word@h:1", "http://secret:word@h", "http://secret:word@h:0",
        "http://secret:word@h:65536", "http://secret:word@h:1x", "socks5://secret:word@h:1/path",
        "http://secret:word@[::1:1", "http://secret:w%zz@h:1", "http://:word@h:1", "http://secret:word@h b:1"}) {
    const ProxyParse parsed = ParseProxyUrl(bad);
    EXPECT_FALSE(parsed.proxy) << bad;
    EXPECT_THAT(parsed.error, ::testing::StartsWith("proxy URL: ")) << bad;
    EXPECT_THAT(parsed.error, ::testing::Not(HasSubstr("secret"))) << bad;
  }
}

// Real proxies in front of the engine: an HTTP proxy whose connections to
// the engine leave from 127.0.0.2, and a SOCKS5 one from 127.0.0.3, both
// with a user and password. The engine's statistics tell each address and
// cookie apart.
class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (proxies_.Absent()) GTEST_SKIP() << proxies_.Error();
    ASSERT_EQ("", proxies_.Error());
    ASSERT_GT(engine_.Start(), 0);
  }

  static std::shared_ptr<HttpIdentity> Through(const std::string& url) {
    const ProxyParse parsed = ParseProxyUrl(url);
    EXPECT_TRUE(parsed.proxy) << parsed.error;
    HttpIdentity::Made made = HttpIdentity::Create(parsed.proxy);
    EXPECT_TRUE(made.identity) << made.error;
    return made.identity;
  }
  // The body and status of a search through `identity` (none: the default).
  std::pair<std::string, std::uint32_t> Fetch(const std::shared_ptr<HttpIdentity>& identity,
                                              const std::string& target = "/s?wd=abc") {
    HttpClient client;
    client.SetIdentity(identity);
    EXPECT_TRUE(client.Open("GET", engine_.BaseUrl() + target));
    EXPECT_TRUE(client.Send(Value{}, 5000, 5000, 5000)) << client.LastError();
    return {client.GetResponseText(), client.StatusCode()};
  }

  testing::Proxies proxies_{{.socks = true}};
  OfflineEngine engine_{EngineOptions{.policy = EnginePolicy{.rate = 1000, .burst = 1000}, .blockFrom = {}}};
};

// Each identity reaches the engine from its own address and keeps its own
// cookie, on whichever thread its clients run; the default client keeps the
// process's store, direct.
TEST_F(ProxyTest, EachIdentityHasItsRouteAndItsCookies) {
  std::vector<std::shared_ptr<HttpIdentity>> identities{nullptr, HttpIdentity::Create().identity,
                                                        Through(proxies_.Url(0))};
#ifndef _WIN32
  identities.push_back(Through(proxies_.SocksUrl()));
#endif
  const Text page = OfflineEngine::PageFor("abc", {}, EngineFault::kNone);
  for (const auto& identity : identities) {
    SCOPED_TRACE(identity ? identity->Display() : "default");
    EXPECT_EQ(page, Fetch(identity).first);
    std::thread([&] { EXPECT_EQ(page, Fetch(identity).first); }).join();  // another client, another thread
  }
  // The first request of each pair gets its cookie (numbered after the
  // request), the second sends it back.
  std::string expected =
      "requests " + std::to_string(2 * identities.size()) +
      "\nidentity 127.0.0.1 - pages 2 verification 0 blocks 0\n"
      "identity 127.0.0.1 1 pages 1 verification 0 blocks 0\nidentity 127.0.0.1 3 pages 1 verification 0 blocks 0\n"
      "identity 127.0.0.2 - pages 1 verification 0 blocks 0\nidentity 127.0.0.2 5 pages 1 verification 0 blocks 0\n";
#ifndef _WIN32
  expected +=
      "identity 127.0.0.3 - pages 1 verification 0 blocks 0\nidentity 127.0.0.3 7 pages 1 verification 0 blocks 0\n";
#endif
  EXPECT_EQ(expected, Fetch(nullptr, "/stats").first);
}

// A proxy that refuses the credentials, is not there, says nothing or
// answers garbage: Send fails within the connect time-out, and says why
// without the password.
TEST_F(ProxyTest, FailuresSayWhyWithoutTheCredentials) {
  testing::RawServer silent([](const std::string&, int) { return std::string("hang"); });
  testing::RawServer garbage([](const std::string&, int) { return std::string("\x01\x02garbage\r\n\r\n"); });
  const int dead = testing::Listener().Port();
  const auto Url = [](const char* scheme, int port, const char* password = testing::Proxies::kPassword) {
    return testing::Proxies::UrlFor(scheme, port, password);
  };
  const struct {
    std::string proxy, error;
  } table[] = {
      {Url("http", proxies_.Port(0), "wrong"), "refused the user name or password (401)"},
#ifdef _WIN32
      {Url("http", dead), "no connection"},
#else
      {Url("socks5", proxies_.SocksPort(), "wrong"), "refused the user name or password"},
      {Url("socks5", dead), "no connection"},
      {Url("socks5", silent.Port()), "no answer within the time-out"},
      {Url("http", garbage.Port()), "no HTTP answer"},
      {Url("http", proxies_.SocksPort()), "no HTTP answer"},  // a SOCKS5 proxy spoken to as HTTP
#endif
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.proxy);
    HttpClient client;
    client.SetIdentity(Through(row.proxy));
    ASSERT_TRUE(client.Open("GET", engine_.BaseUrl() + "/s?wd=abc"));
    const auto start = Clock::now();
    EXPECT_FALSE(client.Send(Value{}, 700, 10000, 10000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_THAT(client.LastError(), ::testing::StartsWith("proxy 127.0.0.1:"));
    EXPECT_THAT(client.LastError(), HasSubstr(row.error));
    EXPECT_THAT(client.LastError(),
                ::testing::Not(::testing::AnyOf(HasSubstr(testing::Proxies::kUser), HasSubstr("wrong"))));
  }
  EXPECT_EQ(0u, engine_.RequestCount());
}

// A run-time error exits with -1: the shell sees 255, Windows the code itself.
// Its text goes to a redirected standard error in UTF-8 on POSIX, in the ANSI
// code page (GBK under the tests' Chinese locale) on Windows.
#ifdef _WIN32
constexpr int kRuntimeErrorExit = -1;
const std::string kCrossThreadUse = Utf8ToGbk("WEB客户不能跨线程使用。");
#else
constexpr int kRuntimeErrorExit = 255;
const std::string kCrossThreadUse = "WEB客户不能跨线程使用。";
#endif

TEST(HttpClientDeathTest, UseFromAnotherThreadEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  InstallRuntimeSupport();  // as every program does at start
  EXPECT_EXIT(
      {
        HttpClient client;
        std::thread([&] { client.Open("GET", "http://127.0.0.1:9/"); }).join();
      },
      ::testing::ExitedWithCode(kRuntimeErrorExit), HasSubstr(kCrossThreadUse));
  EXPECT_EXIT(
      {
        HttpClient client;
        std::thread([&] { client.Send(); }).join();
      },
      ::testing::ExitedWithCode(kRuntimeErrorExit), HasSubstr(kCrossThreadUse));
}

}  // namespace
}  // namespace kelvarn

namespace kelvarn {
namespace {

// The model of the real engine's limit: a bucket for each identity, a block
// that every request during it prolongs, and less for a client without the
// engine's cookie.
TEST(EnginePolicyTest, EachIdentityHasItsBucketAndItsBlock) {
  for (const char* bad : {"rate=4,burst=0", "rate=-1", "speed=4", "rate=4,burst", "rate=x"}) {
    EXPECT_FALSE(ParseEnginePolicy(bad)) << bad;
  }
  const std::optional<EnginePolicy> policy = ParseEnginePolicy("rate=2,burst=3,penalty=10,cookieless=0.5");
  ASSERT_TRUE(policy);
  EngineLimits limits(*policy);
  using std::chrono::seconds;
  const auto t0 = EngineLimits::Clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(limits.Admit("a 1", true, t0));
  EXPECT_FALSE(limits.Admit("a 1", true, t0));                // dry: blocked until 10 s
  EXPECT_TRUE(limits.Admit("b 1", true, t0));                 // another identity goes on
  EXPECT_FALSE(limits.Admit("a 1", true, t0 + seconds(9)));   // asked during the block: until 19 s
  EXPECT_FALSE(limits.Admit("a 1", true, t0 + seconds(18)));  // and again: until 28 s
  EXPECT_TRUE(limits.Admit("a 1", true, t0 + seconds(29)));
  EXPECT_TRUE(limits.Admit("c -", false, t0));  // a bucket of 1.5 without the cookie
  EXPECT_FALSE(limits.Admit("c -", false, t0));
  EXPECT_EQ(
      "identity a 1 pages 4 verification 3 blocks 1\n"
      "identity b 1 pages 1 verification 0 blocks 0\n"
      "identity c - pages 1 verification 1 blocks 1\n",
      limits.Report());
}

}  // namespace
}  // namespace kelvarn
