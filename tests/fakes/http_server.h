// A one-thread HTTP server on 127.0.0.1 for the tests that fetch documents:
// it answers each request from a fixed table of routes, and can hold a
// connection open without answering or drip an answer a byte at a time.
#pragma once

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::testing {

struct Route {
  int status = 200;
  std::string body;
  bool declare_length = true;  // else the body ends when the connection closes
  bool never_answer = false;   // read the request, then say nothing
  int drip_ms = 0;             // > 0: the head at once, then the body a byte at a time
                               // with this pause before each byte
  std::string extra_head{};    // header lines sent after the usual ones, each ending "\r\n"
};

// A socket bound to a free port of 127.0.0.1; closed with the object.
class LocalSocket {
 public:
  LocalSocket();
  ~LocalSocket();
  LocalSocket(const LocalSocket&) = delete;
  LocalSocket& operator=(const LocalSocket&) = delete;
  int fd() const { return fd_; }
  int port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Serves `routes` (by request path; others get 404) until destroyed.
// Connections that never get an answer stay open until the server stops.
// With an `authorization`, a request without that Authorization header is
// answered 401.
class TestHttpServer {
 public:
  explicit TestHttpServer(std::map<std::string, Route> routes, std::string authorization = "");
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  std::string url(const std::string& path) const { return socket_.url(path); }

 private:
  void serve();
  void answer(int connection);
  // Sends `text` to the connection, a byte at a time after a pause of
  // `drip_ms` when that is positive; stops when the client hangs up or the
  // server is stopped.
  void send_text(int connection, const std::string& text, int drip_ms);

  std::map<std::string, Route> routes_;
  std::string authorization_;
  LocalSocket socket_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::vector<int> held_;
};

}  // namespace quorvel::testing
