// Settings file: values round trip in the file's own format, defaults for missing and garbage values,
// layout and order kept, and where the file lives.
#include "app/Inifile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class IniTest : public ::testing::Test {
 protected:
  void TearDown() override { ::chmod(dir.c_str(), 0755); }  // a test may have locked it; the folder goes after
  std::string FileText() const { return support::ReadFile(path.string()); }
  void WriteFile(const std::string& text) const {
    std::ofstream f(path, std::ios::binary);
    f << text;
  }
  support::TempDir temp{"morvent-ini"};
  fs::path dir{temp.Path()}, path{dir / "Morvent.ini"};
};

TEST_F(IniTest, WritesValuesUnquotedInSectionsAndReadsThemBack) {
  {
    TIniFile ini(path);
    ini.WriteInteger("LastConfig", "Timeout", 7000);
    ini.WriteString("LastConfig", "LAN", "192.168.0.10");
    ini.WriteBool("LastConfig", "ExecuteAutostart", false);
    ini.WriteString("LastWindows-1", "G1-123-IN", "10,20,300,200");
    ini.WriteString("LayoutNames", "1", "My layout");
  }
  EXPECT_EQ(FileText(),
            "[LastConfig]\nTimeout=7000\nLAN=192.168.0.10\nExecuteAutostart=0\n"
            "[LastWindows-1]\nG1-123-IN=10,20,300,200\n[LayoutNames]\n1=My layout\n");
  TIniFile again(path);
  EXPECT_EQ(again.ReadInteger("LastConfig", "Timeout", 5000), 7000);
  EXPECT_EQ(again.ReadString("LastConfig", "LAN", ""), "192.168.0.10");
  EXPECT_FALSE(again.ReadBool("LastConfig", "ExecuteAutostart", true));
  EXPECT_EQ(again.ReadString("LastWindows-1", "G1-123-IN", ""), "10,20,300,200");
  EXPECT_EQ(again.ReadString("LayoutNames", "1", "Layout 1"), "My layout");
}

TEST_F(IniTest, MissingKeysSectionsAndFileGiveDefaults) {
  TIniFile ini(dir / "does-not-exist.ini");
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Timeout", 5000), 5000);
  EXPECT_EQ(ini.ReadInteger("WindowPos", "Width", -1), -1);
  EXPECT_TRUE(ini.ReadBool("LastConfig", "ExecuteAutostart", true));
  EXPECT_EQ(ini.ReadString("LastConfig", "LogFile", "Log.txt"), "Log.txt");
  EXPECT_FALSE(ini.SectionExists("LastConfig"));
  EXPECT_FALSE(fs::exists(dir / "does-not-exist.ini"));  // reading never creates the file
}

TEST_F(IniTest, ValuesThatAreNoNumbersReadAsTheirDefaults) {
  WriteFile(
      "[LastConfig]\nTimeout=abc\nLink=12abc\nDetails=\nToolBar= 0 \nAutoConnect=-1\n"
      "OpenMaximized=99999999999\nExecuteAutostart=yes\n[WindowPos]\nWidth=10,20\nTop=+42\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Timeout", 5000), 5000);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Link", 0), 0);  // leading digits are not enough
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Details", 1), 1);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "ToolBar", 1), 0);  // blanks around a number are fine
  EXPECT_TRUE(ini.ReadBool("LastConfig", "AutoConnect", false));
  EXPECT_EQ(ini.ReadInteger("LastConfig", "OpenMaximized", 0), 0);  // beyond 32 bits
  EXPECT_TRUE(ini.ReadBool("LastConfig", "ExecuteAutostart", true));
  EXPECT_FALSE(ini.ReadBool("LastConfig", "ExecuteAutostart", false));
  EXPECT_EQ(ini.ReadInteger("WindowPos", "Width", -1), -1);
  EXPECT_EQ(ini.ReadInteger("WindowPos", "Top", 0), 42);
}

TEST_F(IniTest, GarbageLinesAreKeptAndDoNotStopReading) {
  const std::string garbage = std::string("\x01\x02 binary \xff\n", 13) + "no equals sign here\n=novalue\n";
  WriteFile("; my comment\n" + garbage + "[LastConfig]\r\nLink=3\r\n[broken\nLAN=10.0.0.1\n\n[Font]\nName=Courier\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Link", 0), 3);
  EXPECT_EQ(ini.ReadString("LastConfig", "LAN", ""), "10.0.0.1");  // "[broken" is no header
  EXPECT_EQ(ini.ReadString("Font", "Name", ""), "Courier");
  ini.WriteInteger("LastConfig", "Timeout", 4000);
  const std::string text = FileText();
  EXPECT_EQ(text.rfind("; my comment\n" + garbage, 0), 0u);
  EXPECT_NE(text.find("LAN=10.0.0.1\nTimeout=4000\n\n[Font]"), std::string::npos);
}

