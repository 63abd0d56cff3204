#include "platform/linux/TesseractRecognizer.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <dlfcn.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_set>

#include "core/GlyphSnippets.h"
#include "core/SecretCandidates.h"
#include "core/TextLineFinder.h"
#include "core/Unicode.h"

namespace lumacap {

namespace {

constexpr const char* debianTessdata = "/usr/share/tesseract-ocr/5/tessdata";
constexpr const char* language = "eng";

// Screenshots are taken at the display's density, about 96 pixels per inch
// at a scale of one; Tesseract sizes its noise filters from this.
constexpr int screenResolution = 96;
// Pieces of lines around unread glyphs are read at this many times their size.
constexpr int snippetScale = 2;
// Rounds of pieces: each reads the glyphs the rounds before left unread.
constexpr int snippetRounds = 3;

std::string withoutSurroundingSpace(const char* text) {
  std::string_view view(text);
  const auto first = view.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = view.find_last_not_of(" \t\r\n");
  return std::string(view.substr(first, last - first + 1));
}

QImage grayOverWhite(const QImage& image) {
  const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QImage gray(image.size(), QImage::Format_Grayscale8);
  for (int y = 0; y < image.height(); ++y) {
    const auto* source = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
    uchar* target = gray.scanLine(y);
    for (int x = 0; x < image.width(); ++x) {
      const int white = 255 - qAlpha(source[x]);
      target[x] = static_cast<uchar>(
          qGray(qRed(source[x]) + white, qGreen(source[x]) + white, qBlue(source[x]) + white));
    }
  }
  return gray;
}

// True when most of the image is dark, as in a terminal or a dark theme.
bool mostlyDark(const QImage& gray) {
  constexpr int step = 4;
  long dark = 0;
  long total = 0;
  for (int y = 0; y < gray.height(); y += step) {
    const uchar* line = gray.constScanLine(y);
    for (int x = 0; x < gray.width(); x += step) {
      dark += line[x] < 128;
      ++total;
    }
  }
  return dark * 2 > total;
}

// The file the code at `address` was loaded from; empty when unknown.
std::string libraryOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

// Asks the kernel to take back the pages of the libraries' code and constants
// that recognitions read in (some 5 MB for Tesseract and Leptonica). Nothing
// is lost: they come back from the file when the next recognition needs
// them. Pages other processes map too stay where they are.
void pageOutLibraries(const std::vector<std::string>& libraries) {
#ifdef MADV_PAGEOUT
  std::vector<std::filesystem::path> files;
  for (const std::string& library : libraries) {
    std::error_code error;
    std::filesystem::path file = std::filesystem::canonical(library, error);
    if (!error && !library.empty()) files.push_back(std::move(file));
  }
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, path;
    fields >> range >> permissions >> offset >> device >> inode >> path;
    if (permissions.size() < 2 || permissions[1] == 'w') continue;  // only pages the file holds too
    if (std::find(files.begin(), files.end(), std::filesystem::path(path)) == files.end()) continue;
    const auto dash = range.find('-');
    const uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_PAGEOUT);
  }
#else
  (void)libraries;
#endif
}

QRect boundsAt(const tesseract::ResultIterator& iterator, tesseract::PageIteratorLevel level) {
  int left = 0, top = 0, right = 0, bottom = 0;
  iterator.BoundingBox(level, &left, &top, &right, &bottom);
  return QRect(left, top, right - left, bottom - top);
}

QImage grayOf(const QImage& image) {
  return image.hasAlphaChannel() ? grayOverWhite(image) : image.convertToFormat(QImage::Format_Grayscale8);
}

// A line's pixels as an image of their own, dark text on light whatever the
// window it sits in: the background is the line's most common gray, and the
// ink brighter than it is turned.
QImage lineImage(const QImage& gray, const QRect& box) {
  QImage line = gray.copy(box);
  std::array<long, 256> histogram{};
  for (int y = 0; y < line.height(); ++y) {
    const uchar* row = line.constScanLine(y);
    for (int x = 0; x < line.width(); ++x) ++histogram[row[x]];
  }
  const int background =
      static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
  long inkSum = 0, ink = 0;
  for (int value = 0; value < 256; ++value) {
    if (std::abs(value - background) < 40) continue;
    inkSum += value * histogram[static_cast<size_t>(value)];
    ink += histogram[static_cast<size_t>(value)];
  }
  if (ink > 0 && inkSum > background * ink) line.invertPixels();
  return line;
}

