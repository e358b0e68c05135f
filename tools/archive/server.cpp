#include "server.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/scppool.h>
#include <dcmtk/dcmnet/scpthrd.h>
#include <dcmtk/dcmnet/scu.h>
#ifdef WITH_OPENSSL
#include <dcmtk/dcmtls/tlslayer.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <mutex>
#include <thread>

#include "dicom/charset.h"
#include "dataset_text.h"
#include "hostile.h"
#include "json.h"
#include "pool.h"
#include "studies.h"

namespace morvanta::archive {

namespace {

// The pool constructs one service object per thread without arguments, so
// the shared state lives here, set once before the pool starts.
struct State {
  Options options;
  StudyStore store;
  std::atomic<int> storeCount{0};
  std::mutex journalLock;
  std::FILE* journal = nullptr;
};
State* g_state = nullptr;

std::string TagText(TagKey key) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X,%04X", key >> 16, key & 0xFFFF);
  return text;
}

std::string Hex(std::uint16_t status) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(status));
  return text;
}

// One JSON object a line, flushed at once, so a test reads what happened so far.
void Journal(const std::string& line) {
  if (g_state->journal == nullptr) return;
  std::lock_guard<std::mutex> guard(g_state->journalLock);
  std::fputs(line.c_str(), g_state->journal);
  std::fputc('\n', g_state->journal);
  std::fflush(g_state->journal);
}

void Hang() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

void Delay() {
  if (g_state->options.hang) Hang();
  if (g_state->options.delayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(g_state->options.delayMs));
}

std::string Encode(const std::string& utf8) {
  return g_state->options.charset == "ISO_IR 192" ? utf8 : dicom::Utf8ToLatin1(utf8);
}

class ArchiveSCP : public DcmThreadSCP {
 public:
  // The association, for the responses hostile.h writes byte by byte.
  OFCondition run(T_ASC_Association* association) override {
    association_ = association;
    return DcmThreadSCP::run(association);
  }

 protected:
  void notifyAssociationRequest(const T_ASC_Parameters& /*params*/, DcmSCPActionType& action) override {
    if (g_state->options.hangAssociation) {
      // Journaled first, so a test knows the request is being kept waiting.
      Journal("{\"type\":\"association-held\"}");
      Hang();
    }
    if (g_state->options.refuse == Refusal::NoReason) action = DCMSCP_ACTION_REFUSE_ASSOCIATION;
  }

  void notifyReleaseRequest() override {
    if (g_state->options.hangRelease) {
      Journal("{\"type\":\"release-held\"}");
      Hang();
    }
  }

  OFBool checkCalledAETitleAccepted(const OFString& calledAE) override {
    if (g_state->options.refuse == Refusal::CalledAET) return OFFalse;
    return g_state->options.acceptAnyAET || ToText(calledAE) == g_state->options.aet;
  }

  OFBool checkCallingAETitleAccepted(const OFString& /*callingAE*/) override {
    return g_state->options.refuse != Refusal::CallingAET;
  }

  OFCondition handleIncomingCommand(T_DIMSE_Message* message,
                                    const DcmPresentationContextInfo& info) override {
    explicitVR_ = info.acceptedTransferSyntax == UID_LittleEndianExplicitTransferSyntax;
    switch (message->CommandField) {
      case DIMSE_C_ECHO_RQ:
        Journal("{\"type\":\"echo\",\"calling\":" + JsonString(ToText(getPeerAETitle())) + "}");
        Delay();
        return handleECHORequest(message->msg.CEchoRQ, info.presentationContextID);
      case DIMSE_C_FIND_RQ:
        return HandleFind(message->msg.CFindRQ, info.presentationContextID);
      case DIMSE_C_STORE_RQ:
        return HandleStore(message->msg.CStoreRQ, info.presentationContextID);
      case DIMSE_C_MOVE_RQ:
        return HandleMove(message->msg.CMoveRQ, info.presentationContextID);
      case DIMSE_C_CANCEL_RQ:
        // A C-CANCEL for a request already answered in full (its final
        // response crossed the cancel on the wire) is ignored, as PS3.7
        // 9.3.2.3 allows; cancels of running requests are read by the
        // request's own loop and never get here.
        Journal("{\"type\":\"late-cancel\",\"message_id\":" +
                std::to_string(message->msg.CCancelRQ.MessageIDBeingRespondedTo) + "}");
        return EC_Normal;
      default:
        return DcmThreadSCP::handleIncomingCommand(message, info);
    }
  }

