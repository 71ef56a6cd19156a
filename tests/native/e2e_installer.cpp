// The installer as a user's script runs it: silently, under 32-bit Wine, into a fake player's
// folder (an empty winamp.exe, a Plugins folder, the player's registry entry pointing there) and
// Lumo Listen's folder in Program Files. What lands where for each choice of parts, what lumo.ini
// and lumolisten.ini keep and who may change them, what a refused or failed install leaves
// (nothing), an install over an earlier one, what the uninstaller stops and takes away, that the
// installed files drive the cube, and the pages as a user meets them: the port page's list of
// ports and its test of the cube, and the finish page's boxes.
#include "listener_session.h"
#include "plugin_session.h"
#include "udp_sender.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;
using plugintest::Bytes;
using cubebytes::operator+;

const std::string kSource = LUMO_SOURCE_DIR;
const std::string kVersion = LUMO_VERSION;
const std::string kSetup = kSource + "/dist/lumo-setup-" + kVersion + ".exe";
const std::string kWin32Bin = kSource + "/build/win32/bin";
const char kUninstallKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumo";
const char kRunKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "Lumo Listen";
// Lumo Listen's folder as the installer names it, and the command that starts it at logon.
const char kListenerFolder[] = "C:\\Program Files\\lumo";
const char kListenerProgram[] = "C:\\Program Files\\lumo\\lumolisten.exe";
const std::string kStartsAtLogon = std::string("\"") + kListenerProgram + "\"";

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
        // No menu entries in the Linux desktop for the shortcuts an install makes.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        booted_ = wine({"wineboot", "-i"});
        // wineboot's own server is not persistent: let it go before starting one that is.
        run(kWineserver, {"-w"});
        run(kWineserver, {"-p"});
        // Let Wine's services re-create the COM links before a test links one to a pty.
        wine({"cmd.exe", "/c", "echo"});
        // Our recorders in place of icacls.exe and of the shell the installer hands Lumo Listen
        // to, run rather than Wine's built-in ones. Wine's desktop, the shell's copy in
        // system32, is a built-in placeholder there, so it stays Wine's own.
        harness::copyFile(kWin32Bin + "/icacls-recorder/icacls.exe", system32() + "/icacls.exe");
        harness::copyFile(kWin32Bin + "/explorer-recorder/explorer.exe",
                          path() + "/drive_c/windows/explorer.exe");
        setenv("WINEDLLOVERRIDES",
               "mscoree,mshtml=;winemenubuilder.exe=d;icacls.exe=n;explorer.exe=n,b", 1);
    }
    ~Prefix() {
        run(kWineserver, {"-k"});
        unsetenv("WINEARCH");
        unsetenv("WINEPREFIX");
    }
    const Result& booted() const { return booted_; }
    const std::string& path() const { return dir_.path(); }
    std::string system32() const { return path() + "/drive_c/windows/system32"; }
    std::string listenerFolder() const { return path() + "/drive_c/Program Files/lumo"; }
    std::string shortcut() const {
        return path() +
               "/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Lumo Listen.lnk";
    }

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

