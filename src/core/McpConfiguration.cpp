#include "core/McpConfiguration.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "core/AtomicFile.h"
#include "core/HookConfiguration.h"
#include "core/Unicode.h"

namespace lumacap {
namespace {

using McpJson = nlohmann::ordered_json;
using KeyPath = std::vector<std::string>;

McpJson jsonEntry(const std::string& executable, McpEntryStyle style) {
  const McpJson arguments = McpJson::array({"mcp"});
  switch (style) {
    case McpEntryStyle::claude:
      return {{"type", "stdio"}, {"command", executable}, {"args", arguments}, {"env", McpJson::object()}};
    case McpEntryStyle::copilot:
      return {{"type", "local"}, {"command", executable}, {"args", arguments}, {"tools", {"*"}}};
    case McpEntryStyle::gemini:
    case McpEntryStyle::codex:
      break;
  }
  return {{"command", executable}, {"args", arguments}};
}

std::optional<std::string> mergingJson(const std::optional<std::string>& existing,
                                       const std::string& executable, bool install,
                                       const CodingAgent& agent) {
  const std::string file(agent.mcpFile);
  McpJson settings;
  try {
    settings = existing ? HookConfiguration::parse(*existing) : McpJson::object();
  } catch (const FileError& error) {
    throw FileError(file, error.problem());
  }
  if (!settings.is_object()) throw FileError(file, "the top level must be an object");
  const auto servers = settings.find("mcpServers");
  if (servers != settings.end() && !servers->is_object())
    throw FileError(file, "\"mcpServers\" must be an object");
  const std::string name(McpConfiguration::serverName);
  const bool present = servers != settings.end() && servers->contains(name);
  if (install) {
    McpJson entry = jsonEntry(executable, agent.mcpStyle);
    if (present && (*servers)[name] == entry) return std::nullopt;
    settings["mcpServers"][name] = std::move(entry);
  } else {
    if (!present) return std::nullopt;
    servers->erase(name);
    if (servers->empty()) settings.erase("mcpServers");
  }
  return HookConfiguration::serialise(settings);
}

// A statement of a TOML file: a table header or a key's assignment (which
// may run over several lines), from the start of its first line to the end
// of its last, or a line holding only space and a comment.
struct TomlStatement {
  size_t begin = 0;
  size_t end = 0;  // after its newline
  enum class Kind { blank, table, arrayTable, key } kind = Kind::blank;
  KeyPath path;  // the table's, or the key's (within its table)
};

bool startsAt(std::string_view text, size_t at, std::string_view what) {
  return text.substr(at, what.size()) == what;
}

bool isBareKeyCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Reads TOML well enough to find its tables and keys and where they end:
// strings of the four kinds, comments, and arrays and inline tables over
// several lines. A file this cannot read is refused, never guessed at.
class TomlScanner {
 public:
  TomlScanner(std::string_view text, std::string file) : text_(text), file_(std::move(file)) {}

  std::vector<TomlStatement> statements() {
    std::vector<TomlStatement> found;
    while (at_ < text_.size()) {
      TomlStatement statement;
      statement.begin = at_;
      skipSpace();
      if (at_ >= text_.size() || text_[at_] == '\n' || text_[at_] == '#' || text_[at_] == '\r') {
        skipComment();
      } else if (text_[at_] == '[') {
        const bool array = startsAt(text_, at_, "[[");
        at_ += array ? 2 : 1;
        statement.kind = array ? TomlStatement::Kind::arrayTable : TomlStatement::Kind::table;
        statement.path = key(array ? "]]" : "]");
        at_ += array ? 2 : 1;
        skipSpace();
        skipComment();
      } else {
        statement.kind = TomlStatement::Kind::key;
        statement.path = key("=");
        ++at_;
        value();
      }
      endLine();
      statement.end = at_;
      found.push_back(std::move(statement));
    }
    return found;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < at_ && i < text_.size(); ++i) line += text_[i] == '\n';
    throw FileError(file_, "not valid TOML: " + what + " on line " + std::to_string(line));
  }

  void skipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  void skipComment() {
    if (at_ < text_.size() && text_[at_] == '#') {
      while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    }
  }
  // Only space and a comment may follow on the line.
  void endLine() {
    skipSpace();
    skipComment();
    if (at_ < text_.size() && text_[at_] == '\r') ++at_;
    if (at_ < text_.size() && text_[at_] != '\n') fail("unexpected text");
    if (at_ < text_.size()) ++at_;
  }

