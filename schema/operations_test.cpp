// Building and dropping the SQL objects of catalogued files on a real SQLite database.
#include "schema/operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "catalogue/catalogue_files.h"
#include "core/test_support.h"
#include "schema/objects.h"
#include "schema/statements.h"
#include "sql/fault_connection.h"
#include "sql/test_support.h"

namespace torvan {
namespace {

// Answers scripted by the test; records the boxes shown.
class ScriptedConfirmations final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view title, std::string_view text) override {
    boxes.push_back("REFUSAL" + std::string(title) + std::string(text));
  }
  bool AskOkCancel(Owner, std::string_view title, std::string_view text,
                   int64_t unsent_changes) override {
    boxes.push_back("QUESTION" + std::string(title) + std::string(text));
    unsent.push_back(unsent_changes);
    if (during_box) during_box();  // what a click can do while the box waits
    return answer;
  }
  bool answer = false;
  std::function<void()> during_box;
  std::vector<std::string> boxes;
  std::vector<int64_t> unsent;
};

// One row, one value (NULL when empty).
class OneValue final : public sql::Recordset {
 public:
  explicit OneValue(std::string v) : value_{v.empty(), std::move(v)} {}
  bool Eof() const override { return eof_; }
  Status MoveNext() override { return eof_ = true, Status::Ok(); }
  int FieldCount() const override { return 1; }
  const std::string& FieldName(int) const override { return name_; }
  const sql::Field& Value(int) const override { return value_; }
  sql::Field value_;
  std::string name_;
  bool eof_ = false;
};

// A connection that speaks T-SQL, as SQL Server does, and keeps the schema texts it is given.
class RecordingSqlServer final : public sql::Connection {
 public:
  Status Open() override { return Status::Ok(); }
  void Close() override {}
  bool IsOpen() const override { return true; }
  sql::Dialect dialect() const override { return sql::Dialect::kSqlServer; }
  Status Execute(std::string_view s) override {
    return Fail(Status::IoError("no rows here"), {}, std::string(s));
  }
  Status ExecuteNative(std::string_view s) override {
    texts.emplace_back(s);
    return Status::Ok();
  }
  // The last numbers of ART's identity: 41 (the table was there before).
  Status OpenRecordset(std::string_view s, std::unique_ptr<sql::Recordset>* rs) override {
    if (s.rfind("SELECT IDENT_CURRENT('", 0) != 0) {
      return Fail(Status::IoError("no rows here"), {}, "test");
    }
    *rs = std::make_unique<OneValue>(s == "SELECT IDENT_CURRENT('ART')" ? "41" : "");
    return Status::Ok();
  }
  Status ListTables(std::vector<std::string>* names) override {
    names->clear();
    return Status::Ok();
  }
  Status Begin() override { return Status::Ok(); }
  Status Commit() override { return Status::Ok(); }
  void Rollback() override {}
  std::vector<std::string> texts;
};

class OperationsTest : public ::testing::Test, protected ProgramFixture {
 protected:
  OperationsTest() {
    StatusLines();
    connessioni_.Resize(1);
    connessioni_.Set(1, sql::NewConnection(Params()));
    EXPECT_TRUE(connessioni_.at(1)->Open().ok());
  }
  ~OperationsTest() override { connessioni_.Resize(0); }
  sql::ConnectionParams Params() const {
    return sql::testing::ParamsFor(sql::testing::Path::kEmbedded, dir_, "GESTIONALE");
  }

  // Adds file n of database 1 with fields COD (A 6) and QTA (P 5,0) (+ the index field).
  void AddFile(const std::string& name, bool pc_as, const std::string& library = "DATI") {
    catalogue_.Tab_File.push_back({library, name, 0, 0, 0, true, pc_as, 1, "GESTIONALE"});
    catalogue_.N_File++;
    std::vector<Campo_Rec> fields = {Field("COD", "A", 6, 0, 6, 1), Field("QTA", "P", 5, 0, 3, 7)};
    if (pc_as) fields.push_back(Field("\xA7_T_IDX___", "B", 9, 0, 4, 10));
    SetFields(catalogue_.N_File, fields);
  }
  void SetFields(int n, const std::vector<Campo_Rec>& fields) {
    ASSERT_TRUE(WriteRecords(program_.paths.FieldFile(n), fields).ok());
  }
  static Campo_Rec Field(const char* name, const char* tipo, int len, int dec, int bytes,
                         int pos = 0) {
    return {name, "", tipo, len, dec, pos, bytes, " "};
  }
  std::string Count(const char* table) { return Conta_Record(schema_, 1, table).Text(""); }
  sql::Connection& Db() { return *connessioni_.at(1); }
  void Exec(const std::string& s) { ASSERT_TRUE(Db().Execute(s).ok()) << s; }
  int Lines(const std::string& line) { return int(std::count(lines_.begin(), lines_.end(), line)); }