 private:
  OFCondition HandleFind(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presId) {
    DcmDataset* raw = nullptr;
    OFCondition cond = receiveFINDRequest(request, presId, raw);
    std::unique_ptr<DcmDataset> query(raw);
    if (cond.bad()) return cond;
    const OFString sopClass = request.AffectedSOPClassUID;
    const Options& options = g_state->options;

    std::uint16_t failure = 0;
    std::vector<QueryKey> keys;
    std::string level;
    if (query == nullptr) {
      failure = 0xA900;  // no identifier: does not match the SOP class
    } else {
      // The journal shows the character set as received; decoding rewrites it.
      OFString declared;
      query->findAndGetOFStringArray(DCM_SpecificCharacterSet, declared);
      if (!DecodeToUtf8(*query)) failure = 0xC000;  // a character set we cannot read
      if (query->tagExists(DCM_SpecificCharacterSet))
        query->putAndInsertString(DCM_SpecificCharacterSet, declared.c_str());
      for (unsigned long i = 0; i < query->card(); ++i) {
        DcmElement* element = query->getElement(i);
        QueryKey key;
        const DcmTagKey tag = element->getTag();
        key.tag = Key(tag.getGroup(), tag.getElement());
        key.vr = DcmVR(element->getVR()).getVRName();
        if (element->ident() != EVR_SQ && element->getLength() > 0) {
          OFString value;
          element->getOFStringArray(value);
          key.value = ToText(value);
        }
        if (key.tag == kQueryRetrieveLevel) level = key.value;
        keys.push_back(std::move(key));
      }
    }
    std::string line = "{\"type\":\"find\",\"calling\":" + JsonString(ToText(getPeerAETitle())) +
                       ",\"called\":" + JsonString(ToText(getCalledAETitle())) + ",\"identifier\":{";
    for (std::size_t i = 0; i < keys.size(); ++i)
      line += (i ? "," : "") + JsonString(TagText(keys[i].tag)) + ":" + JsonString(keys[i].value);
    Journal(line + "}}");

    // Study level only (PS3.4 C.4.1.1.4: A900 for an identifier the model
    // does not allow, C000 for what this archive cannot process).
    if (failure == 0 && level.empty()) failure = 0xA900;
    if (failure == 0 && level != "STUDY") failure = 0xC000;

    // Made-up results (--results) are made one at a time as they go out, so
    // even 100,000 of them start answering at once.
    std::vector<Study> matches;
    std::size_t count = 0;
    if (failure == 0) {
      if (options.results) {
        count = static_cast<std::size_t>(*options.results);
      } else {
        matches = g_state->store.Find(keys);
        count = matches.size();
      }
    }
    // "sent" counts the matches that went out, so a test sees where a
    // C-CANCEL stopped the search.
    int sent = 0;
    auto done = [&sent](const std::string& status) {
      Journal("{\"type\":\"find-done\",\"sent\":" + std::to_string(sent) + ",\"status\":" + JsonString(status) +
              "}");
    };
    std::optional<Study> made;
    for (std::size_t i = 0; i < count; ++i) {
      const Study& study =
          options.results ? made.emplace(MakeDemoStudy(static_cast<int>(i), options.today)) : matches[i];
      std::unique_ptr<DcmDataset> answer = Answer(study, keys);
      if (sent == 0 && !options.oddFirst.empty()) MakeOddMatch(*answer, options.oddFirst);
      if (sent < options.noStudyUid) answer->findAndDeleteElement(DCM_StudyInstanceUID);
      Delay();
      cond = sent == 0 && (options.nestDepth > 0 || options.nestCommand > 0 || options.oversizePdu || options.endlessMatch)
                 ? SendHostileMatch(presId, request.MessageID, sopClass)
                 : sendFINDResponse(presId, request.MessageID + (options.wrongMessageId ? 1 : 0), sopClass,
                                    answer.get(), STATUS_FIND_Pending_MatchesAreContinuing);
      if (cond.bad()) {
        done("broken");
        return cond;
      }
      ++sent;
      // A station that stops at a limit meets an archive with more, however
      // fast either side runs: the next match waits for its C-CANCEL.
      if (sent == options.waitCancelAfter && i + 1 < count) {
        while (!ASC_dataWaiting(association_, 1)) {
        }
      }
      // PS3.4 C.4.1.2.2: after a C-CANCEL, end with 0xFE00 and send no more
      // matches. After the last match there is nothing left to stop: a cancel
      // for it crosses the final response and is read as a late cancel, the
      // same however the two processes happen to be scheduled.
      if (i + 1 < count && !options.ignoreCancel && checkForCANCEL(presId, request.MessageID).good()) {
        done(Hex(STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest));
        return sendFINDResponse(presId, request.MessageID, sopClass, nullptr, STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest);
      }
    }
    if (options.ignoreCancel) {
      // Matches without end, C-CANCEL or not, as fast as the connection takes them.
      Journal("{\"type\":\"streaming\"}");
      StreamPending(association_, presId, request.MessageID, sopClass.c_str(), NestedMatch(0, explicitVR_));
      done("broken");
      return DUL_NETWORKCLOSED;
    }
    Delay();
    if (options.findAbort) {
      done("aborted");
      abortAssociation();
      // Tells the association loop the association is gone, without a second abort.
      return DUL_PEERABORTEDASSOCIATION;
    }
    if (failure == 0 && options.findStatus) failure = *options.findStatus;
    done(Hex(failure == 0 ? STATUS_Success : failure));
    return sendFINDResponse(presId, request.MessageID, sopClass, nullptr, failure == 0 ? STATUS_Success : failure);
  }

