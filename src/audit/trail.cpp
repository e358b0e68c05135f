#include "audit/trail.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "audit/events.h"
#include "audit/system.h"
#include "platform/process.h"
#include "config/schema.h"
#include "config/settings.h"
#include "dicom/dicom.h"
#include "dicom/tls_stream.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace morvanta::audit {

namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What RFC 5424 allows in HOSTNAME: printable US-ASCII, at most 255.
std::string Printable(std::string text) {
  for (char& c : text)
    if (c < 33 || c > 126) c = '_';
  if (text.empty()) text = "-";
  return text.substr(0, 255);
}

std::atomic<Trail*> installed{nullptr};

}  // namespace

std::optional<Repository> ReadRepository(const std::filesystem::path& settingsFile, std::string* problem) {
  const std::string address = Trimmed(ReadSetting(settingsFile, setting::kAuditRepository));
  const std::string transport = Trimmed(ReadSetting(settingsFile, setting::kAuditTransport));
  if (address.empty()) return std::nullopt;
  const auto fail = [&](std::string why) {
    if (problem != nullptr)
      *problem = std::move(why) + " Audit messages go to the system log only; correct [Audit] in Settings.ini.";
    return std::nullopt;
  };
  Repository repository;
  // host:port, or [IPv6 address]:port.
  std::string host;
  std::string port;
  if (address.front() == '[') {
    const auto close = address.find("]:");
    if (close == std::string::npos) return fail("[Audit] Repository \"" + address + "\" is not host:port.");
    host = address.substr(1, close - 1);
    port = address.substr(close + 2);
  } else {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0 || address.find(':') != colon)
      return fail("[Audit] Repository \"" + address + "\" is not host:port.");
    host = address.substr(0, colon);
    port = address.substr(colon + 1);
  }
  const auto number = ParseInt32(port);
  if (host.empty() || !number || *number < 1 || *number > 65535)
    return fail("[Audit] Repository \"" + address + "\" is not host:port (a port from 1 to 65535).");
  repository.host = host;
  repository.port = *number;
  const std::string kind = Lower(transport);
  if (kind.empty() || kind == "tls") repository.transport = Transport::Tls;
  else if (kind == "udp") repository.transport = Transport::Udp;
  else return fail("[Audit] Transport \"" + transport + "\" is neither TLS nor UDP.");
  if (repository.transport == Transport::Tls) {
    TlsValues tls;
    LoadTlsSettings(tls, settingsFile);
    repository.tls = {true, tls.CACertificates, tls.Certificate, tls.PrivateKey, {}, tls.CRL};
    if (tls.CACertificates.empty())
      return fail("[Audit] Transport=TLS needs [TLS] CACertificates to check the repository's certificate.");
  }
  return repository;
}

std::string SyslogMessage(const std::string& xml, bool warning, std::chrono::system_clock::time_point time,
                          unsigned long sequence, unsigned long lost) {
  // Facility 10 (authpriv), severity 5 (notice) or 4 (warning). 32473 is
  // the enterprise number set aside for examples (RFC 5612): the lost count
  // is ours, and needs an SD-ID of its own; sequenceId (RFC 5424 7.3.1)
  // lets a repository see the gap as well.
  std::string out = "<" + std::to_string(10 * 8 + (warning ? 4 : 5)) + ">1 " + XsDateTime(time) + " " +
                    Printable(HostName()) + " morvanta " + std::to_string(platform::ProcessId()) +
                    " IHE+RFC-3881 [meta sequenceId=\"" +
                    std::to_string(sequence % 2147483647UL + 1) + "\"]";
  if (lost > 0) out += "[lost@32473 count=\"" + std::to_string(lost) + "\"]";
  out += " \xEF\xBB\xBF";
  out += xml;
  return out;
}

