#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "core/AgentSession.h"
#include "core/AtomicFile.h"
#include "core/Hashing.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::permissionsOf;
using test::TempDir;

AgentSession session(std::string id, int32_t pid = 100, double updated = 1000) {
  return AgentSession{.id = std::move(id),
                      .cwd = "/work/webapp",
                      .process = {pid, "claude", "Sat Dec  5 09:41:07 2026"},
                      .hostBundleID = "XTerm",
                      .hostPID = 42,
                      .updatedAt = Date{updated}};
}

// A probe that knows a fixed set of processes.
InspectFunction probeOf(std::map<int32_t, ProcessIdentity> processes) {
  return [processes](int32_t pid) -> std::optional<ProcessIdentity> {
    const auto found = processes.find(pid);
    if (found == processes.end()) return std::nullopt;
    return found->second;
  };
}

void writeRaw(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

TEST(AgentSessionTest, JsonRoundTripsExactly) {
  AgentSession original = session("6a1f0c52-0e1b-4a7d-9d43-3f0f8e2c1b77");
  original.updatedAt = Date{786620467.25};
  const std::string json = original.toJson();
  EXPECT_EQ(json.find('\n'), std::string::npos) << "compact";
  EXPECT_EQ(AgentSession::fromJson(json), original);
  original.updatedAt = Date{786620467.123456789};
  EXPECT_EQ(AgentSession::fromJson(original.toJson()), original);
  EXPECT_EQ(original.project(), "webapp");
}

TEST(AgentSessionTest, OptionalHostAndRequiredKeys) {
  const std::string base = R"("id":"a","cwd":"/w","process":{"pid":7,"executable":"claude","started":"x"})";
  auto absent = AgentSession::fromJson("{" + base + R"(,"updatedAt":1})");
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent->hostBundleID);
  EXPECT_FALSE(absent->hostPID);
  auto nulls = AgentSession::fromJson("{" + base + R"(,"updatedAt":1,"hostBundleID":null,"hostPID":null})");
  ASSERT_TRUE(nulls);
  EXPECT_FALSE(nulls->hostBundleID);
  EXPECT_TRUE(AgentSession::fromJson("{" + base + R"(,"updatedAt":1,"extra":[1,2]})"));
  EXPECT_FALSE(AgentSession::fromJson("{" + base + "}")) << "updatedAt is required";
  EXPECT_FALSE(
      AgentSession::fromJson(R"({"id":"a","cwd":"/w","process":{"pid":7,"executable":"c"},"updatedAt":1})"));
  EXPECT_FALSE(AgentSession::fromJson("{" + base + R"(,"updatedAt":"soon"})"));
  EXPECT_FALSE(AgentSession::fromJson("{" + base + R"(,"updatedAt":1,"hostPID":4294967296})"));
  EXPECT_FALSE(AgentSession::fromJson("not json"));
}

TEST(SessionRepositoryTest, FilesAreNamedByTheHashOfTheId) {
  const SessionRepository repository("/data");
  EXPECT_EQ(repository.directory(), "/data/Sessions");
  EXPECT_EQ(repository.file("../../evil"),
            std::filesystem::path("/data/Sessions") / (sha256Hex("../../evil") + ".json"));
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(SessionRepositoryTest, WriteCreatesPrivateFolderAndReplacesTheFile) {
  TempDir root;
  const SessionRepository repository(root / "deep" / "Lumacap");
  EXPECT_TRUE(repository.liveSessions(probeOf({})).empty()) << "a missing folder lists nothing";
  repository.write(session("s1", 100, 1));
  repository.write(session("s1", 100, 2));
  EXPECT_EQ(permissionsOf(repository.directory()), 0700u);
  EXPECT_EQ(permissionsOf(root / "deep"), 0700u);
  const auto file = repository.file("s1");
  EXPECT_EQ(permissionsOf(file), 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(repository.directory()), {}), 1);
  EXPECT_EQ(AgentSession::fromJson(readWholeFile(file))->updatedAt, Date{2});
  repository.remove("s1");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_NO_THROW(repository.remove("s1"));
  EXPECT_NO_THROW(repository.remove("never-written"));
}

TEST(SessionRepositoryTest, ListsOnlySessionsWhoseProcessIsTheSame) {
  TempDir root;
  const SessionRepository repository(root.path());
  const ProcessIdentity alive{100, "claude", "Sat Dec  5 09:41:07 2026"};
  repository.write(session("alive", 100));
  repository.write(session("exited", 101));
  repository.write(session("reused-pid", 102));
  repository.write(session("restarted", 103));
  const auto probe = probeOf({{100, alive},
                              {102, {102, "bash", alive.started}},
                              {103, {103, "claude", "Sat Dec  5 09:41:08 2026"}}});
  const auto sessions = repository.liveSessions(probe);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].id, "alive");
  // Listing never deletes stale files.
  EXPECT_TRUE(std::filesystem::exists(repository.file("exited")));
}

TEST(SessionRepositoryTest, SkipsFilesThatAreNotValidSessions) {
  TempDir root;
  const SessionRepository repository(root.path());
  const ProcessIdentity alive{100, "claude", "Sat Dec  5 09:41:07 2026"};
  const auto probe = probeOf({{100, alive}});
  AgentSession valid = session("valid");
  const std::string json = valid.toJson();
  writeRaw(repository.directory() / "CAPITAL.JSON", json);
  writeRaw(repository.directory() / "no-extension", json);
  writeRaw(repository.directory() / "garbage.json", "{");
  AgentSession empty = session("");
  writeRaw(repository.directory() / "empty-id.json", empty.toJson());
  AgentSession relative = session("relative");
  relative.cwd = "work";
  writeRaw(repository.directory() / "relative.json", relative.toJson());
  std::filesystem::create_directories(repository.directory() / "folder.json");
  // Any other name ending in .json is listed like the rest.
  writeRaw(repository.directory() / "renamed.json", json);
  const auto sessions = repository.liveSessions(probe);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0], valid);
}

