// Compares a PNG with a 24-bit bitmap pixel by pixel, a row of each at a time,
// so that mosaics of any size are compared in a few megabytes:
//   png_bmp_compare MOSAIC.png MOSAIC.bmp
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
  std::FILE* bmp = std::fopen(argv[2], "rb");
  if (png_file == nullptr || bmp == nullptr) {
    std::fprintf(stderr, "png_bmp_compare: cannot open the files\n");
    return 2;
  }
  unsigned char header[54];
  if (std::fread(header, 1, sizeof header, bmp) != sizeof header || header[0] != 'B' || header[1] != 'M' ||
      header[28] != 24) {
    std::fprintf(stderr, "png_bmp_compare: %s is not a 24-bit bitmap\n", argv[2]);
    return 2;
  }
  const auto bmp_width = static_cast<std::int32_t>(le32(header + 18));
  const auto bmp_height = static_cast<std::int32_t>(le32(header + 22));  // positive: bottom-up
  const std::uint32_t offset = le32(header + 10);

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
  std::printf("png %ux%u, %d channels; bmp %dx%d\n", width, height, channels, bmp_width, bmp_height);
  if (static_cast<std::int64_t>(width) != bmp_width || static_cast<std::int64_t>(height) != bmp_height) return 1;

  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  // Plain buffers: libpng's error jump lands in this frame.
  auto* png_row = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(width) * channels));
  auto* bmp_row = static_cast<unsigned char*>(std::malloc(stride));
  if (png_row == nullptr || bmp_row == nullptr) return 2;
  std::uint64_t different = 0;
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(png, png_row, nullptr);
    const auto at = static_cast<long long>(offset) + static_cast<long long>(height - 1 - y) * static_cast<long long>(stride);
    if (fseeko(bmp, at, SEEK_SET) != 0 || std::fread(bmp_row, 1, stride, bmp) != stride) {
      std::fprintf(stderr, "png_bmp_compare: %s is cut short\n", argv[2]);
      return 2;
    }
    for (png_uint_32 x = 0; x < width; ++x) {
      const unsigned char* p = &png_row[static_cast<std::size_t>(x) * channels];
      const unsigned char* b = &bmp_row[static_cast<std::size_t>(x) * 3];
      if (p[0] != b[2] || p[1] != b[1] || p[2] != b[0] || (channels == 4 && p[3] != 255)) ++different;
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(png_row);
  std::free(bmp_row);
  std::printf("%llu pixels differ\n", static_cast<unsigned long long>(different));
  return different == 0 ? 0 : 1;
}
