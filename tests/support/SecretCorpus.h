#pragma once

// Made-up secrets of every kind the detector knows, mixed with ordinary code,
// logs and prose, rendered as terminal screenshots in a monospaced font; and
// ordinary terminal screenshots without any secret. Each page is made from a
// seed, so that runs are repeatable and every page differs.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QStringList>
#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "core/SecretDetector.h"

namespace lumacap::test {

// Where a secret was written: its first line and column, its length, and
// for a block the number of lines it spans (every line whole after the first).
struct PlantedSecret {
  SecretKind kind;
  int line = 0;
  int column = 0;
  int length = 0;
  int lineCount = 1;
};

// Where the image's edge cuts the page: nowhere, through every line at the
// left or the right (each line at another column; a secret a few characters
// in from its start or end), or through a private-key block at the top
// (its BEGIN line gone) or the bottom (its END line gone).
enum class Cut { whole, left, right, top, bottom };

struct CorpusPage {
  QStringList lines;
  std::vector<PlantedSecret> secrets;
  int scale = 1;  // the screen's density: 2 draws everything twice as large
  bool dark = true;
  QString family = "DejaVu Sans Mono";
  int pixels = 14;  // the text's size at a scale of 1
  Cut cut = Cut::whole;
  std::vector<double> shifts = {};  // per line, for left and right cuts: characters moved out
};

// The monospaced fonts of the corpus (Debian's fonts-dejavu-core,
// fonts-liberation, fonts-noto-mono, fonts-hack, fonts-firacode).
inline QStringList corpusFamilies() {
  return {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono", "Hack", "Fira Code"};
}

class CorpusRandom {
 public:
  explicit CorpusRandom(unsigned seed) : engine_(seed) {}

  int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(engine_); }
  QString from(const char* alphabet, int length) {
    const QString letters = QString::fromLatin1(alphabet);
    QString text;
    for (int i = 0; i < length; ++i) text += letters[below(static_cast<int>(letters.size()))];
    return text;
  }
  QString alnum(int length) {
    return from("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", length);
  }
  QString urlSafe(int length) {
    return from("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-", length);
  }
  QString base64(int length) {
    return from("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", length);
  }
  QString digits(int length) { return from("0123456789", length); }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[static_cast<size_t>(below(static_cast<int>(items.size())))];
  }
  std::mt19937& engine() { return engine_; }

 private:
  std::mt19937 engine_;
};

