// Delivery on a real X server: the hook recording a session from a terminal,
// staging for a session and activating its host, and copying an image.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "app/agents/AgentIntegration.h"
#include "app/agents/AgentRouter.h"
#include "app/cli/HookInstaller.h"
#include "core/AtomicFile.h"
#include "core/DataRoot.h"
#include "core/StagingText.h"
#include "platform/ImageCoding.h"
#include "platform/ProcessSource.h"
#include "platform/linux/AgentProcessFinder.h"
#include "platform/x11/QtPasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbWindowList.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

// The first child of `parent` running `command`, once there is one.
std::optional<ProcessIdentity> childRunning(int32_t parent, const std::string& command) {
  std::optional<ProcessIdentity> found;
  test::waitUntil([&] {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const auto pid = static_cast<int32_t>(std::stol(name));
      if (ProcessSource::system().parent(pid) != parent) continue;
      found = ProcessSource::system().inspect(pid);
      if (found && found->executable == command) return true;
    }
    return false;
  });
  return found;
}

class AgentDeliveryTest : public ::testing::Test {
 protected:
  AgentDeliveryTest() {
    std::filesystem::create_directories(data / "applications");
    std::ofstream(data / "applications/other.desktop")
        << "[Desktop Entry]\nType=Application\nName=Other Terminal\nStartupWMClass=OtherTerm\n";
  }

  void activate(unsigned long window) {
    server.xdotool({"windowactivate", "--sync", std::to_string(window)});
    ASSERT_TRUE(test::processEventsUntil([&] { return server.activeWindow() == window; }));
  }

  // Two terminals: the host, an XTerm whose child stands for the agent, and
  // another application's terminal.
  struct Terminals {
    test::BackgroundProcess& host;
    unsigned long hostWindow;
    test::BackgroundProcess& other;
    unsigned long otherWindow;
    ProcessIdentity agent;
  };
  void startTerminals() {
    auto& host = server.start({"xterm", "-e", "sleep", "600"});
    auto& other = server.start({"xterm", "-class", "OtherTerm", "-e", "sleep", "600"});
    const auto hostWindow = server.waitForWindow("XTerm", host.pid());
    const auto otherWindow = server.waitForWindow("OtherTerm", other.pid());
    ASSERT_TRUE(hostWindow && otherWindow);
    const auto agent = childRunning(host.pid(), "sleep");
    ASSERT_TRUE(agent);
    terminals.emplace(Terminals{host, *hostWindow, other, *otherWindow, *agent});
  }

  test::XServer& server = test::sharedXServer();
  test::TempDir data;
  test::ScopedEnvironment environment{{{"XDG_DATA_HOME", data.path().string()}}};
  QtPasteboard pasteboard;
  std::optional<Terminals> terminals;
};

// Two Claude Code sessions in one folder, each in its own xterm with the
// title Claude Code gives every terminal: their destinations are told apart by
// the last prompt typed in each, and staging for one brings its own xterm
// forward.
TEST_F(AgentDeliveryTest, TwoSessionsInOneFolderAreToldApartByTheirLastPrompts) {
  auto& first = server.start({"xterm", "-T", "✳ Claude Code", "-e", "sleep", "600"});
  auto& second = server.start({"xterm", "-T", "✳ Claude Code", "-e", "sleep", "600"});
  const auto firstWindow = server.waitForWindow("XTerm", first.pid());
  const auto secondWindow = server.waitForWindow("XTerm", second.pid());
  ASSERT_TRUE(firstWindow && secondWindow);
  const auto firstAgent = childRunning(first.pid(), "sleep");
  const auto secondAgent = childRunning(second.pid(), "sleep");
  ASSERT_TRUE(firstAgent && secondAgent);
  activate(*firstWindow);

  X11Workspace workspace{{}, ProcessSource::system()};
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  const std::string project = (data / "project").string();
  const auto record = [&](const std::string& id, const ProcessIdentity& agent, int32_t host, double at,
                          const std::string& prompt) {
    AgentSession session{id, project, agent, "XTerm", host, Date{at}};
    session.transcriptPath = (data / (id + ".jsonl")).string();
    std::ofstream(*session.transcriptPath)
        << R"({"type":"user","message":{"role":"user","content":")" << prompt << "\"}}\n";
    SessionRepository(dataRoot()).write(session);
  };
  record("first", *firstAgent, first.pid(), 10, "Fix the login bug");
  record("second", *secondAgent, second.pid(), 20, "Write tests");
  const auto destinations = test::awaitTask(integration.destinations());
  ASSERT_EQ(destinations.size(), 2u);
  EXPECT_EQ(destinations[0].title, "Claude Code · project · “Write tests”");
  EXPECT_EQ(destinations[1].title, "Claude Code · project · “Fix the login bug”");
  test::awaitTask(integration.stage(data / "Captures/shot.png", "", destinations[0]));
  EXPECT_TRUE(test::processEventsUntil([&] { return server.activeWindow() == *secondWindow; }));
}

