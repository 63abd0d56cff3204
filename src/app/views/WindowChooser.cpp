#include "app/views/WindowChooser.h"

namespace lumacap {

WindowChooser::WindowChooser(Capture capture, QWidget* parent)
    : QWidget(parent), capture_(std::move(capture)) {}

WindowChooser::~WindowChooser() = default;

void WindowChooser::setWindows(std::vector<ShareableWindow> windows) { windows_ = std::move(windows); }

}  // namespace lumacap
