#include "core/CompositorWindows.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

namespace lumacap {
namespace {

using nlohmann::json;

std::string stringField(const json& node, const char* name) {
  const auto found = node.find(name);
  return found != node.end() && found->is_string() ? found->get<std::string>() : std::string();
}

double numberField(const json& node, const char* name) {
  const auto found = node.find(name);
  return found != node.end() && found->is_number() ? found->get<double>() : 0;
}

bool flagField(const json& node, const char* name, bool otherwise) {
  const auto found = node.find(name);
  return found != node.end() && found->is_boolean() ? found->get<bool>() : otherwise;
}

json parsed(const std::string& text, const char* what) {
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) throw std::runtime_error(std::string(what) + " is not JSON.");
  return document;
}

CompositorWindow kwinWindow(const json& entry) {
  if (!entry.is_object() || stringField(entry, "id").empty())
    throw std::runtime_error("KWin's window list holds an entry without an id.");
  return CompositorWindow{
      stringField(entry, "id"),
      static_cast<int32_t>(numberField(entry, "pid")),
      stringField(entry, "resourceClass"),
      stringField(entry, "caption"),
      Rect{numberField(entry, "x"), numberField(entry, "y"), numberField(entry, "width"),
           numberField(entry, "height")},
      flagField(entry, "active", false),
      !flagField(entry, "minimized", false),
  };
}

// A view's content: sway gives the container's rect and, relative to it,
// the window's own (without border and title bar).
Rect swayContentFrame(const json& node) {
  const json& rect = node.value("rect", json::object());
  const json& window = node.value("window_rect", json::object());
  return Rect{numberField(rect, "x") + numberField(window, "x"),
              numberField(rect, "y") + numberField(window, "y"), numberField(window, "width"),
              numberField(window, "height")};
}

// The app_id of a Wayland view, the X11 class of an Xwayland one.
std::string swayAppClass(const json& node) {
  std::string appID = stringField(node, "app_id");
  if (!appID.empty()) return appID;
  return stringField(node.value("window_properties", json::object()), "class");
}

// Children in the order they were last focused, most recent first: the
// parent's "focus" array lists their ids that way.
std::vector<const json*> byFocus(const json& parent, const char* list) {
  std::vector<const json*> children;
  const auto found = parent.find(list);
  if (found == parent.end() || !found->is_array()) return children;
  for (const json& child : *found) children.push_back(&child);
  std::vector<int64_t> focus;
  if (const auto order = parent.find("focus"); order != parent.end() && order->is_array()) {
    for (const json& id : *order)
      if (id.is_number_integer()) focus.push_back(id.get<int64_t>());
  }
  const auto rank = [&focus](const json* child) {
    const int64_t id = child->value("id", int64_t(-1));
    return std::find(focus.begin(), focus.end(), id) - focus.begin();
  };
  std::stable_sort(children.begin(), children.end(),
                   [&rank](const json* a, const json* b) { return rank(a) < rank(b); });
  return children;
}

void collectSwayViews(const json& node, std::vector<CompositorWindow>& windows) {
  if (!node.is_object()) throw std::runtime_error("sway's window tree holds a node that is not an object.");
  if (const auto pid = node.find("pid"); pid != node.end() && pid->is_number_integer()) {
    windows.push_back(CompositorWindow{
        std::to_string(node.value("id", int64_t(0))),
        pid->get<int32_t>(),
        swayAppClass(node),
        stringField(node, "name"),
        swayContentFrame(node),
        flagField(node, "focused", false),
        flagField(node, "visible", true),
    });
  }
  // Floating windows lie above the tiled ones of their workspace.
  for (const char* list : {"floating_nodes", "nodes"})
    for (const json* child : byFocus(node, list)) collectSwayViews(*child, windows);
}

json hyprlandList(const std::string& text, const char* what) {
  const json document = parsed(text, what);
  if (!document.is_array()) throw std::runtime_error(std::string(what) + " is not a list.");
  return document;
}

int64_t integerField(const json& node, const char* name, int64_t otherwise) {
  const auto found = node.find(name);
  return found != node.end() && found->is_number_integer() ? found->get<int64_t>() : otherwise;
}

// The workspaces Hyprland's monitors show: each one's active workspace and,
// when open, its special one (id 0 when closed).
std::set<int64_t> shownHyprlandWorkspaces(const json& monitors) {
  std::set<int64_t> shown;
  for (const json& monitor : monitors) {
    if (!monitor.is_object())
      throw std::runtime_error("Hyprland's monitor list holds an entry that is not an object.");
    for (const char* workspace : {"activeWorkspace", "specialWorkspace"}) {
      const int64_t id = integerField(monitor.value(workspace, json::object()), "id", 0);
      if (id != 0) shown.insert(id);
    }
  }
  return shown;
}

// A point pair such as Hyprland's "at" and "size" ([x, y], [width, height]).
std::pair<double, double> hyprlandPair(const json& client, const char* name) {
  const auto found = client.find(name);
  if (found == client.end() || !found->is_array() || found->size() != 2 || !(*found)[0].is_number() ||
      !(*found)[1].is_number())
    return {0, 0};
  return {(*found)[0].get<double>(), (*found)[1].get<double>()};
}

CompositorWindow hyprlandWindow(const json& client, const std::set<int64_t>& shownWorkspaces) {
  if (!client.is_object() || stringField(client, "address").empty())
    throw std::runtime_error("Hyprland's client list holds an entry without an address.");
  const auto [x, y] = hyprlandPair(client, "at");
  const auto [width, height] = hyprlandPair(client, "size");
  const int64_t workspace = integerField(client.value("workspace", json::object()), "id", 0);
  const bool visible = flagField(client, "mapped", false) && !flagField(client, "hidden", false) &&
                       shownWorkspaces.contains(workspace);
  return CompositorWindow{
      stringField(client, "address"),
      static_cast<int32_t>(integerField(client, "pid", 0)),
      stringField(client, "class"),
      stringField(client, "title"),
      Rect{x, y, width, height},
      visible && integerField(client, "focusHistoryID", -1) == 0,
      visible,
  };
}

}  // namespace

