#pragma once

#include <QWidget>

namespace lumacap {

class AppModel;

// Recent Captures: every saved capture, newest first, with what can be done
// to each. All operations go through the model.
class HistoryView final : public QWidget {
  Q_OBJECT

 public:
  explicit HistoryView(AppModel& model, QWidget* parent = nullptr);
  ~HistoryView() override;

 private:
  AppModel& model_;
};

}  // namespace lumacap
