#include "point_source.h"

namespace lidar_sim {

PointSource::PointSource(Scene scene, const FieldOfView& fov, const Motion& motion,
                         const RangeModel& range, unsigned seed)
    : scene_(std::move(scene)),
      pattern_(fov),
      motion_(motion),
      range_(range),
      rng_(seed),
      flicker_period_(scene_.boxes.size(), -1),
      flicker_shots_(scene_.boxes.size(), 0) {}

std::vector<std::string> PointSource::toggle_boxes() { return lidar_sim::toggle_boxes(scene_); }

std::vector<PointRecord> PointSource::shots(std::size_t count, double t_s) {
  const Rotation rot = attitude_at(motion_, t_s);
  std::vector<PointRecord> out(count);
  for (PointRecord& p : out) {
    const Vec3 dir = pattern_.next();
    auto hit = cast_ray(scene_, rot.apply(dir), range_.min_range_m, range_.max_range_m);
    if (hit && hit->box >= 0 && scene_.boxes[hit->box].flicker_points > 0) {
      const auto b = static_cast<std::size_t>(hit->box);
      SceneBox& box = scene_.boxes[b];
      const auto period = static_cast<long long>(t_s * 1000.0 / box.flicker_every_ms);
      if (period != flicker_period_[b]) flicker_period_[b] = period, flicker_shots_[b] = 0;
      if (flicker_shots_[b] < box.flicker_points) {
        ++flicker_shots_[b];
      } else {
        // Past its share: the shot goes through it to whatever lies behind.
        box.visible = false;
        hit = cast_ray(scene_, rot.apply(dir), range_.min_range_m, range_.max_range_m);
        box.visible = true;
      }
    }
    if (!hit) continue;
    const double r = range_.noise_m > 0 ? hit->range + range_.noise_m * noise_(rng_) : hit->range;
    p.x = static_cast<float>(dir.x * r);
    p.y = static_cast<float>(dir.y * r);
    p.z = static_cast<float>(dir.z * r);
    p.reflectivity = hit->reflectivity;
  }
  return out;
}

}  // namespace lidar_sim
