#include "image_files.hpp"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <png.h>

#include "support/test_support.hpp"

namespace tess::testing {
namespace {

// --- libjpeg ----------------------------------------------------------------

struct JpegJump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jpeg_jump(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegJump*>(cinfo->err)->jump, 1); }
void jpeg_quiet(j_common_ptr) {}

struct FileCloser {
  std::FILE* file = nullptr;
  ~FileCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

struct Compressor {
  Compressor() {
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_jump;
    error.manager.output_message = jpeg_quiet;
  }
  ~Compressor() { jpeg_destroy_compress(&cinfo); }
  jpeg_compress_struct cinfo;
  JpegJump error;
};

J_COLOR_SPACE colour_space_of(int components) {
  switch (components) {
    case 1:
      return JCS_GRAYSCALE;
    case 3:
      return JCS_RGB;
    case 4:
      return JCS_CMYK;
    default:
      return JCS_UNKNOWN;
  }
}

// An APP1 block with the orientation and date asked for, if any.
std::vector<unsigned char> exif_block(const JpegSpec& spec) {
  std::vector<unsigned char> block;
  if (spec.orientation == 0 && spec.date_time.empty()) return block;
  ExifData* data = exif_data_new();
  exif_data_set_byte_order(data, EXIF_BYTE_ORDER_INTEL);
  if (spec.orientation != 0) {
    ExifEntry* entry = exif_entry_new();
    exif_content_add_entry(data->ifd[EXIF_IFD_0], entry);
    exif_entry_initialize(entry, EXIF_TAG_ORIENTATION);
    exif_set_short(entry->data, EXIF_BYTE_ORDER_INTEL, static_cast<ExifShort>(spec.orientation));
    exif_entry_unref(entry);
  }
  if (!spec.date_time.empty()) {
    ExifEntry* entry = exif_entry_new();
    entry->tag = EXIF_TAG_DATE_TIME;
    entry->format = EXIF_FORMAT_ASCII;
    entry->components = spec.date_time.size() + 1;
    entry->size = static_cast<unsigned int>(spec.date_time.size() + 1);
    entry->data = static_cast<unsigned char*>(std::calloc(entry->size, 1));  // freed by libexif's default allocator
    std::memcpy(entry->data, spec.date_time.data(), spec.date_time.size());
    exif_content_add_entry(data->ifd[EXIF_IFD_0], entry);
    exif_entry_unref(entry);
  }
  unsigned char* bytes = nullptr;
  unsigned int length = 0;
  exif_data_save_data(data, &bytes, &length);
  if (bytes != nullptr) block.assign(bytes, bytes + length);
  std::free(bytes);
  exif_data_unref(data);
  return block;
}

// DC first, then each AC coefficient of each component on its own: sent with
// two bits dropped, then refined bit by bit.
std::vector<jpeg_scan_info> scan_per_coefficient_script(int components) {
  std::vector<jpeg_scan_info> script;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c) dc.component_index[c] = c;
  script.push_back(dc);
  const int steps[3][2] = {{0, 2}, {2, 1}, {1, 0}};  // Ah, Al
  for (const auto& step : steps)
    for (int c = 0; c < components; ++c)
      for (int k = 1; k < 64; ++k) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = 1;
        scan.component_index[0] = c;
        scan.Ss = k;
        scan.Se = k;
        scan.Ah = step[0];
        scan.Al = step[1];
        script.push_back(scan);
      }
  return script;
}

bool compress_steps(Compressor& c, std::FILE* file, const JpegSpec& spec, const SampleRow& fill,
                    std::vector<std::uint8_t>& row, const std::vector<unsigned char>& exif,
                    const std::vector<jpeg_scan_info>& script) {
  jpeg_create_compress(&c.cinfo);
  jpeg_stdio_dest(&c.cinfo, file);
  c.cinfo.image_width = static_cast<JDIMENSION>(spec.width);
  c.cinfo.image_height = static_cast<JDIMENSION>(spec.height);
  c.cinfo.input_components = spec.components;
  c.cinfo.in_color_space = colour_space_of(spec.components);
  jpeg_set_defaults(&c.cinfo);
  jpeg_set_quality(&c.cinfo, spec.quality, TRUE);
  if (!spec.subsample_chroma) {
    for (int i = 0; i < c.cinfo.num_components; ++i) {
      c.cinfo.comp_info[i].h_samp_factor = 1;
      c.cinfo.comp_info[i].v_samp_factor = 1;
    }
  }
  if (spec.progressive) jpeg_simple_progression(&c.cinfo);
  if (!script.empty()) {
    c.cinfo.scan_info = script.data();
    c.cinfo.num_scans = static_cast<int>(script.size());
  }
  c.cinfo.arith_code = spec.arithmetic ? TRUE : FALSE;
  c.cinfo.density_unit = static_cast<UINT8>(spec.density_unit);
  c.cinfo.X_density = static_cast<UINT16>(spec.x_density);
  c.cinfo.Y_density = static_cast<UINT16>(spec.y_density);
  jpeg_start_compress(&c.cinfo, TRUE);
  if (!exif.empty()) jpeg_write_marker(&c.cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
  if (!spec.icc_profile.empty())
    jpeg_write_icc_profile(&c.cinfo, spec.icc_profile.data(), static_cast<unsigned>(spec.icc_profile.size()));
  while (c.cinfo.next_scanline < c.cinfo.image_height) {
    fill(static_cast<int>(c.cinfo.next_scanline), row.data());
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c.cinfo, rows, 1);
  }
  jpeg_finish_compress(&c.cinfo);
  return true;
}

