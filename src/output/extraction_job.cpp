#include "output/extraction_job.hpp"

#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/bmp_writer.hpp"
#include "output/jpeg_writer.hpp"
#include "settings/advanced_options.hpp"

namespace tess {

AviExtract::Job extraction_job(const std::filesystem::path& video, const ExtractParameters& parameters,
                               const AdvancedOptions& options, int threads) {
  AviExtract::Job job;
  job.video = video;
  job.parameters = parameters;
  job.detection = clip_detection(options);
  job.threads = threads;
  job.priority = configured_priority(options);
  job.jpeg_writer = [](const Foto& picture, const std::filesystem::path& path, int quality, Prompt& report) {
    return write_jpeg_image(picture, path, true, quality, 0, report);
  };
  job.bmp_writer = [](const Foto& picture, const std::filesystem::path& path, int, Prompt& report) {
    return write_bmp_image(picture, path, report);
  };
  return job;
}

}  // namespace tess