  // Study Root C-MOVE at STUDY level (PS3.4 C.4.2): the study's images go to
  // the destination over a sub-association of our own, one pending response
  // with the counts after each (PS3.4 C.4.2.3.1).
  OFCondition HandleMove(T_DIMSE_C_MoveRQ& request, T_ASC_PresentationContextID presId) {
    DcmDataset* raw = nullptr;
    OFString destination;
    OFCondition cond = receiveMOVERequest(request, presId, raw, destination);
    std::unique_ptr<DcmDataset> query(raw);
    if (cond.bad()) return cond;
    const OFString sopClass = request.AffectedSOPClassUID;
    const std::string dest = ToText(destination);
    const std::string calling = ToText(getPeerAETitle());
    if (g_state->options.nestDepth > 0)
      return SendRawResponse(association_, presId, DIMSE_C_MOVE_RSP, request.MessageID, sopClass.c_str(),
                             STATUS_MOVE_Warning_SubOperationsCompleteOneOrMoreFailures,
                             NestedMatch(g_state->options.nestDepth, explicitVR_))
                 ? EC_Normal
                 : DUL_NETWORKCLOSED;

    std::string level, studyUid;
    OFString value;
    if (query && query->findAndGetOFStringArray(DCM_QueryRetrieveLevel, value).good()) level = ToText(value);
    if (query && query->findAndGetOFStringArray(DCM_StudyInstanceUID, value).good()) studyUid = ToText(value);

    int completed = 0, failed = 0, warning = 0;
    auto finish = [&](std::uint16_t status) {
      Journal("{\"type\":\"move\",\"calling\":" + JsonString(calling) + ",\"destination\":" + JsonString(dest) +
              ",\"study_uid\":" + JsonString(studyUid) + ",\"completed\":" + std::to_string(completed) +
              ",\"failed\":" + std::to_string(failed) + ",\"warning\":" + std::to_string(warning) +
              ",\"status\":" + JsonString(Hex(status)) + "}");
      return sendMOVEResponse(presId, request.MessageID, sopClass, nullptr, status, nullptr, 0,
                              static_cast<Uint16>(completed), static_cast<Uint16>(failed),
                              static_cast<Uint16>(warning));
    };

    // PS3.4 C.4.2.1.4.1: A900 for an identifier the model does not allow,
    // C000 for what this archive cannot process, A801 for an unknown destination.
    if (query == nullptr || level.empty() || studyUid.empty()) return finish(0xA900);
    if (level != "STUDY") return finish(0xC000);
    const auto node = g_state->options.nodes.find(dest);
    if (node == g_state->options.nodes.end()) return finish(STATUS_MOVE_Refused_MoveDestinationUnknown);

    std::vector<std::unique_ptr<DcmDataset>> images;
    for (const Study& study : g_state->store.Find({QueryKey{kStudyUID, studyUid, "UI"}}))
      for (const Instance& instance : Instances(study)) images.push_back(Image(study, instance));
    if (images.empty()) return finish(STATUS_Success);

    DcmSCU scu;
    scu.setAETitle(g_state->options.aet.c_str());
    scu.setPeerAETitle(dest.c_str());
    scu.setPeerHostName(node->second.host.c_str());
    scu.setPeerPort(static_cast<Uint16>(node->second.port));
    scu.setConnectionTimeout(10);
    scu.setACSETimeout(10);
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scu.setDIMSETimeout(30);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(UID_SecondaryCaptureImageStorage, syntaxes);
    if (scu.initNetwork().bad() || scu.negotiateAssociation().bad()) {
      // The destination cannot be reached: no image could be sent.
      failed = static_cast<int>(images.size());
      return finish(STATUS_MOVE_Refused_OutOfResourcesSubOperations);
    }
    const T_ASC_PresentationContextID storeId = scu.findPresentationContextID(UID_SecondaryCaptureImageStorage, "");
    for (std::size_t i = 0; i < images.size(); ++i) {
      if (checkForCANCEL(presId, request.MessageID).good()) {
        scu.releaseAssociation();
        return finish(STATUS_MOVE_Cancel_SubOperationsTerminatedDueToCancelIndication);
      }
      Uint16 status = 0;
      const OFCondition sent = storeId == 0 ? OFCondition(EC_IllegalCall)
                                            : scu.sendSTORERequest(storeId, "", images[i].get(), status,
                                                                   calling.c_str(), request.MessageID);
      if (sent.bad() || (status != STATUS_Success && (status & 0xF000) != 0xB000)) ++failed;
      else if (status != STATUS_Success) ++warning;
      else ++completed;
      if (i + 1 < images.size()) {
        Delay();
        cond = sendMOVEResponse(presId, request.MessageID, sopClass, nullptr, STATUS_Pending, nullptr,
                                static_cast<Uint16>(images.size() - i - 1), static_cast<Uint16>(completed),
                                static_cast<Uint16>(failed), static_cast<Uint16>(warning));
        if (cond.bad()) return cond;
      }
    }
    scu.releaseAssociation();
    return finish(failed + warning > 0 ? STATUS_MOVE_Warning_SubOperationsCompleteOneOrMoreFailures : STATUS_Success);
  }

