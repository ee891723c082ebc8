// Building and dropping the SQL objects of catalogued files on a real SQLite database.
#include "schema/operations.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "catalogue/catalogue_files.h"
#include "platform/fakes.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

// Answers scripted by the test; records the boxes shown.
class ScriptedConfirmations final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view title, std::string_view text) override {
    boxes.push_back("REFUSAL" + std::string(title) + std::string(text));
  }
  bool AskOkCancel(Owner, std::string_view title, std::string_view text) override {
    boxes.push_back("QUESTION" + std::string(title) + std::string(text));
    return answer;
  }
  bool answer = false;
  std::vector<std::string> boxes;
};

// A real connection whose counts fail on command (a table that cannot be counted).
class UncountableConnection final : public sql::Connection {
 public:
  explicit UncountableConnection(std::unique_ptr<sql::Connection> real) : real_(std::move(real)) {}
  Status Open() override { return real_->Open(); }
  void Close() override { real_->Close(); }
  bool IsOpen() const override { return real_->IsOpen(); }
  Status Execute(std::string_view s) override { return real_->Execute(s); }
  Status OpenRecordset(std::string_view s, std::unique_ptr<sql::Recordset>* rs) override {
    if (s.substr(0, 21) == "select count(*) from ") {
      return Fail(Status::IoError("permission denied"), {}, "test");
    }
    return real_->OpenRecordset(s, rs);
  }
  Status ListTables(std::vector<std::string>* names) override { return real_->ListTables(names); }

 private:
  std::unique_ptr<sql::Connection> real_;
};

class OperationsTest : public ::testing::Test {
 protected:
  OperationsTest()
      : dir_(folder_.path()),
        program_(Paths::InFolder(dir_), &clock_, &pump_),
        schema_{program_, catalogue_, connessioni_, confirmations_} {
    program_.log.on_status_line = [this](std::string_view l) { lines_.emplace_back(l.substr(11)); };
    connessioni_.Resize(1);
    sql::ConnectionParams params;
    params.database = "GESTIONALE";
    params.base_folder = dir_;
    connessioni_.Set(1, sql::NewConnection(params));
    EXPECT_TRUE(connessioni_.at(1)->Open().ok());
  }
  ~OperationsTest() override { connessioni_.Resize(0); }