// The value `name` (which may hold spaces) of `key`, as reg query shows it; "(none)" if absent.
std::string regValue(const std::string& key, const std::string& name) {
    wine32::Result query = wine32::wine({"reg", "query", key, "/v", name});
    std::istringstream lines(query.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, name.size(), name) != 0)
            continue;
        std::istringstream rest(line.substr(start + name.size()));
        std::string type;
        rest >> type;
        if (type.rfind("REG_", 0) == 0) {
            std::string value;
            std::getline(rest >> std::ws, value);
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
using Calls = std::vector<std::vector<std::string>>;
using Grants = Calls;
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
        forgetInstalls();
    }
    // What an earlier test (or case) installed or registered must not be seen by the next.
    static void forgetInstalls() {
        wine32::wine({"reg", "delete", kUninstallKey, "/f"});
        wine32::wine({"reg", "delete", "HKCU\\Software\\Winamp", "/f"});
        wine32::wine({"reg", "delete", kRunKey, "/v", kRunValue, "/f"});
        fs::remove_all(prefix_->listenerFolder());
        fs::remove(prefix_->shortcut());
        fs::remove_all(fs::path(listenertest::userSettingsPath()).parent_path());
        takeGrants();
        takeLaunches();
    }
    static wine32::Result install(const std::vector<std::string>& switches) {
        std::vector<std::string> args{kSetup};
        args.insert(args.end(), switches.begin(), switches.end());
        return wine32::wine(args);
    }
    // A silent install into the player's folder (/D= comes last) with `switches`, empty ones
    // left out.
    static wine32::Result installSilently(const PlayerFolder& player,
                                          const std::vector<std::string>& switches) {
        std::vector<std::string> args{"/S"};
        for (const std::string& given : switches)
            if (!given.empty())
                args.push_back(given);
        args.push_back("/D=" + player.windows());
        return install(args);
    }

    // Runs the uninstaller in `folder` in place (_?=), so that its exit code is the uninstall's
    // own. _?= must come last and unquoted, spaces and all, which Wine's quoting of a program's
    // arguments would break: a batch file hands cmd the command line as written.
    static wine32::Result uninstall(const std::string& folder) {
        harness::TempDir dir;
        harness::writeFile(dir.file("uninstall.bat"), "@\"" + folder +
                                                          "\\uninstall-lumo.exe\" /S _?=" + folder +
                                                          "\r\n@exit /b %errorlevel%\r\n");
        return wine32::wine({"cmd", "/c", harness::windowsPath(dir.file("uninstall.bat"))});
    }

    // Everything an install may change, to compare: the player's folder, Lumo Listen's folder
    // and shortcut, the logon entry and the product's registration.
    static std::map<std::string, std::string> machine(const PlayerFolder& player) {
        std::map<std::string, std::string> state;
        for (const auto& [name, content] : tree(player.path()))
            state["player" + name] = content;
        if (fs::exists(prefix_->listenerFolder()))
            for (const auto& [name, content] : tree(prefix_->listenerFolder()))
                state["listener" + name] = content;
        if (fs::is_directory(prefix_->shortcut()))
            state["shortcut"] = "(folder)";
        else if (harness::fileExists(prefix_->shortcut()))
            state["shortcut"] = harness::readFile(prefix_->shortcut());
        state["startup"] = regValue(kRunKey, kRunValue);
        state["registration"] = wine32::wine({"reg", "query", kUninstallKey}).output;
        return state;
    }

    // A silent install with `switches` (and /D= naming the player's folder unless `named` is
    // false) that must end with `exitCode` and leave everything, the permissions of the files
    // included, as it was.
    static void expectRefused(const PlayerFolder& player, const std::vector<std::string>& switches,
                              int exitCode, bool named = true) {
        auto before = machine(player);
        takeGrants();
        std::vector<std::string> all{"/S"};
        all.insert(all.end(), switches.begin(), switches.end());
        wine32::Result setup = named ? installSilently(player, switches) : install(all);
        EXPECT_EQ(setup.exitCode, exitCode) << setup.output;
        EXPECT_EQ(machine(player), before);
        EXPECT_EQ(takeGrants(), Grants{}) << "a grant for an install that did not go ahead";
        EXPECT_EQ(takeLaunches(), Calls{})
            << "a program started by an install that did not go ahead";
    }

    // What the installer asked a recorder in Windows' place to do since the last look: the
    // arguments of each call.
    static Calls takeCalls(const std::string& log) {
        Calls calls;
        for (const std::string& line : harness::readLines(log)) {
            if (line == "call")
                calls.emplace_back();
            else if (line.rfind("arg ", 0) == 0 && !calls.empty())
                calls.back().push_back(line.substr(4));
        }
        fs::remove(log);
        return calls;
    }
    // icacls.exe's.
    static Grants takeGrants() { return takeCalls(prefix_->system32() + "/icacls-calls.txt"); }
    // The shell's: the programs the installer handed it to start.
    static Calls takeLaunches() {
        return takeCalls(prefix_->path() + "/drive_c/windows/explorer-calls.txt");
    }

    // The installed Lumo Listen, started as its shortcut starts it, with no options; its lines
    // are read off its standard output.
    static std::unique_ptr<harness::Process> startListener() {
        harness::Process::Options options;
        options.mergeStderr = true;
        return std::make_unique<harness::Process>(
            std::vector<std::string>{harness::build().wine, kListenerProgram}, options);
    }
    // As Windows' taskkill and the end of a session stop it: a close message to its window.
    static wine32::Result stopListeners() {
        return wine32::wine({"taskkill", "/im", "lumolisten.exe"});
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
    EXPECT_EQ(takeGrants(), usersMayChangeSettings(player));

    EXPECT_EQ(regValue(kUninstallKey, "DisplayVersion"), kVersion);
    EXPECT_EQ(regValue(kUninstallKey, "Publisher"), "the lumo developers");
    EXPECT_EQ(regValue(kUninstallKey, "DisplayName").rfind("lumo", 0), 0u);
}

