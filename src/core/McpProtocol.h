#pragma once

#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/ProgramError.h"

namespace lumacap::mcp {

// The Model Context Protocol as `lumacap mcp` speaks it on standard input and
// output: JSON-RPC 2.0, one message per line. Pure: no reading, no writing.

// Newest first; an `initialize` asking for another gets the newest.
inline constexpr std::array<std::string_view, 3> protocolVersions = {"2025-11-25", "2025-06-18",
                                                                     "2025-03-26"};

// A line longer than this (without its newline) is refused and skipped.
inline constexpr size_t maximumLineSize = 1u << 20;

// JSON-RPC's error codes.
enum class ErrorCode : int {
  parseError = -32700,
  invalidRequest = -32600,
  methodNotFound = -32601,
  invalidParams = -32602,
  internalError = -32603,
};

// Cuts a byte stream into lines of at most maximumLineSize bytes. A longer
// line is reported once, as tooLong, and its bytes are dropped up to its
// newline, so the stream stays in step with the peer.
class LineReader {
 public:
  struct Line {
    std::string text;
    bool tooLong = false;
  };

  void feed(std::string_view bytes);
  // The next complete line, if any.
  std::optional<Line> next();
  // At the end of the stream: what is left after the last newline.
  std::optional<Line> finish();

 private:
  std::string buffer_;
  size_t scanned_ = 0;     // bytes of buffer_ known to hold no newline
  bool skipping_ = false;  // inside a line already reported too long
};

// A request (it has an id) or a notification (it has none).
struct Request {
  nlohmann::json id;  // a string or an integer; null for a notification
  std::string method;
  nlohmann::json params;  // an object; empty when the message has none
  bool isNotification() const { return id.is_null(); }
};

// What a line holds: a request, a message to leave unanswered (the peer's
// answer to a request of ours), or the error response it gets.
struct Ignored {};
using Message = std::variant<Request, Ignored, nlohmann::json>;

Message parseMessage(std::string_view line);

nlohmann::json resultResponse(const nlohmann::json& id, nlohmann::json result);
nlohmann::json errorResponse(const nlohmann::json& id, ErrorCode code, std::string_view message);

// The version to answer an `initialize` with: the client's when it is one of
// protocolVersions, else the newest.
std::string_view negotiateVersion(const nlohmann::json& requested);

// The result of `initialize`.
nlohmann::json initializeResult(const nlohmann::json& params, std::string_view serverVersion);

// The tools `tools/list` describes, with their input schemas.
nlohmann::json toolList();

// Why a tool could not do what it was asked, each with the sentence the agent
// (and through it the user) reads.
enum class ToolErrorKind {
  readingTurnedOff,
  noCaptures,
  unknownCapture,
  unreadableHistory,
  unreadableImage,
  // request_capture's
  noLumacap,
  busy,
  cancelled,
  timedOut,
  refused,
  requestFailed,
};

class ToolError : public KindedError<ToolErrorKind> {
 public:
  explicit ToolError(Kind kind) : KindedError(kind, description(kind)) {}
  static const char* description(Kind kind);
};

// The result of a tool that failed: one text part, flagged as an error.
nlohmann::json toolError(std::string_view text);

// The arguments of the capture tools, checked; the text of an invalid-params
// error otherwise.
struct ListArguments {
  size_t limit = 20;
};
struct GetArguments {
  std::optional<std::string> id;  // nothing: the latest
  int maxEdge = 1568;
};
struct RequestArguments {
  std::string reason;  // plain text, one line, at most maximumReasonLength characters
  int maxEdge = 1568;
};
inline constexpr size_t maximumListLimit = 200;
inline constexpr size_t maximumReasonLength = 300;
inline constexpr int minimumEdge = 16;
inline constexpr int maximumEdge = 8192;
std::variant<ListArguments, std::string> listArguments(const nlohmann::json& arguments);
std::variant<GetArguments, std::string> getArguments(const nlohmann::json& arguments);
std::variant<RequestArguments, std::string> requestArguments(const nlohmann::json& arguments);

// Text another program gave, made fit to show on one line as plain text:
// valid UTF-8 (what is not becomes U+FFFD), control and direction-changing
// characters and runs of spaces turned into one space, trimmed, and cut to
// `maximumCharacters` characters with an ellipsis.
std::string plainLine(std::string_view text, size_t maximumCharacters);

// The name the client gave in `initialize` (its clientInfo's title, else its
// name), as plainLine makes it; empty when it gave none.
std::string clientName(const nlohmann::json& initializeParams);

// Standard base64 with padding.
std::string base64(std::string_view bytes);

}  // namespace lumacap::mcp
