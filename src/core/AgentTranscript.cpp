#include "core/AgentTranscript.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/AtomicFile.h"

using nlohmann::json;

namespace lumacap {
namespace {

// What Claude Code records as the user's turn but the user did not type: the
// output of a slash command, its invocation, notes it adds itself.
bool typedByTheUser(std::string_view text) {
  for (const std::string_view added : {"<command-", "<local-command-", "<system-reminder>", "Caveat: "}) {
    if (text.starts_with(added)) return false;
  }
  return true;
}

std::string collapsedWhiteSpace(std::string_view text) {
  std::string collapsed;
  bool space = false;
  for (const char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      space = !collapsed.empty();
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) continue;  // no control character reaches a menu
    if (space) collapsed += ' ';
    space = false;
    collapsed += c;
  }
  return collapsed;
}

// The typed text of one transcript record, when it is the user's prompt: a
// "user" record whose message content is text, or holds text parts (a tool's
// result is recorded as the user's turn too, and is not a prompt).
std::optional<std::string> promptOf(std::string_view line) {
  const json record = json::parse(line, nullptr, false);
  if (!record.is_object()) return std::nullopt;
  const auto type = record.find("type");
  const auto meta = record.find("isMeta");
  if (type == record.end() || *type != "user") return std::nullopt;
  if (meta != record.end() && *meta == true) return std::nullopt;
  const auto message = record.find("message");
  if (message == record.end() || !message->is_object()) return std::nullopt;
  const auto content = message->find("content");
  if (content == message->end()) return std::nullopt;
  std::string text;
  if (content->is_string()) {
    text = content->get<std::string>();
  } else if (content->is_array()) {
    for (const json& part : *content) {
      if (!part.is_object()) continue;
      const auto partType = part.find("type");
      const auto partText = part.find("text");
      if (partType == part.end() || *partType != "text") continue;
      if (partText != part.end() && partText->is_string())
        text += (text.empty() ? "" : " ") + partText->get<std::string>();
    }
  }
  text = collapsedWhiteSpace(text);
  if (text.empty() || !typedByTheUser(text)) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string> AgentTranscript::lastPromptIn(std::string_view tail, bool whole) {
  size_t end = tail.size();
  while (end > 0) {
    const size_t newline = tail.rfind('\n', end - 1);
    const size_t start = newline == std::string_view::npos ? 0 : newline + 1;
    if (start == 0 && !whole) break;  // the first line of a tail may be cut
    const std::string_view line = tail.substr(start, end - start);
    // Only records that can be the user's are parsed.
    if (line.find("\"user\"") != std::string_view::npos) {
      if (std::optional<std::string> prompt = promptOf(line)) return prompt;
    }
    if (start == 0) break;
    end = start - 1;
  }
  return std::nullopt;
}

std::optional<std::string> AgentTranscript::lastPrompt(const std::filesystem::path& transcript) {
  const FileDescriptor fd(::open(transcript.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return std::nullopt;
  if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return std::nullopt;
  const off_t size = info.st_size;
  const off_t from = size > static_cast<off_t>(tailSize) ? size - static_cast<off_t>(tailSize) : 0;
  std::string tail(static_cast<size_t>(size - from), '\0');
  size_t got = 0;
  while (got < tail.size()) {
    const ssize_t n = ::pread(fd.get(), tail.data() + got, tail.size() - got, from + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank meanwhile, or cannot be read
    got += static_cast<size_t>(n);
  }
  tail.resize(got);
  return lastPromptIn(tail, from == 0);
}

}  // namespace lumacap
