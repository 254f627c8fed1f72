#include "fuzz_entries.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "cli/parameter_overrides.hpp"
#include "engine/mask_layout.hpp"
#include "engine/mosaic_builder.hpp"
#include "images/exif.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "images/row_reduction.hpp"
#include "output/web_pyramid.hpp"
#include "settings/advanced_options.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/configuration.hpp"
#include "settings/mosaic_parameters.hpp"
#include "settings/settings_file.hpp"
#include "settings/units.hpp"
#include "settings/user_state.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"
#include "video/avi_stream.hpp"
#include "video/clip_frames.hpp"

namespace tess::fuzz {
namespace {

namespace fs = std::filesystem;

/// Pictures and frames are decoded whole only up to this many pixels: a
/// header may claim any size, and a decoder that honours a huge claim is
/// doing its job, not failing it.
constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 21;

/// A process's own folder for the files the readers are given (they all read
/// by path), removed when the process ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    m_folder = base / ("tess-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(m_folder, ec);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(m_folder, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  fs::path path(const char* name) const { return m_folder / name; }

 private:
  fs::path m_folder;
};

fs::path scratch_path(const char* name) {
  static ScratchFolder folder;
  return folder.path(name);
}

/// The input as a file of that name in the scratch folder.
fs::path write_scratch(const char* name, const std::uint8_t* data, std::size_t size) {
  const fs::path path = scratch_path(name);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();  // the harness itself is broken
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
  return path;
}

std::string as_text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

/// A promise of the code under test was broken: stop here so the fuzzer
/// keeps the input.
[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

bool small_enough(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width * height <= kMaxDecodedPixels;
}

// --- list files ------------------------------------------------------------

bool same_entry(const FotoInfo& a, const FotoInfo& b) {
  return a.path == b.path && a.modification_time == b.modification_time && a.file_size == b.file_size &&
         a.required == b.required && a.frame_count == b.frame_count && a.rate_code == b.rate_code &&
         a.signature.samples == b.signature.samples && a.signature.portrait == b.signature.portrait &&
         a.signature.opaque == b.signature.opaque;
}

bool same_list(const TileImageList& a, const TileImageList& b) {
  for (int k = 0; k < kFolderKindCount; ++k)
    if (a.folders(static_cast<FolderKind>(k)) != b.folders(static_cast<FolderKind>(k))) return false;
  if (a.black_and_white() != b.black_and_white() || a.entry_count() != b.entry_count()) return false;
  auto left = a.entries().begin();
  for (auto right = b.entries().begin(); right != b.entries().end(); ++left, ++right)
    if (!same_entry(left->second, right->second)) return false;
  return true;
}

// --- settings --------------------------------------------------------------

/// Sections, keys and values in file order: what a reader of the file sees.
/// The nameless section holds the keys above the first section line, so it
/// is always written first (and not at all when empty).
std::vector<std::string> ini_content(const IniFile& ini) {
  std::vector<std::string> content;
  std::vector<std::string> sections = ini.sections();
  std::stable_partition(sections.begin(), sections.end(), [](const std::string& name) { return name.empty(); });
  for (const std::string& section : sections) {
    if (section.empty() && ini.keys(section).empty()) continue;
    content.push_back("[" + section + "]");
    for (const std::string& key : ini.keys(section)) content.push_back(key + "=" + ini.get(section, key, ""));
  }
  return content;
}

/// The text an ini file writes reads back to the same content, and a few
/// rewrites settle on one text (blank lines around comments may move once):
/// a file rewritten by every save never drifts.
void check_text_round_trip(const IniFile& ini) {
  IniFile again;
  if (!again.parse(ini.text())) broken("an ini file's own text does not parse");
  if (ini_content(again) != ini_content(ini)) broken("an ini file's own text reads back different");
  std::string text = again.text();
  for (int pass = 0; pass < 2; ++pass) {
    IniFile next;
    if (!next.parse(text)) broken("an ini file's own text does not parse");
    text = next.text();
  }
  IniFile settled;
  if (!settled.parse(text) || settled.text() != text) broken("an ini file's text changes on every save");
}

/// A record as a settings section and back: nothing refused, and the record
/// read back writes the same section again. (Sizes are stored with six
/// decimals, so the records themselves may differ below that.)
void check_settings_round_trip(MosaicParameters params, const IniFile& config) {
  // An advanced option left empty stands for its default, as every loader
  // reads it.
  params.advanced.initialise_all(false, config);
  IniFile file;
  write_settings_section(file, "Fuzz", params, "list.tzc", true);
  IniFile reread;
  if (!reread.parse(file.text())) broken("a written settings section does not parse");
  MosaicParameters loaded = MosaicParameters::created(config);
  const SettingsLoad result = read_settings_section(reread, "Fuzz", loaded, config);
  if (!result.loaded) broken("a written settings section does not load");
  if (!result.ignored_keys.empty()) {
    for (const std::string& key : result.ignored_keys) std::fprintf(stderr, "fuzz: refused key %s\n", key.c_str());
    broken("a written settings section has keys its loader refuses");
  }
  IniFile rewritten;
  write_settings_section(rewritten, "Fuzz", loaded, "list.tzc", true);
  if (rewritten.text() != file.text()) {
    std::fprintf(stderr, "fuzz: written\n%s\nfuzz: written again\n%s\n", file.text().c_str(), rewritten.text().c_str());
    broken("a settings section reads back different from what was written");
  }
}

// --- mask pictures ---------------------------------------------------------

/// The colours a mask's pixels are drawn from: the background (white, black,
/// transparent, and colours just inside their tolerance), a few flat colours,
/// and pairs just inside and just outside the same-colour distance.
constexpr std::array<std::uint32_t, 16> kMaskPalette = {
    make_pixel(255, 255, 255), make_pixel(0, 0, 0),       make_pixel(10, 200, 30, 255), make_pixel(250, 250, 250),
    make_pixel(6, 6, 6),       make_pixel(200, 40, 40),   make_pixel(208, 40, 40),      make_pixel(214, 40, 40),
    make_pixel(40, 200, 40),   make_pixel(40, 40, 200),   make_pixel(40, 40, 213),      make_pixel(128, 128, 128),
    make_pixel(200, 40, 40, 128), make_pixel(255, 255, 0), make_pixel(0, 255, 255),     make_pixel(128, 0, 128, 254),
};

}  // namespace

int fuzz_picture(const std::uint8_t* data, std::size_t size) {
  const fs::path path = write_scratch("picture.jpg", data, size);
  SilentPrompt prompt;

  int width = 0, height = 0;
  const bool sized = Foto::read_size(path, width, height);
  JpegHeader header;
  (void)Foto::read_header(path, header);
  const int scale = Foto::load_scale(path, kAnalysisLoadSize, kAnalysisLoadSize);
  (void)exif_integer_tag(path, kExifTagOrientation, 0, 1, 8, 1);
  (void)exif_integer_tag(path, kExifTagOrientation, kExifAnyIfd, 1, 8, 1);
  (void)exif_date_text(path);
  if (!sized || scale <= 0) return 0;

  // What the list analysis does with a picture: the small decode, the
  // signature and, for a black-and-white list, its grey form.
  if (small_enough(width / scale + 1, height / scale + 1)) {
    for (const bool black_and_white : {false, true}) {
      FotoInfo entry(path.string());
      AnalysisCounters counters;
      if (analyse_entry(entry, black_and_white, kListFileVersion, counters)) {
        Foto thumbnail;
        (void)entry.signature.thumbnail(thumbnail);
      }
    }
  }
  // What a main image, a mask or a tile being rendered goes through.
  if (small_enough(width, height)) {
    Foto whole;
    if (whole.load(path, 0, 0).ok_or_show(prompt) && (whole.width() <= 0 || whole.height() <= 0))
      broken("a picture loaded with no pixels");
  }
  return 0;
}

namespace {

// The size a small load is asked for.
constexpr int kSmallLoad = 64;

// `whole_inside` for the decoders that hold the whole picture while they
// decode, even for a small load: those are given only pictures of reasonable
// size. The others shrink as they read and are given any picture whose
// shrunk form is of reasonable size.
int fuzz_format(const std::uint8_t* data, std::size_t size, PictureFormat format, const char* name,
                bool whole_inside) {
  const fs::path path = write_scratch(name, data, size);
  SilentPrompt prompt;
  const PictureDecoder* decoder = decoder_for(format);
  if (decoder == nullptr) return 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) std::abort();  // the harness itself is broken
  int width = 0, height = 0;
  const bool sized = decoder->read_size(file, path, width, height);
  std::rewind(file);
  const int factor = decoder->load_factor(file, path, kSmallLoad, kSmallLoad);
  std::rewind(file);
  int seen_w = 0, seen_h = 0;
  (void)Foto::read_size(path, seen_w, seen_h);
  (void)Foto::load_scale(path, kSmallLoad, kSmallLoad);
  if (sized && factor > 0 && small_enough(width / factor + 1, height / factor + 1) &&
      (!whole_inside || small_enough(width, height))) {
    Foto picture;
    PictureColour colour;
    if (decoder->decode(file, path, kSmallLoad, kSmallLoad, picture, colour).ok() &&
        (static_cast<std::uint64_t>(picture.width()) != reduced_side(static_cast<std::uint64_t>(width), factor) ||
         static_cast<std::uint64_t>(picture.height()) != reduced_side(static_cast<std::uint64_t>(height), factor)))
      broken("a small load of another size than its factor promises");
  }
  std::fclose(file);
  if (sized && small_enough(width, height)) {
    Foto whole;
    if (whole.load(path, 0, 0).ok_or_show(prompt) && (whole.width() <= 0 || whole.height() <= 0))
      broken("a picture loaded with no pixels");
  }
  return 0;
}

// What every reader of a picture asks of a file: its size, the factor of a
// small load, the small load and, when it is of reasonable size, the whole.
int load_picture_file(const fs::path& path) {
  SilentPrompt prompt;
  int width = 0, height = 0;
  const bool sized = Foto::read_size(path, width, height);
  const int scale = Foto::load_scale(path, kAnalysisLoadSize, kAnalysisLoadSize);
  Foto small;
  if (small.load(path, kAnalysisLoadSize, kAnalysisLoadSize).ok_or_show(prompt) &&
      (small.width() <= 0 || small.height() <= 0))
    broken("a picture loaded with no pixels");
  if (!sized || scale <= 0 || !small_enough(width, height)) return 0;
  Foto whole;
  if (whole.load(path, 0, 0).ok_or_show(prompt) && (whole.width() != width || whole.height() != height))
    broken("a whole picture loaded at another size than its header says");
  return 0;
}

}  // namespace

