#pragma once
// The settings dialog opened as the window opens it, for the dialog's tests
// and the node editor's: a full Settings.ini, its widgets by name and
// the focus order.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "settings_test_support.h"
#include "settings_ui/frm_settings.h"

namespace morvanta::settings_ui::testing {

inline constexpr const char* kFullSettings =
    "[Local]\nAET=STATION1\nPort=4006\n"
    "[Query]\nAET=ARCHIVE\nIP=10.0.0.5\nPort=104\n"
    "[GENERAL]\nStudyDate=0\n"
    "[Forward]\nActive=CTAE\nNode0=CT room|CTAE\nNode1=MR room|MRAE\nNode2=PACS|PACSAE\n"
    "Node3=Lab|LABAE\nNode4=Film|FILMAE\n"
    "[Size]\nSearchHeight=9000\n";

// The next widget Tab moves to.
inline QWidget* NextFocus(QWidget* w) {
  QWidget* next = w->nextInFocusChain();
  while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
  return next;
}

template <class T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(QLatin1String(name));
  if (!child) qFatal("no child %s", name);
  return child;
}

// Dialog opened the way the window opens it: the node table filled from the
// file first (LoadNodeButtons at start-up), then the dialog's own load.
struct Opened {
  explicit Opened(const char* settings) {
    if (settings) host.WriteSettings(settings);
    host.LoadNodeButtons();
    host.loadNodeButtonsCalls = 0;
    dialog = std::make_unique<frmSettings>(nullptr, host);
    dialog->show();
  }
  QPushButton* button(const char* name) { return Child<QPushButton>(dialog.get(), name); }
  QLineEdit* field(const char* name) { return Child<QLineEdit>(dialog.get(), name); }
  QTreeWidget* list() { return Child<QTreeWidget>(dialog.get(), "lvNodes"); }
  QCheckBox* check() { return Child<QCheckBox>(dialog.get(), "chkExtStudy"); }
  bool applyEnabled() { return button("cmdApply")->isEnabled(); }
  QStringList rows() {
    QStringList out;
    for (int i = 0; i < list()->topLevelItemCount(); ++i) {
      out << list()->topLevelItem(i)->text(0) + "/" + list()->topLevelItem(i)->text(1);
    }
    return out;
  }
  void select(int row) { list()->setCurrentItem(list()->topLevelItem(row)); }
  void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

  FakeHost host;
  std::unique_ptr<frmSettings> dialog;
};

}  // namespace morvanta::settings_ui::testing
