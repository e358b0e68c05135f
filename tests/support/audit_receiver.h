#pragma once
// Audit record repositories for the tests, on loopback with a port the system
// picks: UDP (RFC 5426, a datagram a message) and, where the test links
// OpenSSL (AUDIT_RECEIVER_TLS), TLS (RFC 5425, octet-counted frames), which
// can also refuse connections or take them and never handshake. What arrives
// is taken apart (audit_record.h).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audit_record.h"

#ifdef AUDIT_RECEIVER_TLS
#include <openssl/ssl.h>
#endif

namespace morvanta::test {

class Receiver {
 public:
  ~Receiver() { Stop(); }
  int port() const { return port_; }
  // Waits (at most `ms`) until `n` messages have come; false when not.
  bool WaitFor(std::size_t n, int ms = 20000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return messages_.size() >= n; });
  }
  std::vector<AuditRecord> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {messages_.begin(), messages_.end()};
  }

 protected:
  void Listen(int type) {
    fd_ = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (type == SOCK_STREAM) ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  // Readable within 50 ms, so that the loop sees `stop_`.
  static bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 50) > 0;
  }
  void Add(std::string message) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(message));
    arrived_.notify_all();
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::atomic<bool> stop_{false};
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> messages_;
};

class UdpReceiver : public Receiver {
 public:
  UdpReceiver() {
    Listen(SOCK_DGRAM);
    thread_ = std::thread([this] {
      std::string buffer(70000, '\0');
      while (!stop_) {
        const ssize_t got = Readable(fd_) ? ::recv(fd_, buffer.data(), buffer.size(), 0) : 0;
        if (got > 0) Add(buffer.substr(0, static_cast<std::size_t>(got)));
      }
    });
  }
};

#ifdef AUDIT_RECEIVER_TLS
class TlsReceiver : public Receiver {
 public:
  // Silent: takes the connection, never handshakes; OneEach: ends each
  // connection after a message, as a repository ends an idle one.
  enum class Mode { Serve, OneEach, Refuse, Silent };
  // `certificate`: the path of its .pem and .key without the extension.
  TlsReceiver(const std::string& certificate, Mode mode) : mode_(mode) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx_, (certificate + ".pem").c_str());
    SSL_CTX_use_PrivateKey_file(ctx_, (certificate + ".key").c_str(), SSL_FILETYPE_PEM);
    Listen(SOCK_STREAM);
    thread_ = std::thread([this] { Run(); });
  }
  ~TlsReceiver() {
    Stop();
    for (int c : held_) ::close(c);
    SSL_CTX_free(ctx_);
  }
  void SetMode(Mode mode) { mode_ = mode; }
  int Accepted() const { return accepted_; }

 private:
  void Run() {
    while (!stop_) {
      const int c = Readable(fd_) ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
      if (c < 0) continue;
      ++accepted_;
      if (mode_ == Mode::Silent) {
        held_.push_back(c);
        continue;
      }
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, c);
      if (mode_ != Mode::Refuse && SSL_accept(ssl) == 1) Serve(ssl, c);
      SSL_free(ssl);
      ::close(c);
    }
  }
  void Serve(SSL* ssl, int c) {
    std::string pending;
    char buffer[4096];
    while (!stop_) {
      if (SSL_pending(ssl) == 0 && !Readable(c)) continue;
      const int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got <= 0) return;
      pending.append(buffer, static_cast<std::size_t>(got));
      // MSG-LEN SP SYSLOG-MSG
      for (auto space = pending.find(' '); space != std::string::npos; space = pending.find(' ')) {
        const std::size_t length = std::stoul(pending.substr(0, space));
        if (pending.size() < space + 1 + length) break;
        const std::string message = pending.substr(space + 1, length);
        pending.erase(0, space + 1 + length);
        if (mode_ == Mode::OneEach) SSL_shutdown(ssl);  // before the message is counted
        Add(message);
        if (mode_ == Mode::OneEach) return;
      }
    }
  }

  std::atomic<Mode> mode_;
  SSL_CTX* ctx_ = nullptr;
  std::atomic<int> accepted_{0};
  std::vector<int> held_;
};
#endif

}  // namespace morvanta::test
