// The installer as a user's script runs it: silently, under 32-bit Wine, into a fake player's
// folder (an empty winamp.exe, a Plugins folder, the player's registry entry pointing there).
// What lands where, what lumo.ini keeps and who may change it, what a refused or failed install
// leaves (nothing), what the uninstaller takes away, that the installed layout drives the cube,
// and the port page as a user meets it: its list of ports and its test of the cube.
#include "plugin_session.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

namespace {

namespace fs = std::filesystem;
using plugintest::Bytes;
using cubebytes::operator+;

const std::string kSource = LUMO_SOURCE_DIR;
const std::string kVersion = LUMO_VERSION;
const std::string kSetup = kSource + "/dist/lumo-setup-" + kVersion + ".exe";
const std::string kWin32Bin = kSource + "/build/win32/bin";
const char kUninstallKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumo";

// The installer is a 32-bit program: these tests belong to the 32-bit suite (the build under
// test is win32) and run its Wine. Each test process gets a prefix of its own, so nothing one
// test wrote to the registry or the folders Wine keeps is seen by the next.
namespace wine32 {

struct Result {
    int exitCode = -1; // -1: killed after the time-out
    std::string output;
};

// Runs a program to its end, its output (stdout and stderr) collected.
Result run(const std::string& program, const std::vector<std::string>& args,
           const std::string& cwd = "/") {
    harness::Process::Options options;
    options.cwd = cwd;
    options.mergeStderr = true;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    harness::Process process(argv, options);
    process.closeInput();
    Result result;
    result.exitCode = process.finish(std::chrono::seconds(180));
    result.output = process.output();
    return result;
}

Result wine(const std::vector<std::string>& args, const std::string& cwd = "/") {
    return run(harness::build().wine, args, cwd);
}

class Prefix {
  public:
    Prefix() : usePrefix_(dir_.path()) {
        setenv("WINEPREFIX", dir_.path().c_str(), 1);
        setenv("WINEARCH", "win32", 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        booted_ = wine({"wineboot", "-i"});
        // wineboot's own server is not persistent: let it go before starting one that is.
        run(kWineserver, {"-w"});
        run(kWineserver, {"-p"});
        // Let Wine's services re-create the COM links before a test links one to a pty.
        wine({"cmd.exe", "/c", "echo"});
        // Our recorder in place of icacls.exe, and run rather than Wine's built-in one.
        harness::copyFile(kWin32Bin + "/icacls-recorder/icacls.exe", system32() + "/icacls.exe");
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;icacls.exe=n", 1);
    }
    ~Prefix() {
        run(kWineserver, {"-k"});
        unsetenv("WINEARCH");
        unsetenv("WINEPREFIX");
    }
    const Result& booted() const { return booted_; }
    const std::string& path() const { return dir_.path(); }
    std::string system32() const { return path() + "/drive_c/windows/system32"; }

  private:
    static constexpr const char* kWineserver = "/usr/lib/wine/wineserver";
    harness::TempDir dir_;
    harness::ScopedWinePrefix usePrefix_; // the harness's ptys link COM ports in here
    Result booted_;
};

} // namespace wine32

bool kernelRuns32Bit() {
    return system((kSource + "/scripts/can-run-32bit").c_str()) == 0;
}

std::string regValue(const std::string& key, const std::string& name) {
    wine32::Result query = wine32::wine({"reg", "query", key, "/v", name});
    std::istringstream lines(query.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, type;
        words >> first >> type;
        if (first == name && type.rfind("REG_", 0) == 0) {
            std::string value;
            std::getline(words >> std::ws, value);
            if (!value.empty() && value.back() == '\r')
                value.pop_back();
            return value;
        }
    }
    return "(none)";
}

bool keyExists(const std::string& key) {
    return wine32::wine({"reg", "query", key}).exitCode == 0;
}

// Every file and folder below `root`, with each file's content: a snapshot to compare.
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = entry.path().string().substr(root.size());
        entries[name] = entry.is_directory() ? "(folder)" : harness::readFile(entry.path());
    }
    return entries;
}

// A player's folder as the installer finds it: winamp.exe (empty), Plugins, maybe a lumo.ini.
class PlayerFolder {
  public:
    PlayerFolder() {
        fs::create_directory(plugins());
        harness::writeFile(path() + "/winamp.exe", "");
    }
    const std::string& path() const { return dir_.path(); }
    std::string plugins() const { return path() + "/Plugins"; }
    std::string windows() const { return harness::windowsPath(path()); }
    void registerAsPlayer() const {
        wine32::Result added =
            wine32::wine({"reg", "add", "HKCU\\Software\\Winamp", "/ve", "/d", windows(), "/f"});
        EXPECT_EQ(added.exitCode, 0) << added.output;
    }
    void writeSettings(const std::string& text) const {
        harness::writeFile(plugins() + "/lumo.ini", text);
    }
    std::vector<std::string> settingsLines() const {
        return harness::readLines(plugins() + "/lumo.ini");
    }

