#pragma once
// Host-name lookup that a cancel or the time-out need not wait for. The
// system's resolver cannot be interrupted and may take several seconds per
// name server; the lookup runs in a thread of its own, and a caller that
// stops waiting leaves it to finish alone, its answer dropped.

#include <chrono>
#include <functional>
#include <string>

namespace morvanta::dicom {

struct Resolution {
  enum class Outcome {
    Found,      // address: a numeric IPv4 address, or the name itself where it has none
    Unknown,    // the name does not exist
    Cancelled,  // cancelled() became true while waiting
    TimedOut,   // no answer within the limit
  };
  Outcome outcome = Outcome::Unknown;
  std::string address;
};

// A lookup as getaddrinfo does it: 0 with the address found ("" where the
// name has no IPv4 address), or an EAI_ code. Called on the lookup's thread.
using Lookup = std::function<int(const std::string& host, std::string& address)>;
int SystemLookup(const std::string& host, std::string& address);

// A numeric IPv4 address is answered at once, without a thread. `cancelled`
// is asked every few milliseconds from the calling thread.
Resolution ResolveHost(const std::string& host, std::chrono::milliseconds limit,
                       const std::function<bool()>& cancelled, const Lookup& lookup = SystemLookup);

}  // namespace morvanta::dicom
