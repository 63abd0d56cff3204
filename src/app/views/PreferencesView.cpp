#include "app/views/PreferencesView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoroFuture>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <algorithm>
#include <array>
#include <exception>

#include "app/hotkey/DesktopHotKey.h"
#include "app/model/AppModel.h"
#include "app/model/SettingsManager.h"
#include "app/model/ViewContext.h"
#include "app/views/AgentSetupPanel.h"
#include "app/views/CaptureFolderSetting.h"
#include "app/views/CaptureKeysPanel.h"
#include "app/views/DesktopHotKeyPanel.h"
#include "app/views/RetentionSetting.h"
#include "app/views/Symbols.h"
#include "core/ScreenshotStore.h"
#include "platform/FileBrowser.h"
#include "platform/StartAtLogin.h"

namespace lumacap {
namespace {

std::string keyLabelOf(uint32_t keyCode) {
  for (const ShortcutKey& key : offeredShortcutKeys) {
    if (key.keyCode == keyCode) return key.label;
  }
  return "3";
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  for (QPushButton* button : buttons) row->addWidget(button);
  row->addStretch();
  return row;
}

constexpr int calloutSize = 12;
constexpr int captionSize = 11;
constexpr int cardPadding = 14;

}  // namespace

FormSection::FormSection(QWidget* parent) : QFrame(parent) {
  rows_ = new QVBoxLayout(this);
  rows_->setContentsMargins(cardPadding, 12, cardPadding, 12);
  rows_->setSpacing(10);
}

void FormSection::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(look::primary(*this, 0.1), 1));
  painter.setBrush(look::primary(*this, 0.035));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

PreferencesView::PreferencesView(AppModel& model, ViewContext& context, QWidget* parent)
    : QWidget(parent), model_(model), context_(context) {
  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  form_ = makeForm();
  scroll_->setWidget(form_);

  // The outcome of the last action stays in sight however far the form is scrolled.
  messageFooter_ = new QWidget(this);
  QWidget* rule = look::divider(messageFooter_);
  messageLabel_ = makeText({}, calloutSize);
  messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  messageLabel_->setContentsMargins(20, 10, 20, 14);
  look::setTextColor(*messageLabel_, palette().color(QPalette::WindowText));
  auto* footer = new QVBoxLayout(messageFooter_);
  footer->setContentsMargins(0, 0, 0, 0);
  footer->setSpacing(0);
  footer->addWidget(rule);
  footer->addWidget(messageLabel_);
  messageFooter_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(scroll_, 1);
  layout->addWidget(messageFooter_);

  connect(&context_.settings, &SettingsManager::shortcutChanged, this, &PreferencesView::renderShortcut);
  loadCandidate(context_.settings.shortcut());
}

PreferencesView::~PreferencesView() = default;

QWidget* PreferencesView::makeForm() {
  auto* form = new QWidget;
  auto* layout = new QVBoxLayout(form);
  layout->setContentsMargins(20, 18, 20, 18);
  layout->setSpacing(0);

  auto addSection = [&](const QString& title, QWidget* card, QWidget* footer = nullptr) {
    if (layout->count() > 0) layout->addSpacing(18);
    auto* heading = new QLabel(title, form);
    heading->setFont(look::font(*this, 13, QFont::DemiBold));
    heading->setContentsMargins(2, 0, 0, 6);
    layout->addWidget(heading);
    layout->addWidget(card);
    if (footer) layout->addWidget(footer);
  };

  if (QWidget* limits = makeDesktopLimitsSection()) addSection(QStringLiteral("On this desktop"), limits);

  FormSection* shortcut = makeShortcutSection();
  shortcutNote_ = makeText({}, captionSize);
  shortcutNote_->setContentsMargins(cardPadding, 6, cardPadding, 0);
  addSection(QStringLiteral("Capture shortcut"), shortcut, shortcutNote_);

  auto* flow = new FormSection(form);
  flow->rows().addWidget(makeText(QStringLiteral("Capture, then paste. The image is copied automatically and "
                                                 "focus returns to your app. A small thumbnail fades after "
                                                 "seven seconds; hover to keep it, or click Edit for "
                                                 "filenames, messages, and destinations."),
                                  calloutSize));
  addSection(QStringLiteral("Capture flow"), flow);
  addSection(QStringLiteral("Claude Code"), makeClaudeCodeSection());
  addSection(QStringLiteral("Privacy & storage"), makePrivacySection());
  addSection(QStringLiteral("Startup"), makeStartupSection());
  layout->addStretch();
  return form;
}

