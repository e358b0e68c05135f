#include "messages/message.h"

namespace morvanta::ui {

QString ErrorText(int number, const QString& description) {
  return QString::number(number) + QStringLiteral(" - ") + description;
}

}  // namespace morvanta::ui
