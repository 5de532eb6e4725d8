#include "ChessboardLattice.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {

// The 16 pixels on a circle of radius 3 around a pixel, in order around it.
constexpr int kRadius = 3;
// clang-format off
const std::array<cv::Point, 16> kCircle{{{0, -3}, {1, -3}, {2, -2}, {3, -1}, {3, 0}, {3, 1},
                                         {2, 2}, {1, 3}, {0, 3}, {-1, 3}, {-2, 2}, {-3, 1},
                                         {-3, 0}, {-3, -1}, {-2, -2}, {-1, -3}}};
// clang-format on
// A corner's response exceeds 2.4 times the contrast on its circle, a contrast of at least this
// many gray levels (OpenCV's search finds boards as faint as that).
constexpr int kLeastContrast = 2;
// A corner is the strongest response within this distance along both axes.
constexpr int kSuppression = 2;
// Along an edge of the board, neighbouring corners are this far apart (in pixels) on some level
// of the pyramid; its levels stop before their shorter side falls under kSmallestLevel.
constexpr int kNearest = 3;
constexpr int kFarthest = 12;
constexpr int kSmallestLevel = 32;
// The nearest corners around a corner, among which its neighbours along the two edges lie.
constexpr std::size_t kNeighbours = 8;
// A corner lies midway between two others when their offsets from it cancel out up to this
// fraction of their mean length (perspective makes them unequal).
constexpr float kMidwayTolerance = 0.25f;
// Beside an edge, its two sides differ by this fraction of the faintest corner's contrast.
constexpr float kSideContrast = 0.3f;
// A board of many corners needs a group of a quarter of them (blur, a slant or glare can hide
// more than half), and any board one of at least kLeastGroup: the pictures without a board tried
// gave groups of fewer than 8.
constexpr std::size_t kLeastGroup = 8;
// OpenCV's search compares every dark square it finds with every other, on each of its dozens
// of thresholdings: a picture of many boards (or one board of far more corners than the pattern)
// costs it minutes. The corners of the groups large enough for the pattern may number this many
// times the pattern's corners (a few boards in one view); beyond, the picture is not searched.
constexpr std::size_t kMostBoards = 4;
// A board's outer squares lie one square beyond its inner corners; half a square more keeps their
// outer edges clear of the area's border.
constexpr float kBorderSquares = 1.5f;
// Pictures narrower or lower than this are left to the search: it is quick on them, and with
// adaptive thresholds refuses them (its threshold block would be a single pixel) with a report
// that stays.
constexpr int kSmallestSide = 15;

struct Corner {
  cv::Point at;
  int contrast;  // between the lightest and darkest pixel of its circle
};

std::int16_t magnitude(std::int16_t value) {
  return std::max(value, static_cast<std::int16_t>(-value));
}

// The difference between the lightest and the darkest pixel on the circle around `at`.
int circleContrast(const cv::Mat& gray, cv::Point at) {
  int lightest = 0, darkest = 255;
  for (const cv::Point& offset : kCircle) {
    const int value = gray.at<std::uint8_t>(at + offset);
    lightest = std::max(lightest, value);
    darkest = std::min(darkest, value);
  }
  return lightest - darkest;
}

// The corner response of every pixel of row `y`, zero where there is no corner. Where two dark
// and two light squares meet, the circle is dark, light, dark, light by quarters: its two
// diagonals differ, opposite pixels agree, and the mean of the circle is that of the centre (after
// the ChESS detector of Bennett and Lasenby). The arithmetic stays within 16 bits and the row
// written is declared apart from the image read (__restrict), so that the compiler handles many
// pixels at once.
void respondRow(const cv::Mat& gray, int y, std::int16_t* __restrict response) {
  std::array<const std::uint8_t*, 16> circle{};
  for (std::size_t n = 0; n < circle.size(); ++n) {
    circle[n] = gray.ptr<std::uint8_t>(y + kCircle[n].y) + kCircle[n].x;
  }
  const std::uint8_t* above = gray.ptr<std::uint8_t>(y - 1);
  const std::uint8_t* row = gray.ptr<std::uint8_t>(y);
  const std::uint8_t* below = gray.ptr<std::uint8_t>(y + 1);
  std::fill_n(response, gray.cols, 0);
  for (int x = kRadius; x < gray.cols - kRadius; ++x) {
    std::array<std::int16_t, 16> v{};
    std::int16_t sum = 0, lightest = 0, darkest = 255;
    for (std::size_t n = 0; n < v.size(); ++n) {
      v[n] = circle[n][x];
      sum += v[n];
      lightest = std::max(lightest, v[n]);
      darkest = std::min(darkest, v[n]);
    }
    std::int16_t diagonals = 0, opposites = 0;
    for (std::size_t n = 0; n < 4; ++n) {
      diagonals += magnitude(v[n] + v[n + 8] - v[n + 4] - v[n + 12]);
    }
    for (std::size_t n = 0; n < 8; ++n) opposites += magnitude(v[n] - v[n + 8]);
    // Five centre pixels against sixteen on the circle.
    const std::int16_t centre = row[x - 1] + row[x] + row[x + 1] + above[x] + below[x];
    const std::int16_t value = 5 * (diagonals - opposites) - magnitude(5 * sum - 16 * centre);
    const std::int16_t spread = lightest - darkest;
    // value / 5 > 2.4 * spread
    response[x] = spread >= kLeastContrast && value > 12 * spread ? value : 0;
  }
}

