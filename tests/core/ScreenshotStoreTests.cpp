#include "core/ScreenshotStore.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <span>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>

#include "core/AtomicFile.h"
#include "core/CaptureSearch.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using lumacap::CaptureRecord;
using lumacap::Date;
using lumacap::readWholeFile;
using lumacap::Retention;
using lumacap::ScreenshotStore;
using lumacap::StoreError;
using lumacap::test::permissionsOf;
using lumacap::test::TempDir;

namespace {

const std::string png = "\x89PNG\r\n\x1a\n-test-image";
const Date someDate{786000000.25};

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry of a folder (hidden ones too) with its content.
std::map<std::string, std::string> folderContents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::directory_iterator(folder)) {
    contents[entry.path().filename().string()] =
        entry.is_regular_file() ? readWholeFile(entry.path()) : "<not a file>";
  }
  return contents;
}

template <typename Operation>
bool failsWith(StoreError::Kind kind, Operation operation) {
  try {
    operation();
  } catch (const StoreError& error) {
    return error.kind() == kind;
  }
  return false;
}

bool failsWithInvalidIndex(const fs::path& root) {
  return failsWith(StoreError::Kind::invalidIndex, [&] { ScreenshotStore store(root); });
}

template <typename Operation>
bool failsWithMissingCapture(Operation operation) {
  return failsWith(StoreError::Kind::missingCapture, operation);
}

class ScreenshotStoreTest : public ::testing::Test {
 protected:
  TempDir temp;
  ScreenshotStore store{temp.path()};
};

TEST(ScreenshotStoreOpening, CreatesPrivateFoldersAndWritesNoIndexUntilTheFirstChange) {
  TempDir temp;
  const fs::path root = temp / "data" / "Lumacap";
  ScreenshotStore store(root);
  EXPECT_TRUE(store.records().empty());
  EXPECT_EQ(store.capturesDirectory(), root / "Captures");
  EXPECT_EQ(permissionsOf(temp / "data"), 0700u);
  EXPECT_EQ(permissionsOf(root), 0700u);
  EXPECT_EQ(permissionsOf(root / "Captures"), 0700u);
  EXPECT_FALSE(fs::exists(root / "history.json"));

  // Folders that already exist keep their permissions.
  fs::permissions(root / "Captures", fs::perms(0750));
  ScreenshotStore again(root);
  EXPECT_EQ(permissionsOf(root / "Captures"), 0750u);
}

// A test folder's clean-up gives access back to its own folders only: a link
// in it (a fake /proc's cwd names "/") leaves the folder it names alone.
TEST(TempDirCleanUp, ChangesNoFolderALinkInItNames) {
  TempDir outside;
  fs::permissions(outside.path(), fs::perms(0755));
  {
    TempDir linked;
    fs::create_directory_symlink(outside.path(), linked / "link");
  }
  EXPECT_EQ(permissionsOf(outside.path()), 0755u);
}

// Which indexes are damaged is fuzz_index_decoder's to check on its corpus;
// here, that refusing one touches no file.
TEST(ScreenshotStoreOpening, RefusesADamagedIndexAndTouchesNoFile) {
  const std::string record =
      R"({"id": "11111111-1111-4111-8111-111111111111", "filename": "a.png", "createdAt": 1})";
  const auto withText = [&](const std::string& key, size_t size) {
    return "[{\"" + key + "\": \"" + std::string(size - 4, 'x') + ".png\"," + record.substr(1) + "]";
  };
  for (const std::string& index :
       {std::string("not json"), "[" + record + "," + record + "]", "[" + record + "]\xff",
        "[" + record + "]" + std::string(1, '\0') + "GARBAGE", withText("application", 1025),
        withText("deliveryStatus", 1025),
        R"([{"id": "11111111-1111-4111-8111-111111111111", "createdAt": 1, "filename": ")" +
            std::string(252, 'x') + ".png\"}]"}) {
    TempDir temp;
    writeFile(temp / "history.json", index);
    fs::create_directory(temp / "Captures");
    writeFile(temp / "Captures" / "a.png", png);
    const auto before = folderContents(temp / "Captures");
    EXPECT_TRUE(failsWithInvalidIndex(temp.path())) << index;
    EXPECT_EQ(folderContents(temp / "Captures"), before) << index;
    EXPECT_EQ(readWholeFile(temp / "history.json"), index);
    EXPECT_EQ(folderContents(temp.path()).size(), 2u) << "no temporary or other file was left";
  }
}

