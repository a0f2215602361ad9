// The shared scaffolding of the script form tests.
#include "FormFixture.h"

#include <gtest/gtest.h>

#include "script/HalComp.h"
#include "script/Halinit.h"
#include "scriptlib/ScriptLibrary.h"

namespace formtest {

namespace {
std::mutex g_lock;
std::unique_ptr<TQtFormHost> g_host;

// The form host goes while the application object still exists.
class TFormsEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { g_host.reset(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new TFormsEnvironment);

void Record(const std::string& text) {
  std::lock_guard lock(g_lock);
  Messages().push_back(text);
}
}  // namespace

std::vector<std::string>& Messages() {
  static std::vector<std::string> m;
  return m;
}

void StartForms() {
  // started after the engine's own tables, so it ends before them
  static std::unique_ptr<THalinit> engine = [] {
    auto e = std::make_unique<THalinit>();
    RegisterGeneralLibrary();
    RegisterInstrumentLibraries();
    return e;
  }();
  if (!g_host) g_host = std::make_unique<TQtFormHost>();
  SetHalMessageBox(Record);
  SetFormErrorReporter(Record);
  std::lock_guard lock(g_lock);
  Messages().clear();
}

void StopForms() { TFormList::Instance().CloseAll(); }

std::string WriteForm(support::TempDir& dir, const std::string& name, const std::string& formText,
                      const std::string& script, bool binary) {
  const std::string form = dir.File(name + ".dfm");
  const std::string bytes = binary ? WriteFormStream(ParseFormText(formText)) : formText;
  std::ofstream(form, std::ios::binary) << bytes;
  if (!script.empty()) std::ofstream(dir.File(name + ".pas"), std::ios::binary) << script;
  return form;
}

TComponent& Component(TForm& form, const std::string& name) {
  TComponent* c = form.FindComponent(name);
  if (!c) throw std::runtime_error("no component " + name);
  return *c;
}

void Screenshot(QWidget* w, const std::string& name) {
  const std::string path = std::string(MORVENT_SCREENSHOT_DIR) + "/" + name + ".png";
  EXPECT_TRUE(w->grab().save(QString::fromStdString(path))) << path;
}

void CLineSink::AddText(const std::string& text) {
  std::lock_guard lock(m_lock);
  m_lines.push_back(text);
}
void CLineSink::ScriptFinished() {
  std::lock_guard lock(m_lock);
  m_finished = true;
}
bool CLineSink::Finished() {
  std::lock_guard lock(m_lock);
  return m_finished;
}
std::vector<std::string> CLineSink::Lines() {
  std::lock_guard lock(m_lock);
  return m_lines;
}

CScriptRun::CScriptRun(support::TempDir& dir, const std::string& source) {
  static int n = 0;
  const std::string path = dir.Write("run" + std::to_string(++n) + ".pas", source);
  TScriptHost host;
  host.sink = &m_sink;
  host.mainThread = &m_dispatcher;
  m_thread = std::make_unique<TInstrScriptThread>(host, path, std::vector<std::string>{});
  m_thread->Start();
}

CScriptRun::~CScriptRun() {
  m_thread->Abort();
  support::WaitFor([this] { return m_sink.Finished(); });
  m_thread->Wait();
}

std::vector<std::string> CScriptRun::Finish() {
  const bool ended = support::WaitFor([this] { return m_sink.Finished(); }, 60000);
  m_thread->Wait();
  std::vector<std::string> lines = m_sink.Lines();
  if (!lines.empty() && lines.back().empty()) lines.pop_back();  // every run ends with an empty line
  if (!ended) lines.push_back("(did not end)");
  return lines;
}

}  // namespace formtest
