#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "core/AgentSession.h"
#include "core/AtomicFile.h"
#include "core/Hashing.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using test::permissionsOf;
using test::TempDir;

const ProcessIdentity agent{100, "claude", "Sat Dec  5 09:41:07 2026"};

AgentSession session(std::string id, int32_t pid = 100, double updated = 1000) {
  return AgentSession{std::move(id), "/work/webapp", {pid, "claude", agent.started}, "XTerm", 42,
                      Date{updated}};
}

// A probe that knows a fixed set of processes.
InspectFunction probeOf(std::map<int32_t, ProcessIdentity> processes) {
  return [processes](int32_t pid) -> std::optional<ProcessIdentity> {
    const auto found = processes.find(pid);
    if (found == processes.end()) return std::nullopt;
    return found->second;
  };
}

std::vector<std::string> idsOf(const std::vector<AgentSession>& sessions) {
  std::vector<std::string> ids;
  for (const AgentSession& each : sessions) ids.push_back(each.id);
  return ids;
}

void writeRaw(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(AgentSessionTest, JsonRoundTripsExactlyAndNeedsEveryRequiredKey) {
  AgentSession original = session("6a1f0c52-0e1b-4a7d-9d43-3f0f8e2c1b77");
  original.updatedAt = Date{786620467.123456789};
  original.transcriptPath = "/home/me/.claude/projects/-w/6a1f.jsonl";
  EXPECT_EQ(original.toJson().find('\n'), std::string::npos) << "compact";
  EXPECT_EQ(AgentSession::fromJson(original.toJson()), original);
  EXPECT_EQ(original.toJson().find("agent"), std::string::npos) << "Claude Code's files as before";
  EXPECT_EQ(original.project(), "webapp");
  AgentSession codex = original;
  codex.agent = "codex";
  EXPECT_EQ(AgentSession::fromJson(codex.toJson()), codex);

  const std::string base = R"("id":"a","cwd":"/w","process":{"pid":7,"executable":"claude","started":"x"})";
  for (const char* valid : {R"(,"updatedAt":1)", R"(,"updatedAt":1,"hostBundleID":null,"hostPID":null)",
                            R"(,"updatedAt":1,"extra":[1,2])", R"(,"updatedAt":1,"transcriptPath":7)"}) {
    const auto parsed = AgentSession::fromJson("{" + base + valid + "}");
    ASSERT_TRUE(parsed) << valid;
    EXPECT_FALSE(parsed->hostBundleID || parsed->hostPID || parsed->transcriptPath) << valid;
    EXPECT_EQ(parsed->agent, "claude") << "a file without an agent is Claude Code's";
  }
  for (const std::string& invalid :
       {"{" + base + "}", "{" + base + R"(,"updatedAt":"soon"})",
        "{" + base + R"(,"updatedAt":1,"hostPID":4294967296})",
        std::string(R"({"id":"a","cwd":"/w","process":{"pid":7,"executable":"c"},"updatedAt":1})"),
        std::string("not json")}) {
    EXPECT_FALSE(AgentSession::fromJson(invalid)) << invalid;
  }
}

class SessionRepositoryTest : public ::testing::Test {
 protected:
  fs::path folder() const { return repository.directory(); }
  TempDir root;
  SessionRepository repository{root / "Lumacap"};
};

TEST_F(SessionRepositoryTest, FilesAreNamedByTheHashOfTheIdInAPrivateFolder) {
  EXPECT_EQ(repository.file("../../evil"), folder() / (sha256Hex("../../evil") + ".json"));
  EXPECT_TRUE(repository.liveSessions(probeOf({})).empty()) << "a missing folder lists nothing";
  repository.write(session("s1", 100, 1));
  repository.write(session("s1", 100, 2));
  EXPECT_EQ(permissionsOf(folder()), 0700u);
  EXPECT_EQ(permissionsOf(repository.file("s1")), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder()), {}), 1) << "no temporary file is left";
  EXPECT_EQ(AgentSession::fromJson(readWholeFile(repository.file("s1")))->updatedAt, Date{2});
  repository.remove("s1");
  EXPECT_FALSE(fs::exists(repository.file("s1")));
  EXPECT_NO_THROW(repository.remove("never-written"));
}