// Two processes saving into one folder at once keep every capture of both.
TEST(ScreenshotStoreSharing, TwoWritersNeverDropEachOthersRecords) {
  TempDir temp;
  constexpr int savesEach = 40;
  std::vector<std::unique_ptr<lumacap::test::BackgroundProcess>> writers;
  for (const char* name : {"first", "second"}) {
    writers.push_back(std::make_unique<lumacap::test::BackgroundProcess>([&, name] {
      ScreenshotStore store(temp.path());
      for (int i = 0; i < savesEach; ++i) store.save(png + name, name, std::nullopt, someDate);
      return static_cast<int>(store.records().size() >= savesEach ? 0 : 1);
    }));
  }
  for (auto& writer : writers) EXPECT_EQ(writer->wait().exitStatus, 0);
  const ScreenshotStore store(temp.path());
  EXPECT_EQ(store.records().size(), 2u * savesEach);
  for (const CaptureRecord& record : store.records()) EXPECT_TRUE(fs::exists(store.url(record)));
}

// Opened in a child with a deadline: a FIFO must not make the store hang.
TEST(ScreenshotStoreOpening, RefusesAnIndexThatIsNotARegularFile) {
  TempDir temp;
  fs::create_directories(temp / "folder" / "history.json");
  fs::create_directories(temp / "fifo");
  ASSERT_EQ(::mkfifo((temp / "fifo" / "history.json").c_str(), 0600), 0);
  for (const char* root : {"folder", "fifo"}) {
    lumacap::test::BackgroundProcess child([&] { return failsWithInvalidIndex(temp / root) ? 0 : 1; });
    const auto end = child.wait(std::chrono::seconds(10));
    EXPECT_EQ(end.exitStatus, 0) << root << " (-2: the store hung)";
  }
}

TEST_F(ScreenshotStoreTest, IndexFormatWritesSortedPrettyKeysAndOmitsAbsentOnes) {
  const CaptureRecord first = store.save(png, "first", std::nullopt, Date{1.5});
  const CaptureRecord second = store.save(png, "second", std::string("Terminal"), someDate);
  EXPECT_EQ(first.id.find_first_of("abcdef"), std::string::npos) << "ids in upper case";
  EXPECT_NE(first.id, second.id);

  EXPECT_EQ(readWholeFile(store.indexFile()),
            "[\n"
            "  {\n"
            "    \"application\": \"Terminal\",\n"
            "    \"createdAt\": 786000000.25,\n"
            "    \"filename\": \"second.png\",\n"
            "    \"id\": \"" +
                second.id +
                "\"\n"
                "  },\n"
                "  {\n"
                "    \"createdAt\": 1.5,\n"
                "    \"filename\": \"first.png\",\n"
                "    \"id\": \"" +
                first.id +
                "\"\n"
                "  }\n"
                "]\n");

  store.markStaged(first.id, "Clipboard", "Copied", "an old message");
  store.markStaged(first.id, "lumacap · main", "Staged", "fix the build");  // the last delivery counts
  store.noteRecognizedText(first.id, "make: *** [all] Error 2");
  store.noteRecognizedText(second.id, "");
  EXPECT_EQ(store.records()[1].destination, "lumacap · main");
  EXPECT_EQ(store.records()[1].deliveryStatus, "Staged");
  EXPECT_NE(readWholeFile(store.indexFile())
                .find("    \"id\": \"" + first.id +
                      "\",\n    \"message\": \"fix the build\",\n    \"recognizedText\": \"make: *** [all] "
                      "Error 2\"\n"),
            std::string::npos);
  EXPECT_FALSE(store.records()[0].recognizedText);
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  EXPECT_TRUE(failsWithMissingCapture([&] { store.markStaged("garbage", "x", "y"); }));
}

