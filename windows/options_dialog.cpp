#include "windows/options_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "windows/centred_box.h"
#include "windows/qt_text.h"
#include "windows/twips.h"

namespace torvan {

namespace {

struct BoxDesign {
  const char* name;
  const char* setting;  // the field of Parametri it holds, as the settings checks name it
  const char* caption;
  const char* unit;  // nullptr: none
  const char* tooltip;
  int width_twips;
};

constexpr BoxDesign kOrigine[] = {
    {"txtIN1", "Nome_Connessione", "Nome Connessione", nullptr,
     "Nome della connessione o indirizzo IP del server origine", 4200},
    {"txtIN2", "Utente", "Utente", nullptr, "Nome utente server origine", 1500},
    {"txtIN3", "Password", "Password", nullptr, "Password per utente server origine", 1500},
    {"txtIN5", "Porta", "Porta", nullptr, "Porta del server origine (per esempio 4200)", 900},
    {"txtIN16", "Libreria", "Libreria", nullptr, "Libreria del monitor", 1500},
    {"txtIN17", "Porta_FTP", "Porta FTP (21)", nullptr,
     "Porta FTP del server origine (normalmente 21)", 900},
};

constexpr BoxDesign kVarie[] = {
    {"txtIN12", "Attesa_Sincronizz", "Attesa sincronizz.", "in millisecondi",
     "Attesa prima della risposta del server origine", 900},
    {"txtIN13", "Attesa_Dopo_Start", "Attesa dopo start", "in minuti",
     "Attesa dopo lo start del server origine", 900},
    {"txtIN14", "Attesa_Prima_Stop", "Attesa prima stop", "in minuti",
     "Attesa prima dello stop del server origine", 900},
    {"txtIN18", "Attesa_Restart", "Attesa restart", "in minuti",
     "Attesa restart in minuti (0=spegimento e accensione da calendario)", 900},
    {"txtIN15", "Ciclo_Sincronizz", "Ciclo di sincronizz.", "in millisecondi",
     "Ciclo di sincronizzazione (in millisecondi)", 900},
};

// The control that holds a field of Parametri.
QString BoxOf(std::string_view setting) {
  for (const BoxDesign& d : kOrigine) {
    if (setting == d.setting) return QString::fromLatin1(d.name);
  }
  for (const BoxDesign& d : kVarie) {
    if (setting == d.setting) return QString::fromLatin1(d.name);
  }
  return {};
}

QLineEdit* AddBox(QGridLayout* grid, int row, const BoxDesign& d, int dpi, QWidget* parent) {
  auto* caption = new QLabel(QString::fromLatin1(d.caption), parent);
  auto* box = new QLineEdit(parent);
  box->setObjectName(d.name);
  box->setToolTip(QString::fromLatin1(d.tooltip));
  box->setFixedWidth(TwipsToPixels(d.width_twips, dpi));
  caption->setBuddy(box);
  grid->addWidget(caption, row, 0);
  grid->addWidget(box, row, 1, Qt::AlignLeft);
  if (d.unit != nullptr) grid->addWidget(new QLabel(QString::fromLatin1(d.unit), parent), row, 2);
  return box;
}

QCheckBox* AddCheck(QHBoxLayout* row, const char* name, const char* caption, QWidget* parent) {
  auto* check = new QCheckBox(QString::fromLatin1(caption), parent);
  check->setObjectName(name);
  row->addWidget(check);
  return check;
}

QPushButton* AddButton(QHBoxLayout* row, const char* name, const char* caption, const char* tooltip,
                       QWidget* parent) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(name);
  button->setToolTip(QString::fromLatin1(tooltip));
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

}  // namespace

OptionsDialog::OptionsDialog(Program& program, Controller& control, FrontEnd& front, QWidget* owner)
    : QDialog(owner), program_(program), control_(control), front_(front) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle("Torvan  Opzioni");
  const int dpi = logicalDpiX();

  auto* origine = new QGroupBox(" Impostazioni Origine ", this);
  auto* grid1 = new QGridLayout(origine);
  QLineEdit* boxes1[6];
  for (int i = 0; i < 6; ++i) boxes1[i] = AddBox(grid1, i, kOrigine[i], dpi, origine);
  grid1->setColumnStretch(2, 1);
  txtIN1_ = boxes1[0], txtIN2_ = boxes1[1], txtIN3_ = boxes1[2];
  txtIN5_ = boxes1[3], txtIN16_ = boxes1[4], txtIN17_ = boxes1[5];
  // Typed characters of the password show as "*".
  txtIN3_->setEchoMode(QLineEdit::Password);
  txtIN3_->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");

