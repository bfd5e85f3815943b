// Live engine objects in a counting test build.
#pragma once

namespace downloader::details {

long LiveObjects();

}  // namespace downloader::details