  // A match of --nest-depth, --nest-command or --oversize-pdu, written byte by byte.
  OFCondition SendHostileMatch(T_ASC_PresentationContextID presId, std::uint16_t messageId, const OFString& sopClass) {
    const Options& options = g_state->options;
    if (options.endlessMatch) {
      StreamEndlessMatch(association_, presId, messageId, sopClass.c_str());
      return DUL_NETWORKCLOSED;
    }
    std::string match = NestedMatch(options.nestDepth, explicitVR_);
    if (options.oversizePdu) match = Padded(match, explicitVR_, 2 * association_->sendPDVLength);
    return SendRawResponse(association_, presId, DIMSE_C_FIND_RSP, messageId, sopClass.c_str(),
                           STATUS_FIND_Pending_MatchesAreContinuing, match, options.oversizePdu, options.nestCommand)
               ? EC_Normal
               : DUL_NETWORKCLOSED;
  }

  // A small Secondary Capture image of the study: 8 x 8 pixels of 8 bits.
  std::unique_ptr<DcmDataset> Image(const Study& study, const Instance& instance) {
    auto image = std::make_unique<DcmDataset>();
    const Series& series = study.series[instance.series];
    if (!g_state->options.charset.empty())
      image->putAndInsertString(DCM_SpecificCharacterSet, g_state->options.charset.c_str());
    auto put = [&](const DcmTagKey& tag, const std::string& text) {
      const std::string encoded = Encode(text);
      image->putAndInsertString(tag, encoded.c_str());
    };
    static const std::pair<TagKey, DcmTagKey> kStudyTags[] = {
        {kPatientName, DCM_PatientName},   {kPatientID, DCM_PatientID},     {kBirthDate, DCM_PatientBirthDate},
        {kPatientSex, DCM_PatientSex},     {kStudyDate, DCM_StudyDate},     {kStudyTime, DCM_StudyTime},
        {kAccessionNumber, DCM_AccessionNumber}, {kStudyID, DCM_StudyID},   {kStudyDescription, DCM_StudyDescription},
        {kStudyUID, DCM_StudyInstanceUID}, {kReferringPhysician, DCM_ReferringPhysicianName}};
    for (const auto& [key, tag] : kStudyTags) {
      const auto found = study.values.find(key);
      if (found != study.values.end()) put(tag, found->second);
    }
    image->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    image->putAndInsertString(DCM_SOPInstanceUID, instance.sopInstanceUid.c_str());
    image->putAndInsertString(DCM_SeriesInstanceUID, instance.seriesUid.c_str());
    put(DCM_Modality, series.modality.empty() ? "OT" : series.modality);
    if (!series.bodyPart.empty()) put(DCM_BodyPartExamined, series.bodyPart);
    image->putAndInsertString(DCM_SeriesNumber, std::to_string(instance.series + 1).c_str());
    image->putAndInsertString(DCM_InstanceNumber, std::to_string(instance.number).c_str());
    image->putAndInsertString(DCM_ConversionType, "WSD");
    image->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    image->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    image->putAndInsertUint16(DCM_Rows, 8);
    image->putAndInsertUint16(DCM_Columns, 8);
    image->putAndInsertUint16(DCM_BitsAllocated, 8);
    image->putAndInsertUint16(DCM_BitsStored, 8);
    image->putAndInsertUint16(DCM_HighBit, 7);
    image->putAndInsertUint16(DCM_PixelRepresentation, 0);
    Uint8 pixels[64];
    for (int i = 0; i < 64; ++i) pixels[i] = static_cast<Uint8>((i * 4 + instance.number * 16) & 0xFF);
    image->putAndInsertUint8Array(DCM_PixelData, pixels, 64);
    return image;
  }