// The corners of one level: responses that are the strongest within kSuppression, ties going to
// the first in reading order. Responses are kept for the rows of one suppression window only.
void findCorners(const cv::Mat& gray, std::vector<Corner>& corners) {
  corners.clear();
  const int cols = gray.cols;
  if (gray.rows <= 2 * kRadius || cols <= 2 * kRadius) return;
  constexpr int kWindow = 2 * kSuppression + 1;
  std::vector<std::int16_t> responses(static_cast<std::size_t>(kWindow * cols));
  auto rowOf = [&](int y) { return &responses[static_cast<std::size_t>(y % kWindow * cols)]; };
  const int last = gray.rows - kRadius;
  for (int y = kRadius; y < last + kSuppression; ++y) {
    if (y < last) {
      respondRow(gray, y, rowOf(y));
    } else {
      std::fill_n(rowOf(y), cols, 0);
    }
    const int centre = y - kSuppression;
    if (centre < kRadius) continue;
    for (int x = kRadius; x < cols - kRadius; ++x) {
      const std::int16_t value = rowOf(centre)[x];
      bool strongest = value > 0;
      for (int dy = -kSuppression; strongest && dy <= kSuppression; ++dy) {
        // Rows above the first with responses still hold the zeros they started with.
        const std::int16_t* other = rowOf(centre + dy + kWindow);
        for (int dx = -kSuppression; strongest && dx <= kSuppression; ++dx) {
          const bool earlier = dy < 0 || (dy == 0 && dx < 0);
          const std::int16_t rival = other[x + dx];
          strongest = (dx == 0 && dy == 0) || rival < value || (rival == value && !earlier);
        }
      }
      if (strongest) corners.push_back({{x, centre}, circleContrast(gray, {x, centre})});
    }
  }
}

// Disjoint groups of corners, with their sizes.
class Groups {
 public:
  explicit Groups(std::size_t count) : parent_(count), size_(count, 1) {
    std::iota(parent_.begin(), parent_.end(), std::size_t{0});
  }

  // The number of members of the groups of at least `least` members.
  std::size_t membersOfGroupsOf(std::size_t least) {
    std::size_t members = 0;
    for (std::size_t a = 0; a < parent_.size(); ++a) {
      if (root(a) == a && size_[a] >= least) members += size_[a];
    }
    return members;
  }

  // Joins the groups of a and b; the size of the joined group.
  std::size_t join(std::size_t a, std::size_t b) {
    a = root(a);
    b = root(b);
    if (a != b) {
      if (size_[a] < size_[b]) std::swap(a, b);
      parent_[b] = a;
      size_[a] += size_[b];
    }
    return size_[a];
  }

  // The member that stands for a's group.
  std::size_t root(std::size_t a) {
    while (parent_[a] != a) a = parent_[a] = parent_[parent_[a]];
    return a;
  }

  std::size_t sizeOf(std::size_t a) { return size_[root(a)]; }

 private:
  std::vector<std::size_t> parent_, size_;
};

// How much lighter than the right side the left side of the way from `from` to `to` is, a quarter
// of the way's length beside its middle.
int sideContrast(const cv::Mat& gray, cv::Point from, cv::Point to) {
  const cv::Point2f middle = (cv::Point2f(from) + cv::Point2f(to)) * 0.5f;
  const cv::Point2f side =
      cv::Point2f(static_cast<float>(to.y - from.y), static_cast<float>(from.x - to.x)) * 0.25f;
  const cv::Point left(cvRound(middle.x + side.x), cvRound(middle.y + side.y));
  const cv::Point right(cvRound(middle.x - side.x), cvRound(middle.y - side.y));
  const cv::Rect area(0, 0, gray.cols, gray.rows);
  if (!area.contains(left) || !area.contains(right)) return 0;
  return gray.at<std::uint8_t>(left) - gray.at<std::uint8_t>(right);
}