// The words of the recognition the iterator walks, each with its
// characters' boxes, moved by `origin`.
std::vector<RecognizedWord> wordsOf(tesseract::ResultIterator& iterator, QPoint origin) {
  std::vector<RecognizedWord> words;
  if (iterator.Empty(tesseract::RIL_SYMBOL)) return words;
  do {
    if (iterator.IsAtBeginningOf(tesseract::RIL_WORD)) {
      std::unique_ptr<char[]> word(iterator.GetUTF8Text(tesseract::RIL_WORD));
      words.push_back({word ? word.get() : "", boundsAt(iterator, tesseract::RIL_WORD).translated(origin)});
    }
    if (!words.empty())
      words.back().glyphs.push_back(boundsAt(iterator, tesseract::RIL_SYMBOL).translated(origin));
  } while (iterator.Next(tesseract::RIL_SYMBOL));
  std::erase_if(words, [](const RecognizedWord& word) { return word.text.empty(); });
  return words;
}

// One line read in single-line mode; its text empty when nothing was read.
RecognizedLine readLine(tesseract::TessBaseAPI& api, const QImage& gray, const QRect& box) {
  const QImage line = lineImage(gray, box);
  api.SetImage(line.constBits(), line.width(), line.height(), 1, static_cast<int>(line.bytesPerLine()));
  api.SetSourceResolution(screenResolution);
  RecognizedLine result{{}, 0, box};
  if (api.Recognize(nullptr) == 0) {
    std::unique_ptr<char[]> text(api.GetUTF8Text());
    result.text = text ? withoutSurroundingSpace(text.get()) : std::string();
    result.confidence = static_cast<float>(api.MeanTextConf()) / 100.0f;
    std::unique_ptr<tesseract::ResultIterator> iterator(api.GetIterator());
    if (iterator) result.words = wordsOf(*iterator, box.topLeft());
    if (!result.words.empty()) {
      QRect bounds = result.words.front().bounds;
      for (const RecognizedWord& word : result.words) bounds |= word.bounds;
      result.bounds = bounds;
    }
  }
  api.Clear();
  return result;
}

RecognizedLine recognizedLine(const SpelledLine& spelled) {
  const auto rect = [](const PixelRect& box) { return QRect(box.x, box.y, box.width, box.height); };
  RecognizedLine line{spelled.text, spelled.confidence, rect(spelled.bounds)};
  for (const SpelledWord& word : spelled.words) {
    line.words.push_back({word.text, rect(word.bounds)});
    for (const PixelRect& glyph : word.glyphs) line.words.back().glyphs.push_back(rect(glyph));
  }
  return line;
}

// Reads the line in each box on the engines, each engine on a thread of its
// own (the caller's for the first) taking the widest box not yet taken: the
// longest reading does not come last to keep one engine busy alone. The
// threads start with the caller's priority: a search the user waits for
// runs at full speed, a background reading stays in the background.
template <typename Job>
void acrossEngines(const std::vector<std::unique_ptr<tesseract::TessBaseAPI>>& engines,
                   const std::vector<QRect>& boxes, const Job& job) {
  const size_t count = boxes.size();
  std::vector<size_t> order(count);
  for (size_t at = 0; at < count; ++at) order[at] = at;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return boxes[a].width() > boxes[b].width(); });
  std::atomic<size_t> next = 0;
  const auto work = [&](tesseract::TessBaseAPI& engine) {
    for (size_t at = next++; at < count; at = next++) job(engine, order[at]);
  };
  std::vector<std::thread> helpers;
  for (size_t engine = 1; engine < std::min(engines.size(), count); ++engine) {
    helpers.emplace_back([&, engine] { work(*engines[engine]); });
  }
  work(*engines.front());
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace

