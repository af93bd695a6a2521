#include "ground_plane.h"

#include <cmath>
#include <vector>

#include "perception/mounting.h"

namespace app {
namespace {

constexpr double kPi = 3.14159265358979323846;
// The seed: points this close to the expected floor height along the guessed vertical, within
// this horizontal reach, where a few degrees of error in the guess move the floor little.
constexpr float kSeedBand = 0.20f;
constexpr float kSeedReach = 3.0f;
// Each refit keeps the points this close to the previous plane, so a bin, a wall's foot or a
// kerb in the seed stops pulling the plane after the first pass.
constexpr float kTrims[] = {0.10f, 0.04f, 0.02f};
// The final fit takes every point this close to the plane, at any range.
constexpr float kExtendBand = 0.04f;
constexpr std::size_t kMinPoints = 40;
// The floor a robot stands on is a good share of what it sees; a box's top near the floor's
// height is not, and must not be taken for it.
constexpr std::size_t kMinShareDivisor = 20;
// A plane is well fixed by a few thousand points spread over the floor: a dense cloud is read at
// a stride that leaves about this many.
constexpr std::size_t kFitPoints = 8000;
// What the robot can stand on: a plane this close to the box's bottom, tilted this little from
// the robot's vertical and from the guess it grew from.
constexpr float kMaxDepthError = 0.20f;
constexpr double kMaxTiltDeg = 25.0;
constexpr double kMaxDriftDeg = 15.0;

struct Vec {
  double x = 0, y = 0, z = 0;
};

double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec unit(const Vec& v) {
  const double n = std::sqrt(dot(v, v));
  return {v.x / n, v.y / n, v.z / n};
}
double degrees_between(const Vec& a, const Vec& b) {
  const double c = dot(a, b);
  return std::acos(c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c)) * 180.0 / kPi;
}

// The guessed vertical n and two horizontal axes u, v: a point's coordinates in it are (a, b)
// across and c up, and the plane sought is c = alpha a + beta b + gamma.
struct Basis {
  Vec n, u, v;
};

Basis basis_of(const Vec& up) {
  Basis b;
  b.n = unit(up);
  const Vec other = std::fabs(b.n.x) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0};
  b.u = unit(cross(other, b.n));
  b.v = cross(b.n, b.u);
  return b;
}

struct Sample {
  float a, b, c;
};

// Least squares of c on (a, b, 1).
struct Sums {
  double n = 0, a = 0, b = 0, c = 0, aa = 0, ab = 0, bb = 0, ac = 0, bc = 0;
  void add(const Sample& s) {
    n += 1;
    a += s.a;
    b += s.b;
    c += s.c;
    aa += double(s.a) * s.a;
    ab += double(s.a) * s.b;
    bb += double(s.b) * s.b;
    ac += double(s.a) * s.c;
    bc += double(s.b) * s.c;
  }
};

struct Plane {
  double alpha = 0, beta = 0, gamma = 0;
  double residual(const Sample& s) const { return s.c - (alpha * s.a + beta * s.b + gamma); }
};

// Cramer's rule on the normal equations; false when the points do not span a plane.
bool solve(const Sums& s, Plane& out) {
  const double m[3][3] = {{s.aa, s.ab, s.a}, {s.ab, s.bb, s.b}, {s.a, s.b, s.n}};
  const double r[3] = {s.ac, s.bc, s.c};
  const auto det = [](const double(&k)[3][3]) {
    return k[0][0] * (k[1][1] * k[2][2] - k[1][2] * k[2][1]) -
           k[0][1] * (k[1][0] * k[2][2] - k[1][2] * k[2][0]) +
           k[0][2] * (k[1][0] * k[2][1] - k[1][1] * k[2][0]);
  };
  const double d = det(m);
  if (!(std::fabs(d) > 1e-9 * (s.n * s.n * s.n))) return false;
  double x[3];
  for (int col = 0; col < 3; ++col) {
    double k[3][3];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) k[i][j] = j == col ? r[i] : m[i][j];
    }
    x[col] = det(k) / d;
  }
  out = Plane{x[0], x[1], x[2]};
  return std::isfinite(out.alpha) && std::isfinite(out.beta) && std::isfinite(out.gamma);
}

Sample sample_of(const Basis& basis, const XyzPoint& p) {
  const Vec v{p.x, p.y, p.z};
  return {static_cast<float>(dot(basis.u, v)), static_cast<float>(dot(basis.v, v)),
          static_cast<float>(dot(basis.n, v))};
}

// Refits the plane on the samples it holds within `band`; false when too few remain.
template <typename Samples>
bool refit(const Samples& samples, double band, Plane& plane, std::size_t& used) {
  Sums sums;
  for (const Sample s : samples) {
    if (std::fabs(plane.residual(s)) <= band) sums.add(s);
  }
  used = static_cast<std::size_t>(sums.n);
  return used >= kMinPoints && solve(sums, plane);
}

