#include "app/cli/McpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <new>
#include <variant>

#include "app/cli/PngImage.h"
#include "core/AtomicFile.h"
#include "core/ScreenshotStore.h"

namespace lumacap {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

void log(const std::string& text) {
  const std::string line = "Lumacap MCP: " + text + "\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

std::vector<CaptureRecord> readHistory(const fs::path& root) {
  try {
    const std::optional<FileSnapshot> index =
        readRegularFile(root / "history.json", ScreenshotStore::maximumIndexSize);
    return index ? ScreenshotStore::decodeIndex(index->bytes) : std::vector<CaptureRecord>{};
  } catch (const std::exception& failure) {
    log(failure.what());
    throw mcp::ToolError(mcp::ToolErrorKind::unreadableHistory);
  }
}

// The image file of a record, as the capture folder holds it: a regular file
// of the user's, never through a link, not blocking on special files.
fs::path imageFile(const fs::path& root, const CaptureRecord& record) {
  return ScreenshotStore::imageFile(root, record);
}

struct ImageFacts {
  uintmax_t bytes = 0;
  std::optional<PixelSize> size;
};

// Size and pixel size of a capture's image from its first bytes; nothing when
// the file is missing or not one Lumacap reads.
std::optional<ImageFacts> imageFacts(const fs::path& file) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
    return std::nullopt;
  char header[24];
  const ssize_t got = ::pread(fd.get(), header, sizeof header, 0);
  return ImageFacts{
      static_cast<uintmax_t>(info.st_size),
      got > 0 ? PngImage::size(std::string_view(header, static_cast<size_t>(got))) : std::nullopt};
}

std::string isoTime(Date date) {
  const auto seconds = static_cast<time_t>(date.unixSeconds());
  std::tm utc{};
  char text[32] = "";
  if (::gmtime_r(&seconds, &utc)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string displayName(const CaptureRecord& record) {
  return record.filename.ends_with(".png") ? record.filename.substr(0, record.filename.size() - 4)
                                           : record.filename;
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

json textContent(std::string text) { return {{"type", "text"}, {"text", std::move(text)}}; }

}  // namespace

std::optional<std::string> McpServer::answer(const mcp::LineReader::Line& line) {
  json response;
  if (line.tooLong) {
    log("skipped a message longer than 1 MiB");
    response = mcp::errorResponse(nullptr, mcp::ErrorCode::invalidRequest,
                                  "Invalid request: a message is at most 1 MiB long");
  } else {
    mcp::Message message = mcp::parseMessage(line.text);
    if (std::holds_alternative<mcp::Ignored>(message)) return std::nullopt;
    if (auto* error = std::get_if<json>(&message)) {
      response = std::move(*error);
    } else {
      const mcp::Request& request = std::get<mcp::Request>(message);
      try {
        response = respond(request);
      } catch (const std::exception& failure) {
        log(failure.what());
        response = mcp::errorResponse(request.id, mcp::ErrorCode::internalError, "Internal error");
      }
      // Null: a notification, or a request answered later (settle()).
      if (response.is_null()) return std::nullopt;
    }
  }
  return serialize(response);
}

std::string McpServer::serialize(const json& response) {
  std::string text = response.dump(-1, ' ', false, json::error_handler_t::replace);
  if (!imageData_.empty()) {
    // Inside a JSON string every quote is escaped: this is the image part's own key.
    static constexpr std::string_view emptyData = R"("data":"")";
    if (const size_t at = text.rfind(emptyData); at != std::string::npos)
      text.insert(at + emptyData.size() - 1, imageData_);
    imageData_.clear();
  }
  return text;
}

json McpServer::respond(const mcp::Request& request) {
  const std::string& method = request.method;
  if (request.isNotification()) {
    // The client gave up on the capture it asked for: the selection closes, and no answer goes.
    const auto cancelled = request.params.find("requestId");
    if (method == "notifications/cancelled" && pending_ && cancelled != request.params.end() &&
        *cancelled == pending_->id)
      pending_.reset();
    return nullptr;  // initialized…: nothing to do
  }
  if (method == "initialize") {
    clientName_ = mcp::clientName(request.params);
    return mcp::resultResponse(request.id, mcp::initializeResult(request.params, environment_.version));
  }
  if (method == "ping") return mcp::resultResponse(request.id, json::object());
  if (method == "tools/list") return mcp::resultResponse(request.id, mcp::toolList());
  if (method == "tools/call") return callTool(request);
  return mcp::errorResponse(request.id, mcp::ErrorCode::methodNotFound, "Method not found");
}

json McpServer::callTool(const mcp::Request& request) {
  const auto name = request.params.find("name");
  if (name == request.params.end() || !name->is_string())
    return mcp::errorResponse(request.id, mcp::ErrorCode::invalidParams, "Invalid params: no tool “name”");
  const auto given = request.params.find("arguments");
  const json arguments = given != request.params.end() ? *given : json();
  std::variant<json, std::string> result = std::string();
  const auto run = [&](auto checked, auto tool) {
    if (auto* error = std::get_if<std::string>(&checked)) {
      result = *error;
      return;
    }
    try {
      if (!environment_.agentsMayRead()) throw mcp::ToolError(mcp::ToolErrorKind::readingTurnedOff);
      result = tool(std::get<0>(checked));
    } catch (const mcp::ToolError& failure) {
      result = mcp::toolError(failure.what());
    }
  };
  if (*name == "list_captures") {
    run(mcp::listArguments(arguments), [this](const auto& a) { return listCaptures(a); });
  } else if (*name == "get_capture") {
    run(mcp::getArguments(arguments), [this](const auto& a) { return getCapture(a); });
  } else if (*name == "request_capture") {
    const bool earlier = pending_.has_value();
    run(mcp::requestArguments(arguments), [&](const auto& a) { return requestCapture(request.id, a); });
    // Answered once the user has selected a region (or did not).
    if (!earlier && pending_) return nullptr;
  } else {
    result = "Invalid params: unknown tool “" + name->get<std::string>() + "”";
  }
  if (auto* error = std::get_if<std::string>(&result))
    return mcp::errorResponse(request.id, mcp::ErrorCode::invalidParams, *error);
  return mcp::resultResponse(request.id, std::move(std::get<json>(result)));
}

json McpServer::listCaptures(const mcp::ListArguments& arguments) {
  const std::vector<CaptureRecord> records = readHistory(environment_.dataRoot);
  json list = json::array();
  for (size_t i = 0; i < std::min(arguments.limit, records.size()); ++i) {
    const CaptureRecord& record = records[i];
    json entry = {{"id", record.id}, {"name", displayName(record)}, {"time", isoTime(record.createdAt)}};
    if (const auto facts = imageFacts(imageFile(environment_.dataRoot, record))) {
      if (facts->size) {
        entry["width"] = facts->size->width;
        entry["height"] = facts->size->height;
      }
      entry["bytes"] = facts->bytes;
    } else {
      entry["missing"] = true;
    }
    if (record.application) entry["application"] = *record.application;
    if (record.destination) entry["deliveredTo"] = *record.destination;
    if (record.message) entry["message"] = *record.message;
    if (record.deliveryStatus) entry["delivery"] = *record.deliveryStatus;
    list.push_back(std::move(entry));
  }
  const std::string summary = records.empty()
                                  ? "Lumacap has no captures yet."
                                  : std::to_string(list.size()) + " of " + std::to_string(records.size()) +
                                        " captures, newest first:\n";
  return {{"content", json::array({textContent(summary + (records.empty() ? "" : list.dump(1)))})}};
}

json McpServer::getCapture(const mcp::GetArguments& arguments) {
  const std::vector<CaptureRecord> records = readHistory(environment_.dataRoot);
  if (records.empty()) throw mcp::ToolError(mcp::ToolErrorKind::noCaptures);
  auto record = records.begin();
  if (arguments.id) {
    const std::string id = upper(*arguments.id);
    record = std::find_if(records.begin(), records.end(), [&](const CaptureRecord& r) { return r.id == id; });
    if (record == records.end()) throw mcp::ToolError(mcp::ToolErrorKind::unknownCapture);
  }
  std::string png;
  try {
    png = readOwnRegularFile(imageFile(environment_.dataRoot, *record), maximumCaptureSize);
  } catch (const std::exception& failure) {
    log(failure.what());
    throw mcp::ToolError(mcp::ToolErrorKind::unreadableImage);
  }
  const std::optional<PixelSize> size = PngImage::size(png);
  if (!size) throw mcp::ToolError(mcp::ToolErrorKind::unreadableImage);
  const PixelSize sent = fittedSize(*size, arguments.maxEdge);
  if (sent != *size) {
    png = PngImage::scaledDown(png, sent);
    if (png.empty()) throw mcp::ToolError(mcp::ToolErrorKind::unreadableImage);
  }
  const auto pixels = [](PixelSize s) { return std::to_string(s.width) + "×" + std::to_string(s.height); };
  std::string text = "Lumacap capture “" + displayName(*record) + "” (id " + record->id + "), taken " +
                     isoTime(record->createdAt) + ", " + pixels(*size) + " pixels";
  if (sent != *size) text += ", scaled down to " + pixels(sent);
  if (record->application) text += ", of " + *record->application;
  text += ".";
  imageData_ = mcp::base64(png);
  // No structuredContent: some clients drop the image when it is there.
  return {{"content", json::array({textContent(std::move(text)),
                                   {{"type", "image"}, {"data", ""}, {"mimeType", "image/png"}}})}};
}

json McpServer::requestCapture(const json& id, const mcp::RequestArguments& arguments) {
  if (pending_) throw mcp::ToolError(mcp::ToolErrorKind::busy);
  if (!environment_.requestCapture) throw mcp::ToolError(mcp::ToolErrorKind::noLumacap);
  const std::string folder = mcp::plainLine(environment_.folder, 200);
  std::unique_ptr<PendingCapture> capture =
      environment_.requestCapture({.agent = clientName_.empty() ? "A coding agent" : clientName_,
                                   .folder = folder,
                                   .reason = arguments.reason});
  if (!capture) throw mcp::ToolError(mcp::ToolErrorKind::noLumacap);
  pending_ = Pending{.id = id, .maxEdge = arguments.maxEdge, .capture = std::move(capture)};
  return nullptr;
}

std::optional<std::string> McpServer::settle() {
  if (!pending_) return std::nullopt;
  const auto outcome = pending_->capture->poll();
  if (!outcome) return std::nullopt;
  const Pending done = std::move(*pending_);
  pending_.reset();
  json result;
  try {
    if (const auto* kind = std::get_if<mcp::ToolErrorKind>(&*outcome)) throw mcp::ToolError(*kind);
    result = getCapture({.id = std::get<std::string>(*outcome), .maxEdge = done.maxEdge});
    result["content"][0]["text"] =
        "The user selected this for you. " + result["content"][0]["text"].get<std::string>();
  } catch (const mcp::ToolError& failure) {
    result = mcp::toolError(failure.what());
  }
  return serialize(mcp::resultResponse(done.id, std::move(result)));
}

void McpServer::serve(int input, int output) {
  mcp::LineReader reader;
  const auto send = [&](const std::string& response) {
    std::string line = response + "\n";
    for (size_t sent = 0; sent < line.size();) {
      const ssize_t written = ::write(output, line.data() + sent, line.size() - sent);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      sent += static_cast<size_t>(written);
    }
    return true;
  };
  const auto answerAll = [&](std::optional<mcp::LineReader::Line> (mcp::LineReader::*take)()) {
    while (std::optional<mcp::LineReader::Line> line = (reader.*take)()) {
      if (std::optional<std::string> response = answer(*line); response && !send(*response)) return false;
    }
    return true;
  };
  char buffer[65536];
  for (;;) {
    // While a capture is asked for, its answer is looked at now and then too.
    pollfd waits[2] = {{input, POLLIN, 0}, {pending_ ? pending_->capture->descriptor() : -1, POLLIN, 0}};
    if (::poll(waits, 2, pending_ ? 250 : -1) < 0 && errno != EINTR) break;
    if (std::optional<std::string> settled = settle(); settled && !send(*settled)) return;
    if (waits[0].revents == 0) continue;
    const ssize_t got = ::read(input, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    reader.feed(std::string_view(buffer, static_cast<size_t>(got)));
    if (!answerAll(&mcp::LineReader::next)) return;
  }
  answerAll(&mcp::LineReader::finish);
}

}  // namespace lumacap