struct Trail::State {
  TrailOptions options;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable finished;
  struct Item {
    std::string xml;
    bool warning = false;
    std::chrono::system_clock::time_point time;
    unsigned long sequence = 0;
  };
  std::deque<Item> queue;
  unsigned long sequence = 0;
  unsigned long lost = 0;  // dropped and not yet told
  bool stop = false;
  Clock::time_point giveUp;
  bool done = false;
  int activeFd = -1;  // the repository's socket, for a shutdown at the end

  // Worker only.
  bool failing = false;
  int fd = -1;
  std::unique_ptr<dicom::TlsStream> tls;

  std::string Where() const {
    return options.repository->host + ":" + std::to_string(options.repository->port) +
           (options.repository->transport == Transport::Tls ? " (TLS)" : " (UDP)");
  }

  void Fail(const std::string& why) {
    if (failing) return;
    failing = true;
    if (options.reportError)
      options.reportError("Audit messages cannot be sent to the audit record repository " + Where() + ": " + why +
                          ". They wait (up to " + std::to_string(options.capacity) +
                          ") and the system log has each of them.");
  }

  bool Ending() {
    std::lock_guard<std::mutex> lock(mutex);
    return stop && Clock::now() >= giveUp;
  }

  void Disconnect() {
    tls.reset();
    {
      std::lock_guard<std::mutex> lock(mutex);
      activeFd = -1;
    }
    if (fd >= 0) platform::CloseSocket(fd);
    fd = -1;
  }

  // Opens the connection, within the time-out and never past the end.
  bool Connect(std::string& why) {
    const Repository& r = *options.repository;
    const bool udp = r.transport == Transport::Udp;
    platform::StartSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(r.host.c_str(), std::to_string(r.port).c_str(), &hints, &found);
    if (rc != 0) {
      why = "the host is unknown (" + sys::LookupErrorText(rc) + ")";
      return false;
    }
    why = "no address to connect to";
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
      const int s = sys::OpenSocket(*a);
      if (s < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex);
        activeFd = s;
      }
      bool pending = false;
      bool connected = sys::StartConnect(s, *a, pending);
      int error = connected || pending ? 0 : sys::LastError();
      if (pending) {
        const auto deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
        while (!connected && Clock::now() < deadline && !Ending()) {
          const int state = sys::WaitConnected(s, 100);
          if (state < 0) {
            error = sys::LastError();
            break;
          }
          connected = state > 0;
        }
        if (!connected && error == 0) error = sys::TimedOut();
      }
      if (!connected) {
        why = sys::ErrorText(error);
        {
          std::lock_guard<std::mutex> lock(mutex);
          activeFd = -1;
        }
        platform::CloseSocket(s);
        continue;
      }
      sys::MakeBlocking(s, options.timeoutSeconds);
      fd = s;
    }
    ::freeaddrinfo(found);
    if (fd < 0) return false;
    if (r.transport == Transport::Tls) {
      try {
        // The stream gets a second descriptor of the socket: this one stays
        // open until Disconnect, so the shutdown at the end never meets a
        // number the system has handed to someone else.
        tls = dicom::TlsStream::Open(r.tls, r.host, sys::Duplicate(fd), options.timeoutSeconds);
      } catch (const dicom::Error& error) {
        why = error.description();
        Disconnect();
        return false;
      }
    }
    return true;
  }

  // A repository closes a connection it finds idle; a write into it would
  // still be taken by the system and then lost. Nothing is ever read from a
  // repository, so anything to read on the socket is its end.
  bool PeerClosed() const {
    if (!tls) return false;
    return sys::HasInput(fd);
  }

  bool Send(const std::string& message) {
    if (tls) return tls->Write(std::to_string(message.size()) + " " + message);  // RFC 5425 4.3.1
    return sys::SendAll(fd, message);
  }

  void Run() {
    Clock::time_point nextAttempt{};
    for (;;) {
      Item item;
      unsigned long lostBefore = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
          const auto now = Clock::now();
          if (stop && (queue.empty() || now >= giveUp || now < nextAttempt)) break;
          if (!queue.empty() && now >= nextAttempt) break;
          if (queue.empty()) wake.wait(lock);
          else wake.wait_until(lock, nextAttempt);
        }
        if (stop && (queue.empty() || Clock::now() >= giveUp || Clock::now() < nextAttempt)) break;
        item = queue.front();
        lostBefore = lost;
      }
      std::string why;
      if (fd >= 0 && PeerClosed()) Disconnect();
      const bool reused = fd >= 0;
      if (fd < 0 && !Connect(why)) {
        Fail(why);
        nextAttempt = Clock::now() + options.retry;
        continue;
      }
      const std::string message = SyslogMessage(item.xml, item.warning, item.time, item.sequence, lostBefore);
      const bool sent = Send(message);
      const int error = sent ? 0 : sys::LastError();
      if (sent) {
        std::lock_guard<std::mutex> lock(mutex);
        queue.pop_front();
        lost -= lostBefore;
        if (failing && options.reportDebug)
          options.reportDebug("The audit record repository " + Where() + " takes messages again.");
        failing = false;
      } else if (options.repository->transport == Transport::Udp && sys::TooLong(error)) {
        std::lock_guard<std::mutex> lock(mutex);
        queue.pop_front();
        ++lost;
      } else if (reused) {
        // A connection that served before and failed now has most likely
        // been ended by the repository: one fresh try before it counts.
        Disconnect();
      } else {
        why = sys::ErrorText(error);
        Disconnect();
        Fail("sending failed (" + why + ")");
        nextAttempt = Clock::now() + options.retry;
      }
    }
    Disconnect();
    std::size_t left = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      left = queue.size() + lost;
      queue.clear();
    }
    if (left > 0 && options.reportError)
      options.reportError(std::to_string(left) + " audit messages did not reach the audit record repository " +
                          Where() + " before the program ended; the system log has them.");
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    finished.notify_all();
  }
};

