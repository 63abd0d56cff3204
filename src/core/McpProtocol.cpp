#include "core/McpProtocol.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
  list.push_back(
      {{"name", "request_capture"},
       {"title", "Ask for a screenshot"},
       {"description",
        "Asks the user to select a region of the screen in the running Lumacap, with a banner naming you, "
        "your "
        "folder and your reason, and returns the capture as a PNG image once the user has selected it. Fails "
        "when the user cancels, does not answer within two minutes, or Lumacap is not running."},
       {"inputSchema",
        {{"type", "object"},
         {"properties",
          {{"reason",
            {{"type", "string"},
             {"maxLength", maximumReasonLength},
             {"description", "What you want to see, shown to the user (one short sentence)."}}},
           {"maxEdge",
            {{"type", "integer"},
             {"minimum", minimumEdge},
             {"maximum", maximumEdge},
             {"description", "The longest side of the image returned, in pixels (default 1568)."}}}}},
         {"additionalProperties", false}}},
       {"annotations", {{"readOnlyHint", true}, {"openWorldHint", true}}}});
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
    case Kind::noLumacap:
      return "Lumacap is not running. Ask the user to start Lumacap, then try again.";
    case Kind::busy:
      return "Lumacap is busy with another capture or request; try again once it is done.";
    case Kind::cancelled:
      return "The user cancelled the capture.";
    case Kind::timedOut:
      return "The user did not select a region in time; no capture was taken.";
    case Kind::refused:
      return "Lumacap refused the request: agents' access to captures is turned off in its Settings.";
    case Kind::requestFailed:
      return "Lumacap could not take the capture.";
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

std::variant<RequestArguments, std::string> requestArguments(const json& given) {
  auto checked = argumentsObject(given);
  if (auto* error = std::get_if<std::string>(&checked)) return *error;
  const json& arguments = std::get<json>(checked);
  if (auto unknown = unknownArgument(arguments, {"reason", "maxEdge"})) return *unknown;
  RequestArguments result;
  if (const auto reason = arguments.find("reason"); reason != arguments.end() && !reason->is_null()) {
    if (!reason->is_string()) return std::string("Invalid params: “reason” is text");
    result.reason = plainLine(reason->get_ref<const std::string&>(), maximumReasonLength);
  }
  auto edge = integerArgument(arguments, "maxEdge", minimumEdge, maximumEdge);
  if (auto* error = std::get_if<std::string>(&edge)) return *error;
  if (auto value = std::get<std::optional<int64_t>>(edge)) result.maxEdge = static_cast<int>(*value);
  return result;
}

namespace {

// The next code point of `text` from `at`, which moves past it; U+FFFD for
// a byte that does not start a well-formed sequence (one byte is taken).
char32_t nextCodePoint(std::string_view text, size_t& at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const size_t length = lead < 0x80                   ? 1
                        : lead >= 0xC2 && lead < 0xE0 ? 2
                        : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF5 ? 4
                                                      : 0;
  if (length == 0 || at + length > text.size()) {
    ++at;
    return 0xFFFD;
  }
  char32_t point = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return 0xFFFD;
    }
    point = point << 6 | (byte(at + i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    ++at;
    return 0xFFFD;
  }
  at += length;
  return point;
}

void appendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | point >> 6);
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | point >> 12);
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | point >> 18);
    out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

// Characters that break a line or turn the direction of what follows.
bool isSpaceOrControl(char32_t point) {
  return point <= 0x20 || (point >= 0x7F && point <= 0xA0) || point == 0x2028 || point == 0x2029 ||
         (point >= 0x200E && point <= 0x200F) || (point >= 0x202A && point <= 0x202E) ||
         (point >= 0x2066 && point <= 0x2069) || point == 0xFEFF;
}

}  // namespace

std::string plainLine(std::string_view text, size_t maximumCharacters) {
  std::u32string kept;
  bool space = false;
  for (size_t at = 0; at < text.size() && kept.size() <= maximumCharacters;) {
    const char32_t point = nextCodePoint(text, at);
    if (isSpaceOrControl(point)) {
      space = !kept.empty();
      continue;
    }
    if (std::exchange(space, false)) kept += U' ';
    kept += point;
  }
  const bool cut = kept.size() > maximumCharacters && maximumCharacters > 0;
  if (kept.size() > maximumCharacters) kept.resize(cut ? maximumCharacters - 1 : 0);
  while (!kept.empty() && kept.back() == U' ') kept.pop_back();
  std::string out;
  for (const char32_t point : kept) appendUtf8(out, point);
  return cut ? out + "…" : out;
}

std::string clientName(const json& params) {
  const auto info = params.find("clientInfo");
  if (info == params.end() || !info->is_object()) return {};
  for (const char* key : {"title", "name"}) {
    const auto value = info->find(key);
    if (value != info->end() && value->is_string()) {
      std::string name = plainLine(value->get_ref<const std::string&>(), 60);
      if (!name.empty()) return name;
    }
  }
  return {};
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
