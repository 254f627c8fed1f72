#include "output/web_pyramid.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>
#include <utility>

#include "base/file_sink.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_file.hpp"
#include "settings/mosaic_parameters.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

namespace fs = std::filesystem;

namespace {

// The temporary tile: width and height as 32-bit little-endian words, then
// the pixels in Foto's own layout.
constexpr std::size_t kTemporaryHeader = 8;
// The status line changes this often at most, so a terminal on a pipe gets a
// readable trickle of lines rather than one per tile.
constexpr std::int64_t kProgressIntervalMs = 250;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

int ceil_tiles(int side) { return (side + kWebTileSide - 1) / kWebTileSide; }

// A side of the next lower level. 1, 2 and 3 all become 1, so a level never
// has a side of 0.
int halved(int side) { return side < 4 ? 1 : side / 2; }

void put_u32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t get_u32(const unsigned char* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return value;
}

// Characters that would change what a URL means are escaped; everything else
// (blanks and UTF-8 included) browsers take as it is.
std::string url_path(std::string_view path) {
  std::string url;
  for (const char c : path) {
    if (c == '%' || c == '#' || c == '?' || static_cast<unsigned char>(c) < 0x20)
      url += format("%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    else
      url += c;
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
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
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

std::string without_slash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// A new empty hidden folder beside `folder` ("<parent>/.<name>.<role>.XXXXXX/").
bool make_sibling_folder(const std::string& folder, const char* role, std::string& made) {
  made.clear();
  const fs::path target(without_slash(folder));
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + "." + role + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return false;
  made = pattern + "/";
  return true;
}

}  // namespace

WebPyramid::WebPyramid(MosaicBuilder& builder, WebOptions options, int width, int height)
    : m_builder(builder), m_options(std::move(options)), m_width(width), m_height(height),
      m_levels(web_levels(width, height)) {
  if (!m_options.folder.empty() && m_options.folder.back() != '/') m_options.folder += '/';
}

WebPyramid::~WebPyramid() {
  // A run that ended without finishing leaves no temporary tile behind.
  if (m_active) abandon();
}

std::string WebPyramid::tile_path(int level, int column, int row, bool temporary) const {
  const WebLevel& l = m_levels[static_cast<std::size_t>(level)];
  const std::int64_t index = l.first_tile + static_cast<std::int64_t>(row) * l.columns + column;
  const std::string tile_folder = format("%smosaic/%s%d/", m_options.folder, "", index / kWebTilesPerFolder);
  return format("%s%d-%d-%d.%s", tile_folder, level, column, row, temporary ? "tmp" : "jpg");
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
  if (fs::exists(m_options.folder, ec)) {
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
  m_top_written.assign(static_cast<std::size_t>(m_levels.back().tile_count()), 0);
  m_active = true;
  return true;
}

bool WebPyramid::write_temporary(const Foto& tile, const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  unsigned char header[kTemporaryHeader];
  put_u32(header, static_cast<std::uint32_t>(tile.width()));
  put_u32(header + 4, static_cast<std::uint32_t>(tile.height()));
  bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  // Pixels go out as the little-endian words they are in memory.
  for (int y = 0; ok && y < tile.height(); ++y) {
    const std::uint32_t* row = tile.row(y);
    unsigned char bytes[kWebTileSide * 4];
    for (int x = 0; x < tile.width(); ++x) put_u32(bytes + 4 * x, row[x]);
    const std::size_t size = static_cast<std::size_t>(tile.width()) * 4;
    ok = std::fwrite(bytes, 1, size, file) == size;
  }
  const bool closed = std::fclose(file) == 0;
  return ok && closed;
}

namespace {

// Reads a temporary tile; the file must hold exactly what its header says.
// `file_width` and `file_height` get the header's sizes when it could be read.
bool read_temporary_tile(const std::string& path, Foto& tile, int& file_width, int& file_height) {
  file_width = file_height = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char header[kTemporaryHeader];
  bool ok = std::fread(header, 1, sizeof header, file) == sizeof header;
  if (ok) {
    const std::uint32_t w = get_u32(header), h = get_u32(header + 4);
    file_width = static_cast<int>(std::min<std::uint32_t>(w, 1u << 30));
    file_height = static_cast<int>(std::min<std::uint32_t>(h, 1u << 30));
    std::error_code ec;
    const auto length = fs::file_size(path, ec);
    ok = !ec && w >= 1 && h >= 1 && w <= kWebTileSide && h <= kWebTileSide &&
         length == kTemporaryHeader + static_cast<std::uintmax_t>(w) * h * 4;
    if (ok) ok = tile.try_allocate(static_cast<int>(w), static_cast<int>(h));
    for (int y = 0; ok && y < tile.height(); ++y) {
      unsigned char bytes[kWebTileSide * 4];
      const std::size_t size = static_cast<std::size_t>(tile.width()) * 4;
      ok = std::fread(bytes, 1, size, file) == size;
      std::uint32_t* row = tile.row(y);
      for (int x = 0; ok && x < tile.width(); ++x) row[x] = get_u32(bytes + 4 * x);
    }
  }
  std::fclose(file);
  if (!ok) tile.clear();
  return ok;
}

}  // namespace

bool WebPyramid::read_temporary(const std::string& path, Foto& tile) const {
  int w = 0, h = 0;
  return read_temporary_tile(path, tile, w, h);
}

void WebPyramid::add_band(const Foto& band, int x, int y) {
  if (!m_active || band.empty()) return;
  const WebLevel& top = m_levels.back();
  const int level = static_cast<int>(m_levels.size()) - 1;
  const int right = std::min(x + band.width(), top.width);
  const int bottom = std::min(y + band.height(), top.height);
  if (x < 0 || y < 0 || right <= x || bottom <= y) return;

  std::string error;
  for (int row = y / kWebTileSide; error.empty() && row <= (bottom - 1) / kWebTileSide; ++row)
    for (int column = x / kWebTileSide; error.empty() && column <= (right - 1) / kWebTileSide; ++column) {
      // 1. A full-resolution tile that meets the band, and the part of it the band holds.
      const int tx = column * kWebTileSide, ty = row * kWebTileSide;
      const int tw = top.tile_width(column), th = top.tile_height(row);
      const int x0 = std::max(tx, x), x1 = std::min(tx + tw, right);
      const int y0 = std::max(ty, y), y1 = std::min(ty + th, bottom);
      const bool whole = x0 == tx && y0 == ty && x1 == tx + tw && y1 == ty + th;
      const std::string path = tile_path(level, column, row, true);
      const std::size_t index = static_cast<std::size_t>(row) * top.columns + column;
      Foto tile;
      if (whole) {
        // 2. The band holds all of it.
        if (!tile.try_allocate(tw, th)) {
          error = tr("RezIroriz Error 03");
          break;
        }
      } else if (m_top_written[index] != 0) {
        // 3. Part of it: the earlier bands' part comes back from its file.
        int fw = 0, fh = 0;
        if (!read_temporary_tile(path, tile, fw, fh) || fw != tw || fh != th) {
          error = format(tr("RezIroriz Error 02. Foto[%ld x %ld], Tile[%ld x %ld]"), static_cast<long>(fw),
                         static_cast<long>(fh), static_cast<long>(tw), static_cast<long>(th));
          break;
        }
      } else if (!tile.allocate_fill(tw, th, kWebUnrenderedPixel, m_builder.prompt())) {
        error = tr("RezIroriz Error 03");
        break;
      }
      for (int yy = y0; yy < y1; ++yy)
        std::memcpy(tile.row(yy - ty) + (x0 - tx), band.row(yy - y) + (x0 - x),
                    static_cast<std::size_t>(x1 - x0) * sizeof(std::uint32_t));
      if (!write_temporary(tile, path)) {
        error = tr(whole ? "RezIroriz Error 01" : "RezIroriz Error 04");
        break;
      }
      m_top_written[index] = 1;
    }
  if (!error.empty()) {
    // 4. The mosaic goes on without its web form.
    m_builder.prompt().message(error, Icon::error);
    abandon();
  }
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

bool WebPyramid::build_pyramid() {
  Prompt& prompt = m_builder.prompt();
  const std::int64_t total = m_levels.back().first_tile + m_levels.back().tile_count();
  std::int64_t done = 0;
  show_progress(0, total, true);

  // Writes a finished tile of `level` as its JPEG and lets its temporary file go.
  const auto publish = [&](const Foto& tile, int level, int column, int row) {
    if (!write_jpeg_image(tile, tile_path(level, column, row, false), true, m_options.jpeg_quality, 0, prompt))
      return false;
    std::error_code ec;
    fs::remove(tile_path(level, column, row, true), ec);
    show_progress(++done, total, false);
    return true;
  };

  for (int level = static_cast<int>(m_levels.size()) - 1; level >= 1; --level) {
    const WebLevel& high = m_levels[static_cast<std::size_t>(level)];
    const WebLevel& low = m_levels[static_cast<std::size_t>(level - 1)];
    for (int row = 0; row < low.rows; ++row)
      for (int column = 0; column < low.columns; ++column) {
        if (m_builder.stop_requested()) return false;
        const int tw = low.tile_width(column), th = low.tile_height(row);
        Foto composed;
        if (!composed.allocate_fill_bytes(2 * tw, 2 * th, 127, prompt)) return false;
        // The higher tiles this one is made of. Halving truncates, so the
        // last tile of a row or column may also own a sliver of a tile that
        // falls outside the picture it is made from: it is written all the same.
        const int column_end = column == low.columns - 1 ? high.columns : std::min(high.columns, 2 * column + 2);
        const int row_end = row == low.rows - 1 ? high.rows : std::min(high.rows, 2 * row + 2);
        for (int hr = 2 * row; hr < row_end; ++hr)
          for (int hc = 2 * column; hc < column_end; ++hc) {
            Foto tile;
            if (!read_temporary(tile_path(level, hc, hr, true), tile) || tile.width() != high.tile_width(hc) ||
                tile.height() != high.tile_height(hr)) {
              prompt.message(tr("RezIroriz Error B01"), Icon::error);
              return false;
            }
            composed.paste((hc - 2 * column) * kWebTileSide, (hr - 2 * row) * kWebTileSide, tile, PasteMode::copy);
            if (!publish(tile, level, hc, hr)) return false;
          }
        // What of the composed picture the higher level really holds: twice
        // the lower tile, except where a side of 1 to 3 became 1.
        const int region_w = std::min(2 * tw, high.width - 2 * column * kWebTileSide);
        const int region_h = std::min(2 * th, high.height - 2 * row * kWebTileSide);
        Foto half;
        if (region_w < tw || region_h < th || !composed.crop_resize(tw, th, region_w, region_h, half, prompt)) {
          prompt.message(tr("RezIroriz Error B02"), Icon::error);
          return false;
        }
        const std::string lower = tile_path(level - 1, column, row, true);
        if (!write_temporary(half, lower)) {
          report_unable_to_save(lower, prompt);
          return false;
        }
      }
  }
  const WebLevel& bottom = m_levels.front();
  for (int row = 0; row < bottom.rows; ++row)
    for (int column = 0; column < bottom.columns; ++column) {
      if (m_builder.stop_requested()) return false;
      Foto tile;
      if (!read_temporary(tile_path(0, column, row, true), tile)) {
        prompt.message(tr("RezIroriz Error B01"), Icon::error);
        return false;
      }
      if (!publish(tile, 0, column, row)) return false;
    }
  show_progress(total, total, true);
  return true;
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
      std::error_code ec;
      const fs::path absolute = fs::absolute(info.path, ec);
      picture.url = "file://" + url_path(ec ? info.path : absolute.string());
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
  const bool popup = m_options.popup_kind > kWebPopUpNone && m_options.popup_kind <= kWebPopUpLast;
  std::string tile_array = "null";
  const bool ok = build_pyramid() && (!popup || write_popup_data(grid, tile_array)) &&
                  !m_builder.stop_requested() && write_viewer(tile_array, index_file);
  if (!ok || !take_final_name(index_file)) {
    index_file.clear();
    abandon();
    return false;
  }
  m_active = false;
  return true;
}

bool WebPyramid::take_final_name(std::string& index_file) {
  if (m_final_folder.empty()) return true;
  // The earlier mosaic steps aside, the new one takes its name, and only
  // then is the earlier one removed; a failed step puts it back.
  std::string aside;
  if (!make_sibling_folder(m_final_folder, "old", aside) ||
      ::rename(without_slash(m_final_folder).c_str(), without_slash(aside).c_str()) != 0) {
    std::error_code ec;
    if (!aside.empty()) fs::remove(without_slash(aside), ec);
    report_unable_to_save(m_final_folder, m_builder.prompt());
    return false;
  }
  if (::rename(without_slash(m_options.folder).c_str(), without_slash(m_final_folder).c_str()) != 0) {
    (void)::rename(without_slash(aside).c_str(), without_slash(m_final_folder).c_str());
    report_unable_to_save(m_final_folder, m_builder.prompt());
    return false;
  }
  std::error_code ec;
  fs::remove_all(without_slash(aside), ec);
  m_options.folder = m_final_folder;
  m_final_folder.clear();
  index_file = m_options.folder + "index.html";
  return true;
}

void WebPyramid::abandon() {
  if (!m_active) return;
  m_active = false;
  std::error_code ec;
  // The folder is this run's own (new, or built beside an earlier one) and
  // holds nothing worth keeping without its page.
  fs::remove_all(m_options.folder, ec);
  if (!m_final_folder.empty()) {
    m_options.folder = m_final_folder;
    m_final_folder.clear();
  }
  m_top_written.clear();
}

}  // namespace tess
