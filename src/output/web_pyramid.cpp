#include "output/web_pyramid.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <map>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "base/file_sink.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "output/earlier_files.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_file.hpp"
#include "output/output_guard.hpp"
#include "settings/mosaic_parameters.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

namespace fs = std::filesystem;

namespace {

// Full-resolution rows go down the pyramid this many at a time, which bounds
// the rows each level holds for the level below.
constexpr int kChunkRows = 32;
// Rows of fewer pixels than this are not worth sharing among jobs.
constexpr std::int64_t kPixelsPerJob = 1 << 16;
// The status line changes this often at most, so a terminal on a pipe gets a
// readable trickle of lines rather than one per tile.
constexpr std::int64_t kProgressIntervalMs = 250;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

int ceil_tiles(int side) { return (side + kWebTileSide - 1) / kWebTileSide; }

// A side of the next lower level. 1, 2 and 3 all become 1, so a level never
// has a side of 0.
int halved(int side) { return side < 4 ? 1 : side / 2; }

// A path as a URL path: every byte but the letters, digits, "/" and the few
// marks that mean nothing special inside a path is percent-encoded, so that
// blanks, "#", "?", ":" and names in any encoding reach the right file over
// http and from the disk alike.
std::string url_path(std::string_view path) {
  static constexpr std::string_view kKept = "-._~/!$&'()*+,;=@";
  std::string url;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 && byte < 0x80)
      url += c;
    else if (kKept.find(c) != std::string_view::npos)
      url += c;
    else
      url += format("%%%02X", static_cast<unsigned>(byte));
  }
  return url;
}

std::string lower_ascii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "&", "<" and ">" would start mark-up inside the page's <title>; a double
// quote is harmless there and stays as it is.
std::string html_text(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// Every "{Name}" with a value is replaced in one pass, so a value that itself
// holds braces is never replaced again; unknown names stay for the viewer.
std::string fill_placeholders(const std::string& page, const std::map<std::string, std::string>& values) {
  std::string out;
  out.reserve(page.size());
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t open = page.find('{', at);
    if (open == std::string::npos) break;
    const std::size_t close = page.find('}', open + 1);
    if (close == std::string::npos) break;
    out.append(page, at, open - at);
    const auto value = values.find(page.substr(open + 1, close - open - 1));
    if (value != values.end()) {
      out += value->second;
      at = close + 1;
    } else {
      out += '{';
      at = open + 1;
    }
  }
  out.append(page, at, std::string::npos);
  return out;
}

bool read_whole_file(const std::string& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

}  // namespace

// --- levels and names ---------------------------------------------------------

int WebLevel::tile_width(int column) const { return std::min(kWebTileSide, width - column * kWebTileSide); }
int WebLevel::tile_height(int row) const { return std::min(kWebTileSide, height - row * kWebTileSide); }

std::vector<WebLevel> web_levels(int width, int height) {
  std::vector<WebLevel> levels;
  if (width <= 0 || height <= 0) return levels;
  // From the full size down; level 0 is the first whose sides both fit one tile.
  int w = width, h = height;
  levels.push_back({w, h, ceil_tiles(w), ceil_tiles(h), 0});
  while (w > kWebTileSide || h > kWebTileSide) {
    w = halved(w);
    h = halved(h);
    levels.push_back({w, h, ceil_tiles(w), ceil_tiles(h), 0});
  }
  std::reverse(levels.begin(), levels.end());
  std::int64_t first = 0;
  for (WebLevel& level : levels) {
    level.first_tile = first;
    first += level.tile_count();
  }
  return levels;
}

std::string_view web_popup_function(int kind) {
  switch (kind) {
    case 1: return "getPopUpTextOnly";
    case 2: return "getPopUpImageOnly";
    case 3: return "getPopUpImageWithName";
    case 4: return "getPopUpFullText";
    default: return "null";
  }
}

