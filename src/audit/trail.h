#pragma once
// Where audit messages go: the system log (syslog(3), facility LOG_AUTHPRIV,
// one message per event) and, when Settings.ini names one, an audit record
// repository over TLS (RFC 5425) or UDP (RFC 5426) in RFC 5424 messages.
//
// Recording never waits for the network: a message for the repository waits
// in a bounded queue that one background thread empties. What the queue
// cannot hold is dropped and counted; the next message that reaches the
// repository carries the count. A repository that takes nothing is said once
// in Error.log (and again only after it took messages in between), and the
// end of the program waits for it at most the flush time.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "audit/message.h"
#include "dicom/tls.h"

namespace morvanta::audit {

enum class Transport { Tls, Udp };

struct Repository {
  std::string host;
  int port = 0;
  Transport transport = Transport::Tls;
  dicom::TlsSettings tls;  // the station's [TLS] files (enabled or not)
};

// [Audit] of Settings.ini: none when the section names no repository;
// `problem` set (and none) when a value cannot be used.
std::optional<Repository> ReadRepository(const std::filesystem::path& settingsFile, std::string* problem);

struct TrailOptions {
  bool syslog = true;
  std::optional<Repository> repository;
  std::size_t capacity = 1000;             // messages waiting for the repository
  int timeoutSeconds = 5;                  // connect, handshake, each write
  std::chrono::milliseconds retry{5000};   // after a failure, before the next try
  std::chrono::milliseconds flush{2000};   // at the end, for what still waits
  // A line for Error.log (number 1018), and one for Debug.log; called from
  // the background thread too.
  std::function<void(const std::string&)> reportError;
  std::function<void(const std::string&)> reportDebug;
};

class Trail {
 public:
  explicit Trail(TrailOptions options);
  // Sends what waits for at most the flush time, then stops; a repository
  // that hangs is cut off, never waited for.
  ~Trail();
  Trail(const Trail&) = delete;
  Trail& operator=(const Trail&) = delete;

  // Writes the message to the system log and queues it for the repository.
  // Any thread; never blocks on the network.
  void Record(const Message& message);

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread worker_;
};

// The trail the program records to; none (the default) records nothing.
// Main installs one for the run; tests install their own.
void Install(Trail* trail);
// Records to the installed trail, if any.
void Record(const Message& message);
bool Installed();

// The RFC 5424 message for `xml`: PRI (authpriv, notice or warning), time,
// host, "morvanta", process id, MSGID "IHE+RFC-3881", structured data
// (sequenceId, and the count of messages lost before it when not 0), then a
// byte-order mark and the XML.
std::string SyslogMessage(const std::string& xml, bool warning, std::chrono::system_clock::time_point time,
                          unsigned long sequence, unsigned long lost);

}  // namespace morvanta::audit
