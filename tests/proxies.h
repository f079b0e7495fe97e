// Real proxies for the suites that send through them: tinyproxy instances
// whose connections leave from addresses of their own (127.0.0.2, 127.0.0.3,
// …), so that a server on 127.0.0.1 (the offline engine's /stats) tells them
// apart, and optionally a microsocks from the next address. All listen on
// 127.0.0.1, each on a free port.
//
//   testing::Proxies proxies({.http = 2, .socks = true});
//   ASSERT_EQ("", proxies.Error());
//   ... ParseProxyUrl(proxies.Url(0)) ...  // from proxies.From(0) == "127.0.0.2"
//   proxies.Kill(1);                       // nothing answers at Url(1) any more
//
// On Windows the tests run under Wine, which cannot start a Linux program:
// one tinyproxy comes from the test's script (proxy_wine_test.sh), its port
// in KELVARN_TEST_HTTP_PROXY; no microsocks, as WinINet refuses SOCKS5
// anyway. Without that variable Absent() is true and the test should skip.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/raw_server.h"
#endif

namespace kelvarn::testing {

class Proxies {
 public:
  static constexpr const char *kUser = "kelvarn", *kPassword = "pa55-w.rd";

  struct Options {
    int http = 1;             // tinyproxy instances
    bool socks = false;       // a microsocks after them
    bool credentials = true;  // each asks for kUser and kPassword
  };

  // Starts them and returns once each listens, or Error() says which did not.
  explicit Proxies(Options options) : options_(options) {
#ifdef _WIN32
    const char* port = std::getenv("KELVARN_TEST_HTTP_PROXY");
    if (!port) {
      error_ = "KELVARN_TEST_HTTP_PROXY names no proxy (tests/proxy_wine_test.sh gives one)";
    } else if (options.http != 1 || !options.credentials) {
      error_ = "under Wine there is one tinyproxy, with credentials";
    } else {
      ports_.push_back(std::atoi(port));
    }
#else
    for (const char* program : {"/usr/bin/tinyproxy", "/usr/bin/microsocks"}) {
      if (!std::filesystem::exists(program)) {
        error_ = std::string(program) + " is missing: scripts/setup installs tinyproxy and microsocks";
        return;
      }
    }
    std::string dir = (std::filesystem::temp_directory_path() / "kelvarn-proxies-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
      error_ = "no temporary directory for the proxies' configuration";
      return;
    }
    dir_ = dir;
    for (int i = 0; i < options.http; ++i) {
      ports_.push_back(FreePort());
      const std::string conf = dir_ + "/tinyproxy-" + std::to_string(i) + ".conf";
      std::ofstream(conf) << "Port " << ports_.back() << "\nListen 127.0.0.1\nBind " << From(ports_.size() - 1)
                          << "\nAllow 127.0.0.1\nTimeout 30\nLogLevel Critical\nMaxClients 16\n"
                          << (options.credentials ? std::string("BasicAuth ") + kUser + " " + kPassword + "\n" : "");
      pids_.push_back(Start({"/usr/bin/tinyproxy", "-d", "-c", conf}));
    }
    if (options.socks) {
      socksPort_ = FreePort();
      const std::string port = std::to_string(socksPort_);
      std::vector<std::string> args{"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", port, "-b", SocksFrom()};
      if (options.credentials) args.insert(args.end(), {"-u", kUser, "-P", kPassword});
      pids_.push_back(Start(args));
    }
    for (std::size_t i = 0; i < pids_.size() && error_.empty(); ++i) {
      const bool socks = i == ports_.size();
      const int port = socks ? socksPort_ : ports_[i];
      if (!Listening(port, pids_[i])) {
        error_ = std::string(socks ? "microsocks" : "tinyproxy") + " did not start on port " + std::to_string(port);
      }
    }
#endif
  }
  ~Proxies() {
#ifndef _WIN32
    for (std::size_t i = 0; i < pids_.size(); ++i) Kill(i);
    for (const int fd : held_) ::close(fd);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
#endif
  }
  Proxies(const Proxies&) = delete;
  Proxies& operator=(const Proxies&) = delete;

  // Why the proxies are not all listening; "" when they are.
  const std::string& Error() const { return error_; }
  // True only under Wine when the script gave no proxy: skip, do not fail.
  bool Absent() const {
#ifdef _WIN32
    return !std::getenv("KELVARN_TEST_HTTP_PROXY");
#else
    return false;
#endif
  }

  // The URL of tinyproxy `i`, with the credentials when it asks for them.
  std::string Url(std::size_t i) const {
    return options_.credentials ? UrlFor("http", Port(i)) : "http://127.0.0.1:" + std::to_string(Port(i));
  }
  std::string SocksUrl() const {
    return options_.credentials ? UrlFor("socks5", socksPort_) : "socks5://127.0.0.1:" + std::to_string(socksPort_);
  }
  // Any proxy URL on 127.0.0.1 with kUser and `password`.
  static std::string UrlFor(std::string_view scheme, int port, std::string_view password = kPassword) {
    return std::string(scheme) + "://" + kUser + ":" + std::string(password) + "@127.0.0.1:" + std::to_string(port);
  }
  int Port(std::size_t i) const { return ports_.at(i); }
  int SocksPort() const { return socksPort_; }
  // The address the server sees requests through tinyproxy `i` come from.
  static std::string From(std::size_t i) { return "127.0.0." + std::to_string(2 + i); }
  std::string SocksFrom() const { return "127.0.0." + std::to_string(2 + ports_.size()); }

#ifndef _WIN32
  // Stops proxy `i` (0 to http-1 the tinyproxy instances, http microsocks)
  // and waits for its end: its port refuses connections from then on. Not
  // under Wine, where the proxy is the script's.
  void Kill(std::size_t i) {
    if (i >= pids_.size() || pids_[i] <= 0) return;
    ::kill(pids_[i], SIGTERM);
    ::waitpid(pids_[i], nullptr, 0);
    pids_[i] = 0;
    // The port stays the dead proxy's: bound, never listening, so that it
    // refuses every connection and no server of a test running beside
    // this one can take it and answer in the dead proxy's place.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool socks = i == ports_.size();
    addr.sin_port = htons(static_cast<std::uint16_t>(socks ? socksPort_ : ports_[i]));
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      held_.push_back(fd);
    } else if (fd >= 0) {
      ::close(fd);
    }
  }
#endif

 private:
#ifndef _WIN32
  static int FreePort() { return Listener().Port(); }
  static pid_t Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
  }
  // Whether `pid` listens on `port` within 5 s; false at once when it ended
  // (then `pid` is 0: nothing left to stop).
  static bool Listening(int port, pid_t& pid) {
    for (int i = 0; i < 500 && pid > 0; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) != 0) {
        pid = 0;
        break;
      }
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(static_cast<std::uint16_t>(port));
      const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      if (open) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string dir_;
  std::vector<pid_t> pids_;
  std::vector<int> held_;  // the ports of proxies killed
#endif
  Options options_;
  std::vector<int> ports_;
  int socksPort_ = 0;
  std::string error_;
};

}  // namespace kelvarn::testing