Trail::Trail(TrailOptions options) : state_(std::make_shared<State>()) {
  state_->options = std::move(options);
  if (state_->options.repository) {
    worker_ = std::thread([state = state_] {
      // The repository may end the connection at any moment, even inside a
      // TLS handshake: a write then must fail with EPIPE on this thread,
      // whatever handler the rest of the program has for SIGPIPE.
      platform::BlockBrokenPipesOnThisThread();
      state->Run();
    });
  } else {
    state_->done = true;
  }
}

Trail::~Trail() {
  if (Installed() && installed.load() == this) Install(nullptr);
  const auto end = Clock::now() + state_->options.flush;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stop = true;
  // The worker stops trying a little before the end; a connection that
  // still hangs then is shut, which ends any read or write on it at once.
  state_->giveUp = end - state_->options.flush / 5;
  state_->wake.notify_all();
  if (!state_->finished.wait_until(lock, end - state_->options.flush / 10, [&] { return state_->done; })) {
    if (state_->activeFd >= 0) platform::ShutSocket(state_->activeFd, platform::kShutBoth);
    state_->finished.wait_until(lock, end, [&] { return state_->done; });
  }
  const bool done = state_->done;
  lock.unlock();
  if (!worker_.joinable()) return;
  // A worker that is done only has to leave its thread (and the TLS
  // library its state in it). One still inside the system's name lookup is
  // left to end by itself: it holds what it needs, and nobody waits for it.
  if (done) worker_.join();
  else worker_.detach();
}

void Trail::Record(const Message& message) {
  const std::string xml = ToXml(message);
  const bool warning = message.outcome != Outcome::Success;
  if (state_->options.syslog) sys::ToSystemLog(warning, xml);
  if (!state_->options.repository) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  const unsigned long sequence = state_->sequence++;
  if (state_->stop) return;
  if (state_->queue.size() >= state_->options.capacity) {
    ++state_->lost;
    return;
  }
  state_->queue.push_back({xml, warning, message.time, sequence});
  state_->wake.notify_all();
}

void Install(Trail* trail) { installed.store(trail); }
bool Installed() { return installed.load() != nullptr; }
void Record(const Message& message) {
  if (Trail* trail = installed.load()) trail->Record(message);
}

}  // namespace morvanta::audit
