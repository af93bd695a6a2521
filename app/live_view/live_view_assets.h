// The browser page's files, compiled into the service (cmake/EmbedFiles.cmake writes the table
// from app/live_view/page and the npm packages it uses), so the page needs nothing from outside.
#pragma once

#include <cstddef>

namespace app {

struct LiveViewAsset {
  const char* path;  // the URL path it is served at
  const char* content_type;
  const unsigned char* data;
  std::size_t size;
};

extern const LiveViewAsset kLiveViewAssets[];
extern const std::size_t kLiveViewAssetCount;

}  // namespace app