TEST_F(ScreenshotStoreTest, IndexFormatKeepsDatesAndTextsExactlyAcrossReopening) {
  store.save(png, "a", std::string("Ünïcode “quoted” \\ \"\n\t\x01"), Date{0.1 + 0.2});
  store.save(png, "b", std::string("bad \xff\xfe bytes"), Date{-978307200.123456789});
  store.save(png, "c", std::nullopt, Date{1e300});
  // A name too long for a record is cut before the character the bound falls in.
  store.save(png, "e", std::string(ScreenshotStore::maximumTextSize - 1, 'a') + "éx", Date{1});
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  EXPECT_EQ(store.records()[2].application, "bad \uFFFD\uFFFD bytes");
  EXPECT_EQ(store.records()[0].application, std::string(ScreenshotStore::maximumTextSize - 1, 'a'));

  EXPECT_THROW(store.save(png, "d", std::nullopt, Date{NAN}), std::invalid_argument);
  EXPECT_THROW(store.save(png, "d", std::nullopt, Date{INFINITY}), std::invalid_argument);
  EXPECT_EQ(store.records().size(), 4u);
  EXPECT_FALSE(fs::exists(temp / "Captures" / "d.png"));
}

TEST_F(ScreenshotStoreTest, SavingStoresTheImagePrivatelyAndPutsTheNewestFirst) {
  const CaptureRecord first = store.save(png, "Build failed.png", std::string("Console"), someDate);
  const CaptureRecord second = store.save("second", "Other", std::nullopt, someDate);
  EXPECT_EQ(first.filename, "build-failed.png");
  EXPECT_EQ(first.application, "Console");
  EXPECT_FALSE(first.destination);
  EXPECT_EQ(readWholeFile(store.url(first)), png);
  EXPECT_EQ(readWholeFile(store.url(second)), "second");
  EXPECT_EQ(store.records(), (std::vector<CaptureRecord>{second, first}));
  EXPECT_EQ(permissionsOf(store.url(first)), 0600u);
  EXPECT_EQ(permissionsOf(store.indexFile()), 0600u);
  EXPECT_EQ(folderContents(temp.path()).size(), 2u) << "no temporary file is left beside the index";
}

TEST_F(ScreenshotStoreTest, SavingPicksTheFirstNameFreeOnDiskAndInTheHistory) {
  writeFile(temp / "Captures" / "build-failed.png", "made by hand");
  EXPECT_EQ(store.save(png, "Build failed.png", std::nullopt, someDate).filename, "build-failed-2.png");
  EXPECT_EQ(store.save(png, "build  FAILED", std::nullopt, someDate).filename, "build-failed-3.png");
  EXPECT_EQ(readWholeFile(temp / "Captures" / "build-failed.png"), "made by hand");

  // A record whose image was removed by hand still holds its name.
  fs::remove(temp / "Captures" / "build-failed-2.png");
  EXPECT_EQ(store.save(png, "build failed", std::nullopt, someDate).filename, "build-failed-4.png");

  EXPECT_EQ(store.save(png, "?!…", std::nullopt, someDate).filename, "capture.png");
  EXPECT_EQ(store.save(png, "", std::nullopt, someDate).filename, "capture-2.png");
  // Leftovers that are not regular files still occupy their names.
  fs::create_symlink("nowhere", temp / "Captures" / "link.png");
  EXPECT_EQ(store.save(png, "link", std::nullopt, someDate).filename, "link-2.png");
}

TEST_F(ScreenshotStoreTest, SavingFailsWithoutARecordWhenTheImageCannotBeWritten) {
  store.save(png, "kept", std::nullopt, someDate);
  const auto records = store.records();
  // The capture folder replaced by a file: no name can be looked up or written.
  fs::rename(temp / "Captures", temp / "Moved");
  writeFile(temp / "Captures", "");
  EXPECT_THROW(store.save(png, "new", std::nullopt, someDate), std::system_error);
  EXPECT_EQ(store.records(), records);
  EXPECT_EQ(ScreenshotStore::decodeIndex(readWholeFile(store.indexFile())), records);
}