std::vector<Sample>& seed_buffer() {
  thread_local std::vector<Sample> seed;
  return seed;
}

// Every stride-th point of the cloud as a sample of the basis, made as it is read.
struct CloudSamples {
  const Cloud& cloud;
  const Basis& basis;
  std::size_t stride;
  struct Iterator {
    std::size_t i, stride;
    const CloudSamples* of;
    Sample operator*() const { return sample_of(of->basis, of->cloud.points[i]); }
    Iterator& operator++() {
      i += stride;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return i < other.i; }
  };
  Iterator begin() const { return {0, stride, this}; }
  Iterator end() const { return {cloud.points.size(), stride, this}; }
};

// The plane grown from one guessed vertical, or nothing.
std::optional<GroundEstimate> fit_from(const Cloud& cloud, const Vec& guess, float depth) {
  const Basis basis = basis_of(guess);
  std::vector<Sample>& seed = seed_buffer();
  seed.clear();
  const std::size_t stride = cloud.points.size() / kFitPoints + 1;
  for (const Sample s : CloudSamples{cloud, basis, stride}) {
    if (s.a * s.a + s.b * s.b <= kSeedReach * kSeedReach && std::fabs(s.c + depth) <= kSeedBand) {
      seed.push_back(s);
    }
  }
  if (seed.size() < kMinPoints) return std::nullopt;
  Plane plane{0, 0, -depth};
  std::size_t used = 0;
  if (!refit(seed, kSeedBand, plane, used)) return std::nullopt;
  for (const float trim : kTrims) {
    if (!refit(seed, trim, plane, used)) return std::nullopt;
  }
  if (!refit(CloudSamples{cloud, basis, stride}, kExtendBand, plane, used)) return std::nullopt;
  if (used < cloud.points.size() / stride / kMinShareDivisor) return std::nullopt;

  // c - alpha a - beta b = gamma, as a unit normal in the robot's axes.
  const Vec w{basis.n.x - plane.alpha * basis.u.x - plane.beta * basis.v.x,
              basis.n.y - plane.alpha * basis.u.y - plane.beta * basis.v.y,
              basis.n.z - plane.alpha * basis.u.z - plane.beta * basis.v.z};
  const double length = std::sqrt(dot(w, w));
  const Vec normal{w.x / length, w.y / length, w.z / length};
  GroundEstimate g;
  g.seen = true;
  g.normal[0] = static_cast<float>(normal.x);
  g.normal[1] = static_cast<float>(normal.y);
  g.normal[2] = static_cast<float>(normal.z);
  g.height_m = static_cast<float>(-plane.gamma / length);
  const double tilt = degrees_between(normal, Vec{0, 0, 1});
  g.tilt_deg = static_cast<float>(tilt);
  g.points = static_cast<uint32_t>(used);
  if (tilt > kMaxTiltDeg || degrees_between(normal, basis.n) > kMaxDriftDeg ||
      std::fabs(g.height_m - depth) > kMaxDepthError) {
    return std::nullopt;
  }
  return g;
}

}  // namespace

UpVector imu_up(const AttitudeState& lidar_attitude, const MountingPose& mounting) {
  const float r = lidar_attitude.roll, p = lidar_attitude.pitch;
  UpVector up{-std::sin(p), std::cos(p) * std::sin(r), std::cos(p) * std::cos(r)};
  if (mounting.given) rotate(mounting_rotation(mounting), up.x, up.y, up.z);
  return up;
}

GroundEstimate estimate_ground(const Cloud& cloud, const RobotBox& robot,
                               const std::optional<UpVector>& imu) {
  // The box's bottom is where the robot meets the floor.
  const float depth = -robot.min_z;
  std::optional<GroundEstimate> best = fit_from(cloud, Vec{0, 0, 1}, depth);
  // The IMU's vertical differs from the robot's when it pitches or stands on a slope; whichever
  // guess gathers more of the floor wins.
  if (imu) {
    const Vec up{imu->x, imu->y, imu->z};
    if (degrees_between(unit(up), Vec{0, 0, 1}) > 0.5) {
      const auto other = fit_from(cloud, up, depth);
      if (other && (!best || other->points > best->points)) best = other;
    }
  }
  return best ? *best : GroundEstimate{};
}

void without_ground(const Cloud& cloud, const GroundEstimate& ground, float margin, Cloud& out) {
  out.points.clear();
  for (const XyzPoint& p : cloud.points) {
    if (height_above(ground, p.x, p.y, p.z) >= margin) out.points.push_back(p);
  }
  out.width = static_cast<uint32_t>(out.points.size());
  out.height = 1;
  out.is_dense = false;
}

}  // namespace app
