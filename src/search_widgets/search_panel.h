#pragma once
// The search panel: patient ID, names, date of birth, modality, the
// study-date range row and Search. criteria() is what a search asks for; the
// date shortcuts add their dates to it rather than to a field.

#include <QDate>
#include <QString>
#include <QWidget>
#include <array>

#include "search/query.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace morvanta::ui {
class OptionalDateEdit;
}

namespace morvanta::search {

class SearchPanel : public QWidget {
  Q_OBJECT

 public:
  // Named "picSearch", its controls placed as designed.
  explicit SearchPanel(QWidget* parent = nullptr);

  // The panel as the user left it (no shortcut date: a shortcut adds its own).
  SearchCriteria criteria() const;
  // Every date field empty, showing `today`; the modality list filled, nothing picked.
  void Reset(const QDate& today);
  // Shows or hides the four controls of the study-date range row together.
  void SetDateRangeVisible(bool visible);

  // Controls, named as the rest of the program knows them.
  std::array<QLabel*, 8> lblSearch{};
  QLineEdit* txtPatID = nullptr;
  QLineEdit* txtLastName = nullptr;
  QLineEdit* txtFirstName = nullptr;
  QLineEdit* txtPatName = nullptr;  // never shown: the composed patient name
  ui::OptionalDateEdit* dtpDOB = nullptr;
  ui::OptionalDateEdit* dtpStudy1 = nullptr;
  ui::OptionalDateEdit* dtpStudy2 = nullptr;
  QComboBox* cboMod = nullptr;
  QPushButton* cmdSearch = nullptr;

 private:
  void NameForAssistiveTechnology();
};

}  // namespace morvanta::search