TEST_F(ScreenshotStoreTest, RenamingMovesTheImageAndKeepsThePositionOrRefusesATakenName) {
  const CaptureRecord a = store.save("image a", "a", std::nullopt, someDate);
  const CaptureRecord b = store.save("image b", "b", std::nullopt, someDate);
  const CaptureRecord c = store.save("image c", "c", std::nullopt, someDate);

  const CaptureRecord renamed = store.rename(a.id, "Renamed A");
  EXPECT_EQ(renamed.filename, "renamed-a.png");
  EXPECT_EQ(renamed.id, a.id);
  EXPECT_EQ(renamed.createdAt, a.createdAt);
  EXPECT_EQ(store.records(), (std::vector<CaptureRecord>{c, b, renamed}));
  const std::map<std::string, std::string> files = {
      {"renamed-a.png", "image a"}, {"b.png", "image b"}, {"c.png", "image c"}};
  EXPECT_EQ(folderContents(temp / "Captures"), files);
  EXPECT_EQ(permissionsOf(temp / "Captures" / "renamed-a.png"), 0600u);
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());

  // A name another record or another file has is refused, never suffixed:
  // the file and the record keep their name. Ids are accepted in either case.
  std::string lower = c.id;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  writeFile(temp / "Captures" / "new-name.png", "someone else's");
  for (const auto& [typed, taken] : {std::pair("B", "“b.png”"), std::pair("new name", "“new-name.png”")}) {
    try {
      store.rename(lower, typed);
      ADD_FAILURE() << typed << " was not refused";
    } catch (const StoreError& error) {
      EXPECT_EQ(error.kind(), StoreError::Kind::nameTaken);
      EXPECT_NE(std::string(error.what()).find(taken), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(store.records(), (std::vector<CaptureRecord>{c, b, renamed}));
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  EXPECT_EQ(readWholeFile(temp / "Captures" / "new-name.png"), "someone else's");
  EXPECT_EQ(readWholeFile(temp / "Captures" / "c.png"), "image c");
}

TEST_F(ScreenshotStoreTest, RenamingNeedsTheImageUnlessTheStemStaysTheSame) {
  const CaptureRecord record = store.save(png, "build failed", std::nullopt, someDate);
  EXPECT_TRUE(failsWithMissingCapture([&] { store.rename("00000000-0000-4000-8000-000000000000", "x"); }));
  EXPECT_TRUE(failsWithMissingCapture([&] { store.rename("garbage", "x"); }));
  struct stat before {};
  ::stat(store.indexFile().c_str(), &before);
  fs::remove(store.url(record));  // makes any move fail

  EXPECT_EQ(store.rename(record.id, "Build Failed"), record);
  EXPECT_EQ(store.rename(record.id, "build-failed.PNG"), record);
  struct stat after {};
  ::stat(store.indexFile().c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the index was not rewritten";
  EXPECT_THROW(store.rename(record.id, "b"), std::system_error);
  EXPECT_EQ(store.records(), std::vector<CaptureRecord>{record});
  EXPECT_TRUE(folderContents(temp / "Captures").empty());
}

// A selection, or what the retention no longer keeps, goes image and record
// together, an image already removed by hand being no obstacle; when one
// image cannot be removed, none of the set is.
TEST_F(ScreenshotStoreTest, DeletingRemovesTheImagesAndRecordsAndLeavesForeignFiles) {
  const CaptureRecord a = store.save("image a", "a", std::nullopt, Date{1000});
  const CaptureRecord b = store.save("image b", "b", std::nullopt, Date{2000});
  const CaptureRecord c = store.save("image c", "c", std::nullopt, Date{3000});
  const CaptureRecord d = store.save("image d", "d", std::nullopt, Date{4000});
  writeFile(temp / "Captures" / "orphan.png", "not ours");
  const auto files = [&](std::map<std::string, std::string> expected) {
    expected["orphan.png"] = "not ours";
    EXPECT_EQ(folderContents(temp / "Captures"), expected);
    EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  };

  fs::remove(store.url(a));
  store.remove(std::vector<std::string>{c.id, a.id});
  EXPECT_EQ(store.records(), (std::vector<CaptureRecord>{d, b}));
  files({{"b.png", "image b"}, {"d.png", "image d"}});
  EXPECT_TRUE(failsWithMissingCapture([&] { store.remove(c.id); }));

  fs::create_directories(temp / "Captures" / (".deleting-" + b.id) / "x");
  EXPECT_THROW(store.remove(std::vector<std::string>{d.id, b.id}), std::system_error);
  fs::remove_all(temp / "Captures" / (".deleting-" + b.id));
  EXPECT_EQ(store.records(), (std::vector<CaptureRecord>{d, b}));
  files({{"b.png", "image b"}, {"d.png", "image d"}});

  const CaptureRecord e = store.save("image e", "e", std::nullopt, Date{4000 + 2 * 86400});
  const Date now{4000 + 2 * 86400 + 60};
  EXPECT_EQ(ScreenshotStore::expired(store.records(), {Retention::Kind::captures, 2}, now),
            std::vector<std::string>{b.id});
  EXPECT_EQ(store.applyRetention({}, Date{1e12}), 0u);
  fs::remove(store.url(b));
  EXPECT_EQ(store.applyRetention({Retention::Kind::days, 1}, now), 2u);
  EXPECT_EQ(store.records(), std::vector<CaptureRecord>{e});
  files({{"e.png", "image e"}});
  for (const auto& [text, retention] : {std::pair<std::string, std::optional<Retention>>{"all", Retention{}},
                                        {"days:30", Retention{Retention::Kind::days, 30}},
                                        {"captures:500", Retention{Retention::Kind::captures, 500}},
                                        {"days:0", std::nullopt},
                                        {"captures:12x", std::nullopt},
                                        {"weeks:2", std::nullopt}}) {
    EXPECT_EQ(Retention::decoded(text), retention) << text;
    if (retention) {
      EXPECT_EQ(retention->encoded(), text);
    }
  }

  store.save(png, "d", std::nullopt, someDate);
  store.deleteAll();
  EXPECT_TRUE(store.records().empty());
  EXPECT_TRUE(ScreenshotStore(temp.path()).records().empty());
  files({});
  store.deleteAll();  // nothing left: no error
}

TEST(CaptureSearch, FindsEveryWordInTheNameMessageRecognisedTextOrDestination) {
  std::vector<CaptureRecord> records(4);
  for (size_t i = 0; i < records.size(); ++i) records[i].id = std::to_string(i);
  records[0].filename = "build-failed.png";
  records[0].message = "Why does the LINKER stop here?";
  records[1].filename = "login.png";
  records[1].recognizedText = "Sign in\nCafé ＷＩＤＥ";
  records[2].filename = "screen.png";
  records[2].destination = "Claude Code · lumacap";
  records[3].filename = "notes.png";
  records[3].application = "linker";  // not searched
  lumacap::CaptureSearch search;
  search.setRecords(records);
  using Rows = std::vector<size_t>;
  EXPECT_EQ(search.matches("linker"), Rows{0});
  EXPECT_EQ(search.matches("cafe wide"), Rows{1});
  EXPECT_EQ(search.matches(" Claude  lumacap "), Rows{2});
  EXPECT_EQ(search.matches("fail linker"), Rows{0});
  EXPECT_EQ(search.matches("claude build"), Rows{});
  EXPECT_EQ(search.matches("in caf"), Rows{1});
  EXPECT_EQ(search.matches(""), (Rows{0, 1, 2, 3}));
  records[3].message = "the linker again";
  search.setRecords(records);
  EXPECT_EQ(search.matches("LINKER"), (Rows{0, 3}));
}

// An index write that fails (a larger file than the size limit allows, as
// on a full disk) undoes the change; an index that another program replaced
// by a non-empty folder is refused before anything changes.
TEST_F(ScreenshotStoreTest, FailedIndexWriteLeavesImagesAndRecordsAsTheyWere) {
  const CaptureRecord a = store.save("image a", "a", std::nullopt, someDate);
  const CaptureRecord b = store.save("image b", "b", std::nullopt, someDate);
  const auto records = store.records();
  const auto images = folderContents(temp / "Captures");
  const std::string index = readWholeFile(store.indexFile());
  const std::pair<const char*, std::function<void()>> operations[] = {
      {"save", [&] { store.save(png, "new", std::nullopt, someDate); }},
      {"rename", [&] { store.rename(a.id, "renamed"); }},
      {"markStaged", [&] { store.markStaged(a.id, "Clipboard", "Copied"); }},
      {"remove", [&] { store.remove(b.id); }},
      {"deleteAll", [&] { store.deleteAll(); }},
  };
  const auto expectUnchanged = [&](const char* name) {
    EXPECT_EQ(store.records(), records) << name;
    EXPECT_EQ(folderContents(temp / "Captures"), images) << name;
    EXPECT_EQ(folderContents(temp.path()).size(), 2u) << name << ": a file beside the index and Captures";
  };
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{index.size(), limit.rlim_max};
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  for (const auto& [name, operation] : std::span(operations, 3)) {  // those that make the index larger
    EXPECT_THROW(operation(), std::system_error) << name;
    expectUnchanged(name);
  }
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, previousHandler);

  fs::remove(store.indexFile());
  fs::create_directories(store.indexFile() / "in-the-way");
  for (const auto& [name, operation] : operations) {
    EXPECT_TRUE(failsWith(StoreError::Kind::invalidIndex, operation)) << name;
    expectUnchanged(name);
  }
  // Once the index can be read again, everything works on the same files.
  fs::remove_all(store.indexFile());
  writeFile(store.indexFile(), index);
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), records);
  EXPECT_EQ(store.rename(a.id, "renamed").filename, "renamed.png");
  store.remove(b.id);
  EXPECT_EQ(folderContents(temp / "Captures"),
            (std::map<std::string, std::string>{{"renamed.png", "image a"}}));
}

