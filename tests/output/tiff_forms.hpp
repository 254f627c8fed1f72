// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The TIFF layouts the tests write, each through the writer the format
// table would pick for it.

#include <filesystem>

#include "output/tiff_writer.hpp"
#include "output/write_options.hpp"

namespace tess::testing {

struct TiffForm {
  bool big_tiff = false;
  bool jpeg = false;
  int jpeg_quality = 75;
  bool alpha = false;
  int threads = 1;
};

[[nodiscard]] inline bool write_tiff_as(RowSource& source, const std::filesystem::path& path, const TiffForm& form,
                                        int dpi, Prompt& prompt) {
  WriteOptions options;
  options.dpi = dpi;
  options.big_tiff = form.big_tiff;
  options.jpeg_quality = form.jpeg_quality;
  options.alpha = form.alpha ? AlphaSample::opaque : AlphaSample::none;
  options.threads = form.threads;
  return form.jpeg ? write_tiff_jpeg_rows(source, path, options, prompt) : write_tiff_rows(source, path, options, prompt);
}

}  // namespace tess::testing
