#include "app/cli/HookInstaller.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"
#include "core/Hashing.h"
#include "core/HookConfiguration.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

constexpr size_t maximumSettingsSize = 64u << 20;
constexpr int mergeAttempts = 5;

// One read-merge-write of the file; nothing is written (and nothing
// returned) when another program changed it in the meantime, or when a step
// fails (a backup made for it included).
std::optional<SettingsEdit> editOnce(const fs::path& settings, const fs::path& target,
                                     const SettingsMerge& merge) {
  std::optional<FileSnapshot> current;
  std::optional<std::string> updated;
  try {
    current = readRegularFile(target, maximumSettingsSize);
    updated = merge(current ? std::optional(current->bytes) : std::nullopt);
  } catch (const FileError& failure) {
    throw FileError(settings, failure.problem());
  }
  if (!updated) return SettingsEdit::unchanged;
  // The user's file keeps its permissions; a new one is private.
  PendingFile next(target, *updated, Durability::flushed, current ? current->permissions : 0600);
  std::optional<fs::path> backup;
  if (current) {
    backup = settings.parent_path() / (settings.stem().string() + ".lumacap-backup-" + randomUuidString() +
                                       settings.extension().string());
    writeNewPrivateFile(*backup, current->bytes);
  }
  bool replaced = false;
  try {
    replaced = next.replaceIfUnchanged(current ? std::optional(current->identity) : std::nullopt);
  } catch (...) {
    if (backup) ::unlink(backup->c_str());
    throw;
  }
  if (replaced) {
    next.syncFolder();
    return current ? SettingsEdit::writtenOverExisting : SettingsEdit::written;
  }
  // A backup of a version that another program has since replaced.
  if (backup) ::unlink(backup->c_str());
  return std::nullopt;
}

std::string messageFor(const CodingAgent& agent, bool install, SettingsEdit edit,
                       const std::optional<fs::path>& folder) {
  const std::string name(agent.name);
  if (!install) return "Lumacap hooks removed. Restart " + name + " sessions to apply.";
  if (edit == SettingsEdit::unchanged) return "Hooks are already installed.";
  std::string message =
      agent.reviewHint.empty()
          ? "Hooks installed. Restart your " + name + " sessions to apply."
          : "Hooks installed. " + std::string(agent.reviewHint) + ", then restart your sessions.";
  if (folder) {
    message += " " + name + " may now read Lumacap’s captures in " + folder->string() + " (added to " +
               std::string(agent.readableFoldersKey) + ").";
  }
  return edit == SettingsEdit::writtenOverExisting
             ? message + " Existing settings were preserved and backed up."
             : message;
}

std::optional<std::string> folderText(const std::optional<fs::path>& folder) {
  return folder ? std::optional(folder->string()) : std::nullopt;
}

}  // namespace

fs::path HookInstaller::hooksFile() const { return agentFile(agent_, agent_.hooksFile, false); }

std::optional<fs::path> HookInstaller::readableFolder() const {
  if (agent_.readableFoldersKey.empty()) return std::nullopt;
  return dataRoot() / "Captures";
}

bool HookInstaller::installed(const fs::path& executable) const {
  const fs::path settings = hooksFile();
  try {
    const std::optional<FileSnapshot> current = readRegularFile(settings, maximumSettingsSize);
    return current && !HookConfiguration::merging(current->bytes, executable, true, agent_,
                                                  folderText(readableFolder()));
  } catch (const FileError& failure) {
    throw FileError(settings, failure.problem());
  }
}

HookStatus HookInstaller::status(const fs::path& executable) const {
  HookStatus status;
  try {
    status.settingsFile = hooksFile();
    status.installed = installed(executable);
  } catch (const std::exception&) {
  }
  return status;
}

SettingsEdit editSettingsFile(const fs::path& settings, const SettingsMerge& merge) {
  const fs::path folder = settings.parent_path();
  createPrivateDirectories(folder);
  // Serialises this program's edits of one file: an advisory lock on the
  // folder that holds it, which outlives every edit, so no lock file is left
  // behind. Other programs do not take it; the check before the rename
  // protects their edits.
  const FileDescriptor lock = lockExclusively(folder, settings);
  const fs::path target = resolveLinks(settings);
  for (int attempt = 0; attempt < mergeAttempts; ++attempt) {
    if (const std::optional<SettingsEdit> edit = editOnce(settings, target, merge)) return *edit;
  }
  throw FileError(settings, "another program kept changing it while Lumacap edited it; nothing was written");
}

fs::path agentFile(const CodingAgent& agent, std::string_view file, bool inHome) {
  const std::string variable(agent.configVariable);
  const char* configured = variable.empty() ? nullptr : std::getenv(variable.c_str());
  if (!configured || !*configured)
    return inHome ? homeDirectory() / file : homeDirectory() / agent.configFolder / file;
  // A relative folder would depend on where this runs.
  if (*configured != '/') {
    throw std::runtime_error(variable + " must name a folder by its absolute path, not “" + configured +
                             "”.");
  }
  const fs::path folder =
      agent.homeVariable ? fs::path(configured) / agent.configFolder : fs::path(configured);
  return folder / file;
}

std::string HookInstaller::configure(bool install, const fs::path& executable) const {
  const fs::path settings = hooksFile();
  std::error_code error;
  if (!install && !fs::exists(settings.parent_path(), error))
    return messageFor(agent_, false, SettingsEdit::unchanged, {});
  const std::optional<fs::path> readable = readableFolder();
  // The agent is told to read a folder that exists, made private as Lumacap makes it.
  if (install && readable) createPrivateDirectories(*readable);
  const std::optional<std::string> folder = folderText(readable);
  const SettingsEdit edit = editSettingsFile(settings, [&](const std::optional<std::string>& current) {
    return HookConfiguration::merging(current, executable, install, agent_, folder);
  });
  return messageFor(agent_, install, edit, readable);
}

}  // namespace lumacap