  // The keys the request asked for, with this study's values (PS3.4 C.2.2.1.2).
  std::unique_ptr<DcmDataset> Answer(const Study& study, const std::vector<QueryKey>& keys) {
    auto answer = std::make_unique<DcmDataset>();
    for (const QueryKey& key : keys) {
      const DcmTagKey tagKey(key.tag >> 16, key.tag & 0xFFFF);
      if (key.tag == kSpecificCharacterSet) continue;
      if (key.vr == "SQ") {
        answer->insertEmptyElement(tagKey);
        continue;
      }
      std::string value;
      if (key.tag == kQueryRetrieveLevel) {
        value = "STUDY";
      } else if (key.tag == kModality && !key.value.empty()) {
        // The modality that matched, when the request named one.
        for (const std::string& m : study.Modalities())
          if (Matches(Study{{}, {Series{"", m, "", 1}}}, {key})) {
            value = m;
            break;
          }
      } else {
        value = study.Value(key.tag).value_or("");
      }
      DcmTag tag(tagKey);
      if (tag.getEVR() == EVR_UNKNOWN || tag.getEVR() == EVR_UN || tag.getEVR() == EVR_UNKNOWN2B)
        tag.setVR(DcmVR(EVR_LO));
      DcmElement* raw = nullptr;
      if (DcmItem::newDicomElementWithVR(raw, tag).bad() || raw == nullptr) continue;
      std::unique_ptr<DcmElement> element(raw);
      const std::string encoded = Encode(value);
      element->putString(encoded.c_str(), static_cast<Uint32>(encoded.size()));
      if (answer->insert(element.get(), OFTrue).good()) element.release();
    }
    if (!g_state->options.charset.empty())
      answer->putAndInsertString(DCM_SpecificCharacterSet, g_state->options.charset.c_str());
    return answer;
  }