std::vector<CompositorWindow> parseKWinWindowList(const std::string& text) {
  const json document = parsed(text, "KWin's window list");
  if (!document.is_array()) throw std::runtime_error("KWin's window list is not a list.");
  std::vector<CompositorWindow> windows;
  for (auto entry = document.rbegin(); entry != document.rend(); ++entry)
    windows.push_back(kwinWindow(*entry));
  return windows;
}

std::vector<CompositorWindow> parseSwayTree(const std::string& text) {
  const json document = parsed(text, "sway's window tree");
  std::vector<CompositorWindow> windows;
  collectSwayViews(document, windows);
  return windows;
}

bool swayCommandSucceeded(const std::string& text) {
  const json document = json::parse(text, nullptr, false);
  if (!document.is_array() || document.empty()) return false;
  return std::all_of(document.begin(), document.end(), [](const json& result) {
    return result.is_object() && flagField(result, "success", false);
  });
}

std::vector<CompositorWindow> parseHyprlandClients(const std::string& clientsJson,
                                                   const std::string& monitorsJson) {
  const json clients = hyprlandList(clientsJson, "Hyprland's client list");
  const std::set<int64_t> shown =
      shownHyprlandWorkspaces(hyprlandList(monitorsJson, "Hyprland's monitor list"));
  std::vector<std::pair<int64_t, CompositorWindow>> ranked;
  for (const json& client : clients) {
    CompositorWindow window = hyprlandWindow(client, shown);
    const int64_t rank = integerField(client, "focusHistoryID", -1);
    ranked.emplace_back(rank < 0 ? std::numeric_limits<int64_t>::max() : rank, std::move(window));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CompositorWindow> windows;
  for (auto& [rank, window] : ranked) windows.push_back(std::move(window));
  return windows;
}

std::optional<std::string> focusedOutputName(const std::string& outputsJson) {
  const json monitors = json::parse(outputsJson, nullptr, false);
  if (!monitors.is_array()) return std::nullopt;
  for (const json& monitor : monitors)
    if (monitor.is_object() && flagField(monitor, "focused", false) && !stringField(monitor, "name").empty())
      return stringField(monitor, "name");
  return std::nullopt;
}

}  // namespace lumacap