  Catalogue catalogue_;
  Connessioni connessioni_;
  ScriptedConfirmations confirmations_;
  Schema schema_{program_, catalogue_, connessioni_, confirmations_};
};

TEST_F(OperationsTest, FilesSentBackShareOneMasterTableAndTheirEventFilesAreMadeAgain) {
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
  // The triggers record a change made on the PC side (sqlite_objects_test.cpp: how).
  Exec("INSERT INTO [CLIENTI] ([COD],[QTA]) VALUES('A''1  ',12)");
  std::unique_ptr<sql::Recordset> rs;
  ASSERT_TRUE(Db().OpenRecordset(SelectMaster(), &rs).ok());
  EXPECT_EQ("CLIENTI", rs->Find("_T_FILE___")->text);
  rs.reset();

  // Made again, the master table is asked for once (the second file finds none).
  lines_.clear();
  confirmations_.answer = true;
  Crea_File_Eventi(schema_, Owner::kBrowser);
  EXPECT_EQ(1u, confirmations_.boxes.size());
  EXPECT_EQ("0", Count("_T_MASTER___"));
  EXPECT_EQ(std::vector<std::string>({"Creazione dei files degli eventi in corso ...",
                                      "Creazione del file master per GESTIONALE completata",
                                      "Creazione dei triggers per GESTIONALE/CLIENTI completata",
                                      "Creazione dei triggers per GESTIONALE/CONTATTI completata",
                                      "Creazione dei files degli eventi completata"}),
            lines_);
  // The event tables are connected to the new master table.
  Exec("INSERT INTO [CONTATTI] ([COD],[QTA]) VALUES('C',4)");
  EXPECT_EQ("1", Count("_T_MASTER___"));

  // A link start, entered from a click while the question waits, rebuilds the catalogue
  // with fewer files: the operation holds no reference into the old tables.
  confirmations_.during_box = [&] {
    catalogue_.Tab_File.assign(1, FileEntry{});
    catalogue_.Tab_File.shrink_to_fit();
    catalogue_.N_File = 0;
  };
  Crea_File_Eventi(schema_, Owner::kBrowser);
  EXPECT_EQ("Creazione dei files degli eventi completata", lines_.back());
  confirmations_.during_box = nullptr;
  AddFile("CLIENTI", true);
  Cancella_File(schema_, Owner::kBrowser, 1, false);
  EXPECT_EQ(1, Lines("Cancellazione del file GESTIONALE/CLIENTI completata"));
}

// A file not sent back gets only its mirror table; dropping it asks before rows are lost.
TEST_F(OperationsTest, AFileNotSentBackIsBuiltAndDroppedAskingBeforeRowsAreLost) {
  AddFile("ARTICOLI", false);
  Crea_File(schema_, 1);
  // Names are case-sensitive: "articoli" is not there.
  EXPECT_EQ("0 non esiste non esiste non esiste", Count("ARTICOLI") + " " + Count("ARTICOLI___") +
                                                      " " + Count("_T_MASTER___") + " " +
                                                      Count("articoli"));
  EXPECT_EQ(0, Lines("Creazione del file master per GESTIONALE completata"));
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
  EXPECT_EQ("1", Count("ARTICOLI"));
  confirmations_.answer = true;
  Cancella_File(schema_, Owner::kBrowser, 1, false);
  EXPECT_EQ("non esiste", Count("ARTICOLI"));
  EXPECT_EQ(1, Lines("Cancellazione del file GESTIONALE/ARTICOLI completata"));
  EXPECT_EQ(1, Lines("Cancellazione del file di supporto per GESTIONALE/ARTICOLI completata"));

  // A table that cannot be counted (every query fails from here on) is never dropped.
  Crea_File(schema_, 1);
  confirmations_.boxes.clear();
  lines_.clear();
  auto plan = std::make_shared<sql::FaultPlan>(
      std::vector<sql::Fault>{{sql::FaultOp::kQuery, 1, sql::FaultKind::kError, 1000}});
  auto faulty = sql::NewFaultyConnection(sql::NewConnection(Params()), plan);
  ASSERT_TRUE(faulty->Open().ok());
  connessioni_.Set(1, std::move(faulty));
  EXPECT_EQ("no permesso", Count("ARTICOLI"));
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kMainWindow, 1, true));
  ASSERT_EQ(1u, confirmations_.boxes.size());
  EXPECT_EQ(
      "REFUSAL Cancella File manca il permesso alla cancellazione\rdel file "
      "GESTIONALE/ARTICOLI\r",
      confirmations_.boxes[0]);
  Cancella_File(schema_, Owner::kMainWindow, 1, true);
  EXPECT_EQ(0, Lines("Cancellazione del file GESTIONALE/ARTICOLI in corso ..."));
}

TEST_F(OperationsTest, ARefusedStatementIsReportedLineByLineWithWhereItsNumberComesFrom) {
  // Triggers on a mirror table that does not exist: SQLite refuses the first of them.
  EXPECT_FALSE(Crea_Triggers(schema_, 1, "NESSUNO", "NESSUNO___",
                             MirrorColumns({MakeColumn("COD", "A", 6, 0, 0)}, true)));
  ASSERT_EQ(6u, lines_.size());
  lines_[1].resize(std::min<size_t>(lines_[1].size(), 39));  // SQLite's text goes on
  EXPECT_EQ(
      std::vector<std::string>({"Errore Numero  : 1", "  Descrizione  : no such table: NESSUNO",
                                "  Provenienza  : SQLite (codice SQLite)", "  Stato SQL    : 42S02",
                                "  Errore nativo: 1", "Totale errori  : 1"}),
      lines_);
  EXPECT_TRUE(Db().Errors().empty());
  // A database without connection is named, not counted as zero errors.
  lines_.clear();
  EXPECT_FALSE(Cancella_Tabella(schema_, 2, "ARTICOLI"));
  EXPECT_EQ(std::vector<std::string>{"ERRORE: il DataBase 2 non \xE8 collegato"}, lines_);
}

TEST_F(OperationsTest, SqlServerReceivesTheTextsOfTheModelInOrder) {
  auto recording = std::make_unique<RecordingSqlServer>();
  RecordingSqlServer* server = recording.get();
  connessioni_.Set(1, std::move(recording));
  AddFile("ART", true);
  Crea_File(schema_, 1);
  const std::vector<ColumnDef> data = {MakeColumn("COD", "A", 6, 0, 0),
                                       MakeColumn("QTA", "P", 3, 5, 0)};
  std::vector<std::string> expected;
  for (const SchemaStatement& s : TableStatements(kMasterTable, MasterColumns(), true)) {
    expected.push_back(Tsql(s));
  }
  for (const SchemaStatement& s : FileStatements("ART", data, true)) expected.push_back(Tsql(s));
  // The mirror table made again numbers its rows above its predecessor's, after the CREATE.
  expected.insert(expected.begin() + 6,
                  "IF IDENT_CURRENT('ART') <= 41 DBCC CHECKIDENT ('ART', RESEED, 42) WITH "
                  "NO_INFOMSGS");
  // Each text is checked character by character in objects_test.cpp.
  EXPECT_EQ(expected, server->texts);
  EXPECT_EQ(17u, server->texts.size());
  EXPECT_EQ(0, Lines("ERRORE"));
}

TEST_F(OperationsTest, AFileWhoseNamesClashIsNeitherBuiltNorDropped) {
  AddFile("CLIENTI", false);
  Crea_File(schema_, 1);
  Exec("INSERT INTO [CLIENTI] ([COD],[QTA],[_T_RRN___]) VALUES('X',1,1)");
  // The same file of another library, in the same database, added since the load: not marked.
  AddFile("clienti", false, "ALTRI");
  lines_.clear();
  const std::string clash =
      "I file DATI/CLIENTI e ALTRI/clienti usano lo stesso nome GESTIONALE/clienti";
  Crea_File(schema_, 2);
  Cancella_File(schema_, Owner::kBrowser, 1, true);
  Costruisci_File(schema_, Owner::kBrowser, 1);
  EXPECT_EQ(std::vector<std::string>({
                "Creazione del file GESTIONALE/clienti in corso ...",
                "ERRORE nella creazione del file GESTIONALE/clienti: " + clash,
                "ERRORE nella cancellazione del file GESTIONALE/CLIENTI: " + clash,
                "ERRORE nella creazione del file GESTIONALE/CLIENTI: " + clash,
            }),
            lines_);
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kMainWindow, 2, true));
  EXPECT_TRUE(confirmations_.boxes.empty());
  // A file marked at the load is refused even when the clash is gone.
  catalogue_.Tab_File.pop_back();
  catalogue_.N_File--;
  catalogue_.Tab_File[1].Nome_In_Conflitto = true;
  Crea_File(schema_, 1);
  EXPECT_EQ(1, Lines("ERRORE nella creazione del file GESTIONALE/CLIENTI: il nome \xE8 in "
                     "conflitto con quello di un altro file del catalogo"));
  EXPECT_EQ("1", Count("CLIENTI"));
}

