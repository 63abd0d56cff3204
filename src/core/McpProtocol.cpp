#include "core/McpProtocol.h"

#include <algorithm>
#include <cmath>

namespace lumacap::mcp {

using nlohmann::json;

void LineReader::feed(std::string_view bytes) { buffer_.append(bytes); }

std::optional<LineReader::Line> LineReader::next() {
  for (;;) {
    const size_t newline = buffer_.find('\n', scanned_);
    if (newline == std::string::npos) {
      scanned_ = buffer_.size();
      if (buffer_.size() <= maximumLineSize) return std::nullopt;
      // Too long already: report it once, then drop what comes up to its end.
      buffer_.clear();
      scanned_ = 0;
      if (std::exchange(skipping_, true)) return std::nullopt;
      return Line{.text = {}, .tooLong = true};
    }
    std::string text = buffer_.substr(0, newline);
    buffer_.erase(0, newline + 1);
    scanned_ = 0;
    if (std::exchange(skipping_, false)) continue;
    if (text.ends_with('\r')) text.pop_back();
    if (text.size() > maximumLineSize) return Line{.text = {}, .tooLong = true};
    return Line{.text = std::move(text), .tooLong = false};
  }
}

std::optional<LineReader::Line> LineReader::finish() {
  if (std::optional<Line> line = next()) return line;
  const bool skipped = std::exchange(skipping_, false);
  std::string text = std::exchange(buffer_, {});
  scanned_ = 0;
  if (skipped || text.empty()) return std::nullopt;
  return Line{.text = std::move(text), .tooLong = false};
}

namespace {

bool isValidId(const json& id) { return id.is_string() || id.is_number_integer(); }

}  // namespace

Message parseMessage(std::string_view line) {
  json message = json::parse(line, nullptr, false);
  if (message.is_discarded()) return errorResponse(nullptr, ErrorCode::parseError, "Parse error");
  if (!message.is_object()) return errorResponse(nullptr, ErrorCode::invalidRequest, "Invalid request");
  const auto id = message.find("id");
  const bool hasId = id != message.end();
  const json validId = hasId && isValidId(*id) ? *id : json();
  const auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0")
    return errorResponse(validId, ErrorCode::invalidRequest, "Invalid request: “jsonrpc” must be “2.0”");
  const auto method = message.find("method");
  if (method == message.end()) {
    // An answer to a request: this server sends none, so there is nothing to match it with.
    if (hasId && (message.contains("result") || message.contains("error"))) return Ignored{};
    return errorResponse(validId, ErrorCode::invalidRequest, "Invalid request: no “method”");
  }
  if (hasId && !isValidId(*id))
    return errorResponse(nullptr, ErrorCode::invalidRequest,
                         "Invalid request: an id is a string or an integer");
  if (!method->is_string())
    return hasId ? Message(
                       errorResponse(validId, ErrorCode::invalidRequest, "Invalid request: “method” is text"))
                 : Message(Ignored{});
  const auto params = message.find("params");
  if (params != message.end() && !params->is_object()) {
    return hasId ? Message(errorResponse(validId, ErrorCode::invalidParams, "Invalid params: not an object"))
                 : Message(Ignored{});
  }
  return Request{.id = validId,
                 .method = method->get<std::string>(),
                 .params = params != message.end() ? std::move(*params) : json::object()};
}

json resultResponse(const json& id, json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json errorResponse(const json& id, ErrorCode code, std::string_view message) {
  return {{"jsonrpc", "2.0"},
          {"id", id},
          {"error", {{"code", static_cast<int>(code)}, {"message", std::string(message)}}}};
}

std::string_view negotiateVersion(const json& requested) {
  if (requested.is_string()) {
    const auto& text = requested.get_ref<const std::string&>();
    const auto known = std::find(protocolVersions.begin(), protocolVersions.end(), text);
    if (known != protocolVersions.end()) return *known;
  }
  return protocolVersions.front();
}

json initializeResult(const json& params, std::string_view serverVersion) {
  const auto requested = params.find("protocolVersion");
  return {
      {"protocolVersion", negotiateVersion(requested != params.end() ? *requested : json())},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", "lumacap"}, {"title", "Lumacap"}, {"version", std::string(serverVersion)}}},
      {"instructions",
       "Lumacap keeps the screenshots the user captured. list_captures lists the recent ones; get_capture "
       "returns one as an image (the latest unless an id is given)."},
  };
}

json toolList() {
  const json readOnly = {{"readOnlyHint", true}, {"openWorldHint", false}};
  json list = json::array();
  list.push_back(
      {{"name", "list_captures"},
       {"title", "List screenshots"},
       {"description",
        "Lists the user's recent Lumacap screenshots, newest first: id, name, time, size in pixels and "
        "bytes, the application captured, where it was delivered and the message the user sent with it. "
        "Returns no pixels."},
       {"inputSchema",
        {{"type", "object"},
         {"properties",
          {{"limit",
            {{"type", "integer"},
             {"minimum", 1},
             {"maximum", maximumListLimit},
             {"description", "How many captures to list (default 20)."}}}}},
         {"additionalProperties", false}}},
       {"annotations", readOnly}});
  list.push_back(
      {{"name", "get_capture"},
       {"title", "Get a screenshot"},
       {"description",
        "Returns one of the user's Lumacap screenshots as a PNG image with a line describing it: the one "
        "with the given id, else the latest. Larger images are scaled down to fit maxEdge pixels."},
       {"inputSchema",
        {{"type", "object"},
         {"properties",
          {{"id", {{"type", "string"}, {"description", "A capture's id from list_captures."}}},
           {"maxEdge",
            {{"type", "integer"},
             {"minimum", minimumEdge},
             {"maximum", maximumEdge},
             {"description", "The longest side of the image returned, in pixels (default 1568)."}}}}},
         {"additionalProperties", false}}},
       {"annotations", readOnly}});
  return {{"tools", std::move(list)}};
}

const char* ToolError::description(Kind kind) {
  switch (kind) {
    case Kind::readingTurnedOff:
      return "The user has turned off agents' access to Lumacap's captures (Lumacap's Settings, “Let coding "
             "agents read captures”).";
    case Kind::noCaptures:
      return "Lumacap has no captures yet. Ask the user to take a screenshot with Lumacap.";
    case Kind::unknownCapture:
      return "No Lumacap capture has this id; list_captures lists the ones there are.";
    case Kind::unreadableHistory:
      return "Lumacap's capture history could not be read safely.";
    case Kind::unreadableImage:
      return "This capture's image could not be read: it is missing, damaged or not a file Lumacap wrote.";
  }
  return "";
}

json toolError(std::string_view text) {
  return {{"content", json::array({{{"type", "text"}, {"text", std::string(text)}}})}, {"isError", true}};
}

namespace {

// The arguments object, or the error text when it is something else.
std::variant<json, std::string> argumentsObject(const json& arguments) {
  if (arguments.is_null()) return json::object();
  if (!arguments.is_object()) return std::string("Invalid params: “arguments” is not an object");
  return arguments;
}

std::optional<std::string> unknownArgument(const json& arguments,
                                           std::initializer_list<std::string_view> known) {
  for (const auto& [name, value] : arguments.items()) {
    if (std::find(known.begin(), known.end(), name) == known.end())
      return "Invalid params: unknown argument “" + name + "”";
  }
  return std::nullopt;
}

// An integer argument within [minimum, maximum]; nothing when absent.
std::variant<std::optional<int64_t>, std::string> integerArgument(const json& arguments, const char* name,
                                                                  int64_t minimum, int64_t maximum) {
  const auto value = arguments.find(name);
  if (value == arguments.end()) return std::optional<int64_t>();
  // Compared as a double: a client may send 800.0 for 800, and the bounds are small.
  if (value->is_number()) {
    const double number = value->get<double>();
    if (std::floor(number) == number && number >= static_cast<double>(minimum) &&
        number <= static_cast<double>(maximum))
      return std::optional<int64_t>(static_cast<int64_t>(number));
  }
  return "Invalid params: “" + std::string(name) + "” is an integer from " + std::to_string(minimum) +
         " to " + std::to_string(maximum);
}

}  // namespace

std::variant<ListArguments, std::string> listArguments(const json& given) {
  auto checked = argumentsObject(given);
  if (auto* error = std::get_if<std::string>(&checked)) return *error;
  const json& arguments = std::get<json>(checked);
  if (auto unknown = unknownArgument(arguments, {"limit"})) return *unknown;
  auto limit = integerArgument(arguments, "limit", 1, maximumListLimit);
  if (auto* error = std::get_if<std::string>(&limit)) return *error;
  ListArguments result;
  if (auto value = std::get<std::optional<int64_t>>(limit)) result.limit = static_cast<size_t>(*value);
  return result;
}

std::variant<GetArguments, std::string> getArguments(const json& given) {
  auto checked = argumentsObject(given);
  if (auto* error = std::get_if<std::string>(&checked)) return *error;
  const json& arguments = std::get<json>(checked);
  if (auto unknown = unknownArgument(arguments, {"id", "maxEdge"})) return *unknown;
  GetArguments result;
  if (const auto id = arguments.find("id"); id != arguments.end() && !id->is_null()) {
    if (!id->is_string() || id->get_ref<const std::string&>().size() > 64)
      return std::string("Invalid params: “id” is a capture's id from list_captures");
    result.id = id->get<std::string>();
  }
  auto edge = integerArgument(arguments, "maxEdge", minimumEdge, maximumEdge);
  if (auto* error = std::get_if<std::string>(&edge)) return *error;
  if (auto value = std::get<std::optional<int64_t>>(edge)) result.maxEdge = static_cast<int>(*value);
  return result;
}

std::string base64(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  char* next = out.data();
  const auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])); };
  const auto put = [&](uint32_t group, int count) {
    for (int shift = 18; count-- > 0; shift -= 6) *next++ = alphabet[(group >> shift) & 63];
  };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) put(byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2), 4);
  if (const size_t rest = bytes.size() - i; rest > 0)
    put(byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0), static_cast<int>(rest) + 1);
  return out;
}

}  // namespace lumacap::mcp