  // A dotted key up to `end`, which is left unread.
  KeyPath key(std::string_view end) {
    KeyPath path;
    for (;;) {
      skipSpace();
      std::string part;
      if (at_ < text_.size() && (text_[at_] == '"' || text_[at_] == '\'')) {
        const char quote = text_[at_++];
        for (; at_ < text_.size() && text_[at_] != quote && text_[at_] != '\n'; ++at_) {
          if (quote == '"' && text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
          part += text_[at_];
        }
        if (at_ >= text_.size() || text_[at_] != quote) fail("an unterminated key");
        ++at_;
      } else {
        while (at_ < text_.size() && isBareKeyCharacter(text_[at_])) part += text_[at_++];
        if (part.empty()) fail("a missing key");
      }
      path.push_back(std::move(part));
      skipSpace();
      if (at_ < text_.size() && text_[at_] == '.') {
        ++at_;
        continue;
      }
      if (!startsAt(text_, at_, end)) fail("a key without “" + std::string(end) + "”");
      return path;
    }
  }

  // A value, up to the end of its line at the outermost level.
  void value() {
    int depth = 0;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n' && depth == 0) return;
      if (startsAt(text_, at_, "\"\"\"") || startsAt(text_, at_, "'''")) {
        const std::string_view delimiter = text_.substr(at_, 3);
        for (at_ += 3; !startsAt(text_, at_, delimiter); ++at_) {
          if (at_ >= text_.size()) fail("an unterminated string");
          if (delimiter[0] == '"' && text_[at_] == '\\') ++at_;
        }
        at_ += 3;
        // A closing delimiter may be followed by one or two more quotes of the string's own.
        while (at_ < text_.size() && text_[at_] == delimiter[0]) ++at_;
        continue;
      }
      if (c == '"' || c == '\'') {
        for (++at_; at_ < text_.size() && text_[at_] != c; ++at_) {
          if (text_[at_] == '\n') fail("a string running over its line");
          if (c == '"' && text_[at_] == '\\') ++at_;
        }
        if (at_ >= text_.size()) fail("an unterminated string");
        ++at_;
        continue;
      }
      if (c == '#') {
        skipComment();
        continue;
      }
      if (c == '[' || c == '{') ++depth;
      if ((c == ']' || c == '}') && --depth < 0) fail("an unopened bracket");
      ++at_;
    }
    if (depth > 0) fail("an unclosed bracket");
  }

  std::string_view text_;
  std::string file_;
  size_t at_ = 0;
};

bool hasPrefix(const KeyPath& path, const KeyPath& prefix) {
  return path.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

// A TOML basic string.
std::string tomlString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      static constexpr char hex[] = "0123456789ABCDEF";
      quoted += "\\u00";
      quoted += hex[(c >> 4) & 0xf];
      quoted += hex[c & 0xf];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::optional<std::string> mergingToml(const std::optional<std::string>& existing,
                                       const std::string& executable, bool install,
                                       const CodingAgent& agent) {
  const std::string file(agent.mcpFile);
  const std::string text = existing.value_or("");
  if (text.find('\0') != std::string::npos) throw FileError(file, "not valid TOML: a NUL byte");
  if (!unicode::isValidUtf8(text)) throw FileError(file, "not valid TOML: not UTF-8 text");
  const std::vector<TomlStatement> statements = TomlScanner(text, file).statements();
  const KeyPath own = {"mcp_servers", std::string(McpConfiguration::serverName)};
  // The byte ranges of the server's table and of its sub-tables, each from
  // its header to its last key.
  struct Block {
    size_t begin, end;
    bool own;  // the server's table, not a sub-table
  };
  std::vector<Block> blocks;
  KeyPath table;
  bool inOwn = false;
  for (const TomlStatement& statement : statements) {
    using Kind = TomlStatement::Kind;
    if (statement.kind == Kind::table || statement.kind == Kind::arrayTable) {
      table = statement.path;
      inOwn = statement.kind == Kind::table && hasPrefix(table, own);
      if (statement.kind == Kind::arrayTable && hasPrefix(table, own))
        throw FileError(file, "[[mcp_servers.lumacap]] is an array of tables, which Lumacap does not edit");
      if (inOwn) blocks.push_back({statement.begin, statement.end, table == own});
    } else if (statement.kind == Kind::key) {
      KeyPath path = table;
      path.insert(path.end(), statement.path.begin(), statement.path.end());
      if (inOwn) {
        blocks.back().end = statement.end;
      } else if (hasPrefix(path, own) || path == KeyPath{"mcp_servers"}) {
        throw FileError(file,
                        "the MCP server “lumacap” is defined by dotted keys or an inline table, which "
                        "Lumacap does not edit; change it by hand");
      }
    }
  }
  if (std::count_if(blocks.begin(), blocks.end(), [](const Block& block) { return block.own; }) > 1)
    throw FileError(file, "not valid TOML: [mcp_servers.lumacap] is defined twice");
  const std::string entry =
      "[mcp_servers.lumacap]\ncommand = " + tomlString(executable) + "\nargs = [\"mcp\"]\n";
  if (install) {
    for (const Block& block : blocks) {
      if (!block.own) continue;
      if (text.compare(block.begin, block.end - block.begin, entry) == 0) return std::nullopt;
      return text.substr(0, block.begin) + entry + text.substr(block.end);
    }
    if (text.empty()) return entry;
    return text + (text.ends_with('\n') ? "\n" : "\n\n") + entry;
  }
  if (blocks.empty()) return std::nullopt;
  // Taken out from the last, each with the blank line before it.
  std::string result = text;
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
    size_t begin = block->begin;
    if (begin >= 2 && result[begin - 1] == '\n' && result[begin - 2] == '\n') --begin;
    result.erase(begin, block->end - begin);
  }
  return result;
}

}  // namespace

std::optional<std::string> McpConfiguration::merging(const std::optional<std::string>& existing,
                                                     const std::string& executable, bool install,
                                                     const CodingAgent& agent) {
  if (!unicode::isValidUtf8(executable)) throw HookCommandError();
  if (agent.mcpStyle == McpEntryStyle::codex) return mergingToml(existing, executable, install, agent);
  return mergingJson(existing, executable, install, agent);
}

}  // namespace lumacap