std::string web_quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') out += '"';
    out += c;
    // The text sits in the page's script block, which "</script" ends and
    // "<!--" changes the end of, whatever the quotes say: a "<" before
    // backslashes and a "/" or "!" gets one more backslash, which the viewer
    // takes off again.
    if (c == '<') {
      const std::size_t next = text.find_first_not_of('\\', i + 1);
      if (next != std::string_view::npos && (text[next] == '/' || text[next] == '!')) out += '\\';
    }
  }
  out += '"';
  return out;
}

std::string web_picture_link(const std::string& page_folder, const std::string& picture) {
  std::error_code ec;
  fs::path page = fs::absolute(page_folder, ec).lexically_normal();
  if (!page.has_filename()) page = page.parent_path();  // "folder/" is the folder itself
  fs::path file = fs::absolute(picture, ec);
  if (ec) file = picture;
  file = file.lexically_normal();
  // Page and picture under one root: a relative link keeps working when the
  // whole tree is copied or served, and names no folder above the common one.
  const fs::path relative = file.lexically_relative(page);
  if (!relative.empty() && page.root_path() == file.root_path()) return url_path(relative.generic_string());
  return "file://" + url_path(file.generic_string());
}

bool web_links_leave_folder(const MosaicParameters& parameters) {
  const bool web = parameters.web_output || parameters.output_format == OutputFormatCode::web;
  const bool popup = parameters.web_popup_text > kWebPopUpNone && parameters.web_popup_text <= kWebPopUpLast;
  // The web mosaic's folder is the run's own, so a picture linked where it
  // lies is always outside it.
  return web && popup && !parameters.web_copy_images;
}

void warn_of_web_links(const MosaicParameters& parameters, Prompt& prompt) {
  if (!web_links_leave_folder(parameters)) return;
  prompt.message(tr("The web mosaic's pop-ups link the tile pictures where they lie, outside the web mosaic's "
                    "folder: a published page shows the names of those folders, and its pictures are missing "
                    "wherever the page is put without them. Turn on \"Copy source images\" "
                    "(RezIrorizCopyImages=1) to copy the pictures into the web mosaic instead."),
                 Icon::warning);
}

WebOptions WebOptions::from(const MosaicParameters& parameters, const std::string& base_name) {
  WebOptions options;
  options.folder = base_name + " RezIroriz/";
  options.title = parameters.web_title;
  options.popup_kind = parameters.web_popup_text;
  options.popup_width = parameters.web_popup_image;
  options.copy_images = parameters.web_copy_images;
  options.jpeg_quality = std::clamp(parameters.jpeg_quality, 1, 100);
  options.viewer_folder = data_folder() / "webviewer";
  return options;
}

// --- the pyramid ----------------------------------------------------------------

namespace {

// Pixel x of a row of the level below from pixels 2x and 2x + 1 of rows a
// and b of the level above: the area filter's average of an exact halving,
// each channel's sum divided and truncated, the result opaque. A level one
// pixel wide or high gives its single column or row as it is.
void shrink_row(const std::uint32_t* a, const std::uint32_t* b, bool pairs_across, std::uint32_t* out, int x_begin,
                int x_end) {
  if (pairs_across && b != nullptr) {
    for (int x = x_begin; x < x_end; ++x) {
      const std::uint32_t p0 = a[2 * x], p1 = a[2 * x + 1], p2 = b[2 * x], p3 = b[2 * x + 1];
      // Red and blue add up side by side in 16-bit lanes, green alone; no
      // lane can pass 4 × 255.
      const std::uint32_t red_blue = (p0 & 0x00FF00FFu) + (p1 & 0x00FF00FFu) + (p2 & 0x00FF00FFu) + (p3 & 0x00FF00FFu);
      const std::uint32_t green = pixel_green(p0) + pixel_green(p1) + pixel_green(p2) + pixel_green(p3);
      out[x] = ((red_blue >> 2) & 0xFFu) | ((green >> 2) << 8) | (((red_blue >> 18) & 0xFFu) << 16);
    }
    return;
  }
  const int across = pairs_across ? 2 : 1;
  const std::uint32_t count = static_cast<std::uint32_t>(across * (b != nullptr ? 2 : 1));
  for (int x = x_begin; x < x_end; ++x) {
    std::uint32_t red = 0, green = 0, blue = 0;
    for (const std::uint32_t* row : {a, b}) {
      if (row == nullptr) continue;
      for (int u = across * x; u < across * x + across; ++u) {
        red += pixel_red(row[u]);
        green += pixel_green(row[u]);
        blue += pixel_blue(row[u]);
      }
    }
    out[x] = make_pixel(red / count, green / count, blue / count);
  }
}

}  // namespace

