#include <string>
#include <string_view>
#include <vector>

#include "config/fuzz/checks.h"
#include "config/fuzz/fuzz_targets.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "core/program.h"
#include "platform/fakes.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::fuzz {

namespace {

struct Key {
  const char* section;
  const char* key;
};
constexpr Key kKeys[] = {{"Generale", "Parametri"}, {"Generale", "Check"},
                         {"Generale", "ClockMode"}, {"Generale", "Durevole"},
                         {"SQL", "Motore"},         {"SQL", "Driver"},
                         {"SQL", "Attributi"},      {"Dimensioni Base", "Left"}};

std::vector<std::string> ReadKeys(const std::string& path) {
  std::vector<std::string> values;
  for (const Key& k : kKeys) {
    values.push_back(GetPrivateProfileString(k.section, k.key, "<assente>", path));
    Check(values.back().size() <= kProfileValueMax || values.back() == "<assente>");
    Check(values.back().find('\n') == std::string::npos);
  }
  return values;
}

// A Program working in a folder of its own, every status line checked.
struct Session {
  Session() : program(Paths::InFolder(folder.path()), &clock, &pump) {
    program.log.on_status_line = [](std::string_view line) { Check(!HasControl(line)); };
  }
  platform::TempFolder folder{"torvan-fuzz-settings"};
  platform::FakeClock clock;
  platform::FakePump pump;
  Program program;
};

}  // namespace

int FuzzSettingsFile(const uint8_t* data, size_t size) {
  static Session session;
  Program& program = session.program;
  const std::string& ini = program.paths.settings;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(platform::WriteFileAtomic(ini, bytes, 0600, /*durable=*/false).ok());

  Leggi_Parametri(program);
  CheckSettings(program.settings);
  const std::vector<std::string> before = ReadKeys(ini);

  // A key written reads back as written and leaves every other key as it was.
  std::string value = bytes.substr(0, 40);
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = '.';
  }
  if (!SurvivesProfileFile(value)) value = "valore";
  Check(WritePrivateProfileString("Generale", "Prova", value, ini).ok());
  Check(GetPrivateProfileString("generale", "PROVA", "<assente>", ini) == value);
  Check(ReadKeys(ini) == before);

  // The options form: a form that can be saved reads back as it was saved.
  OptionsForm form = OptionsForm_Load(program.paths);
  Check(form.txtIN1.size() <= 50 && form.txtIN2.size() <= 10 && form.txtIN3.size() <= 10);
  if (OptionsForm_Check(form).empty()) {
    OptionsForm saved = form;
    Check(OptionsForm_Save(program, saved).ok());
    CheckSettings(program.settings);
    OptionsForm loaded = OptionsForm_Load(program.paths);
    Check(OptionsForm_Normalise(loaded) == OptionsForm_Normalise(saved));
  }
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzSettingsFile(data, size);
}
#endif
