#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace lumacap {

// What a person recognises a conversation by: the last thing they typed into
// it, read from the end of the session's transcript (one JSON record a line,
// as Claude Code writes it).
struct AgentTranscript {
  // At most this much of the file's end is read, however long the file is.
  static constexpr size_t tailSize = 1u << 20;

  // The text of the last prompt the user typed, its white space collapsed;
  // nothing when the file is not a regular file of this user (links and
  // special files are never followed or read), or its tail holds no prompt.
  // Never blocks on the file, never throws.
  static std::optional<std::string> lastPrompt(const std::filesystem::path& transcript);

  // The same, from the transcript's last bytes; `whole` when they start at
  // the file's beginning (else the first line may be cut and is skipped).
  static std::optional<std::string> lastPromptIn(std::string_view tail, bool whole);
};

}  // namespace lumacap
