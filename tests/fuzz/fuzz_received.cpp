// The decoder of received data sets (C-FIND matches, C-MOVE responses) over
// any bytes, in either little endian transfer syntax.
//
// Input: the first byte picks explicit (even) or implicit (odd) VR; the rest
// is the data set as a PDV would carry it.
//
// Properties:
// - nothing crashes, and the parse runs on a thread with a stack of 1 MB:
//   data the nesting walk lets through never takes the toolkit's recursive
//   parser deeper than a few hundred levels, so a walk that misses a way of
//   nesting shows as a stack overflow here;
// - a data set is returned, or a reason why not;
// - what the walk measured deeper than the bound is refused.
//
// The toolkit's parser allocates the length a value claims before it reads
// it (up to 4 GB of address space, given back when the bytes are not there);
// the walk refuses such lengths where it can follow the bytes, and where it
// cannot, the allocation is no fault: the malloc limit is raised above 4 GB.

#include <pthread.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dicom/received.h"
#include "fuzz_common.h"

namespace {

struct Job {
  const std::uint8_t* data;
  std::size_t size;
  E_TransferSyntax xfer;
};

void* Decode(void* argument) {
  const Job& job = *static_cast<const Job*>(argument);
  using namespace morvanta::dicom::detail;
  std::string why;
  const std::unique_ptr<DcmDataset> dataset = DecodeReceived(job.data, job.size, job.xfer, why);
  FUZZ_CHECK(dataset != nullptr || !why.empty());
  if (NestingDepth(job.data, job.size, job.xfer) > kMaxNesting) FUZZ_CHECK(dataset == nullptr);
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<char*> arguments(*argv, *argv + *argc);
  static char limit[] = "-malloc_limit_mb=4200";
  arguments.push_back(limit);
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Job job{data + 1, size - 1, (data[0] & 1) != 0 ? EXS_LittleEndianImplicit : EXS_LittleEndianExplicit};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1024 * 1024);
  pthread_t thread;
  FUZZ_CHECK(pthread_create(&thread, &attributes, Decode, &job) == 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  return 0;
}
