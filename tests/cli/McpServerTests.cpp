// `lumacap mcp`: its line reader and message checks, its tools on a history
// made here, and the MCP TypeScript SDK's own client against the executable.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/cli/McpServer.h"
#include "app/cli/PngImage.h"
#include "core/AtomicFile.h"
#include "core/ScreenshotStore.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Pixel (x, y) is (4x, 8y, 200), opaque.
RgbaImage gradient(int width, int height) {
  RgbaImage image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.insert(image.pixels.end(), {uint8_t(4 * x), uint8_t(8 * y), 200, 255});
  return image;
}

json request(const std::string& method, const json& params) {
  return {{"jsonrpc", "2.0"}, {"id", 7}, {"method", method}, {"params", params}};
}

class McpServerTest : public ::testing::Test {
 protected:
  std::optional<json> ask(const std::string& line) {
    const auto answer = server.answer({line, false});
    return answer ? std::optional(json::parse(*answer)) : std::nullopt;
  }
  json call(const std::string& tool, const json& arguments = json::object()) {
    return ask(request("tools/call", {{"name", tool}, {"arguments", arguments}}).dump()).value();
  }
  // The text of a tool's answer, or of its error.
  static std::string text(const json& answer) {
    return answer.contains("error") ? answer["error"]["message"].get<std::string>()
                                    : answer["result"]["content"][0]["text"].get<std::string>();
  }
  CaptureRecord save(const RgbaImage& image, const std::string& name, double time) {
    return ScreenshotStore(data.path())
        .save(PngImage::encode(image), name, "xterm", Date::fromUnixSeconds(time));
  }

  // The running Lumacap's side of request_capture.
  struct Asked final : McpServer::PendingCapture {
    explicit Asked(McpServerTest& test) : test(test) {}
    ~Asked() override { test.withdrawn = true; }
    int descriptor() const override { return -1; }
    std::optional<std::variant<std::string, mcp::ToolErrorKind>> poll() override { return test.outcome; }
    McpServerTest& test;
  };
  std::unique_ptr<McpServer::PendingCapture> requested(const McpServer::CaptureAsk& ask) {
    if (!lumacapRuns) throw mcp::ToolError(mcp::ToolErrorKind::noLumacap);
    asked = ask;
    withdrawn = false;
    return std::make_unique<Asked>(*this);
  }

  test::TempDir data;
  bool mayRead = true;
  bool lumacapRuns = true;
  bool withdrawn = false;
  std::optional<McpServer::CaptureAsk> asked;
  std::optional<std::variant<std::string, mcp::ToolErrorKind>> outcome;
  McpServer server{{.dataRoot = data.path(),
                    .agentsMayRead = [this] { return mayRead; },
                    .version = "9",
                    .folder = "/home/u/src/web\xff"
                              "app",
                    .requestCapture = [this](const auto& ask) { return requested(ask); }}};
};

TEST(McpLineReader, CutsLinesAndSkipsAnOverlongOneOnceWithoutLosingStep) {
  mcp::LineReader reader;
  reader.feed("{\"a\":");
  EXPECT_FALSE(reader.next());
  reader.feed("1}\r\n" + std::string(mcp::maximumLineSize, 'x') + "\n");
  EXPECT_EQ(reader.next()->text, "{\"a\":1}");
  EXPECT_EQ(reader.next()->text.size(), mcp::maximumLineSize) << "a line of the largest size is kept";
  reader.feed(std::string(mcp::maximumLineSize, 'y'));
  reader.feed("yy");
  EXPECT_TRUE(reader.next()->tooLong);
  reader.feed(std::string(mcp::maximumLineSize, 'y'));
  EXPECT_FALSE(reader.next()) << "reported once";
  reader.feed("yy\n{}\nlast");
  EXPECT_EQ(reader.next()->text, "{}");
  EXPECT_FALSE(reader.next());
  EXPECT_EQ(reader.finish()->text, "last");
  EXPECT_FALSE(reader.finish());
}

