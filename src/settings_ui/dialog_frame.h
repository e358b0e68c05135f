#pragma once
// What the three settings dialogs share: a fixed-size frame without minimize
// and maximize buttons, a client area given in twips, and the designed fonts.

#include <QtGlobal>

class QDialog;
class QWidget;

namespace morvanta::settings_ui {

inline constexpr qreal kDialogPointSize = 8.25;

// Fixed client area of `widthTwips` x `heightTwips`, title bar with the close
// box only, regular Tahoma 8.25 pt as the dialog's font.
void MakeFixedDialog(QDialog* dialog, int widthTwips, int heightTwips);

// Labels, buttons and check boxes are drawn in bold.
void MakeBold(QWidget* widget);

}  // namespace morvanta::settings_ui
