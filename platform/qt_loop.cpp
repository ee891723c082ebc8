#include "platform/qt_loop.h"

#include <QCoreApplication>
#include <QTimer>
#include <map>
#include <thread>

namespace torvan::platform {

void QtPump::ProcessEvents() { QCoreApplication::processEvents(); }

void QtPump::Sleep(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

class QtTimers::Impl {
 public:
  std::map<TimerId, std::unique_ptr<QTimer>> pending;
  TimerId last_id = 0;
};

QtTimers::QtTimers() : impl_(std::make_unique<Impl>()) {}

QtTimers::~QtTimers() = default;

TimerId QtTimers::Start(std::chrono::milliseconds interval, std::function<void()> callback) {
  const TimerId id = ++impl_->last_id;
  auto timer = std::make_unique<QTimer>();
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  // The QTimer is released before the callback runs: the callback may start and kill
  // timers, this one's identifier included, without touching a timer being deleted.
  QObject::connect(timer.get(), &QTimer::timeout, [this, id, cb = std::move(callback)] {
    auto it = impl_->pending.find(id);
    if (it == impl_->pending.end()) return;
    it->second.release()->deleteLater();
    impl_->pending.erase(it);
    cb();
  });
  timer->start(int(std::max<int64_t>(0, interval.count())));
  impl_->pending[id] = std::move(timer);
  return id;
}

void QtTimers::Kill(TimerId id) {
  auto it = impl_->pending.find(id);
  if (it == impl_->pending.end()) return;
  it->second->stop();
  impl_->pending.erase(it);
}

}  // namespace torvan::platform
