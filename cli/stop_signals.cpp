#include "cli/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace torvan {

namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_received = 0;
volatile std::sig_atomic_t g_count = 0;
volatile std::sig_atomic_t g_second_ends = 0;

void OnSignal(int sig) {
  if (g_received == 0) g_received = sig;
  g_count = g_count + 1;
  if (g_count >= 2 && g_second_ends != 0) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  const char c = 1;
  (void)!::write(g_pipe[1], &c, 1);
}

}  // namespace

bool StopSignals::Install(bool second_ends) {
  g_second_ends = second_ends ? 1 : 0;
  if (g_pipe[0] >= 0) return true;
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a read of the terminal (a question) ends with EINTR and is answered
  // Annulla.
  return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

int StopSignals::Received() { return g_received; }

int StopSignals::fd() { return g_pipe[0]; }

void StopSignals::Drain() {
  char drain[16];
  while (g_pipe[0] >= 0 && ::read(g_pipe[0], drain, sizeof drain) > 0) {
  }
}

void StopPump::ProcessEvents() {
  inner_->ProcessEvents();
  if (program_ != nullptr && StopSignals::Received() != 0) program_->state.Fine_Richiesta = true;
}

void StopPump::Sleep(std::chrono::milliseconds d) {
  constexpr std::chrono::milliseconds kStep{100};
  while (d.count() > 0 && StopSignals::Received() == 0) {
    const auto step = std::min(d, kStep);
    inner_->Sleep(step);
    d -= step;
  }
}

}  // namespace torvan
