#include "dicom/resolve.h"

#include "platform/socket.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace morvanta::dicom {

int SystemLookup(const std::string& host, std::string& address) {
  platform::StartSockets();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  // The toolkit's presentation address is "host:port", split at the first
  // colon: an IPv4 address is what it can take in numeric form.
  for (const addrinfo* a = found; rc == 0 && a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) {
      address = text;
      break;
    }
  }
  if (found != nullptr) freeaddrinfo(found);
  return rc;
}

Resolution ResolveHost(const std::string& host, std::chrono::milliseconds limit,
                       const std::function<bool()>& cancelled, const Lookup& lookup) {
  in_addr numeric{};
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) return {Resolution::Outcome::Found, host};

  // Shared with the lookup's thread, which may outlive this call.
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    std::string address;
  };
  auto pending = std::make_shared<Pending>();
  std::thread([pending, host, lookup] {
    std::string address;
    const int rc = lookup(host, address);
    std::lock_guard<std::mutex> guard(pending->mutex);
    pending->rc = rc;
    pending->address = std::move(address);
    pending->finished = true;
    pending->done.notify_all();
  }).detach();

  // The cancel flag notifies no one: it is looked at between short waits.
  constexpr auto kSlice = std::chrono::milliseconds(25);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(pending->mutex);
  while (!pending->finished) {
    if (cancelled && cancelled()) return {Resolution::Outcome::Cancelled, {}};
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return {Resolution::Outcome::TimedOut, {}};
    pending->done.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now));
  }
  if (pending->rc == EAI_NONAME || pending->rc == EAI_FAIL
#ifdef EAI_NODATA
      || pending->rc == EAI_NODATA
#endif
  )
    return {Resolution::Outcome::Unknown, {}};
  // Any other answer (a resolver that is down, a name with only an IPv6
  // address) leaves the name to the connection, which reports what it meets.
  return {Resolution::Outcome::Found, pending->address.empty() ? host : pending->address};
}

}  // namespace morvanta::dicom
