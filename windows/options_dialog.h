// frmOpzioni, the options dialog: the operator edits the parameter string of TnC.INI.
//
// The boxes are an OptionsForm (config/settings.h), which loads, gives the standard values,
// normalises and saves them exactly as `torvan settings` does; this window only shows the
// boxes. Non-modal, owned by the main window; Finestra_Opzioni_Aperta is set while it is
// open. Controls carry their design names (txtIN1, chkLog, cmdAggiorna, ...) as object
// names. Before saving, every box is checked with OptionsForm_Check.
//
// A third panel holds the settings beside the parameter string (Durevole, Metriche, ...):
// one box per key of ProfileSettings(), named and checked as `torvan settings set` names and
// checks it, so a key added there appears here by itself. A key's box shows its text in
// TnC.INI (its standard value greyed when absent); "Aggiorna" writes the keys whose text
// changed.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "config/settings.h"
#include "control/controller.h"

namespace torvan {

class OptionsDialog final : public QDialog {
 public:
  // Loads the dialog: sets the flag, refreshes the toolbar, fills the boxes from TnC.INI
  // and places itself centred over the main window (`owner`), top edges aligned.
  OptionsDialog(Program& program, Controller& control, FrontEnd& front, QWidget* owner);
  ~OptionsDialog() override;

  // The boxes as the dialog holds them / filled from a form.
  OptionsForm Form() const;
  void Fill(const OptionsForm& form);
  // The box of a key of ProfileSettings(), or null.
  QLineEdit* Extra(std::string_view name) const;

  // The three buttons.
  // Checks the boxes; saves, logs, re-reads, checks the source server and closes. A value
  // the settings file could not give back as typed is refused in a box naming the field
  // and the rule; nothing is saved and the dialog stays open.
  void Aggiorna();
  void Standard();  // the standard values, in the boxes only
  void Uscita();    // close without saving

  // The controls in keyboard order.
  QList<QWidget*> TabOrder() const;

 protected:
  void done(int result) override;

 private:
  void Unload();
  // True when every box holds a value that can be stored; otherwise says why.
  bool Storable();

  Program& program_;
  Controller& control_;
  FrontEnd& front_;
  QLineEdit *txtIN1_, *txtIN2_, *txtIN3_, *txtIN5_, *txtIN16_, *txtIN17_;
  QLineEdit *txtIN12_, *txtIN13_, *txtIN14_, *txtIN18_, *txtIN15_;
  QCheckBox *chkLog_, *chkLog_PC_AS_, *chkNativeClient_;
  // The keys of ProfileSettings(), in its order, with their text as loaded.
  struct ExtraBox {
    std::string name;
    QLineEdit* box;
    std::string loaded;
  };
  std::vector<ExtraBox> extras_;
  QPushButton *cmdAggiorna_, *cmdStandard_, *cmdUscita_;
  bool loaded_ = true;
};

}  // namespace torvan
