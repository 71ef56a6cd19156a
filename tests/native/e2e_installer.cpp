// The installer as a user's script runs it: silently, under 32-bit Wine, into a fake player's
// folder (an empty winamp.exe, a Plugins folder, the player's registry entry pointing there).
// What lands where, what lumo.ini keeps, what a refused or failed install leaves (nothing),
// what the uninstaller takes away, and that the installed layout drives the cube.
#include "plugin_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;
using plugintest::Bytes;

const std::string kSource = LUMO_SOURCE_DIR;
const std::string kVersion = LUMO_VERSION;
const std::string kSetup = kSource + "/dist/lumo-setup-" + kVersion + ".exe";
const std::string kWin32Bin = kSource + "/build/win32/bin";
const char kUninstallKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumo";

// ---- Local shim, to be replaced by harness::build() (LUMO_BUILD=win32) at merge: the 32-bit
// Wine loader, a private 32-bit prefix for this test program, and one-shot program runs. ----
namespace shim32 {

const char kWine[] = "/usr/lib/wine/wine";
const char kWineserver[] = "/usr/lib/wine/wineserver";

struct Result {
    int exitCode = -1; // -1: killed after the time-out
    std::string output;
};

// Runs a program to its end with the 32-bit prefix, its output (stdout and stderr) collected.
Result run(const std::string& program, const std::vector<std::string>& args,
           const std::string& cwd = "/", int timeoutSeconds = 180) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    Result result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    // The program's end, not the pipe's, ends the wait: Wine's services and a persistent
    // wineserver inherit the pipe and keep it open long after the program is gone.
    int status = 0;
    bool ended = false;
    char buffer[4096];
    for (;;) {
        pollfd readable = {out[0], POLLIN, 0};
        while (poll(&readable, 1, ended ? 0 : 100) > 0) {
            ssize_t count = read(out[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            result.output.append(buffer, count);
        }
        if (ended)
            break;
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
    }
    close(out[0]);
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

Result wine(const std::vector<std::string>& args, const std::string& cwd = "/") {
    return run(kWine, args, cwd);
}

// One fresh prefix per test program, so nothing one test wrote to the registry is seen by the
// next. The harness reads WINEPREFIX, so its Pty links COM ports into this prefix.
class Prefix {
  public:
    Prefix() {
        const char* previous = getenv("WINEPREFIX");
        previous_ = previous ? previous : "";
        setenv("WINEPREFIX", dir_.path().c_str(), 1);
        setenv("WINEARCH", "win32", 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        booted_ = wine({"wineboot", "-i"});
        run(kWineserver, {"-p"});
        // Let Wine's services re-create the COM links before a test links one to a pty.
        wine({"cmd.exe", "/c", "echo"});
    }
    // The other suites of this program go back to the run's own 64-bit prefix.
    ~Prefix() {
        run(kWineserver, {"-k"});
        unsetenv("WINEARCH");
        if (previous_.empty())
            unsetenv("WINEPREFIX");
        else
            setenv("WINEPREFIX", previous_.c_str(), 1);
    }
    const Result& booted() const { return booted_; }

  private:
    harness::TempDir dir_;
    std::string previous_;
    Result booted_;
};

// A program left running while the test acts; it ends when its standard input closes.
class Running {
  public:
    explicit Running(const std::string& program) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            execl(kWine, kWine, program.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Running() {
        close(in_);
        for (int i = 0; i < 600 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            poll(nullptr, 0, 100);
        if (kill(pid_, SIGKILL) == 0)
            waitpid(pid_, nullptr, 0);
        close(out_);
    }
    std::string firstLine(int timeoutSeconds = 120) {
        std::string line;
        char c;
        pollfd readable = {out_, POLLIN, 0};
        while (poll(&readable, 1, timeoutSeconds * 1000) > 0 && read(out_, &c, 1) == 1) {
            if (c == '\n')
                break;
            if (c != '\r')
                line += c;
        }
        return line;
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

} // namespace shim32

bool kernelRuns32Bit() {
    return system((kSource + "/scripts/can-run-32bit").c_str()) == 0;
}

std::string regValue(const std::string& key, const std::string& name) {
    shim32::Result query = shim32::wine({"reg", "query", key, "/v", name});
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
    return shim32::wine({"reg", "query", key}).exitCode == 0;
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
        shim32::Result added =
            shim32::wine({"reg", "add", "HKCU\\Software\\Winamp", "/ve", "/d", windows(), "/f"});
        EXPECT_EQ(added.exitCode, 0) << added.output;
    }
    void writeSettings(const std::string& text) const {
        harness::writeFile(plugins() + "/lumo.ini", text);
    }
    std::vector<std::string> settingsLines() const {
        std::istringstream in(harness::readFile(plugins() + "/lumo.ini"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

  private:
    harness::TempDir dir_;
};

const char kUserSettings[] = "[Star]\r\nScreen_x=120\r\nCOMPort=2\r\nBrightness=7\r\n"
                             "[Remote]\r\nHost=cube.local\r\n";

class Installer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (kernelRuns32Bit())
            prefix_ = new shim32::Prefix;
    }
    static void TearDownTestSuite() {
        delete prefix_;
        prefix_ = nullptr;
    }
    void SetUp() override {
        if (!prefix_)
            GTEST_SKIP() << "this kernel cannot run 32-bit programs (scripts/can-run-32bit), so "
                            "neither 32-bit Wine nor the installer can run here";
        ASSERT_EQ(prefix_->booted().exitCode, 0) << prefix_->booted().output;
        ASSERT_TRUE(harness::fileExists(kSetup)) << kSetup << " is missing: run make";
        // What an earlier test in this program registered must not be seen by this one.
        shim32::wine({"reg", "delete", kUninstallKey, "/f"});
        shim32::wine({"reg", "delete", "HKCU\\Software\\Winamp", "/f"});
    }
    static shim32::Result install(const std::vector<std::string>& switches) {
        std::vector<std::string> args{kSetup};
        args.insert(args.end(), switches.begin(), switches.end());
        return shim32::wine(args);
    }

    static shim32::Prefix* prefix_;
};

shim32::Prefix* Installer::prefix_ = nullptr;

TEST_F(Installer, SilentInstallFindsThePlayerPutsBothDllsInPlaceAndOnePortIntoEveryMode) {
    PlayerFolder player;
    player.registerAsPlayer(); // no /D=: the installer finds the folder through this entry
    player.writeSettings(kUserSettings);

    shim32::Result setup = install({"/S", "/COM=5"});
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

    EXPECT_EQ(regValue(kUninstallKey, "DisplayVersion"), kVersion);
    EXPECT_EQ(regValue(kUninstallKey, "Publisher"), "the lumo developers");
    EXPECT_EQ(regValue(kUninstallKey, "DisplayName").rfind("lumo", 0), 0u);
    EXPECT_EQ(regValue(kUninstallKey, "UninstallString"),
              "\"" + player.windows() + "\\Plugins\\uninstall-lumo.exe\"");
}

TEST_F(Installer, SilentInstallWithoutAPortKeepsThePortAlreadySet) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    shim32::Result setup = install({"/S", "/D=" + player.windows()});
    ASSERT_EQ(setup.exitCode, 0) << setup.output;
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), kUserSettings);
    EXPECT_TRUE(harness::fileExists(player.plugins() + "/lumo.dll"));
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

    shim32::Result run =
        shim32::wine({player.windows() + "\\winamp.exe", "--module", "0", "--seconds", "1",
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
        auto before = tree(folder.path());
        shim32::Result setup = install({"/S", r.port, "/D=" + folder.windows()});
        EXPECT_EQ(setup.exitCode, r.exitCode) << setup.output;
        EXPECT_EQ(tree(folder.path()), before);
        EXPECT_FALSE(keyExists(kUninstallKey));
    }
}

// The player holds both DLLs while it runs: a silent install says so (exit code 4) and stops
// before it writes anything.
TEST_F(Installer, SilentInstallWhileThePlayerRunsStopsBeforeWritingAnything) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    auto before = tree(player.path());
    shim32::Running running(kWin32Bin + "/player_window.exe");
    ASSERT_EQ(running.firstLine(), "ready");

    shim32::Result setup = install({"/S", "/COM=5", "/D=" + player.windows()});
    EXPECT_EQ(setup.exitCode, 4) << setup.output;
    EXPECT_EQ(tree(player.path()), before);
    EXPECT_FALSE(keyExists(kUninstallKey));
}

// lumo.dll lands first; then lumolink.dll cannot be written (a folder holds its name). The
// install is undone: the old plugin and the settings are back as they were.
TEST_F(Installer, InstallThatCannotWriteAFilePutsEverythingBack) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    harness::writeFile(player.plugins() + "/lumo.dll", "the plugin of an older install");
    fs::create_directory(player.path() + "/lumolink.dll");
    auto before = tree(player.path());

    shim32::Result setup = install({"/S", "/COM=5", "/D=" + player.windows()});
    EXPECT_EQ(setup.exitCode, 5) << setup.output;
    EXPECT_EQ(tree(player.path()), before);
    EXPECT_FALSE(keyExists(kUninstallKey));
}

TEST_F(Installer, SilentUninstallRemovesBothDllsAndItsRegistrationAndKeepsTheSettings) {
    PlayerFolder player;
    player.writeSettings(kUserSettings);
    ASSERT_EQ(install({"/S", "/COM=5", "/D=" + player.windows()}).exitCode, 0);
    ASSERT_TRUE(keyExists(kUninstallKey));
    const std::string settings = harness::readFile(player.plugins() + "/lumo.ini");

    // _?= runs the uninstaller in place, so its exit code is the uninstall's own.
    shim32::Result uninstall = shim32::wine({player.windows() + "\\Plugins\\uninstall-lumo.exe",
                                             "/S", "_?=" + player.windows() + "\\Plugins"});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(harness::fileExists(player.plugins() + "/lumo.dll"));
    EXPECT_FALSE(harness::fileExists(player.path() + "/lumolink.dll"));
    EXPECT_FALSE(keyExists(kUninstallKey));
    EXPECT_EQ(harness::readFile(player.plugins() + "/lumo.ini"), settings);
    EXPECT_TRUE(harness::fileExists(player.path() + "/winamp.exe"));
}

// What Explorer shows under Properties, for each file that ships.
TEST_F(Installer, EachShippedFileCarriesTheProjectVersion) {
    const char* const kShipped[] = {"lumo.dll", "lumolink.dll", "lumo-setup-" LUMO_VERSION ".exe"};
    for (const char* name : kShipped) {
        SCOPED_TRACE(name);
        shim32::Result info = shim32::wine(
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