// The groups of corners linked along board edges: the largest one's size, how many corners lie
// in groups of at least `large`, and where the largest one's corners are when it is that large.
struct Lattices {
  std::size_t largest = 0;
  std::size_t grouped = 0;
  std::vector<cv::Point> members;
};

// Links corners along board edges: a corner midway between two near corners is linked to both
// when the dark and light sides of the edge through the three swap at the middle one, as they do
// on a board.
Lattices lattices(const cv::Mat& gray, const std::vector<Corner>& corners, std::size_t large) {
  // The corners by cell of kFarthest pixels: a corner's neighbours lie in the 3 × 3 cells around.
  const int columns = gray.cols / kFarthest + 1, rows = gray.rows / kFarthest + 1;
  std::vector<std::ptrdiff_t> firstInCell(static_cast<std::size_t>(columns * rows), -1);
  std::vector<std::ptrdiff_t> nextInCell(corners.size(), -1);
  auto cellOf = [&](int column, int row) {
    return static_cast<std::size_t>(row * columns + column);
  };
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const std::size_t cell = cellOf(corners[i].at.x / kFarthest, corners[i].at.y / kFarthest);
    nextInCell[i] = firstInCell[cell];
    firstInCell[cell] = static_cast<std::ptrdiff_t>(i);
  }

  Groups groups(corners.size());
  std::size_t largest = 0;
  // The nearest kNeighbours corners around one, nearest first (ties to the lower index).
  std::array<std::pair<int, std::size_t>, kNeighbours> near{};  // squared distance, corner
  std::size_t nearCount = 0;
  const auto consider = [&](std::pair<int, std::size_t> candidate) {
    if (nearCount == kNeighbours && !(candidate < near[kNeighbours - 1])) return;
    std::size_t at = std::min(nearCount, kNeighbours - 1);
    for (; at > 0 && candidate < near[at - 1]; --at) near[at] = near[at - 1];
    near[at] = candidate;
    nearCount = std::min(nearCount + 1, kNeighbours);
  };
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Corner& corner = corners[i];
    nearCount = 0;
    const int column = corner.at.x / kFarthest, row = corner.at.y / kFarthest;
    for (int r = std::max(0, row - 1); r <= std::min(rows - 1, row + 1); ++r) {
      for (int c = std::max(0, column - 1); c <= std::min(columns - 1, column + 1); ++c) {
        for (std::ptrdiff_t j = firstInCell[cellOf(c, r)]; j >= 0;
             j = nextInCell[static_cast<std::size_t>(j)]) {
          const cv::Point offset = corners[static_cast<std::size_t>(j)].at - corner.at;
          const int distance = offset.dot(offset);
          if (distance >= kNearest * kNearest && distance <= kFarthest * kFarthest) {
            consider({distance, static_cast<std::size_t>(j)});
          }
        }
      }
    }
    std::array<float, kNeighbours> lengths{};
    for (std::size_t a = 0; a < nearCount; ++a) {
      lengths[a] = std::sqrt(static_cast<float>(near[a].first));
    }
    for (std::size_t a = 0; a < nearCount; ++a) {
      for (std::size_t b = a + 1; b < nearCount; ++b) {
        const Corner& one = corners[near[a].second];
        const Corner& other = corners[near[b].second];
        const cv::Point sum = one.at + other.at - 2 * corner.at;
        const float tolerance = kMidwayTolerance * 0.5f * (lengths[a] + lengths[b]);
        if (static_cast<float>(sum.dot(sum)) > tolerance * tolerance) continue;
        const int least = std::max(
            1, static_cast<int>(
                   kSideContrast *
                   static_cast<float>(std::min({corner.contrast, one.contrast, other.contrast}))));
        const int before = sideContrast(gray, other.at, corner.at);
        const int after = sideContrast(gray, corner.at, one.at);
        if (!(before > least && after < -least) && !(before < -least && after > least)) continue;
        largest =
            std::max({largest, groups.join(i, near[a].second), groups.join(i, near[b].second)});
      }
    }
  }
  Lattices found{largest, 0, {}};
  if (largest < large) return found;
  found.grouped = groups.membersOfGroupsOf(large);
  std::size_t root = corners.size();
  for (std::size_t i = 0; i < corners.size(); ++i) {
    if (root == corners.size() && groups.sizeOf(i) == largest) root = groups.root(i);
    if (root != corners.size() && groups.root(i) == root) found.members.push_back(corners[i].at);
  }
  return found;
}

