#include "platform/event_pump.h"

#include <thread>

namespace torvan::platform {

namespace {

class NoWindowPump final : public EventPump {
 public:
  void ProcessEvents() override {}
  void Sleep(std::chrono::milliseconds d) override { std::this_thread::sleep_for(d); }
};

}  // namespace

EventPump* ConsolePump() {
  static NoWindowPump pump;
  return &pump;
}

bool PauseLettingEventsRun(EventPump& pump, int steps, std::chrono::milliseconds step,
                           const std::function<bool()>& stop_requested) {
  for (int i = 0; i < steps; ++i) {
    pump.Sleep(step);
    pump.ProcessEvents();
    if (stop_requested && stop_requested()) return false;
  }
  return true;
}

}  // namespace torvan::platform