  // Adds file n of database 1 with fields COD (A 6) and QTA (P 5,0) (+ the index field).
  void AddFile(const std::string& name, bool pc_as, bool with_fields = true) {
    FileEntry f;
    f.Libreria = "DATI";
    f.File = name;
    f.As_Pc = true;
    f.Pc_As = pc_as;
    f.Indice_DB = 1;
    f.DataBase = "GESTIONALE";
    catalogue_.Tab_File.push_back(f);
    catalogue_.N_File++;
    std::vector<Campo_Rec> fields;
    auto field = [](const char* n, const char* t, int len, int pos, int bytes) {
      Campo_Rec c;
      c.Nome = n;
      c.Tipo = t;
      c.Lunghezza = len;
      c.Posizione = pos;
      c.Byte = bytes;
      c.Escluso = " ";
      return c;
    };
    if (with_fields) {
      fields = {field("COD", "A", 6, 1, 6), field("QTA", "P", 5, 7, 3)};
      if (pc_as) fields.push_back(field("\xA7_T_IDX___", "B", 9, 10, 4));
    }
    ASSERT_TRUE(WriteRecords(program_.paths.FieldFile(catalogue_.N_File), fields).ok());
  }
  sql::Connection& Db() { return *connessioni_.at(1); }
  void Exec(const std::string& s) { ASSERT_TRUE(Db().Execute(s).ok()) << s; }
  int Count(const char* messages) {
    int n = 0;
    for (const std::string& l : lines_) n += l == messages;
    return n;
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
  platform::FakeClock clock_;
  platform::FakePump pump_;
  Program program_;
  Catalogue catalogue_;
  Connessioni connessioni_;
  ScriptedConfirmations confirmations_;
  Schema schema_;
  std::vector<std::string> lines_;
};

TEST_F(OperationsTest, BuildingTwoFilesSentBackMakesOneMasterTable) {
  AddFile("CLIENTI", true);
  AddFile("CONTATTI", true);
  Crea_File(schema_, 1);
  Crea_File(schema_, 2);
  EXPECT_EQ(std::vector<std::string>({
                "Creazione del file GESTIONALE/CLIENTI in corso ...",
                "Creazione del file master per GESTIONALE completata",
                "Creazione del file GESTIONALE/CLIENTI completata",
                "Creazione del file di supporto per GESTIONALE/CLIENTI completata",
                "Creazione dei triggers per GESTIONALE/CLIENTI completata",
                "Creazione del file GESTIONALE/CONTATTI in corso ...",
                "Creazione del file GESTIONALE/CONTATTI completata",
                "Creazione del file di supporto per GESTIONALE/CONTATTI completata",
                "Creazione dei triggers per GESTIONALE/CONTATTI completata",
            }),
            lines_);
  // The triggers record a change made on the PC side, in master order.
  Exec("INSERT INTO [CONTATTI] ([COD],[QTA]) VALUES('A''1  ',12)");
  Exec("INSERT INTO [CLIENTI] ([COD],[QTA]) VALUES('B',3)");
  EXPECT_EQ("2", Conta_Record(schema_, 1, "_T_MASTER___"));
  std::unique_ptr<sql::Recordset> rs;
  ASSERT_TRUE(Db().OpenRecordset(SelectMaster(), &rs).ok());
  EXPECT_EQ("CONTATTI", rs->Find("_T_FILE___")->text);
  ASSERT_TRUE(Db().OpenRecordset(SelectEvent("CONTATTI", 1), &rs).ok());
  EXPECT_EQ("I", rs->Find("_T_EVENTO___")->text);
  EXPECT_EQ("A'1  ", rs->Find("COD")->text);  // nvarchar keeps what it got, unpadded
}

TEST_F(OperationsTest, AFileNotSentBackGetsOnlyItsMirrorTable) {
  AddFile("ARTICOLI", false);
  Crea_File(schema_, 1);
  EXPECT_EQ("0", Conta_Record(schema_, 1, "ARTICOLI"));
  EXPECT_EQ("non esiste", Conta_Record(schema_, 1, "ARTICOLI___"));
  EXPECT_EQ("non esiste", Conta_Record(schema_, 1, "_T_MASTER___"));
  EXPECT_EQ("non esiste", Conta_Record(schema_, 1, "articoli"));  // names are case-sensitive
  EXPECT_EQ(0, Count("Creazione del file master per GESTIONALE completata"));
}

TEST_F(OperationsTest, AFileWithoutFieldsTouchesNothing) {
  AddFile("VUOTO", true, false);
  Crea_File(schema_, 1);
  EXPECT_EQ(1, Count("ERRORE nella creazione del file GESTIONALE/VUOTO MANCANO I CAMPI"));
  EXPECT_EQ("non esiste", Conta_Record(schema_, 1, "VUOTO"));
}

TEST_F(OperationsTest, RebuildingAskesBeforeRowsAreLost) {
  AddFile("ARTICOLI", false);
  Crea_File(schema_, 1);
  // An empty table is released without a question.
  EXPECT_TRUE(Conferma_Cancella_File(schema_, Owner::kBrowser, 1, false));
  EXPECT_TRUE(confirmations_.boxes.empty());
  Exec("INSERT INTO [ARTICOLI] ([COD],[QTA],[_T_RRN___]) VALUES('X',1,1)");
  confirmations_.answer = false;
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kBrowser, 1, false));
  ASSERT_EQ(1u, confirmations_.boxes.size());
  EXPECT_EQ(
      "QUESTION Cancella File il file GESTIONALE/ARTICOLI contiene 1\rrecord(s) \r\r\rpremere "
      "'OK' per cancellare\rpremere 'Annulla' per NON cancellare\r",
      confirmations_.boxes[0]);
  // The force flag releases it without a question.
  EXPECT_TRUE(Conferma_Cancella_File(schema_, Owner::kMainWindow, 1, true));
  EXPECT_EQ(1u, confirmations_.boxes.size());
  // Cancella_File with Cancel keeps the rows; with OK drops both tables.
  Cancella_File(schema_, Owner::kBrowser, 1, false);
  EXPECT_EQ("1", Conta_Record(schema_, 1, "ARTICOLI"));
  confirmations_.answer = true;
  Cancella_File(schema_, Owner::kBrowser, 1, false);
  EXPECT_EQ("non esiste", Conta_Record(schema_, 1, "ARTICOLI"));
  EXPECT_EQ(1, Count("Cancellazione del file GESTIONALE/ARTICOLI completata"));
  EXPECT_EQ(1, Count("Cancellazione del file di supporto per GESTIONALE/ARTICOLI completata"));
}