bool guarded_compress(Compressor& c, std::FILE* file, const JpegSpec& spec, const SampleRow& fill,
                      std::vector<std::uint8_t>& row, const std::vector<unsigned char>& exif,
                      const std::vector<jpeg_scan_info>& script) {
  if (setjmp(c.error.jump) != 0) return false;
  return compress_steps(c, file, spec, fill, row, exif, script);
}

struct Decompressor {
  Decompressor() {
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_jump;
    error.manager.output_message = jpeg_quiet;
  }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
  jpeg_decompress_struct cinfo;
  JpegJump error;
};

bool decompress_steps(Decompressor& d, std::FILE* file, RawJpeg& raw) {
  jpeg_create_decompress(&d.cinfo);
  jpeg_stdio_src(&d.cinfo, file);
  jpeg_read_header(&d.cinfo, TRUE);
  jpeg_start_decompress(&d.cinfo);
  raw.width = static_cast<int>(d.cinfo.output_width);
  raw.height = static_cast<int>(d.cinfo.output_height);
  raw.components = d.cinfo.output_components;
  const std::size_t stride = static_cast<std::size_t>(raw.width) * static_cast<std::size_t>(raw.components);
  raw.samples.resize(stride * static_cast<std::size_t>(raw.height));
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    JSAMPROW rows[1] = {raw.samples.data() + stride * d.cinfo.output_scanline};
    jpeg_read_scanlines(&d.cinfo, rows, 1);
  }
  jpeg_finish_decompress(&d.cinfo);
  return true;
}

bool guarded_decompress(Decompressor& d, std::FILE* file, RawJpeg& raw) {
  if (setjmp(d.error.jump) != 0) return false;
  return decompress_steps(d, file, raw);
}

// --- libpng -----------------------------------------------------------------

