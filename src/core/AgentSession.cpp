#include "core/AgentSession.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "core/Hashing.h"
#include "core/Unicode.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace lumacap {
namespace {

std::optional<std::string> optionalString(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<int32_t> optionalPid(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  return found->get<int32_t>();
}

bool isInt32(const json& value) {
  if (value.is_number_unsigned()) return value.get<uint64_t>() <= INT32_MAX;
  if (value.is_number_integer()) {
    const auto number = value.get<int64_t>();
    return number >= INT32_MIN && number <= INT32_MAX;
  }
  return false;
}

bool isOptional(const json& object, const char* key, bool (*valid)(const json&)) {
  const auto found = object.find(key);
  return found == object.end() || found->is_null() || valid(*found);
}

bool isString(const json& value) { return value.is_string(); }

bool hasSessionShape(const json& object) {
  if (!object.is_object()) return false;
  const auto process = object.find("process");
  const auto updatedAt = object.find("updatedAt");
  return object.contains("id") && object["id"].is_string() && object.contains("cwd") &&
         object["cwd"].is_string() && process != object.end() && process->is_object() &&
         process->contains("pid") && isInt32((*process)["pid"]) && process->contains("executable") &&
         (*process)["executable"].is_string() && process->contains("started") &&
         (*process)["started"].is_string() && updatedAt != object.end() && updatedAt->is_number() &&
         isOptional(object, "hostBundleID", isString) && isOptional(object, "hostPID", isInt32);
}

}  // namespace

const CodingAgent& AgentSession::codingAgent() const {
  const CodingAgent* found = CodingAgent::findAny(agent);
  return found ? *found : CodingAgent::claude();
}

std::string AgentSession::project() const { return fs::path(cwd).filename().string(); }

std::string AgentSession::toJson() const {
  json object = {
      {"id", id},
      {"cwd", cwd},
      {"process", {{"pid", process.pid}, {"executable", process.executable}, {"started", process.started}}},
      {"updatedAt", updatedAt.secondsSinceReferenceDate},
  };
  if (hostBundleID) object["hostBundleID"] = *hostBundleID;
  if (hostPID) object["hostPID"] = *hostPID;
  if (transcriptPath) object["transcriptPath"] = *transcriptPath;
  if (agent != CodingAgent::claude().key) object["agent"] = agent;
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<AgentSession> AgentSession::fromJson(std::string_view bytes) {
  const json object = json::parse(bytes, nullptr, false);
  if (object.is_discarded() || !hasSessionShape(object)) return std::nullopt;
  const json& process = object["process"];
  return AgentSession{
      .id = object["id"].get<std::string>(),
      .cwd = object["cwd"].get<std::string>(),
      .process = {process["pid"].get<int32_t>(), process["executable"].get<std::string>(),
                  process["started"].get<std::string>()},
      .hostBundleID = optionalString(object, "hostBundleID"),
      .hostPID = optionalPid(object, "hostPID"),
      .updatedAt = Date{object["updatedAt"].get<double>()},
      // A later addition: a file without it, or with something else there, is still a session.
      .transcriptPath = object.contains("transcriptPath") && object["transcriptPath"].is_string()
                            ? std::optional(object["transcriptPath"].get<std::string>())
                            : std::nullopt,
      .agent = object.contains("agent") && object["agent"].is_string()
                   ? object["agent"].get<std::string>()
                   : std::string(CodingAgent::claude().key),
  };
}

SessionRepository::SessionRepository(const fs::path& root) : directory_(root / "Sessions") {}

fs::path SessionRepository::file(const std::string& sessionID) const {
  return directory_ / (sha256Hex(sessionID) + ".json");
}

namespace {

std::string fileName(const std::string& sessionID) { return sha256Hex(sessionID) + ".json"; }

// Opens the session folder and checks that it is safe to write in: a folder,
// not a link to one, of this user, that nobody else can write to. With
// `mustExist` false, a missing folder gives a closed descriptor.
FileDescriptor openSessionFolder(const fs::path& folder, bool mustExist) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT && !mustExist) return fd;
    if (errno == ELOOP || errno == ENOTDIR)
      throw FileError(folder, "not a folder but a link or a file, so no session is recorded");
    throwSystemError(errno, "Could not open", folder);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throwSystemError(errno, "Could not open", folder);
  if (info.st_uid != ::geteuid())
    throw FileError(folder, "belongs to another user, so no session is recorded");
  if (info.st_mode & (S_IWGRP | S_IWOTH)) {
    throw FileError(folder,
                    "other users can write to it, so no session is recorded (make it private: chmod 700)");
  }
  return fd;
}

// A session file's bytes, when it is a regular file of this user within the
// size bound; nothing otherwise. Never follows a link, never blocks.
std::optional<std::string> readSessionFile(int folder, const char* name) {
  FileDescriptor fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return std::nullopt;
  if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return std::nullopt;
  if (static_cast<uintmax_t>(info.st_size) > SessionRepository::maximumFileSize) return std::nullopt;
  try {
    std::string bytes = readUpTo(fd.get(), SessionRepository::maximumFileSize, name);
    if (bytes.size() > SessionRepository::maximumFileSize) return std::nullopt;
    return bytes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool isSameProcess(const std::optional<ProcessIdentity>& current, const ProcessIdentity& recorded) {
  return current && current->pid == recorded.pid && current->executable == recorded.executable &&
         current->started == recorded.started;
}

}  // namespace

void SessionRepository::write(const AgentSession& session) const {
  const std::string json = session.toJson();
  if (json.size() > maximumFileSize) {
    throw FileError(file(session.id),
                    "this session’s record would be larger than the 32,767 bytes a session file "
                    "may have, so it was not recorded");
  }
  createPrivateDirectories(directory_);
  const FileDescriptor folder = openSessionFolder(directory_, true);
  // A session file only matters while its process runs, so a power cut may
  // lose it; what readers must never see is half of one. Skipping the flush
  // keeps the hook, which every prompt waits for, quick.
  PendingFile(folder.get(), fileName(session.id), json, Durability::atomicOnly, file(session.id)).replace();
}

void SessionRepository::remove(const std::string& sessionID) const {
  const FileDescriptor folder = openSessionFolder(directory_, false);
  if (folder.get() < 0) return;
  if (::unlinkat(folder.get(), fileName(sessionID).c_str(), 0) != 0 && errno != ENOENT) {
    throwSystemError(errno, "Could not delete", file(sessionID));
  }
}

std::vector<AgentSession> SessionRepository::liveSessions(const InspectFunction& inspect) const {
  return liveSessions([&inspect](int32_t pid, const CodingAgent&) { return inspect(pid); });
}

std::vector<AgentSession> SessionRepository::liveSessions(const AgentInspectFunction& inspect) const {
  std::vector<AgentSession> sessions;
  FileDescriptor folder;
  try {
    folder = openSessionFolder(directory_, false);
  } catch (const std::exception&) {
    return sessions;
  }
  DIR* listing = folder.get() < 0 ? nullptr : ::fdopendir(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
  if (!listing) return sessions;
  while (const dirent* entry = ::readdir(listing)) {
    if (!std::string_view(entry->d_name).ends_with(".json")) continue;
    const std::optional<std::string> bytes = readSessionFile(folder.get(), entry->d_name);
    std::optional<AgentSession> session = bytes ? AgentSession::fromJson(*bytes) : std::nullopt;
    if (!session || session->id.empty() || !session->cwd.starts_with('/')) continue;
    if (!isSameProcess(inspect(session->process.pid, session->codingAgent()), session->process)) continue;
    sessions.push_back(std::move(*session));
  }
  ::closedir(listing);
  std::stable_sort(sessions.begin(), sessions.end(),
                   [](const auto& a, const auto& b) { return a.updatedAt > b.updatedAt; });
  return sessions;
}

HookInputError::HookInputError(Kind kind)
    : KindedError(kind, kind == Kind::fileTooLarge
                            ? "The hook record is too large (more than 1,048,576 bytes)."
                            : "The hook record isn’t in the correct format.") {}

HookInput HookInput::decode(std::string_view bytes) { return decode(bytes, CodingAgent::claude()); }

HookInput HookInput::decode(std::string_view bytes, const CodingAgent& agent, std::string_view event) {
  if (bytes.size() > maximumSize) throw HookInputError(HookInputError::Kind::fileTooLarge);
  const json object = json::parse(bytes, nullptr, false);
  if (object.is_discarded()) {
    throw HookDecodingError("The hook record is not valid JSON.");
  }
  if (!object.is_object()) throw HookDecodingError("The hook record is not a JSON object.");
  HookInput input;
  if (agent.eventKey.empty()) input.hook_event_name = event;
  for (auto [key, field] :
       {std::pair{agent.sessionKey, &input.session_id}, std::pair{std::string_view("cwd"), &input.cwd},
        std::pair{agent.eventKey, &input.hook_event_name}}) {
    if (key.empty()) continue;
    const auto found = object.find(key);
    if (found == object.end()) {
      throw HookDecodingError("The hook record has no “" + std::string(key) + "” key.");
    }
    if (!found->is_string()) {
      throw HookDecodingError("The hook record’s “" + std::string(key) + "” is not a string.");
    }
    *field = found->get<std::string>();
  }
  if (const auto transcript = agent.transcriptKey.empty() ? object.end() : object.find(agent.transcriptKey);
      transcript != object.end() && transcript->is_string()) {
    std::string path = transcript->get<std::string>();
    if (path.starts_with('/') && path.size() <= 4095) input.transcript_path = std::move(path);
  }
  const size_t idLength = unicode::graphemeCount(input.session_id);
  if (idLength == 0 || idLength > 512 || !input.cwd.starts_with('/') ||
      unicode::graphemeCount(input.cwd) > 4095 || !agent.roleOf(input.hook_event_name)) {
    throw HookInputError(HookInputError::Kind::corruptFile);
  }
  return input;
}

}  // namespace lumacap