TEST_F(OperationsTest, ABuildThatCannotSucceedDropsNothing) {
  AddFile("ARTICOLI", true);
  Crea_File(schema_, 1);
  Exec("INSERT INTO [ARTICOLI] ([COD],[QTA],[_T_RRN___],[_T_TIPO___]) VALUES('X',1,1,'S')");
  auto fields = [](auto... f) { return std::vector<Campo_Rec>{f...}; };
  const struct {
    const char* name;
    std::vector<Campo_Rec> fields;
    const char* fault;  // what follows the file's name
  } cases[] = {
      {"no fields", {}, " MANCANO I CAMPI"},
      {"unknown type", fields(Field("COD", "A", 0, 0, 6), Field("Z", "Z", 5, 0, 3)),
       ": il campo Z ha il tipo \"Z\" (A, S, P o B)"},
      {"a name twice", fields(Field("COD", "A", 0, 0, 6), Field("cod", "A", 0, 0, 6)),
       ": il campo cod compare due volte"},
  };
  for (const auto& c : cases) {
    lines_.clear();
    SetFields(1, c.fields);
    Crea_File(schema_, 1);
    EXPECT_EQ(std::vector<std::string>(
                  {"Creazione del file GESTIONALE/ARTICOLI in corso ...",
                   "ERRORE nella creazione del file GESTIONALE/ARTICOLI" + std::string(c.fault)}),
              lines_)
        << c.name;
    EXPECT_EQ("1", Count("ARTICOLI")) << c.name;
  }
  // The lower routine checks too, before its drop.
  lines_.clear();
  ColumnDef cod = MakeColumn("COD", "A", 6, 0, 0);
  EXPECT_FALSE(Crea_Tabella(schema_, 1, "ARTICOLI", {cod, cod}, true));
  EXPECT_EQ(std::vector<std::string>{"ERRORE: la tabella ARTICOLI non si pu\xF2 creare: il campo "
                                     "COD compare due volte"},
            lines_);
  EXPECT_EQ("1", Count("ARTICOLI"));
}

TEST_F(OperationsTest, ChangesNotYetSentAreNamedBeforeTheyAreLost) {
  AddFile("CLIENTI", true);
  Crea_File(schema_, 1);
  Exec("INSERT INTO [CLIENTI] ([COD],[QTA]) VALUES('A',1)");
  EXPECT_EQ(1, Modifiche_Non_Inviate(schema_, 1).rows());
  confirmations_.answer = false;
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kBrowser, 1, false));
  ASSERT_EQ(1u, confirmations_.boxes.size());
  EXPECT_EQ(
      "QUESTION Cancella File il file GESTIONALE/CLIENTI contiene 1\rrecord(s) \r\r\rpremere "
      "'OK' per cancellare\rpremere 'Annulla' per NON cancellare\rATTENZIONE: 1 modifica non "
      "ancora inviata al sistema origine andr\xE0 persa\r",
      confirmations_.boxes[0]);
  EXPECT_EQ(1, confirmations_.unsent[0]);
  // An empty mirror table whose changes are not sent yet is asked about all the same.
  Exec("DELETE FROM [CLIENTI]");
  EXPECT_FALSE(Conferma_Cancella_File(schema_, Owner::kBrowser, 1, false));
  ASSERT_EQ(2u, confirmations_.boxes.size());
  const std::string lost2 =
      "\rpremere 'OK' per cancellare\rpremere 'Annulla' per NON cancellare\rATTENZIONE: 2 "
      "modifiche non ancora inviate al sistema origine andranno perse\r";
  EXPECT_EQ("QUESTION Cancella File il file GESTIONALE/CLIENTI contiene 0\rrecord(s) \r\r" + lost2,
            confirmations_.boxes[1]);
  // Forced, they are written down as lost.
  lines_.clear();
  Cancella_File(schema_, Owner::kMainWindow, 1, true);
  EXPECT_EQ(2u, confirmations_.boxes.size());
  EXPECT_EQ(
      "ATTENZIONE: per il file GESTIONALE/CLIENTI 2 modifiche non ancora inviate al sistema "
      "origine andranno perse",
      lines_[0]);
  EXPECT_EQ("non esiste", Count("CLIENTI___"));
  // The master table: each of its rows is an event not sent.
  EXPECT_FALSE(Conferma_Cancella_Master(schema_, Owner::kBrowser, 1, false));
  EXPECT_EQ(
      "QUESTION Cancella File il file GESTIONALE/_T_MASTER___ contiene 2\rrecord(s) \r\r" + lost2,
      confirmations_.boxes.back());
  EXPECT_EQ(2, confirmations_.unsent.back());
}

}  // namespace
}  // namespace torvan