// What a level holds while rows pass through it.
struct WebPyramid::LevelState {
  std::vector<JpegStreamEncoder> encoders;  ///< the row of tiles being encoded, by column
  std::vector<std::string> finished;        ///< by column: a tile the last rows finished
  std::vector<std::uint8_t> ready;          ///< by column: `finished` holds a tile
  std::vector<std::uint8_t> failed;         ///< by column: its encoder failed
  int next_row = 0;                         ///< rows taken so far
  Foto carry;  ///< one row: the last one taken, when the row that pairs with it is still to come
  Foto below;  ///< the rows the last rows made for the level below
};

WebPyramid::WebPyramid(MosaicBuilder& builder, WebOptions options, int width, int height)
    : m_builder(builder), m_options(std::move(options)), m_width(width), m_height(height),
      m_levels(web_levels(width, height)) {
  if (!m_options.folder.empty() && m_options.folder.back() != '/') m_options.folder += '/';
}

WebPyramid::~WebPyramid() {
  // A run that ended without finishing leaves no half-built pyramid behind.
  if (m_active) abandon();
}

std::string WebPyramid::tile_path(int level, int column, int row) const {
  const WebLevel& l = m_levels[static_cast<std::size_t>(level)];
  const std::int64_t index = l.first_tile + static_cast<std::int64_t>(row) * l.columns + column;
  const std::string tile_folder = format("%smosaic/%s%d/", m_options.folder, "", index / kWebTilesPerFolder);
  return format("%s%d-%d-%d.%s", tile_folder, level, column, row, "jpg");
}

void WebPyramid::use_pool(JobPool& pool, int threads) {
  m_pool = &pool;
  m_threads = std::max(threads, 1);
}

bool WebPyramid::set_up() {
  m_active = false;
  if (m_levels.empty() || m_options.folder.empty()) {
    report_unable_to_save(m_options.folder, m_builder.prompt());
    return false;
  }
  std::error_code ec;
  // Over an earlier web mosaic the new one is built in a hidden folder
  // beside it and takes its name only once complete, so a failed or
  // stopped save leaves the earlier one as it was.
  m_final_folder.clear();
  if (fs::exists(fs::symlink_status(without_trailing_slash(m_options.folder), ec))) {
    // Only a web mosaic of ours is replaced: a folder of somebody else's
    // under that name is left as it is.
    if (std::string foreign; !folder_is_ours(m_options.folder, OwnedFolder::web, foreign)) {
      m_builder.prompt().message(foreign_folder_text(m_options.folder), Icon::error);
      return false;
    }
    std::string staging;
    if (!make_sibling_folder(m_options.folder, "new", staging)) {
      report_unable_to_save(m_options.folder, m_builder.prompt());
      return false;
    }
    m_final_folder = m_options.folder;
    m_options.folder = staging;
  }
  const std::int64_t total = m_levels.back().first_tile + m_levels.back().tile_count();
  const std::int64_t folders = (total + kWebTilesPerFolder - 1) / kWebTilesPerFolder;
  for (std::int64_t k = 0; k < folders; ++k) {
    const std::string folder = format("%smosaic/%s%d/", m_options.folder, "", k);
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
      report_unable_to_save(folder, m_builder.prompt());
      m_active = true;  // so that abandon() tidies what was made
      abandon();
      return false;
    }
  }
  m_active = true;
  // Each level: a row of encoders, one row of pixels waiting for its pair,
  // and room for what a chunk of rows makes of the level below.
  m_states.clear();
  m_tiles_written = 0;
  bool allocated = true;
  try {
    for (std::size_t n = 0; n < m_levels.size(); ++n) {
      const WebLevel& l = m_levels[n];
      auto state = std::make_unique<LevelState>();
      const auto columns = static_cast<std::size_t>(l.columns);
      state->encoders.resize(columns);
      state->finished.resize(columns);
      state->ready.assign(columns, 0);
      state->failed.assign(columns, 0);
      if (n > 0)
        allocated = allocated && state->carry.try_allocate(l.width, 1) &&
                    state->below.try_allocate(m_levels[n - 1].width, kChunkRows / 2 + 1);
      m_states.push_back(std::move(state));
    }
  } catch (const std::bad_alloc&) {
    allocated = false;
  }
  if (!allocated) {
    fail(tr("RezIroriz Error 03"));
    return false;
  }
  return true;
}