  OFCondition HandleStore(T_DIMSE_C_StoreRQ& request, T_ASC_PresentationContextID presId) {
    DcmDataset* raw = nullptr;
    OFCondition cond = receiveSTORERequest(request, presId, raw);
    std::unique_ptr<DcmDataset> dataset(raw);
    if (cond.bad()) return cond;
    const int number = ++g_state->storeCount;
    std::uint16_t status = STATUS_Success;
    if (g_state->options.failStoreAt == number) status = g_state->options.failStoreStatus;
    if (g_state->options.hangStoreAt == number) {
      Journal("{\"type\":\"store-held\",\"number\":" + std::to_string(number) + "}");
      Hang();
    }
    if (g_state->options.abortStoreAt == number) {
      Journal("{\"type\":\"store-abort\",\"number\":" + std::to_string(number) + "}");
      abortAssociation();
      return DUL_PEERABORTEDASSOCIATION;
    }

    std::string creator, studyUid;
    if (dataset) {
      DecodeToUtf8(*dataset);
      OFString value;
      if (dataset->findAndGetOFString(DcmTagKey(0x0019, 0x0010), value).good()) creator = ToText(value);
      if (creator == "REDIRECT") {
        if (dataset->findAndGetOFString(DcmTagKey(0x0019, 0x0030), value).good()) studyUid = ToText(value);
      } else if (dataset->findAndGetOFString(DCM_StudyInstanceUID, value).good()) {
        studyUid = ToText(value);
        // An ordinary image: the archive holds its study from now on.
        if (status == STATUS_Success && !studyUid.empty()) g_state->store.Add(StudyFromDataset(*dataset));
      }
    }
    Journal("{\"type\":\"store\",\"calling\":" + JsonString(ToText(getPeerAETitle())) +
            ",\"called\":" + JsonString(ToText(getCalledAETitle())) +
            ",\"number\":" + std::to_string(number) +
            ",\"sop_class_uid\":" + JsonString(request.AffectedSOPClassUID) +
            ",\"sop_instance_uid\":" + JsonString(request.AffectedSOPInstanceUID) +
            ",\"creator\":" + JsonString(creator) + ",\"study_uid\":" + JsonString(studyUid) +
            ",\"status\":" + JsonString(Hex(status)) + "}");
    Delay();
    if (g_state->options.nestCommand > 0) {
      return SendRawResponse(association_, presId, DIMSE_C_STORE_RSP, request.MessageID, request.AffectedSOPClassUID,
                             status, std::string(), false, g_state->options.nestCommand)
                 ? EC_Normal
                 : DUL_NETWORKCLOSED;
    }
    return sendSTOREResponse(presId, request, status);
  }

  T_ASC_Association* association_ = nullptr;
  bool explicitVR_ = true;  // of the command being handled
};

}  // namespace

