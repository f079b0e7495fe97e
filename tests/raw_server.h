// A one-purpose HTTP server on 127.0.0.1 for client tests: it records each
// request exactly as received and answers with whatever the test says.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvarn::testing {

// A listening socket on 127.0.0.1 and the stop flag of the server on it.
class Listener {
 public:
  Listener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listener_, 64) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
      port_ = ntohs(addr.sin_port);
    }
  }
  ~Listener() { ::close(listener_); }

  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 protected:
  // Waits until `fd` is readable; false once the server stops.
  bool WaitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
};

class RawServer : public Listener {
 public:
  // Returns the bytes to answer a request with; an empty answer closes the
  // connection without a word, and "hang" keeps it open until the server stops.
  using Responder = std::function<std::string(const std::string& request, int index)>;

  explicit RawServer(Responder responder) : responder_(std::move(responder)) {
    if (port_ > 0) thread_ = std::thread([this] { Serve(); });
  }

  ~RawServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // Header lines of request `index`, request line first, without line ends.
  std::vector<std::string> Lines(std::size_t index = 0) const {
    const auto all = Requests();
    std::vector<std::string> lines;
    if (index >= all.size()) return lines;
    const std::string& r = all[index];
    const std::size_t end = r.find("\r\n\r\n");
    for (std::size_t p = 0; p < end;) {
      const std::size_t e = r.find("\r\n", p);
      lines.push_back(r.substr(p, e - p));
      p = e + 2;
    }
    return lines;
  }

  std::string Body(std::size_t index = 0) const {
    const auto all = Requests();
    return index < all.size() ? all[index].substr(all[index].find("\r\n\r\n") + 4) : std::string();
  }

 private:
  void Serve() {
    for (int index = 0; WaitReadable(listener_); ++index) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::string request;
      char buffer[4096];
      std::size_t need = std::string::npos;
      while (need == std::string::npos || request.size() < need) {
        if (!WaitReadable(fd)) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos && need == std::string::npos) {
          std::size_t length = 0;
          const std::size_t at = request.find("Content-Length: ");
          if (at != std::string::npos && at < end) length = std::stoul(request.substr(at + 16));
          need = end + 4 + length;
        }
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const std::string answer = responder_(request, index);
      if (answer == "hang") {
        while (WaitReadable(fd)) {
          if (::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
        }
      } else if (!answer.empty()) {
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
      ::close(fd);
    }
  }

  Responder responder_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A keep-alive server on 127.0.0.1 with a thread per connection. Each
// request's answer comes as pieces sent 2 ms apart, and the connection stays
// open for the next request: a server can so leave bytes on a connection
// that nobody asked for.
class KeepAliveServer : public Listener {
 public:
  // The pieces to answer the request with `target` (e.g. "/s?wd=a").
  using Responder = std::function<std::vector<std::string>(const std::string& target)>;

  explicit KeepAliveServer(Responder responder) : responder_(std::move(responder)) {
    if (port_ > 0) thread_ = std::thread([this] { Accept(); });
  }

  ~KeepAliveServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (std::thread& t : connections_) t.join();
  }

  int Connections() const { return connectionCount_.load(); }
  int Requests() const { return requestCount_.load(); }

 private:
  void Accept() {
    while (WaitReadable(listener_)) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connectionCount_;
      connections_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    std::string pending;
    char buffer[4096];
    while (WaitReadable(fd)) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos;) {
        const std::size_t from = pending.find(' ') + 1;
        const std::string target = pending.substr(from, pending.find(' ', from) - from);
        pending.erase(0, end + 4);
        ++requestCount_;
        bool first = true;
        for (const std::string& piece : responder_(target)) {
          if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          first = false;
          if (stop_ || ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
        }
      }
    }
    ::close(fd);
  }

  Responder responder_;
  std::atomic<int> connectionCount_{0}, requestCount_{0};
  std::vector<std::thread> connections_;  // the accepting thread's own
  std::thread thread_;
};

// A complete response with a body and Connection: close.
inline std::string Response(const std::string& body, const std::string& extraHeaders = "",
                            const std::string& status = "200 OK") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders +
         "Connection: close\r\n\r\n" + body;
}

}  // namespace kelvarn::testing
