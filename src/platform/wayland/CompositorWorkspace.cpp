#include "platform/wayland/CompositorWorkspace.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent>
#include <cstdio>
#include <exception>

#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

// How long a listing answers lookups before the compositor is asked again.
constexpr auto listingLifetime = std::chrono::milliseconds(1000);
// A listing this young is not asked again even for a process it lacks.
constexpr auto listingMinimumAge = std::chrono::milliseconds(100);

}  // namespace

CompositorWorkspace::CompositorWorkspace(std::shared_ptr<CompositorWindowList> list, ProcessSource& processes)
    : list_(std::move(list)),
      processes_(processes),
      activationThread_(std::make_unique<QThreadPool>()),
      answers_(std::make_unique<QObject>()),
      desktopEntries_(std::make_shared<DesktopEntries>()) {
  activationThread_->setMaxThreadCount(1);  // requests go out in the order they were made
  desktopEntriesRead_ = QtConcurrent::run([entries = desktopEntries_] { entries->load(); });
}

CompositorWorkspace::~CompositorWorkspace() {
  answers_.reset();  // a listing that ends later is dropped
  activationThread_->waitForDone();
  desktopEntriesRead_.waitForFinished();
}

// Never waits: a listing that is old or lacks the process is asked for
// again, and the lookups meanwhile answer from the last one.
const std::vector<CompositorWindow>& CompositorWorkspace::windows(std::optional<int32_t> pid) {
  const auto age = std::chrono::steady_clock::now() - listedAt_;
  const bool lacksPid =
      pid && std::none_of(listed_.begin(), listed_.end(),
                          [&](const CompositorWindow& window) { return window.pid == *pid; });
  if (age >= listingLifetime || (lacksPid && age >= listingMinimumAge)) (void)refreshed();
  return listed_;
}

// The compositor is asked on a worker (its answer is bounded by the list's own
// time-outs); the answer is taken on this thread. One listing at a time.
QFuture<void> CompositorWorkspace::refreshed() {
  if (refreshing_) return refreshing_->future();
  if (std::chrono::steady_clock::now() - listedAt_ < listingMinimumAge) return readyFuture();
  refreshing_ = std::make_shared<QPromise<void>>();
  refreshing_->start();
  using Listing = std::optional<std::vector<CompositorWindow>>;
  auto* watcher = new QFutureWatcher<Listing>(answers_.get());
  QObject::connect(watcher, &QFutureWatcher<Listing>::finished, answers_.get(), [this, watcher] {
    watcher->deleteLater();
    Listing windows = watcher->result();
    listed_ = windows ? std::move(*windows) : std::vector<CompositorWindow>();
    listedAt_ = std::chrono::steady_clock::now();
    std::exchange(refreshing_, nullptr)->finish();
  });
  watcher->setFuture(QtConcurrent::run([list = list_]() -> Listing {
    try {
      return list->windows();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "lumacap: the compositor did not list its windows: %s\n", failure.what());
      return std::nullopt;
    }
  }));
  return refreshing_->future();
}

std::optional<DesktopApplication> CompositorWorkspace::applicationOf(const CompositorWindow& window) {
  if (window.pid < 1) return std::nullopt;
  DesktopApplication application{window.pid, std::nullopt, std::nullopt, {}};
  if (!window.appClass.empty()) {
    application.bundleIdentifier = window.appClass;
    // Until the desktop entries are read (a moment after start), an
    // application goes by its class.
    std::optional<std::string> name;
    if (desktopEntriesRead_.isFinished()) name = desktopEntries_->name(window.appClass);
    application.localizedName = name ? *name : window.appClass;
  }
  if (const auto identity = processes_.inspect(window.pid)) application.started = identity->started;
  return application;
}

std::optional<DesktopApplication> CompositorWorkspace::application(int32_t pid) {
  if (pid < 1) return std::nullopt;
  for (const CompositorWindow& window : windows(pid))
    if (window.pid == pid) return applicationOf(window);
  return std::nullopt;
}

std::optional<DesktopApplication> CompositorWorkspace::frontmostApplication() {
  for (const CompositorWindow& window : windows())
    if (window.active) return applicationOf(window);
  return std::nullopt;
}

std::optional<CompositorWindow> CompositorWorkspace::windowToActivate(
    const std::vector<CompositorWindow>& windows, int32_t pid) {
  for (const CompositorWindow& window : windows)
    if (window.pid == pid) return window;
  return std::nullopt;
}

QFuture<bool> CompositorWorkspace::activate(const DesktopApplication& application) {
  listedAt_ = {};  // the active window is about to change
  return QtConcurrent::run(activationThread_.get(), [this, list = list_, application] {
    if (isTerminated(application)) return false;
    try {
      const auto target = windowToActivate(list->windows(), application.pid);
      return target && list->activate(*target);
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "lumacap: the compositor did not activate the window: %s\n", failure.what());
      return false;
    }
  });
}

bool CompositorWorkspace::isTerminated(const DesktopApplication& application) {
  const auto identity = processes_.inspect(application.pid);
  return !identity || identity->started != application.started;
}

std::optional<std::string> CompositorWorkspace::windowTitle(int32_t pid) {
  std::optional<std::string> title;
  for (const CompositorWindow& window : windows(pid)) {
    if (window.pid != pid) continue;
    if (title) return std::nullopt;
    title = window.title;
  }
  if (title && title->empty()) return std::nullopt;
  return title;
}

}  // namespace lumacap
