#include "settings_ui/dialog_frame.h"

#include <QDialog>

#include "ui/ui.h"

namespace morvanta::settings_ui {

void MakeFixedDialog(QDialog* dialog, int widthTwips, int heightTwips) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog->setFont(ui::Tahoma(kDialogPointSize));
  const qreal dpi = dialog->logicalDpiY();
  dialog->setFixedSize(ui::Twips(widthTwips, dpi), ui::Twips(heightTwips, dpi));
}

void MakeBold(QWidget* widget) { widget->setFont(ui::Tahoma(kDialogPointSize, true)); }

}  // namespace morvanta::settings_ui