  private:
    harness::TempDir dir_;
};

// The grant that lets the machine's users change lumo.ini. On Windows, icacls adds an entry
// to the file's ACL that gives BUILTIN\Users (S-1-5-32-545, named by its SID because the
// group's name differs with the language) Modify: a player a standard user runs from Program
// Files then writes its settings into this very file, where Windows would otherwise refuse the
// write or, for a virtualised player, divert it into the user's VirtualStore. Wine's icacls does
// nothing and Wine enforces no ACLs, so the tests record the call instead.
using Grants = std::vector<std::vector<std::string>>;
Grants usersMayChangeSettings(const PlayerFolder& player) {
    return {{player.windows() + "\\Plugins\\lumo.ini", "/grant", "*S-1-5-32-545:(M)"}};
}

const char kUserSettings[] = "[Star]\r\nScreen_x=120\r\nCOMPort=2\r\nBrightness=7\r\n"
                             "[Remote]\r\nHost=cube.local\r\n";

class Installer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (harness::build().is32Bit() && kernelRuns32Bit())
            prefix_ = new wine32::Prefix;
    }
    static void TearDownTestSuite() {
        delete prefix_;
        prefix_ = nullptr;
    }
    void SetUp() override {
        if (!harness::build().is32Bit())
            GTEST_SKIP() << "the installer is a 32-bit program: run with LUMO_BUILD=win32";
        if (!prefix_)
            GTEST_SKIP() << "this kernel cannot run 32-bit programs (scripts/can-run-32bit), so "
                            "neither 32-bit Wine nor the installer can run here";
        ASSERT_EQ(prefix_->booted().exitCode, 0) << prefix_->booted().output;
        ASSERT_TRUE(harness::fileExists(kSetup)) << kSetup << " is missing: run make";
        // What an earlier test in this program registered must not be seen by this one.
        wine32::wine({"reg", "delete", kUninstallKey, "/f"});
        wine32::wine({"reg", "delete", "HKCU\\Software\\Winamp", "/f"});
        takeGrants();
    }
    static wine32::Result install(const std::vector<std::string>& switches) {
        std::vector<std::string> args{kSetup};
        args.insert(args.end(), switches.begin(), switches.end());
        return wine32::wine(args);
    }
    // A silent install into the player's folder, with `port` (a /COM= switch) unless empty.
    static wine32::Result installSilently(const PlayerFolder& player, const std::string& port) {
        std::vector<std::string> switches{"/S", "/D=" + player.windows()};
        if (!port.empty())
            switches.insert(switches.begin() + 1, port);
        return install(switches);
    }

    // A silent install (with `port`, a /COM= switch, unless empty) that must end with
    // `exitCode` and leave the player's folder, its files' permissions and the registry as
    // they were.
    static void expectRefused(const PlayerFolder& player, const std::string& port, int exitCode) {
        auto before = tree(player.path());
        takeGrants();
        wine32::Result setup = installSilently(player, port);
        EXPECT_EQ(setup.exitCode, exitCode) << setup.output;
        EXPECT_EQ(tree(player.path()), before);
        EXPECT_FALSE(keyExists(kUninstallKey));
        EXPECT_EQ(takeGrants(), Grants{}) << "a grant for an install that did not go ahead";
    }

    // What the installer asked icacls.exe (our recorder in its place) to do since the last
    // look: the arguments of each call.
    static Grants takeGrants() {
        const std::string log = prefix_->system32() + "/icacls-calls.txt";
        Grants grants;
        for (const std::string& line : harness::readLines(log)) {
            if (line == "call")
                grants.emplace_back();
            else if (line.rfind("arg ", 0) == 0 && !grants.empty())
                grants.back().push_back(line.substr(4));
        }
        fs::remove(log);
        return grants;
    }

    static wine32::Prefix* prefix_;
};

wine32::Prefix* Installer::prefix_ = nullptr;

