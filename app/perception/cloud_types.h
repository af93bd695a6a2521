// The perception pipeline's working cloud type, declared without pulling the point-cloud
// library's headers into every user.
#pragma once

#include <memory>

namespace pcl {
struct PointXYZ;
template <typename PointT>
class PointCloud;
}  // namespace pcl

namespace app {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;
using CloudPtr = std::shared_ptr<Cloud>;
using CloudConstPtr = std::shared_ptr<const Cloud>;

}  // namespace app