int fuzz_webp(const std::uint8_t* data, std::size_t size) {
  return fuzz_format(data, size, PictureFormat::webp, "picture.webp", true);
}

int fuzz_gif(const std::uint8_t* data, std::size_t size) {
  return fuzz_format(data, size, PictureFormat::gif, "picture.gif", false);
}

int fuzz_bmp(const std::uint8_t* data, std::size_t size) {
  return fuzz_format(data, size, PictureFormat::bmp, "picture.bmp", false);
}

int fuzz_jxl(const std::uint8_t* data, std::size_t size) {
  return fuzz_format(data, size, PictureFormat::jxl, "picture.jxl", true);
}

int fuzz_tiff(const std::uint8_t* data, std::size_t size) {
  return load_picture_file(write_scratch("picture.tif", data, size));
}

int fuzz_raw(const std::uint8_t* data, std::size_t size) {
  return load_picture_file(write_scratch("picture.nef", data, size));
}

int fuzz_heif(const std::uint8_t* data, std::size_t size) {
  const fs::path path = write_scratch("picture.heic", data, size);
  SilentPrompt prompt;
  int width = 0, height = 0;
  const bool sized = Foto::read_size(path, width, height);
  const int small_scale = Foto::load_scale(path, kAnalysisLoadSize, kAnalysisLoadSize);
  const int whole_scale = Foto::load_scale(path, 0, 0);
  if (!sized || small_scale <= 0) return 0;
  if (whole_scale != 1) broken("a whole load that is not of the whole picture");
  // The small load the list analysis makes (a thumbnail where one fits),
  // then the whole picture.
  if (small_enough(width / small_scale + 1, height / small_scale + 1)) {
    Foto small;
    if (small.load(path, kAnalysisLoadSize, kAnalysisLoadSize).ok_or_show(prompt) && small.empty())
      broken("a picture loaded with no pixels");
  }
  if (small_enough(width, height)) {
    Foto whole;
    if (whole.load(path, 0, 0).ok_or_show(prompt) && (whole.width() <= 0 || whole.height() <= 0))
      broken("a picture loaded with no pixels");
  }
  return 0;
}