TEST_F(Installer, SilentInstallFindsThePlayerPutsBothDllsInPlaceAndOnePortIntoEveryMode) {
    PlayerFolder player;
    player.registerAsPlayer(); // no /D=: the installer finds the folder through this entry
    player.writeSettings(kUserSettings);

    wine32::Result setup = install({"/S", "/COM=5"});
    ASSERT_EQ(setup.exitCode, 0) << setup.output;

    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.dll"),
              harness::readFile(kSource + "/dist/lumo.dll"));
    EXPECT_EQ(harness::readFile(player.path() + "/lumolink.dll"),
              harness::readFile(kSource + "/dist/lumolink.dll"))
        << "lumolink.dll belongs beside winamp.exe, where the plugin's bare-name load looks";
    EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumolink.dll"));
    EXPECT_EQ(player.settingsLines(),
              (std::vector<std::string>{"[Star]", "Screen_x=120", "COMPort=5", "Brightness=7",
                                        "[Remote]", "Host=cube.local", "[Levels]", "COMPort=5",
                                        "[NewStar]", "COMPort=5"}));
    EXPECT_TRUE(harness::fileExists(player.plugins() + "/uninstall-lumo.exe"));
    EXPECT_EQ(takeGrants(), usersMayChangeSettings(player));

    EXPECT_EQ(regValue(kUninstallKey, "DisplayVersion"), kVersion);
    EXPECT_EQ(regValue(kUninstallKey, "Publisher"), "the lumo developers");
    EXPECT_EQ(regValue(kUninstallKey, "DisplayName").rfind("lumo", 0), 0u);
    EXPECT_EQ(regValue(kUninstallKey, "UninstallString"),
              "\"" + player.windows() + "\\Plugins\\uninstall-lumo.exe\"");
}

// lumo.ini after a silent install: there is always one, the user's settings in it are kept
// (byte for byte when no port is given), and the machine's users may change it.
struct SettingsCase {
    const char* what;
    bool upgrade;         // lumo was installed before (with /COM=3), the user's settings after
    const char* existing; // lumo.ini before this install; nullptr: none
    const char* port;     // the /COM= switch, or ""
    std::vector<std::string> lines; // lumo.ini afterwards; empty: exactly `existing`, or empty
};

const std::vector<std::string> kUserSettingsWithPort7{
    "[Star]",          "Screen_x=120", "COMPort=7", "Brightness=7", "[Remote]",
    "Host=cube.local", "[Levels]",     "COMPort=7", "[NewStar]",    "COMPort=7"};

const SettingsCase kSettingsCases[] = {
    {"a fresh install with a port",
     false,
     nullptr,
     "/COM=5",
     {"[Star]", "COMPort=5", "[Levels]", "COMPort=5", "[NewStar]", "COMPort=5"}},
    {"a fresh install without a port: an empty file", false, nullptr, "", {}},
    {"over the user's settings without a port", false, kUserSettings, "", {}},
    {"over the user's settings with a port", false, kUserSettings, "/COM=7",
     kUserSettingsWithPort7},
    {"an upgrade without a port", true, kUserSettings, "", {}},
    {"an upgrade with a port", true, kUserSettings, "/COM=7", kUserSettingsWithPort7},
};

TEST_F(Installer, SilentInstallLeavesASettingsFileTheMachinesUsersMayChangeAndKeepsTheirSettings) {
    for (const SettingsCase& c : kSettingsCases) {
        SCOPED_TRACE(c.what);
        PlayerFolder player;
        if (c.upgrade) {
            ASSERT_EQ(install({"/S", "/COM=3", "/D=" + player.windows()}).exitCode, 0);
        }
        if (c.existing)
            player.writeSettings(c.existing);
        takeGrants();

        wine32::Result setup = installSilently(player, c.port);
        ASSERT_EQ(setup.exitCode, 0) << setup.output;
        EXPECT_TRUE(harness::fileExists(player.plugins() + "/lumo.dll"));

        const std::string settings = player.plugins() + "/lumo.ini";
        ASSERT_TRUE(harness::fileExists(settings));
        if (c.lines.empty()) {
            EXPECT_EQ(harness::readFile(settings), c.existing ? c.existing : "");
        } else {
            EXPECT_EQ(player.settingsLines(), c.lines);
        }
        EXPECT_EQ(takeGrants(), usersMayChangeSettings(player));
    }
}

// A grant Windows refuses, or a Windows without icacls (before Vista): the file stays as
// installs before this one left it, and the install goes ahead.
TEST_F(Installer, AGrantThatFailsDoesNotFailTheInstall) {
    const std::string icacls = prefix_->system32() + "/icacls.exe";
    const std::string aside = icacls + ".aside";
    struct Case {
        const char* what;
        bool present;
        const char* exitCode;
    } cases[] = {{"icacls refuses (access denied)", true, "5"}, {"no icacls", false, "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlayerFolder player;
        player.writeSettings(kUserSettings);
        if (!c.present)
            fs::rename(icacls, aside);
        setenv("LUMO_ICACLS_EXIT", c.exitCode, 1);
        wine32::Result setup = install({"/S", "/D=" + player.windows()});
        unsetenv("LUMO_ICACLS_EXIT");
        if (!c.present)
            fs::rename(aside, icacls);
        EXPECT_EQ(setup.exitCode, 0) << setup.output;
        EXPECT_TRUE(harness::fileExists(player.plugins() + "/lumo.dll"));
        EXPECT_TRUE(harness::fileExists(player.plugins() + "/uninstall-lumo.exe"));
        EXPECT_TRUE(keyExists(kUninstallKey));
        EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), kUserSettings);
        EXPECT_EQ(takeGrants().size(), c.present ? 1u : 0u);
    }
}

