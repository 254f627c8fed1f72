// Compares a PNG with a 24-bit bitmap or a binary pixmap (P6, for mosaics
// larger than a bitmap holds) pixel by pixel, a row of each at a time, so that
// mosaics of any size are compared in a few megabytes:
//   png_bmp_compare MOSAIC.png MOSAIC.bmp|MOSAIC.ppm
// Prints the size and the count of pixels whose red, green or blue differ
// (an alpha sample must be 255); exits 0 only when there are none.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <png.h>

namespace {

std::uint32_t le32(const unsigned char* b) {
  return b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
         static_cast<std::uint32_t>(b[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: png_bmp_compare MOSAIC.png MOSAIC.bmp\n");
    return 2;
  }
  std::FILE* png_file = std::fopen(argv[1], "rb");
  std::FILE* ref = std::fopen(argv[2], "rb");
  if (png_file == nullptr || ref == nullptr) {
    std::fprintf(stderr, "png_bmp_compare: cannot open the files\n");
    return 2;
  }
  // Where the rows are: a bitmap stores them bottom-up, padded to four
  // bytes and as blue, green, red; a pixmap top-down as red, green, blue.
  std::int64_t ref_width = 0, ref_height = 0;
  long long offset = 0;
  bool bitmap = false;
  unsigned char header[54];
  if (std::fread(header, 1, 2, ref) == 2 && header[0] == 'B' && header[1] == 'M') {
    if (std::fread(header + 2, 1, sizeof header - 2, ref) != sizeof header - 2 || header[28] != 24) {
      std::fprintf(stderr, "png_bmp_compare: %s is not a 24-bit bitmap\n", argv[2]);
      return 2;
    }
    bitmap = true;
    ref_width = static_cast<std::int32_t>(le32(header + 18));
    ref_height = static_cast<std::int32_t>(le32(header + 22));  // positive: bottom-up
    offset = le32(header + 10);
  } else if (header[0] == 'P' && header[1] == '6') {
    // Width, height and the largest value, each after blanks or comment lines.
    std::int64_t fields[3] = {0, 0, 0};
    int c = std::fgetc(ref);
    for (std::int64_t& field : fields) {
      while (c == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t') {
        if (c == '#')
          while (c != '\n' && c != EOF) c = std::fgetc(ref);
        c = std::fgetc(ref);
      }
      while (c >= '0' && c <= '9') {
        field = field * 10 + (c - '0');
        c = std::fgetc(ref);
      }
    }
    ref_width = fields[0];
    ref_height = fields[1];
    offset = ftello(ref);  // one blank after the largest value
    if (fields[2] != 255 || offset <= 0) {
      std::fprintf(stderr, "png_bmp_compare: %s is not an 8-bit pixmap\n", argv[2]);
      return 2;
    }
  } else {
    std::fprintf(stderr, "png_bmp_compare: %s is neither a bitmap nor a pixmap\n", argv[2]);
    return 2;
  }

  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    std::fprintf(stderr, "png_bmp_compare: %s could not be read\n", argv[1]);
    return 2;
  }
  png_init_io(png, png_file);
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int channels = png_get_channels(png, info);
  if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4) ||
      png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
    std::fprintf(stderr, "png_bmp_compare: %s is not 8-bit RGB or RGBA\n", argv[1]);
    return 2;
  }
  std::printf("png %ux%u, %d channels; %s %lldx%lld\n", width, height, channels, bitmap ? "bmp" : "ppm",
              static_cast<long long>(ref_width), static_cast<long long>(ref_height));
  if (static_cast<std::int64_t>(width) != ref_width || static_cast<std::int64_t>(height) != ref_height) return 1;

  const std::size_t stride =
      bitmap ? (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4 : static_cast<std::size_t>(width) * 3;
  // Plain buffers: libpng's error jump lands in this frame.
  auto* png_row = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(width) * channels));
  auto* bmp_row = static_cast<unsigned char*>(std::malloc(stride));
  if (png_row == nullptr || bmp_row == nullptr) return 2;
  std::uint64_t different = 0;
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(png, png_row, nullptr);
    const long long row = bitmap ? static_cast<long long>(height - 1 - y) : static_cast<long long>(y);
    const long long at = offset + row * static_cast<long long>(stride);
    if (fseeko(ref, at, SEEK_SET) != 0 || std::fread(bmp_row, 1, stride, ref) != stride) {
      std::fprintf(stderr, "png_bmp_compare: %s is cut short\n", argv[2]);
      return 2;
    }
    for (png_uint_32 x = 0; x < width; ++x) {
      const unsigned char* p = &png_row[static_cast<std::size_t>(x) * channels];
      const unsigned char* b = &bmp_row[static_cast<std::size_t>(x) * 3];
      const unsigned char red = bitmap ? b[2] : b[0];
      const unsigned char blue = bitmap ? b[0] : b[2];
      if (p[0] != red || p[1] != b[1] || p[2] != blue || (channels == 4 && p[3] != 255)) ++different;
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(png_row);
  std::free(bmp_row);
  std::printf("%llu pixels differ\n", static_cast<unsigned long long>(different));
  return different == 0 ? 0 : 1;
}
