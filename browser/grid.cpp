#include "browser/grid.h"

#include "catalogue/catalogue_files.h"
#include "core/text.h"

namespace torvan {

namespace {

// Number pattern "#": nothing for 0.
std::string Hash(int32_t v) { return v == 0 ? std::string() : std::to_string(v); }

Grid Start(std::vector<GridColumn> columns) {
  Grid g;
  g.columns = std::move(columns);
  std::vector<std::string> header;
  for (const GridColumn& c : g.columns) header.push_back(c.header);
  g.rows.push_back(std::move(header));
  return g;
}

void Placeholder(Grid& g, const char* marker, const char* text) {
  std::vector<std::string> row(g.columns.size());
  row[0] = marker;
  row[3] = text;
  g.rows.push_back(std::move(row));
}

}  // namespace

std::string Grid::ToTabText() const {
  std::string out;
  for (const std::vector<std::string>& row : rows) {
    bool first = true;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].width == 0) continue;
      if (!first) out += '\t';
      out += row[c];
      first = false;
    }
    out += '\n';
  }
  return out;
}

Grid Elenco_File(const Paths& paths, const CountRecords& count, bool* has_pc_as) {
  Grid g = Start({{"F", 0, Align::kLeft},
                  {"Libreria", 1200, Align::kLeft},
                  {"File", 1200, Align::kLeft},
                  {"Testo", 3000, Align::kLeft},
                  {"As->Pc", 660, Align::kCentre},
                  {"Pc->As", 660, Align::kCentre},
                  {"DataBase", 1200, Align::kLeft},
                  {"Records", 885, Align::kRight},
                  {"Acq", 660, Align::kCentre},
                  {"Libr", 1200, Align::kLeft},
                  {"Trigger", 1200, Align::kLeft},
                  {"Libr", 1200, Align::kLeft},
                  {"Filtro", 1200, Align::kLeft},
                  {"i-DataBase", 1200, Align::kLeft}});
  g.caption = "Torvan  Elenco Files ";
  *has_pc_as = false;
  std::vector<File_Rec> files;
  (void)ReadFileRecs(paths.file_catalogue, &files);
  for (const File_Rec& f : files) {
    g.rows.push_back({"F", f.Libreria, f.File, f.Testo, f.As_Pc, f.Pc_As, f.DataBase,
                      count(f.Indice_DB, f.File).Text(), f.Acq, f.Libreria_Trigger, f.Trigger,
                      f.Libreria_Filtro, f.Filtro, std::to_string(f.Indice_DB)});
    if (f.Pc_As == "S") *has_pc_as = true;
  }
  if (g.rows.size() == 1) Placeholder(g, "F", "**** NESSUN FILE ****");
  return g;
}

std::string FieldViewCaption(const Grid& list, size_t n) {
  if (n >= list.rows.size()) return "Torvan  File ";
  return "Torvan  File " + Trim(list.Cell(n, 1)) + "/" + Trim(list.Cell(n, 2)) + " - " +
         Trim(list.Cell(n, 3)) + " ";
}

Grid Visualizza_Campi(const Paths& paths, int n, std::string caption) {
  Grid g = Start({{"C", 0, Align::kLeft},
                  {"#", 480, Align::kRight},
                  {"Campo", 1260, Align::kLeft},
                  {"Testo", 3765, Align::kLeft},
                  {"T", 300, Align::kCentre},
                  {"Lung.", 600, Align::kRight},
                  {"Dec.", 540, Align::kRight},
                  {"Posiz.", 660, Align::kRight},
                  {"Byte", 570, Align::kRight},
                  {"Esclusi", 630, Align::kLeft}});
  g.caption = std::move(caption);
  std::vector<Campo_Rec> fields;
  (void)ReadCampoRecs(paths.FieldFile(n), &fields);
  int i = 0;
  for (const Campo_Rec& f : fields) {
    ++i;
    g.rows.push_back({"C", std::to_string(i), f.Nome, f.Testo, f.Tipo, Hash(f.Lunghezza),
                      f.Lunghezza > 0 ? std::to_string(f.Decimali) : Hash(f.Decimali),
                      Hash(f.Posizione), Hash(f.Byte), f.Escluso});
  }
  if (g.rows.size() == 1) Placeholder(g, "C", "**** NESSUN CAMPO ****");
  return g;
}

}  // namespace torvan