void png_jump(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

struct PngWriter {
  ~PngWriter() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
  png_structp png = nullptr;
  png_infop info = nullptr;
};

bool png_steps(PngWriter& w, std::FILE* file, const PngSpec& spec, std::vector<png_color>& palette,
               std::vector<png_bytep>& rows) {
  png_init_io(w.png, file);
  png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
               spec.bit_depth, spec.color_type, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(w.png, w.info, palette.data(), static_cast<int>(palette.size()));
  if (!spec.palette_alpha.empty())
    png_set_tRNS(w.png, w.info, spec.palette_alpha.data(), static_cast<int>(spec.palette_alpha.size()), nullptr);
  if (spec.colour_key) {
    png_color_16 key{};
    key.gray = (*spec.colour_key)[0];
    key.red = (*spec.colour_key)[0];
    key.green = (*spec.colour_key)[1];
    key.blue = (*spec.colour_key)[2];
    png_set_tRNS(w.png, w.info, nullptr, 0, &key);
  }
  if (!spec.icc_profile.empty())
    png_set_iCCP(w.png, w.info, "profile", PNG_COMPRESSION_TYPE_BASE, spec.icc_profile.data(),
                 static_cast<png_uint_32>(spec.icc_profile.size()));
  if (spec.file_gamma > 0) png_set_gAMA(w.png, w.info, spec.file_gamma);
  if (spec.chromaticities) {
    const auto& c = *spec.chromaticities;
    png_set_cHRM(w.png, w.info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  std::vector<unsigned char> exif;
  if (spec.orientation != 0) {
    JpegSpec orientation_only;
    orientation_only.orientation = spec.orientation;
    exif = exif_block(orientation_only);
    // A PNG holds the block without the "Exif\0\0" a JPEG puts before it.
    if (exif.size() > 6) exif.erase(exif.begin(), exif.begin() + 6);
    png_set_eXIf_1(w.png, w.info, static_cast<png_uint_32>(exif.size()), exif.data());
  }
  png_unknown_chunk cicp{};
  if (spec.cicp) {
    static constexpr png_byte kName[5] = {'c', 'I', 'C', 'P', '\0'};
    std::memcpy(cicp.name, kName, sizeof kName);
    cicp.data = const_cast<png_bytep>(spec.cicp->data());
    cicp.size = spec.cicp->size();
    cicp.location = PNG_HAVE_IHDR;
    png_set_keep_unknown_chunks(w.png, PNG_HANDLE_CHUNK_ALWAYS, kName, 1);
    png_set_unknown_chunks(w.png, w.info, &cicp, 1);
  }
  png_write_info(w.png, w.info);
  png_write_image(w.png, rows.data());
  png_write_end(w.png, nullptr);
  return true;
}

bool guarded_png(PngWriter& w, std::FILE* file, const PngSpec& spec, std::vector<png_color>& palette,
                 std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(w.png)) != 0) return false;
  return png_steps(w, file, spec, palette, rows);
}

std::uint32_t crc32_of(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string big_endian(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

}  // namespace

bool write_jpeg(const std::filesystem::path& path, const JpegSpec& spec, const SampleRow& fill) {
  const std::vector<unsigned char> exif = exif_block(spec);
  const std::vector<jpeg_scan_info> script =
      spec.scan_per_coefficient ? scan_per_coefficient_script(spec.components) : std::vector<jpeg_scan_info>{};
  std::vector<std::uint8_t> row(static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(spec.components));
  FileCloser file{std::fopen(path.c_str(), "wb")};
  if (file.file == nullptr) return false;
  bool written;
  {
    Compressor compressor;
    written = guarded_compress(compressor, file.file, spec, fill, row, exif, script);
  }
  return written && std::fflush(file.file) == 0;
}

bool write_jpeg(const std::filesystem::path& path, const Foto& picture, JpegSpec spec) {
  spec.width = picture.width();
  spec.height = picture.height();
  spec.components = 3;
  return write_jpeg(path, spec, [&](int y, std::uint8_t* samples) {
    const std::uint32_t* row = picture.row(y);
    for (int x = 0; x < picture.width(); ++x) {
      samples[3 * x] = static_cast<std::uint8_t>(pixel_red(row[x]));
      samples[3 * x + 1] = static_cast<std::uint8_t>(pixel_green(row[x]));
      samples[3 * x + 2] = static_cast<std::uint8_t>(pixel_blue(row[x]));
    }
  });
}

bool read_jpeg_samples(const std::filesystem::path& path, RawJpeg& raw) {
  FileCloser file{std::fopen(path.c_str(), "rb")};
  if (file.file == nullptr) return false;
  Decompressor decompressor;
  return guarded_decompress(decompressor, file.file, raw);
}

void photo_like_row(int width, int y, std::uint8_t* rgb) {
  for (int x = 0; x < width; ++x) {
    const double u = x * 0.013, v = y * 0.017;
    const double r = 128 + 90 * std::sin(u + 0.7 * v) + 30 * std::sin(5.3 * u * v);
    const double g = 120 + 80 * std::cos(0.6 * u - v) + 25 * std::sin(9.1 * u + 2.0);
    const double b = 110 + 70 * std::sin(1.7 * v + 0.3 * u) + 40 * std::cos(3.3 * u);
    const int grain = static_cast<int>((x * 7919u + y * 104729u) % 17u) - 8;  // a little sensor noise
    rgb[3 * x] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(r) + grain, 0, 255));
    rgb[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(g) + grain, 0, 255));
    rgb[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(b) + grain, 0, 255));
  }
}

bool write_png(const std::filesystem::path& path, const PngSpec& spec,
               const std::vector<std::vector<std::uint8_t>>& rows) {
  if (rows.size() != static_cast<std::size_t>(spec.height)) return false;
  std::vector<png_color> palette;
  for (const auto& entry : spec.palette) palette.push_back(png_color{entry[0], entry[1], entry[2]});
  std::vector<png_bytep> row_pointers;
  for (const auto& row : rows) row_pointers.push_back(const_cast<png_bytep>(row.data()));
  FileCloser file{std::fopen(path.c_str(), "wb")};
  if (file.file == nullptr) return false;
  bool written;
  {
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_jump, png_quiet);
    if (writer.png == nullptr) return false;
    writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) return false;
    written = guarded_png(writer, file.file, spec, palette, row_pointers);
  }
  return written && std::fflush(file.file) == 0;
}

