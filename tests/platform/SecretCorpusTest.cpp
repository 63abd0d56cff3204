// Secrets on rendered terminal screens, read by the real recognizer and
// looked for by the detector: a few pages of the corpus that bench/secrets_bench
// (--table) scores in full.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "app/model/OCRService.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/SecretCorpus.h"

using namespace lumacap;
using namespace lumacap::test;

namespace {

std::vector<SecretFinding> findingsOf(const QImage& image) {
  return SecretDetector::find(OCRService::textLines(TesseractRecognizer::shared()->recognize(image)));
}

bool verbose() { return std::getenv("LUMACAP_SECRETS_VERBOSE") != nullptr; }

void explain(const CorpusPage& page, const std::vector<SecretFinding>& findings, const PageScore& score) {
  if (!verbose()) return;
  for (const auto& [kind, planted] : score.planted) {
    if (score.found.at(kind) == planted) continue;
    for (const PlantedSecret& secret : page.secrets) {
      if (secret.kind != kind) continue;
      const QRectF rect = plantedRects(page, secret).front();
      std::cout << "  missed " << SecretDetector::name(kind) << ": " << page.lines[secret.line].toStdString()
                << " at " << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height()
                << "\n";
    }
  }
  for (const SecretFinding& finding : findings) {
    std::cout << "  found " << SecretDetector::name(finding.kind);
    for (const Rect& box : finding.boxes)
      std::cout << " [" << box.x << "," << box.y << " " << box.width << "x" << box.height << "]";
    std::cout << "\n";
  }
  for (const RecognizedLine& line : TesseractRecognizer::shared()->recognize(renderedPage(page)))
    std::cout << "  | " << line.bounds.y() << " " << line.text << "\n";
}

}  // namespace

TEST(SecretCorpus, FindsEverySecretKindOnTerminalScreensAt1xAnd2x) {
  std::map<SecretKind, int> found;
  int falsePositives = 0;
  for (const auto& [seed, scale, dark] : {std::tuple(101u, 1, true), std::tuple(102u, 2, false)}) {
    const CorpusPage page = secretPage(seed, scale, dark);
    const QImage image = renderedPage(page);
    const std::vector<SecretFinding> findings = findingsOf(image);
    const PageScore score = scorePage(page, findings);
    explain(page, findings, score);
    for (const auto& [kind, count] : score.found) found[kind] += count;
    falsePositives += score.falsePositives;
  }
  for (SecretKind kind : allSecretKinds) {
    EXPECT_EQ(found[kind], 2) << SecretDetector::name(kind);
  }
  EXPECT_LE(falsePositives, 1);
}

TEST(SecretCorpus, OrdinaryTerminalScreensHoldNoSecrets) {
  int falsePositives = 0;
  for (const auto& [seed, scale, dark] : {std::tuple(201u, 1, true), std::tuple(202u, 2, false)}) {
    const CorpusPage page = ordinaryPage(seed, scale, dark);
    const std::vector<SecretFinding> findings = findingsOf(renderedPage(page));
    explain(page, findings, scorePage(page, findings));
    falsePositives += static_cast<int>(findings.size());
  }
  EXPECT_EQ(falsePositives, 0);
}
