#pragma once
// Inside the binding only: the request and responses of one DIMSE operation
// (C-FIND or C-MOVE) on an open association.
#include "dicom/association.h"

namespace morvanta::dicom::detail {

// The responses of one request (C-FIND or C-MOVE) on an open association,
// read in slices of 50 ms so that a cancel is seen while the archive is
// silent; the cancel itself goes out as C-CANCEL (PS3.7 9.3.2.3, 9.3.4.3).
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
  // caller aborts.
  bool Receive(T_DIMSE_Message& message, std::unique_ptr<DcmDataset>& dataset) {
    const auto deadline = SteadyClock::now() + std::chrono::seconds(association_.timeout());
    int wait = association_.timeout();
    for (;;) {
      if (!userCancelled_ && cancel_.Requested()) {
        userCancelled_ = true;
        SendCancel();
      }
      if (ASC_dataWaiting(association_.get(), 0)) break;
      const auto now = SteadyClock::now();
      if (cancelSent_ && now >= cancelDeadline_) return false;
      // DUL may hold PDVs of a PDU it has read already, which the socket no
      // longer shows: a read that does not wait (0 s) finds them before the
      // time-out is reported.
      if (!cancelSent_ && now >= deadline) {
        wait = 0;
        break;
      }
      pollfd waiting{association_.Socket(), POLLIN, 0};
      if (waiting.fd < 0) break;
      ::poll(&waiting, 1, kPollMilliseconds);
    }
    if (cancelSent_) wait = 1;
    T_ASC_PresentationContextID presId = 0;
    DcmDataset* rawDetail = nullptr;
    OFCondition cond = DIMSE_receiveCommand(association_.get(), DIMSE_NONBLOCKING, wait, &presId, &message, &rawDetail);
    delete rawDetail;
    if (cond.bad()) {
      if (cancelSent_) return false;
      association_.ThrowTransport(cond, during_, false);
    }
    dataset.reset();
    if (DataSetTypeOf(message) != DIMSE_DATASET_NULL) {
      DcmDataset* raw = nullptr;
      // The data set follows its command at once; a slice of 0 s must not end it.
      cond = DIMSE_receiveDataSetInMemory(association_.get(), DIMSE_NONBLOCKING, std::max(wait, 1), &presId, &raw, nullptr,
                                          nullptr);
      dataset.reset(raw);
      if (cond.bad()) {
        if (cancelSent_) return false;
        association_.ThrowTransport(cond, during_, false);
      }
    }
    return true;
  }

 private:
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