// Ordinary lines of terminals and editors: builds, logs, version control,
// listings and code, with the hashes, ids and encoded data they hold.
inline std::vector<QString> ordinaryLines() {
  return {
      "$ make -j8 all",
      "g++ -O2 -Wall -c src/server/connection.cpp -o build/connection.o",
      "src/server/connection.cpp:42:10: error: 'socket' was not declared in this scope",
      "make: *** [Makefile:31: build] Error 1",
      "$ git log --oneline -3",
      "3f9a2c1 Fix the retry loop when the upload times out",
      "b7e4d90 Merge branch 'feature/token-refresh' into main",
      "commit 9c1e5b7a3d2f4e8b6a0c9d7e5f3a1b2c4d6e8f0a",
      "Author: Jane Developer <jane@example.com>",
      "Date:   Mon Dec 7 10:14:02 2026 +0100",
      "$ git status",
      "On branch feature/upload-retry",
      "Changes not staged for commit:",
      "  modified:   src/auth/token_store.cpp",
      "  modified:   tests/password_policy_test.cpp",
      "$ npm test",
      "PASS tests/naming.test.js (1.2 s)",
      "FAIL tests/upload.test.js",
      "  Expected status 200 but received 503",
      "Tests: 1 failed, 12 passed, 13 total",
      "$ curl -I http://localhost:8080/health",
      "HTTP/1.1 503 Service Unavailable",
      "Content-Type: application/json; charset=utf-8",
      "ETag: W/\"5e2-1a7b3c9d4e8f2a6b\"",
      "$ docker ps",
      "CONTAINER ID   IMAGE          COMMAND                  STATUS         NAMES",
      "4c2a9f1e7b3d   postgres:16    \"docker-entrypoint.s…\"   Up 3 hours     db",
      "sha256:8d3f1c5e7a9b2d4f6e8a0c1b3d5f7e9a2c4b6d8f0e1a3c5b7d9f2e4a6c8b0d1f",
      "$ sha256sum release.tar.gz",
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  release.tar.gz",
      "request_id=7f3e9c2a-4b1d-4e8f-9a6c-2d5b8e1f0c3a status=200 duration=41ms",
      "INFO  [2026-12-07 10:15:03] worker-3 picked job 18734 (priority 2)",
      "WARN  [2026-12-07 10:15:04] token refresh took 812 ms",
      "ERROR [2026-12-07 10:15:09] password policy rejected the new password",
      "$ ls -l",
      "-rw-r--r--  1 jane jane  4096 Dec  7 09:58 CMakeLists.txt",
      "drwxr-xr-x  5 jane jane  4096 Dec  7 10:02 src",
      "-rw-------  1 jane jane   411 Dec  7 10:03 id_ed25519.pub",
      "def check_password(user, password):",
      "    return bcrypt.checkpw(password.encode(), user.password_hash)",
      "const token = await getAccessToken(session);",
      "if (!token) throw new Error(\"missing token\");",
      "password = getpass.getpass(\"Password: \")",
      "secret_name: prod/database/credentials",
      "token_type: Bearer",
      "max_tokens: 4096",
      "\"usage\": {\"input_tokens\": 1523, \"output_tokens\": 212}",
      "  \"integrity\": \"sha512-v2kDEe57lecTulaDIuNTPy3Ry4gLGJ6Z1O3vE1krgXZNrsQ+LFTGHVxVjcXPs==\",",
      "<img src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk\">",
      "The key fingerprint is SHA256:Q1Jm5xY8wT2vE9r3nK6pL0aB4cD7fG1hI2jK3lM4nO5 jane@laptop",
      "Generating public/private ed25519 key pair.",
      "Your identification has been saved in /home/jane/.ssh/id_ed25519",
      "pip install requests==2.31.0 urllib3==2.0.7 certifi==2023.7.22",
      "Successfully installed numpy-1.26.2 pandas-2.1.4 python-dateutil-2.8.2",
      "uuid: 123e4567-e89b-12d3-a456-426614174000",
      "Session started for user jane (uid 1000) at pts/3",
      "kubectl get pods -n payments",
      "payments-api-7d9f8c6b5d-x2k4p   1/1     Running   0          3h",
      "Please enter the password for the signing key when prompted.",
      "Run `gh auth login` to authenticate with GitHub.",
      "export PATH=\"$HOME/.local/bin:$PATH\"",
      "DATABASE_URL=postgres://localhost:5432/app",
      "API_TOKEN=${API_TOKEN:?must be set}",
      "password: ${DB_PASSWORD}",
      "SECRET_KEY = os.environ[\"SECRET_KEY\"]",
      "  client_secret: <your client secret>",
      "Compiling serde v1.0.193",
      "   Finished release [optimized] target(s) in 42.17s",
      "warning: unused variable: `token`",
      "test auth::tests::rejects_expired_token ... ok",
      "The build finished with 3 warnings and no errors.",
      "Deploying version 2.14.0 to staging (build 8812)",
      "Cache hit ratio 93.4% over the last 15 minutes",
  };
}

// Made-up secrets of one kind, written as they appear in configuration,
// shells and code: the lines, and where in them the secret is.
struct SecretSnippet {
  QStringList lines;
  PlantedSecret secret;  // its line counts from the snippet's first line
};

