#include "app/views/HistoryView.h"

#include "app/AppModel.h"

namespace lumacap {

HistoryView::HistoryView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {}

HistoryView::~HistoryView() = default;

}  // namespace lumacap
