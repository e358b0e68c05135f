#include "ui/ui.h"

#include <QMessageBox>
#include <QWidget>
#include <cmath>

#include "ui/shown_text.h"

namespace morvanta::ui {

int Twips(int twips, qreal logicalDpi) {
  return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

QRect TwipsRect(int left, int top, int width, int height, qreal logicalDpi) {
  return {Twips(left, logicalDpi), Twips(top, logicalDpi),
          Twips(width, logicalDpi), Twips(height, logicalDpi)};
}

void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(TwipsRect(left, top, width, height, w->logicalDpiY()));
}

QFont Tahoma(qreal pointSize, bool bold) {
  // The layout was designed for Tahoma. Where it is not installed, a font of
  // similar width keeps captions inside their controls (the usual fallback,
  // DejaVu Sans, is wider and cuts them off).
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    return true;
  }();
  (void)substituted;
  QFont font(QStringLiteral("Tahoma"));
  font.setPointSizeF(pointSize);
  font.setBold(bold);
  return font;
}

void BoxMessageSink::Show(const Message& message) {
  QMessageBox box(parent_);
  // A message carries what Settings.ini and the archive said: shown as the
  // characters they are, never as markup, and with nothing hidden in them.
  box.setWindowTitle(ShownMessage(message.title, kShownChars));
  box.setTextFormat(Qt::PlainText);
  box.setText(ShownMessage(message.text));
  switch (message.icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
  }
  box.setStandardButtons(message.buttons == MessageButtons::OkHelp
                             ? QMessageBox::Ok | QMessageBox::Help
                             : QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace morvanta::ui
