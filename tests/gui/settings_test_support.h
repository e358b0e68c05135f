#pragma once
// Stand-ins for the main window in the settings dialogs' tests: a host that
// keeps its settings values, reads the real Settings.ini in a temporary
// program directory and records what the dialogs ask of it; a message sink
// that records instead of blocking; and a way to act on a modal dialog once
// exec() has shown it.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "config/profile.h"
#include "config/settings.h"
#include "settings_ui/settings_ui.h"
#include "ui/ui.h"

namespace morvanta::settings_ui::testing {

class RecordingSink : public ui::MessageSink {
 public:
  void Show(const ui::Message& message) override { shown.push_back(message); }
  std::vector<ui::Message> shown;
};

class FakeHost : public SettingsHost {
 public:
  FakeHost() : file(SettingsPath(dir.path().toStdString())) {}

  void GetINI() override {
    ++getIniCalls;
    LoadArchiveSettings(settings, file);
    dateRangeVisible = settings.ExtStudyDate;
  }
  const SettingsValues& values() const override { return settings; }
  void TakeApplied(const DialogSettings& applied) override { morvanta::TakeApplied(settings, applied); }
  void SetDateRangeVisible(bool visible) override { dateRangeVisible = visible; }
  void LoadNodeButtons() override {
    ++loadNodeButtonsCalls;
    for (int i = 0; i < kNodeSlots; ++i) {
      settings.ForwardNodes[static_cast<std::size_t>(i)] = NodeSlot(ReadINI("Forward", NodeKey(i), "", file));
    }
  }
  // Follows `file`, which a test may point elsewhere.
  const SettingsStore& store() const override {
    store_ = SettingsStore(file);
    return store_;
  }
  ui::MessageSink& messages() override { return sink; }

  // Writes Settings.ini as given ("\n" becomes CR LF).
  void WriteSettings(QByteArray text) const {
    text.replace("\n", "\r\n");
    QFile out(QString::fromStdString(file.string()));
    if (out.open(QIODevice::WriteOnly)) out.write(text);
  }
  QByteArray SettingsText() const {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
  }
  std::string Read(const char* section, const std::string& key,
                   const char* fallback = "<missing>") const {
    return ReadINI(section, key, fallback, file);
  }

  QTemporaryDir dir;
  std::filesystem::path file;
  mutable SettingsStore store_{file};
  SettingsValues settings;
  RecordingSink sink;
  int getIniCalls = 0;
  int loadNodeButtonsCalls = 0;
  std::optional<bool> dateRangeVisible;
};

// Runs `action` on the first modal dialog of type T that becomes active. If
// none appears before the deadline, every modal dialog is rejected so the test
// ends instead of hanging, and `*missed` is set.
//
// Active means what a user's keys need: the window activated and a widget in
// it holding the focus. A dialog is the modal widget as soon as exec() shows
// it, but its activation is an event of its own that a busy machine delivers
// later; keys sent before it find no focus widget.
template <class T>
void WhenModal(std::function<void(T*)> action, bool* missed = nullptr) {
  auto* timer = new QTimer(qApp);
  const QDeadlineTimer deadline(10000);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, action, missed] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dialog && QApplication::activeWindow() == dialog && dialog->isAncestorOf(QApplication::focusWidget())) {
      timer->stop();
      timer->deleteLater();
      action(dialog);
      return;
    }
    if (deadline.hasExpired()) {
      timer->stop();
      timer->deleteLater();
      if (missed) *missed = true;
      while (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
    }
  });
  timer->start(5);
}

}  // namespace morvanta::settings_ui::testing
