#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_files.h"
#include "catalogue/fuzz/checks.h"
#include "catalogue/fuzz/fuzz_targets.h"
#include "core/program.h"
#include "core/text.h"
#include "platform/fakes.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::fuzz {

namespace {

bool HasControl(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) return true;
  }
  return false;
}

// A base folder of its own; every status line is checked.
struct Session {
  Session() : program(Paths::InFolder(folder.path()), &clock, &pump) {
    program.log.on_status_line = [](std::string_view line) { Check(!HasControl(line)); };
  }
  platform::TempFolder folder{"torvan-fuzz-catalogue"};
  platform::FakeClock clock;
  platform::FakePump pump;
  Program program;
  int field_files = 0;  // written by the last input
};

std::vector<std::string_view> Split(std::string_view bytes) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = bytes.find(kCatalogueFileSeparator);
    parts.push_back(bytes.substr(0, at));
    if (at == std::string_view::npos) return parts;
    bytes.remove_prefix(at + kCatalogueFileSeparator.size());
  }
}

void Write(const std::string& path, std::string_view bytes) {
  Check(platform::WriteFileAtomic(path, bytes, 0600, /*durable=*/false).ok());
}

void CheckCatalogue(const Catalogue& c, size_t databases, size_t files) {
  Check(c.N_File == int32_t(files) && c.Tab_File.size() == files + 1);
  Check(c.Tab_Cartelle_DB.size() == databases + 1);
  int32_t last = 0;
  bool errato = false;
  for (int32_t n = 1; n <= c.N_File; ++n) {
    const FileEntry& f = c.Tab_File[size_t(n)];
    Check(f.Libreria == Trim(f.Libreria) && f.File == Trim(f.File));
    Check(f.Primo_Campo == last + 1 && f.Ultimo_Campo >= last);
    Check(f.Ultimo_Campo < int32_t(c.Tab_Campi.size()));
    Check(f.N_Campi == f.Ultimo_Campo - last);
    last = f.Ultimo_Campo;
    if (f.Campo_IDX != 0) {
      Check(f.Campo_IDX >= f.Primo_Campo && f.Campo_IDX <= f.Ultimo_Campo);
      Check(c.Tab_Campi[size_t(f.Campo_IDX)].Nome == kCampoIdx);
    }
    bool sound = true;
    for (int32_t k = f.Primo_Campo; k <= f.Ultimo_Campo; ++k) {
      const CampoEntry& field = c.Tab_Campi[size_t(k)];
      Check(field.Nome == Trim(field.Nome) && field.Nome_Sql == NomeSql(field.Nome));
      if (field.Nome.empty() || !FieldLayoutError(field).empty()) sound = false;
    }
    // A file with a field that cannot be right is marked; an unmarked one decodes.
    Check(sound || f.Tracciato_Errato);
    if (!f.Tracciato_Errato) {
      for (int32_t k = f.Primo_Campo; k <= f.Ultimo_Campo; ++k) {
        CheckSoundField(c.Tab_Campi[size_t(k)]);
      }
    }
    errato = errato || f.Tracciato_Errato || f.Nome_In_Conflitto;
    errato = errato || (f.Pc_As && f.Campo_IDX == 0) || (!f.Pc_As && f.Campo_IDX != 0);
  }
  Check(last == int32_t(c.Tab_Campi.size()) - 1);
  Check(c.Catalogo_Errato == errato);
}

}  // namespace

int FuzzCatalogueLoad(const uint8_t* data, size_t size) {
  static Session session;
  const Paths& paths = session.program.paths;
  const std::vector<std::string_view> parts =
      Split(std::string_view(reinterpret_cast<const char*>(data), size));
  Write(paths.database_catalogue, parts[0]);
  Write(paths.file_catalogue, parts.size() > 1 ? parts[1] : "");
  const int field_files = parts.size() > 2 ? int(parts.size()) - 2 : 0;
  for (int n = 1; n <= field_files; ++n) Write(paths.FieldFile(n), parts[size_t(n) + 1]);
  for (int n = field_files + 1; n <= session.field_files; ++n) {
    std::remove(paths.FieldFile(n).c_str());
  }
  session.field_files = field_files;

  Catalogue catalogue;
  Carica_Catalogo(session.program, catalogue);
  const size_t files = parts.size() > 1 ? parts[1].size() / File_Rec::kLength : 0;
  CheckCatalogue(catalogue, parts[0].size() / DataBase_Rec::kLength, files);
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzCatalogueLoad(data, size);
}
#endif