// An agent without hooks (a copy of sleep named opencode) in an xterm: found
// from its process with its folder, staged (the text alone on the clipboard)
// with the xterm brought forward, and gone once it ended. Other tests' processes are left out by terminal.
TEST_F(AgentDeliveryTest, AnAgentWithoutHooksIsFoundInItsXtermAndStagedThere) {
  const auto project = std::filesystem::canonical(data.path()) / "webapp";
  std::filesystem::create_directories(project);
  std::filesystem::copy_file("/bin/sleep", data / "opencode");
  auto& host =
      server.start({"xterm", "-e", "sh", "-c", "cd '" + project.string() + "' && ../opencode 600; true"});
  const auto window = server.waitForWindow("XTerm", host.pid());
  ASSERT_TRUE(window);
  X11Workspace workspace{{}, ProcessSource::system()};
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  integration.setProcessFinder([display = server.display()] {
    XcbWindowList windows(display);
    return AgentProcessFinder(ProcessSource::system(), windows, ::getuid()).find();
  });
  std::vector<AgentDestination> listed;
  const auto inTheXterm = [&] {
    listed = test::awaitTask(integration.destinations());
    std::erase_if(listed, [&](const AgentDestination& each) { return each.session->hostPID != host.pid(); });
    return listed.size();
  };
  ASSERT_TRUE(test::waitUntil([&] { return inTheXterm() == 1; }));
  EXPECT_EQ(listed[0].title, "OpenCode · webapp");
  EXPECT_EQ(listed[0].session->cwd, project.string());

  server.xdotool({"windowminimize", "--sync", std::to_string(*window)});
  const std::filesystem::path file = data / "Captures/shot 1.png";
  EXPECT_EQ(test::awaitTask(integration.stage(file, " why?\n", listed[0])),
            (DeliveryReceipt{"Staged",
                             "Path and message copied. Select the webapp session in your terminal and paste. "
                             "Nothing was submitted.",
                             true}));
  EXPECT_EQ(test::clipboard("UTF8_STRING").toStdString(),
            StagingText::make(file, "why?", StagingStyle::mentionedPath));
  EXPECT_FALSE(test::clipboard("TARGETS").contains("image/"));
  EXPECT_TRUE(test::processEventsUntil([&] { return server.activeWindow() == window; }));
  ::kill(listed[0].session->process.pid, SIGKILL);
  EXPECT_TRUE(test::waitUntil([&] { return inTheXterm() == 0; }));
}

TEST_F(AgentDeliveryTest, AHostPidNowHeldByAnotherApplicationIsNotActivated) {
  ASSERT_NO_FATAL_FAILURE(startTerminals());
  auto& [host, hostWindow, other, otherWindow, agent] = *terminals;
  activate(hostWindow);

  X11Workspace workspace{{}, ProcessSource::system()};
  // Names come from the desktop entries, read on a worker at start; until
  // then an application goes by its window class.
  std::optional<DesktopApplication> otherApplication;
  EXPECT_TRUE(test::waitUntil([&] {
    otherApplication = workspace.application(other.pid());
    return otherApplication && otherApplication->localizedName == "Other Terminal";
  }));
  ASSERT_TRUE(otherApplication);
  EXPECT_EQ(otherApplication->bundleIdentifier, "OtherTerm");
  EXPECT_EQ(workspace.frontmostApplication()->pid, host.pid());
  EXPECT_EQ(workspace.frontmostApplication()->localizedName, "XTerm");

  // The session says XTerm, but its recorded host pid is the OtherTerm window's.
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  const AgentSession session{"s", "/work/webapp", agent, "XTerm", other.pid(), Date::now()};
  const DeliveryReceipt receipt =
      test::awaitTask(integration.stage("/tmp/a.png", "", ClaudeCodeIntegration::destination(session)));
  EXPECT_EQ(receipt.message,
            "Path and message copied. Open the webapp session and paste. Nothing was submitted.");
  test::processEventsFor(std::chrono::milliseconds(300));
  EXPECT_EQ(server.activeWindow(), hostWindow);

  EXPECT_FALSE(workspace.isTerminated(*otherApplication));
  other.stop();
  EXPECT_TRUE(workspace.isTerminated(*otherApplication));
}

