#include "output/mosaic_saver.hpp"

#include <malloc.h>

#include <ctime>
#include <memory>
#include <string>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "video/video_timing.hpp"
#include "output/fast_preview.hpp"
#include "output/output_file.hpp"
#include "output/output_guard.hpp"
#include "output/web_pyramid.hpp"
#include "settings/advanced_options.hpp"
#include "settings/user_state.hpp"
#include "tilelist/tile_image_list.hpp"
#include "video/clip_frames.hpp"

namespace tess {

namespace {

std::string today_local_date() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// The first mosaic keeps its date; every finished mosaic counts one more.
void count_finished_mosaic(const UserState& state) {
  const long count = state.get_int("MosaicCount");
  // A counter that cannot be written costs the About window a number, never the mosaic.
  if (count == 0) (void)state.set_text("DateFirstMosaic", today_local_date());
  (void)state.set_text("MosaicCount", format("%ld", count + 1));
}

// The files a mosaic's records stand for: each record's own file, or for
// one picture a frame every frame's picture.
std::vector<std::string> files_written(const std::vector<SavedFileRecord>& records, OutputFormatCode format,
                                       std::int64_t first, std::int64_t last) {
  std::vector<std::string> files;
  for (const SavedFileRecord& record : records) {
    if (format != OutputFormatCode::video_jpg) {
      files.push_back(record.path);
      continue;
    }
    const std::string name = record.path.substr(0, record.path.size() - record.extension.size());
    for (std::int64_t frame = first; frame <= last; ++frame) files.push_back(video_frame_file(name, frame));
  }
  return files;
}

}  // namespace

bool finish_mosaic(MosaicBuilder& builder, const ScoreTables& tables, const FinishRequest& request,
                   FinishResult& result) {
  result = FinishResult{};
  // 1. What placement left behind goes back to the system before the bands are allocated.
  ::malloc_trim(0);
  // 2. A first rough look at the mosaic, when asked for.
  offer_fast_preview(builder);
  // 3. A RezIroriz is cut from the very bands the mosaic is written from, so
  // it costs no second rendering.
  const bool web_only = builder.parameters.output_format == OutputFormatCode::web;
  std::unique_ptr<WebPyramid> web;
  if (web_only || builder.parameters.web_output) {
    web = std::make_unique<WebPyramid>(builder, WebOptions::from(builder.parameters, request.base_name),
                                       builder.grid.pixel_width(), builder.grid.pixel_height());
    if (!web->set_up()) {
      // Reported; without it a web-only mosaic has nothing to write.
      if (web_only) return false;
      web.reset();
      result.side_files_failed = true;
    }
  }
  // 4. The renderer for the run and the saver over the placed tiles. Clips
  // show the frame of the moment: the first one in a still mosaic, the one
  // the clock says in a video mosaic, whose length and rate come from them.
  VideoClock clock;
  if (is_video_format(builder.parameters.output_format)) {
    const VideoTiming timing = video_timing(clip_statistics(builder.grid), builder.parameters.advanced);
    clock.frames = timing.frames;
    clock.rate = timing.rate;
    clock.reverse_loop = reverse_loop_mode(builder.parameters.advanced.value(kOptReverseLoop));
    clock.last = clock.frames;
    if (request.frames.first > 0) {
      if (request.frames.last > clock.frames || request.frames.last < request.frames.first) {
        builder.prompt().message(format(tr("The video mosaic has %ld frames: frames %ld to %ld cannot be written."),
                                        static_cast<long>(clock.frames), static_cast<long>(request.frames.first),
                                        static_cast<long>(request.frames.last)),
                                 Icon::error);
        return false;
      }
      clock.first = request.frames.first;
      clock.last = request.frames.last;
      clock.part = true;
    }
  }
  ClipFrames clips;
  TileFrameLoader frame_loader = request.frame_loader;
  if (!frame_loader)
    frame_loader = [&clips, &clock](const FotoInfo& clip, int, int, Foto& frame) {
      return clips.load(clip.path, tile_frame(clock.frame.load(), clip.frame_count, clock.frames, clock.reverse_loop),
                        frame);
    };
  const bool black_and_white = builder.tile_list != nullptr && builder.tile_list->black_and_white();
  const TileRenderer renderer(tables, black_and_white, builder.prompt(), frame_loader);
  // Wherever no tile is drawn the border colour shows: the gaps between tiles
  // and cells whose picture could not be loaded.
  const std::uint32_t background = static_cast<std::uint32_t>(builder.parameters.border_colour) & 0x00FFFFFFu;
  // The mosaic seen from afar is taken from the very bands that are written,
  // borders and empty cells as they show, never read back from the files.
  std::unique_ptr<FarMosaicReducer> far;
  if (request.far_view != nullptr && request.far_view->usable())
    far = std::make_unique<FarMosaicReducer>(builder.grid.pixel_width(), builder.grid.pixel_height(),
                                             request.far_view->main.width, request.far_view->main.height);
  bool ok = false;
  {
    JPGMosaicSave saver(builder, builder.grid, renderer, background, request.threads, request.priority);
    if (!request.tiles_folder.empty())
      saver.save_individual_tiles(request.tiles_folder, OutputOptions::from(builder.parameters), request.dpi);
    saver.set_video_clock(&clock);
    // A video mosaic renders its bands once a frame: the web pyramid takes
    // the first frame's, and encodes its tiles on the saver's threads.
    if (web) web->use_pool(saver.pool(), saver.threads());
    // The first frame's bands also show the mosaic growing to whoever follows the run.
    saver.set_band_observer([&web, &far, &clock, &builder](const Foto& band, int x, int y) {
      if (clock.frame.load() > 1) return;
      if (web) web->add_band(band, x, y);
      if (far) far->add_band(band, x, y);
      builder.sketch_band(band, x, y);
    });
    ok = save_mosaic(saver, request.base_name, builder.parameters, request.split, builder.grid.pixel_width(),
                     builder.grid.pixel_height(), result.files, request.dpi, request.extension);
    result.render_records = saver.render_records();
    // Taken while the grid still holds the cells' signatures; the records
    // carry the tiles' mean colours, so this is one step per cell.
    result.colour_fidelity = measure_colour_fidelity(builder.grid, result.render_records);
    // Only a mosaic whose every pixel came past once is measured; some split
    // pieces, or frames after the first, would give a wrong figure.
    if (ok && far && far->complete()) add_far_figures(*request.far_view, far->picture(), result.colour_fidelity);
    // Tile saving stopped quietly at its first failure; the run says so once.
    if (saver.individual_tile_failed()) {
      report_unable_to_save(saver.first_failed_tile(), builder.prompt());
      result.side_files_failed = true;
    } else if (ok && !request.tiles_folder.empty() && !mark_folder(request.tiles_folder, {})) {
      // The folder is the program's from now on: a later run may write into it.
      report_unable_to_save(request.tiles_folder + "/" + kFolderMarkName, builder.prompt());
      result.side_files_failed = true;
    }
  }
  // After the mosaic file: the pyramid, its popups and its page. Beside
  // another format a failed RezIroriz (reported) leaves the mosaic standing;
  // alone it is the mosaic.
  if (web) {
    std::string index_file;
    const bool web_written = ok && web->finish(builder.grid, index_file);
    if (!ok) web->abandon();
    if (web_written) result.result_file = index_file;
    if (web_only || builder.stop_requested()) ok = ok && web_written;
    else if (ok && !web_written) result.side_files_failed = true;
  }
  if (ok) result.written_files = files_written(result.files, builder.parameters.output_format, clock.first, clock.last);
  // 5. Counted for the About window.
  if (ok && request.user_state != nullptr) count_finished_mosaic(*request.user_state);
  return ok;
}

}  // namespace tess