TEST_F(McpServerTest, HostileInputGetsJsonRpcErrorsAndNotificationsNoAnswer) {
  const std::vector<std::tuple<std::string, int, json>> cases = {
      {"not json", -32700, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xff\"}", -32700, nullptr},
      {"[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}]", -32600, nullptr},
      {R"({"jsonrpc":"2.0","id":1})", -32600, 1},
      {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", -32600, 1},
      {R"({"jsonrpc":"2.0","id":[1],"method":"ping"})", -32600, nullptr},
      {R"({"jsonrpc":"2.0","id":"a","method":7})", -32600, "a"},
      {R"({"jsonrpc":"2.0","id":"a","method":"resources/list"})", -32601, "a"},
      {R"({"jsonrpc":"2.0","id":2,"method":"ping","params":[]})", -32602, 2},
      {request("tools/call", json::object()).dump(), -32602, 7},
      {request("tools/call", {{"name", "rm"}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "list_captures"}, {"arguments", {{"limit", 0}}}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "list_captures"}, {"arguments", "all"}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "get_capture"}, {"arguments", {{"maxEdge", 1e9}}}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "get_capture"}, {"arguments", {{"maxEdge", 99.5}}}}).dump(), -32602,
       7},
      {request("tools/call", {{"name", "get_capture"}, {"arguments", {{"id", 5}}}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "get_capture"}, {"arguments", {{"path", "/etc"}}}}).dump(), -32602, 7},
      {request("tools/call", {{"name", "request_capture"}, {"arguments", {{"reason", 5}}}}).dump(), -32602,
       7},
  };
  for (const auto& [line, code, id] : cases) {
    const std::optional<json> answer = ask(line);
    ASSERT_TRUE(answer) << line;
    EXPECT_EQ((*answer)["error"]["code"], code) << line;
    EXPECT_EQ((*answer)["id"], id) << line;
  }
  const auto overlong = server.answer({"", true});
  EXPECT_EQ(json::parse(*overlong)["error"]["code"], -32600);
  for (const char* silent :
       {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
        R"({"jsonrpc":"2.0","method":"tools/call","params":7})", R"({"jsonrpc":"2.0","id":5,"result":{}})"})
    EXPECT_FALSE(ask(silent)) << silent;
}

TEST_F(McpServerTest, InitializeAnswersTheClientsVersionOrTheNewest) {
  for (const json& asked :
       {json("2025-03-26"), json("2025-06-18"), json("2025-11-25"), json("2024-11-05"), json()}) {
    const json result = ask(request("initialize", {{"protocolVersion", asked}}).dump()).value()["result"];
    EXPECT_EQ(result["protocolVersion"], asked.is_null() || asked == "2024-11-05" ? "2025-11-25" : asked);
    EXPECT_TRUE(result["capabilities"].contains("tools"));
    EXPECT_EQ(result["serverInfo"]["version"], "9");
  }
  EXPECT_EQ(ask(request("ping", json::object()).dump()).value()["result"], json::object());
  const json tools = ask(request("tools/list", json::object()).dump()).value()["result"]["tools"];
  EXPECT_EQ(tools.size(), 3u);
}

TEST_F(McpServerTest, RequestCaptureAnswersOnlyOnceTheUserSelectedARegion) {
  const CaptureRecord shot = save(gradient(40, 20), "asked", 1.8e9);
  ask(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"clientInfo":{"name":"x","title":)"
      "\"Evil\\n\\u202e\\u001b[2J agent\"}}}");
  const json asking = request(
      "tools/call", {{"name", "request_capture"},
                     {"arguments", {{"reason", "the\tbutton " + std::string(400, 'a')}, {"maxEdge", 20}}}});
  EXPECT_FALSE(ask(asking.dump())) << "no answer before the user selected";
  EXPECT_EQ(asked->agent, "Evil [2J agent");
  EXPECT_EQ(asked->folder, "/home/u/src/web\uFFFDapp") << "a folder name need not be UTF-8";
  EXPECT_EQ(asked->reason, "the button " + std::string(288, 'a') + "…");
  EXPECT_EQ(text(call("request_capture")), mcp::ToolError::description(mcp::ToolErrorKind::busy));
  EXPECT_FALSE(server.settle());
  outcome = shot.id;
  const json answer = json::parse(server.settle().value());
  EXPECT_EQ(answer["id"], 7);
  EXPECT_NE(text(answer).find("scaled down to 20×10"), std::string::npos) << text(answer);
  EXPECT_FALSE(answer["result"]["content"][1]["data"].get<std::string>().empty());
  EXPECT_TRUE(withdrawn);

  // The client's cancel withdraws the request, which then gets no answer.
  outcome.reset();
  EXPECT_FALSE(ask(asking.dump()));
  EXPECT_FALSE(ask(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":8}})"));
  EXPECT_FALSE(withdrawn) << "another request's cancel";
  EXPECT_FALSE(ask(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})"));
  EXPECT_TRUE(withdrawn);
  EXPECT_FALSE(server.settle());

  EXPECT_FALSE(ask(asking.dump()));
  outcome = mcp::ToolErrorKind::cancelled;
  const json cancelled = json::parse(server.settle().value());
  EXPECT_TRUE(cancelled["result"]["isError"]);
  EXPECT_EQ(text(cancelled), mcp::ToolError::description(mcp::ToolErrorKind::cancelled));
  lumacapRuns = false;
  EXPECT_EQ(text(call("request_capture")), mcp::ToolError::description(mcp::ToolErrorKind::noLumacap));
  mayRead = false;
  EXPECT_EQ(text(call("request_capture")), mcp::ToolError::description(mcp::ToolErrorKind::readingTurnedOff));
}