TEST_F(AgentDeliveryTest, ActivationBringsBackTheApplicationsMostRecentlyActiveWindow) {
  QWidget first;
  QWidget second;
  for (QWidget* window : {&first, &second}) {
    window->resize(200, 120);
    window->show();
  }
  const auto firstWindow = static_cast<unsigned long>(first.winId());
  const auto secondWindow = static_cast<unsigned long>(second.winId());
  X11Workspace workspace{{}, ProcessSource::system()};
  std::vector<DesktopApplication> activations;
  workspace.observeActivations(
      [&](const DesktopApplication& application) { activations.push_back(application); });
  activate(secondWindow);
  activate(firstWindow);
  auto& terminal = server.start({"xterm"});
  const auto terminalWindow = server.waitForWindow("XTerm", terminal.pid());
  ASSERT_TRUE(terminalWindow);
  activate(*terminalWindow);
  ASSERT_TRUE(test::processEventsUntil(
      [&] { return !activations.empty() && activations.back().pid == terminal.pid(); }));
  EXPECT_EQ(activations.back().bundleIdentifier, "XTerm");
  // The second window is now the topmost of ours, but the first was active last.
  server.xdotool({"windowraise", std::to_string(secondWindow)});

  const auto ours = workspace.application(static_cast<int32_t>(QCoreApplication::applicationPid()));
  ASSERT_TRUE(ours);
  EXPECT_TRUE(workspace.activate(*ours).result());
  EXPECT_TRUE(test::processEventsUntil([&] { return server.activeWindow() == firstWindow; }));
}

TEST_F(AgentDeliveryTest, ACopiedImageIsPastedAsTheSamePng) {
  QImage image(37, 23, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 7, y * 11, (x * y) % 256));
  }
  pasteboard.setText("an earlier text");
  Clipboard::copyImage(pasteboard, image, encodePNGInBackground(image));

  const QByteArray png = test::clipboard("image/png");
  ASSERT_TRUE(png.startsWith("\x89PNG"));
  const QImage pasted = QImage::fromData(png, "PNG");
  EXPECT_EQ(pasted.convertToFormat(QImage::Format_RGB32), image);
  EXPECT_FALSE(test::clipboard("TARGETS").contains("UTF8_STRING"));
}

TEST(XcbWindowListTest, NamesTheApplicationOwningAManagedWindow) {
  auto& server = test::sharedXServer();
  auto& terminal = server.start({"xterm", "-class", "HookTerm"});
  ASSERT_TRUE(server.waitForWindow("HookTerm", terminal.pid()));

  XcbWindowList windows(server.display());
  EXPECT_EQ(windows.application(terminal.pid()), (RunningApplication{terminal.pid(), "HookTerm"}));
  EXPECT_EQ(windows.application(1), std::nullopt);

  XcbWindowList unreachable(":9999");
  EXPECT_EQ(unreachable.application(terminal.pid()), std::nullopt);
}

using test::lumacapBinary;
using test::sharedXServer;
using test::TempDir;
using test::waitUntil;

std::string record(const std::string& event) {
  return R"({"session_id":"integration-session","cwd":"/work/webapp","hook_event_name":")" + event +
         R"(","transcript_path":"/tmp/t.jsonl"})";
}

