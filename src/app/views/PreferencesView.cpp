#include "app/views/PreferencesView.h"

#include "app/AppModel.h"

namespace lumacap {

PreferencesView::PreferencesView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {}

PreferencesView::~PreferencesView() = default;

}  // namespace lumacap
