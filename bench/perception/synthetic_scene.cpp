#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "lidar_byte_io.h"
#include "lidar_sdk.h"

namespace bench {
namespace {

// The sensor is mounted 0.6 m up, so the floor lies just below the region of interest.
constexpr float kFloorZ = -0.6f;

struct Box {
  float x0, y0, z0, x1, y1, z1;
};

// A dozen obstacles standing on the floor inside the region of interest.
std::vector<Box> obstacles(std::mt19937& rng) {
  std::uniform_real_distribution<float> x(0.8f, 5.4f), y(-1.6f, 1.6f), size(0.2f, 0.6f),
      height(0.3f, 1.2f);
  std::vector<Box> boxes;
  for (int i = 0; i < 12; ++i) {
    const float cx = x(rng), cy = y(rng), sx = size(rng), sy = size(rng);
    boxes.push_back({cx - sx / 2, cy - sy / 2, kFloorZ, cx + sx / 2, cy + sy / 2,
                     kFloorZ + height(rng)});
  }
  return boxes;
}

}  // namespace

app::PointFrame make_scene(std::size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.f, 1.f);
  std::normal_distribution<float> jitter(0.f, 0.01f);
  const std::vector<Box> boxes = obstacles(rng);

  app::PointFrame frame;
  frame.points.reserve(count);
  auto add = [&](float x, float y, float z) {
    frame.points.push_back(app::CloudPoint{x + jitter(rng), y + jitter(rng), z + jitter(rng)});
  };
  for (std::size_t i = 0; i < count; ++i) {
    const float pick = unit(rng);
    if (pick < 0.35f) {
      // Floor, denser near the sensor as a spinning scanner sees it.
      const float r = 0.4f + 8.0f * unit(rng);
      const float a = 6.2831853f * unit(rng);
      add(std::clamp(r * std::cos(a), -3.0f, 8.0f), std::clamp(r * std::sin(a), -2.5f, 2.5f),
          kFloorZ);
    } else if (pick < 0.65f) {
      // Side walls at 2.5 m, a front wall at 8 m and a partition inside the region.
      const float which = unit(rng), u = unit(rng), z = kFloorZ + 2.8f * unit(rng);
      if (which < 0.35f) add(-3.0f + 11.0f * u, 2.5f, z);
      else if (which < 0.7f) add(-3.0f + 11.0f * u, -2.5f, z);
      else if (which < 0.85f) add(8.0f, -2.5f + 5.0f * u, z);
      else add(3.0f + 2.0f * u, 1.8f, z);
    } else if (pick < 0.98f) {
      const Box& b = boxes[static_cast<std::size_t>(unit(rng) * 12) % 12];
      const float u = unit(rng), v = unit(rng);
      const float x = b.x0 + (b.x1 - b.x0) * u;
      const float z = b.z0 + (b.z1 - b.z0) * v;
      switch (static_cast<int>(unit(rng) * 5)) {
        case 0: add(b.x0, b.y0 + (b.y1 - b.y0) * v, z); break;  // face towards the sensor
        case 1: add(b.x1, b.y0 + (b.y1 - b.y0) * v, z); break;
        case 2: add(x, b.y0, z); break;
        case 3: add(x, b.y1, z); break;
        default: add(x, b.y0 + (b.y1 - b.y0) * v, b.z1); break;  // top
      }
    } else {
      frame.points.push_back(app::CloudPoint{-3.0f + 11.0f * unit(rng), -3.0f + 6.0f * unit(rng),
                                             -0.5f + 3.0f * unit(rng)});
    }
  }
  return frame;
}

std::vector<std::vector<uint8_t>> make_datagrams(const app::PointFrame& scene,
                                                 std::size_t per_datagram) {
  std::vector<std::vector<uint8_t>> datagrams;
  for (std::size_t first = 0; first < scene.points.size(); first += per_datagram) {
    const std::size_t n = std::min(per_datagram, scene.points.size() - first);
    std::vector<uint8_t> bytes(kPacketHeaderSize + n * kCartesianHighRecordSize, 0);
    lidar::store_le<uint16_t>(bytes.data() + kPacketDotCountOffset, static_cast<uint16_t>(n));
    bytes[kPacketDataTypeOffset] = kDataTypeCartesianHigh;
    uint8_t* record = bytes.data() + kPacketHeaderSize;
    for (std::size_t i = 0; i < n; ++i, record += kCartesianHighRecordSize) {
      const app::CloudPoint& p = scene.points[first + i];
      lidar::store_le<int32_t>(record, static_cast<int32_t>(std::lround(p.x * 1000.0f)));
      lidar::store_le<int32_t>(record + 4, static_cast<int32_t>(std::lround(p.y * 1000.0f)));
      lidar::store_le<int32_t>(record + 8, static_cast<int32_t>(std::lround(p.z * 1000.0f)));
    }
    datagrams.push_back(std::move(bytes));
  }
  return datagrams;
}

}  // namespace bench