FormSection* PreferencesView::makeDesktopLimitsSection() {
  const DesktopLimits& limits = context_.desktopLimits;
  std::vector<std::string> texts;
  for (const auto* limit : {&limits.capture, &limits.clipboard, &limits.windows, &limits.pin})
    if (*limit) texts.push_back(**limit);
  if (texts.empty()) return nullptr;
  auto* section = new FormSection;
  for (const std::string& text : texts) {
    QLabel* label = makeText(QString::fromStdString(text), calloutSize);
    look::setTextColor(*label, look::warning());
    section->rows().addWidget(label);
  }
  return section;
}

FormSection* PreferencesView::makeShortcutSection() {
  auto* section = new FormSection;
  super_ = new QCheckBox(QStringLiteral("Super"), section);
  shift_ = new QCheckBox(QStringLiteral("Shift"), section);
  alt_ = new QCheckBox(QStringLiteral("Alt"), section);
  ctrl_ = new QCheckBox(QStringLiteral("Ctrl"), section);
  key_ = new QComboBox(section);
  key_->setAccessibleName(QStringLiteral("Key"));
  key_->setFixedWidth(65);
  for (const ShortcutKey& key : offeredShortcutKeys)
    key_->addItem(QString::fromLatin1(key.label), key.keyCode);

  auto* keys = new QHBoxLayout;
  keys->setSpacing(16);
  for (QCheckBox* box : {super_, shift_, alt_, ctrl_}) {
    keys->addWidget(box);
    connect(box, &QCheckBox::toggled, this, &PreferencesView::editCandidate);
  }
  keys->addSpacing(4);
  keys->addWidget(key_);
  keys->addStretch();
  connect(key_, &QComboBox::currentIndexChanged, this, &PreferencesView::editCandidate);

  current_ = new QLabel(section);
  look::setTextColor(*current_, look::secondary(*this));
  apply_ = new QPushButton(QStringLiteral("Apply"), section);
  connect(apply_, &QPushButton::clicked, this, &PreferencesView::applyShortcut);
  auto* current = new QHBoxLayout;
  current->addWidget(current_);
  current->addStretch();
  current->addWidget(apply_);

  section->rows().addLayout(keys);
  section->rows().addLayout(current);
  // On Wayland: how the shortcut reaches Lumacap, and where the desktop binds it.
  DesktopHotKey* desktopHotKey = context_.desktopHotKey;
  if (desktopHotKey && desktopHotKey->mechanism() != HotKeyMechanism::x11Grab) {
    desktopHotKeyPanel_ = new DesktopHotKeyPanel(*desktopHotKey, section);
    section->rows().addWidget(desktopHotKeyPanel_);
  }
  captureKeys_ = new CaptureKeysPanel(context_.captureKeys, context_.settings, section);
  section->rows().addWidget(captureKeys_);
  return section;
}

FormSection* PreferencesView::makeClaudeCodeSection() {
  auto* section = new FormSection;
  install_ = new QPushButton(QStringLiteral("Install Session Hooks"), section);
  remove_ = new QPushButton(QStringLiteral("Remove Hooks"), section);
  connect(install_, &QPushButton::clicked, this, [this] { configureHooks(true); });
  connect(remove_, &QPushButton::clicked, this, [this] { configureHooks(false); });

  QVBoxLayout& rows = section->rows();
  rows.addWidget(
      makeText(QStringLiteral("Discover live sessions using local lifecycle hooks. Only the project, "
                              "session ID, process identity, and terminal app are stored. "
                              "Conversations and prompts are never saved."),
               calloutSize));
  hookStatus_ = makeText({}, captionSize);
  rows.addLayout(buttonRow({install_, remove_}));
  rows.addWidget(hookStatus_);
  hookFile_ = makeText({}, captionSize);
  hookFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  rows.addWidget(hookFile_);
  agentSetup_ = new AgentSetupPanel(context_, section);
  connect(agentSetup_, &AgentSetupPanel::message, this, &PreferencesView::setMessage);
  rows.addWidget(agentSetup_);
  rows.addWidget(
      makeText(QStringLiteral("Delivery uses a copied local image path + message. Select the right "
                              "terminal tab and paste to continue. Cursor and browser chats can use "
                              "Clipboard; their sessions are not discovered."),
               captionSize));
  return section;
}