void WebPyramid::fail(const std::string& message) {
  // The mosaic goes on without its web form.
  m_builder.prompt().message(message, Icon::error);
  abandon();
}

void WebPyramid::add_band(const Foto& band, int x, int y) {
  if (!m_active || band.empty()) return;
  const int right = std::min(x + band.width(), m_width);
  const int bottom = std::min(y + band.height(), m_height);
  if (x < 0 || y < 0 || right <= x || bottom <= y) return;
  const int top_row = m_states.back()->next_row;
  if (x != 0 || right != m_width || y != top_row) {
    // A split piece, or a band out of order: its rows wait until complete.
    if (spill(band, x, y, right, bottom)) (void)take_spilled_rows();
    return;
  }
  // The band continues the mosaic: its rows go down the pyramid as they are,
  // and rows of later bands that wait in the scratch file follow.
  for (int at = y; at < bottom; at += kChunkRows) {
    Rows rows{band.row(at - y), static_cast<std::size_t>(band.width()), std::min(kChunkRows, bottom - at)};
    if (!take_rows(m_levels.size() - 1, rows)) return;
  }
  if (m_spill_fd >= 0) (void)take_spilled_rows();
}

bool WebPyramid::spill(const Foto& band, int x, int y, int right, int bottom) {
  if (m_spill_fd < 0) {
    m_spill_path = m_options.folder + ".unordered rows";
    m_spill_fd = ::open(m_spill_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_spill_fd < 0) {
      fail(tr("RezIroriz Error 04"));
      return false;
    }
    try {
      m_row_filled.assign(static_cast<std::size_t>(m_height), 0);
    } catch (const std::bad_alloc&) {
      fail(tr("RezIroriz Error 03"));
      return false;
    }
  }
  const std::size_t bytes = static_cast<std::size_t>(right - x) * sizeof(std::uint32_t);
  for (int row = y; row < bottom; ++row) {
    const off_t offset = (static_cast<off_t>(row) * m_width + x) * static_cast<off_t>(sizeof(std::uint32_t));
    if (::pwrite(m_spill_fd, band.row(row - y), bytes, offset) != static_cast<ssize_t>(bytes)) {
      fail(tr("RezIroriz Error 04"));
      return false;
    }
    m_row_filled[static_cast<std::size_t>(row)] += right - x;
  }
  return true;
}