// The installed layout as the player uses it: our stand-in host in the player's place (as
// winamp.exe, started from another folder) loads Plugins\lumo.dll, whose bare-name load of
// lumolink.dll finds the copy beside the program, which writes to COM5, the port installed.
TEST_F(Installer, InstalledPluginDrivesTheCubeOnTheInstalledPort) {
    PlayerFolder player;
    ASSERT_EQ(install({"/S", "/COM=5", "/D=" + player.windows()}).exitCode, 0);
    harness::copyFile(kWin32Bin + "/vishost.exe", player.path() + "/winamp.exe");
    harness::Pty pty;
    pty.linkAsCom(5);
    harness::TempDir elsewhere;

    wine32::Result run =
        wine32::wine({player.windows() + "\\winamp.exe", "--module", "0", "--seconds", "1",
                      "--auto-ok", player.windows() + "\\Plugins\\lumo.dll"},
                     elsewhere.path());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Make sure the Lumo is Connected to COM5"), std::string::npos)
        << run.output;
    int renderCalls = 0;
    size_t at = run.output.find("render calls: ");
    ASSERT_NE(at, std::string::npos) << run.output;
    renderCalls = std::stoi(run.output.substr(at + 14));
    ASSERT_GT(renderCalls, 0) << run.output;

    const size_t expected = 1 + 27 * (size_t)renderCalls + 1;
    Bytes line = plugintest::lineAfter(pty, expected);
    ASSERT_EQ(line.size(), expected) << harness::hex(line);
    EXPECT_EQ(line.front(), kCubeStartByte);
    EXPECT_EQ(line.back(), kCubeStopByte);
    for (int call = 0; call < renderCalls; ++call) {
        Bytes frame(line.begin() + 1 + 27 * call, line.begin() + 1 + 27 * (call + 1));
        bool isStarFrame = false;
        for (int index = 0; index < patternFrameCount(kPatternStar); ++index) {
            CubeFrame star;
            buildCubeFrame(kPatternStar, index, &star);
            isStarFrame |= frame == Bytes(star.bytes, star.bytes + kCubeFrameSize);
        }
        EXPECT_TRUE(isStarFrame) << "render call " << call << ": " << harness::hex(frame);
    }
}

// Silent installs that must not go ahead, and the exit code each gives a script.
struct Refusal {
    const char* what;
    bool withPlayer;
    const char* port;
    int exitCode;
};

const Refusal kRefusals[] = {
    {"a folder without winamp.exe", false, "/COM=5", 3},
    {"a port number of 0", true, "/COM=0", 6},
    {"a port that is no number", true, "/COM=five", 6},
};

TEST_F(Installer, RefusedSilentInstallsExitNonZeroAndWriteNothing) {
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.what);
        PlayerFolder folder;
        if (!r.withPlayer)
            fs::remove(folder.path() + "/winamp.exe");
        folder.writeSettings(kUserSettings);
        expectRefused(folder, r.port, r.exitCode);
    }
}

// The player holds both DLLs while it runs: a silent install says so (exit code 4) and stops
// before it writes anything.
TEST_F(Installer, SilentInstallWhileThePlayerRunsStopsBeforeWritingAnything) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    harness::Process running({harness::build().wine, kWin32Bin + "/player_window.exe"});
    std::string ready;
    running.readLine(&ready, std::chrono::steady_clock::now() + std::chrono::seconds(120));
    ASSERT_EQ(ready, "ready");
    expectRefused(player, "/COM=5", 4);
}

// An install that cannot write a file half way is undone: the old plugin and the settings are
// back as they were, and a lumo.ini the install created is gone again. A folder of the file's
// name stands for a file that cannot be written: lumolink.dll (written after lumo.dll), or the
// uninstaller (written after lumo.ini).
struct FailedInstall {
    const char* what;
    bool settings; // the user's lumo.ini there before
    const char* port;
    const char* blocked; // below the player's folder
};