int fuzz_list_file(const std::uint8_t* data, std::size_t size) {
  const fs::path path = write_scratch("list.tzc", data, size);
  SilentPrompt prompt;
  TileImageList list;
  ListLoadResult result = ListLoadResult::loaded;
  if (!load_list_file(list, path, &result).ok_or_show(prompt)) return 0;
  for (const int mode : {kGroupingFrameNumbers, kGroupingCustomVariants, kGroupingFolderVariants})
    list.group_variants(mode);

  // Whatever was read is written whole and reads back the same.
  const fs::path copy = scratch_path("copy.tzc");
  if (!save_list_file(list, copy).ok_or_show(prompt)) broken("a loaded list could not be saved");
  TileImageList reread;
  if (!load_list_file(reread, copy).ok_or_show(prompt)) broken("a saved list does not load");
  if (!same_list(list, reread)) broken("a saved list reads back different");

  // The share a partial list carries after its entries survives a save too.
  TileImageList part;
  ListShare share;
  if (!load_list_file(part, path, nullptr, &share).ok_or_show(prompt) || share.count == 0) return 0;
  if (!save_list_file(part, copy, &share).ok_or_show(prompt)) broken("a loaded share could not be saved");
  ListShare reread_share;
  if (!load_list_file(reread, copy, nullptr, &reread_share).ok_or_show(prompt)) broken("a saved share does not load");
  if (reread_share.index != share.index || reread_share.count != share.count || reread_share.scanned != share.scanned ||
      reread_share.fingerprint != share.fingerprint || reread_share.unusable != share.unusable)
    broken("a saved share reads back different");
  return 0;
}