TEST_F(McpServerTest, ListsCapturesAndGetsThemWholeOrScaledDown) {
  const CaptureRecord first = save(gradient(64, 32), "first", 1.7e9);
  const CaptureRecord second = save(gradient(20, 10), "second", 1.8e9);
  ScreenshotStore(data.path()).markStaged(second.id, "Codex · webapp", "Staged", "the header overlaps");
  const std::string listing = text(call("list_captures"));
  ASSERT_TRUE(listing.starts_with("2 of 2 captures, newest first:\n")) << listing;
  const json list = json::parse(listing.substr(listing.find('\n') + 1));
  EXPECT_EQ(list[0]["name"], "second");
  EXPECT_EQ(list[0]["message"], "the header overlaps");
  EXPECT_EQ(list[0]["deliveredTo"], "Codex · webapp");
  EXPECT_EQ(list[1], json({{"id", first.id},
                           {"name", "first"},
                           {"time", "2023-11-14T22:13:20Z"},
                           {"width", 64},
                           {"height", 32},
                           {"bytes", fs::file_size(data / "Captures" / "first.png")},
                           {"application", "xterm"}}));
  EXPECT_EQ(text(call("list_captures", {{"limit", 1}})).substr(0, 12), "1 of 2 captu");

  const auto image = [](const json& answer) {
    EXPECT_FALSE(answer["result"].contains("structuredContent"));
    EXPECT_EQ(answer["result"]["content"][1]["mimeType"], "image/png");
    const std::string data = answer["result"]["content"][1]["data"];
    std::string png;  // decoded here by hand, against the server's own base64
    for (size_t i = 0, bits = 0, value = 0; i < data.size() && data[i] != '='; ++i) {
      value =
          value << 6 |
          std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").find(data[i]);
      if ((bits += 6) >= 8) png += char(value >> (bits -= 8) & 0xff);
    }
    return PngImage::decode(png).value();
  };
  EXPECT_EQ(image(call("get_capture")).pixels, gradient(20, 10).pixels) << "the latest";
  std::string lower = first.id;
  for (char& c : lower) c = char(std::tolower(c));
  EXPECT_EQ(image(call("get_capture", {{"id", lower}})).pixels, gradient(64, 32).pixels);
  const json small = call("get_capture", {{"id", first.id}, {"maxEdge", 16}});
  EXPECT_EQ(text(small), "Lumacap capture “first” (id " + first.id +
                             "), taken 2023-11-14T22:13:20Z, 64×32 pixels, scaled down to 16×8, of xterm.");
  const RgbaImage shrunk = image(small);
  ASSERT_EQ(std::pair(shrunk.width, shrunk.height), std::pair(16, 8));
  // Each pixel is the mean of a 4 × 4 block: (16x + 6, 32y + 12).
  for (const auto& [x, y] : {std::pair(0, 0), std::pair(15, 7), std::pair(5, 2)}) {
    const uint8_t* pixel = &shrunk.pixels[size_t(y * 16 + x) * 4];
    EXPECT_EQ(std::vector<int>(pixel, pixel + 4), std::vector<int>({16 * x + 6, 32 * y + 12, 200, 255}));
  }
}

TEST(RgbaImage, FitsTheLongerSideAndAveragesByCoverageAndAlpha) {
  EXPECT_EQ(fittedSize({3840, 2160}, 1568), PixelSize(1568, 882));
  EXPECT_EQ(fittedSize({10, 1000}, 16), PixelSize(1, 16));
  EXPECT_EQ(fittedSize({100, 50}, 100), PixelSize(100, 50));
  const RgbaImage greys{3, 1, {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255}};
  EXPECT_EQ(downscaled(greys, {2, 1}).pixels, std::vector<uint8_t>({30, 30, 30, 255, 150, 150, 150, 255}));
  const RgbaImage seeThrough{2, 1, {255, 0, 0, 255, 0, 255, 0, 0}};
  EXPECT_EQ(downscaled(seeThrough, {1, 1}).pixels, std::vector<uint8_t>({255, 0, 0, 128}))
      << "a transparent pixel lends no colour";
}