// xterm → bash → claude → lumacap --claude-hook, as when Claude Code runs
// in a terminal and runs its hooks.
TEST(HookSessionIntegrationTest, SessionFileNamesTheAgentAndItsTerminal) {
  TempDir folder;
  const auto data = folder / "data";
  std::ofstream(folder / "start.json") << record("SessionStart");
  const auto agent = folder / "claude";
  // The agent waits for "go", as Claude Code starts long after its terminal.
  std::ofstream(agent) << "#!/bin/sh\n"
                       << "echo $$ > '" << (folder / "agent.pid").string() << "'\n"
                       << "while [ ! -e '" << (folder / "go").string() << "' ]; do sleep 0.05; done\n"
                       << "'" << lumacapBinary() << "' --claude-hook < '" << (folder / "start.json").string()
                       << "' 2> '" << (folder / "hook.err").string() << "'\n"
                       << "touch '" << (folder / "done").string() << "'\n"
                       << "sleep 600\n";
  std::filesystem::permissions(agent, std::filesystem::perms::owner_all);

  auto& server = sharedXServer();
  // "; true" keeps bash from replacing itself with the agent.
  auto& terminal = server.start({"xterm", "-e", "bash", "-c", agent.string() + "; true"},
                                {{"XDG_DATA_HOME", data.string()}});
  ASSERT_TRUE(server.waitForWindow("XTerm", terminal.pid()));
  std::ofstream(folder / "go").close();
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder / "done"); }));
  EXPECT_EQ(readWholeFile(folder / "hook.err"), "");

  const int32_t agentPid = std::stoi(readWholeFile(folder / "agent.pid"));
  const SessionRepository sessions(data / "Lumacap");
  const auto file = sessions.file("integration-session");
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(test::permissionsOf(file), 0600u);
  const auto session = AgentSession::fromJson(readWholeFile(file));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->process.pid, agentPid);
  EXPECT_EQ(session->process.executable, "claude");
  EXPECT_EQ(session->hostBundleID, "XTerm");
  EXPECT_EQ(session->hostPID, terminal.pid());
  EXPECT_EQ(session->cwd, "/work/webapp");

  // Listed while the agent runs, dropped once it has exited.
  auto inspect = [](int32_t pid) { return ProcessSource::system().inspect(pid); };
  ASSERT_EQ(sessions.liveSessions(inspect).size(), 1u);
  ::kill(agentPid, SIGKILL);
  EXPECT_TRUE(waitUntil([&] { return sessions.liveSessions(inspect).empty(); }));
  EXPECT_TRUE(std::filesystem::exists(file)) << "listing leaves stale files alone";

  const auto end = test::runProcess({lumacapBinary(), "--claude-hook"}, record("SessionEnd"),
                                    {{"XDG_DATA_HOME", data.string()}});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  EXPECT_FALSE(std::filesystem::exists(file));
}

// The real agent CLIs (installed by `scripts/bootstrap test` under
// .npm-tools), each run headless in an xterm against a stand-in model service
// that holds every request until the test lets it answer 401: the session
// starts through Lumacap's installed hook, is listed with its folder, agent
// and terminal, stages the agent's text with the xterm brought forward, and
// is gone once the CLI gives up and its end hook ran. Codex runs only hooks
// the user trusted in /hooks; here its flag for automation stands in for that.
struct RealAgent {
  std::string key;
  std::vector<std::string> arguments;  // after the CLI's name; $PORT is the model service's port
  std::map<std::string, std::string> environment;
  std::string settings = {};  // the hooks file before the install, which the removal gives back
};

class RealAgentTest : public ::testing::TestWithParam<RealAgent> {};

const char* const modelService = R"(import http.server, os, sys, time
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("content-length") or 0))
        while not os.path.exists(sys.argv[2]): time.sleep(0.05)
        body = b'{"error":{"message":"test","type":"invalid_request_error","code":"invalid_api_key"}}'
        self.send_response(401); self.send_header("content-type", "application/json")
        self.send_header("content-length", str(len(body))); self.end_headers(); self.wfile.write(body)
    do_GET = do_POST
    def log_message(self, *arguments): pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
open(sys.argv[1] + ".new", "w").write(str(server.server_address[1])); os.rename(sys.argv[1] + ".new", sys.argv[1])
server.serve_forever()
)";