int Serve(const Options& options) {
  static State state;
  state.options = options;
  g_state = &state;
  if (!options.journal.empty()) {
    state.journal = std::fopen(options.journal.c_str(), "a");
    if (state.journal == nullptr) {
      std::cerr << "morvanta-archive: cannot open journal " << options.journal << "\n";
      return 2;
    }
  }
  for (int i = 0; i < options.demo; ++i) state.store.Add(MakeDemoStudy(i, options.today));
  if (!options.dataDir.empty()) {
    if (!std::filesystem::is_directory(options.dataDir)) {
      std::cerr << "morvanta-archive: " << options.dataDir << " is not a folder\n";
      return 2;
    }
    LoadFolder(options.dataDir, state.store);
  }

  ListeningPool<ArchiveSCP> pool;
  pool.setMaxThreads(static_cast<Uint16>(options.maxAssociations));
  DcmSCPConfig& config = pool.getConfig();
  config.setPort(static_cast<Uint16>(options.port));
  config.setAETitle(options.aet.c_str());
  config.setRespondWithCalledAETitle(OFFalse);
  config.setConnectionBlockingMode(DUL_BLOCK);
  // An idle client gives its thread back after ten minutes.
  config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
  config.setDIMSETimeout(600);
  config.setACSETimeout(30);
  OFList<OFString> syntaxes;
  syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
  syntaxes.push_back(UID_BigEndianExplicitTransferSyntax);
  syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
  config.addPresentationContext(UID_VerificationSOPClass, syntaxes);
  config.addPresentationContext(UID_FINDStudyRootQueryRetrieveInformationModel, syntaxes);
  config.addPresentationContext(UID_MOVEStudyRootQueryRetrieveInformationModel, syntaxes);
  for (int i = 0; i < numberOfDcmAllStorageSOPClassUIDs; ++i)
    config.addPresentationContext(dcmAllStorageSOPClassUIDs[i], syntaxes);

#ifdef WITH_OPENSSL
  std::unique_ptr<DcmTLSTransportLayer> tls;
  if (!options.tlsCert.empty()) {
    tls = std::make_unique<DcmTLSTransportLayer>(NET_ACCEPTOR, nullptr, OFTrue);
    OFCondition tlsCond = tls->setTLSProfile(TSP_Profile_BCP195_ND);
    if (tlsCond.good()) tlsCond = tls->activateCipherSuites();
    if (tlsCond.good()) tlsCond = tls->setCertificateFile(options.tlsCert.c_str(), DCF_Filetype_PEM);
    if (tlsCond.good()) tlsCond = tls->setPrivateKeyFile(options.tlsKey.c_str(), DCF_Filetype_PEM);
    if (tlsCond.good() && !options.tlsCa.empty())
      tlsCond = tls->addTrustedCertificateFile(options.tlsCa.c_str(), DCF_Filetype_PEM);
    if (tlsCond.bad() || !tls->checkPrivateKeyMatchesCertificate()) {
      std::cerr << "morvanta-archive: TLS cannot be set up: "
                << (tlsCond.bad() && tlsCond.text() ? tlsCond.text() : "key and certificate do not match") << "\n";
      return 2;
    }
    tls->setCertificateVerification(options.tlsCa.empty() ? DCV_ignoreCertificate : DCV_requireCertificate);
    config.setTransportLayer(tls.get());
  }
#else
  // A toolkit built without OpenSSL (the Windows build so far) has no TLS.
  const bool tls = false;
  if (!options.tlsCert.empty()) {
    std::cerr << "morvanta-archive: TLS cannot be set up: this build has no TLS\n";
    return 2;
  }
#endif

  // Said once the socket takes connections, with the port it got (the one
  // asked for, or the system's choice for --port 0).
  pool.onListening([&](int port) {
    std::cout << "morvanta-archive: " << options.aet << " listening on port " << port << (tls ? " (TLS)" : "")
              << " with " << state.store.Count() << " studies" << std::endl;
  });
  const OFCondition cond = pool.listen();
  std::cerr << "morvanta-archive: " << (cond.text() ? cond.text() : "stopped") << "\n";
  return cond.good() ? 0 : 1;
}

}  // namespace morvanta::archive
