// The catalogue files: TnC_DB.DAT, TnC_FILE.DAT and one TnC_F_nnnnn.DAT per file.
//
// Each is a file of fixed-length records without header or separator; record n (from 1)
// starts at byte (n - 1) x record length. Text fields hold Windows-1252 characters padded
// with blanks to their width; whole numbers are signed 32-bit little-endian. The layouts
// below are the only description of these bytes: the catalogue load writes them, the
// connections, the schema operations and the browser read them through these functions.
//
//   TnC_DB.DAT, 146 bytes        TnC_FILE.DAT, 137 bytes          TnC_F_nnnnn.DAT, 78 bytes
//   0  20 Nome_DB                0   10 Libreria                  0  10 Nome
//   20 20 Server_DB              10  10 File                      10 50 Testo
//   40 16 Indirizzo_DB           20  50 Testo                     60  1 Tipo
//   56 20 Utente_DB              70  10 Libreria_Trigger          61  4 Lunghezza (int32)
//   76 20 Password_DB (scrambled)80  10 Trigger                   65  4 Decimali  (int32)
//   96 50 Cartella_DB            90   1 As_Pc                     69  4 Posizione (int32)
//                                91   1 Pc_As                     73  4 Byte      (int32)
//                                92   1 Acq                       77  1 Escluso
//                                93  20 DataBase
//                                113 10 Libreria_Filtro
//                                123 10 Filtro
//                                133  4 Indice_DB (int32)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"
#include "platform/status.h"

namespace torvan {

struct DataBase_Rec {
  static constexpr size_t kLength = 146;
  std::string Nome_DB, Server_DB, Indirizzo_DB, Utente_DB, Password_DB, Cartella_DB;
};

struct File_Rec {
  static constexpr size_t kLength = 137;
  std::string Libreria, File, Testo, Libreria_Trigger, Trigger, As_Pc, Pc_As, Acq, DataBase,
      Libreria_Filtro, Filtro;
  int32_t Indice_DB = 0;
};

struct Campo_Rec {
  static constexpr size_t kLength = 78;
  std::string Nome, Testo, Tipo;
  int32_t Lunghezza = 0, Decimali = 0, Posizione = 0, Byte = 0;
  std::string Escluso;
};

// A record as its bytes: texts padded with blanks (or cut) to their width.
std::string EncodeRecord(const DataBase_Rec& r);
std::string EncodeRecord(const File_Rec& r);
std::string EncodeRecord(const Campo_Rec& r);

// A record from exactly Rec::kLength bytes; texts keep their blanks.
DataBase_Rec DecodeDataBaseRec(std::string_view bytes);
File_Rec DecodeFileRec(std::string_view bytes);
Campo_Rec DecodeCampoRec(std::string_view bytes);

// Every whole record of a file; a missing file holds none, a short or damaged tail is left
// out. A file that exists but cannot be read is an error. While a catalogue switch is
// under way (below), the file of the same name in TnC_Catalogo.pronto is read instead.
Status ReadDataBaseRecs(const std::string& path, std::vector<DataBase_Rec>* recs);
Status ReadFileRecs(const std::string& path, std::vector<File_Rec>* recs);
Status ReadCampoRecs(const std::string& path, std::vector<Campo_Rec>* recs);

// Replaces the file with these records.
Status WriteRecords(const std::string& path, const std::vector<DataBase_Rec>& recs);
Status WriteRecords(const std::string& path, const std::vector<File_Rec>& recs);
Status WriteRecords(const std::string& path, const std::vector<Campo_Rec>& recs);

// Replacing the whole catalogue at once.
//
// The catalogue files belong together: a TnC_FILE.DAT of one load with the field files of
// another would put one file's fields under another file's number. A new catalogue is
// therefore written beside the current one, in the folder TnC_Catalogo.nuovo, and switched
// in only when it is complete:
//   1. rename TnC_Catalogo.nuovo to TnC_Catalogo.pronto: from this rename on, the new
//      catalogue is the current one;
//   2. move each file of TnC_Catalogo.pronto into the base folder, field files first,
//      replacing the old file of the same name;
//   3. remove the field files numbered beyond the new TnC_FILE.DAT's record count;
//   4. remove the empty TnC_Catalogo.pronto.
// The readers above take a file from TnC_Catalogo.pronto while it is there and from the
// base folder otherwise, so at every moment they see the complete old catalogue (up to
// step 1) or the complete new one (from step 1 on), whenever the process is killed.
// FinishCatalogueSwitch does steps 2-4 again after such a kill; a TnC_Catalogo.nuovo left
// behind is never read and is removed by the next load.
inline constexpr char kCatalogueStagingFolder[] = "TnC_Catalogo.nuovo";
inline constexpr char kCatalogueReadyFolder[] = "TnC_Catalogo.pronto";

// `steps_left`, for tests: the number of file-system steps (renames and removals) to carry
// out before stopping as if the process had been killed there; nullptr for no limit. A
// stop is reported as Status::Closed.
// `durable` (setting Durevole): each move reaches the disk before the next step relies on it.
Status FinishCatalogueSwitch(const Paths& paths, int* steps_left = nullptr, bool durable = false);

// Writes a new catalogue into the staging folder and switches it in. One writer at a time
// per base folder.
class CatalogueWriter {
 public:
  // `durable` (setting Durevole): the files and the folders' renames reach the disk before
  // the switch relies on them.
  explicit CatalogueWriter(const Paths& paths, bool durable = false);
  CatalogueWriter(const CatalogueWriter&) = delete;
  CatalogueWriter& operator=(const CatalogueWriter&) = delete;
  // An uncommitted new catalogue is removed; the current one stays as it was.
  ~CatalogueWriter();

  // Finishes a switch that a kill interrupted, then starts an empty staging folder.
  Status Begin();
  Status Write(const std::vector<DataBase_Rec>& recs);
  Status Write(const std::vector<File_Rec>& recs);
  Status WriteFields(int n, const std::vector<Campo_Rec>& recs);  // TnC_F_nnnnn.DAT
  // Switches the written files in (steps 1-4). Once step 1 is done the result is ok even
  // when a later step fails (the readers already see the new catalogue, and the next
  // load or Carica_Catalogo finishes the switch).
  Status Commit(int* steps_left = nullptr);

 private:
  std::string Staged(const std::string& path) const;

  const Paths& paths_;
  std::string staging_;
  bool begun_ = false;
  bool committed_ = false;
  bool stopped_ = false;  // a test's step budget ran out before the commit
  bool durable_;
};

}  // namespace torvan