  auto* varie = new QGroupBox(" Impostazioni Varie ", this);
  auto* grid2 = new QGridLayout(varie);
  QLineEdit* boxes2[5];
  for (int i = 0; i < 5; ++i) boxes2[i] = AddBox(grid2, i, kVarie[i], dpi, varie);
  grid2->setColumnStretch(2, 1);
  txtIN12_ = boxes2[0], txtIN13_ = boxes2[1], txtIN14_ = boxes2[2];
  txtIN18_ = boxes2[3], txtIN15_ = boxes2[4];
  auto* checks = new QHBoxLayout;
  chkLog_ = AddCheck(checks, "chkLog", "Log su file", varie);
  chkLog_PC_AS_ = AddCheck(checks, "chkLog_PC_AS", "Log PC-->AS", varie);
  chkNativeClient_ = AddCheck(checks, "chkNativeClient", "Native Client", varie);
  checks->addStretch(1);
  grid2->addLayout(checks, 5, 0, 1, 3);

  // The settings beside the parameter string, from the table `torvan settings set` uses.
  auto* altre = new QGroupBox(" Altre impostazioni ", this);
  auto* grid3 = new QGridLayout(altre);
  for (const ProfileSetting& key : ProfileSettings()) {
    const int row = int(extras_.size());
    auto* caption = new QLabel(QString::fromLatin1(key.name), altre);
    auto* box = new QLineEdit(altre);
    box->setObjectName(key.name);
    box->setToolTip(ToQt(key.tooltip != nullptr ? key.tooltip : ""));
    box->setPlaceholderText(ToQt(key.standard != nullptr ? key.standard : ""));
    box->setFixedWidth(TwipsToPixels(4200, dpi));
    caption->setBuddy(box);
    grid3->addWidget(caption, row, 0);
    grid3->addWidget(box, row, 1, Qt::AlignLeft);
    const std::string loaded = LoadProfileSetting(program_.paths, key.name);
    box->setText(ToQt(loaded));
    extras_.push_back({key.name, box, loaded});
  }
  grid3->setColumnStretch(2, 1);

  auto* buttons = new QHBoxLayout;
  cmdAggiorna_ = AddButton(buttons, "cmdAggiorna", "Aggiorna", "Aggiorna ed esce", this);
  cmdStandard_ = AddButton(buttons, "cmdStandard", "Standard", "Imposta valori standard", this);
  cmdUscita_ = AddButton(buttons, "cmdUscita", "Uscita", "Uscita senza aggiornare", this);
  connect(cmdAggiorna_, &QPushButton::clicked, this, &OptionsDialog::Aggiorna);
  connect(cmdStandard_, &QPushButton::clicked, this, &OptionsDialog::Standard);
  connect(cmdUscita_, &QPushButton::clicked, this, &OptionsDialog::Uscita);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(origine);
  layout->addWidget(varie);
  layout->addWidget(altre);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  const QList<QWidget*> order = TabOrder();
  for (qsizetype i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);

  program_.state.Finestra_Opzioni_Aperta = true;
  front_.Bar_Imposta();
  Fill(OptionsForm_Load(program_.paths));
  adjustSize();
  if (owner != nullptr) {
    const QRect o = owner->frameGeometry();
    const QSize frame = o.size() - owner->geometry().size();
    move(o.left() + (o.width() - (width() + frame.width())) / 2, o.top());
  }
  txtIN1_->setFocus();
}

OptionsDialog::~OptionsDialog() { Unload(); }

QList<QWidget*> OptionsDialog::TabOrder() const {
  QList<QWidget*> order = {txtIN1_,  txtIN2_,  txtIN3_,       txtIN5_,         txtIN16_,
                           txtIN17_, txtIN12_, txtIN13_,      txtIN14_,        txtIN18_,
                           txtIN15_, chkLog_,  chkLog_PC_AS_, chkNativeClient_};
  for (const ExtraBox& e : extras_) order << e.box;
  order << cmdAggiorna_ << cmdStandard_ << cmdUscita_;
  return order;
}

QLineEdit* OptionsDialog::Extra(std::string_view name) const {
  for (const ExtraBox& e : extras_) {
    if (e.name == name) return e.box;
  }
  return nullptr;
}

