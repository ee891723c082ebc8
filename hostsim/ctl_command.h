// The control commands of a running torvan-host ("torvan-host ctl --data DIR ..."):
//
//   insert LIB/FILE FIELD=VALUE ...      add a record (fields left out are empty)
//   update LIB/FILE RRN FIELD=VALUE ...  change fields of record RRN
//   delete LIB/FILE RRN                  delete record RRN
//   clear LIB/FILE                       delete every record
//   generate LIB/FILE N [SEED]           N random inserts, updates and deletes (N at
//                                        most kMaxGenerate), made in slices (CtlJob)
//   dump LIB/FILE                        one line a record: RRN, then FIELD=value,
//                                        tab-separated (values decoded, trailing blanks cut)
//   queue                                number of changes waiting for the PC
//   schedule                             show stop and restart time
//   schedule STOP RESTART                set them (yyyymmddhhnnss each)
//   schedule off                         no stop in sight (tomorrow, same time)
//   stopping on|off                      T answers "stopping now" or not
//   fault ...                            inject a fault (faults.h)
//   faults                               faults set and how often each took effect
//   status                               ports, connections, queue
//   shutdown                             write the data folder and stop the server
//
// insert, update, delete, clear and generate change the file and queue each change for
// the PC. A bad command gets a message and exit status 2 and changes nothing; a failure
// to write the data folder gets exit status 1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostsim/faults.h"
#include "hostsim/host_store.h"

namespace torvan::hostsim {

struct CtlContext {
  HostStore* store = nullptr;
  Faults* faults = nullptr;
  std::function<std::string()> status;  // the server's ports and connections, one per line
  std::function<void()> shutdown;
};

// The most changes one "generate" makes: about twenty seconds of work.
inline constexpr int64_t kMaxGenerate = 1000000;

struct CtlResult;

// Work that a command goes on with after RunCtl has returned, a slice at a time, so that
// the server keeps serving its other connections meanwhile. What it has done stays done
// when it is dropped unfinished.
class CtlJob {
 public:
  virtual ~CtlJob() = default;
  // Does at most `steps` more of the work. True when the work is finished; `result` then
  // holds the command's answer.
  virtual bool Step(int steps, CtlResult* result) = 0;
  // The answer when the work ends unfinished because the server stops.
  virtual CtlResult Interrupted() const = 0;
};

struct CtlResult {
  CtlResult() = default;
  CtlResult(int exit_code, std::string text) : exit_code(exit_code), text(std::move(text)) {}

  int exit_code = 0;  // 0 done, 1 failed, 2 bad command
  std::string text;   // UTF-8, lines ending in "\n"
  // Set when the command is not finished: the answer comes from the job.
  std::unique_ptr<CtlJob> job;
};

// Runs one command; `args` are UTF-8 as typed.
CtlResult RunCtl(CtlContext& context, const std::vector<std::string>& args);

}  // namespace torvan::hostsim
