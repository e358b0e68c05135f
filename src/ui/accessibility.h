#pragma once
// What assistive technology (a screen reader over AT-SPI) is told about the
// windows' controls: names that carry the visible labels, descriptions where
// a label alone says too little, and a focus mark that can be seen.

#include <QPushButton>
#include <QString>

class QLabel;
class QPainter;
class QWidget;

namespace morvanta::ui {

// Ties `label` to `field` (QLabel::setBuddy: the label-for relation, and
// Alt+mnemonic where the caption has one) and gives the field its accessible
// name and, when not empty, its description. The caption is left as it is.
void NameField(QLabel* label, QWidget* field, const QString& name, const QString& description = {});

// Names the count label "Count: <its text>" and announces it: a name
// change of the label, and the new count in the description of `focused`
// (the Search button, which holds the focus after every search), since a
// screen reader speaks changes of the focused control only.
void AnnounceCount(QLabel* count, QWidget* focused);

// Installs, once per process, the accessible interfaces this program adds to
// Qt's: a combo box is named by its accessible name (Qt names it by its
// current value on Linux, so a screen reader would say "MOVE" instead of
// "Send by"). Called by every window that has a combo box, before it is shown.
void InstallAccessibleInterfaces();

// A push button that shows when it has the keyboard focus: a default button
// looks the same focused or not in the platform style, so a frame in the
// text colour is drawn inside its edge while it has the focus.
class FocusMarkedButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A frame `width` pixels wide along the inside of `outer`.
void DrawFrame(QPainter& painter, const QRect& outer, int width, const QColor& colour);

// WCAG 2 contrast ratio of two opaque colours, 1 to 21.
double ContrastRatio(const QColor& a, const QColor& b);

}  // namespace morvanta::ui
