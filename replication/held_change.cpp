#include "replication/held_change.h"

#include "replication/journal.h"

#include <cstdio>

#include "core/text.h"
#include "hostlink/field.h"
#include "platform/file.h"
#include "replication/change_record.h"
#include "replication/journal.h"

namespace torvan {

namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace

HeldChangeView DescribeHeld(const Catalogue& c, const hostlink::CharTables& tables,
                            const HeldChange& held) {
  HeldChangeView v;
  v.received = held.received;
  v.last_error = held.last_error;
  v.attempts = held.attempts;
  HostChange change;
  Status s = DecodeChange(tables, held.data, &change);
  if (!s.ok()) {
    v.problem = s.message();
    return v;
  }
  v.library = change.library;
  v.file = change.file;
  v.code = change.code;
  v.rrn = change.rrn;
  if (change.code == '4') return v;
  for (int k = 1; k <= c.N_File && k < int(c.Tab_File.size()); ++k) {
    const FileEntry& f = c.Tab_File[size_t(k)];
    if (f.File != change.file || f.Libreria != change.library) continue;
    for (int32_t i = f.Primo_Campo;
         i >= 1 && i <= f.Ultimo_Campo && i < int32_t(c.Tab_Campi.size()); ++i) {
      const CampoEntry& field = c.Tab_Campi[size_t(i)];
      const char type = hostlink::TypeLetter(field.Tipo);
      for (auto [base, out] :
           {std::pair{change.before_base, &v.before}, std::pair{change.after_base, &v.after}}) {
        hostlink::FieldText t =
            hostlink::Field_Decode(tables, held.data, type, base + field.Posizione, field.Byte,
                                   field.Lunghezza, field.Decimali);
        out->emplace_back(field.Nome, t.ok() ? t.text : "?? " + t.status.message());
        if (i == f.Campo_IDX && base == change.after_base && t.ok()) {
          v.idx = std::strtoll(Trim(t.text).c_str(), nullptr, 10);
        }
      }
    }
    break;
  }
  return v;
}

std::vector<std::string> HeldChangeLines(const HeldChangeView& v) {
  std::vector<std::string> lines;
  if (!v.problem.empty()) {
    lines.push_back("Modifica trattenuta illeggibile: " + v.problem);
  } else {
    lines.push_back("Modifica trattenuta: " + v.library + "/" + v.file + " codice " +
                    std::string(1, v.code) + " RRN " + std::to_string(v.rrn) + " IDX " +
                    std::to_string(v.idx));
  }
  lines.push_back("  ricevuta il " + v.received + ", tentativi " + std::to_string(v.attempts));
  if (!v.last_error.empty()) lines.push_back("  ultimo errore: " + v.last_error);
  for (auto [label, values] :
       {std::pair{"  prima: ", &v.before}, std::pair{"  dopo:  ", &v.after}}) {
    for (const auto& [name, value] : *values) lines.push_back(label + name + "=" + value);
  }
  // Names, values and the last error come from the host, the SQL side and the pending file:
  // a control character among them must not break or forge a line of the console or of
  // TnC_ACCANTONATI.Log.
  for (std::string& line : lines) line = VisibleText(line);
  return lines;
}

std::string SetAsideRecord(const HeldChangeView& view, std::string_view raw,
                           std::string_view when) {
  std::string record = "Accantonata il " + std::string(when) + "\r\n";
  for (const std::string& line : HeldChangeLines(view)) record += line + "\r\n";
  record += "  byte: " + Hex(raw) + "\r\n";
  return Cp1252ToUtf8(record);
}

Status SetAsideHeld(const std::string& pending_path, const std::string& journal_path,
                    const std::string& set_aside_log, const Catalogue& catalogue,
                    const hostlink::CharTables& tables, std::string_view when, bool durable,
                    bool* was_held, HeldChangeView* view) {
  *was_held = false;
  std::unique_ptr<PendingFile> file;
  PendingState state;
  Status s = PendingFile::Open(pending_path, durable, &file, &state);
  if (!s.ok()) return s;
  if (!state.held) return Status::Ok();
  // The pending file shows the journal's first change while it is held: only that one is
  // set aside. One shown and no longer first (a kill came between) is forgotten.
  JournalContents contents;
  if (!(s = ReadJournal(journal_path, &contents)).ok()) return s;
  if (contents.waiting.empty() || contents.waiting.front().data != state.held->data) {
    state.held.reset();
    return file->Write(state);
  }
  *was_held = true;
  *view = DescribeHeld(catalogue, tables, *state.held);
  // On the disk (with Durevole) before the change leaves the journal.
  s = platform::AppendToFile(set_aside_log, SetAsideRecord(*view, state.held->data, when), durable);
  if (!s.ok()) return s;
  std::unique_ptr<Journal> journal;
  std::string note;
  if (!(s = Journal::Open(journal_path, durable, "", {}, &journal, &note)).ok()) return s;
  if (!(s = journal->SetAside(contents.waiting.front().sequence)).ok()) return s;
  state.held.reset();
  return file->Write(state);
}

}  // namespace torvan
