// The point-cloud library's pipeline on a frame, the yardstick the service's frame processing
// is measured against: conversion to the library's cloud, VoxelGrid over the whole cloud (the
// distances need all of it), the distances of the thinned cloud, then Euclidean clustering of
// the region of interest.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "core/records.h"

namespace bench {

using PclCloud = pcl::PointCloud<pcl::PointXYZ>;

// The frame's finite points as a fresh library cloud, in order.
PclCloud::Ptr frame_to_cloud(const app::PointFrame& frame);

// One frame through the library's pipeline with the service's parameters (5 cm leaf, its
// region of interest and cluster sizes); the number of clusters found.
std::size_t pcl_frame(const app::PointFrame& frame, const app::ProcessingParams& params,
                      uint64_t t);

}  // namespace bench