// Which parts a silent install puts in place, and where: the plugin in the player's folder,
// Lumo Listen in Program Files with its shortcut and the port as every user's default, one
// uninstaller for both (beside Lumo Listen when it is there), the logon entry when asked for.
struct PartsCase {
    const char* what;
    bool player;                       // the machine has the player (registered, found)
    std::vector<std::string> switches; // besides /S
    bool plugin, listener;             // what must be installed
    std::string startup;               // the logon entry afterwards
    std::vector<std::string> network;  // lumolisten.ini's lines after the port
};

const PartsCase kParts[] = {
    {"the player found: both", true, {"/COM=5"}, true, true, "(none)", {}},
    {"/STARTUP=1", true, {"/COM=5", "/STARTUP=1"}, true, true, kStartsAtLogon, {}},
    {"/LISTEN=0", true, {"/COM=5", "/LISTEN=0", "/STARTUP=1"}, true, false, "(none)", {}},
    {"/PLUGIN=0 without the player", false, {"/COM=5", "/PLUGIN=0"}, false, true, "(none)", {}},
    {"no player and no choice: Lumo Listen alone", false, {"/COM=5"}, false, true, "(none)", {}},
    {"/NETWORK=1", true, {"/COM=5", "/NETWORK=1"}, true, true, "(none)", {"Network=on"}},
    {"/NETWORK=0", true, {"/COM=5", "/NETWORK=0"}, true, true, "(none)", {"Network=off"}},
};