inline SecretSnippet secretSnippet(SecretKind kind, CorpusRandom& random) {
  const auto at = [](const QString& line, const QString& secret) {
    return PlantedSecret{SecretKind::highEntropy, 0, static_cast<int>(line.indexOf(secret)),
                         static_cast<int>(secret.size())};
  };
  SecretSnippet snippet;
  QString secret, line;
  switch (kind) {
    case SecretKind::privateKey: {
      const QString type = random.pick<QString>({"RSA ", "OPENSSH ", "EC ", ""});
      snippet.lines << "-----BEGIN " + type + "PRIVATE KEY-----";
      for (int i = 0; i < 3; ++i) snippet.lines << random.base64(64);
      snippet.lines << "-----END " + type + "PRIVATE KEY-----";
      snippet.secret = {kind, 0, 0, static_cast<int>(snippet.lines[0].size()), 5};
      return snippet;
    }
    case SecretKind::awsAccessKeyID:
      secret = "AKIA" + random.from("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", 16);
      line = random.pick<QString>({"aws_access_key_id = ", "export AWS_ACCESS_KEY_ID=", "  AccessKeyId: "}) +
             secret;
      break;
    case SecretKind::awsSecretKey:
      secret = random.base64(40);
      line = random.pick<QString>(
                 {"aws_secret_access_key = ", "export AWS_SECRET_ACCESS_KEY=", "  SecretAccessKey: "}) +
             secret;
      break;
    case SecretKind::githubToken:
      secret = random.below(3) ? random.pick<QString>({"ghp_", "gho_", "ghs_"}) + random.alnum(36)
                               : "github_pat_" + random.alnum(22) + "_" + random.alnum(59);
      line =
          random.pick<QString>({"GITHUB_TOKEN=", "git clone https://x-access-token:", "  token: "}) + secret;
      if (line.startsWith("git clone")) line += "@github.com/acme/api.git";
      break;
    case SecretKind::gitlabToken:
      secret = "glpat-" + random.urlSafe(20);
      line = random.pick<QString>({"curl --header \"PRIVATE-TOKEN: ", "GITLAB_TOKEN=", "gitlab_token = \""}) +
             secret + random.pick<QString>({"\" https://gitlab.example.com/api/v4/projects", "", "\""});
      break;
    case SecretKind::slackToken:
      secret = random.pick<QString>({"xoxb-", "xoxp-"}) + random.digits(12) + "-" + random.digits(13) + "-" +
               random.alnum(24);
      line = random.pick<QString>({"SLACK_BOT_TOKEN=", "slack.token = \"", "Using Slack token "}) + secret;
      break;
    case SecretKind::stripeKey:
      secret = random.pick<QString>({"sk_live_", "rk_live_"}) + random.alnum(random.pick<int>({24, 34, 48}));
      line = random.pick<QString>({"stripe.api_key = \"", "STRIPE_SECRET_KEY=", "const stripe = Stripe('"}) +
             secret;
      break;
    case SecretKind::googleAPIKey:
      secret = "AIza" + random.urlSafe(35);
      line = random.pick<QString>(
                 {"const mapsKey = \"", "GOOGLE_API_KEY=", "https://maps.googleapis.com/maps/api/js?key="}) +
             secret;
      break;
    case SecretKind::openAIKey:
      secret = random.below(2) ? "sk-proj-" + random.urlSafe(48) + "T3BlbkFJ" + random.urlSafe(20)
                               : "sk-" + random.alnum(20) + "T3BlbkFJ" + random.alnum(20);
      line = random.pick<QString>({"OPENAI_API_KEY=", "client = OpenAI(api_key=\"", "export OPENAI_KEY="}) +
             secret;
      break;
    case SecretKind::anthropicKey:
      secret = "sk-ant-api03-" + random.urlSafe(93) + "AA";
      line =
          random.pick<QString>({"ANTHROPIC_API_KEY=", "export ANTHROPIC_API_KEY=", "x-api-key: "}) + secret;
      break;
    case SecretKind::jsonWebToken:
      secret = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9.eyJ" + random.urlSafe(random.pick<int>({40, 60, 80})) +
               "." + random.urlSafe(43);
      line = random.pick<QString>({"jwt: ", "Cookie: session=", "id_token="}) + secret;
      break;
    case SecretKind::bearerToken:
      secret = random.alnum(random.pick<int>({32, 40}));
      line = random.pick<QString>({"curl -H \"Authorization: Bearer ", "Authorization: Bearer ",
                                   "  -H 'Authorization: Bearer "}) +
             secret + random.pick<QString>({"\" https://api.example.com/v1/items", "", "' \\"});
      break;
    case SecretKind::urlPassword:
      secret = random.alnum(10) + random.pick<QString>({"!", "#", "%21", "x"}) + random.digits(2);
      line = random.pick<QString>(
                 {"DATABASE_URL=postgres://app_user:", "redis://default:", "git clone https://jane:"}) +
             secret +
             random.pick<QString>(
                 {"@db.internal:5432/app", "@cache.internal:6379/0", "@git.example.com/acme/api.git"});
      break;
    case SecretKind::assignedSecret:
      secret = random.alnum(8) + random.pick<QString>({"!", "#", "-", "."}) + random.digits(3);
      line = random.pick<QString>({"password = \"", "DB_PASSWORD=", "  \"client_secret\": \"", "secret: "}) +
             secret + random.pick<QString>({"\"", "", "\",", ""});
      break;
    case SecretKind::cutToken:  // what an edge leaves of the others
    case SecretKind::highEntropy:
      secret = random.alnum(random.pick<int>({24, 32}));
      line = random.pick<QString>({"Your new session token is ", "Recovery key  ",
                                   "Copy this secret now, it is shown once: "}) +
             secret;
      break;
  }
  snippet.lines << line;
  snippet.secret = at(line, secret);
  snippet.secret.kind = kind;
  return snippet;
}

