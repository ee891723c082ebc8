// The change held by the host-to-SQL step, as the operator sees it (`torvan pending`), and
// setting it aside so that its queue can go on: it moves, with its decoded values and its
// raw bytes, to TnC_ACCANTONATI.Log, and leaves the journal unapplied.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "hostlink/char_table.h"
#include "replication/pending_file.h"

namespace torvan {

struct HeldChangeView {
  std::string library, file;
  char code = ' ';
  int32_t rrn = 0;
  int64_t idx = 0;
  std::string received, last_error;
  int32_t attempts = 0;
  // Field name and decoded value of the before and after images, in catalogue order; a
  // field that cannot be decoded shows its fault. Empty for a file not in the catalogue.
  std::vector<std::pair<std::string, std::string>> before, after;
  std::string problem;  // set when the record itself cannot be decoded
};

HeldChangeView DescribeHeld(const Catalogue& catalogue, const hostlink::CharTables& tables,
                            const HeldChange& held);

// The lines `torvan pending` prints for a held change (Windows-1252).
std::vector<std::string> HeldChangeLines(const HeldChangeView& view);

// The record of a set-aside change in TnC_ACCANTONATI.Log: the lines above, the raw bytes
// in hexadecimal, CR LF line ends, UTF-8.
std::string SetAsideRecord(const HeldChangeView& view, std::string_view raw, std::string_view when);

// Sets the held change aside: appends its record to `set_aside_log`, then sets it aside
// in the journal (`journal_path`) and clears it from the pending file, whose lock it takes
// (it fails while a Torvan works in the folder). `*view` describes what was set aside;
// `*was_held` false with no change held.
Status SetAsideHeld(const std::string& pending_path, const std::string& journal_path,
                    const std::string& set_aside_log, const Catalogue& catalogue,
                    const hostlink::CharTables& tables, std::string_view when, bool durable,
                    bool* was_held, HeldChangeView* view);

}  // namespace torvan