TEST_F(Installer, SilentInstallPutsEachPartChosenInItsPlaceWithOneUninstallerForWhatIsThere) {
    const std::string dist = kSource + "/dist/";
    const std::string listener = prefix_->listenerFolder() + "/";
    for (const PartsCase& c : kParts) {
        SCOPED_TRACE(c.what);
        forgetInstalls();
        PlayerFolder player;
        if (c.player)
            player.registerAsPlayer();
        else
            fs::remove(player.path() + "/winamp.exe");
        std::vector<std::string> switches{"/S"};
        switches.insert(switches.end(), c.switches.begin(), c.switches.end());

        wine32::Result setup = install(switches);
        ASSERT_EQ(setup.exitCode, 0) << setup.output;

        EXPECT_EQ(harness::fileExists(player.plugins() + "/lumo.dll"), c.plugin);
        EXPECT_EQ(harness::fileExists(player.path() + "/lumolink.dll"), c.plugin);
        EXPECT_EQ(takeGrants(), c.plugin ? usersMayChangeSettings(player) : Grants{});
        if (c.listener) {
            EXPECT_EQ(harness::readFile(listener + "lumolisten.exe"),
                      harness::readFile(dist + "lumolisten.exe"));
            EXPECT_EQ(harness::readFile(listener + "lumolink.dll"),
                      harness::readFile(dist + "lumolink.dll"))
                << "Lumo Listen loads the lumolink.dll beside it";
            std::vector<std::string> defaults{"[lumolisten]", "Port=5"};
            defaults.insert(defaults.end(), c.network.begin(), c.network.end());
            EXPECT_EQ(harness::readLines(listener + "lumolisten.ini"), defaults);
            // The link's target, as the shell link holds it.
            EXPECT_NE(harness::readFile(prefix_->shortcut()).find(kListenerProgram),
                      std::string::npos);
        } else {
            EXPECT_FALSE(fs::exists(prefix_->listenerFolder()));
            EXPECT_FALSE(harness::fileExists(prefix_->shortcut()));
        }
        const std::string uninstaller =
            c.listener ? std::string(kListenerFolder) : player.windows() + "\\Plugins";
        EXPECT_EQ(regValue(kUninstallKey, "UninstallString"),
                  "\"" + uninstaller + "\\uninstall-lumo.exe\"");
        EXPECT_EQ(harness::fileExists(listener + "uninstall-lumo.exe"), c.listener);
        EXPECT_EQ(harness::fileExists(player.plugins() + "/uninstall-lumo.exe"), !c.listener);
        EXPECT_EQ(regValue(kRunKey, kRunValue), c.startup);
        EXPECT_EQ(takeLaunches(), Calls{}) << "a silent install starts nothing";
    }
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

        wine32::Result setup = installSilently(player, {c.port});
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
        EXPECT_TRUE(harness::fileExists(prefix_->listenerFolder() + "/uninstall-lumo.exe"));
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
    bool withPlayer;                   // winamp.exe in the folder
    bool named;                        // the folder given with /D=
    std::vector<std::string> switches; // besides /S
    int exitCode;
};

const Refusal kRefusals[] = {
    {"/D= names a folder without winamp.exe", false, true, {"/COM=5"}, 3},
    {"/PLUGIN=1 and no player anywhere", false, false, {"/PLUGIN=1"}, 3},
    {"/LISTEN=0 and no player anywhere", false, false, {"/LISTEN=0"}, 3},
    {"a port number of 0", true, true, {"/COM=0"}, 6},
    {"a port that is no number", true, true, {"/COM=five"}, 6},
    {"/LISTEN=2", true, true, {"/COM=5", "/LISTEN=2"}, 7},
    {"/PLUGIN=yes", true, true, {"/PLUGIN=yes"}, 7},
    {"/STARTUP= without a value", true, true, {"/STARTUP="}, 7},
    {"/NETWORK=yes", true, true, {"/COM=5", "/NETWORK=yes"}, 7},
    {"both parts left out", true, true, {"/PLUGIN=0", "/LISTEN=0"}, 7},
};

TEST_F(Installer, RefusedSilentInstallsExitNonZeroAndWriteNothing) {
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.what);
        PlayerFolder folder;
        if (!r.withPlayer)
            fs::remove(folder.path() + "/winamp.exe");
        folder.writeSettings(kUserSettings);
        expectRefused(folder, r.switches, r.exitCode, r.named);
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
    expectRefused(player, {"/COM=5"}, 4);
}

// An install that cannot write a file half way is undone: the old plugin, an older Lumo Listen,
// their settings, its shortcut, the logon entry and the registration are back as they were, and
// whatever the install created is gone again. A folder of the file's name stands for a file that
// cannot be written: lumolink.dll beside the player (written after lumo.dll), Lumo Listen's
// lumolink.dll (after the plugin and lumolisten.exe), its shortcut (after lumolisten.ini), or the
// uninstaller (after everything else).
const char kInPlugins[] = "player/Plugins/uninstall-lumo.exe";
const char kBesideListener[] = "listener/uninstall-lumo.exe";

struct FailedInstall {
    const char* what;
    bool settings;                     // the user's lumo.ini there before
    bool olderListener;                // Lumo Listen installed before, started at logon
    std::vector<std::string> switches; // besides /S and /D=
    const char* blocked;               // below "player/", "listener/", or "shortcut"
};