// One screen of a terminal: a made-up secret of every kind, in a random
// order, between ordinary lines.
inline CorpusPage secretPage(unsigned seed, int scale, bool dark) {
  CorpusRandom random(seed);
  const std::vector<QString> ordinary = ordinaryLines();
  std::vector<SecretKind> kinds(allSecretKinds.begin(), allSecretKinds.end());
  std::erase(kinds, SecretKind::cutToken);
  std::shuffle(kinds.begin(), kinds.end(), random.engine());
  CorpusPage page{{}, {}, scale, dark};
  for (SecretKind kind : kinds) {
    page.lines << random.pick(ordinary);
    SecretSnippet snippet = secretSnippet(kind, random);
    snippet.secret.line += static_cast<int>(page.lines.size());
    page.secrets.push_back(snippet.secret);
    page.lines << snippet.lines;
  }
  page.lines << random.pick(ordinary);
  return page;
}

// One screen of a terminal with ordinary lines only.
inline CorpusPage ordinaryPage(unsigned seed, int scale, bool dark, int lineCount = 36) {
  CorpusRandom random(seed);
  std::vector<QString> lines = ordinaryLines();
  std::shuffle(lines.begin(), lines.end(), random.engine());
  CorpusPage page{{}, {}, scale, dark};
  for (int i = 0; i < lineCount && i < static_cast<int>(lines.size()); ++i)
    page.lines << lines[static_cast<size_t>(i)];
  return page;
}

inline QFont corpusFont(const CorpusPage& page) {
  QFont font(page.family);
  font.setPixelSize(page.pixels * page.scale);
  return font;
}

inline int corpusLineHeight(const CorpusPage& page) { return (page.pixels * 4 / 3 + 1) * page.scale; }
inline int corpusMargin(const CorpusPage& page) { return 12 * page.scale; }
inline double corpusAdvance(const CorpusPage& page) {
  return QFontMetricsF(corpusFont(page)).horizontalAdvance('M');
}

// Where a line's first character is drawn: after the margin, or moved out
// by the line's shift for left cuts (the edge then cuts into a character),
// or so that the shift's characters from its end pass the right edge.
inline double lineLeft(const CorpusPage& page, int line, double width) {
  const double advance = corpusAdvance(page);
  if (page.cut == Cut::left) return -page.shifts[static_cast<size_t>(line)] * advance;
  if (page.cut == Cut::right)
    return width -
           (static_cast<double>(page.lines[line].size()) - page.shifts[static_cast<size_t>(line)]) * advance;
  return corpusMargin(page);
}

// The rows of the page the image keeps: top and bottom cuts leave out a
// private-key block's first or last line and show half of the line before.
inline std::pair<double, double> keptRows(const CorpusPage& page) {
  const double lineHeight = corpusLineHeight(page);
  const double full = 2 * corpusMargin(page) + lineHeight * static_cast<double>(page.lines.size());
  for (const PlantedSecret& secret : page.secrets) {
    if (secret.lineCount < 2) continue;
    const double blockTop = corpusMargin(page) + lineHeight * secret.line;
    if (page.cut == Cut::top) return {blockTop + lineHeight * 0.6, full};
    if (page.cut == Cut::bottom)
      return {0, blockTop + lineHeight * (secret.lineCount - 1) + lineHeight * 0.4};
  }
  return {0, full};
}

// Cut pages show three quarters of the longest line.
inline int pageWidth(const CorpusPage& page) {
  int columns = 0;
  for (const QString& line : page.lines) columns = std::max(columns, static_cast<int>(line.size()));
  const double advance = corpusAdvance(page);
  return page.cut == Cut::left || page.cut == Cut::right
             ? static_cast<int>(advance * columns * 0.75)
             : 2 * corpusMargin(page) + static_cast<int>(advance * columns);
}

inline QImage renderedPage(const CorpusPage& page) {
  const QFont font = corpusFont(page);
  const QFontMetricsF metrics(font);
  const int width = pageWidth(page);
  const auto [top, bottom] = keptRows(page);
  QImage image(width, static_cast<int>(bottom - top), QImage::Format_RGB32);
  image.fill(page.dark ? QColor(30, 30, 30) : QColor(255, 255, 255));
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(page.dark ? QColor(220, 220, 220) : QColor(20, 20, 20));
  for (int i = 0; i < page.lines.size(); ++i) {
    const double baseline = corpusMargin(page) + corpusLineHeight(page) * i + metrics.ascent() - top;
    painter.drawText(QPointF(lineLeft(page, i, width), baseline), page.lines[i]);
  }
  return image;
}

