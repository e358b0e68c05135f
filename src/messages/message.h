#pragma once
// What the program tells the user, and the one way it is told: the operations
// report through a MessageSink and never see a window, so they link Qt Core
// only. The box that shows a message is ui::BoxMessageSink; tests record
// messages instead of blocking on them. The namespace is the user
// interface's: these are its words, not its widgets.

#include <QString>

namespace morvanta::ui {

// Application title, the caption of every box without its own title.
inline const QString kAppTitle = QStringLiteral("Morvanta");

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

// "number - description", the form of every error message.
QString ErrorText(int number, const QString& description);

}  // namespace morvanta::ui