FormSection* PreferencesView::makePrivacySection() {
  auto* section = new FormSection;
  captureFolder_ = new QPushButton(QStringLiteral("Open"), section);
  captureFolder_->setAccessibleName(QStringLiteral("Open Capture Folder"));
  captureFolder_->setToolTip(QStringLiteral("Open Capture Folder"));
  connect(captureFolder_, &QPushButton::clicked, this, &PreferencesView::openCaptureFolder);

  QVBoxLayout& rows = section->rows();
  // X11 lets any client read the screen, so there is no permission to manage here.
  rows.addWidget(
      makeText(QStringLiteral("Lumacap reads the screen only when you capture. No accounts, network "
                              "uploads, or background recording. OCR stays on this computer."),
               calloutSize));
  lookForSecrets_ = new QCheckBox(QStringLiteral("Look for secrets in captures"), section);
  connect(lookForSecrets_, &QCheckBox::clicked, this, [this](bool look) { changeLookForSecrets(look); });
  lookForSecrets_->setToolTip(
      QStringLiteral("Keys, tokens and passwords found in the text of a capture are offered for redaction "
                     "before you paste. The text is read on this computer and never leaves it."));
  rows.addWidget(lookForSecrets_);
  redactBeforeCopying_ = new QCheckBox(QStringLiteral("Redact found secrets before copying"), section);
  redactBeforeCopying_->setToolTip(QStringLiteral(
      "The clipboard waits until the capture's text is read, then gets it with the secrets blacked out."));
  connect(redactBeforeCopying_, &QCheckBox::clicked, this,
          [this](bool redact) { changeRedactBeforeCopying(redact); });
  rows.addWidget(redactBeforeCopying_);
  agentsMayRead_ = new QCheckBox(QStringLiteral("Let coding agents read captures"), section);
  agentsMayRead_->setToolTip(
      QStringLiteral("Agents you added Lumacap to as an MCP server (lumacap mcp) may list your recent "
                     "captures and read their images."));
  connect(agentsMayRead_, &QCheckBox::clicked, this, [this](bool allow) { changeAgentsMayRead(allow); });
  rows.addWidget(agentsMayRead_);
  retention_ = new RetentionSetting(model_, context_.settings, section);
  connect(retention_, &RetentionSetting::failed, this, &PreferencesView::setMessage);
  rows.addWidget(retention_);
  captureFolderSetting_ = new CaptureFolderSetting(model_, context_.settings, section);
  connect(captureFolderSetting_, &CaptureFolderSetting::message, this, &PreferencesView::setMessage);
  captureFolderSetting_->addToRow(captureFolder_);
  rows.addWidget(captureFolderSetting_);
  rows.addWidget(
      makeText(QStringLiteral("An unsaved capture lives only on the clipboard. A saved capture's text is "
                              "kept for searching, unless it shows possible secrets."),
               captionSize));
  return section;
}

FormSection* PreferencesView::makeStartupSection() {
  auto* section = new FormSection;
  startAtLogin_ = new QCheckBox(QStringLiteral("Start at login"), section);
  connect(startAtLogin_, &QCheckBox::clicked, this, [this](bool enabled) { changeStartAtLogin(enabled); });
  section->rows().addWidget(startAtLogin_);
  return section;
}

QLabel* PreferencesView::makeText(const QString& text, int pixels) {
  auto* label = new QLabel(text, this);
  label->setFont(look::font(*this, pixels));
  label->setWordWrap(true);
  look::setTextColor(*label, look::secondary(*this));
  return label;
}

void PreferencesView::showEvent(QShowEvent* event) {
  // Shown by the application (not restored by the window manager): the editor
  // starts from the stored shortcut, and autostart may have changed meanwhile.
  if (!event->spontaneous()) {
    loadCandidate(context_.settings.shortcut());
    startAtLogin_->setChecked(context_.startAtLogin.isEnabled());
    renderSecretsSettings();
    fitForm();
    readHookStatus();
    agentSetup_->refresh();
  }
  QWidget::showEvent(event);
}

