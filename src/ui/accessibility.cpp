#include "ui/accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <cmath>

namespace morvanta::ui {

namespace {

// A combo box as Qt presents it, except that its name is its accessible name
// (the label's) and its value is the text it shows. Made for every combo box,
// as the interface is made once, perhaps before the box is named.
class NamedComboBox : public QAccessibleWidget {
 public:
  explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    const QString value = box()->isEditable() ? box()->lineEdit()->text() : box()->currentText();
    if (t == QAccessible::Value) return value;
    // Without a name of its own it is named as Qt names it: by its value.
    if (t == QAccessible::Name && box()->accessibleName().isEmpty()) return value;
    return QAccessibleWidget::text(t);
  }
  int childCount() const override { return box()->isEditable() ? 2 : 1; }
  QAccessibleInterface* child(int index) const override {
    if (index == 0) return QAccessible::queryAccessibleInterface(box()->view());
    if (index == 1 && box()->isEditable()) return QAccessible::queryAccessibleInterface(box()->lineEdit());
    return nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child->object() == box()->view()) return 0;
    if (box()->isEditable() && child->object() == box()->lineEdit()) return 1;
    return -1;
  }
  QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
  void doAction(const QString& action) override {
    if (action != showMenuAction() && action != pressAction()) return;
    if (box()->view()->isVisible()) {
      box()->hidePopup();
    } else {
      box()->showPopup();
    }
  }

 private:
  QComboBox* box() const { return static_cast<QComboBox*>(object()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("QComboBox")) {
    if (auto* box = qobject_cast<QComboBox*>(object)) return new NamedComboBox(box);
  }
  return nullptr;
}

double Luminance(const QColor& colour) {
  const auto channel = [](double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = colour.toRgb();
  return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

}  // namespace

void NameField(QLabel* label, QWidget* field, const QString& name, const QString& description) {
  if (label != nullptr) label->setBuddy(field);
  field->setAccessibleName(name);
  if (!description.isEmpty()) field->setAccessibleDescription(description);
}

void AnnounceCount(QLabel* count, QWidget* focused) {
  const QString name = QStringLiteral("Count: %1").arg(count->text());
  if (count->accessibleName() == name) {
    // The same count again is still news: this search has ended.
    QAccessibleEvent event(count, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
  } else {
    count->setAccessibleName(name);
  }
  if (focused != nullptr) {
    QString description = focused->accessibleDescription();
    if (const qsizetype end = description.indexOf(QLatin1String(". ")); description.startsWith(QLatin1String("Count: ")) && end >= 0)
      description.remove(0, end + 2);
    focused->setAccessibleDescription(name + QStringLiteral(". ") + description);
  }
}

void InstallAccessibleInterfaces() {
  static const bool installed = [] {
    QAccessible::installFactory(&Factory);
    return true;
  }();
  (void)installed;
}

void FocusMarkedButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (!hasFocus()) return;
  // Two pixels in the text colour, three inside the edge: clear of the
  // default-button frame, and far over 3:1 against the button face.
  QPainter painter(this);
  DrawFrame(painter, rect().adjusted(3, 3, -3, -3), 2, palette().color(QPalette::ButtonText));
}

void DrawFrame(QPainter& painter, const QRect& outer, int width, const QColor& colour) {
  if (outer.width() <= 2 * width || outer.height() <= 2 * width) return;
  painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), width), colour);
  painter.fillRect(QRect(outer.left(), outer.bottom() - width + 1, outer.width(), width), colour);
  painter.fillRect(QRect(outer.left(), outer.top() + width, width, outer.height() - 2 * width), colour);
  painter.fillRect(QRect(outer.right() - width + 1, outer.top() + width, width, outer.height() - 2 * width),
                   colour);
}

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace morvanta::ui
