#pragma once
// The fuzzed entry points: one plain function per reader of outside data,
// called with arbitrary bytes. The libFuzzer programs call them, and so does
// the unit test that replays every input that once crashed one of them, so a
// found fault stays tested in the ordinary build, without libFuzzer.
//
// Each entry returns 0 and must survive any input; where the readers promise
// something checkable (a list saved after loading reads back the same, a
// parsed file writes back text that parses to itself) a broken promise aborts.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tess::fuzz {

using FuzzEntry = int (*)(const std::uint8_t* data, std::size_t size);

struct FuzzTarget {
  std::string_view name;  ///< also the folder of its seeds and regression inputs
  FuzzEntry entry;
};

/// JPEG or PNG (the signature decides): header and size readers, EXIF
/// orientation and date, the list analysis's small decode and its signature,
/// and the whole decode of pictures of reasonable size.
int fuzz_picture(const std::uint8_t* data, std::size_t size);
/// A WebP, GIF, BMP or JPEG XL file, given to its own decoder whatever its
/// first bytes: the size and factor readers, a small load that must come out
/// at the size its factor promises, and the whole load of a picture of
/// reasonable size through Foto::load.
int fuzz_webp(const std::uint8_t* data, std::size_t size);
int fuzz_gif(const std::uint8_t* data, std::size_t size);
int fuzz_bmp(const std::uint8_t* data, std::size_t size);
int fuzz_jxl(const std::uint8_t* data, std::size_t size);
/// A TIFF file (the bytes as given): size, load factor and loads at a small
/// and, for pictures of reasonable size, at the whole size.
int fuzz_tiff(const std::uint8_t* data, std::size_t size);
/// A camera RAW file (the bytes as given, named as a Nikon file so that a
/// TIFF signature goes to the RAW decoder too): the same calls.
int fuzz_raw(const std::uint8_t* data, std::size_t size);
/// A HEIF or AVIF file: its size, the factors of a small and a whole load,
/// and both loads where the picture is of reasonable size.
int fuzz_heif(const std::uint8_t* data, std::size_t size);
/// A list file of any version: loaded, and when it loads, saved and loaded
/// again to the same contents.
int fuzz_list_file(const std::uint8_t* data, std::size_t size);
/// A settings file: every entry of its settings list loaded, and each loaded
/// record saved and read back unchanged.
int fuzz_settings_file(const std::uint8_t* data, std::size_t size);
/// A configuration file: new records, the default settings, the advanced
/// options and the user state read from it.
int fuzz_configuration(const std::uint8_t* data, std::size_t size);
/// A text typed into a unit field: every reader of units, sizes, colours and
/// plain numbers, and every field of a record.
int fuzz_units(const std::uint8_t* data, std::size_t size);
/// The command line's "--set KEY=VALUE" values, one per line.
int fuzz_parameter_overrides(const std::uint8_t* data, std::size_t size);
/// A mask picture (a small palette picture built from the bytes) labelled
/// into cells.
int fuzz_mask_layout(const std::uint8_t* data, std::size_t size);
/// A web mosaic's title (the first line) and its viewer page (the rest):
/// the title quoted for the page, and the page's placeholders filled in.
int fuzz_web_page(const std::uint8_t* data, std::size_t size);
/// A video file: opened through the FFmpeg reader and its first frame taken
/// as the list analysis takes it.
int fuzz_video_header(const std::uint8_t* data, std::size_t size);

/// Every target, by name.
std::span<const FuzzTarget> fuzz_targets();

}  // namespace tess::fuzz
