#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "core/McpProtocol.h"

namespace lumacap {

// `lumacap mcp`: the Model Context Protocol server a coding agent starts, on
// standard input and output, one JSON-RPC message per line. Its tools read
// Lumacap's own capture history (never any other file): list_captures and
// get_capture; request_capture asks the running Lumacap for a capture the
// user selects now, and answers once it is saved. It answers the other lines
// in order meanwhile, and speaks only JSON-RPC on its output; what it has to
// say besides goes to standard error.
class McpServer {
 public:
  // Who asks for a capture and why, as the banner over the selection shows it.
  struct CaptureAsk {
    std::string agent;
    std::string folder;
    std::string reason;
  };
  // A capture asked of the running Lumacap. Dropping one that is still
  // pending withdraws it (the selection closes).
  class PendingCapture {
   public:
    virtual ~PendingCapture() = default;
    // Readable when poll() may have news.
    virtual int descriptor() const = 0;
    // The saved capture's id, or why there is none; nothing while pending.
    virtual std::optional<std::variant<std::string, mcp::ToolErrorKind>> poll() = 0;
  };

  struct Environment {
    std::filesystem::path dataRoot;       // holds history.json and Captures/
    std::function<bool()> agentsMayRead;  // asked at every tool call
    std::string version;                  // the server's, for `initialize`
    std::string folder;                   // the agent's working folder, for the banner
    // Asks the running Lumacap; throws mcp::ToolError when it cannot.
    std::function<std::unique_ptr<PendingCapture>(const CaptureAsk&)> requestCapture;
  };

  explicit McpServer(Environment environment) : environment_(std::move(environment)) {}

  // The answer to one line, without its newline; nothing for a notification
  // or an answer of the peer.
  std::optional<std::string> answer(const mcp::LineReader::Line& line);

  // The answer to the pending request_capture once it has one.
  std::optional<std::string> settle();

  // Answers what arrives on `input` until it ends or `output` is closed.
  void serve(int input, int output);

  // A capture file larger than this is not read.
  static constexpr size_t maximumCaptureSize = size_t{256} << 20;

 private:
  nlohmann::json respond(const mcp::Request& request);
  nlohmann::json callTool(const mcp::Request& request);
  nlohmann::json listCaptures(const mcp::ListArguments& arguments);
  nlohmann::json getCapture(const mcp::GetArguments& arguments);
  nlohmann::json requestCapture(const nlohmann::json& id, const mcp::RequestArguments& arguments);
  std::string serialize(const nlohmann::json& response);

  struct Pending {
    nlohmann::json id;
    int maxEdge = 0;
    std::unique_ptr<PendingCapture> capture;
  };

  Environment environment_;
  std::string clientName_;  // from `initialize`
  std::optional<Pending> pending_;
  // The base64 of the image get_capture answers with, spliced into the
  // answer once it is written out (its "data" left empty until then), so
  // that the JSON writer does not escape a few megabytes it cannot change.
  std::string imageData_;
};

}  // namespace lumacap
