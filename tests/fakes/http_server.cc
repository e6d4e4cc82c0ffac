#include "fakes/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace quorvel::testing {
namespace {

// The request's head, or "" when no whole head came in time.
std::string read_request_head(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd fd{connection, POLLIN, 0};
    if (poll(&fd, 1, 5000) <= 0) return "";
    ssize_t got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return "";
    head.append(buffer, static_cast<std::size_t>(got));
  }
  return head;
}

// The path a request head asks for.
std::string request_path(const std::string& head) {
  std::size_t start = head.find(' ');
  std::size_t end = head.find(' ', start + 1);
  if (start == std::string::npos || end == std::string::npos) return "";
  return head.substr(start + 1, end - start - 1);
}

}  // namespace

LocalSocket::LocalSocket() {
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

LocalSocket::~LocalSocket() { close(fd_); }

TestHttpServer::TestHttpServer(std::map<std::string, Route> routes, std::string authorization)
    : routes_(std::move(routes)), authorization_(std::move(authorization)) {
  if (listen(socket_.fd(), 8) != 0 || pipe(wake_) != 0) {
    throw std::runtime_error("cannot start the test server");
  }
  thread_ = std::thread([this] { serve(); });
}

TestHttpServer::~TestHttpServer() {
  char stop = 's';
  ssize_t ignored = write(wake_[1], &stop, 1);
  (void)ignored;
  thread_.join();
  for (int fd : held_) close(fd);
  close(wake_[0]);
  close(wake_[1]);
}

void TestHttpServer::serve() {
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

void TestHttpServer::answer(int connection) {
  const std::string head = read_request_head(connection);
  auto route = routes_.find(request_path(head));
  if (route != routes_.end() && route->second.never_answer) {
    held_.push_back(connection);
    return;
  }
  Route reply = route != routes_.end() ? route->second : Route{404, "no such document", true};
  if (!authorization_.empty() &&
      head.find("\r\nAuthorization: " + authorization_ + "\r\n") == std::string::npos) {
    reply = Route{401, "who are you?", true};
  }
  const char* reason = reply.status == 200 ? " OK" : reply.status == 401 ? " Unauthorized" : " Not Found";
  std::string text = "HTTP/1.1 " + std::to_string(reply.status) + reason +
                     "\r\nContent-Type: text/xml\r\nConnection: close\r\n";
  if (reply.declare_length) text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  text += reply.extra_head;
  text += "\r\n";
  send_text(connection, text, 0);
  send_text(connection, reply.body, reply.drip_ms);
  shutdown(connection, SHUT_WR);
  close(connection);
}

void TestHttpServer::send_text(int connection, const std::string& text, int drip_ms) {
  // The client may hang up early (a body over its bound, a deadline):
  // stop quietly.
  for (std::size_t sent = 0; sent < text.size();) {
    std::size_t size = text.size() - sent;
    if (drip_ms > 0) {
      pollfd stop{wake_[0], POLLIN, 0};
      if (poll(&stop, 1, drip_ms) != 0) return;
      size = 1;
    }
    ssize_t n = send(connection, text.data() + sent, size, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace quorvel::testing