int fuzz_settings_file(const std::uint8_t* data, std::size_t size) {
  IniFile settings;
  if (!settings.parse(as_text(data, size))) return 0;
  check_text_round_trip(settings);
  const IniFile config;
  SilentPrompt prompt;
  const ListCounts counts{3, 2, 1, 1, 7};
  (void)startup_settings_code(settings);
  for (const SettingsEntry& entry : settings_entries(settings)) {
    MosaicParameters params = MosaicParameters::created(config);
    (void)load_settings_entry(entry, settings, params, counts, config, prompt);
  }
  // A section under any name, as the command line's --section reads it, and
  // saved again.
  for (const std::string& section : settings.sections()) {
    (void)settings_version(settings, section);
    MosaicParameters params = MosaicParameters::created(config);
    if (read_settings_section(settings, section, params, config).loaded) check_settings_round_trip(params, config);
  }
  return 0;
}

int fuzz_configuration(const std::uint8_t* data, std::size_t size) {
  IniFile config;
  if (!config.parse(as_text(data, size))) return 0;
  check_text_round_trip(config);
  const MosaicParameters created = MosaicParameters::created(config);
  const MosaicParameters defaults = default_settings(config);
  AdvancedOptions options;
  options.initialise_all(false, config);
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) (void)normalise_advanced_value(i, options.value(i));
  (void)(created == defaults);

  // The user state reads the file itself.
  const fs::path path = write_scratch("config.txt", data, size);
  const UserState state{ConfigFile(path)};
  // Each read goes to the file again: a few keys show the reader.
  const std::vector<std::string> keys = config.keys(kUserSettingsSection);
  for (std::size_t i = 0; i < keys.size() && i < 4; ++i) {
    (void)state.get_int(keys[i]);
    (void)state.get_text(keys[i]);
  }
  (void)state.file_dialog_folder("ImageList", "/fallback/");
  (void)state.folder_dialog_folder("Include", "/fallback/");
  return 0;
}