const FailedInstall kFailedInstalls[] = {
    {"lumolink.dll, over the user's settings", true, "/COM=5", "lumolink.dll"},
    {"lumolink.dll, no lumo.ini before", false, "/COM=5", "lumolink.dll"},
    {"the uninstaller, over the user's settings", true, "/COM=5", "Plugins/uninstall-lumo.exe"},
    {"the uninstaller, lumo.ini created with a port", false, "/COM=5",
     "Plugins/uninstall-lumo.exe"},
    {"the uninstaller, lumo.ini created empty", false, "", "Plugins/uninstall-lumo.exe"},
};

TEST_F(Installer, InstallThatCannotWriteAFilePutsEverythingBack) {
    for (const FailedInstall& f : kFailedInstalls) {
        SCOPED_TRACE(f.what);
        PlayerFolder player;
        if (f.settings)
            player.writeSettings(kUserSettings);
        harness::writeFile(player.plugins() + "/lumo.dll", "the plugin of an older install");
        fs::create_directory(player.path() + "/" + f.blocked);
        expectRefused(player, f.port, 5);
    }
}

TEST_F(Installer, SilentUninstallRemovesBothDllsAndItsRegistrationAndKeepsTheSettings) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    ASSERT_EQ(install({"/S", "/COM=5", "/D=" + player.windows()}).exitCode, 0);
    ASSERT_TRUE(keyExists(kUninstallKey));
    const std::string settings = harness::readFile(player.plugins() + "/lumo.ini");

    // _?= runs the uninstaller in place, so its exit code is the uninstall's own.
    wine32::Result uninstall = wine32::wine({player.windows() + "\\Plugins\\uninstall-lumo.exe",
                                             "/S", "_?=" + player.windows() + "\\Plugins"});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumo.dll"));
    EXPECT_FALSE(harness::fileExists(player.path() + "/lumolink.dll"));
    EXPECT_FALSE(keyExists(kUninstallKey));
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), settings);
    EXPECT_TRUE(harness::fileExists(player.path() + "/winamp.exe"));
}

// A serial port's device as Windows records it: under Enum\<enumerator>\<device id>\<instance>,
// its FriendlyName (with the " (COMn)" Windows appends) and Device Parameters\PortName.
struct PortDevice {
    const char* key;          // below Enum
    const char* friendlyName; // nullptr: none recorded
    const char* port;
};

// A machine's serial ports as the port page finds them. SERIALCOMM lists `listed` in this
// order (Wine enumerates the values sorted by name, so the names keep the order); `devices`
// are recorded in the Enum tree. lumo.ini holds `current`. The page must show `shown`, with
// `selected`; choosing `pick` (or leaving the selection) must write `written` into lumo.ini.
struct PortPageCase {
    const char* what;
    std::vector<PortDevice> devices;
    std::vector<std::string> listed;
    int current;
    std::vector<std::string> shown;
    std::string selected;
    std::string pick; // empty: Next with the selection as it is
    int written;
};

const PortPageCase kPortPages[] = {
    {"a USB adapter, an FTDI adapter, a built-in port, a Bluetooth port, a port without a name "
     "and one without a device",
     {{"ACPI\\PNP0501\\0", "Communications Port (COM1)", "COM1"},
      {"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0000\\7&1e2f3a4b&0&000000000000_"
       "00000000",
       "Standard Serial over Bluetooth link (COM4)", "COM4"},
      {"USB\\VID_1A86&PID_7523\\5&2b2c6a4b&0&2", "USB-SERIAL CH340 (COM3)", "COM3"},
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB Serial Port (COM7)", "COM7"},
      {"PCI\\VEN_1415&DEV_C158&SUBSYS_00001415&REV_00\\4&3a1b2c3d&0&00E1", nullptr, "COM9"},
      {"USB\\VID_067B&PID_2303\\6&1a2b3c4d&0&1", "Prolific USB-to-Serial Comm Port", "COM12"}},
     {"COM1", "COM4", "COM3", "COM9", "COM7", "COM12", "COM6"},
     4,
     {"COM3 - USB-SERIAL CH340", "COM7 - USB Serial Port",
      "COM12 - Prolific USB-to-Serial Comm Port", "COM1 - Communications Port",
      "COM4 - Standard Serial over Bluetooth link", "COM9", "COM6"},
     "COM4 - Standard Serial over Bluetooth link",
     "COM3 - USB-SERIAL CH340",
     3},
    {"no device names recorded; the current port listed after COM10 and chosen as it is",
     {},
     {"COM10", "COM1", "COM2"},
     1,
     {"COM10", "COM1", "COM2"},
     "COM1",
     "",
     1},
    {"the current port not listed (its adapter unplugged) but its device still recorded",
     {{"USB\\VID_1A86&PID_7523\\5&2b2c6a4b&0&2", "USB-SERIAL CH340 (COM5)", "COM5"}},
     {"COM1", "COM2"},
     5,
     {"COM1", "COM2", "COM5 - USB-SERIAL CH340"},
     "COM5 - USB-SERIAL CH340",
     "COM2",
     2},
};

