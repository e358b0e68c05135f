#pragma once
// A message sink that records what the program would show the user, instead
// of a box that waits for a click: the tests read it afterwards.

#include <vector>

#include "messages/message.h"

namespace morvanta::test {

class RecordingSink : public ui::MessageSink {
 public:
  void Show(const ui::Message& message) override { shown.push_back(message); }
  std::vector<ui::Message> shown;
};

}  // namespace morvanta::test