// A folder that others can write to, or that is not the user's own, lets
// another user plant links; the hook then writes nothing and says why.
TEST_F(SessionRepositoryTest, RefusesAFolderThatIsNotPrivate) {
  const fs::path elsewhere = root / "elsewhere";
  fs::create_directories(elsewhere);
  const std::map<std::string, std::function<void()>> unsafe = {
      {"writable by all", [&] { ::chmod(folder().c_str(), 0777); }},
      {"writable by the group", [&] { ::chmod(folder().c_str(), 0770); }},
      {"a link",
       [&] {
         fs::remove(folder());
         fs::create_directory_symlink(elsewhere, folder());
       }},
      {"another user's", [&] { ASSERT_EQ(::chown(folder().c_str(), 65534, 65534), 0); }},
  };
  for (const auto& [name, make] : unsafe) {
    if (name == "another user's" && ::geteuid() != 0) continue;
    fs::remove_all(folder());
    fs::create_directories(folder());
    make();
    const std::string message = messageOf([&] { repository.write(session("s1")); });
    EXPECT_NE(message.find(folder().string()), std::string::npos) << name << ": " << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << name;
    EXPECT_FALSE(fs::exists(repository.file("s1"))) << name;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << name;
    EXPECT_THROW(repository.remove("s1"), std::exception) << name;
  }
}

TEST_F(SessionRepositoryTest, ALinkAtASessionPathIsReplacedNeverFollowed) {
  const fs::path notes = root / "notes.txt";
  writeRaw(notes, "my notes");
  ::chmod(notes.c_str(), 0644);
  repository.write(session("other"));
  fs::create_symlink(notes, repository.file("s1"));
  repository.write(session("s1"));
  EXPECT_EQ(readWholeFile(notes), "my notes");
  EXPECT_EQ(permissionsOf(notes), 0644u);
  EXPECT_FALSE(fs::is_symlink(repository.file("s1")));
  EXPECT_EQ(AgentSession::fromJson(readWholeFile(repository.file("s1"))), session("s1"));

  fs::remove(repository.file("s1"));
  fs::create_symlink(notes, repository.file("s1"));
  repository.remove("s1");
  EXPECT_FALSE(fs::is_symlink(repository.file("s1")));
  EXPECT_EQ(readWholeFile(notes), "my notes");
}

TEST_F(SessionRepositoryTest, RefusesARecordTooLargeForTheListing) {
  std::string id = "a";
  for (int i = 0; i < 100000; ++i) id += "\u0301";  // one character with 100,000 combining marks
  const std::string message = messageOf([&] { repository.write(session(id)); });
  EXPECT_NE(message.find("32,767"), std::string::npos) << message;
  EXPECT_FALSE(fs::exists(repository.file(id)));
}

// SessionEnd may remove the file between the rename and anything after it.
TEST_F(SessionRepositoryTest, WritingWhileTheSessionEndsNeverFails) {
  repository.write(session("s1"));
  std::atomic<bool> writing = true;
  std::thread ending([&] {
    while (writing) ::unlink(repository.file("s1").c_str());
  });
  std::string failure = "(no error)";
  for (int i = 0; i < 3000 && failure == "(no error)"; ++i) {
    failure = messageOf([&] { repository.write(session("s1")); });
  }
  writing = false;
  ending.join();
  EXPECT_EQ(failure, "(no error)");
}