// Sets the registry to hold exactly these ports and devices: SERIALCOMM is emptied (Wine lists
// its own ports there) and every device key any case records is removed first.
void recordPorts(const PortPageCase& machine) {
    wine32::Result cleared =
        wine32::wine({"reg", "delete", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "/va", "/f"});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.output;
    const std::string tree = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
    auto regString = [](std::string text) {
        std::string quoted = "\"";
        for (char c : text)
            quoted += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
        return quoted + "\"";
    };
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const PortPageCase& any : kPortPages)
        for (const PortDevice& device : any.devices)
            text += "[-" + tree + device.key + "]\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n";
    for (size_t index = 0; index < machine.listed.size(); ++index) {
        // Value names sorted as listed: \Device\Serial0a, \Device\Serial0b, ...
        text += regString("\\Device\\Serial0" + std::string(1, char('a' + index))) + "=" +
                regString(machine.listed[index]) + "\r\n";
    }
    for (const PortDevice& device : machine.devices) {
        text += "\r\n[" + tree + device.key + "]\r\n";
        if (device.friendlyName)
            text += "\"FriendlyName\"=" + regString(device.friendlyName) + "\r\n";
        text += "\r\n[" + tree + device.key +
                "\\Device Parameters]\r\n\"PortName\"=" + regString(device.port) + "\r\n";
    }
    harness::TempDir dir;
    harness::writeFile(dir.file("ports.reg"), text);
    wine32::Result imported =
        wine32::wine({"regedit", "/S", harness::windowsPath(dir.file("ports.reg"))});
    ASSERT_EQ(imported.exitCode, 0) << imported.output;
}

// What port_page printed: the entries, the selection, and the status line as it changed after
// each press of "Light the cube".
struct PortPageSeen {
    std::vector<std::string> shown;
    std::string selected;
    std::vector<std::string> status;
    std::string answeredWith; // the status line once the page answered, at its first change
};

PortPageSeen portPageSeen(const std::string& output) {
    PortPageSeen seen;
    std::istringstream lines(output);
    const std::string answered = "answered with status ";
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("item ", 0) == 0)
            seen.shown.push_back(line.substr(5));
        else if (line.rfind("selected ", 0) == 0)
            seen.selected = line.substr(9);
        else if (line.rfind("status ", 0) == 0)
            seen.status.push_back(line.substr(7));
        else if (line.rfind(answered, 0) == 0)
            seen.answeredWith = line.substr(answered.size());
    }
    return seen;
}

// The installer run as a user runs it, into the player's folder, with port_page stepping
// through its pages (`options` are port_page's: --pick, --light, --then).
struct PortPageRun {
    int setupExit;
    wine32::Result page;
    PortPageSeen seen;
};

// `whileAway`, if given, runs once port_page has left the port page by Back ("left the page").
PortPageRun runPortPage(const PlayerFolder& player, const std::vector<std::string>& options,
                        const std::function<void()>& whileAway = nullptr) {
    harness::Process::Options processOptions;
    processOptions.mergeStderr = true;
    harness::Process setup({harness::build().wine, kSetup, "/D=" + player.windows()},
                           processOptions);
    setup.closeInput();
    std::vector<std::string> args{harness::build().wine, kWin32Bin + "/port_page.exe",
                                  "lumo " + kVersion + " Setup"};
    args.insert(args.end(), options.begin(), options.end());
    harness::Process page(args, processOptions);
    if (whileAway) {
        EXPECT_TRUE(page.waitForText("left the page", std::chrono::seconds(180))) << page.output();
        whileAway();
    }
    PortPageRun run;
    run.page.exitCode = page.finish(std::chrono::seconds(180));
    run.page.output = page.output();
    // The installer, left open after a failed step, goes with setup.
    run.setupExit = setup.finish(std::chrono::seconds(120));
    EXPECT_EQ(run.page.exitCode, 0) << run.page.output << "\nsetup:\n" << setup.output();
    run.seen = portPageSeen(run.page.output);
    return run;
}

