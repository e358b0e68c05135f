#pragma once
// The forward-node buttons: up to eight buttons, one per configured forward
// node; the active node's button is green and bold, and the choice is kept in
// Settings.ini at once.

#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <filesystem>

#include "config/settings.h"
#include "config/store.h"
#include "log/log.h"

class QPushButton;

namespace morvanta::modGlobal {

using NodeButtonArray = std::array<QPushButton*, kNodeSlots>;

// The active button's colour: pure green.
inline const QColor kActiveNodeColour{0, 255, 0};

// What the buttons work on: the buttons, the values they read and change
// (ForwardNodes, ActiveForwardAET) and the settings file.
// A choice that cannot be written to the file is logged to `log`.
struct NodeButtons {
  NodeButtonArray& cmdNode;
  SettingsValues& values;
  const SettingsStore& store;
  const Log* log = nullptr;
};

// The AE title a button stands for (the node entry's second piece).
QString NodeTag(const QPushButton* button);

// Builds all eight buttons from [Forward] Node0..Node7, starting from a clean
// state: every button normal, so only the button whose AE title equals
// ActiveForwardAET ends highlighted. An entry without "|" is all caption with
// an empty AE title, and an empty AE title never matches.
void LoadNodeButtons(const NodeButtons& nodes);

// Makes button `index` (0..7) the active one and writes its AE title to
// [Forward] Active at once; a file that already holds it is not touched, and
// a missing file is not created. An index outside 0..7 does nothing.
void ActivateNode(const NodeButtons& nodes, std::int16_t index);

// True when the button shows the active look (green, bold).
bool IsNodeHighlighted(const QPushButton* button);

}  // namespace morvanta::modGlobal