bool WebPyramid::take_spilled_rows() {
  Foto chunk;
  for (;;) {
    const int first = m_states.back()->next_row;
    int end = first;
    while (end < m_height && end - first < kChunkRows && m_row_filled[static_cast<std::size_t>(end)] >= m_width) ++end;
    if (end == first) break;
    if ((chunk.width() != m_width || chunk.height() < end - first) && !chunk.try_allocate(m_width, kChunkRows)) {
      fail(tr("RezIroriz Error 03"));
      return false;
    }
    const std::size_t row_bytes = static_cast<std::size_t>(m_width) * sizeof(std::uint32_t);
    const std::size_t bytes = static_cast<std::size_t>(end - first) * row_bytes;
    const off_t offset = static_cast<off_t>(first) * static_cast<off_t>(row_bytes);
    const ssize_t got = ::pread(m_spill_fd, chunk.row(0), bytes, offset);
    if (got != static_cast<ssize_t>(bytes)) {
      const long rows = got < 0 ? 0L : static_cast<long>(static_cast<std::size_t>(got) / row_bytes);
      fail(format(tr("RezIroriz Error 02. Foto[%ld x %ld], Tile[%ld x %ld]"), static_cast<long>(m_width), rows,
                  static_cast<long>(m_width), static_cast<long>(end - first)));
      return false;
    }
    if (!take_rows(m_levels.size() - 1, Rows{chunk.row(0), static_cast<std::size_t>(m_width), end - first}))
      return false;
  }
  if (m_states.back()->next_row >= m_height) close_spill();
  return true;
}

void WebPyramid::close_spill() {
  if (m_spill_fd < 0) return;
  ::close(m_spill_fd);
  m_spill_fd = -1;
  ::unlink(m_spill_path.c_str());
  m_row_filled = {};
}

bool WebPyramid::take_rows(std::size_t level, const Rows& rows) {
  if (!m_active) return false;
  if (rows.count <= 0) return true;
  LevelState& state = *m_states[level];
  const WebLevel& l = m_levels[level];
  const int first = state.next_row;
  // Rows across the end of a row of tiles go in two steps, so each step
  // finishes one row of tiles at most.
  const int row_end = (first / kWebTileSide + 1) * kWebTileSide;
  if (first + rows.count > row_end) {
    const int head = row_end - first;
    return take_rows(level, Rows{rows.first, rows.stride, head}) &&
           take_rows(level, Rows{rows.row(head), rows.stride, rows.count - head});
  }
  const int last = first + rows.count - 1;
  // Row r of the level below is made of rows 2r and 2r + 1 of this one (of
  // row 0 alone when this level is one row high); these rows complete the
  // rows [below_first, below_end) of it.
  int below_first = 0, below_end = 0;
  const int down = l.height == 1 ? 1 : 2;
  if (level > 0 && last >= down - 1) {
    below_first = (first - down + 2) / 2;
    below_end = std::min(m_levels[level - 1].height, (last - down + 1) / 2 + 1);
    below_first = std::min(below_first, below_end);
  }

  const int columns = l.columns;
  int jobs = std::min(m_threads, columns);
  if (static_cast<std::int64_t>(rows.count) * l.width < kPixelsPerJob || m_pool == nullptr) jobs = 1;
  if (jobs <= 1) {
    take_columns(level, rows, 0, columns, below_first, below_end);
  } else {
    JobQueue queue(*m_pool);
    for (int j = 0; j < jobs; ++j) {
      const int begin = columns * j / jobs, end = columns * (j + 1) / jobs;
      queue.submit([this, level, rows, begin, end, below_first, below_end] {
        take_columns(level, rows, begin, end, below_first, below_end);
      });
    }
    // A job that threw left its columns' tiles unwritten; only memory runs out there.
    if (!queue.wait_all().ok()) {
      fail(tr("RezIroriz Error 03"));
      return false;
    }
  }

  // The last row waits for its pair when one is still to come.
  if (level > 0 && down == 2 && last % 2 == 0 && last / 2 < m_levels[level - 1].height)
    std::memcpy(state.carry.row(0), rows.row(rows.count - 1), static_cast<std::size_t>(l.width) * sizeof(std::uint32_t));
  state.next_row += rows.count;
  if (!write_finished(level)) return false;
  if (below_end > below_first)
    return take_rows(level - 1, Rows{state.below.row(0), static_cast<std::size_t>(state.below.width()),
                                     below_end - below_first});
  return true;
}