// The installer's own port page, read off the screen as a user sees it, then stepped through
// to the end: what it lists, in which order, what it preselects, and what it writes.
TEST_F(Installer, PortPageNamesEachPortsDeviceUsbAdaptersFirstAndWritesThePortChosen) {
    for (const PortPageCase& machine : kPortPages) {
        SCOPED_TRACE(machine.what);
        recordPorts(machine);
        PlayerFolder player;
        player.writeSettings("[Star]\r\nCOMPort=" + std::to_string(machine.current) + "\r\n");

        std::vector<std::string> options;
        if (!machine.pick.empty())
            options = {"--pick", machine.pick};
        PortPageRun run = runPortPage(player, options);
        EXPECT_EQ(run.setupExit, 0);
        EXPECT_EQ(run.seen.shown, machine.shown) << run.page.output;
        EXPECT_EQ(run.seen.selected, machine.selected) << run.page.output;
        const std::string port = "COMPort=" + std::to_string(machine.written);
        EXPECT_EQ(player.settingsLines(),
                  (std::vector<std::string>{"[Star]", port, "[Levels]", port, "[NewStar]", port}));
    }
}

// The names are for the page alone: with the same devices recorded, a silent install writes
// lumo.ini as it always did.
TEST_F(Installer, SilentInstallWritesTheSameSettingsWhateverDevicesWindowsRecords) {
    recordPorts(kPortPages[0]);
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    ASSERT_EQ(install({"/S", "/D=" + player.windows()}).exitCode, 0);
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), kUserSettings);
    ASSERT_EQ(install({"/S", "/COM=7", "/D=" + player.windows()}).exitCode, 0);
    EXPECT_EQ(player.settingsLines(),
              (std::vector<std::string>{"[Star]", "Screen_x=120", "COMPort=7", "Brightness=7",
                                        "[Remote]", "Host=cube.local", "[Levels]", "COMPort=7",
                                        "[NewStar]", "COMPort=7"}));
}

// "Light the cube" on the port page: the installer's own lumolink.dll opens the port chosen,
// lights every LED, and two seconds later darkens the cube and closes the port.
const Bytes kAllLit = [] {
    Bytes frame(25, 0x1F); // five LEDs in each of the 25 bytes
    frame.insert(frame.begin(), 0x2A);
    frame.push_back(0x7E);
    return frame;
}();
const Bytes kAllDark = [] {
    Bytes frame(25, 0x00);
    frame.insert(frame.begin(), 0x2A);
    frame.push_back(0x7E);
    return frame;
}();
const Bytes kOneLightTest = cubebytes::join({{kCubeStartByte}, kAllLit, kAllDark, {kCubeStopByte}});
const std::string kLitOnCom5 = "The whole cube on COM5 should be lit now, for two seconds.";
const std::string kLitThenOnCom5 = "If every LED lit up, COM5 is the cube's port; if not, try "
                                   "another one.";

// A player whose lumo.ini names COM5, so the page selects it.
void selectCom5(const PlayerFolder& player) {
    player.writeSettings("[Star]\r\nCOMPort=5\r\n");
}

TEST_F(Installer, LightTheCubeLightsEveryLedOnThePortChosenForTwoSecondsThenDarksAndCloses) {
    PlayerFolder player;
    selectCom5(player);
    harness::Pty pty;
    pty.linkAsCom(5);

    PortPageRun run = runPortPage(player, {"--light", "If every LED"});
    EXPECT_EQ(run.setupExit, 0);
    EXPECT_EQ(run.seen.status, (std::vector<std::string>{kLitOnCom5, kLitThenOnCom5}))
        << run.page.output;
    EXPECT_EQ(run.seen.answeredWith, kLitOnCom5)
        << "the page answered only once the cube was dark again: it kept its thread busy";

    ASSERT_EQ(harness::hex(pty.settledBytes()), harness::hex(kOneLightTest));
    // From the lit frame's last byte to the dark frame's first: two seconds, less whatever
    // the machine's load takes off the far end's reading of the first.
    const auto litUntil = pty.arrivalOf(kAllLit.size());
    const auto darkFrom = pty.arrivalOf(1 + kAllLit.size());
    ASSERT_TRUE(litUntil && darkFrom);
    const auto lit = std::chrono::duration_cast<std::chrono::milliseconds>(*darkFrom - *litUntil);
    EXPECT_GE(lit.count(), 1500) << "ms between the lit frame and the dark one";
    EXPECT_EQ(player.settingsLines(),
              (std::vector<std::string>{"[Star]", "COMPort=5", "[Levels]", "COMPort=5", "[NewStar]",
                                        "COMPort=5"}));
}