// Tall enough to show every section without scrolling, as far as the screen
// allows, and where it was placed.
void PreferencesView::fitForm() {
  if (!isWindow()) return;
  if (layout()) layout()->activate();  // the children's sizes as they will be shown
  // No frame and no horizontal bar: the scroll area is all viewport once the
  // vertical bar is gone. Wrapped labels may claim more than the layout's
  // height for the width says: the size hint is the floor.
  const int needed = std::max(form_->heightForWidth(scroll_->width()), form_->sizeHint().height());
  const int extra = needed - scroll_->height();
  if (extra <= 0) return;
  QRect frame = geometry();
  int height = frame.height() + extra;
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const int frameMargins = std::max(frameGeometry().height() - frame.height(), look::titleBarRoom);
    height = std::min(height, area.height() - frameMargins);
    if (height <= frame.height()) return;  // as tall as the screen allows already
    // Grows downwards, moving up only as far as the screen's bottom requires.
    frame.moveTop(std::max(area.top() + frameMargins, std::min(frame.top(), area.bottom() + 1 - height)));
  }
  frame.setHeight(height);
  setGeometry(frame);
}

void PreferencesView::loadCandidate(const Shortcut& shortcut) {
  candidate_ = shortcut;
  {
    const QSignalBlocker blockers[] = {QSignalBlocker(super_), QSignalBlocker(shift_), QSignalBlocker(alt_),
                                       QSignalBlocker(ctrl_), QSignalBlocker(key_)};
    super_->setChecked(shortcut.command);
    shift_->setChecked(shortcut.shift);
    alt_->setChecked(shortcut.option);
    ctrl_->setChecked(shortcut.control);
    key_->setCurrentIndex(key_->findData(shortcut.keyCode));
  }
  renderShortcut();
}

void PreferencesView::openCaptureFolder() {
  const std::filesystem::path folder = CaptureFolderSetting::folder(context_.settings);
  context_.fileBrowser.openFolder(folder, [self = QPointer<PreferencesView>(this), folder](bool shown) {
    if (self) self->setMessage(shown ? QString() : QString::fromStdString(noFileManagerMessage(folder)));
  });
}

void PreferencesView::editCandidate() {
  setMessage({});  // what it said was about the shortcut before this edit
  refusal_.clear();
  candidate_.command = super_->isChecked();
  candidate_.shift = shift_->isChecked();
  candidate_.option = alt_->isChecked();
  candidate_.control = ctrl_->isChecked();
  if (key_->currentIndex() >= 0) candidate_.keyCode = key_->currentData().toUInt();
  renderShortcut();
}

void PreferencesView::renderShortcut() {
  current_->setText(QStringLiteral("Current: ") + context_.settings.shortcutLabel());
  const std::optional<std::string> problem = candidate_.validationMessage();
  apply_->setEnabled(!problem);
  const QString notice = context_.settings.shortcutMigrationNotice();
  if (problem) {
    shortcutNote_->setText(QString::fromStdString(*problem));
    look::setTextColor(*shortcutNote_, look::warning());
  } else if (!refusal_.isEmpty()) {
    shortcutNote_->setText(refusal_);
    look::setTextColor(*shortcutNote_, look::warning());
  } else if (const auto& unavailable = context_.desktopLimits.shortcut) {
    shortcutNote_->setText(QString::fromStdString(*unavailable));
    look::setTextColor(*shortcutNote_, look::warning());
  } else {
    shortcutNote_->setText(notice);
    look::setTextColor(*shortcutNote_, look::secondary(*this));
  }
  shortcutNote_->setVisible(!shortcutNote_->text().isEmpty());
}

void PreferencesView::applyShortcut() {
  candidate_.keyLabel = keyLabelOf(candidate_.keyCode);
  if (context_.shortcuts) {
    try {
      context_.shortcuts->registerShortcut(candidate_);
    } catch (const std::exception& failure) {
      // Said beside the shortcut, whose editor keeps what was tried; "Current" names the one in force.
      refusal_ = QString::fromStdString(candidate_.label()) + QStringLiteral(": ") +
                 QString::fromUtf8(failure.what());
      renderShortcut();
      return;
    }
  }
  try {
    context_.settings.setShortcut(candidate_);
  } catch (const std::exception& failure) {
    setMessage(QString::fromUtf8(failure.what()));
    return;
  }
  setMessage(QStringLiteral("Shortcut updated to ") + QString::fromStdString(candidate_.label()) +
             QStringLiteral("."));
}

