// The MCP server's reader on arbitrary bytes: the line reader cuts them into
// bounded lines, and each line becomes a request, a message left unanswered,
// or a JSON-RPC error response; checked arguments stay within their bounds,
// and the texts shown to the user (the client's name, the reason) are
// well-formed UTF-8 of bounded length.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/McpProtocol.h"

using namespace lumacap::mcp;

namespace {

void check(const LineReader::Line& line) {
  if (line.text.size() > maximumLineSize || (line.tooLong && !line.text.empty())) std::abort();
  const Message message = parseMessage(line.text);
  if (const auto* error = std::get_if<nlohmann::json>(&message)) {
    const int code = (*error)["error"]["code"];
    if (code != -32700 && code != -32600 && code != -32602) std::abort();
    (void)error->dump();
  } else if (const auto* request = std::get_if<Request>(&message)) {
    if (!request->params.is_object() ||
        !(request->id.is_null() || request->id.is_string() || request->id.is_number_integer()))
      std::abort();
    const auto arguments = request->params.find("arguments");
    const nlohmann::json given = arguments != request->params.end() ? *arguments : nlohmann::json();
    const auto list = listArguments(given);
    const auto get = getArguments(given);
    if (const auto* checked = std::get_if<ListArguments>(&list);
        checked && (checked->limit < 1 || checked->limit > maximumListLimit))
      std::abort();
    if (const auto* checked = std::get_if<GetArguments>(&get);
        checked && (checked->maxEdge < minimumEdge || checked->maxEdge > maximumEdge))
      std::abort();
    const auto asked = requestArguments(given);
    if (const auto* checked = std::get_if<RequestArguments>(&asked)) {
      // dump() throws on text that is not UTF-8.
      if (checked->maxEdge < minimumEdge || checked->maxEdge > maximumEdge ||
          nlohmann::json(checked->reason).dump().size() > 2 + 4 * maximumReasonLength)
        std::abort();
    }
    if (nlohmann::json(clientName(request->params)).dump().size() > 2 + 4 * 60) std::abort();
    (void)initializeResult(request->params, "1").dump();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LineReader reader;
  // Fed in two pieces, the way reads split a stream.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  reader.feed(bytes.substr(0, size / 2));
  while (auto line = reader.next()) check(*line);
  reader.feed(bytes.substr(size / 2));
  while (auto line = reader.finish()) check(*line);
  return 0;
}