OptionsForm OptionsDialog::Form() const {
  OptionsForm f;
  f.txtIN1 = FromQt(txtIN1_->text());
  f.txtIN2 = FromQt(txtIN2_->text());
  f.txtIN3 = FromQt(txtIN3_->text());
  f.txtIN5 = FromQt(txtIN5_->text());
  f.txtIN12 = FromQt(txtIN12_->text());
  f.txtIN13 = FromQt(txtIN13_->text());
  f.txtIN14 = FromQt(txtIN14_->text());
  f.txtIN15 = FromQt(txtIN15_->text());
  f.txtIN16 = FromQt(txtIN16_->text());
  f.txtIN17 = FromQt(txtIN17_->text());
  f.txtIN18 = FromQt(txtIN18_->text());
  f.chkLog = chkLog_->isChecked();
  f.chkNativeClient = chkNativeClient_->isChecked();
  f.chkLog_PC_AS = chkLog_PC_AS_->isChecked();
  return f;
}

void OptionsDialog::Fill(const OptionsForm& f) {
  txtIN1_->setText(ToQt(f.txtIN1));
  txtIN2_->setText(ToQt(f.txtIN2));
  txtIN3_->setText(ToQt(f.txtIN3));
  txtIN5_->setText(ToQt(f.txtIN5));
  txtIN12_->setText(ToQt(f.txtIN12));
  txtIN13_->setText(ToQt(f.txtIN13));
  txtIN14_->setText(ToQt(f.txtIN14));
  txtIN15_->setText(ToQt(f.txtIN15));
  txtIN16_->setText(ToQt(f.txtIN16));
  txtIN17_->setText(ToQt(f.txtIN17));
  txtIN18_->setText(ToQt(f.txtIN18));
  chkLog_->setChecked(f.chkLog);
  chkNativeClient_->setChecked(f.chkNativeClient);
  chkLog_PC_AS_->setChecked(f.chkLog_PC_AS);
}

bool OptionsDialog::Storable() {
  std::vector<std::string> broken = OptionsForm_Check(Form());
  for (const ExtraBox& e : extras_) {
    const std::string text = FromQt(e.box->text());
    if (text == e.loaded) continue;  // only what the operator changed is written
    if (std::string error = CheckProfileSetting(e.name, text); !error.empty()) {
      broken.push_back(std::move(error));
    }
  }
  if (broken.empty()) return true;
  std::string text = "Valori non validi, le opzioni non sono state aggiornate:";
  for (const std::string& rule : broken) text += "\n" + rule;
  // The first box at fault takes the focus.
  const std::string setting = broken.front().substr(0, broken.front().find(':'));
  QLineEdit* box = findChild<QLineEdit*>(BoxOf(setting));
  if (box == nullptr) box = Extra(setting);
  if (box != nullptr) box->setFocus();
  Messaggio_Centrato(this, ToQt(text), QMessageBox::Ok, QMessageBox::Warning, " Opzioni ");
  return false;
}

void OptionsDialog::Aggiorna() {
  Busy busy(program_.state);
  if (!busy.entered()) return;
  if (!Storable()) return;
  // The keys first: the save below reads the settings again, with them.
  for (ExtraBox& e : extras_) {
    const std::string text = FromQt(e.box->text());
    if (text == e.loaded) continue;
    if (const Status s = SaveProfileSetting(program_.paths, e.name, text); !s.ok()) {
      program_.Scrivi_Messaggio("ERRORE nel salvataggio delle opzioni: " + s.message());
      return;
    }
    e.loaded = text;
  }
  OptionsForm form = Form();
  const Status saved = OptionsForm_Save(program_, form);
  Fill(form);  // the boxes as normalised
  if (!saved.ok()) {
    program_.Scrivi_Messaggio("ERRORE nel salvataggio delle opzioni: " + saved.message());
    return;
  }
  control_.Server__Verifica(true, false);
  accept();
}

void OptionsDialog::Standard() {
  Fill(OptionsForm_Standard());
  for (const ProfileSetting& key : ProfileSettings()) {
    if (QLineEdit* box = Extra(key.name)) box->setText(ToQt(key.standard ? key.standard : ""));
  }
}

void OptionsDialog::Uscita() { reject(); }

void OptionsDialog::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  program_.state.Finestra_Opzioni_Aperta = false;
  front_.Bar_Imposta();
}

void OptionsDialog::done(int result) {
  QDialog::done(result);
  Unload();
}

}  // namespace torvan