const FailedInstall kFailedInstalls[] = {
    {"lumolink.dll, over lumo.ini", true, false, {"/COM=5"}, "player/lumolink.dll"},
    {"lumolink.dll, no lumo.ini", false, false, {"/COM=5"}, "player/lumolink.dll"},
    {"Plugins' uninstaller, over lumo.ini", true, false, {"/COM=5", "/LISTEN=0"}, kInPlugins},
    {"Plugins' uninstaller, lumo.ini new", false, false, {"/COM=5", "/LISTEN=0"}, kInPlugins},
    {"Plugins' uninstaller, lumo.ini new and empty", false, false, {"/LISTEN=0"}, kInPlugins},
    {"Lumo Listen's lumolink.dll", true, true, {"/COM=5"}, "listener/lumolink.dll"},
    {"the shortcut, Lumo Listen's folder new", true, false, {"/COM=5"}, "shortcut"},
    {"the uninstaller, /STARTUP=0", true, true, {"/COM=5", "/STARTUP=0"}, kBesideListener},
};

TEST_F(Installer, InstallThatCannotWriteAFilePutsEverythingBack) {
    for (const FailedInstall& f : kFailedInstalls) {
        SCOPED_TRACE(f.what);
        forgetInstalls();
        PlayerFolder player;
        if (f.settings)
            player.writeSettings(kUserSettings);
        harness::writeFile(player.plugins() + "/lumo.dll", "the plugin of an older install");
        if (f.olderListener) { // its program marked as an older one, to be told apart
            ASSERT_EQ(install({"/S", "/COM=3", "/PLUGIN=0", "/STARTUP=1"}).exitCode, 0);
            harness::writeFile(prefix_->listenerFolder() + "/lumolisten.exe", "an older one");
        }
        const std::string blocked = f.blocked;
        std::string in = blocked == "shortcut" ? prefix_->shortcut() : "";
        if (blocked.rfind("player/", 0) == 0)
            in = player.path() + "/" + blocked.substr(7);
        else if (blocked.rfind("listener/", 0) == 0)
            in = prefix_->listenerFolder() + "/" + blocked.substr(9);
        fs::remove(in);
        fs::create_directories(in);
        expectRefused(player, f.switches, 5);
    }
}

// The plugin alone: its uninstaller lies in Plugins, as it always has.
TEST_F(Installer, SilentUninstallRemovesBothDllsAndItsRegistrationAndKeepsTheSettings) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    ASSERT_EQ(install({"/S", "/COM=5", "/LISTEN=0", "/D=" + player.windows()}).exitCode, 0);
    ASSERT_TRUE(keyExists(kUninstallKey));
    const std::string settings = harness::readFile(player.plugins() + "/lumo.ini");

    wine32::Result removed = uninstall(player.windows() + "\\Plugins");
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumo.dll"));
    EXPECT_FALSE(harness::fileExists(player.path() + "/lumolink.dll"));
    EXPECT_FALSE(keyExists(kUninstallKey));
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), settings);
    EXPECT_TRUE(harness::fileExists(player.path() + "/winamp.exe"));
}

// What an install of the plugin alone, as every release before Lumo Listen made it, leaves: the
// plugin, its lumolink.dll, the user's lumo.ini, its uninstaller in Plugins and its registration.
void installPluginAloneByHand(const PlayerFolder& player) {
    harness::writeFile(player.plugins() + "/lumo.dll", "the plugin of an earlier release");
    harness::writeFile(player.path() + "/lumolink.dll", "its lumolink.dll");
    harness::writeFile(player.plugins() + "/uninstall-lumo.exe", "its uninstaller");
    player.writeSettings(kUserSettings);
    const std::string uninstaller = "\"" + player.windows() + "\\Plugins\\uninstall-lumo.exe\"";
    for (const std::vector<std::string>& value : std::vector<std::vector<std::string>>{
             {"DisplayName", "lumo (LED cube visualisation for Winamp)"},
             {"Publisher", "the lumo developers"},
             {"InstallLocation", player.windows()},
             {"UninstallString", uninstaller},
             {"QuietUninstallString", uninstaller + " /S"}}) {
        wine32::Result added =
            wine32::wine({"reg", "add", kUninstallKey, "/v", value[0], "/d", value[1], "/f"});
        EXPECT_EQ(added.exitCode, 0) << added.output;
    }
}

