#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/CodingAgent.h"
#include "core/Date.h"
#include "core/HookEvents.h"
#include "core/ProgramError.h"

namespace lumacap {

// One running process as the process lister names it. Two probes of the same
// pid that disagree in executable or start time describe different processes.
struct ProcessIdentity {
  int32_t pid = 0;
  std::string executable;  // the command, as `ps -o comm=` prints it
  std::string started;     // the start time, as `ps -o lstart=` prints it (UTC)

  bool operator==(const ProcessIdentity&) const = default;
};

// One live session of a coding agent, the content of a session file.
struct AgentSession {
  std::string id;
  std::string cwd;
  ProcessIdentity process;
  std::optional<std::string> hostBundleID;
  std::optional<int32_t> hostPID;
  Date updatedAt;
  // The conversation's transcript, as the agent names it in its hook record.
  std::optional<std::string> transcriptPath = {};
  // The agent's key (CodingAgent::key); a file without one is Claude Code's.
  std::string agent = "claude";

  // The agent, Claude Code for a key this version does not know.
  const CodingAgent& codingAgent() const;

  // The last path component of cwd; names the session in menus.
  std::string project() const;

  std::string toJson() const;
  // Nothing when the bytes are not a session in its JSON form.
  static std::optional<AgentSession> fromJson(std::string_view bytes);

  bool operator==(const AgentSession&) const = default;
};

using InspectFunction = std::function<std::optional<ProcessIdentity>(int32_t pid)>;
// The identity of a process as the sessions of `agent` record it.
using AgentInspectFunction =
    std::function<std::optional<ProcessIdentity>(int32_t pid, const CodingAgent& agent)>;

// The folder of session files: one JSON file per live session, named by the
// SHA-256 of the session id. Hook processes write and delete; the application
// lists. No lock, no cache: every call works on the folder as it is.
//
// The folder must be a real folder of this user that nobody else can write
// to; otherwise writing and removing throw FileError and listing finds
// nothing. The folder is opened once per call and every name is looked up
// relative to it, so a folder or file swapped for a link meanwhile cannot
// redirect a write. Session files are only ever replaced by a rename.
class SessionRepository {
 public:
  explicit SessionRepository(const std::filesystem::path& root);

  const std::filesystem::path& directory() const { return directory_; }
  std::filesystem::path file(const std::string& sessionID) const;

  // Throws FileError for a session whose file would be larger than the
  // listing reads (maximumFileSize).
  void write(const AgentSession& session) const;
  void remove(const std::string& sessionID) const;

  // Sessions whose recorded process is still the same running process, newest
  // first; equal times keep the folder's listing order. Only regular files of
  // this user count. Never throws, never touches a file.
  std::vector<AgentSession> liveSessions(const AgentInspectFunction& inspect) const;
  std::vector<AgentSession> liveSessions(const InspectFunction& inspect) const;

  static constexpr uintmax_t maximumFileSize = 32767;

 private:
  std::filesystem::path directory_;
};

// The record an agent hands a hook on standard input, with the agent's keys
// read into Claude Code's names.
struct HookInput {
  std::string session_id;
  std::string cwd;
  std::string hook_event_name;
  // Absent when the record names none, or not by an absolute path.
  std::optional<std::string> transcript_path;

  static constexpr size_t maximumSize = 1048576;
  static constexpr const auto& events = hookEvents;

  // Throws HookInputError (too large or not a valid record) or
  // HookDecodingError (not JSON, a key missing or not a string).
  static HookInput decode(std::string_view bytes);
  // `agent`'s record; `event` names the event for an agent whose record does not.
  static HookInput decode(std::string_view bytes, const CodingAgent& agent, std::string_view event = {});
};

enum class HookInputErrorKind { corruptFile, fileTooLarge };

class HookInputError : public KindedError<HookInputErrorKind> {
 public:
  explicit HookInputError(Kind kind);
};

class HookDecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumacap
