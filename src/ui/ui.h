#pragma once
// Small pieces every window shares: twips, the designed fonts, and the one
// way a window shows a message box (so tests record messages instead of
// blocking on them).

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace morvanta::ui {

// Application title, the caption of every box without its own title.
inline const QString kAppTitle = QStringLiteral("Morvanta");

// Twips follow the screen's logical DPI: 15 twips are one pixel at 96 DPI.
int Twips(int twips, qreal logicalDpi);
QRect TwipsRect(int left, int top, int width, int height, qreal logicalDpi);
// Places `w` at a rectangle given in twips, with the widget's own logical DPI.
void PlaceTwips(QWidget* w, int left, int top, int width, int height);

QFont Tahoma(qreal pointSize, bool bold = false);

enum class MessageIcon { None, Information, Warning, Critical };
enum class MessageButtons { Ok, OkHelp };

struct Message {
  QString text;
  QString title = kAppTitle;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows the message and returns when the user has dismissed it.
  virtual void Show(const Message& message) = 0;
};

// The real thing: a modal QMessageBox over `parent`.
class BoxMessageSink : public MessageSink {
 public:
  explicit BoxMessageSink(QWidget* parent) : parent_(parent) {}
  void Show(const Message& message) override;

 private:
  QWidget* parent_;
};

// "number - description", the form of every error message.
QString ErrorText(int number, const QString& description);

}  // namespace morvanta::ui