TesseractRecognizer::TesseractRecognizer(Layout layout) : layout_(layout) {}
TesseractRecognizer::~TesseractRecognizer() = default;

std::shared_ptr<TesseractRecognizer> TesseractRecognizer::shared() {
  static auto* instance = new std::shared_ptr<TesseractRecognizer>(std::make_shared<TesseractRecognizer>());
  return *instance;
}

std::optional<std::string> TesseractRecognizer::tessdataFolder() {
  const char* prefix = std::getenv("TESSDATA_PREFIX");
  if (prefix && *prefix) return std::nullopt;
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::path(debianTessdata) / "eng.traineddata", error)) {
    return debianTessdata;
  }
  return std::nullopt;
}

QImage TesseractRecognizer::preparedImage(const QImage& image) {
  QImage gray = grayOf(image);
  if (mostlyDark(gray)) gray.invertPixels();
  return gray;
}

void TesseractRecognizer::releaseResources() {
  std::lock_guard lock(mutex_);
  for (auto& engine : engines_) engine->End();
  engines_.clear();
  candidates_ = {};
  // The dictionaries stay in a cache of Tesseract's own unless asked.
  tesseract::TessBaseAPI::ClearPersistentCache();
  pageOutLibraries({libraryOf(reinterpret_cast<const void*>(&tesseract::TessBaseAPI::Version)),
                    libraryOf(reinterpret_cast<const void*>(&pixCreate))});
}

void TesseractRecognizer::warmUp() {
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::lock_guard lock(mutex_);
  loaded(layout_ == Layout::page ? 1 : std::min(static_cast<size_t>(mostEngines), cores));
}

bool TesseractRecognizer::loaded(size_t engines) {
  while (engines_.size() < engines && !loadFailed_) {
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    const std::optional<std::string> folder = tessdataFolder();
    const auto init = [&](const char* path) {
      // No dictionaries: what is read is code, logs, keys and single glyphs.
      std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg"}, values = {"0", "0"};
      return api->Init(path, language, tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) == 0;
    };
    bool ready = init(folder ? folder->c_str() : nullptr);
    if (!ready && folder) ready = init(nullptr);
    if (!ready) {
      loadFailed_ = true;
      break;
    }
    // Tesseract's and Leptonica's diagnostics are of no use to the user of a
    // tray program (and Leptonica writes its own straight to the terminal).
    api->SetVariable("debug_file", "/dev/null");
    setMsgSeverity(L_SEVERITY_NONE);
    if (layout_ != Layout::page) {
      api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
      // Every line comes dark on light: reading it inverted too only costs time.
      api->SetVariable("tessedit_do_invert", "0");
    } else {
      api->SetPageSegMode(tesseract::PSM_AUTO);
    }
    engines_.push_back(std::move(api));
  }
  return !engines_.empty();
}

std::vector<RecognizedLine> TesseractRecognizer::recognize(const QImage& image) {
  if (image.isNull() || image.width() < 1 || image.height() < 1) return {};
  return layout_ != Layout::page ? recognizeLines(image, false) : recognizePage(image);
}

std::vector<RecognizedLine> TesseractRecognizer::recognizeSecretCandidates(const QImage& image) {
  if (image.isNull() || image.width() < 1 || image.height() < 1) return {};
  return layout_ != Layout::page ? recognizeLines(image, true) : recognizePage(image);
}