// A port that does not open: the page says why in the plugin's own words (the player would
// show the same box for the same reason), and nothing reaches any line. Under Wine, what COM5
// links to gives each reason: a folder fails as Windows fails a port another program holds
// (access denied, 5), a socket with a reason the plugin names by number (433, no such device).
TEST_F(Installer, LightTheCubeOnAPortThatDoesNotOpenSaysWhyAsThePluginDoes) {
    harness::TempDir places;
    const std::string folder = places.file("folder"), socketFile = places.file("socket");
    fs::create_directory(folder);
    int unixSocket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketFile.c_str());
    ASSERT_EQ(bind(unixSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(unixSocket); // the socket's file stays, and opening it fails

    struct Case {
        const char* what;
        std::string com5; // what COM5 links to; empty: no link, no such port
        std::string status;
    } cases[] = {
        {"no COM5", "", "Cannot open COM5: there is no such port"},
        {"COM5 is no serial port", "/dev/null",
         "Cannot open COM5: it is not a serial port the cube can use"},
        {"COM5 refused as if held", folder, "Cannot open COM5: another program is using it"},
        {"COM5 refused for another reason", socketFile, "Cannot open COM5 (error 433)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlayerFolder player;
        selectCom5(player);
        harness::Pty com4, com6;
        com4.linkAsCom(4);
        com6.linkAsCom(6);
        const std::string link = prefix_->path() + "/dosdevices/com5";
        fs::remove(link);
        if (!c.com5.empty())
            fs::create_symlink(c.com5, link);

        PortPageRun run = runPortPage(player, {"--light", "Cannot open"});
        fs::remove(link);
        EXPECT_EQ(run.setupExit, 0);
        EXPECT_EQ(run.seen.status, std::vector<std::string>{c.status}) << run.page.output;
        EXPECT_EQ(harness::hex(com4.settledBytes()), "");
        EXPECT_EQ(harness::hex(com6.settledBytes()), "");
    }
}

// Every way off the page while the cube is lit ends the test first: the dark frame and the
// stop byte still arrive and the port is let go. Pressing the button again lights it afresh.
TEST_F(Installer, LeavingThePageWhileTheCubeIsLitDarksItAndClosesThePortFirst) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        int setupExit;
        Bytes line;
    } cases[] = {
        {"Next", {"--light", "The whole cube", "--then", "next"}, 0, kOneLightTest},
        {"Back", {"--light", "The whole cube", "--then", "back"}, 0, kOneLightTest},
        {"Cancel", {"--light", "The whole cube", "--then", "cancel"}, 1, kOneLightTest},
        {"the button again",
         {"--light", "The whole cube", "--light", "If every LED"},
         0,
         kOneLightTest + kOneLightTest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlayerFolder player;
        selectCom5(player);
        const auto before = tree(player.path());
        harness::Pty pty;
        pty.linkAsCom(5);

        // Back comes to the port page again on the way to the end, and leaving it then would
        // end a test left running: so the line is read on the folder page too.
        std::function<void()> onTheFolderPage = [&] {
            EXPECT_EQ(harness::hex(pty.settledBytes()), harness::hex(c.line));
        };
        PortPageRun run =
            runPortPage(player, c.options,
                        c.options.back() == "back" ? onTheFolderPage : std::function<void()>());
        EXPECT_EQ(run.setupExit, c.setupExit);
        ASSERT_FALSE(run.seen.status.empty()) << run.page.output;
        EXPECT_EQ(run.seen.status.front(), kLitOnCom5) << run.page.output;
        EXPECT_EQ(harness::hex(pty.settledBytes()), harness::hex(c.line));
        if (c.setupExit == 1) { // the test of the cube wrote nothing into the player's folder
            EXPECT_EQ(tree(player.path()), before);
        }
    }
}

// Only the page lights the cube: a silent install sends nothing, whatever the port.
TEST_F(Installer, SilentInstallSendsNothingToThePort) {
    PlayerFolder player;
    harness::Pty pty;
    pty.linkAsCom(5);
    ASSERT_EQ(install({"/S", "/COM=5", "/D=" + player.windows()}).exitCode, 0);
    EXPECT_EQ(harness::hex(pty.settledBytes()), "");
}

// What Explorer shows under Properties, for each file that ships.
TEST_F(Installer, EachShippedFileCarriesTheProjectVersion) {
    const char* const kShipped[] = {"lumo.dll", "lumolink.dll", "lumo-setup-" LUMO_VERSION ".exe"};
    for (const char* name : kShipped) {
        SCOPED_TRACE(name);
        wine32::Result info = wine32::wine(
            {kWin32Bin + "/versioninfo.exe", harness::windowsPath(kSource + "/dist/" + name)});
        ASSERT_EQ(info.exitCode, 0) << info.output;
        std::string text;
        for (char c : info.output)
            if (c != '\r')
                text += c;
        for (const std::string& line :
             {"fixed " + kVersion + ".0", "FileVersion " + kVersion, "ProductVersion " + kVersion,
              std::string("ProductName lumo"), std::string("CompanyName the lumo developers"),
              std::string("LegalCopyright Copyright (C) 2026 the lumo developers")})
            EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " in:\n" << text;
        EXPECT_EQ(text.find("FileDescription (none)"), std::string::npos) << text;
    }
}

} // namespace
