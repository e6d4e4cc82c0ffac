// The real program loading documents over http from a server on 127.0.0.1
// that the test starts and stops itself.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::run_quorvel;
using testing::source_dir;
using testing::TempDir;

// A socket bound to a free port of 127.0.0.1; closed with the object.
class LocalSocket {
 public:
  LocalSocket() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close(fd_);
      throw std::runtime_error("bind failed");
    }
    port_ = ntohs(address.sin_port);
  }
  ~LocalSocket() { close(fd_); }
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

struct Route {
  int status = 200;
  std::string body;
  bool declare_length = true;  // else the body ends when the connection closes
  bool never_answer = false;   // read the request, then say nothing
};

// A one-thread HTTP server that answers each request from a fixed table.
// Connections that never get an answer stay open until the server stops.
class TestHttpServer {
 public:
  explicit TestHttpServer(std::map<std::string, Route> routes) : routes_(std::move(routes)) {
    if (listen(socket_.fd(), 8) != 0 || pipe(wake_) != 0) {
      throw std::runtime_error("cannot start the test server");
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~TestHttpServer() {
    char stop = 's';
    ssize_t ignored = write(wake_[1], &stop, 1);
    (void)ignored;
    thread_.join();
    for (int fd : held_) close(fd);
    close(wake_[0]);
    close(wake_[1]);
  }
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  std::string url(const std::string& path) const { return socket_.url(path); }

 private:
  void serve() {
    for (;;) {
      pollfd fds[2] = {{socket_.fd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      if (fds[0].revents & POLLIN) {
        int connection = accept(socket_.fd(), nullptr, nullptr);
        if (connection >= 0) answer(connection);
      }
    }
  }

  // The request's path, or "" when no whole request head came in time.
  static std::string read_request_path(int connection) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd fd{connection, POLLIN, 0};
      if (poll(&fd, 1, 5000) <= 0) return "";
      ssize_t got = recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) return "";
      head.append(buffer, static_cast<std::size_t>(got));
    }
    std::size_t start = head.find(' ');
    std::size_t end = head.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) return "";
    return head.substr(start + 1, end - start - 1);
  }

  void answer(int connection) {
    auto route = routes_.find(read_request_path(connection));
    if (route != routes_.end() && route->second.never_answer) {
      held_.push_back(connection);
      return;
    }
    Route reply = route != routes_.end() ? route->second : Route{404, "no such document", true};
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) +
                       (reply.status == 200 ? " OK" : " Not Found") +
                       "\r\nContent-Type: text/xml\r\nConnection: close\r\n";
    if (reply.declare_length) text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    text += "\r\n" + reply.body;
    // The client may hang up early (a body over its bound): stop quietly.
    for (std::size_t sent = 0; sent < text.size();) {
      ssize_t n = send(connection, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    shutdown(connection, SHUT_WR);
    close(connection);
  }

  std::map<std::string, Route> routes_;
  LocalSocket socket_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::vector<int> held_;
};

const char* const kLoaded = "XML document loaded successfully\n";
const char* const kDownloading = "Downloading XML document URL\n";
const char* const kNotFound = "File not found error.";

class LoadHttpTest : public testing::SimDeviceFixture {
 protected:
  void SetUp() override {
    SimDeviceFixture::SetUp();
    // The server is local: no proxy may stand in between.
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                              "all_proxy", "ALL_PROXY"}) {
      env_[proxy] = "";
    }
    env_["QUORVEL_FETCH_TIMEOUT"] = "";
    env_["QUORVEL_FETCH_MAX_BYTES"] = "";
  }
};

TEST_F(LoadHttpTest, DocumentLoadsOnEveryPath) {
  TestHttpServer server({{"/mixer.xml", {200, read_file(source_dir() / "examples" / "soundcard.xml")}}});
  const std::string url = server.url("/mixer.xml");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-t", url}, kLoaded},
      {{"-t", "-url", url}, std::string(kDownloading) + kLoaded},
      {{"-t", "-local", url}, kLoaded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ProgramResult result = run(c.args);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_code, 0);
    // The root and the first destination of the served document.
    EXPECT_NE(result.out.find("\n0'2'\n\n-65536'2'6'4'\n"), std::string::npos) << result.out;
  }
}

TEST_F(LoadHttpTest, SyntaxErrorNamesTheUrl) {
  TestHttpServer server({{"/bad.xml", {200, "<a>\n<b>\n<c x=1/></b></a>"}}});
  const std::string url = server.url("/bad.xml");
  ProgramResult result = run({"-url", url});
  EXPECT_EQ(result.err, std::string(kDownloading) + "An attribute is malformed.\n" +
                            "Error on line 3, position 6 in \"" + url + "\".\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, NotFoundNamesTheStatus) {
  TestHttpServer server({});
  const std::string url = server.url("/missing.xml");

  ProgramResult plain = run({"-url", url});
  EXPECT_EQ(plain.err, std::string(kDownloading) + "Cannot download \"" + url +
                           "\": the server answered with HTTP status 404.\n" + kNotFound);
  EXPECT_EQ(plain.exit_code, 1);

  ProgramResult local = run({"-t", "-local", url});
  EXPECT_EQ(local.err, kNotFound);
  EXPECT_EQ(local.out, "");
  EXPECT_EQ(local.exit_code, 1);
}

TEST_F(LoadHttpTest, RefusedConnectionIsReported) {
  LocalSocket not_listening;  // bound, so the port stays ours, but refusing
  const std::string url = not_listening.url("/mixer.xml");
  ProgramResult result = run({url});
  EXPECT_EQ(result.err,
            "Cannot download \"" + url + "\": could not connect to the server.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, ServerThatNeverAnswersIsGivenUpOn) {
  TestHttpServer server({{"/silent.xml", {200, "", true, true}}});
  const std::string url = server.url("/silent.xml");
  env_["QUORVEL_FETCH_TIMEOUT"] = "1";
  ProgramResult result = run({"-url", url});
  EXPECT_EQ(result.err, std::string(kDownloading) + "Cannot download \"" + url +
                            "\": no answer from the server within 1 second.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, BodyOverTheBoundIsRefused) {
  std::string body = "<audio_mixer id=\"0\"><!--" + std::string(5000, 'x') + "--></audio_mixer>";
  TestHttpServer server({{"/declared.xml", {200, body, true}}, {"/streamed.xml", {200, body, false}}});
  env_["QUORVEL_FETCH_MAX_BYTES"] = "1000";
  for (const char* path : {"/declared.xml", "/streamed.xml"}) {
    SCOPED_TRACE(path);
    const std::string url = server.url(path);
    ProgramResult result = run({url});
    EXPECT_EQ(result.err, "Cannot download \"" + url +
                              "\": the document is larger than 1000 bytes.\n" + kNotFound);
    EXPECT_EQ(result.exit_code, 1);
  }
  // The same body loads under the default bound.
  env_["QUORVEL_FETCH_MAX_BYTES"] = "";
  ProgramResult result = run({server.url("/streamed.xml")});
  EXPECT_EQ(result.err, kLoaded);
}

}  // namespace
}  // namespace quorvel
