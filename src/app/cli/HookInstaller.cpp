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

enum class Edit { written, writtenOverExisting, unchanged, changedMeanwhile };

// One read-merge-write of the file; nothing is written when another program
// changed it in the meantime, or when a step fails (a backup made for it
// included).
Edit editOnce(const CodingAgent& agent, const fs::path& settings, const fs::path& target, bool install,
              const fs::path& executable, const std::optional<std::string>& folder) {
  std::optional<FileSnapshot> current;
  std::optional<std::string> updated;
  try {
    current = readRegularFile(target, maximumSettingsSize);
    updated = HookConfiguration::merging(current ? std::optional(current->bytes) : std::nullopt, executable,
                                         install, agent, folder);
  } catch (const FileError& failure) {
    throw FileError(settings, failure.problem());
  }
  if (!updated) return Edit::unchanged;
  // The user's file keeps its permissions; a new one is private.
  PendingFile next(target, *updated, Durability::flushed, current ? current->permissions : 0600);
  std::optional<fs::path> backup;
  if (current) {
    backup = settings.parent_path() /
             (settings.stem().string() + ".lumacap-backup-" + randomUuidString() + ".json");
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
    return current ? Edit::writtenOverExisting : Edit::written;
  }
  // A backup of a version that another program has since replaced.
  if (backup) ::unlink(backup->c_str());
  return Edit::changedMeanwhile;
}

std::string messageFor(const CodingAgent& agent, bool install, Edit edit,
                       const std::optional<fs::path>& folder) {
  const std::string name(agent.name);
  if (!install) return "Lumacap hooks removed. Restart " + name + " sessions to apply.";
  if (edit == Edit::unchanged) return "Hooks are already installed.";
  std::string message =
      agent.reviewHint.empty()
          ? "Hooks installed. Restart your " + name + " sessions to apply."
          : "Hooks installed. " + std::string(agent.reviewHint) + ", then restart your sessions.";
  if (folder) {
    message += " " + name + " may now read Lumacap’s captures in " + folder->string() + " (added to " +
               std::string(agent.readableFoldersKey) + ").";
  }
  return edit == Edit::writtenOverExisting ? message + " Existing settings were preserved and backed up."
                                           : message;
}

std::optional<std::string> folderText(const std::optional<fs::path>& folder) {
  return folder ? std::optional(folder->string()) : std::nullopt;
}

}  // namespace

fs::path HookInstaller::hooksFile() const {
  const std::string variable(agent_.configVariable);
  const char* configured = variable.empty() ? nullptr : std::getenv(variable.c_str());
  if (!configured || !*configured) return homeDirectory() / agent_.configFolder / agent_.hooksFile;
  // A relative folder would depend on where this runs.
  if (*configured != '/') {
    throw std::runtime_error(variable + " must name a folder by its absolute path, not “" + configured +
                             "”.");
  }
  const fs::path folder =
      agent_.homeVariable ? fs::path(configured) / agent_.configFolder : fs::path(configured);
  return folder / agent_.hooksFile;
}

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

std::string HookInstaller::configure(bool install, const fs::path& executable) const {
  const fs::path settings = hooksFile();
  const fs::path folder = settings.parent_path();
  std::error_code error;
  if (!install && !fs::exists(folder, error)) return messageFor(agent_, false, Edit::unchanged, {});
  const std::optional<fs::path> readable = readableFolder();
  // The agent is told to read a folder that exists, made private as Lumacap makes it.
  if (install && readable) createPrivateDirectories(*readable);
  createPrivateDirectories(folder);
  // Serialises this program's edits of one file: an advisory lock on the
  // folder that holds it, which outlives every edit, so no lock file is left
  // behind. Other programs do not take it; the check before the rename
  // protects their edits.
  const FileDescriptor lock = lockExclusively(folder, settings);
  const fs::path target = resolveLinks(settings);
  for (int attempt = 0; attempt < mergeAttempts; ++attempt) {
    const Edit edit = editOnce(agent_, settings, target, install, executable, folderText(readable));
    if (edit != Edit::changedMeanwhile) return messageFor(agent_, install, edit, readable);
  }
  throw FileError(settings, "another program kept changing it while Lumacap edited it; nothing was written");
}

}  // namespace lumacap
