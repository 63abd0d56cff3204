#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumacap {

// Screen geometry in points (what the user sees and drags; a point is one
// logical pixel) and device pixels (what the X server stores).
//
// A display's frame in points keeps the display's native origin and divides
// only its size by the scale, which is how Qt's xcb screens describe
// themselves: a 1280 × 800 output at (1280, 0) with a scale of 2 has the frame
// (1280, 0, 640, 400). A global point inside a display therefore maps to the
// device pixel  origin + (point − origin) × scale, never to point × scale.

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double right() const { return x + width; }
  double bottom() const { return y + height; }
  bool isEmpty() const { return !(width > 0) || !(height > 0); }
  // Half-open: the left and top edges belong to the rectangle, the right and
  // bottom edges do not.
  bool contains(Point point) const;
  // The overlap of both rectangles; an empty rectangle when they do not meet.
  Rect intersected(const Rect& other) const;
  bool operator==(const Rect&) const = default;
};

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};

// What to read from a display and how large the result is.
struct DisplayTarget {
  Rect points;       // the clipped request, in the display's points
  PixelRect source;  // the same area in the display's device pixels
  PixelSize output;  // the size of the resulting image
  bool operator==(const DisplayTarget&) const = default;
};

// One display's share of a selection that spans several displays: the
// device pixels to read from that display, and where they go in the image.
struct SpanPart {
  size_t display = 0;   // index into the displays given
  PixelRect source;     // device pixels of that display
  PixelRect placement;  // pixels of the combined image
  bool operator==(const SpanPart&) const = default;
};

// The combined image of a spanning selection: its size, and the parts.
struct SpanLayout {
  PixelSize output;
  std::vector<SpanPart> parts;
  bool operator==(const SpanLayout&) const = default;
};

namespace geometry {

// The smallest width and height, in points, of a region that can be captured.
inline constexpr double minimumRegionSide = 3;

// The rectangle spanned by two corners, whichever way the drag went.
Rect spanned(Point a, Point b);

// At least the minimum side in both directions (exactly 3 points passes).
bool isCapturableRegion(const Rect& rect);

// Points times scale, rounded to the nearest pixel with halves away from zero.
int roundedPixels(double points, double scale);
// Points times scale, cut toward zero, and never less than one pixel. A tiny
// tolerance keeps a value such as 332.99999999997 (333 pixels that went
// through points and back) from losing a pixel.
int truncatedPixels(double points, double scale);

// A display's frame in points from its native rectangle.
Rect frameInPoints(const PixelRect& native, double scale);
// The native rectangle of a display from its frame in points.
PixelRect nativeRect(const Rect& frame, double scale);
// A window's frame in points, from its native rectangle and the native
// rectangle and scale of the display it lies on.
Rect windowFrameInPoints(const PixelRect& window, const PixelRect& display, double scale);

// The area of a display to capture: `request` (display points, origin at the
// display's top-left; none means the whole display) clipped to the display.
// None when the clipped area is empty or under the minimum side.
std::optional<DisplayTarget> displayTarget(double displayWidth, double displayHeight, double scale,
                                           const std::optional<Rect>& request);

// How a selection in global points of one logical layout (each display's
// frame in the same points, as on Wayland) is read from the displays it
// touches. The image has the highest density among them; what lies between
// displays stays empty.
SpanLayout spanLayout(const std::vector<Rect>& frames, const std::vector<double>& scales,
                      const Rect& selection);

// The part of one whole-desktop image (every display of one logical layout,
// `frames`, as a portal hands it over, at whatever density the image has)
// that shows `source`, device pixels of the display with `frame` and
// `scale`. Empty when the layout is.
PixelRect desktopImageArea(const std::vector<Rect>& frames, PixelSize image, const Rect& frame, double scale,
                           const PixelRect& source);

// The output size of a single-window capture.
PixelSize windowOutputSize(const Rect& frame, double scale);

// The first frame that holds the point, in the given order.
std::optional<size_t> frameContaining(const std::vector<Rect>& frames, Point point);

// The overlay's size label: width and height cut to whole points, "640 × 480".
std::string sizeLabel(const Rect& selection);
// Where the overlay draws its hint when nothing is selected.
Point hintLabelPosition(const Rect& bounds);
// Where the size label goes: under the selection, kept on screen near the
// right and bottom edges.
Point sizeLabelPosition(const Rect& selection, const Rect& bounds);

}  // namespace geometry
}  // namespace lumacap
