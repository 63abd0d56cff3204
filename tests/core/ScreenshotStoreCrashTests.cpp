// A child process works on a store and is killed with SIGKILL at random
// moments; after each kill the store must open, every record must name an
// existing image with the bytes saved for it, and no capture may have left the
// history except through a deletion the child had begun.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "core/AtomicFile.h"
#include "core/ScreenshotStore.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using lumacap::CaptureRecord;
using lumacap::ScreenshotStore;
using lumacap::StoreError;

namespace {

std::string imageBytes(const std::string& token) { return "\x89PNG\r\n\x1a\n" + token; }

// Appends one line to the log before the operation it announces starts.
void logLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) ::_exit(4);
}

// The child's endless mix of saves, renames, deliveries, deletions and now
// and then a deletion of everything. Names
// come from a small set so that "-2", "-3", … refused renames and leftovers
// of killed runs keep colliding.
[[noreturn]] void workUntilKilled(const fs::path& root, const fs::path& log, unsigned seed) {
  try {
    const int logFd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (logFd < 0) ::_exit(5);
    ScreenshotStore store(root);
    std::mt19937 random(seed);
    const char* names[] = {"shot", "Build failed", "error", "shot-2", "?"};
    for (unsigned serial = 0;; ++serial) {
      const auto& records = store.records();
      const unsigned choice = random() % 10;
      const std::string name = names[random() % 5];
      if (records.size() < 4 || (choice < 4 && records.size() < 12)) {
        const std::string token = std::to_string(seed) + "-" + std::to_string(serial);
        logLine(logFd, "save " + token);
        store.save(imageBytes(token), name, std::string("App"), lumacap::Date::now());
      } else {
        const std::string id = records[random() % records.size()].id;
        if (choice < 7) {
          try {
            store.rename(id, name);
          } catch (const StoreError& refused) {  // a taken name changes nothing
            if (refused.kind() != StoreError::Kind::nameTaken) throw;
          }
        } else if (choice < 8) {
          store.markStaged(id, "Clipboard", "Copied");
        } else if (choice < 9 || random() % 4 != 0) {
          logLine(logFd, "delete " + id);
          store.remove(id);
        } else {
          for (const CaptureRecord& record : records) logLine(logFd, "delete " + record.id);
          store.deleteAll();
        }
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "child failed: %s\n", error.what());
    ::_exit(3);
  }
}

struct Log {
  std::set<std::string> savedTokens;
  std::set<std::string> deletedIds;
};

Log readLog(const fs::path& log) {
  Log result;
  std::istringstream lines(fs::exists(log) ? lumacap::readWholeFile(log) : "");
  std::string verb, argument;
  while (lines >> verb >> argument) {
    (verb == "save" ? result.savedTokens : result.deletedIds).insert(argument);
  }
  return result;
}

}  // namespace

TEST(ScreenshotStoreCrash, KilledAtRandomMomentsNeverLosesAnImageOrBreaksTheIndex) {
  lumacap::test::TempDir temp;
  const fs::path root = temp / "store";
  const fs::path log = temp / "operations.log";
  // LUMACAP_CRASH_SEED=<seed> replays a failed run.
  const char* given = std::getenv("LUMACAP_CRASH_SEED");
  const unsigned seed0 = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
  SCOPED_TRACE("replay with LUMACAP_CRASH_SEED=" + std::to_string(seed0));
  std::cout << "[          ] LUMACAP_CRASH_SEED=" << seed0 << std::endl;
  std::mt19937 random(seed0);
  std::map<std::string, std::string> tokenOfId;  // every capture seen in a committed index
  std::set<std::string> previousIds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  int kills = 0;
  size_t largestHistory = 0;

  // 200 kills at least, more while time allows.
  while (kills < 200 || (kills < 300 && std::chrono::steady_clock::now() < deadline)) {
    const unsigned seed = random();
    lumacap::test::BackgroundProcess child([&]() -> int { workUntilKilled(root, log, seed); });
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 40000));
    ::kill(child.pid(), SIGKILL);
    const auto end = child.wait();
    ASSERT_EQ(end.signal, SIGKILL) << "the child stopped by itself (exit status " << end.exitStatus << ")";
    ++kills;

    std::unique_ptr<ScreenshotStore> store;
    ASSERT_NO_THROW(store = std::make_unique<ScreenshotStore>(root)) << "after kill " << kills;
    const Log operations = readLog(log);
    std::set<std::string> ids;
    for (const CaptureRecord& record : store->records()) {
      ids.insert(record.id);
      const fs::path image = store->url(record);
      ASSERT_TRUE(fs::is_regular_file(image)) << record.filename << " is gone after kill " << kills;
      const std::string bytes = lumacap::readWholeFile(image);
      const std::string token = bytes.substr(std::min<size_t>(bytes.size(), 8));
      ASSERT_EQ(bytes, imageBytes(token)) << record.filename << " is damaged after kill " << kills;
      ASSERT_TRUE(operations.savedTokens.contains(token)) << record.filename << " holds an unknown image";
      const auto [known, inserted] = tokenOfId.emplace(record.id, token);
      ASSERT_EQ(known->second, token) << "the image of " << record.id << " changed after kill " << kills;
    }
    for (const std::string& id : previousIds) {
      if (!ids.contains(id)) {
        ASSERT_TRUE(operations.deletedIds.contains(id))
            << "capture " << id << " left the history without a deletion, after kill " << kills;
      }
    }
    previousIds = std::move(ids);
    largestHistory = std::max(largestHistory, previousIds.size());
  }

  EXPECT_GE(tokenOfId.size(), 50u) << "the child got too little work done between kills";
  EXPECT_GT(largestHistory, 3u);
}
