#include "platform/wayland/CompositorWorkspace.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>
#include <cstdio>
#include <exception>

namespace lumacap {
namespace {

// How long a listing answers lookups before the compositor is asked again.
constexpr auto listingLifetime = std::chrono::milliseconds(1000);
// A listing this young is not asked again even for a process it lacks.
constexpr auto listingMinimumAge = std::chrono::milliseconds(100);

}  // namespace

std::vector<CompositorWindow> listOffThisThread(CompositorWindowList& list) {
  std::vector<CompositorWindow> windows;
  std::exception_ptr failure;
  std::unique_ptr<QThread> thread(QThread::create([&] {
    try {
      windows = list.windows();
    } catch (...) {
      failure = std::current_exception();
    }
  }));
  // QtDBus hands incoming calls to the GUI thread first when it has message
  // spies, so a GUI thread that merely waited would keep KWin's script from
  // answering: it runs its events meanwhile, the user's input left queued.
  QEventLoop loop;
  QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
  thread->start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  thread->wait();
  if (failure) std::rethrow_exception(failure);
  return windows;
}

CompositorWorkspace::CompositorWorkspace(std::shared_ptr<CompositorWindowList> list, ProcessSource& processes)
    : list_(std::move(list)),
      processes_(processes),
      activationThread_(std::make_unique<QThreadPool>()),
      desktopEntries_(std::make_shared<DesktopEntries>()) {
  activationThread_->setMaxThreadCount(1);  // requests go out in the order they were made
  desktopEntriesRead_ = QtConcurrent::run([entries = desktopEntries_] { entries->load(); });
}

CompositorWorkspace::~CompositorWorkspace() {
  activationThread_->waitForDone();
  desktopEntriesRead_.waitForFinished();
}

const std::vector<CompositorWindow>& CompositorWorkspace::windows(std::optional<int32_t> pid) {
  // Waiting runs the GUI thread's events, which must not happen before its
  // event loop runs: the program is still connecting its parts (a request
  // handed over meanwhile would reach none of them).
  const QCoreApplication* application = QCoreApplication::instance();
  if (application && QThread::currentThread() == application->thread() &&
      QThread::currentThread()->loopLevel() == 0)
    return listed_;
  const auto age = std::chrono::steady_clock::now() - listedAt_;
  if (age < listingMinimumAge) return listed_;
  const bool fresh = age < listingLifetime;
  const bool lacksPid =
      pid && std::none_of(listed_.begin(), listed_.end(),
                          [&](const CompositorWindow& window) { return window.pid == *pid; });
  if (fresh && !lacksPid) return listed_;
  try {
    listed_ = listOffThisThread(*list_);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "lumacap: the compositor did not list its windows: %s\n", failure.what());
    listed_.clear();
  }
  listedAt_ = std::chrono::steady_clock::now();
  return listed_;
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
