#pragma once
// Writers of video mosaics. Every frame is the whole mosaic rendered again
// (each tile showing its clip's frame for that moment), pulled row by row
// like any mosaic, so memory holds one band and one frame at most.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "output/write_options.hpp"

namespace tess {

class Prompt;
class RowSource;

/// Which frame of a video mosaic is being rendered: moved on by the video
/// writers through the saver, read by the loader of clip frames.
struct VideoClock {
  std::atomic<std::int64_t> frame{0};  ///< from 1; 0 while a still mosaic is rendered
  std::int64_t frames = 0;             ///< of the video mosaic; 0 for a still mosaic
  std::int64_t rate = 0;               ///< 1/500 frames per second
  int reverse_loop = 2;                ///< see reverse_loop_mode()
  /// The frames written, from 1: first..last of the video's frames, so that
  /// separate processes can each write some of them.
  std::int64_t first = 1;
  std::int64_t last = 0;
  /// Only some frames were asked for: an AVI is written as a part of the video.
  bool part = false;
};

/// Starts frame `frame` (from 1): the source's next row is the top row of
/// that frame's rendering. False ends the writer.
using BeginFrame = std::function<bool(std::int64_t frame)>;

/// A classic AVI file stays below 2 GiB: past this many bytes of frames the
/// video goes on in a continuation file.
inline constexpr std::uint64_t kAviFileLimit = 2'100'000'000;

/// Writes `frames` frames of `source` as "<base>.avi" at `rate` (1/500 frames
/// per second; 5 when 0), compressed by `fourcc` (0: raw 24-bit). The frame
/// is the source cut to a multiple of 8 wide and 4 high (right and bottom
/// edges dropped). When the next frame would take the current file past
/// `file_limit` bytes, the file is closed and the video goes on in
/// "<base>__002.avi", "<base>__003.avi", ... Failures are reported through
/// `prompt` (the video layer's texts); a stop ends the writer without one.
[[nodiscard]] bool write_avi_rows(RowSource& source, const std::string& base_name, std::uint32_t fourcc, std::int64_t rate,
                    std::int64_t frames, const BeginFrame& begin_frame, Prompt& prompt,
                    std::uint64_t file_limit = kAviFileLimit);

/// Writes frames first..last (from 1) of a video of `frames` frames as a
/// part of it: "<base>.avi" alone, however large, holding those frames as
/// write_avi_rows() would have written them and recording which they are, so
/// that join_avi_parts() can put the parts together. Frame k is begun as
/// frame k of the whole video.
[[nodiscard]] bool write_avi_part_rows(RowSource& source, const std::string& base_name, std::uint32_t fourcc,
                                       std::int64_t rate, std::int64_t first, std::int64_t last, std::int64_t frames,
                                       const BeginFrame& begin_frame, Prompt& prompt);

enum class JoinOutcome { joined, refused, failed };

/// Joins the parts written by write_avi_part_rows() (`parts`, in the order of
/// their frames) into the video write_avi_rows() writes whole: "<base>.avi"
/// and its continuation files, byte for byte, the frames copied as stored.
/// Parts that do not make one video together (another frame size, rate or
/// codec, another video's length, a frame missing or written twice, a file
/// that is no part) are refused before anything is written, `refusal`
/// saying why. Failures while writing are reported through `prompt`.
[[nodiscard]] JoinOutcome join_avi_parts(const std::vector<std::string>& parts, const std::string& base_name,
                                         Prompt& prompt, std::string& refusal,
                                         std::uint64_t file_limit = kAviFileLimit);

/// The name of frame `frame` (from 1) written as a picture of its own:
/// "<base>__000000001.jpg".
std::string video_frame_file(const std::string& base_name, std::int64_t frame);

/// Writes `frames` frames of `source` as JPEG files of quality 100 named by
/// video_frame_file(); the first failure ends the writer.
[[nodiscard]] bool write_video_frames(RowSource& source, const std::string& base_name, std::int64_t first, std::int64_t last,
                        const BeginFrame& begin_frame, Prompt& prompt);

/// The shape every video mosaic writer has: the frames first..last of the
/// clock's video, each begun through `begin_frame`, written as
/// "<base_name>" plus the format's file names.
using VideoWrite = bool (*)(RowSource& source, const std::string& base_name, const WriteOptions& options,
                            const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt);

/// An AVI of raw 24-bit frames: the whole video, or a part of it when the
/// clock says only some frames are written.
[[nodiscard]] bool write_uncompressed_avi(RowSource& source, const std::string& base_name, const WriteOptions& options,
                                          const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt);

/// The same compressed by the options' FourCC.
[[nodiscard]] bool write_compressed_avi(RowSource& source, const std::string& base_name, const WriteOptions& options,
                                        const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt);

/// One JPEG of quality 100 a frame, named by video_frame_file().
[[nodiscard]] bool write_frame_pictures(RowSource& source, const std::string& base_name, const WriteOptions& options,
                                        const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt);

}  // namespace tess