// The same page cut at an edge: each line moved by a random part of a
// character and, for left and right cuts, a secret's line so that the edge
// cuts a few characters into the secret (its prefix, a JSON Web Token's
// "ey") or before its end.
inline CorpusPage cutPage(CorpusPage page, Cut cut, unsigned seed) {
  CorpusRandom random(seed);
  page.cut = cut;
  page.shifts.assign(static_cast<size_t>(page.lines.size()), 0);
  for (int i = 0; i < page.lines.size(); ++i) {
    const int length = static_cast<int>(page.lines[i].size());
    page.shifts[static_cast<size_t>(i)] = random.below(std::max(1, length / 3)) + 0.1 * random.below(8);
  }
  for (const PlantedSecret& secret : page.secrets) {
    const double into = std::clamp(secret.length / 4, 2, 8) + 0.1 * random.below(8);
    if (cut == Cut::left) page.shifts[static_cast<size_t>(secret.line)] = secret.column + into;
    if (cut == Cut::right) {
      const int after = static_cast<int>(page.lines[secret.line].size()) - secret.column - secret.length;
      page.shifts[static_cast<size_t>(secret.line)] = after + into;
    }
  }
  return page;
}

// The pixels a planted secret covers, a rectangle per line.
// The pixels a planted secret covers in the image, a rectangle per line
// (what of it the cut left).
inline std::vector<QRectF> plantedRects(const CorpusPage& page, const PlantedSecret& secret) {
  const QFontMetricsF metrics(corpusFont(page));
  const auto [keptTop, keptBottom] = keptRows(page);
  const double advance = corpusAdvance(page);
  const int width = pageWidth(page);
  const QRectF image(0, 0, width, keptBottom - keptTop);
  std::vector<QRectF> rects;
  for (int i = 0; i < secret.lineCount; ++i) {
    const QString& line = page.lines[secret.line + i];
    const int column = i == 0 ? secret.column : 0;
    const int length = i == 0 ? secret.length : static_cast<int>(line.size());
    const double left = lineLeft(page, secret.line + i, width) + advance * column;
    const double top = corpusMargin(page) + corpusLineHeight(page) * (secret.line + i) - keptTop;
    // The ink of the characters: from the cap height to the baseline (and
    // the descenders below it).
    const double inkTop = top + metrics.ascent() - metrics.capHeight();
    const QRectF rect =
        QRectF(left, inkTop, advance * length, metrics.capHeight() + metrics.descent() * 0.5) & image;
    if (rect.height() >= metrics.capHeight() * 0.9 && rect.width() > advance) rects.push_back(rect);
  }
  return rects;
}

// How much of `target` the rectangles cover, from 0 to 1 (they may overlap
// each other; sampled on a grid of 1-pixel cells).
inline double coveredShare(const QRectF& target, const std::vector<QRectF>& cover) {
  int inside = 0, total = 0;
  for (double y = target.top() + 0.5; y < target.bottom(); y += 1) {
    for (double x = target.left() + 0.5; x < target.right(); x += 1) {
      ++total;
      inside += std::any_of(cover.begin(), cover.end(), [&](const QRectF& r) { return r.contains(x, y); });
    }
  }
  return total ? static_cast<double>(inside) / total : 1;
}

// A page's score: which planted secrets the boxes redaction would black out
// cover (all of their characters' pixels, allowing a sliver at the edges)
// and which findings cover no planted secret.
struct PageScore {
  std::map<SecretKind, int> found;
  std::map<SecretKind, int> planted;
  std::vector<size_t> falseAlarms;  // indices of the findings
};

inline QRectF toQRectF(const Rect& rect) { return QRectF(rect.x, rect.y, rect.width, rect.height); }

inline PageScore scorePage(const CorpusPage& page, const std::vector<SecretFinding>& findings) {
  std::vector<QRectF> cover;
  for (const Rect& box : SecretDetector::redactionBoxes(findings)) cover.push_back(toQRectF(box));
  PageScore score;
  std::vector<QRectF> planted;
  for (const PlantedSecret& secret : page.secrets) {
    const std::vector<QRectF> rects = plantedRects(page, secret);
    if (rects.empty()) continue;  // the cut took it all
    ++score.planted[secret.kind];
    planted.insert(planted.end(), rects.begin(), rects.end());
    const bool covered = std::all_of(rects.begin(), rects.end(),
                                     [&](const QRectF& rect) { return coveredShare(rect, cover) >= 0.97; });
    score.found[secret.kind] += covered;
  }
  for (size_t i = 0; i < findings.size(); ++i) {
    const bool onSecret =
        std::any_of(findings[i].boxes.begin(), findings[i].boxes.end(), [&](const Rect& box) {
          return std::any_of(planted.begin(), planted.end(),
                             [&](const QRectF& rect) { return rect.intersects(toQRectF(box)); });
        });
    if (!onSecret) score.falseAlarms.push_back(i);
  }
  return score;
}

}  // namespace lumacap::test
