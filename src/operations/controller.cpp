#include "operations/controller.h"

#include <algorithm>
#include <utility>

#include "dicom/errors.h"

namespace morvanta::operations {

namespace {

const QString kSendDoneText = QStringLiteral(
    "Request(s) completed.\r\nThis process might take a few seconds.");
const QString kSearchCancelledNote = QStringLiteral("Search cancelled.");
const QString kNoActiveNodeText = QStringLiteral(
    "Choose a forward node first: click one of the node buttons.\r\n"
    "Nothing was sent.");
constexpr int kNoteMs = 5000;

}  // namespace

dicom::TlsSettings TlsSettingsFrom(const TlsValues& tls) {
  return {tls.Enabled, tls.CACertificates, tls.Certificate, tls.PrivateKey, tls.ServerName, tls.CRL};
}

dicom::ArchiveAddress ArchiveAddressFrom(const SettingsValues& values) {
  return {values.QueryIP,          values.QueryPort, values.QueryAET, values.LocalAET,
          values.TimeoutSeconds, TlsSettingsFrom(values.Tls)};
}

Controller::Controller(const SettingsStore& store, const Log& log, ui::MessageSink& messages,
                       QObject* parent)
    : QObject(parent),
      store_(store),
      log_(log),
      messages_(messages),
      searchRunner_(std::make_unique<search::SearchRunner>()),
      sendRunner_(std::make_unique<forward::SendRunner>()) {
  qRegisterMetaType<search::SearchOutcome>();
  qRegisterMetaType<forward::SendOutcome>();
  // Results past the too-many count are never shown: the archive is asked to
  // stop there rather than send every match of a large archive.
  searchRunner_->setResultLimit(search::kSearchResultLimit);
  connect(searchRunner_.get(), &search::SearchRunner::finished, this, &Controller::OnSearchEnded);
  connect(sendRunner_.get(), &forward::SendRunner::finished, this, &Controller::OnSendEnded);
  connect(sendRunner_.get(), &forward::SendRunner::progress, this,
          [this](int k, int n) { emit statusNote(forward::SendingText(k, n), 0); });
  connect(sendRunner_.get(), &forward::SendRunner::moveProgress, this,
          [this](const forward::MoveProgressInfo& info) { emit statusNote(forward::MovingText(info), 0); });
}

// The runners cancel their workers when they go and do not wait for them,
// so a program being closed never sits out a network time-out; what the
// workers report is dropped. A search ends at once, a Send after the request
// in flight or a second's grace for it (what was stored stays stored).
Controller::~Controller() = default;

bool Controller::busy() const { return searchRunner_->isRunning() || sendRunner_->isRunning(); }

void Controller::GetINI() {
  store_.LoadArchive(settings_);
  emit settingsLoaded(settings_);
}

bool Controller::CheckINI() {
  if (!store_.Exists()) {
    ReportError(0, QStringLiteral("Settings.ini existiert nicht."), "CheckInI");
    return false;
  }
  GetINI();
  // Said here with what the file holds; the toolkit would only see the
  // number it became.
  if (const auto problem = PortProblem(settings_)) {
    ReportError(static_cast<std::int32_t>(dicom::ErrorCode::InvalidArgument), QString::fromStdString(*problem),
                "CheckInI");
    return false;
  }
  return true;
}

SearchStart Controller::Search(const search::SearchCriteria& criteria) {
  // One operation at a time: a second search (or one during a Send) is
  // refused and leaves everything as it is.
  if (busy()) return {Start::Busy, {}};
  // What is typed now decides, the names included; an empty form never
  // runs a search of the whole archive.
  if (!search::HasCriteria(criteria)) return {Start::NoCriteria, {}};
  if (!CheckINI()) return {Start::NotReady, {}};
  try {
    // The identifier is complete before the worker starts: the criteria may
    // change as soon as this returns.
    const search::IdentifierPlan plan = search::BuildIdentifier(criteria, settings_.QueryModalityKey);
    if (plan.matchesNothing) {
      // The shortcut's days and the range do not meet: no study can match,
      // and the archive is not asked.
      emit searchResults(search::SearchOutcome{});
      emit searchFinished();
      return {Start::MatchesNothing, plan.composedName};
    }
    const dicom::DataSet identifier = search::MakeIdentifier(plan.keys);
    pendingQuery_ = QueryStarted(identifier);
    if (!searchRunner_->start(ArchiveAddressFrom(settings_), identifier)) return {Start::Busy, plan.composedName};
    emit busyChanged(true);
    return {Start::Started, plan.composedName};
  } catch (...) {
    ReportCurrentException("cmdSearch_Click");
    return {Start::Failed, {}};
  }
}

void Controller::OnSearchEnded(const search::SearchOutcome& outcome) {
  RecordSearch(settings_, std::move(pendingQuery_), outcome);
  emit busyChanged(false);
  if (outcome.cancelled) {
    // The user's choice, not a failure: nothing logged, results as they were.
    emit statusNote(kSearchCancelledNote, kNoteMs);
  } else if (!outcome.ok()) {
    ReportError(outcome.error->number, QString::fromStdString(outcome.error->description), "cmdSearch_Click");
  } else {
    emit searchResults(outcome);
    // The rows that came are shown first; the message then says they may
    // not be all.
    if (outcome.incomplete)
      ReportError(outcome.incomplete->number, QString::fromStdString(outcome.incomplete->description),
                  "cmdSearch_Click");
  }
  emit searchFinished();
}

Start Controller::Send(std::vector<std::string> studyUids) {
  std::vector<SendStudy> studies;
  for (std::string& uid : studyUids) studies.push_back({std::move(uid), {}, {}});
  return SendStudies(std::move(studies));
}

Start Controller::SendStudies(std::vector<SendStudy> studies) {
  std::vector<std::string> studyUids;
  for (const SendStudy& study : studies) studyUids.push_back(study.uid);
  if (busy()) return Start::Busy;
  if (!CheckINI()) return Start::NotReady;
  try {
    const dicom::ArchiveAddress archive = ArchiveAddressFrom(settings_);
    // Studies the archive listed without a Study Instance UID cannot be
    // asked for. With others beside them the others go and the message
    // names what did not; with none beside them there is nothing to send.
    const auto withoutUid = std::count(studyUids.begin(), studyUids.end(), std::string());
    if (withoutUid > 0 && withoutUid == static_cast<std::ptrdiff_t>(studyUids.size())) {
      const int n = static_cast<int>(withoutUid);
      ReportError(static_cast<std::int32_t>(dicom::ErrorCode::EncodingFailed),
                  forward::NoStudyUidText(dicom::Describe({archive.calledAET, archive.host, archive.port}), n, n),
                  "Send");
      return Start::Failed;
    }
    bool started = false;
    if (settings_.ForwardBy == ForwardMethod::Move) {
      // The node buttons choose where a C-MOVE sends the studies; without a
      // chosen node there is nowhere to send them.
      if (settings_.ActiveForwardAET.empty()) {
        Show(kNoActiveNodeText, ui::MessageIcon::Information);
        return Start::NoActiveNode;
      }
      started = sendRunner_->startMove(archive, std::move(studyUids), settings_.ActiveForwardAET);
    } else {
      started = sendRunner_->start(archive, std::move(studyUids));
    }
    if (!started) return Start::Busy;
    pendingSend_ = std::move(studies);
    emit busyChanged(true);
    return Start::Started;
  } catch (...) {
    ReportCurrentException("Send");
    return Start::Failed;
  }
}

void Controller::OnSendEnded(const forward::SendOutcome& outcome) {
  RecordSend(settings_, std::exchange(pendingSend_, {}), outcome.moved, outcome.destination, outcome);
  emit busyChanged(false);
  emit statusNote(QString(), 0);  // the progress line goes before the outcome is told
  // Studies that could not be sent are said with whatever else is said:
  // never left out of a completion message, never counted as sent.
  const QString notSent = outcome.skipped == 0 ? QString()
                                               : forward::NoStudyUidText(outcome.archive, outcome.skipped,
                                                                         outcome.total + outcome.skipped);
  if (outcome.cancelled) {
    // The user's choice: told how far it got, nothing logged.
    Show(forward::SendCancelledText(outcome) + (notSent.isEmpty() ? QString() : "\r\n" + notSent),
         ui::MessageIcon::Information);
  } else if (!outcome.ok()) {
    // Requests already stored stay stored; the rest were not attempted.
    ReportError(outcome.error->number,
                QString::fromStdString(outcome.error->description) + (notSent.isEmpty() ? QString() : " " + notSent),
                "Send");
  } else {
    if (!outcome.releaseNote.empty()) (void)log_.LogDebug(outcome.releaseNote);
    if (!notSent.isEmpty()) {
      const QString done = outcome.moved ? forward::MoveDoneText(outcome)
                                         : QStringLiteral("%1 of %2 requests for the other studies were stored.")
                                               .arg(outcome.done)
                                               .arg(outcome.total);
      ReportError(static_cast<std::int32_t>(dicom::ErrorCode::EncodingFailed), notSent + " " + done, "Send");
    } else if (outcome.moved) {
      Show(forward::MoveDoneText(outcome),
           outcome.imagesFailed > 0 ? ui::MessageIcon::Warning : ui::MessageIcon::Information);
    } else {
      Show(kSendDoneText, ui::MessageIcon::Information);
    }
  }
  emit sendFinished(outcome);
}

void Controller::Cancel() {
  if (searchRunner_->isRunning()) searchRunner_->cancel();
  if (sendRunner_->isRunning()) {
    sendRunner_->cancel();
    emit statusNote(QStringLiteral("Cancelling: the request under way is finished first..."), 0);
  }
}

void Controller::ReportError(std::int32_t number, const QString& description, std::string_view procedure) {
  // A log that cannot be written must not keep the user from the message.
  (void)log_.LogError(number, description.toStdString(), procedure);
  messages_.Show(ui::Message{ui::ErrorText(number, description), ui::kAppTitle, ui::MessageIcon::Critical,
                             ui::MessageButtons::Ok});
}

void Controller::ReportCurrentException(std::string_view procedure) {
  const dicom::Failure failure = dicom::CurrentFailure();
  ReportError(failure.number, QString::fromStdString(failure.description), procedure);
}

void Controller::Show(const QString& text, ui::MessageIcon icon) {
  messages_.Show(ui::Message{text, ui::kAppTitle, icon, ui::MessageButtons::Ok});
}

}  // namespace morvanta::operations