TEST(SessionRepositoryTest, FileSizeLimit) {
  TempDir root;
  const SessionRepository repository(root.path());
  const auto probe = probeOf({{100, {100, "claude", "Sat Dec  5 09:41:07 2026"}}});
  auto padded = [](AgentSession value, size_t size) {
    std::string json = value.toJson();
    json.insert(json.size() - 1, ",\"pad\":\"" + std::string(size - json.size() - 9, 'x') + "\"");
    EXPECT_EQ(json.size(), size);
    return json;
  };
  writeRaw(repository.directory() / "a.json", padded(session("fits"), 32767));
  writeRaw(repository.directory() / "b.json", padded(session("too-big"), 32768));
  const auto sessions = repository.liveSessions(probe);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].id, "fits");
}

TEST(SessionRepositoryTest, NewestFirstAndStableForEqualTimes) {
  TempDir root;
  const SessionRepository repository(root.path());
  const auto probe = probeOf({{100, {100, "claude", "Sat Dec  5 09:41:07 2026"}}});
  for (int i = 0; i < 6; ++i) repository.write(session("s" + std::to_string(i), 100, i % 2 ? 5 : 9));
  const auto sessions = repository.liveSessions(probe);
  ASSERT_EQ(sessions.size(), 6u);
  // Equal times keep the folder's own listing order.
  std::vector<std::string> listing;
  for (const auto& entry : std::filesystem::directory_iterator(repository.directory())) {
    listing.push_back(AgentSession::fromJson(readWholeFile(entry.path()))->id);
  }
  std::vector<std::string> expected;
  for (double time : {9.0, 5.0}) {
    for (const auto& id : listing) {
      if ((std::stoi(id.substr(1)) % 2 ? 5.0 : 9.0) == time) expected.push_back(id);
    }
  }
  std::vector<std::string> actual;
  for (const auto& value : sessions) actual.push_back(value.id);
  EXPECT_EQ(actual, expected);
}

TEST(HookInputTest, SizeLimitIsExact) {
  const std::string record = R"({"session_id":"s","cwd":"/","hook_event_name":"Stop"})";
  std::string exact = record + std::string(HookInput::maximumSize - record.size(), ' ');
  EXPECT_EQ(HookInput::decode(exact).cwd, "/");
  exact.push_back(' ');
  try {
    HookInput::decode(exact);
    FAIL();
  } catch (const HookInputError& error) {
    EXPECT_EQ(error.kind(), HookInputError::Kind::fileTooLarge);
  }
}

TEST(HookInputTest, RulesOfTheRecord) {
  auto record = [](std::string id, std::string cwd, std::string event) {
    return R"({"session_id":")" + id + R"(","cwd":")" + cwd + R"(","hook_event_name":")" + event +
           R"(","transcript_path":"/x","extra":{"a":1}})";
  };
  auto kindOf = [](const std::string& bytes) -> std::optional<HookInputError::Kind> {
    try {
      HookInput::decode(bytes);
      return std::nullopt;
    } catch (const HookInputError& error) {
      return error.kind();
    }
  };
  constexpr auto corrupt = HookInputError::Kind::corruptFile;
  EXPECT_EQ(kindOf(record(std::string(512, 'a'), "/w", "Stop")), std::nullopt);
  EXPECT_EQ(kindOf(record(std::string(513, 'a'), "/w", "Stop")), corrupt);
  std::string emoji512;
  for (int i = 0; i < 512; ++i) emoji512 += "👍🏽";  // one character, eight bytes
  EXPECT_EQ(kindOf(record(emoji512, "/w", "Stop")), std::nullopt);
  EXPECT_EQ(kindOf(record("", "/w", "Stop")), corrupt);
  EXPECT_EQ(kindOf(record("a", "relative", "Stop")), corrupt);
  EXPECT_EQ(kindOf(record("a", "/" + std::string(4094, 'd'), "Stop")), std::nullopt);
  EXPECT_EQ(kindOf(record("a", "/" + std::string(4095, 'd'), "Stop")), corrupt);
  for (const char* event : {"SessionStart", "SessionEnd", "UserPromptSubmit", "Stop"}) {
    EXPECT_EQ(kindOf(record("a", "/", event)), std::nullopt) << event;
  }
  for (const char* event : {"sessionend", "PreToolUse", "Notification", ""}) {
    EXPECT_EQ(kindOf(record("a", "/", event)), corrupt) << event;
  }
}

TEST(HookInputTest, DecodingErrorsNameTheProblem) {
  EXPECT_THROW(HookInput::decode("not json"), HookDecodingError);
  EXPECT_THROW(HookInput::decode("[]"), HookDecodingError);
  EXPECT_THROW(HookInput::decode(R"({"session_id":"a","cwd":"/"})"), HookDecodingError);
  try {
    HookInput::decode(R"({"session_id":1,"cwd":"/","hook_event_name":"Stop"})");
    FAIL();
  } catch (const HookDecodingError& error) {
    EXPECT_NE(std::string(error.what()).find("session_id"), std::string::npos);
    EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace lumacap
