// The lines `torvan status` prints from a status file.
#include "cli/status_lines.h"

#include <gtest/gtest.h>

#include "control/status_test_util.h"

namespace torvan {
namespace {

using testing::Sample;

TEST(StatusLinesTest, ShowTheFiguresAsTheDisplayFormatsThem) {
  const std::vector<std::string> expected = {
      "Programma: torvan run (pid 4242), avviato il 05/12/2026 14:00:00",
      "Stato scritto il 05/12/2026 14:05:09",
      "Sincronismo: attivo (4)",
      "In corso: in attesa del lock su GESTIONALE/CLIENTI: modifica DATI/CLIENTI codice 1 RRN 7",
      "Collegamento host: aperto",
      "Collegamento SQL: aperto",
      "Spegnimento host: 05/12/26  22:00  Riaccensione host: 05/12/26  23:00",
      "Modifica trattenuta: DATI/CLIENTI codice 1 RRN 7 IDX 0",
      "  ricevuta il 05/12/2026 14:04:00, tentativi 3",
      "  ultimo errore: valore = non valido",
      "Eventi in volo: 1",
      "Database 1 GESTIONALE: 3 eventi in attesa, il pi\xF9 vecchio da 12 s (contati 0 s fa)",
      "Database 3 ARCHIVIO: eventi non ancora contati; conteggio non riuscito: no such table",
      "Ultima modifica dall'host applicata: 05/12/2026 14:05:01, 8 s fa",
      "Ritardo dall'host: 1 min 35 s (da quando la coda dell'host era vuota)",
      "                Tempo      Numero     Media   Ritardi  Libreria    File",
      "Ricevuti        1.250          12   104.167         3  DATI        CLIENTI",
      "Inviati         0.500           5   100.000            DATI        CONTATTI",
      "Messaggio: 14:05:01 - AS--> DATI/CLIENTI ADD RRN:7 IDX:0",
  };
  EXPECT_EQ(expected, StatusLines(Sample()));

  StatusSnapshot idle;
  idle.front_end = "finestra";
  idle.databases = {{2, "GESTIONALE", 0, 0, 61, ""}, {4, "ALTRO", 1, 3725, 1, ""}};
  const std::vector<std::string> lines = StatusLines(idle);
  EXPECT_EQ("Sincronismo: spento (0)", lines[2]);
  EXPECT_EQ("Nessuna modifica trattenuta", lines[5]);
  EXPECT_EQ("Database 2 GESTIONALE: 0 eventi in attesa (contati 1 min 1 s fa)", lines[6]);
  EXPECT_EQ("Database 4 ALTRO: 1 evento in attesa, il pi\xF9 vecchio da 1 h 2 min (contati 1 s fa)",
            lines[7]);
  EXPECT_EQ("Ultima modifica dall'host applicata: nessuna dall'avvio", lines[8]);
  EXPECT_EQ("Ricevuti", lines[10]);  // all zero: blank fields, as on the display
}

}  // namespace
}  // namespace torvan
