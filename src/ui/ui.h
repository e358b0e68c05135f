#pragma once
// Small pieces every window shares: twips, the designed fonts, and the one
// way a window shows a message box (so tests record messages instead of
// blocking on them).

#include <QFont>
#include <QRect>
#include <QString>

#include "messages/message.h"

class QWidget;

namespace morvanta::ui {

// Twips follow the screen's logical DPI: 15 twips are one pixel at 96 DPI.
int Twips(int twips, qreal logicalDpi);
QRect TwipsRect(int left, int top, int width, int height, qreal logicalDpi);
// Places `w` at a rectangle given in twips, with the widget's own logical DPI.
void PlaceTwips(QWidget* w, int left, int top, int width, int height);

QFont Tahoma(qreal pointSize, bool bold = false);

// The real thing: a modal QMessageBox over `parent`.
class BoxMessageSink : public MessageSink {
 public:
  explicit BoxMessageSink(QWidget* parent) : parent_(parent) {}
  void Show(const Message& message) override;

 private:
  QWidget* parent_;
};

}  // namespace morvanta::ui