std::vector<RecognizedLine> TesseractRecognizer::recognizeLines(const QImage& image, bool candidatesOnly) {
  const QImage gray = grayOf(image);
  const GrayPixels pixels{gray.constBits(), gray.width(), gray.height(),
                          static_cast<long>(gray.bytesPerLine())};
  std::lock_guard lock(mutex_);
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::vector<PixelRect> found = TextLineFinder::lines(pixels);

  // Lines on a grid whose every glyph was read before are spelled from them.
  // Of many lines on a grid not spelled, a third are read first, and the
  // rest spelled from what they teach where they can be.
  std::vector<std::optional<GridLine>> grids(found.size());
  std::vector<std::optional<SpelledLine>> spelled(found.size());
  std::vector<bool> later(found.size(), false);
  stats_ = {};
  // Glyphs read in one place of this image only: they spell its lines, as
  // reading the line whole would have read them once too, but are not kept.
  std::unordered_map<uint64_t, GlyphReading> once;
  // The glyphs kept with those: what spells this image's lines now.
  const auto withOnce = [&] {
    std::unordered_map<uint64_t, GlyphReading> readings = glyphs_;
    readings.insert(once.begin(), once.end());
    return readings;
  };
  if (layout_ != Layout::lines) {
    const GridLine* hint = nullptr;
    std::vector<const GridLine*> unread;
    for (size_t at = 0; at < found.size(); ++at) {
      grids[at] = GlyphGrid::cut(pixels, found[at], hint);
      if (!grids[at]) continue;
      hint = &*grids[at];
      ++stats_.gridLines;
      spelled[at] = GlyphGrid::spell(*grids[at], glyphs_);
      if (!spelled[at]) unread.push_back(&*grids[at]);
    }
    // A few lines cost less read whole than their pieces.
    if (layout_ == Layout::glyphPieces && unread.size() >= learnedFirst) {
      if (!readSnippets(unread, pixels, once)) return {};
      const std::unordered_map<uint64_t, GlyphReading> readings = withOnce();
      for (size_t at = 0; at < found.size(); ++at) {
        if (grids[at] && !spelled[at]) spelled[at] = GlyphGrid::spell(*grids[at], readings);
      }
    }
    size_t unspelled = 0;
    for (size_t at = 0; at < found.size(); ++at) {
      if (grids[at] && !spelled[at]) later[at] = unspelled++ % 3 != 0;
    }
    if (unspelled < learnedFirst) later.assign(found.size(), false);
  }

  // Reading all of an image whose candidates were just read reads the rest
  // of each line beside them, and takes what they read as it was.
  const bool rest = !candidatesOnly && candidates_.image == image.cacheKey();
  if (!rest) candidates_.read.clear();
  // The parts read, by the line found and the line of the result they are part of.
  std::vector<std::pair<std::pair<size_t, size_t>, RecognizedLine>> parts;
  for (bool second : {false, true}) {
    std::vector<QRect> boxes;
    std::vector<std::pair<size_t, size_t>> partOf;
    // (the glyphs the first pass taught, merged once for all of the second's lines)
    const std::unordered_map<uint64_t, GlyphReading> merged =
        second && !once.empty() ? withOnce() : std::unordered_map<uint64_t, GlyphReading>{};
    const std::unordered_map<uint64_t, GlyphReading>& readings = once.empty() ? glyphs_ : merged;
    for (size_t at = 0; at < found.size(); ++at) {
      if (later[at] != second) continue;
      if (second && grids[at]) spelled[at] = GlyphGrid::spell(*grids[at], readings);
      if (spelled[at]) {
        parts.push_back({{at, 0}, recognizedLine(*spelled[at])});
        ++stats_.spelled;
        continue;
      }
      ++stats_.read;
      const PixelRect& line = found[at];
      const auto add = [&](int x, int width, size_t part) {
        if (width <= 0) return;
        boxes.emplace_back(x, line.y, width, line.height);
        partOf.push_back({at, part});
      };
      if (!candidatesOnly && !rest) {
        add(line.x, line.width, 0);
        continue;
      }
      int left = line.x;
      size_t part = 0;
      for (const PixelRect& span : SecretCandidates::spans(pixels, line)) {
        if (rest) add(left, span.x - left, 0);
        add(span.x, span.width, candidatesOnly ? part++ : 0);
        left = span.x + span.width;
      }
      if (rest) add(left, line.x + line.width - left, 0);
    }
    if (boxes.empty()) continue;
    if (!loaded(std::min({static_cast<size_t>(mostEngines), cores, boxes.size()}))) return {};
    std::vector<RecognizedLine> read(boxes.size());
    std::vector<bool> taken(boxes.size(), false);
    for (size_t at = 0; rest && at < boxes.size(); ++at) {
      const auto known =
          candidates_.read.find({boxes[at].x(), boxes[at].y(), boxes[at].width(), boxes[at].height()});
      if (known == candidates_.read.end()) continue;
      read[at] = known->second;
      taken[at] = true;
    }
    acrossEngines(engines_, boxes, [&](tesseract::TessBaseAPI& engine, size_t at) {
      if (!taken[at]) read[at] = readLine(engine, gray, boxes[at]);
    });
    for (size_t at = 0; at < boxes.size(); ++at) {
      if (!taken[at] && grids[partOf[at].first]) learnGlyphs(*grids[partOf[at].first], read[at]);
      if (candidatesOnly)
        candidates_.read[{boxes[at].x(), boxes[at].y(), boxes[at].width(), boxes[at].height()}] = read[at];
      parts.push_back({partOf[at], std::move(read[at])});
    }
  }
  if (candidatesOnly) {
    candidates_.image = image.cacheKey();
  } else {
    candidates_ = {};
  }

  // The parts of a line make one line, in their order.
  std::stable_sort(parts.begin(), parts.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RecognizedLine> result;
  const std::pair<size_t, size_t>* last = nullptr;
  for (auto& [key, part] : parts) {
    if (part.text.empty()) continue;
    if (!last || *last != key) {
      result.push_back(std::move(part));
      last = &key;
      continue;
    }
    RecognizedLine& line = result.back();
    const auto size = static_cast<float>(line.text.size()), more = static_cast<float>(part.text.size());
    line.confidence = (line.confidence * size + part.confidence * more) / (size + more);
    line.text += ' ' + part.text;
    line.bounds |= part.bounds;
    line.words.insert(line.words.end(), part.words.begin(), part.words.end());
  }
  return result;
}

void TesseractRecognizer::learnGlyphs(const GridLine& grid, const RecognizedLine& read) {
  if (votes_.size() > mostGlyphsKept) votes_.clear(), glyphs_.clear();
  for (const RecognizedWord& word : read.words) {
    const std::vector<std::string> characters = unicode::graphemes(word.text);
    const std::vector<uint64_t> keys = GlyphGrid::cellsUnder(grid, word.bounds.left(), word.bounds.right());
    if (keys.empty() || keys.size() != characters.size()) continue;
    for (size_t at = 0; at < keys.size(); ++at) vote(keys[at], characters[at], read.confidence);
  }
}

void TesseractRecognizer::vote(uint64_t key, const std::string& character, float confidence) {
  std::map<std::string, int>& votes = votes_[key];
  ++votes[character];
  int top = 0, others = 0;
  const std::string* best = nullptr;
  for (const auto& [read, count] : votes) {
    if (count > top)
      others += top, top = count, best = &read;
    else
      others += count;
  }
  if (top >= agreeingReadings && top >= 4 * others) {
    glyphs_[key] = {*best, confidence};
  } else {
    glyphs_.erase(key);
  }
}

bool TesseractRecognizer::readSnippets(const std::vector<const GridLine*>& lines, const GrayPixels& pixels,
                                       std::unordered_map<uint64_t, GlyphReading>& once) {
  std::unordered_set<uint64_t> unread;
  for (const GridLine* line : lines) {
    for (const GlyphCell& cell : line->cells) {
      if (cell.key && !glyphs_.contains(cell.key)) unread.insert(cell.key);
    }
  }
  stats_.unreadGlyphs = unread.size();
  // What the pieces read each glyph as, and how often.
  std::unordered_map<uint64_t, std::map<std::string, int>> readAs;
  std::unordered_map<uint64_t, GlyphReading> known;
  // Glyphs known, and read in this image by more pieces one way than twice
  // as many others: the context of the next round.
  const auto settle = [&] {
    known = glyphs_;
    for (const auto& [key, characters] : readAs) {
      const auto top = std::max_element(characters.begin(), characters.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; });
      int others = 0;
      for (const auto& [character, count] : characters) others += &character != &top->first ? count : 0;
      if (top->second > 2 * others) known.emplace(key, GlyphReading{top->first, 0.5f});
    }
  };
  for (int round = 0; round < snippetRounds; ++round) {
    settle();
    // Each round cuts its pieces elsewhere: from the other end, shifted.
    std::vector<const GridLine*> order = lines;
    if (round % 2) std::reverse(order.begin(), order.end());
    const std::vector<SnippetLine> sheets = GlyphSnippets::lay(pixels, order, known, round);
    if (sheets.empty()) break;
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    if (!loaded(std::min({static_cast<size_t>(mostEngines), cores, sheets.size()}))) return false;
    std::vector<RecognizedLine> read(sheets.size());
    std::vector<QRect> extents;
    for (const SnippetLine& sheet : sheets) extents.emplace_back(0, 0, sheet.width, sheet.height);
    acrossEngines(engines_, extents, [&](tesseract::TessBaseAPI& engine, size_t at) {
      const SnippetLine& sheet = sheets[at];
      // Twice the size, on a margin of white: small text reads better so.
      const int margin = sheet.height / 3;
      QImage image(sheet.width, sheet.height + 2 * margin, QImage::Format_Grayscale8);
      image.fill(255);
      for (int y = 0; y < sheet.height; ++y)
        std::copy_n(sheet.pixels.data() + static_cast<long>(y) * sheet.width, sheet.width,
                    image.scanLine(y + margin));
      image = image.scaled(image.size() * snippetScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      read[at] = readLine(engine, image, image.rect());
    });
    // Each piece is checked against the glyphs known before the round, so
    // that no piece vouches for another; a glyph read two ways in one piece,
    // or a known one read otherwise, makes the whole piece count for nothing.
    for (size_t at = 0; at < sheets.size(); ++at) {
      std::vector<SnippetWord> words;
      for (const RecognizedWord& word : read[at].words)
        words.push_back({word.text, word.bounds.left() / snippetScale, word.bounds.right() / snippetScale});
      for (const auto& [key, character] :
           GlyphSnippets::taught(sheets[at], words, known, &stats_.piecesTaught)) {
        vote(key, character, read[at].confidence);
        ++readAs[key][character];
      }
      stats_.pieces += sheets[at].pieces.size();
    }
    stats_.snippetLines += sheets.size();
  }
  settle();
  for (const auto& [key, reading] : known) {
    if (!glyphs_.contains(key)) once[key] = reading;
  }
  return true;
}

std::vector<RecognizedLine> TesseractRecognizer::recognizePage(const QImage& image) {
  const QImage gray = preparedImage(image);
  std::lock_guard lock(mutex_);
  if (!loaded(1)) return {};
  tesseract::TessBaseAPI& api = *engines_.front();
  api.SetImage(gray.constBits(), gray.width(), gray.height(), 1, static_cast<int>(gray.bytesPerLine()));
  api.SetSourceResolution(screenResolution);
  std::vector<RecognizedLine> lines;
  if (api.Recognize(nullptr) == 0) {
    std::unique_ptr<tesseract::ResultIterator> iterator(api.GetIterator());
    constexpr auto level = tesseract::RIL_TEXTLINE;
    if (iterator && !iterator->Empty(level)) {
      do {
        std::unique_ptr<char[]> text(iterator->GetUTF8Text(level));
        if (!text) continue;
        RecognizedLine line{withoutSurroundingSpace(text.get()), iterator->Confidence(level) / 100.0f,
                            boundsAt(*iterator, level)};
        // The line's words; the iterator then rests on its last one.
        do {
          std::unique_ptr<char[]> word(iterator->GetUTF8Text(tesseract::RIL_WORD));
          if (word && word[0] != 0)
            line.words.push_back({word.get(), boundsAt(*iterator, tesseract::RIL_WORD)});
        } while (!iterator->IsAtFinalElement(level, tesseract::RIL_WORD) &&
                 iterator->Next(tesseract::RIL_WORD));
        lines.push_back(std::move(line));
      } while (iterator->Next(level));
    }
  }
  api.Clear();
  return lines;
}

}  // namespace lumacap