bool truncate_file(const std::filesystem::path& path, std::size_t keep) {
  std::string bytes = read_file(path);
  if (bytes.size() < keep) return false;
  bytes.resize(keep);
  return write_file(path, bytes);
}

bool overwrite_bytes(const std::filesystem::path& path, std::size_t offset, const std::string& bytes) {
  std::string data = read_file(path);
  if (offset + bytes.size() > data.size()) return false;
  data.replace(offset, bytes.size(), bytes);
  return write_file(path, data);
}

bool append_bytes(const std::filesystem::path& path, const std::string& bytes) {
  return write_file(path, read_file(path) + bytes);
}

bool write_random_bytes(const std::filesystem::path& path, std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFFu);
  return write_file(path, bytes);
}

std::size_t find_jpeg_marker(const std::string& jpeg, std::uint8_t code) {
  std::size_t i = 2;  // after SOI
  while (i + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[i]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (marker == code) return i;
    if (marker == 0xDA || marker == 0xD9) break;  // entropy-coded data follows
    const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(jpeg[i + 2])) << 8) |
                               static_cast<unsigned char>(jpeg[i + 3]);
    i += 2 + length;
  }
  return std::string::npos;
}

bool set_jpeg_frame_size(const std::filesystem::path& path, int width, int height) {
  const std::string data = read_file(path);
  for (std::uint8_t code : {0xC0, 0xC1, 0xC2, 0xC9, 0xCA}) {
    const std::size_t at = find_jpeg_marker(data, code);
    if (at == std::string::npos) continue;
    const std::string size = {static_cast<char>(height >> 8), static_cast<char>(height), static_cast<char>(width >> 8),
                              static_cast<char>(width)};
    return overwrite_bytes(path, at + 5, size);
  }
  return false;
}

bool write_photo(const std::filesystem::path& path, int width, int height) {
  return write_jpeg(path, JpegSpec(width, height), [width](int y, std::uint8_t* rgb) { photo_like_row(width, y, rgb); });
}

bool write_tile_library(const std::filesystem::path& folder, int count) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (int i = 0; i < count; ++i) {
    Foto tile;
    if (!tile.try_allocate_fill(64, 48, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256)) ||
        !write_jpeg(folder / ("t" + std::to_string(i) + ".jpg"), tile, JpegSpec().with_quality(95)))
      return false;
  }
  return true;
}

bool write_arithmetic_liar(const std::filesystem::path& path, int side) {
  if (!write_jpeg(path, JpegSpec(16, 16, 1).with_arithmetic(),
                  [](int, std::uint8_t* grey) { std::fill_n(grey, 16, std::uint8_t{128}); }) ||
      !set_jpeg_frame_size(path, side, side))
    return false;
  const std::string jpeg = read_file(path);
  const std::size_t scan = find_jpeg_marker(jpeg, 0xDA);
  if (scan == std::string::npos || scan + 4 > jpeg.size()) return false;
  const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(jpeg[scan + 2])) << 8) |
                             static_cast<unsigned char>(jpeg[scan + 3]);
  return write_file(path, jpeg.substr(0, scan + 2 + length) + "\xFF\xD9");
}

std::size_t find_png_chunk(const std::string& png, const std::string& type) {
  std::size_t i = 8;
  while (i + 12 <= png.size()) {
    const std::uint32_t length = (static_cast<std::uint32_t>(static_cast<unsigned char>(png[i])) << 24) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(png[i + 1])) << 16) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(png[i + 2])) << 8) |
                                 static_cast<unsigned char>(png[i + 3]);
    if (png.compare(i + 4, 4, type) == 0) return i;
    i += 12 + static_cast<std::size_t>(length);
  }
  return std::string::npos;
}

bool set_png_header_size(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height) {
  std::string data = read_file(path);
  if (data.size() < 33) return false;
  data.replace(16, 8, big_endian(width) + big_endian(height));
  data.replace(29, 4, big_endian(crc32_of(data.substr(12, 17))));
  return write_file(path, data);
}

Foto two_tone(int width, int height) {
  Foto f;
  if (!f.try_allocate(width, height)) return f;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      f.at(x, y) = x < width / 2 ? make_pixel(200, 40, 40) : make_pixel(40, 40, 200);
  return f;
}

}  // namespace tess::testing