// An install over an earlier one keeps lumo.ini byte for byte, adds the part that was missing,
// and leaves one uninstaller, beside Lumo Listen, that removes both parts and keeps everybody's
// settings.
struct UpgradeCase {
    const char* what;
    std::function<void(const PlayerFolder&)> before; // the earlier install
    std::vector<std::string> switches;               // of this one, besides /S
    std::vector<std::string> listenerSettings;       // lumolisten.ini afterwards
};

TEST_F(Installer, InstallOverAnEarlierOneKeepsLumoIniAndLeavesOneUninstallerForBothParts) {
    const UpgradeCase cases[] = {
        {"the plugin alone, as releases before Lumo Listen installed it",
         installPluginAloneByHand,
         {},
         // The port the plugin already uses: lumo.ini's Star section.
         {"[lumolisten]", "Port=2"}},
        {"Lumo Listen alone, installed before the player was there",
         [](const PlayerFolder& player) {
             fs::remove(player.path() + "/winamp.exe");
             ASSERT_EQ(install({"/S", "/COM=3"}).exitCode, 0);
             harness::writeFile(player.path() + "/winamp.exe", "");
             player.writeSettings(kUserSettings);
         },
         {"/LISTEN=0"},
         {"[lumolisten]", "Port=3"}},
    };
    for (const UpgradeCase& c : cases) {
        SCOPED_TRACE(c.what);
        forgetInstalls();
        PlayerFolder player;
        player.registerAsPlayer();
        c.before(player);
        std::vector<std::string> switches{"/S"};
        switches.insert(switches.end(), c.switches.begin(), c.switches.end());

        wine32::Result setup = install(switches);
        ASSERT_EQ(setup.exitCode, 0) << setup.output;
        EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), kUserSettings);
        EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.dll"),
                  harness::readFile(kSource + "/dist/lumo.dll"));
        EXPECT_TRUE(harness::fileExists(prefix_->listenerFolder() + "/lumolisten.exe"));
        EXPECT_EQ(harness::readLines(prefix_->listenerFolder() + "/lumolisten.ini"),
                  c.listenerSettings);
        EXPECT_FALSE(harness::fileExists(player.plugins() + "/uninstall-lumo.exe"));
        EXPECT_EQ(regValue(kUninstallKey, "UninstallString"),
                  std::string("\"") + kListenerFolder + "\\uninstall-lumo.exe\"");
        EXPECT_EQ(regValue(kUninstallKey, "DisplayVersion"), kVersion);

        wine32::Result removed = uninstall(kListenerFolder);
        EXPECT_EQ(removed.exitCode, 0) << removed.output;
        EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumo.dll"));
        EXPECT_FALSE(harness::fileExists(player.path() + "/lumolink.dll"));
        EXPECT_FALSE(harness::fileExists(prefix_->listenerFolder() + "/lumolisten.exe"));
        EXPECT_FALSE(harness::fileExists(prefix_->shortcut()));
        EXPECT_FALSE(keyExists(kUninstallKey));
        EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), kUserSettings);
    }
}

