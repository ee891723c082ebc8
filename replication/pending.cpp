#include "replication/pending.h"

namespace torvan {

bool Pending::Ready() {
  if (file_ == nullptr) {
    Status s =
        PendingFile::Open(program_.paths.pending, program_.settings.Durevole, &file_, &state_);
    if (!s.ok()) {
      if (s.message() != last_error_) {
        program_.Scrivi_Messaggio("ERRORE nell'apertura di " + program_.paths.pending + ": " +
                                  s.message());
        last_error_ = s.message();
      }
      return false;
    }
    last_error_.clear();
  }
  file_->set_durable(program_.settings.Durevole);
  return !unsaved_ || Save();
}

bool Pending::Save() {
  if (file_ == nullptr) return false;
  Status s = file_->Write(state_);
  unsaved_ = !s.ok();
  if (!s.ok()) {
    if (s.message() != last_error_) {
      program_.Scrivi_Messaggio("ERRORE nella scrittura di " + program_.paths.pending + ": " +
                                s.message());
      last_error_ = s.message();
    }
    return false;
  }
  last_error_.clear();
  return true;
}

}  // namespace torvan
