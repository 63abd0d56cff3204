#include "core/ScreenGeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumacap {

bool Rect::contains(Point point) const {
  return point.x >= x && point.x < right() && point.y >= y && point.y < bottom();
}

Rect Rect::intersected(const Rect& other) const {
  const double left = std::max(x, other.x);
  const double top = std::max(y, other.y);
  const double farRight = std::min(right(), other.right());
  const double farBottom = std::min(bottom(), other.bottom());
  if (farRight < left || farBottom < top) return Rect{};
  return Rect{left, top, farRight - left, farBottom - top};
}

namespace geometry {
namespace {
constexpr double pixelTolerance = 1e-6;

int clampedInt(double value) { return static_cast<int>(std::clamp(value, -2147483648.0, 2147483647.0)); }
}  // namespace

Rect spanned(Point a, Point b) {
  return Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::abs(a.x - b.x), std::abs(a.y - b.y)};
}

bool isCapturableRegion(const Rect& rect) {
  return !rect.isEmpty() && rect.width >= minimumRegionSide && rect.height >= minimumRegionSide;
}

int roundedPixels(double points, double scale) { return clampedInt(std::round(points * scale)); }

int truncatedPixels(double points, double scale) {
  return std::max(1, clampedInt(std::trunc(points * scale + pixelTolerance)));
}

Rect frameInPoints(const PixelRect& native, double scale) {
  return Rect{static_cast<double>(native.x), static_cast<double>(native.y), native.width / scale,
              native.height / scale};
}

PixelRect nativeRect(const Rect& frame, double scale) {
  return PixelRect{clampedInt(std::round(frame.x)), clampedInt(std::round(frame.y)),
                   roundedPixels(frame.width, scale), roundedPixels(frame.height, scale)};
}

Rect windowFrameInPoints(const PixelRect& window, const PixelRect& display, double scale) {
  return Rect{display.x + (window.x - display.x) / scale, display.y + (window.y - display.y) / scale,
              window.width / scale, window.height / scale};
}

std::optional<DisplayTarget> displayTarget(double displayWidth, double displayHeight, double scale,
                                           const std::optional<Rect>& request) {
  const Rect full{0, 0, displayWidth, displayHeight};
  const Rect target = request ? request->intersected(full) : full;
  if (!isCapturableRegion(target)) return std::nullopt;

  const PixelSize output{roundedPixels(target.width, scale), roundedPixels(target.height, scale)};
  const int displayPixelsWide = roundedPixels(displayWidth, scale);
  const int displayPixelsHigh = roundedPixels(displayHeight, scale);
  PixelRect source{roundedPixels(target.x, scale), roundedPixels(target.y, scale), output.width,
                   output.height};
  // Rounding the origin and the size separately may step one pixel past the
  // display's far edge; the source stays inside the display.
  source.x = std::clamp(source.x, 0, std::max(0, displayPixelsWide - 1));
  source.y = std::clamp(source.y, 0, std::max(0, displayPixelsHigh - 1));
  source.width = std::max(1, std::min(source.width, displayPixelsWide - source.x));
  source.height = std::max(1, std::min(source.height, displayPixelsHigh - source.y));
  return DisplayTarget{target, source, output};
}

namespace {
// The pixels from `from` to `to` (points from `origin`) at `scale`, rounded
// at both edges so that neighbouring parts meet without a gap or overlap.
std::pair<int, int> pixelSpan(double from, double to, double origin, double scale) {
  const int start = roundedPixels(from - origin, scale);
  return {start, roundedPixels(to - origin, scale) - start};
}
}  // namespace

PixelRect desktopImageArea(const std::vector<Rect>& frames, PixelSize image, const Rect& frame, double scale,
                           const PixelRect& source) {
  if (frames.empty()) return {};
  double left = frames.front().x, top = frames.front().y, right = left, bottom = top;
  for (const Rect& each : frames) {
    left = std::min(left, each.x);
    top = std::min(top, each.y);
    right = std::max(right, each.right());
    bottom = std::max(bottom, each.bottom());
  }
  if (right <= left || bottom <= top) return {};
  const double density = image.width / (right - left);
  const auto at = [density](double logical) { return int(std::lround(logical * density)); };
  const double x = frame.x - left + source.x / scale;
  const double y = frame.y - top + source.y / scale;
  const int x0 = at(x), y0 = at(y);
  return PixelRect{x0, y0, at(x + source.width / scale) - x0, at(y + source.height / scale) - y0};
}

SpanLayout spanLayout(const std::vector<Rect>& frames, const std::vector<double>& scales,
                      const Rect& selection) {
  SpanLayout layout;
  double density = 0;
  for (size_t index = 0; index < frames.size(); ++index) {
    if (!frames[index].intersected(selection).isEmpty()) density = std::max(density, scales[index]);
  }
  if (density <= 0) return layout;
  layout.output =
      PixelSize{roundedPixels(selection.width, density), roundedPixels(selection.height, density)};
  for (size_t index = 0; index < frames.size(); ++index) {
    const Rect& frame = frames[index];
    const Rect part = frame.intersected(selection);
    if (part.isEmpty()) continue;
    const auto [sourceX, sourceWidth] = pixelSpan(part.x, part.right(), frame.x, scales[index]);
    const auto [sourceY, sourceHeight] = pixelSpan(part.y, part.bottom(), frame.y, scales[index]);
    const auto [placeX, placeWidth] = pixelSpan(part.x, part.right(), selection.x, density);
    const auto [placeY, placeHeight] = pixelSpan(part.y, part.bottom(), selection.y, density);
    if (sourceWidth <= 0 || sourceHeight <= 0 || placeWidth <= 0 || placeHeight <= 0) continue;
    layout.parts.push_back(SpanPart{index, PixelRect{sourceX, sourceY, sourceWidth, sourceHeight},
                                    PixelRect{placeX, placeY, placeWidth, placeHeight}});
  }
  return layout;
}

PixelSize windowOutputSize(const Rect& frame, double scale) {
  return PixelSize{truncatedPixels(frame.width, scale), truncatedPixels(frame.height, scale)};
}

std::optional<size_t> frameContaining(const std::vector<Rect>& frames, Point point) {
  for (size_t index = 0; index < frames.size(); ++index) {
    if (frames[index].contains(point)) return index;
  }
  return std::nullopt;
}

std::string sizeLabel(const Rect& selection) {
  const auto whole = [](double value) { return std::to_string(static_cast<long long>(std::trunc(value))); };
  return whole(selection.width) + " × " + whole(selection.height);
}

Point hintLabelPosition(const Rect& bounds) {
  return Point{std::max(bounds.x + bounds.width / 2 - 140, 20.0), 44};
}

Point sizeLabelPosition(const Rect& selection, const Rect& bounds) {
  return Point{std::min(selection.x, bounds.width - 160),
               std::min(selection.bottom() + 10, bounds.height - 40)};
}

}  // namespace geometry
}  // namespace lumacap