TEST_P(RealAgentTest, ItsHookRecordsTheSessionThatStagingReachesAndItsEndRemoves) {
  const RealAgent& real = GetParam();
  const CodingAgent& agent = *CodingAgent::find(real.key);
  const std::filesystem::path tools = LUMACAP_SOURCE_DIR "/.npm-tools/node_modules/.bin";
  if (!std::filesystem::exists(tools / real.key))
    GTEST_SKIP() << "scripts/bootstrap test installs " << real.key;
  TempDir folder;
  const auto config = folder / "config", project = folder / "webapp", data = folder / "data";
  std::filesystem::create_directories(project);
  std::ofstream(folder / "service.py") << modelService;
  test::BackgroundProcess service({"python3", (folder / "service.py").string(), (folder / "port").string(),
                                   (folder / "answer").string()});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder / "port"); }));
  const std::string port = readWholeFile(folder / "port");

  std::map<std::string, std::string> environment = {{"XDG_DATA_HOME", data.string()},
                                                    {std::string(agent.configVariable), config.string()}};
  for (const auto& [name, value] : real.environment)
    environment[name] = std::regex_replace(value, std::regex("\\$PORT"), port);
  const test::ScopedEnvironment scoped{{{"XDG_DATA_HOME", data.string()}}};
  const auto hooksFile = (agent.homeVariable ? config / agent.configFolder : config) / agent.hooksFile;
  if (!real.settings.empty()) {
    std::filesystem::create_directories(hooksFile.parent_path());
    std::ofstream(hooksFile) << real.settings;
  }
  const auto installed = test::runProcess({lumacapBinary(), "--install-hooks=" + real.key}, {}, environment);
  ASSERT_EQ(installed.exitStatus, 0) << installed.standardError;

  std::string command = "cd '" + project.string() + "' && '" + (tools / real.key).string() + "'";
  for (const std::string& argument : real.arguments)
    command += " '" + std::regex_replace(argument, std::regex("\\$PORT"), port) + "'";
  auto& server = sharedXServer();
  auto& terminal = server.start({"xterm", "-e", "bash", "-c", command + "; sleep 600"}, environment);
  const auto window = server.waitForWindow("XTerm", terminal.pid());
  ASSERT_TRUE(window);

  X11Workspace workspace{{}, ProcessSource::system()};
  QtPasteboard pasteboard;
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  std::vector<AgentDestination> listed;
  ASSERT_TRUE(waitUntil([&] { return (listed = test::awaitTask(integration.destinations())).size() == 1; },
                        std::chrono::seconds(60)));
  const AgentSession& session = *listed[0].session;
  EXPECT_EQ(session.agent, real.key);
  EXPECT_EQ(session.cwd, project.string());
  EXPECT_EQ(session.hostBundleID, "XTerm");
  EXPECT_EQ(session.hostPID, terminal.pid());
  EXPECT_EQ(listed[0].title, std::string(agent.menuName) + " · webapp");

  server.xdotool({"windowminimize", "--sync", std::to_string(*window)});
  const std::filesystem::path file = data / "Lumacap/Captures/shot 1.png";
  EXPECT_TRUE(test::awaitTask(integration.stage(file, "what is wrong here?", listed[0])).broughtForward);
  EXPECT_EQ(test::clipboard("UTF8_STRING").toStdString(),
            StagingText::make(file, "what is wrong here?", agent.staging));
  EXPECT_TRUE(test::processEventsUntil([&] { return server.activeWindow() == window; }));

  std::ofstream(folder / "answer").close();
  const SessionRepository sessions(data / "Lumacap");
  EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(sessions.file(session.id)); },
                        std::chrono::seconds(60)))
      << "its end hook removes the session";
  const auto removed = test::runProcess({lumacapBinary(), "--remove-hooks=" + real.key}, {}, environment);
  EXPECT_EQ(removed.exitStatus, 0) << removed.standardError;
  if (!real.settings.empty()) {
    EXPECT_EQ(readWholeFile(hooksFile), real.settings);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RealAgentTest,
    ::testing::Values(
        RealAgent{
            "codex",
            {"exec", "--dangerously-bypass-hook-trust", "--skip-git-repo-check", "-c",
             R"(model_providers.test={name="test",base_url="http://127.0.0.1:$PORT/v1",)"
             R"(wire_api="responses",stream_max_retries=0,request_max_retries=0,env_key="OPENAI_API_KEY"})",
             "-c", R"(model_provider="test")", "look"},
            {{"OPENAI_API_KEY", "sk-test"}}},
        RealAgent{"gemini",
                  {"-p", "look"},
                  {{"GEMINI_API_KEY", "test"},
                   {"GOOGLE_GEMINI_BASE_URL", "http://127.0.0.1:$PORT"},
                   {"GEMINI_CLI_TRUST_WORKSPACE", "true"}},
                  "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"gemini-api-key\"\n    "
                  "}\n  }\n}\n"},
        RealAgent{"copilot",
                  {"-p", "look", "--allow-all-tools"},
                  {{"COPILOT_OFFLINE", "1"},
                   {"COPILOT_PROVIDER_BASE_URL", "http://127.0.0.1:$PORT/v1"},
                   {"COPILOT_PROVIDER_API_KEY", "test"},
                   {"COPILOT_PROVIDER_TYPE", "openai"},
                   {"COPILOT_MODEL", "gpt-4o"},
                   {"COPILOT_PKG_CACHE_HOME", LUMACAP_SOURCE_DIR "/.npm-tools/copilot-cache"}}}),
    [](const auto& info) { return info.param.key; });

