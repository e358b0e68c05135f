#include "app/modGlobal.h"

#include <QApplication>
#include <QPushButton>
#include <QVariant>


namespace morvanta::modGlobal {

namespace {

constexpr const char* kTagProperty = "tag";

void SetTag(QPushButton* button, const QString& tag) {
  button->setProperty(kTagProperty, tag);
}

// Node buttons are drawn flat in one colour, so that the active node shows
// exactly the green it is given (the platform style would shade it into a
// gradient). Normal buttons get the application's button face.
QString ButtonSheet(const QString& colour) {
  return QStringLiteral(
             "QPushButton { background-color: %1; border: 1px solid "
             "palette(dark); border-radius: 2px; padding: 2px; }"
             "QPushButton:pressed { border: 2px inset palette(dark); }"
             "QPushButton:focus { border: 1px dotted palette(text); }")
      .arg(colour);
}

void SetBold(QPushButton* button, bool bold) {
  QFont font = button->font();
  font.setBold(bold);
  button->setFont(font);
}

void ShowNormal(QPushButton* button) {
  button->setStyleSheet(ButtonSheet(QStringLiteral("palette(button)")));
  button->setPalette(QPalette());
  SetBold(button, false);
}

void ShowActive(QPushButton* button) {
  button->setStyleSheet(ButtonSheet(kActiveNodeColour.name()));
  QPalette palette = button->palette();
  palette.setColor(QPalette::Button, kActiveNodeColour);
  button->setPalette(palette);
  SetBold(button, true);
}

}  // namespace

QString NodeTag(const QPushButton* button) {
  return button->property(kTagProperty).toString();
}

bool IsNodeHighlighted(const QPushButton* button) {
  return button->palette().color(QPalette::Button) == kActiveNodeColour &&
         button->font().bold();
}

void LoadNodeButtons(const NodeButtons& nodes) {
  // A rebuild after the node list changed must not leave an old highlight
  // on a button that now shows another node.
  for (QPushButton* button : nodes.cmdNode) ShowNormal(button);

  const std::array<std::string, kNodeSlots> entries = nodes.store.ForwardNodes();
  for (int i = 0; i < kNodeSlots; ++i) {
    QPushButton* button = nodes.cmdNode[static_cast<std::size_t>(i)];
    const std::string& entry = entries[static_cast<std::size_t>(i)];
    nodes.values.ForwardNodes[static_cast<std::size_t>(i)] = entry;
    if (entry.empty()) {
      button->setText(QString());
      SetTag(button, QString());
      button->hide();
      continue;
    }
    const NodeEntry node = ParseNodeEntry(entry);
    const QString aet = QString::fromStdString(node.aet);
    button->setText(QString::fromStdString(node.alias));
    SetTag(button, aet);
    // A node without an AE title is never "the active one", even while no
    // node has been chosen yet (both empty).
    if (!node.aet.empty() && node.aet == nodes.values.ActiveForwardAET) {
      ActivateNode(nodes, static_cast<std::int16_t>(i));
    }
    button->show();
  }
}

void ActivateNode(const NodeButtons& nodes, std::int16_t index) {
  if (index < 0 || index >= kNodeSlots) return;
  for (QPushButton* button : nodes.cmdNode) ShowNormal(button);
  QPushButton* chosen = nodes.cmdNode[static_cast<std::size_t>(index)];
  ShowActive(chosen);
  nodes.values.ActiveForwardAET = NodeTag(chosen).toStdString();
  // The choice is remembered at once; a failed write only loses the memory
  // of the choice, not the choice for this run, so it is logged rather than
  // shown.
  const SaveResult saved = nodes.store.SaveActiveNode(nodes.values.ActiveForwardAET);
  if (!saved && nodes.log != nullptr) (void)nodes.log->LogError(0, saved.error, "cmdNode_Click");
}

}  // namespace morvanta::modGlobal
