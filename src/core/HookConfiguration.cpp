#include "core/HookConfiguration.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Unicode.h"

namespace lumacap {
namespace {

using OrderedJson = nlohmann::ordered_json;

// nlohmann's messages start with "[json.exception.parse_error.101] "; the
// user needs only what follows.
std::string withoutExceptionTag(const std::string& message) {
  if (message.starts_with("[json.exception.")) {
    if (const size_t end = message.find("] "); end != std::string::npos) return message.substr(end + 2);
  }
  return message;
}

// Builds the value like nlohmann's own DOM parser, except that every number
// that is not a 64-bit integer keeps its text (see HookConfiguration::parse).
// Nesting is tracked with an explicit stack, so deep input cannot overflow the
// call stack here.
class TextPreservingBuilder : public nlohmann::json_sax<OrderedJson> {
 public:
  TextPreservingBuilder(OrderedJson& root, std::vector<bool> negativeZeros)
      : root_(root), negativeZeros_(std::move(negativeZeros)) {}

  bool null() override { return add(OrderedJson(nullptr)); }
  bool boolean(bool value) override { return add(OrderedJson(value)); }
  bool number_integer(number_integer_t value) override {
    if (isNegativeZero(numbers_++)) return add(textOf("-0"));
    return add(OrderedJson(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    ++numbers_;
    return add(OrderedJson(value));
  }
  bool number_float(number_float_t, const string_t& text) override {
    ++numbers_;
    return add(textOf(text));
  }
  bool string(string_t& value) override { return add(OrderedJson(std::move(value))); }
  bool binary(binary_t& value) override { return add(OrderedJson::binary(std::move(value))); }
  bool start_object(std::size_t) override { return open(OrderedJson::object()); }
  bool key(string_t& key) override {
    // An ordered object finds a key by looking at every key before it: the
    // keys seen are indexed here instead, the last occurrence counting.
    auto& members = open_.back()->get_ref<OrderedJson::object_t&>();
    const auto [seen, added] = keys_.back().try_emplace(key, members.size());
    if (added) members.emplace_back(key, nullptr);
    member_ = &(members.begin() + static_cast<std::ptrdiff_t>(seen->second))->second;
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(OrderedJson::array()); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    error_ = withoutExceptionTag(error.what());
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  OrderedJson* place(OrderedJson value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    if (open_.back()->is_array()) {
      open_.back()->push_back(std::move(value));
      return &open_.back()->back();
    }
    *member_ = std::move(value);
    return member_;
  }
  bool add(OrderedJson value) {
    place(std::move(value));
    return true;
  }
  bool open(OrderedJson container) {
    if (open_.size() >= HookConfiguration::maximumDepth) {
      error_ =
          "values are nested more than " + std::to_string(HookConfiguration::maximumDepth) + " levels deep";
      return false;
    }
    open_.push_back(place(std::move(container)));
    keys_.emplace_back();
    return true;
  }
  bool close() {
    open_.pop_back();
    keys_.pop_back();
    return true;
  }

  static OrderedJson textOf(std::string_view text) {
    return OrderedJson::binary(OrderedJson::binary_t::container_type(text.begin(), text.end()));
  }
  bool isNegativeZero(size_t number) const {
    return number < negativeZeros_.size() && negativeZeros_[number];
  }

  OrderedJson& root_;
  std::vector<bool> negativeZeros_;
  size_t numbers_ = 0;
  std::vector<OrderedJson*> open_;
  std::vector<std::unordered_map<std::string, size_t>> keys_;  // of each open object
  OrderedJson* member_ = nullptr;
  std::string error_;
};

// For each number of the text in order, whether it is written -0: the parser
// reads it as the integer 0, and the text must come back digit for digit.
std::vector<bool> negativeZeros(std::string_view bytes) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto inNumber = [&](char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
  };
  std::vector<bool> found;
  bool inString = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '-' || isDigit(c)) {
      size_t end = i;
      while (end < bytes.size() && inNumber(bytes[end])) ++end;
      found.push_back(bytes.substr(i, end - i) == "-0");
      i = end - 1;
    }
  }
  return found;
}

void writeIndent(std::string& out, size_t depth) { out.append(2 * depth, ' '); }

void write(const OrderedJson& value, std::string& out, size_t depth) {
  switch (value.type()) {
    case OrderedJson::value_t::object: {
      if (value.empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      bool first = true;
      for (const auto& [key, member] : value.get_ref<const OrderedJson::object_t&>()) {
        if (!first) out += ",\n";
        first = false;
        writeIndent(out, depth + 1);
        out += OrderedJson(key).dump();
        out += ": ";
        write(member, out, depth + 1);
      }
      out += '\n';
      writeIndent(out, depth);
      out += '}';
      return;
    }
    case OrderedJson::value_t::array: {
      if (value.empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      bool first = true;
      for (const OrderedJson& element : value) {
        if (!first) out += ",\n";
        first = false;
        writeIndent(out, depth + 1);
        write(element, out, depth + 1);
      }
      out += '\n';
      writeIndent(out, depth);
      out += ']';
      return;
    }
    case OrderedJson::value_t::binary: {
      const auto& text = value.get_binary();
      out.append(text.begin(), text.end());
      return;
    }
    default:
      out += value.dump();
  }
}

bool isArrayOfObjects(const OrderedJson& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const OrderedJson& e) { return e.is_object(); });
}

bool belongsToProgram(const OrderedJson& hook, const std::string& key, const std::string& command) {
  const auto found = hook.find(key);
  return found != hook.end() && found->is_string() && found->get_ref<const std::string&>() == command;
}

// The one entry an install adds to an event, in the agent's shape.
OrderedJson ownEntry(const CodingAgent& agent, const std::string& command) {
  switch (agent.shape) {
    case HookShape::copilot:
      return OrderedJson{{"type", "command"}, {"bash", command}, {"timeoutSec", agent.timeout}};
    case HookShape::gemini:
      return OrderedJson{{"matcher", "*"},
                         {"hooks", OrderedJson::array({OrderedJson{{"type", "command"},
                                                                   {"command", command},
                                                                   {"name", "lumacap"},
                                                                   {"timeout", agent.timeout}}})}};
    case HookShape::claude:
      break;
  }
  return OrderedJson{{"hooks", OrderedJson::array({OrderedJson{
                                   {"type", "command"}, {"command", command}, {"timeout", agent.timeout}}})}};
}

// One event's entries with this program's hooks taken out; entries left with
// no hooks by that are dropped. Copilot's entries are the hooks themselves.
OrderedJson withoutOwnHooks(OrderedJson entries, const CodingAgent& agent, const std::string& command) {
  OrderedJson kept = OrderedJson::array();
  for (OrderedJson& entry : entries) {
    if (agent.shape == HookShape::copilot) {
      if (!belongsToProgram(entry, "bash", command)) kept.push_back(std::move(entry));
      continue;
    }
    const auto hooks = entry.find("hooks");
    if (hooks == entry.end() || !isArrayOfObjects(*hooks)) {
      kept.push_back(std::move(entry));
      continue;
    }
    OrderedJson remaining = OrderedJson::array();
    for (OrderedJson& hook : *hooks) {
      if (!belongsToProgram(hook, "command", command)) remaining.push_back(std::move(hook));
    }
    if (remaining.empty() && !hooks->empty()) continue;
    *hooks = std::move(remaining);
    kept.push_back(std::move(entry));
  }
  return kept;
}

// Adds `folder` to (or takes it out of) the list at the dotted `key`; a list
// or object that a removal leaves empty is taken out. Whether it changed.
bool editFolderList(OrderedJson& settings, std::string_view key, const std::string& folder, bool install,
                    const std::function<FileError(const std::string&)>& wrongShape) {
  const size_t dot = key.find('.');
  const std::string outer(key.substr(0, dot));
  const std::string inner(key.substr(dot + 1));
  const auto section = settings.find(outer);
  if (section == settings.end() && !install) return false;
  if (section != settings.end() && !section->is_object())
    throw wrongShape("\"" + outer + "\" must be an object");
  OrderedJson object = section == settings.end() ? OrderedJson::object() : *section;
  const auto list = object.find(inner);
  if (list != object.end() && !list->is_array())
    throw wrongShape("\"" + outer + "\" → \"" + inner + "\" must be an array");
  OrderedJson folders = list == object.end() ? OrderedJson::array() : *list;
  const auto present = std::find(folders.begin(), folders.end(), OrderedJson(folder));
  if (install == (present != folders.end())) return false;
  if (install) {
    folders.push_back(folder);
  } else {
    folders.erase(present);
  }
  if (folders.empty()) {
    object.erase(inner);
  } else {
    object[inner] = std::move(folders);
  }
  if (object.empty()) {
    settings.erase(outer);
  } else {
    settings[outer] = std::move(object);
  }
  return true;
}

}  // namespace

HookCommandError::HookCommandError()
    : std::runtime_error(
          "Lumacap’s path is not valid UTF-8 text, so it cannot be written into Claude Code’s settings.") {}

std::string HookConfiguration::hookCommand(const std::filesystem::path& executable) {
  return CodingAgent::claude().hookCommand(executable.native(), {});
}

OrderedJson HookConfiguration::parse(std::string_view bytes) {
  // The parser takes a NUL byte for the end of the text.
  if (const size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
    throw FileError("settings.json", "not valid JSON: a NUL byte at byte " + std::to_string(nul + 1));
  }
  OrderedJson root;
  TextPreservingBuilder builder(root, negativeZeros(bytes));
  if (!OrderedJson::sax_parse(bytes, &builder))
    throw FileError("settings.json", "not valid JSON: " + builder.error());
  return root;
}

std::string HookConfiguration::serialise(const OrderedJson& value) {
  std::string out;
  write(value, out, 0);
  out += '\n';
  return out;
}

std::optional<std::string> HookConfiguration::merging(const std::optional<std::string>& existing,
                                                      const std::filesystem::path& executable, bool install) {
  return merging(existing, executable, install, CodingAgent::claude());
}

std::optional<std::string> HookConfiguration::merging(const std::optional<std::string>& existing,
                                                      const std::filesystem::path& executable, bool install,
                                                      const CodingAgent& agent,
                                                      const std::optional<std::string>& readableFolder) {
  if (!unicode::isValidUtf8(executable.native())) throw HookCommandError();
  const std::string file(agent.hooksFile);
  OrderedJson settings;
  try {
    settings = existing ? parse(*existing) : OrderedJson::object();
  } catch (const FileError& error) {
    throw FileError(file, error.problem());
  }
  const std::function<FileError(const std::string&)> wrongShape = [&file](const std::string& problem) {
    return FileError(file, problem);
  };
  if (!settings.is_object()) throw wrongShape("the top level must be an object");
  if (const auto found = settings.find("hooks"); found != settings.end() && !found->is_object()) {
    throw wrongShape("\"hooks\" must be an object");
  }
  OrderedJson hooks = settings.value("hooks", OrderedJson::object());

  bool changed = false;
  for (const auto& [name, role] : agent.events) {
    const std::string event(name);
    const std::string command = agent.hookCommand(executable.native(), name);
    const auto found = hooks.find(event);
    if (found == hooks.end() && !install) continue;
    OrderedJson entries = found == hooks.end() ? OrderedJson::array() : *found;
    if (!isArrayOfObjects(entries))
      throw wrongShape("\"hooks\" → \"" + event + "\" must be an array of objects");
    OrderedJson updated = withoutOwnHooks(entries, agent, command);
    if (install) updated.push_back(ownEntry(agent, command));
    if (found != hooks.end() && updated == entries) continue;
    changed = true;
    if (updated.empty() && !entries.empty()) {
      hooks.erase(event);  // emptied by this removal
    } else {
      hooks[event] = std::move(updated);
    }
  }
  if (changed) {
    if (hooks.empty()) {
      settings.erase("hooks");
    } else {
      settings["hooks"] = std::move(hooks);
    }
  }
  if (readableFolder && !agent.readableFoldersKey.empty() &&
      editFolderList(settings, agent.readableFoldersKey, *readableFolder, install, wrongShape)) {
    changed = true;
  }
  if (!changed) return std::nullopt;
  return serialise(settings);
}

}  // namespace lumacap
