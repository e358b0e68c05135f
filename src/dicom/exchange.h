#pragma once
// Inside the binding only: the request and responses of one DIMSE operation
// on an open association.
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "dicom/association.h"
#include "dicom/received.h"

namespace morvanta::dicom::detail {

// What one response (its command or its data set) may hold. A study's match
// or a move's status is a few KB; a value far beyond any attribute's maximum
// is cut when it is read. An archive that goes on sending one response
// without end meets this bound instead of all of the station's memory.
constexpr std::size_t kMostResponseBytes = std::size_t{128} << 20;

// The responses of one request on an open association, read in slices of
// 50 ms so that a cancel is seen while the archive is silent; the cancel of
// a C-FIND or C-MOVE goes out as C-CANCEL (PS3.7 9.3.2.3, 9.3.4.3). A C-STORE
// or C-ECHO has no C-CANCEL: it is read with kNoCancel, and its cancel is the
// association's armed grace (Association::Armed).
inline const CancelSource kNoCancel{};

class Exchange {
 public:
  Exchange(Association& association, const CancelSource& cancel, T_ASC_PresentationContextID presId,
           DIC_US messageId, std::string during)
      : association_(association), cancel_(cancel), presId_(presId), messageId_(messageId),
        during_(std::move(during)) {}

  void Send(T_DIMSE_Message& request, DcmDataset* dataset) {
    const OFCondition cond = DIMSE_sendMessageUsingMemoryData(association_.get(), presId_, &request, nullptr,
                                                              dataset, nullptr, nullptr);
    if (cond.bad()) association_.ThrowTransport(cond, during_, false);
  }

  void SendCancel() {
    if (cancelSent_) return;
    // A cancel that cannot be sent changes nothing: the grace ends in an abort.
    DIMSE_sendCancelRequest(association_.get(), presId_, messageId_);
    cancelSent_ = true;
    cancelDeadline_ = SteadyClock::now() + kCancelGrace;
  }

  bool cancelSent() const { return cancelSent_; }
  bool userCancelled() const { return userCancelled_; }

  // The next response and its data set (null when it has none). False: the
  // archive let the cancel's grace pass, or broke off after a cancel; the
  // caller aborts. A response to another request than ours, or a command or
  // data set that cannot be read, is the archive's protocol error (1009).
  // Both are read here, PDV by PDV, and decoded by received.h: the toolkit's
  // own readers would hand them to its recursive parser unchecked.
  bool Receive(T_DIMSE_Message& message, std::unique_ptr<DcmDataset>& dataset) {
    std::vector<std::uint8_t> bytes;
    T_ASC_PresentationContextID presId = 0;
    if (!Gather(DUL_COMMANDPDV, bytes, presId)) return false;
    std::string why;
    const std::unique_ptr<DcmDataset> command =
        DecodeReceived(bytes.data(), bytes.size(), EXS_LittleEndianImplicit, why);
    if (!command || !ToResponse(*command, message, why)) {
      if (cancelSent_) return false;
      association_.ThrowProtocolError(during_, "a response's command cannot be read: " + why);
    }
    if (const auto answered = AnsweredId(message); answered && *answered != messageId_) {
      if (cancelSent_) return false;
      association_.ThrowProtocolError(during_, "a response answers message ID " + std::to_string(*answered) +
                                                   ", not this request's " + std::to_string(messageId_));
    }
    dataset.reset();
    if (DataSetTypeOf(message) != DIMSE_DATASET_NULL) return ReceiveDataSet(dataset);
    return true;
  }

 private:
  enum class Waited { Data, GraceOver, TimedOut };

  // Waits for the archive in slices of 50 ms. The cancel and its grace are
  // looked at before the socket, on every slice: an archive that goes on
  // talking after C-CANCEL cannot keep the operation alive past the grace.
  Waited WaitForData(SteadyClock::time_point deadline) {
    for (;;) {
      if (!userCancelled_ && cancel_.Requested()) {
        userCancelled_ = true;
        SendCancel();
      }
      const auto now = SteadyClock::now();
      if (cancelSent_ && now >= cancelDeadline_) return Waited::GraceOver;
      if (association_.Shut() || ASC_dataWaiting(association_.get(), 0)) return Waited::Data;
      if (!cancelSent_ && now >= deadline) return Waited::TimedOut;
      const int socket = association_.Socket();
      if (socket < 0) return Waited::Data;  // gone: the read says how
      platform::WaitReadable(socket, kPollMilliseconds);
    }
  }

