#include "app/views/CaptureFolderSetting.h"

#include <QCheckBox>
#include <QCoroFuture>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>

#include "app/model/AppModel.h"
#include "app/model/SettingsManager.h"
#include "app/model/StatusText.h"
#include "core/ScreenshotStore.h"

namespace lumacap {
namespace {

// Creates the folder and writes to it once, on a worker; why it cannot be
// used, if it cannot.
QString preparedFolder(const std::filesystem::path& folder) {
  try {
    ScreenshotStore::prepareFolder(folder);
    return {};
  } catch (const std::exception& failure) {
    return QString::fromUtf8(failure.what());
  }
}

}  // namespace

CaptureFolderSetting::CaptureFolderSetting(AppModel& model, SettingsManager& settings, QWidget* parent)
    : QWidget(parent), model_(model), settings_(settings) {
  auto* label = new QLabel(QStringLiteral("Capture folder:"), this);
  folder_ = new QLabel(this);
  folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  change_ = new QPushButton(QStringLiteral("Change…"), this);
  change_->setAccessibleName(QStringLiteral("Change the capture folder"));
  saveEvery_ = new QCheckBox(QStringLiteral("Save every capture to the capture folder"), this);
  saveEvery_->setToolTip(
      QStringLiteral("Each capture is saved as a PNG under its suggested name as it is "
                     "taken; an existing file is never replaced."));
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label, 0, 0);
  layout->addWidget(folder_, 0, 1);
  layout->addWidget(change_, 0, 2);
  layout->addWidget(saveEvery_, 1, 0, 1, 4);
  layout->setColumnStretch(1, 1);
  layout->setVerticalSpacing(2);

  connect(change_, &QPushButton::clicked, this, [this] {
    // Not modal in the Qt sense: the GUI thread keeps running its own loop.
    delete dialog_;
    dialog_ = new QFileDialog(window(), QStringLiteral("Choose the Capture Folder"),
                              QString::fromStdString(folder(settings_).string()));
    dialog_->setFileMode(QFileDialog::Directory);
    dialog_->setOption(QFileDialog::ShowDirsOnly);
    dialog_->setWindowModality(Qt::WindowModal);
    connect(dialog_, &QFileDialog::fileSelected, this,
            [this](const QString& chosen) { choose(chosen.toStdString()); });
    dialog_->open();
  });
  connect(saveEvery_, &QCheckBox::clicked, this, [this](bool save) {
    try {
      settings_.setSaveEveryCapture(save);
    } catch (const std::exception& failure) {
      emit message(QString::fromUtf8(failure.what()));
    }
    render();
  });
  render();
}

void CaptureFolderSetting::addToRow(QWidget* button) {
  static_cast<QGridLayout*>(layout())->addWidget(button, 0, 3);
}

std::filesystem::path CaptureFolderSetting::folder(const SettingsManager& settings) {
  return settings.captureFolder().value_or(ScreenshotStore::defaultRoot() / "Captures");
}

void CaptureFolderSetting::render() {
  const QString path = QString::fromStdString(folder(settings_).string());
  folder_->setText(folder_->fontMetrics().elidedText(path, Qt::ElideMiddle, 170));
  folder_->setToolTip(path);
  saveEvery_->setChecked(settings_.saveEveryCapture());
}

QCoro::Task<> CaptureFolderSetting::choose(std::filesystem::path folder) {
  const QPointer<CaptureFolderSetting> self(this);
  emit message({});
  const QString refusal = co_await QtConcurrent::run(&preparedFolder, folder);
  if (!self) co_return;
  if (!refusal.isEmpty()) {
    emit message(QString::fromUtf8(StatusText::folderRefused).arg(refusal));
    co_return;
  }
  const size_t count = model_.capturesOutside(folder);
  if (count == 0) {
    co_await apply(std::move(folder), false);
  } else {
    ask(folder, count);
  }
}

void CaptureFolderSetting::ask(const std::filesystem::path& folder, size_t count) {
  delete question_;
  const QString captures =
      count == 1 ? QStringLiteral("1 saved capture is") : QStringLiteral("%1 saved captures are").arg(count);
  question_ = new QMessageBox(
      QMessageBox::Question, QStringLiteral("Move your captures?"),
      QStringLiteral("%1 in another folder. Move them to %2 with their history entries? If you don't, they "
                     "stay where they are and stay listed; new captures go to the new folder.")
          .arg(captures, QString::fromStdString(folder.string())),
      QMessageBox::Cancel, window());
  question_->setWindowModality(Qt::WindowModal);
  QPushButton* move = question_->addButton(QStringLiteral("Move"), QMessageBox::AcceptRole);
  QPushButton* keep = question_->addButton(QStringLiteral("Don't Move"), QMessageBox::RejectRole);
  question_->setDefaultButton(move);
  connect(question_, &QMessageBox::finished, this, [this, folder, move, keep] {
    QAbstractButton* clicked = question_->clickedButton();
    question_->deleteLater();
    question_ = nullptr;
    if (clicked == move || clicked == keep) apply(folder, clicked == move);
  });
  question_->open();
}

QCoro::Task<> CaptureFolderSetting::apply(std::filesystem::path folder, bool move) {
  const QPointer<CaptureFolderSetting> self(this);
  QString failed;
  try {
    co_await model_.chooseCaptureFolder(folder, move);
  } catch (const std::exception& failure) {
    failed = QString::fromUtf8(move ? StatusText::capturesNotMoved : StatusText::folderRefused)
                 .arg(QString::fromUtf8(failure.what()));
  }
  if (!self) co_return;
  try {
    if (failed.isEmpty()) settings_.setCaptureFolder(folder);
  } catch (const std::exception& failure) {
    failed = QString::fromUtf8(failure.what());
  }
  emit message(failed);
  render();
}

}  // namespace lumacap