void WebPyramid::take_columns(std::size_t level, const Rows& rows, int column_begin, int column_end, int below_first,
                              int below_end) {
  LevelState& state = *m_states[level];
  const WebLevel& l = m_levels[level];
  const int first = state.next_row;
  for (int i = 0; i < rows.count; ++i) {
    const int y = first + i;
    const int tile_row = y / kWebTileSide;
    const int tile_height = l.tile_height(tile_row);
    const bool starts = y % kWebTileSide == 0;
    const bool ends = y == tile_row * kWebTileSide + tile_height - 1;
    const std::uint32_t* row = rows.row(i);
    for (int column = column_begin; column < column_end; ++column) {
      const auto c = static_cast<std::size_t>(column);
      if (state.failed[c] != 0) continue;
      JpegStreamEncoder& encoder = state.encoders[c];
      // No profile per tile: its 2.7 KB would add a tenth (quality 95) to a
      // quarter (quality 75) to a typical tile. Browsers show untagged
      // pictures as sRGB, which the tiles are, and the page says so.
      bool ok = !starts || encoder.start(l.tile_width(column), tile_height, m_options.jpeg_quality, false);
      ok = ok && encoder.write_row(row + static_cast<std::size_t>(column) * kWebTileSide);
      if (ok && ends) {
        ok = encoder.finish(state.finished[c]);
        state.ready[c] = ok ? 1 : 0;
      }
      if (!ok) state.failed[c] = 1;
    }
  }
  if (below_end <= below_first) return;
  // Pixels of the level below under these tile columns.
  const WebLevel& low = m_levels[level - 1];
  const bool pairs_across = l.width > 1;
  const int x_begin = pairs_across ? column_begin * (kWebTileSide / 2) : 0;
  const int x_end = column_end == l.columns ? low.width : column_end * (kWebTileSide / 2);
  const bool pairs_down = l.height > 1;
  for (int r = below_first; r < below_end; ++r) {
    // Row 2r is the row carried over from the last rows when it came before these.
    const std::uint32_t* a = 2 * r < first ? state.carry.row(0) : rows.row(2 * r - first);
    const std::uint32_t* b = pairs_down ? rows.row(2 * r + 1 - first) : nullptr;
    shrink_row(a, b, pairs_across, state.below.row(r - below_first), x_begin, x_end);
  }
}

bool WebPyramid::write_finished(std::size_t level) {
  LevelState& state = *m_states[level];
  const WebLevel& l = m_levels[level];
  for (std::size_t c = 0; c < state.failed.size(); ++c)
    if (state.failed[c] != 0) {
      // The codec only fails for want of memory.
      fail(tr("RezIroriz Error 03"));
      return false;
    }
  const int tile_row = (state.next_row - 1) / kWebTileSide;
  for (int column = 0; column < l.columns; ++column) {
    const auto c = static_cast<std::size_t>(column);
    if (state.ready[c] == 0) continue;
    state.ready[c] = 0;
    if (const std::string path = tile_path(static_cast<int>(level), column, tile_row);
        !write_file_atomically(path, state.finished[c])) {
      fail(tr("RezIroriz Error 01") + ": " + system_error_text(errno, path));
      return false;
    }
    std::string().swap(state.finished[c]);  // its memory too, not only its bytes
    ++m_tiles_written;
  }
  return true;
}

void WebPyramid::show_progress(std::int64_t done, std::int64_t total, bool force) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  if (!force && m_last_progress_ms >= 0 && now - m_last_progress_ms < kProgressIntervalMs) return;
  m_last_progress_ms = now;
  const double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
  m_builder.set_status(format(tr("Saving RezIroriz %.0f%% at #%ld of %ld tiles... "), percent,
                              static_cast<long>(done), static_cast<long>(total)));
}