// Each CLI's own input parsing of the text staged for it: pasted as a terminal
// paste into its interactive interface in a pseudo-terminal (answering its
// first question, the folder's trust, with Enter), without a model service.
struct PastedText {
  std::string key;
  std::string file;  // the capture, in the project's folder
  std::string message;
  std::string settings;  // $HOME/.gemini/settings.json, when not empty
  double settle;         // seconds until its prompt takes input
  bool send;             // what it shows once sent rather than once pasted
  std::string shown;     // on its screen when it took the path as an image
  std::map<std::string, std::string> environment;
};

class StagedTextTest : public ::testing::TestWithParam<PastedText> {};

TEST_P(StagedTextTest, TheAgentTakesTheStagedPathAsAnImage) {
  const PastedText& paste = GetParam();
  const std::filesystem::path cli = LUMACAP_SOURCE_DIR "/.npm-tools/node_modules/.bin/" + paste.key;
  if (!std::filesystem::exists(cli)) GTEST_SKIP() << "scripts/bootstrap test installs " << paste.key;
  TempDir folder;
  const auto project = folder / "webapp", image = project / paste.file;
  std::filesystem::create_directories(project);
  QImage pixels(4, 4, QImage::Format_RGB32);
  pixels.fill(Qt::red);
  ASSERT_TRUE(pixels.save(QString::fromStdString(image.string()), "PNG"));
  std::ofstream(folder / "text") << StagingText::make(image, paste.message,
                                                      CodingAgent::find(paste.key)->staging);
  // CI=false: with CI set, Gemini CLI skips its interactive interface.
  std::map<std::string, std::string> environment = {
      {"HOME", folder.path().string()}, {"TERM", "xterm-256color"}, {"CI", "false"}};
  for (const auto& [name, value] : paste.environment)
    environment[name] = std::regex_replace(value, std::regex("\\$HOME"), folder.path().string());
  if (!paste.settings.empty()) {
    std::filesystem::create_directories(folder / ".gemini");
    std::ofstream(folder / ".gemini/settings.json") << paste.settings;
  }
  if (paste.key == "codex")  // its interface opens only signed in; the key is checked when used
    test::runProcess({cli.string(), "login", "--with-api-key"}, "sk-test", environment);
  std::vector<std::string> command = {"bash",
                                      "-c",
                                      "cd \"$0\" && exec python3 \"$@\"",
                                      project.string(),
                                      LUMACAP_SOURCE_DIR "/tests/integration/PasteIntoAgent.py",
                                      std::to_string(paste.settle),
                                      "\\r",
                                      (folder / "text").string(),
                                      paste.send ? "yes" : "no",
                                      "--",
                                      cli.string()};
  // Codex would otherwise start its background server, which outlives the test.
  if (paste.key == "codex") command.push_back("--no-daemon");
  const auto run = test::runProcess(command, {}, environment, std::chrono::seconds(120));
  EXPECT_NE(run.standardOutput.find(paste.shown), std::string::npos)
      << run.standardOutput << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, StagedTextTest,
    ::testing::Values(
        // Only a paste that is one path becomes an attachment: a message after it leaves it text.
        PastedText{"codex", "shot 1.png", "", "", 12, false, "[Image #1]", {{"CODEX_HOME", "$HOME"}}},
        PastedText{"gemini",
                   "shot 1.png",
                   "what is wrong here?",
                   R"({"security":{"auth":{"selectedType":"gemini-api-key"}}})",
                   15,
                   false,
                   "[Image shot 1.png]",
                   {{"GEMINI_API_KEY", "test"}, {"GEMINI_CLI_TRUST_WORKSPACE", "true"}}},
        // Its @ takes no path with a space in it; Lumacap's own names have none.
        PastedText{"copilot",
                   "capture-2026-12-05-100707.png",
                   "what is wrong here?",
                   "",
                   22,
                   true,
                   "[Image: capture-2026-12-05-100707.png [image/png]",
                   {{"COPILOT_HOME", "$HOME/copilot"},
                    {"COPILOT_OFFLINE", "1"},
                    {"COPILOT_PROVIDER_BASE_URL", "http://127.0.0.1:9/v1"},
                    {"COPILOT_PROVIDER_API_KEY", "test"},
                    {"COPILOT_PROVIDER_TYPE", "openai"},
                    {"COPILOT_MODEL", "gpt-4o"},
                    {"COPILOT_PKG_CACHE_HOME", LUMACAP_SOURCE_DIR "/.npm-tools/copilot-cache"}}}),
    [](const auto& info) { return info.param.key; });

}  // namespace
}  // namespace lumacap
