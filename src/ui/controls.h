#pragma once
// Controls made as the designed layout places them: named (tests find every
// control by its objectName) and placed in twips within their parent.

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace morvanta::ui {

class OptionalDateEdit;

// A label sized to its text.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top);
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                        int width, int height);
QLineEdit* MakeText(QWidget* parent, const char* name, int left, int top, int width, int height);
OptionalDateEdit* MakeDate(QWidget* parent, const char* name, int left, int top, int width, int height);

}  // namespace morvanta::ui