QCoro::Task<> PreferencesView::configureHooks(bool install) {
  if (configuring_) co_return;
  setConfiguring(true);
  const QPointer<PreferencesView> self(this);
  // Reads and rewrites Claude Code's settings file: never on the GUI thread.
  const QString outcome = co_await QtConcurrent::run([configure = context_.configureHooks, install] {
    try {
      return QString::fromStdString(configure(install));
    } catch (const std::exception& failure) {
      return QStringLiteral("Could not update hooks: ") + QString::fromUtf8(failure.what());
    }
  });
  if (!self) co_return;
  setMessage(outcome);
  setConfiguring(false);
  co_await readHookStatus();
}

namespace {

QString shownPath(const std::filesystem::path& file) {
  const QString path = QString::fromStdString(file.string());
  const QString home = QDir::homePath();
  return path.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + path.mid(home.size()) : path;
}

}  // namespace

QCoro::Task<> PreferencesView::readHookStatus() {
  if (!context_.hookStatus) co_return;
  const QPointer<PreferencesView> self(this);
  const HookStatus status = co_await QtConcurrent::run(context_.hookStatus);
  if (!self) co_return;
  const QString file = status.settingsFile.empty() ? QStringLiteral("Claude Code’s settings file")
                                                   : shownPath(status.settingsFile);
  hookFile_->setText(QStringLiteral("Installation merges ") + file +
                     QStringLiteral(" and makes a backup. Review /hooks in Claude Code and restart sessions. "
                                    "Keep Lumacap in a permanent location before installing."));
  hookStatus_->setText(!status.installed   ? QStringLiteral("Could not read ") + file + QStringLiteral(".")
                       : *status.installed ? QStringLiteral("Hooks are installed.")
                                           : QStringLiteral("Hooks are not installed."));
  if (isVisible()) fitForm();  // the texts may have grown
}

// The autostart entry is written and flushed on a worker; the box follows
// what the entry says once it is done.
QCoro::Task<> PreferencesView::changeStartAtLogin(bool enabled) {
  const QPointer<PreferencesView> self(this);
  StartAtLogin& entry = context_.startAtLogin;
  startAtLogin_->setEnabled(false);
  const QString failure = co_await QtConcurrent::run([&entry, enabled] {
    try {
      entry.setEnabled(enabled);
      return QString();
    } catch (const std::exception& failure) {
      return QString::fromUtf8(failure.what());
    }
  });
  if (!self) co_return;
  setMessage(failure);
  startAtLogin_->setChecked(entry.isEnabled());
  startAtLogin_->setEnabled(true);
}

// Applies from the next capture on; the box follows what was stored.
void PreferencesView::changeLookForSecrets(bool look) {
  try {
    context_.settings.setLookForSecrets(look);
    setMessage({});
  } catch (const std::exception& failure) {
    setMessage(QString::fromUtf8(failure.what()));
  }
  renderSecretsSettings();
}

void PreferencesView::changeRedactBeforeCopying(bool redact) {
  try {
    context_.settings.setRedactSecretsBeforeCopying(redact);
    setMessage({});
  } catch (const std::exception& failure) {
    setMessage(QString::fromUtf8(failure.what()));
  }
  renderSecretsSettings();
}

void PreferencesView::changeAgentsMayRead(bool allow) {
  try {
    context_.settings.setAgentsMayReadCaptures(allow);
    setMessage({});
  } catch (const std::exception& failure) {
    setMessage(QString::fromUtf8(failure.what()));
  }
  renderSecretsSettings();
}

// Redacting before copying needs the search.
void PreferencesView::renderSecretsSettings() {
  const SettingsManager& settings = context_.settings;
  lookForSecrets_->setChecked(settings.lookForSecrets());
  redactBeforeCopying_->setChecked(settings.redactSecretsBeforeCopying());
  redactBeforeCopying_->setEnabled(settings.lookForSecrets());
  agentsMayRead_->setChecked(settings.agentsMayReadCaptures());
}

void PreferencesView::setMessage(const QString& message) {
  message_ = message;
  messageLabel_->setText(message);
  messageFooter_->setVisible(!message.isEmpty());
}

void PreferencesView::setConfiguring(bool configuring) {
  configuring_ = configuring;
  install_->setEnabled(!configuring);
  remove_->setEnabled(!configuring);
}

}  // namespace lumacap
