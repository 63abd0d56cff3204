#pragma once

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/McpProtocol.h"

namespace lumacap {

// `lumacap mcp`: the Model Context Protocol server a coding agent starts, on
// standard input and output, one JSON-RPC message per line. Its tools read
// Lumacap's own capture history (never any other file): list_captures and
// get_capture. It answers every line it is given in order, and speaks only
// JSON-RPC on its output; what it has to say besides goes to standard error.
class McpServer {
 public:
  struct Environment {
    std::filesystem::path dataRoot;       // holds history.json and Captures/
    std::function<bool()> agentsMayRead;  // asked at every tool call
    std::string version;                  // the server's, for `initialize`
  };

  explicit McpServer(Environment environment) : environment_(std::move(environment)) {}

  // The answer to one line, without its newline; nothing for a notification
  // or an answer of the peer.
  std::optional<std::string> answer(const mcp::LineReader::Line& line);

  // Answers what arrives on `input` until it ends or `output` is closed.
  void serve(int input, int output);

  // A capture file larger than this is not read.
  static constexpr size_t maximumCaptureSize = size_t{256} << 20;

 private:
  nlohmann::json respond(const mcp::Request& request);
  nlohmann::json callTool(const mcp::Request& request);
  nlohmann::json listCaptures(const mcp::ListArguments& arguments);
  nlohmann::json getCapture(const mcp::GetArguments& arguments);

  Environment environment_;
  // The base64 of the image get_capture answers with, spliced into the
  // answer once it is written out (its "data" left empty until then), so
  // that the JSON writer does not escape a few megabytes it cannot change.
  std::string imageData_;
};

}  // namespace lumacap
