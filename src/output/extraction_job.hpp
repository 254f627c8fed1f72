#pragma once
// The extraction of a video as both front ends start it: the parameters the
// user chose, the clip detection and priority of the advanced options, and
// this program's JPEG and BMP writers for extracted frames.

#include <filesystem>

#include "video/avi_extract.hpp"

namespace tess {

class AdvancedOptions;

AviExtract::Job extraction_job(const std::filesystem::path& video, const ExtractParameters& parameters,
                               const AdvancedOptions& options, int threads);

}  // namespace tess
