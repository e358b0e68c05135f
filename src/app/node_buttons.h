#pragma once
// The forward-node buttons: up to eight buttons, one per configured forward
// node, in two rows of four below the search fields; the active node's
// button is green and bold, and the choice is kept in Settings.ini at once.

#include <QColor>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

#include "config/settings.h"
#include "config/store.h"
#include "log/log.h"

namespace morvanta::operations {
class Controller;
}

class QPushButton;

namespace morvanta {

using NodeButtonArray = std::array<QPushButton*, kNodeSlots>;

// The active button's colour: pure green.
inline const QColor kActiveNodeColour{0, 255, 0};

// The AE title a button stands for (the node entry's second piece).
QString NodeAET(const QPushButton* button);
// True when the button shows the active look (green, bold). The active
// button is also checked, for assistive technology.
bool IsNodeHighlighted(const QPushButton* button);

class NodeButtonBar : public QWidget {
  Q_OBJECT

 public:
  // The buttons hand their entries and the choice to `owner`, which holds
  // the settings values, keep the choice through `store`, and log a choice
  // the file would not take to `log`. All three must outlive the bar.
  NodeButtonBar(operations::Controller& owner, const SettingsStore& store, const Log& log,
                QWidget* parent = nullptr);

  // Builds all eight buttons from [Forward] Node0..Node7, starting from a
  // clean state: every button normal, so only the button whose AE title
  // equals ActiveForwardAET ends highlighted. An entry without "|" is all
  // caption with an empty AE title, and an empty AE title never matches.
  void LoadNodeButtons();
  // Makes button `index` (0..7) the active one and writes its AE title to
  // [Forward] Active at once; a file that already holds it is not touched,
  // and a missing file is not created. An index outside 0..7 does nothing.
  void ActivateNode(std::int16_t index);

  // cmdNode_0 .. cmdNode_7; the active one is also the checked one.
  NodeButtonArray cmdNode{};

 private:
  // Checks `chosen` (none when null) and clears the others.
  void SetChecked(QPushButton* chosen);
  operations::Controller& owner_;
  const SettingsStore& store_;
  const Log& log_;
};

}  // namespace morvanta
