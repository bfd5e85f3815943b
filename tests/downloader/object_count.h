// Live engine objects in a counting test build.
#pragma once

namespace stubframework::downloader::details {

long LiveObjects();

}  // namespace stubframework::downloader::details
