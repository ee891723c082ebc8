#include "core/program.h"

namespace torvan {

Program::Program(Paths p, platform::Clock* c, platform::EventPump* e)
    : paths(std::move(p)), clock(c), pump(e), log(*this) {
  // The first cycle must make the time exchange: start one day in the past.
  state.LastTimeExchange = clock->Monotonic() - std::chrono::days(1);
}

}  // namespace torvan
