/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Writes the pictures of bench/decode_bombs.sh, straight with libjpeg and
 * libpng:
 *   bomb_files arith SIDE FILE   an arithmetic-coded grey JPEG whose frame
 *                                header claims SIDE x SIDE and whose scan
 *                                holds no data (read as zeros: a valid grey
 *                                picture of that size)
 *   bomb_files png SIDE FILE     an all-black one-bit PNG of SIDE x SIDE
 *   bomb_files photo W H FILE    a smooth colour JPEG, for a main image
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>
#include <png.h>

static int write_jpeg(const char* file, int width, int height, int components, int arithmetic) {
  FILE* out = fopen(file, "wb");
  if (out == NULL) return 0;
  struct jpeg_compress_struct cinfo;
  struct jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = (JDIMENSION)width;
  cinfo.image_height = (JDIMENSION)height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.arith_code = arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  unsigned char* row = malloc((size_t)width * (size_t)components);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = (int)cinfo.next_scanline;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c)
        row[x * components + c] = (unsigned char)(components == 1 ? 128 : (x * (c + 1) + y * (3 - c)) * 255 / (width + height) / 2);
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  free(row);
  return fclose(out) == 0;
}

/* Rewrites the size in the SOF segment and leaves the scan without data: an
 * arithmetic decoder reads zeros past a marker, and zeros from the start
 * decode without a fault, so the file is a valid SIDE x SIDE picture. */
static int claim_size(const char* file, int side) {
  FILE* f = fopen(file, "rb");
  if (f == NULL) return 0;
  unsigned char data[4096];
  const size_t n = fread(data, 1, sizeof data, f);
  fclose(f);
  size_t i = 2, end = 0;
  int sized = 0;
  while (i + 4 <= n && data[i] == 0xFF) {
    const unsigned marker = data[i + 1];
    const size_t length = ((size_t)data[i + 2] << 8) | data[i + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC && i + 9 <= n) {
      data[i + 5] = data[i + 7] = (unsigned char)(side >> 8);
      data[i + 6] = data[i + 8] = (unsigned char)side;
      sized = 1;
    }
    if (marker == 0xDA) {
      end = i + 2 + length;
      break;
    }
    i += 2 + length;
  }
  if (!sized || end == 0 || end + 2 > sizeof data) return 0;
  data[end] = 0xFF;
  data[end + 1] = 0xD9;
  f = fopen(file, "wb");
  if (f == NULL) return 0;
  const int written = fwrite(data, 1, end + 2, f) == end + 2;
  return fclose(f) == 0 && written;
}

static int write_black_png(const char* file, int side) {
  FILE* out = fopen(file, "wb");
  if (out == NULL) return 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) return 0;
  png_init_io(png, out);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, (png_uint_32)side, (png_uint_32)side, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_bytep row = calloc((size_t)(side + 7) / 8, 1);
  for (int y = 0; y < side; ++y) png_write_row(png, row);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  free(row);
  return fclose(out) == 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "arith") == 0)
    return write_jpeg(argv[3], 16, 16, 1, 1) && claim_size(argv[3], atoi(argv[2])) ? 0 : 1;
  if (argc == 4 && strcmp(argv[1], "png") == 0) return write_black_png(argv[3], atoi(argv[2])) ? 0 : 1;
  if (argc == 5 && strcmp(argv[1], "photo") == 0) return write_jpeg(argv[4], atoi(argv[2]), atoi(argv[3]), 3, 0) ? 0 : 1;
  fprintf(stderr, "usage: bomb_files arith SIDE FILE | png SIDE FILE | photo W H FILE\n");
  return 2;
}
