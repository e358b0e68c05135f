#pragma once
// The operations of the main window without the window: the settings check
// before each one, the search, Send (by forwarding request or C-MOVE), one at
// a time, cancel, and every error reported through the message sink and the
// log. Widget-free: the window calls it and shows what it reports through
// its signals; tests drive it with the demo archive and no window.

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "config/store.h"
#include "dicom/archive.h"
#include "forward/send.h"
#include "log/log.h"
#include "search/query.h"
#include "search/search_worker.h"
#include "messages/message.h"
#include "operations/audit_record.h"

namespace morvanta::operations {

// The archive's address as the settings give it.
dicom::ArchiveAddress ArchiveAddressFrom(const SettingsValues& values);
// [TLS] as the binding takes it.
dicom::TlsSettings TlsSettingsFrom(const TlsValues& tls);

// How a request to start an operation went.
enum class Start {
  Started,         // running in its worker; busyChanged(true) was emitted
  Busy,            // another operation runs: refused, nothing changed
  NoCriteria,      // an empty search form: the whole archive is never asked
  NotReady,        // Settings.ini is missing or its port unusable: reported
  MatchesNothing,  // the criteria cannot meet: an empty result, the archive not asked
  NoActiveNode,    // C-MOVE without a chosen node: said, nothing sent
  Failed,          // reported
};

struct SearchStart {
  Start start = Start::Failed;
  // The patient name the search composed from last and first name.
  QString composedName;
};

class Controller : public QObject {
  Q_OBJECT

 public:
  // `store`, `log` and `messages` must outlive the controller.
  Controller(const SettingsStore& store, const Log& log, ui::MessageSink& messages,
             QObject* parent = nullptr);
  // Tells a running operation to stop without waiting for its worker (see
  // work::Runner); nothing is reported any more.
  ~Controller() override;

  // The settings values of the run. They change only through the
  // controller: the reload before each operation (GetINI), and the three
  // calls below for the node buttons and the settings dialog.
  const SettingsValues& settings() const { return settings_; }
  // The node button's choice.
  void SetActiveNode(std::string aet) { settings_.ActiveForwardAET = std::move(aet); }
  // The node buttons' entries as the file holds them.
  void SetForwardNodes(const NodeEntries& nodes) { settings_.ForwardNodes = nodes; }
  // The settings dialog's Apply, once the file holds it.
  void TakeApplied(const DialogSettings& applied) { morvanta::TakeApplied(settings_, applied); }
  const SettingsStore& store() const { return store_; }
  ui::MessageSink& messages() { return messages_; }

  // True while a search or a Send runs in its worker.
  bool busy() const;

  // Reloads the archive settings from the file; emits settingsLoaded.
  void GetINI();
  // Settings.ini exists and holds a usable port (reloaded first); otherwise
  // reported (0 or 1010, procedure "CheckInI") and false.
  bool CheckINI();

  // One search of these criteria. The outcome comes back as searchResults
  // (a success) and searchFinished (always).
  SearchStart Search(const search::SearchCriteria& criteria);
  // Forwarding of these studies as [Forward] Method says. An empty UID is a
  // study the archive listed without one: never sent, always reported (as
  // 1011, logged as Send); when every study is such, nothing starts.
  // sendFinished follows a start.
  Start Send(std::vector<std::string> studyUids);
  // The same with each study's patient, for the audit trail.
  Start SendStudies(std::vector<SendStudy> studies);
  // Ends the running search (at once) or Send (after the request in flight).
  void Cancel();

  // Logs the error and shows "number - description" with the critical icon.
  void ReportError(std::int32_t number, const QString& description, std::string_view procedure);
  // The same for the exception being handled; call inside a catch block.
  void ReportCurrentException(std::string_view procedure);

 signals:
  void settingsLoaded(const morvanta::SettingsValues& values);
  // An operation started (true) or ended (false), before its outcome is told.
  void busyChanged(bool busy);
  // A line for the status bar: progress (timeoutMs 0 keeps it) or a note;
  // an empty text clears it.
  void statusNote(const QString& text, int timeoutMs);
  // A search that succeeded (also one that matched nothing without asking).
  void searchResults(const morvanta::search::SearchOutcome& outcome);
  // A search has ended, its outcome applied or reported.
  void searchFinished();
  // A Send has ended and its outcome has been reported.
  void sendFinished(const morvanta::forward::SendOutcome& outcome);

 private:
  void OnSearchEnded(const search::SearchOutcome& outcome);
  void OnSendEnded(const forward::SendOutcome& outcome);
  void Show(const QString& text, ui::MessageIcon icon);

  const SettingsStore& store_;
  const Log& log_;
  ui::MessageSink& messages_;
  SettingsValues settings_;
  // What the audit trail records when the running search or Send ends.
  audit::QueryRecord pendingQuery_;
  std::vector<SendStudy> pendingSend_;
  // Declared last: destroyed first, each cancelling its worker.
  std::unique_ptr<search::SearchRunner> searchRunner_;
  std::unique_ptr<forward::SendRunner> sendRunner_;
};

}  // namespace morvanta::operations