int fuzz_units(const std::uint8_t* data, std::size_t size) {
  const std::string text = as_text(data, size);
  (void)parse_unit(text);
  if (const auto value = parse_unit_value(text)) (void)format_value(*value);
  if (const auto size_value = parse_size(text)) (void)format_size(*size_value);
  if (const auto colour = parse_colour(text)) (void)format_colour(*colour);
  (void)parse_plain_number(text);
  for (ParameterField field : {kResolutionField, kTileSizeField, kBorderSizeField, kTileShareField,
                               kTileDuplicationField, kDuplicateSpacingField, kColourChangeField, kJpegQualityField,
                               kPopUpImageField, kConsecutiveFramesField}) {
    if (!parse_field(field, text)) continue;
    if (!field.accepts(field.current)) broken("a field took a value outside its limits or units");
    (void)format_value(field.current, UnitForm::abbreviated);
  }
  return 0;
}

int fuzz_parameter_overrides(const std::uint8_t* data, std::size_t size) {
  // One argument per line; an argument never holds a zero byte.
  std::vector<std::string> pairs;
  std::string line;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\0') {
      pairs.push_back(std::move(line));
      line.clear();
    } else {
      line.push_back(static_cast<char>(data[i]));
    }
  }
  pairs.push_back(std::move(line));
  MosaicParameters params = MosaicParameters::created(IniFile());
  const OverrideResult result = apply_parameter_overrides(params, pairs);
  if (!result.ok && result.error.empty()) broken("an override was refused without a reason");
  // What the command saves with `settings save --set ...` reads back as it was.
  if (result.ok) check_settings_round_trip(params, IniFile());
  return 0;
}

int fuzz_mask_layout(const std::uint8_t* data, std::size_t size) {
  // Byte 0: the width (1..64) and byte 1 the pixel scale; then one palette
  // index per pixel, four bits each.
  if (size < 3) return 0;
  const int width = 1 + data[0] % 64;
  const int scale = 1 + data[1] % 8;
  const std::size_t pixels = (size - 2) * 2;
  const int height = static_cast<int>(std::max<std::size_t>(1, pixels / static_cast<std::size_t>(width)));
  SilentPrompt prompt;
  Foto mask;
  if (!mask.allocate(width, height).ok_or_show(prompt)) return 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      const std::uint8_t byte = 2 + i / 2 < size ? data[2 + i / 2] : 0;
      mask.at(x, y) = kMaskPalette[(i % 2 == 0 ? byte : byte >> 4) & 0x0F];
    }
  }

  std::vector<MaskRegion> regions;
  if (find_mask_regions(mask, regions).ok_or_show(prompt)) {
    for (const MaskRegion& region : regions) {
      if (region.left < 0 || region.top < 0 || region.width <= 0 || region.height <= 0 ||
          region.left + region.width > width || region.top + region.height > height)
        broken("a mask patch lies outside the mask");
      if (region.pixel_count < kMinimumMaskRegionPixels ||
          region.pixel_count > std::int64_t{region.width} * region.height)
        broken("a mask patch counts the wrong number of pixels");
      if (!region.shape.empty() && (region.shape.width() != region.width || region.shape.height() != region.height))
        broken("a mask patch's shape is not its rectangle's size");
    }
  }
  MosaicBuilder builder(prompt);
  (void)build_cells_from_mask(builder, mask, scale);
  return 0;
}