TEST_F(ScreenshotStoreTest, FailedIndexWriteDeleteAllKeepsWhatItRemovedBeforeTheFailure) {
  const CaptureRecord a = store.save("image a", "a", std::nullopt, someDate);
  const CaptureRecord b = store.save("image b", "b", std::nullopt, someDate);
  // The newest record's image cannot get its hidden second name: the name is
  // a non-empty folder. The loop stops at the first record with nothing lost.
  fs::create_directories(temp / "Captures" / (".deleting-" + b.id) / "x");
  EXPECT_THROW(store.deleteAll(), std::system_error);
  EXPECT_EQ(store.records().size(), 2u);
  EXPECT_EQ(readWholeFile(store.url(b)), "image b");

  fs::remove_all(temp / "Captures" / (".deleting-" + b.id));
  fs::create_directories(temp / "Captures" / (".deleting-" + a.id) / "x");
  EXPECT_THROW(store.deleteAll(), std::system_error);
  EXPECT_EQ(store.records(), std::vector<CaptureRecord>{a});
  EXPECT_FALSE(fs::exists(temp / "Captures" / "b.png"));
  EXPECT_EQ(readWholeFile(store.url(a)), "image a");
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
}

}  // namespace

TEST_F(ScreenshotStoreTest, ACaptureFolderTakesNewCapturesAndMovingKeepsEveryRecordAllOrNone) {
  const CaptureRecord a = store.save("image a", "a", std::nullopt, someDate);
  const fs::path chosen = temp / "Pictures" / "Shots";
  ScreenshotStore::prepareFolder(chosen);
  store.setSaveFolder(chosen / "");
  const CaptureRecord b = store.save("image b", "b", std::nullopt, someDate);
  EXPECT_EQ(store.url(b), chosen / "b.png");
  EXPECT_EQ(permissionsOf(chosen), 0700u);
  // Not moved: the older record still finds its image where it was.
  EXPECT_EQ(readWholeFile(store.url(a)), "image a");
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  EXPECT_EQ(ScreenshotStore::countOutside(store.records(), temp.path(), chosen), 1u);

  // An image that cannot be copied midway: the copies made go, nothing changes.
  const fs::path other = temp / "Other";
  fs::create_directory(other);
  writeFile(other / "a.png", "not ours");
  fs::rename(store.url(a), temp / "a.png");
  fs::create_directory(store.url(a));
  const auto records = store.records();
  EXPECT_THROW(store.moveCaptures(other), std::system_error);
  EXPECT_EQ(store.records(), records);
  EXPECT_EQ(ScreenshotStore::decodeIndex(readWholeFile(store.indexFile())), records);
  EXPECT_EQ(folderContents(other), (std::map<std::string, std::string>{{"a.png", "not ours"}}));
  EXPECT_EQ(readWholeFile(store.url(b)), "image b");
  EXPECT_EQ(store.saveFolder(), chosen);
  writeFile(temp / "file", "");
  EXPECT_THROW(ScreenshotStore::prepareFolder(temp / "file" / "sub"), std::system_error);

  fs::remove(store.url(a));
  fs::rename(temp / "a.png", store.url(a));
  EXPECT_EQ(store.moveCaptures(other), 2u);
  EXPECT_EQ(folderContents(other), (std::map<std::string, std::string>{
                                       {"a.png", "not ours"}, {"a-2.png", "image a"}, {"b.png", "image b"}}));
  EXPECT_TRUE(folderContents(chosen).empty() && folderContents(temp / "Captures").empty());
  EXPECT_EQ(ScreenshotStore(temp.path()).records(), store.records());
  EXPECT_EQ(store.records()[1].id, a.id);
  EXPECT_EQ(store.records()[1].filename, "a-2.png");

  EXPECT_EQ(store.moveCaptures(temp / "Captures"), 2u);
  EXPECT_FALSE(store.records()[0].folder || store.records()[1].folder) << "the index stays as before";
  store.remove(b.id);
  EXPECT_EQ(folderContents(temp / "Captures"), (std::map<std::string, std::string>{{"a-2.png", "image a"}}));
}
