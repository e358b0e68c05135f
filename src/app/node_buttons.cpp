#include "app/node_buttons.h"

#include <QApplication>
#include <QPushButton>
#include <QVariant>

#include "operations/controller.h"
#include "ui/ui.h"


namespace morvanta {

namespace {

constexpr const char* kAetProperty = "aet";

// A node button tells assistive technology which node is the active one: it
// is checkable, and the bar keeps one checked at a time. Not through an
// exclusive button group (nor auto-exclusive buttons): Tab would then stop
// only at the checked button, and the arrow keys would choose nodes. Its
// style sheet draws checked and unchecked alike: green and bold say
// "active", as they always have.
class NodeButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  // A click checks, never unchecks: the active node stays active when it is
  // chosen again.
  void nextCheckState() override {
    if (!isChecked()) setChecked(true);
  }
};

void SetNodeAET(QPushButton* button, const QString& aet) {
  button->setProperty(kAetProperty, aet);
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

QString NodeAET(const QPushButton* button) {
  return button->property(kAetProperty).toString();
}

bool IsNodeHighlighted(const QPushButton* button) {
  return button->palette().color(QPalette::Button) == kActiveNodeColour &&
         button->font().bold();
}

NodeButtonBar::NodeButtonBar(operations::Controller& owner, const SettingsStore& store, const Log& log,
                             QWidget* parent)
    : QWidget(parent), owner_(owner), store_(store), log_(log) {
  setObjectName(QStringLiteral("nodeButtons"));
  // Two rows of four, in twips from the bar's corner.
  static constexpr std::array<int, 4> kLeft{0, 2025, 4050, 6075};
  for (int i = 0; i < kNodeSlots; ++i) {
    auto* button = new NodeButton(this);
    button->setObjectName(QStringLiteral("cmdNode_%1").arg(i));
    ui::PlaceTwips(button, kLeft[static_cast<std::size_t>(i % 4)], i < 4 ? 0 : 540, 1860, 420);
    button->setCheckable(true);
    cmdNode[static_cast<std::size_t>(i)] = button;
    connect(button, &QPushButton::clicked, this, [this, i] { ActivateNode(static_cast<std::int16_t>(i)); });
  }
}

void NodeButtonBar::LoadNodeButtons() {
  // A rebuild after the node list changed must not leave an old highlight
  // on a button that now shows another node.
  for (QPushButton* button : cmdNode) ShowNormal(button);
  SetChecked(nullptr);

  const NodeEntries entries = store_.ForwardNodes();
  owner_.SetForwardNodes(entries);
  for (int i = 0; i < kNodeSlots; ++i) {
    QPushButton* button = cmdNode[static_cast<std::size_t>(i)];
    const std::optional<NodeEntry>& node = entries[static_cast<std::size_t>(i)];
    if (!node) {
      button->setText(QString());
      SetNodeAET(button, QString());
      button->setAccessibleName(QString());
      button->setAccessibleDescription(QString());
      button->hide();
      continue;
    }
    const QString aet = QString::fromStdString(node->aet);
    button->setText(QString::fromStdString(node->alias));
    SetNodeAET(button, aet);
    // Named by its caption; a node without an alias by its AE title.
    button->setAccessibleName(node->alias.empty() ? QStringLiteral("Forward node %1").arg(aet) : QString());
    button->setAccessibleDescription(
        QStringLiteral("Forward node, AE title %1. The checked node is the active one.").arg(aet));
    // A node without an AE title is never "the active one", even while no
    // node has been chosen yet (both empty).
    if (!node->aet.empty() && node->aet == owner_.settings().ActiveForwardAET) {
      ActivateNode(static_cast<std::int16_t>(i));
    }
    button->show();
  }
}

void NodeButtonBar::ActivateNode(std::int16_t index) {
  if (index < 0 || index >= kNodeSlots) return;
  for (QPushButton* button : cmdNode) ShowNormal(button);
  QPushButton* chosen = cmdNode[static_cast<std::size_t>(index)];
  ShowActive(chosen);
  SetChecked(chosen);
  owner_.SetActiveNode(NodeAET(chosen).toStdString());
  // The choice is remembered at once; a failed write only loses the memory
  // of the choice, not the choice for this run, so it is logged rather than
  // shown.
  const SaveResult saved = store_.SaveActiveNode(owner_.settings().ActiveForwardAET);
  if (!saved) (void)log_.LogError(0, saved.error, "cmdNode_Click");
}

void NodeButtonBar::SetChecked(QPushButton* chosen) {
  // One change per button for a screen reader to hear: the chosen one was
  // checked by its click already, or is checked here.
  for (QPushButton* button : cmdNode) {
    if (button != chosen) button->setChecked(false);
  }
  if (chosen != nullptr) chosen->setChecked(true);
}

}  // namespace morvanta
