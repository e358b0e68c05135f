// The reference for search_399: the same C-FIND done in process with DCMTK's
// own SCU class, as a program that only wants the answers would do it.
//   morvanta_bench_find_reference PORT REPS [--limit N] -k GGGG,EEEE[=VALUE] ...
// Study Root, the keys given (those the window sent, read back from the
// archive's journal), a fresh association for each search, every response
// kept until the search ends; with --limit, a C-CANCEL goes out at the N-th
// match and the search ends at the archive's answer to it. One untimed search first, as the window's
// figure has one; then one line "ms=" per search.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/scu.h>
#include <dcmtk/oflog/oflog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Key {
  DcmTagKey tag;
  std::string value;
};

int Fail(const std::string& what) {
  std::fprintf(stderr, "morvanta_bench_find_reference: %s\n", what.c_str());
  return 1;
}

// "0010,0020=*" or "0008,0050": a tag in hex and an optional value.
bool ParseKey(const std::string& text, Key& key) {
  unsigned group = 0;
  unsigned element = 0;
  if (std::sscanf(text.c_str(), "%4x,%4x", &group, &element) != 2) return false;
  key.tag = DcmTagKey(static_cast<Uint16>(group), static_cast<Uint16>(element));
  const auto equals = text.find('=');
  key.value = equals == std::string::npos ? "" : text.substr(equals + 1);
  return true;
}

// The toolkit's SCU, cancelling at the limit-th match (0: never).
class LimitedScu : public DcmSCU {
 public:
  explicit LimitedScu(long limit) : limit_(limit) {}
  OFCondition handleFINDResponse(const T_ASC_PresentationContextID presID, QRResponse* response,
                                 OFBool& waitForNextResponse) override {
    const OFCondition cond = DcmSCU::handleFINDResponse(presID, response, waitForNextResponse);
    if (DICOM_PENDING_STATUS(response->m_status) && ++seen_ == limit_) sendCANCELRequest(presID);
    return cond;
  }

 private:
  long limit_;
  long seen_ = 0;
};

// One search; the number of pending responses with a data set, -1 on failure.
long Search(Uint16 port, const std::vector<Key>& keys, long limit) {
  DcmDataset query;
  for (const Key& key : keys)
    if (query.putAndInsertString(DcmTag(key.tag), key.value.c_str()).bad()) return -1;

  LimitedScu scu(limit);
  scu.setAETitle("MORVANTA");
  scu.setPeerAETitle("ARCHIVE");
  scu.setPeerHostName("127.0.0.1");
  scu.setPeerPort(port);
  OFList<OFString> syntaxes;
  syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
  syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
  scu.addPresentationContext(UID_FINDStudyRootQueryRetrieveInformationModel, syntaxes);
  if (scu.initNetwork().bad() || scu.negotiateAssociation().bad()) return -1;
  const T_ASC_PresentationContextID id =
      scu.findPresentationContextID(UID_FINDStudyRootQueryRetrieveInformationModel, "");
  OFList<QRResponse*> responses;
  const OFCondition cond = scu.sendFINDRequest(id, &query, &responses);
  scu.releaseAssociation();
  long found = 0;
  for (QRResponse* response : responses) {
    if (response->m_dataset != nullptr && DICOM_PENDING_STATUS(response->m_status)) ++found;
    delete response;
  }
  return cond.good() ? found : -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return Fail("usage: PORT REPS -k GGGG,EEEE[=VALUE] ...");
  // Quiet, as the window is: the SCU class reports every response at INFO.
  OFLog::configure(OFLogger::WARN_LOG_LEVEL);
  const auto port = static_cast<Uint16>(std::atoi(argv[1]));
  const int reps = std::atoi(argv[2]);
  std::vector<Key> keys;
  long limit = 0;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--limit" && i + 1 < argc) {
      limit = std::atol(argv[++i]);
      continue;
    }
    if (arg != "-k" || i + 1 >= argc) return Fail("unexpected argument " + arg);
    Key key;
    if (!ParseKey(argv[++i], key)) return Fail(std::string("not a key: ") + argv[i]);
    keys.push_back(std::move(key));
  }
  if (Search(port, keys, limit) < 0) return Fail("the first search failed");
  for (int i = 0; i < reps; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const long found = Search(port, keys, limit);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (found < 0) return Fail("search failed");
    std::printf("ms=%.3f found=%ld\n", std::chrono::duration<double, std::milli>(elapsed).count(), found);
  }
  return 0;
}