  // The PDVs of one command or data set, up to the last, each within the
  // time-out of the one before. False: the cancel's grace has passed, or
  // the archive broke off after a cancel.
  bool Gather(DUL_DATAPDV type, std::vector<std::uint8_t>& bytes, T_ASC_PresentationContextID& presId) {
    DUL_ASSOCIATIONKEY** dul = &association_.get()->DULassociation;
    auto deadline = SteadyClock::now() + std::chrono::seconds(association_.timeout());
    for (;;) {
      if (cancelSent_ && SteadyClock::now() >= cancelDeadline_) return false;
      DUL_PDV pdv{};
      // DUL may hold PDVs of a PDU it has read already, which the socket no
      // longer shows: they are taken before anything is waited for.
      OFCondition cond = DUL_NextPDV(dul, &pdv);
      if (cond.bad()) {
        const Waited waited = WaitForData(deadline);
        if (waited == Waited::GraceOver) return false;
        // A socket the watcher shut is not read: on Windows the toolkit's
        // select would wait the whole time-out on it.
        if (waited == Waited::TimedOut) cond = DUL_READTIMEOUT;
        else if (association_.Shut()) cond = DUL_NETWORKCLOSED;
        else cond = DUL_ReadPDVs(dul, nullptr, DUL_NOBLOCK, cancelSent_ ? 1 : association_.timeout());
        // The PDU that arrived is P-DATA: its PDVs are there to take.
        if (cond == DUL_PDATAPDUARRIVED) cond = DUL_NextPDV(dul, &pdv);
        if (cond.bad()) {
          if (cancelSent_) return false;
          association_.ThrowTransport(cond, during_, false);
        }
      }
      if (pdv.pdvType != type || (presId != 0 && pdv.presentationContextID != presId)) {
        if (cancelSent_) return false;
        association_.ThrowProtocolError(during_, type == DUL_COMMANDPDV
                                                     ? "a data set came where a command was expected"
                                                     : "a command came where a data set was expected");
      }
      presId = pdv.presentationContextID;
      const auto* data = static_cast<const std::uint8_t*>(pdv.data);
      if (pdv.fragmentLength > 0) bytes.insert(bytes.end(), data, data + pdv.fragmentLength);
      if (bytes.size() > kMostResponseBytes) {
        if (cancelSent_) return false;
        association_.ThrowProtocolError(during_, "a response is over " +
                                                     std::to_string(kMostResponseBytes >> 20) + " MiB");
      }
      if (pdv.lastPDV) return true;
      deadline = SteadyClock::now() + std::chrono::seconds(association_.timeout());
    }
  }

  // The data set that follows a response.
  bool ReceiveDataSet(std::unique_ptr<DcmDataset>& dataset) {
    std::vector<std::uint8_t> bytes;
    T_ASC_PresentationContextID presId = 0;
    if (!Gather(DUL_DATASETPDV, bytes, presId)) return false;
    T_ASC_PresentationContext context{};
    if (ASC_findAcceptedPresentationContext(association_.get()->params, presId, &context).bad()) {
      if (cancelSent_) return false;
      association_.ThrowProtocolError(during_, "a data set came on presentation context " +
                                                   std::to_string(presId) + ", which was not accepted");
    }
    std::string why;
    dataset = DecodeReceived(bytes.data(), bytes.size(), DcmXfer(context.acceptedTransferSyntax).getXfer(), why);
    if (!dataset) {
      if (cancelSent_) return false;
      association_.ThrowProtocolError(during_, "a response's data set cannot be read: " + why);
    }
    return true;
  }

  // The Message ID Being Responded To of a C-FIND or C-MOVE response.
  static std::optional<DIC_US> AnsweredId(const T_DIMSE_Message& message) {
    switch (message.CommandField) {
      case DIMSE_C_FIND_RSP: return message.msg.CFindRSP.MessageIDBeingRespondedTo;
      case DIMSE_C_MOVE_RSP: return message.msg.CMoveRSP.MessageIDBeingRespondedTo;
      case DIMSE_C_STORE_RSP: return message.msg.CStoreRSP.MessageIDBeingRespondedTo;
      case DIMSE_C_ECHO_RSP: return message.msg.CEchoRSP.MessageIDBeingRespondedTo;
      default: return std::nullopt;
    }
  }

  static T_DIMSE_DataSetType DataSetTypeOf(const T_DIMSE_Message& message) {
    switch (message.CommandField) {
      case DIMSE_C_FIND_RSP: return message.msg.CFindRSP.DataSetType;
      case DIMSE_C_MOVE_RSP: return message.msg.CMoveRSP.DataSetType;
      default: return DIMSE_DATASET_NULL;
    }
  }

  Association& association_;
  const CancelSource& cancel_;
  T_ASC_PresentationContextID presId_;
  DIC_US messageId_;
  std::string during_;
  bool cancelSent_ = false;
  bool userCancelled_ = false;
  SteadyClock::time_point cancelDeadline_{};
};

[[noreturn]] inline void ThrowUnexpected(Association& association, const T_DIMSE_Message& message,
                                  const std::string& during) {
  association.Abort();
  Throw(ErrorCode::NetworkError, "Network error with " + Describe(association.peer()) + " during " + during +
                                     ": unexpected message (command field " +
                                     HexStatus(static_cast<std::uint16_t>(message.CommandField)) + ")");
}

}  // namespace morvanta::dicom::detail