int fuzz_web_page(const std::uint8_t* data, std::size_t size) {
  // The first line is the mosaic's title, the rest the viewer's page.
  const std::string text = as_text(data, size);
  const std::size_t line_end = text.find('\n');
  const std::string title = text.substr(0, line_end);
  const std::string page = line_end == std::string::npos ? std::string() : text.substr(line_end + 1);

  const std::string quoted = web_quoted(title);
  // One quote at each end, every inner one doubled: the viewer reads it back.
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') broken("a quoted text is not in quotes");
  std::string unquoted;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    unquoted += quoted[i];
    if (quoted[i] == '"') {
      if (i + 2 >= quoted.size() || quoted[i + 1] != '"') broken("a quote inside a quoted text is not doubled");
      ++i;
    }
  }
  // The viewer takes one backslash off each "<" that backslashes and a "/"
  // or "!" follow; no "</" or "<!" may be left for the page's script block.
  if (unquoted.find("</") != std::string::npos || unquoted.find("<!") != std::string::npos) {
    broken("a quoted text holds \"</\" or \"<!\"");
  }
  std::string read_back;
  for (std::size_t i = 0; i < unquoted.size(); ++i) {
    read_back += unquoted[i];
    if (unquoted[i] != '<') continue;
    const std::size_t slash = unquoted.find_first_not_of('\\', i + 1);
    if (slash != std::string::npos && slash > i + 1 && (unquoted[slash] == '/' || unquoted[slash] == '!')) ++i;
  }
  if (read_back != title) broken("a quoted text does not read back");

  // A whole web mosaic of 2 x 2 pixels whose viewer page is the input, so
  // the page's placeholders are filled by the real code.
  const fs::path viewer = scratch_path("viewer");
  const fs::path output = scratch_path("web");
  std::error_code ec;
  fs::remove_all(output, ec);
  fs::create_directories(viewer, ec);
  (void)write_scratch("viewer/index.html", reinterpret_cast<const std::uint8_t*>(page.data()), page.size());
  SilentPrompt prompt;
  MosaicBuilder builder(prompt);
  WebOptions options;
  options.folder = output.string() + "/";
  options.title = title;
  options.popup_kind = static_cast<int>(size % (kWebPopUpLast + 2));
  options.viewer_folder = viewer;
  WebPyramid web(builder, options, 2, 2);
  if (web.set_up()) {
    Foto band;
    if (band.allocate_fill(2, 2, make_pixel(10, 20, 30)).ok_or_show(prompt)) web.add_band(band, 0, 0);
    std::string index_file;
    if (web.finish(builder.grid, index_file) && index_file.empty()) broken("a finished web mosaic has no page");
  }
  return 0;
}

int fuzz_video_header(const std::uint8_t* data, std::size_t size) {
  const fs::path path = write_scratch("clip.avi", data, size);
  bool decodable = false;
  {
    CAviStream stream;  // keeps its messages: nothing is shown
    if (!stream.open(path)) return 0;
    (void)extraction_defaults(stream, true);
    (void)extraction_defaults(stream, false);
    decodable = small_enough(stream.width(), stream.height());
    if (decodable) {
      Foto frame;
      (void)stream.get_frame(0, frame);
      if (stream.frame_count() > 1) (void)stream.get_frame(stream.frame_count() - 1, frame);
    }
    stream.close();
  }
  // The list analysis opens the clip again for its length and first frame.
  if (decodable) {
    ClipSample sample;
    (void)read_clip_sample(path.string(), kAnalysisLoadSize, sample);
  }
  return 0;
}

std::span<const FuzzTarget> fuzz_targets() {
  static constexpr std::array<FuzzTarget, 16> kTargets = {{
      {"picture", fuzz_picture},
      {"webp", fuzz_webp},
      {"gif", fuzz_gif},
      {"bmp", fuzz_bmp},
      {"jxl", fuzz_jxl},
      {"tiff", fuzz_tiff},
      {"raw", fuzz_raw},
      {"heif", fuzz_heif},
      {"list_file", fuzz_list_file},
      {"settings_file", fuzz_settings_file},
      {"configuration", fuzz_configuration},
      {"units", fuzz_units},
      {"parameter_overrides", fuzz_parameter_overrides},
      {"mask_layout", fuzz_mask_layout},
      {"web_page", fuzz_web_page},
      {"video_header", fuzz_video_header},
  }};
  return kTargets;
}

}  // namespace tess::fuzz