// Lumo Listen as installed, started as its shortcut starts it, without --port, lights the port
// chosen at install (there is no sound device in the test's prefix: it says so, and drives the
// cube all the same). An install over it, or the uninstaller, asks it to close first, as Windows
// does at the end of a session, and waits for it: the cube gets its stop byte and the port is
// let go. A silent install then hands it to the shell to start again. The uninstaller removes
// Lumo Listen, its defaults file (the installer's own), shortcut and logon entry, and keeps the
// user's own settings and lumo.ini.
TEST_F(Installer, InstallAndUninstallStopARunningLumoListenFirstAndTheUninstallerRemovesIt) {
    PlayerFolder player;
    ASSERT_EQ(installSilently(player, {"/COM=5", "/STARTUP=1", "/NETWORK=1"}).exitCode, 0);
    const std::string settings = harness::readFile(player.plugins() + "/lumo.ini");
    const std::string mine = listenertest::userSettingsPath();
    fs::create_directories(fs::path(mine).parent_path());
    harness::writeFile(mine, "[lumolisten]\r\nMode=Star\r\n");
    harness::Pty pty;
    pty.linkAsCom(5);
    auto listener = startListener();
    ASSERT_TRUE(listener->waitForText("The cube on COM5 is lit", std::chrono::seconds(120)))
        << listener->output();
    // The machine's default from /NETWORK=1: it receives other programs' light.
    EXPECT_TRUE(
        harness::waitUntil([] { return !harness::udpPortIsFree(5568); }, std::chrono::seconds(60)))
        << "Lumo Listen does not listen on port 5568: " << listener->output();
    // The starts and stops the cube has seen, in order.
    auto startsAndStops = [&pty] {
        Bytes seen;
        for (unsigned char byte : pty.settledBytes())
            if (byte == kCubeStartByte || byte == kCubeStopByte)
                seen.push_back(byte);
        return harness::hex(seen);
    };

    setenv("LUMO_EXPLORER_OPENS", "1", 1);
    EXPECT_EQ(installSilently(player, {"/COM=5"}).exitCode, 0);
    unsetenv("LUMO_EXPLORER_OPENS");
    EXPECT_EQ(listener->finish(std::chrono::seconds(120)), 0) << listener->output();
    EXPECT_EQ(takeLaunches(), Calls{{kListenerProgram}});
    const std::string again = harness::hex(Bytes{kCubeStartByte, kCubeStopByte, kCubeStartByte});
    EXPECT_TRUE(
        harness::waitUntil([&] { return startsAndStops() == again; }, std::chrono::seconds(120)))
        << startsAndStops();

    // The user's own logon entry, as Lumo Listen's menu writes it.
    const std::string userRunKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    wine32::wine({"reg", "add", userRunKey, "/v", kRunValue, "/d", kStartsAtLogon, "/f"});
    wine32::Result removed = uninstall(kListenerFolder);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_EQ(stopListeners().exitCode, 128) << "Lumo Listen was still running after the uninstall";
    EXPECT_TRUE(harness::udpPortIsFree(5568) && harness::udpPortIsFree(4048))
        << "something still listens for other programs' light after the uninstall";
    EXPECT_EQ(startsAndStops(),
              harness::hex(Bytes{kCubeStartByte, kCubeStopByte, kCubeStartByte, kCubeStopByte}));
    // The uninstaller ran in place, so it is still there; nothing else is.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(prefix_->listenerFolder()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"uninstall-lumo.exe"});
    EXPECT_FALSE(harness::fileExists(prefix_->shortcut()));
    EXPECT_EQ(regValue(kRunKey, kRunValue), "(none)");
    EXPECT_EQ(regValue(userRunKey, kRunValue), "(none)");
    EXPECT_FALSE(keyExists(kUninstallKey));
    EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumo.dll"));
    EXPECT_EQ(harness::readFile(mine), "[lumolisten]\r\nMode=Star\r\n");
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), settings);
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
    std::vector<std::string> boxes; // the finish page's, as it showed them: "TEXT on"
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
        else if (line.rfind("box ", 0) == 0)
            seen.boxes.push_back(line.substr(4));
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
// `switches` go to the installer, before /D=.
PortPageRun runPortPage(const PlayerFolder& player, const std::vector<std::string>& options,
                        const std::function<void()>& whileAway = nullptr,
                        const std::vector<std::string>& switches = {}) {
    harness::Process::Options processOptions;
    processOptions.mergeStderr = true;
    std::vector<std::string> setupArgs{harness::build().wine, kSetup};
    setupArgs.insert(setupArgs.end(), switches.begin(), switches.end());
    setupArgs.push_back("/D=" + player.windows());
    harness::Process setup(setupArgs, processOptions);
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

// The finish page's boxes: "Start Lumo Listen now" hands the program to the shell, which starts
// it as the user who is logged on, never as the administrator running setup. Wine has no
// elevation to show, so the stand-in shell records what it was handed (and, asked to, opens it
// as the shell would, so that the cube lights on the port chosen). "Start Lumo Listen when
// anyone logs on" writes the machine's logon entry. An install without Lumo Listen offers
// neither.
struct FinishCase {
    const char* what;
    std::vector<std::string> switches; // the installer's
    std::vector<std::string> options;  // port_page's
    std::vector<std::string> boxes;    // as the page shows them
    bool started;
    std::string startup; // the logon entry afterwards
    std::string network; // lumolisten.ini's Network line afterwards; "": no Lumo Listen
};

const char kStartNow[] = "Start Lumo Listen now";
const char kStartAtLogon[] = "Start Lumo Listen when anyone logs on to this PC";
const char kLetOthersLight[] = "Let other programs light the cube (E1.31, DDP)";

TEST_F(Installer, FinishPageStartsLumoListenThroughTheShellAndAtLogonAsTicked) {
    const std::string now = kStartNow, logon = kStartAtLogon, network = kLetOthersLight;
    const FinishCase cases[] = {
        {"as the page offers them",
         {},
         {},
         {now + " on", logon + " off", network + " off"},
         true,
         "(none)",
         "Network=off"},
        {"each box turned round",
         {},
         {"--untick", now, "--tick", logon, "--tick", network},
         {now + " on", logon + " off", network + " off"},
         false,
         kStartsAtLogon,
         "Network=on"},
        {"/STARTUP=1 and /NETWORK=1 tick their boxes",
         {"/STARTUP=1", "/NETWORK=1"},
         {},
         {now + " on", logon + " on", network + " on"},
         true,
         kStartsAtLogon,
         "Network=on"},
        {"the plugin alone", {"/LISTEN=0"}, {}, {}, false, "(none)", ""},
    };
    setenv("LUMO_EXPLORER_OPENS", "1", 1);
    for (const FinishCase& c : cases) {
        SCOPED_TRACE(c.what);
        forgetInstalls();
        PlayerFolder player;
        selectCom5(player);
        harness::Pty pty;
        pty.linkAsCom(5);

        PortPageRun run = runPortPage(player, c.options, nullptr, c.switches);
        EXPECT_EQ(run.setupExit, 0);
        EXPECT_EQ(run.seen.boxes, c.boxes) << run.page.output;
        EXPECT_EQ(regValue(kRunKey, kRunValue), c.startup);
        if (!c.network.empty()) {
            std::vector<std::string> defaults =
                harness::readLines(prefix_->listenerFolder() + "/lumolisten.ini");
            EXPECT_NE(std::find(defaults.begin(), defaults.end(), c.network), defaults.end())
                << "lumolisten.ini holds no " << c.network;
        }
        EXPECT_EQ(takeLaunches(), c.started ? Calls{{kListenerProgram}} : Calls{});
        if (c.started) {
            EXPECT_TRUE(
                harness::waitUntil([&] { return !pty.bytes().empty(); }, std::chrono::seconds(120)))
                << "Lumo Listen, as the shell started it, never lit the cube on COM5";
            EXPECT_EQ(stopListeners().exitCode, 0);
            // Not this test's child: the stop byte, the last it sends, says it is done.
            EXPECT_TRUE(harness::waitUntil(
                [&] { return !pty.bytes().empty() && pty.bytes().back() == kCubeStopByte; },
                std::chrono::seconds(120)))
                << harness::hex(pty.bytes());
            EXPECT_EQ(pty.bytes().front(), kCubeStartByte) << harness::hex(pty.bytes());
        }
    }
    unsetenv("LUMO_EXPLORER_OPENS");
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
    const char* const kShipped[] = {"lumo.dll", "lumolink.dll", "lumolisten.exe",
                                    "lumo-setup-" LUMO_VERSION ".exe"};
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