bool WebPyramid::write_popup_data(const PuzzleGrid& grid, std::string& tile_array) {
  // Pictures are numbered in the order the tiles first show them.
  struct Picture {
    long number = 0;
    long uses = 0;
    std::string url;
  };
  std::map<const FotoInfo*, Picture> pictures;
  std::vector<const FotoInfo*> order;
  for (const auto& cell : grid.cells()) {
    if (cell->tile == nullptr) continue;
    Picture& picture = pictures[cell->tile];
    if (picture.number == 0) {
      picture.number = static_cast<long>(order.size()) + 1;
      order.push_back(cell->tile);
    }
    ++picture.uses;
  }

  const std::string tiles_folder = m_options.folder + "tiles/";
  // Links are worked out from where the page will end up, not from the
  // folder it is built in beside an earlier one.
  const std::string page_folder = m_final_folder.empty() ? m_options.folder : m_final_folder;
  if (m_options.copy_images && !order.empty()) {
    std::error_code ec;
    fs::create_directories(tiles_folder, ec);
    if (ec) {
      report_unable_to_save(tiles_folder, m_builder.prompt());
      return false;
    }
  }
  bool copy_failed = false;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const FotoInfo& info = *order[i];
    Picture& picture = pictures[order[i]];
    if (m_options.copy_images) {
      if (m_builder.stop_requested()) return false;
      m_builder.set_status(format(tr("Saving RezIroriz %.0f%% at #%ld of %ld tiles... "), 99.0,
                                  static_cast<long>(i + 1), static_cast<long>(order.size())));
      const std::string name = info.file_name();
      const std::size_t point = name.rfind('.');
      const std::string extension = point == std::string::npos ? "" : lower_ascii(name.substr(point + 1));
      std::string copy = format("%s-%ld", info.file_name_without_extension(), picture.number);
      if (!extension.empty()) copy += "." + extension;
      std::error_code ec;
      fs::copy_file(info.path, tiles_folder + copy, fs::copy_options::overwrite_existing, ec);
      // One missing copy costs its popup picture, not the RezIroriz; it is said once.
      if (ec && !copy_failed) {
        copy_failed = true;
        report_unable_to_save(tiles_folder + copy, m_builder.prompt());
      }
      picture.url = "tiles/" + url_path(copy);
    } else {
      picture.url = web_picture_link(page_folder, info.path);
    }
  }

  tile_array = "[\n\t\t\t// tileX, tileY, tileWidth, tileHeight, tileNr, imageNr, imageUsageCount, imageUrl, imageName, "
               "imageExtension";
  long number = 0;
  for (const auto& cell : grid.cells()) {
    if (cell->width <= 0 || cell->height <= 0) continue;
    std::string info = "null,null,null,null,null";
    if (cell->tile != nullptr) {
      const Picture& picture = pictures[cell->tile];
      const std::string name = cell->tile->file_name();
      const std::size_t point = name.rfind('.');
      info = format("%ld,%ld,%s,%s,%s", picture.number, picture.uses, web_quoted(picture.url),
                    web_quoted(cell->tile->file_name_without_extension()),
                    web_quoted(point == std::string::npos ? "" : name.substr(point + 1)));
    }
    tile_array += format("\n\t\t\t[%ld,%ld,%ld,%ld,%ld,%s],", static_cast<long>(cell->left),
                         static_cast<long>(cell->top), static_cast<long>(cell->width), static_cast<long>(cell->height),
                         ++number, info);
  }
  tile_array += "\n\t\t]";
  return true;
}