TEST_F(IniTest, KeepsOrderAndCaseAndChangesValuesInPlace) {
  WriteFile("[WindowPos]\nTop=1\nLeft=2\nWidth=3\nHeight=4\n[LastConfig]\nLink=0\n");
  TIniFile ini(path);
  ini.WriteInteger("windowpos", "LEFT", 20);  // names compare without regard to case
  ini.WriteInteger("LastConfig", "Link", 2);
  EXPECT_EQ(FileText(), "[WindowPos]\nTop=1\nLeft=20\nWidth=3\nHeight=4\n[LastConfig]\nLink=2\n");
  EXPECT_EQ(ini.ReadSection("WindowPos"), (std::vector<std::string>{"Top", "Left", "Width", "Height"}));
}

TEST_F(IniTest, EraseSectionRemovesOnlyThatSection) {
  WriteFile("[LastWindows-1]\nA-1-IN=1,2,3,4\n[LastWindows-2]\nB-2-EV=-1,-1,-1,-1\nWidth=800\n[LayoutNames]\n1=x\n");
  TIniFile ini(path);
  ini.EraseSection("LastWindows-2");
  EXPECT_EQ(FileText(), "[LastWindows-1]\nA-1-IN=1,2,3,4\n[LayoutNames]\n1=x\n");
  EXPECT_FALSE(ini.SectionExists("LastWindows-2"));
  ini.EraseSection("NotThere");
  EXPECT_TRUE(ini.ValueExists("LastWindows-1", "A-1-IN"));
}

TEST_F(IniTest, LineBreaksAndEqualsSignsCannotBreakTheFile) {
  TIniFile ini(path);
  ini.WriteString("LayoutNames", "1", "two\nlines\r\n[Evil]");
  ini.WriteString("LastWindows-1", "G=1\n-7-IN", "1,2,3,4");  // module texts come from the instrument
  TIniFile again(path);
  EXPECT_EQ(again.ReadString("LayoutNames", "1", ""), "two lines  [Evil]");
  EXPECT_FALSE(again.SectionExists("Evil"));
  EXPECT_EQ(again.ReadString("LastWindows-1", "G=1\n-7-IN", ""), "1,2,3,4");
  EXPECT_EQ(again.ReadSection("LastWindows-1").size(), 1u);
}

TEST_F(IniTest, UnwritableFileKeepsValuesInMemoryAndReportsIt) {
  {
    std::ofstream blocker(dir / "plain-file");  // a file where a folder would have to be: unwritable even as root
  }
  TIniFile ini(dir / "plain-file" / "Morvent.ini");
  ini.WriteInteger("LastConfig", "Link", 2);
  EXPECT_FALSE(ini.LastWriteOk());
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Link", 0), 2);
  TIniFile good(path);
  good.WriteInteger("LastConfig", "Link", 1);
  EXPECT_TRUE(good.LastWriteOk());
}

TEST_F(IniTest, FileLivesBesideTheProgramWhenWritableElseInTheConfigFolder) {
  EXPECT_EQ(MorventFilePath(dir, "Morvent.ini"), dir / "Morvent.ini");
  const fs::path exe = dir / "bin";
  fs::create_directories(exe);
  const fs::path xdg = dir / "xdg";
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  ::chmod(exe.c_str(), 0555);
  const bool rootCanWrite = ::access(exe.c_str(), W_OK) == 0;
  const fs::path p = MorventFilePath(exe, "Morvent.trc");
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  ::chmod(exe.c_str(), 0755);
  if (rootCanWrite) {
    EXPECT_EQ(p, exe / "Morvent.trc");
  } else {
    EXPECT_EQ(p, xdg / "Morvent" / "Morvent.trc");
    EXPECT_TRUE(fs::is_directory(xdg / "Morvent"));
  }
  // Installed (the desktop entry under the prefix): the user's folder, though the program's is writable.
  fs::create_directories((exe / MORVENT_INSTALLED_MARKER).parent_path());
  std::ofstream(exe / MORVENT_INSTALLED_MARKER) << "[Desktop Entry]\n";
  ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  const fs::path installed = MorventFilePath(exe, "Morvent.ini");
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(installed, xdg / "Morvent" / "Morvent.ini");
}

TEST(IniParse, IntegersAreWholeDecimalNumbersIn32Bits) {
  int32_t v = 7;
  EXPECT_TRUE(TIniFile::ParseInteger("2147483647", v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(TIniFile::ParseInteger("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  for (const char* bad : {"2147483648", "", "-", "1.5", "0x10", "12 3", "abc"}) {
    v = 7;
    EXPECT_FALSE(TIniFile::ParseInteger(bad, v)) << bad;
    EXPECT_EQ(v, 7);
  }
}

}  // namespace
