#include "ui/controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/optional_date_edit.h"
#include "ui/ui.h"

namespace morvanta::ui {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);  // never markup, whatever a caption holds
  label->setObjectName(QString::fromLatin1(name));
  PlaceTwips(label, left, top, 0, 0);
  label->adjustSize();  // sized to its text
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                        int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  PlaceTwips(button, left, top, width, height);
  return button;
}

QLineEdit* MakeText(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* text = new QLineEdit(parent);
  text->setObjectName(QString::fromLatin1(name));
  PlaceTwips(text, left, top, width, height);
  return text;
}

OptionalDateEdit* MakeDate(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* date = new OptionalDateEdit(parent);
  date->setObjectName(QString::fromLatin1(name));
  PlaceTwips(date, left, top, width, height);
  return date;
}

}  // namespace morvanta::ui