bool WebPyramid::write_viewer(const std::string& tile_array, std::string& index_file) {
  Prompt& prompt = m_builder.prompt();
  // 3. The viewer, copied whole.
  std::error_code ec;
  if (!fs::is_directory(m_options.viewer_folder, ec)) {
    report_unable_to_save(m_options.folder, prompt);
    return false;
  }
  fs::copy(m_options.viewer_folder, m_options.folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
           ec);
  if (ec) {
    report_unable_to_save(m_options.folder, prompt);
    return false;
  }
  // 4. Its page.
  const std::string page_path = m_options.folder + "index.html";
  std::string page;
  if (!read_whole_file(page_path, page)) {
    prompt.message(format(tr("Unable to load file '%s'"), page_path), Icon::error);
    return false;
  }
  if (page.compare(0, 3, kUtf8Bom) == 0) page.erase(0, 3);
  // 5. The placeholders.
  const bool popup = m_options.popup_kind > kWebPopUpNone && m_options.popup_kind <= kWebPopUpLast;
  std::map<std::string, std::string> values = {
      {"MosaicUrl", "'mosaic/'"},
      {"MosaicWidth", format("%ld", static_cast<long>(m_width))},
      {"MosaicHeight", format("%ld", static_cast<long>(m_height))},
      {"MosaicAttribution", web_quoted(m_options.title)},
      {"HtmlTitle", html_text(m_options.title)},
      {"TileArrays", popup ? tile_array : std::string("null")},
      {"PopUpMaxWidth", format("%ld", static_cast<long>(m_options.popup_width < 1 ? 300 : m_options.popup_width))},
      {"PopUpFunction", std::string(web_popup_function(popup ? m_options.popup_kind : kWebPopUpNone))},
  };
  if (popup) values["PopUpWidth"] = format("%ld", static_cast<long>(m_options.popup_width));
  if (!write_file_atomically(page_path, kUtf8Bom + fill_placeholders(page, values))) {
    report_unable_to_save(page_path, prompt);
    return false;
  }
  index_file = page_path;
  return true;
}

bool WebPyramid::finish(const PuzzleGrid& grid, std::string& index_file) {
  index_file.clear();
  if (!m_active) return false;
  // Every tile was written as the bands passed; only a pyramid that some
  // band never reached is still open.
  const std::int64_t total = m_levels.back().first_tile + m_levels.back().tile_count();
  show_progress(m_tiles_written, total, true);
  if (m_builder.stop_requested()) {
    abandon();
    return false;
  }
  if (m_tiles_written != total) {
    m_builder.prompt().message(tr("RezIroriz Error B01"), Icon::error);
    abandon();
    return false;
  }
  show_progress(total, total, true);
  const bool popup = m_options.popup_kind > kWebPopUpNone && m_options.popup_kind <= kWebPopUpLast;
  std::string tile_array = "null";
  const bool ok = (!popup || write_popup_data(grid, tile_array)) && !m_builder.stop_requested() &&
                  write_viewer(tile_array, index_file) && write_mark();
  if (!ok || !take_final_name(index_file)) {
    index_file.clear();
    abandon();
    return false;
  }
  m_active = false;
  return true;
}

bool WebPyramid::write_mark() {
  // The mark goes last, listing the viewer's files and the page: a folder
  // without it was not finished by this program.
  std::vector<std::string> files = {"index.html"};
  std::error_code ec;
  for (fs::recursive_directory_iterator it(m_options.viewer_folder, ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path().lexically_relative(m_options.viewer_folder).generic_string());
  if (ec || !mark_folder(m_options.folder, files)) {
    report_unable_to_save(m_options.folder + kFolderMarkName, m_builder.prompt());
    return false;
  }
  return true;
}

bool WebPyramid::take_final_name(std::string& index_file) {
  if (m_final_folder.empty()) return true;
  if (!replace_folder(m_options.folder, m_final_folder,
                      N_("The earlier web mosaic '%s' could not be put back: it is kept as '%s'."),
                      m_builder.prompt()))
    return false;
  m_options.folder = m_final_folder;
  m_final_folder.clear();
  index_file = m_options.folder + "index.html";
  return true;
}

void WebPyramid::abandon() {
  if (!m_active) return;
  m_active = false;
  close_spill();
  std::error_code ec;
  // The folder is this run's own (new, or built beside an earlier one) and
  // holds nothing worth keeping without its page.
  fs::remove_all(m_options.folder, ec);
  if (!m_final_folder.empty()) {
    m_options.folder = m_final_folder;
    m_final_folder.clear();
  }
  m_states.clear();
}

}  // namespace tess