TEST_F(OperationsTest, ATableThatCannotBeCountedIsNeverDropped) {
  AddFile("ARTICOLI", false);
  Crea_File(schema_, 1);
  sql::ConnectionParams params;
  params.database = "GESTIONALE";
  params.base_folder = dir_;
  auto uncountable = std::make_unique<UncountableConnection>(sql::NewConnection(params));
  ASSERT_TRUE(uncountable->Open().ok());
  connessioni_.Set(1, std::move(uncountable));
  EXPECT_EQ("no permesso", Conta_Record(schema_, 1, "ARTICOLI"));
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kMainWindow, 1, true));
  ASSERT_EQ(1u, confirmations_.boxes.size());
  EXPECT_EQ(
      "REFUSAL Cancella File manca il permesso alla cancellazione\rdel file "
      "GESTIONALE/ARTICOLI\r",
      confirmations_.boxes[0]);
  Cancella_File(schema_, Owner::kMainWindow, 1, true);
  EXPECT_EQ(0, Count("Cancellazione del file GESTIONALE/ARTICOLI in corso ..."));
}

TEST_F(OperationsTest, ARefusedStatementIsReportedLineByLine) {
  ColumnDef cod = MakeColumn("COD", "A", 6, 0, 0);
  EXPECT_FALSE(Crea_Tabella(schema_, 1, "DOPPIO", {cod, cod}, true));  // a column twice
  ASSERT_GE(lines_.size(), 6u);
  EXPECT_EQ(0u, lines_[0].find("Errore Numero  : "));
  EXPECT_EQ(0u, lines_[1].find("  Descrizione  : "));
  EXPECT_EQ(0u, lines_[2].find("  Provenienza  : "));
  EXPECT_EQ(0u, lines_[3].find("  Stato SQL    : "));
  EXPECT_EQ(0u, lines_[4].find("  Errore nativo: "));
  EXPECT_EQ("Totale errori  : 1", lines_[5]);
  EXPECT_TRUE(Db().Errors().empty());
}

TEST_F(OperationsTest, RecreatingTheEventFilesAsksForTheMasterOnce) {
  AddFile("CLIENTI", true);
  AddFile("CONTATTI", true);
  Crea_File(schema_, 1);
  Crea_File(schema_, 2);
  Exec("INSERT INTO [CLIENTI] ([COD],[QTA]) VALUES('B',3)");
  lines_.clear();
  confirmations_.answer = true;
  Crea_File_Eventi(schema_, Owner::kBrowser);
  EXPECT_EQ(1u, confirmations_.boxes.size());  // the second file finds no master table
  EXPECT_EQ("0", Conta_Record(schema_, 1, "_T_MASTER___"));
  EXPECT_EQ(1, Count("Creazione dei files degli eventi in corso ..."));
  EXPECT_EQ(1, Count("Creazione del file master per GESTIONALE completata"));
  EXPECT_EQ(1, Count("Creazione dei triggers per GESTIONALE/CLIENTI completata"));
  EXPECT_EQ(1, Count("Creazione dei triggers per GESTIONALE/CONTATTI completata"));
  EXPECT_EQ("Creazione dei files degli eventi completata", lines_.back());
  // The event tables are connected to the new master table.
  Exec("INSERT INTO [CONTATTI] ([COD],[QTA]) VALUES('C',4)");
  EXPECT_EQ("1", Conta_Record(schema_, 1, "_T_MASTER___"));
}

}  // namespace
}  // namespace torvan