// Where the board of the group `members` lies (corners of a level `scale` times smaller than the
// picture along each axis) in a picture of `size`: around the group, one and a half squares
// beyond it, and as many squares more as the pattern's corners it lacks could span.
ChessboardLattice::Sighting sightingOf(const std::vector<cv::Point>& members, cv::Point2f scale,
                                       cv::Size size, cv::Size pattern) {
  std::vector<cv::Point2f> points;
  points.reserve(members.size());
  for (const cv::Point& member : members) {
    points.emplace_back((static_cast<float>(member.x) + 0.5f) * scale.x - 0.5f,
                        (static_cast<float>(member.y) + 0.5f) * scale.y - 0.5f);
  }
  std::vector<cv::Point2f> hull;
  cv::convexHull(points, hull);
  // A lattice of n corners spans some (√n - 1)² squares; its neighbours lie at least kNearest
  // pixels apart on its level, even where its corners line up along one edge.
  const float spanned = std::sqrt(static_cast<float>(points.size())) - 1.0f;
  const float square = std::max(std::sqrt(static_cast<float>(cv::contourArea(hull))) / spanned,
                                static_cast<float>(kNearest) * std::max(scale.x, scale.y));
  const float corners = static_cast<float>(pattern.width) * static_cast<float>(pattern.height);
  const float lacking = std::max(0.0f, 1.0f - static_cast<float>(points.size()) / corners);
  const float squares =
      kBorderSquares + lacking * static_cast<float>(std::max(pattern.width, pattern.height));
  const int margin = static_cast<int>(
      std::min(std::ceil(square * squares), static_cast<float>(size.width + size.height)));
  const cv::Rect around = cv::boundingRect(points);
  const cv::Rect area(around.x - margin, around.y - margin, around.width + 2 * margin,
                      around.height + 2 * margin);
  return {area & cv::Rect(0, 0, size.width, size.height), square};
}

}  // namespace

std::optional<ChessboardLattice::Sighting> ChessboardLattice::look(const cv::Mat& gray,
                                                                   cv::Size pattern) {
  if (std::min(gray.cols, gray.rows) < kSmallestSide) {
    return Sighting{cv::Rect(0, 0, gray.cols, gray.rows), 0.0f};
  }
  const cv::Mat* level = &gray;
  const std::size_t corners =
      static_cast<std::size_t>(pattern.width) * static_cast<std::size_t>(pattern.height);
  const std::size_t needed = std::max(kLeastGroup, (corners + 3) / 4);
  std::vector<Corner> found;
  // The first level where a group is large enough decides whether the search stays bounded; the
  // board lies around the largest group of any level (texture can form small lattices on levels
  // finer than the board's).
  std::optional<bool> bounded;
  std::optional<Sighting> sighting;
  std::size_t largest = 0;
  auto judge = [&](const cv::Mat& onLevel) {
    findCorners(onLevel, found);
    const Lattices groups = lattices(onLevel, found, needed);
    if (groups.largest < needed) return true;
    if (!bounded) bounded = groups.grouped <= kMostBoards * corners;
    if (groups.largest > largest) {
      largest = groups.largest;
      const cv::Point2f scale(static_cast<float>(gray.cols) / static_cast<float>(onLevel.cols),
                              static_cast<float>(gray.rows) / static_cast<float>(onLevel.rows));
      sighting = sightingOf(groups.members, scale, gray.size(), pattern);
    }
    return *bounded;
  };
  if (!judge(*level)) return std::nullopt;
  for (std::size_t depth = 0; std::min(level->cols, level->rows) / 2 >= kSmallestLevel; ++depth) {
    cv::Mat& smaller = levels_[depth % 2];
    cv::pyrDown(*level, smaller);
    level = &smaller;
    if (!judge(*level)) return std::nullopt;
    // A board seen at a slant has its squares squeezed along one direction: halving the level
    // along either axis brings some of them back near square.
    for (const cv::Size squeezed :
         {cv::Size(level->cols / 2, level->rows), cv::Size(level->cols, level->rows / 2)}) {
      cv::resize(*level, squeezed_, squeezed, 0.0, 0.0, cv::INTER_AREA);
      if (!judge(squeezed_)) return std::nullopt;
    }
  }
  return sighting;
}

}  // namespace cvcomp
