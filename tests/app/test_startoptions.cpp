// The desktop application's command line: what the parser takes and refuses, and the options applied to
// one run (connected to the simulator through them) without reaching the settings file.
#include "Appfixture.h"
#include "app/Inifile.h"
#include "app/Mainform.h"
#include "app/Startoptions.h"
#include "support/Simulator.h"

namespace {

TStartOptions Parse(std::vector<std::string> args) { return ParseStartOptions(args); }

std::string Error(std::vector<std::string> args) {
  try {
    ParseStartOptions(args);
  } catch (const TStartOptionsError& e) {
    return (e.unknownArgument ? "unknown: " : "") + e.message;
  }
  return "accepted";
}

TEST(StartOptions, ParsedAsTheClientTakesThem) {
  TStartOptions o = Parse({"--link", "com2", "--serial-device", "/dev/ttyUSB0", "--telnet-port", "2323", "--data-port",
                           "9101", "--connect", "--settings", "my.ini"});
  EXPECT_EQ(o.link, 2);
  EXPECT_EQ(o.serialDevice, "/dev/ttyUSB0");
  EXPECT_EQ(o.telnetPort, 2323);
  EXPECT_EQ(o.dataPort, 9101);
  EXPECT_TRUE(o.connect);
  EXPECT_EQ(o.settingsFile, "my.ini");
  EXPECT_FALSE(o.address);
  // An address alone means the LAN, whatever the settings file remembers; nothing given changes nothing.
  EXPECT_EQ(Parse({"--address", "10.0.0.5"}).link, 0);
  EXPECT_FALSE(Parse({}).link);
  EXPECT_EQ(Parse({"--connect", "--help", "--bogus"}).action, TStartOptions::TAction::Help);
  EXPECT_EQ(Parse({"--version"}).action, TStartOptions::TAction::Version);

  EXPECT_EQ(Error({"--link", "COM5"}), "--link must be LAN, COM1, COM2, COM3 or COM4, not \"COM5\"");
  EXPECT_EQ(Error({"--telnet-port", "0"}), "--telnet-port needs a number from 1 to 65535, not \"0\"");
  EXPECT_EQ(Error({"--data-port", "9100x"}), "--data-port needs a number from 1 to 65535, not \"9100x\"");
  EXPECT_EQ(Error({"--address", ""}), "--address needs a host name or address");
  EXPECT_EQ(Error({"--settings"}), "--settings needs a value");
  EXPECT_EQ(Error({"--serial-device", "/dev/ttyS0"}), "--serial-device applies to a COM link: add --link COM1..COM4");
  EXPECT_EQ(Error({"-platform", "offscreen"}), "unknown: unknown argument \"-platform\"");
}

// The settings file points at an instrument that is not there; the options point at the simulator.
TEST(StartOptions, OverrideTheSettingsForThisRunOnly) {
  Simulator sim;
  TProgramDir dir;
  const std::string settings =
      "[LastConfig]\nLink=2\nLAN=192.0.2.1\nTimeout=3000\n[LAN]\nTelnetPort=1\nDataPort=2\n[Serial]\nCOM2=/dev/null\n";
  dir.WriteIni(settings);
  TStartOptions options = Parse({"--address", "127.0.0.1", "--telnet-port", std::to_string(sim.TelnetPort()),
                                 "--data-port", std::to_string(sim.DataPort()), "--connect"});
  {
    TMainForm form(dir.Dir(), options);
    EXPECT_EQ(form.Title(), "Morvent v" MORVENT_VERSION);  // the about box and the package agree
    EXPECT_EQ(form.Link(), 0);
    EXPECT_EQ(form.LanAddress(), "127.0.0.1");
    EXPECT_EQ(form.TelnetPort(), sim.TelnetPort());
    form.show();
    form.ConnectLastClick();  // what --connect does once the window shows
    ASSERT_TRUE(WaitFor([&form] { return form.GetConnection() != nullptr; }, 20000));
    EXPECT_EQ(form.windowTitle(), "Morvent v5.66  -  127.0.0.1");
    Screenshot(&form, "startoptions_connected");
    form.close();
  }
  // Closing wrote the window's position, and nothing the options set.
  TIniFile ini(dir.Ini());
  EXPECT_TRUE(ini.ValueExists("WindowPos", "DetailsSize"));
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Link", -1), 2);
  EXPECT_EQ(ini.ReadString("LastConfig", "LAN", ""), "192.0.2.1");
  EXPECT_EQ(ini.ReadInteger("LAN", "TelnetPort", -1), 1);
  EXPECT_EQ(ini.ReadInteger("LAN", "DataPort", -1), 2);
  EXPECT_EQ(ini.ReadString("Serial", "COM2", ""), "/dev/null");
}

TEST(StartOptions, SettingsFileReplacesTheUsualPlace) {
  TProgramDir dir;
  dir.WriteIni("[LastConfig]\nLAN=beside-the-program\n");
  const std::string other = (dir.path / "other.ini").string();
  std::ofstream(other) << "[LastConfig]\nLAN=chosen\nLink=3\n";
  TStartOptions options = Parse({"--settings", other, "--link", "COM3", "--serial-device", "/dev/ttyUSB1"});
  {
    TMainForm form(dir.Dir(), options);
    EXPECT_EQ(form.Ini().Path(), std::filesystem::path(other));
    EXPECT_EQ(form.LanAddress(), "chosen");
    EXPECT_EQ(form.Link(), 3);
    form.show();
    form.close();
  }
  EXPECT_EQ(dir.ReadFile("Morvent.ini"), "[LastConfig]\nLAN=beside-the-program\n");
  TIniFile ini(other);
  EXPECT_TRUE(ini.ValueExists("WindowPos", "DetailsSize"));
  EXPECT_FALSE(ini.SectionExists("Serial"));
}

}  // namespace