TEST_F(SessionRepositoryTest, ListsOnlyValidSessionsOfTheSameLiveProcessNewestFirst) {
  for (int i = 0; i < 4; ++i) repository.write(session("s" + std::to_string(i), 100, i % 2 ? 5 : 9));
  repository.write(session("exited", 101));
  repository.write(session("reused-pid", 102));
  repository.write(session("restarted", 103));
  AgentSession relative = session("relative");
  relative.cwd = "work";
  const std::map<std::string, std::string> invalid = {
      {"CAPITAL.JSON", session("upper").toJson()},
      {"no-extension", session("bare").toJson()},
      {"garbage.json", "{"},
      {"empty-id.json", session("").toJson()},
      {"relative.json", relative.toJson()},
      {"too-big.json", std::string(32768, ' ') + session("big").toJson()}};
  for (const auto& [name, bytes] : invalid) writeRaw(folder() / name, bytes);
  fs::create_directories(folder() / "folder.json");
  ASSERT_EQ(::mkfifo((folder() / "fifo.json").c_str(), 0600), 0);
  writeRaw(root / "linked.json", session("linked").toJson());
  fs::create_symlink(root / "linked.json", folder() / "linked.json");
  if (::geteuid() == 0) {
    writeRaw(folder() / "foreign.json", session("foreign").toJson());
    ASSERT_EQ(::chown((folder() / "foreign.json").c_str(), 65534, 65534), 0);
  }
  const auto probe = probeOf({{100, agent},
                              {102, {102, "bash", agent.started}},
                              {103, {103, "claude", "Sat Dec  5 09:41:08 2026"}}});
  const auto sessions = repository.liveSessions(probe);
  // Equal times keep the folder's own listing order.
  std::vector<std::string> listing;
  for (const auto& entry : fs::directory_iterator(folder())) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    if (const auto file = AgentSession::fromJson(readWholeFile(entry.path()));
        file && file->id.starts_with('s')) {
      listing.push_back(file->id);
    }
  }
  std::vector<std::string> expected;
  for (const char* parity : {"02", "13"}) {
    for (const std::string& id : listing) {
      if (std::string(parity).find(id[1]) != std::string::npos) expected.push_back(id);
    }
  }
  EXPECT_EQ(idsOf(sessions), expected);
  EXPECT_TRUE(fs::exists(repository.file("exited"))) << "listing never deletes stale files";
}

TEST(HookInputTest, RulesOfTheRecord) {
  auto record = [](std::string id, std::string cwd, std::string event, size_t padding = 0) {
    return R"({"session_id":")" + id + R"(","cwd":")" + cwd + R"(","hook_event_name":")" + event +
           R"(","extra":{"a":1}})" + std::string(padding, ' ');
  };
  std::string emoji512;
  for (int i = 0; i < 512; ++i) emoji512 += "👍🏽";  // one character, eight bytes
  const std::string fits = record("a", "/", "Stop");
  using Kind = HookInputError::Kind;
  const std::vector<std::pair<std::string, std::optional<Kind>>> cases = {
      {record(std::string(512, 'a'), "/w", "Stop"), std::nullopt},
      {record(emoji512, "/w", "Stop"), std::nullopt},
      {record("a", "/" + std::string(4094, 'd'), "Stop"), std::nullopt},
      {record("a", "/", "Stop", HookInput::maximumSize - fits.size()), std::nullopt},
      {record("a", "/", "Stop", HookInput::maximumSize - fits.size() + 1), Kind::fileTooLarge},
      {record(std::string(513, 'a'), "/w", "Stop"), Kind::corruptFile},
      {record("", "/w", "Stop"), Kind::corruptFile},
      {record("a", "relative", "Stop"), Kind::corruptFile},
      {record("a", "/" + std::string(4095, 'd'), "Stop"), Kind::corruptFile},
      {record("a", "/", "sessionend"), Kind::corruptFile},
      {record("a", "/", "PreToolUse"), Kind::corruptFile},
  };
  for (const auto& [bytes, expected] : cases) {
    std::optional<Kind> kind;
    try {
      HookInput::decode(bytes);
    } catch (const HookInputError& error) {
      kind = error.kind();
    }
    EXPECT_EQ(kind, expected) << bytes.substr(0, 80);
  }
  for (const auto event : HookInput::events)
    EXPECT_NO_THROW(HookInput::decode(record("a", "/", std::string(event))));
  // The transcript is taken by its absolute path only, and its absence is no fault.
  const std::string head = R"({"session_id":"a","cwd":"/","hook_event_name":"Stop","transcript_path":)";
  EXPECT_EQ(HookInput::decode(head + R"("/t/a.jsonl"})").transcript_path, "/t/a.jsonl");
  for (const char* other : {R"("t/a.jsonl"})", R"(null})", R"(["/t"]})"})
    EXPECT_EQ(HookInput::decode(head + other).transcript_path, std::nullopt) << other;
  const std::string message =
      messageOf([] { HookInput::decode(R"({"session_id":1,"cwd":"/","hook_event_name":"Stop"})"); });
  EXPECT_NE(message.find("session_id"), std::string::npos);
  EXPECT_EQ(message.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace lumacap