TEST_F(McpServerTest, ReadsOnlyLumacapsOwnCapturesAndOnlyWhileAllowed) {
  EXPECT_EQ(text(call("get_capture")), mcp::ToolError::description(mcp::ToolErrorKind::noCaptures));
  save(gradient(8, 8), "shot", 1.7e9);
  const fs::path file = data / "Captures" / "shot.png";
  mayRead = false;
  for (const char* tool : {"list_captures", "get_capture"}) {
    EXPECT_TRUE(call(tool)["result"]["isError"]);
    EXPECT_EQ(text(call(tool)), mcp::ToolError::description(mcp::ToolErrorKind::readingTurnedOff));
  }
  mayRead = true;
  EXPECT_EQ(text(call("get_capture", {{"id", "0A1B2C3D-0000-4000-8000-000000000001"}})),
            mcp::ToolError::description(mcp::ToolErrorKind::unknownCapture));
  const auto unreadable = mcp::ToolError::description(mcp::ToolErrorKind::unreadableImage);
  fs::copy_file(file, data / "elsewhere.png");
  fs::remove(file);
  fs::create_symlink(data / "elsewhere.png", file);
  EXPECT_EQ(text(call("get_capture")), unreadable) << "a link";
  fs::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(text(call("get_capture")), unreadable) << "a FIFO, without waiting for a writer";
  const std::string listing = text(call("list_captures"));
  EXPECT_TRUE(json::parse(listing.substr(listing.find('\n')))[0]["missing"]);
  fs::remove(file);
  const std::string png = PngImage::encode(gradient(64, 32));
  std::ofstream(file) << png.substr(0,
                                    png.size() / 2);  // its rows cut off: the scaling stops, no thread waits
  EXPECT_EQ(text(call("get_capture", {{"maxEdge", 16}})), unreadable);
  std::ofstream(data / "history.json") << "[{";
  EXPECT_EQ(text(call("list_captures")), mcp::ToolError::description(mcp::ToolErrorKind::unreadableHistory));
}

// The SDK checks every answer against the protocol's schemas.
TEST_F(McpServerTest, TheSdkClientListsToolsAndGetsTheStoredPixels) {
  const fs::path tools = fs::path(LUMACAP_SOURCE_DIR) / ".npm-tools";
  if (!fs::exists(tools / "node_modules/@modelcontextprotocol/sdk/package.json"))
    GTEST_SKIP() << "the MCP SDK is not installed (scripts/bootstrap test)";
  const CaptureRecord record = ScreenshotStore(data / "share" / "Lumacap")
                                   .save(PngImage::encode(gradient(48, 24)), "shot", {}, Date::now());
  const test::ProcessResult run = test::runProcess(
      {"node", LUMACAP_SOURCE_DIR "/tests/cli/McpSdkClient.cjs", tools.string(), test::lumacapBinary(),
       data.path().string()},
      {},
      {{"XDG_DATA_HOME", (data / "share").string()}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  const json seen = json::parse(run.standardOutput);
  EXPECT_EQ(seen["server"]["name"], "lumacap");
  EXPECT_EQ(seen["tools"], json({"list_captures", "get_capture", "request_capture"}));
  EXPECT_EQ(seen["request"]["text"], mcp::ToolError::description(mcp::ToolErrorKind::noLumacap));
  EXPECT_TRUE(seen["request"]["isError"]) << "no Lumacap runs, and none is started";
  EXPECT_NE(seen["list"]["text"].get<std::string>().find(record.id), std::string::npos);
  EXPECT_EQ(seen["latest"]["types"], json({"text", "image:image/png"}));
  EXPECT_FALSE(seen["latest"]["structured"]);
  EXPECT_EQ(PngImage::decode(readWholeFile(data / "latest.png"))->pixels, gradient(48, 24).pixels);
  const RgbaImage scaled = PngImage::decode(readWholeFile(data / "scaled.png")).value();
  EXPECT_EQ(std::pair(scaled.width, scaled.height), std::pair(16, 8));
  EXPECT_TRUE(seen["unknown"]["isError"]);
  EXPECT_EQ(seen["invalidParams"], -32602);
}

}  // namespace
}  // namespace lumacap
