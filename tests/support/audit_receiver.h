#pragma once
// Audit record repositories for the tests, on loopback with a port the system
// picks: one for RFC 5426 (a UDP datagram a message) and, where the test
// links OpenSSL (AUDIT_RECEIVER_TLS), one for RFC 5425 (TLS, octet-counted
// frames) that can also take connections and then say nothing. What arrives
// is parsed: the RFC 5424 header and structured data, the XML after the
// byte-order mark, read with QXmlStreamReader.

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef AUDIT_RECEIVER_TLS
#include <openssl/ssl.h>
#endif

namespace morvanta::test {

// One received message, taken apart.
struct AuditRecord {
  std::string raw;
  std::string header;  // up to the byte-order mark: PRI VERSION TIMESTAMP ... SD
  QByteArray xml;
  bool wellFormed = false;
  // Each element's attributes, by element name, in document order.
  std::multimap<QString, std::map<QString, QString>> elements;
  std::map<QString, QString> texts;  // the last text of each element that has one

  explicit AuditRecord(std::string message) : raw(std::move(message)) {
    const auto bom = raw.find("\xEF\xBB\xBF");
    header = raw.substr(0, bom);
    xml = QByteArray::fromStdString(bom == std::string::npos ? raw : raw.substr(bom + 3));
    QXmlStreamReader reader(xml);
    QString current;
    while (!reader.atEnd()) {
      reader.readNext();
      if (reader.isStartElement()) {
        current = reader.name().toString();
        std::map<QString, QString> attributes;
        for (const auto& a : reader.attributes()) attributes[a.name().toString()] = a.value().toString();
        elements.emplace(current, attributes);
      } else if (reader.isCharacters() && !reader.isWhitespace()) {
        texts[current] += reader.text().toString();
      }
    }
    wellFormed = !reader.hasError();
  }
  // The attribute of the first element of that name ("" when none).
  QString Attr(const QString& element, const QString& attribute) const {
    const auto it = elements.find(element);
    if (it == elements.end()) return {};
    const auto a = it->second.find(attribute);
    return a == it->second.end() ? QString() : a->second;
  }
  // Some element of that name has every attribute given.
  bool Has(const QString& element, const std::map<QString, QString>& attributes) const {
    const auto [first, last] = elements.equal_range(element);
    for (auto it = first; it != last; ++it) {
      bool all = true;
      for (const auto& [name, value] : attributes) {
        const auto a = it->second.find(name);
        all = all && a != it->second.end() && a->second == value;
      }
      if (all) return true;
    }
    return false;
  }
  int Count(const QString& element) const { return static_cast<int>(elements.count(element)); }
};

class ReceiverBase {
 public:
  int port() const { return port_; }
  // Waits (at most `ms`) until `n` messages have come; false when not.
  bool WaitFor(std::size_t n, int ms = 20000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return messages_.size() >= n; });
  }
  std::vector<AuditRecord> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<AuditRecord> out;
    for (const std::string& m : messages_) out.emplace_back(m);
    return out;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

 protected:
  int Listen(int type) {
    const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (type == SOCK_STREAM) ::listen(s, 8);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return s;
  }
  // Readable within 50 ms (so that the loop sees `stop_`).
  static bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 50) > 0;
  }
  void Add(std::string message) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(message));
    arrived_.notify_all();
  }

  std::atomic<bool> stop_{false};
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> messages_;
};

class UdpReceiver : public ReceiverBase {
 public:
  UdpReceiver() {
    fd_ = Listen(SOCK_DGRAM);
    thread_ = std::thread([this] {
      std::string buffer(70000, '\0');
      while (!stop_) {
        if (!Readable(fd_)) continue;
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (got > 0) Add(buffer.substr(0, static_cast<std::size_t>(got)));
      }
    });
  }
  ~UdpReceiver() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }

 private:
  int fd_ = -1;
  std::thread thread_;
};

#ifdef AUDIT_RECEIVER_TLS
class TlsReceiver : public ReceiverBase {
 public:
  enum class Mode {
    Serve,       // handshake, then read octet-counted messages
    Refuse,      // take the connection and close it at once
    Silent,      // take the connection and never read from it (no handshake)
  };
  TlsReceiver(const std::string& certificate, const std::string& key, Mode mode) : mode_(mode) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx_, certificate.c_str());
    SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM);
    fd_ = Listen(SOCK_STREAM);
    thread_ = std::thread([this] { Run(); });
  }
  ~TlsReceiver() {
    stop_ = true;
    thread_.join();
    for (int c : held_) ::close(c);
    ::close(fd_);
    SSL_CTX_free(ctx_);
  }
  void SetMode(Mode mode) { mode_ = mode; }
  // Ends the connection being served, as a repository ends an idle one.
  void DropConnection() { drop_ = true; }
  int Dropped() const { return dropped_; }
  // Connections taken so far.
  int Accepted() const { return accepted_; }

 private:
  void Run() {
    while (!stop_) {
      if (!Readable(fd_)) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ++accepted_;
      if (mode_ == Mode::Refuse) {
        ::close(c);
      } else if (mode_ == Mode::Silent) {
        held_.push_back(c);
      } else {
        Serve(c);
      }
    }
  }
  void Serve(int c) {
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, c);
    if (SSL_accept(ssl) == 1) {
      std::string pending;
      char buffer[4096];
      while (!stop_) {
        if (drop_.exchange(false)) {
          SSL_shutdown(ssl);
          ++dropped_;
          break;
        }
        if (SSL_pending(ssl) == 0 && !Readable(c)) continue;
        const int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        // MSG-LEN SP SYSLOG-MSG (RFC 5425 4.3.1)
        for (;;) {
          const auto space = pending.find(' ');
          if (space == std::string::npos) break;
          const std::size_t length = std::stoul(pending.substr(0, space));
          if (pending.size() < space + 1 + length) break;
          Add(pending.substr(space + 1, length));
          pending.erase(0, space + 1 + length);
        }
      }
    }
    SSL_free(ssl);
    ::close(c);
  }

  std::atomic<Mode> mode_;
  SSL_CTX* ctx_ = nullptr;
  int fd_ = -1;
  std::atomic<int> accepted_{0};
  std::atomic<bool> drop_{false};
  std::atomic<int> dropped_{0};
  std::vector<int> held_;
  std::thread thread_;
};
#endif

}  // namespace morvanta::test
