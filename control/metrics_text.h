// The figures of the status file as Prometheus metrics: the text exposition format
// (version 0.0.4) that the metrics server (control/metrics_server.h) serves at GET
// /metrics.
//
// Every metric is named torvan_... and preceded by its # HELP and # TYPE lines; a metric
// with nothing to show (no database sent back, nothing received yet) is left out whole.
// Counters are the status display's (Stat_Contatori, Stat_Tempi): the Reset button and
// the display's overflow guard set them back to 0, which Prometheus takes as a restart.
// The status line (the last message) is not exported: a label per message would make a
// new series of every message.
#pragma once

#include <string>
#include <string_view>

#include "control/status_file.h"

namespace torvan {

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const StatusSnapshot& s);

// A label value as the format writes it between double quotes: "\" -> "\\", """ -> "\"",
// line feed -> "\n". `cp1252` is converted to UTF-8 first.
std::string MetricsLabelValue(std::string_view cp1252);

}  // namespace torvan
