#pragma once
// Writers of video mosaics. Every frame is the whole mosaic rendered again
// (each tile showing its clip's frame for that moment), pulled row by row
// like any mosaic, so memory holds one band and one frame at most.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tess {

class Prompt;
class RowSource;

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

}  // namespace tess
