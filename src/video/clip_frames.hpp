#pragma once
// Frames of clips for the tiles that show them: the list analysis asks for a
// clip's length, rate and first frame; the mosaic's renderer asks for frame
// after frame of many clips, so the clips used last stay open and a tile's
// next frame is decoded on without seeking.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace tess {

class CAviStream;
class Foto;
struct ClipSample;

class ClipFrames {
 public:
  /// Keeps at most `open_limit` clips open (at least 1).
  explicit ClipFrames(std::size_t open_limit = 32);
  ~ClipFrames();
  ClipFrames(const ClipFrames&) = delete;
  ClipFrames& operator=(const ClipFrames&) = delete;

  /// Frame `index` (from 0, held to the clip's frames) of the clip at
  /// `path`, decoded under the process-wide frame lock and converted after
  /// it. Silent: false with `out` empty when the clip cannot be read (the
  /// renderer counts and reports the tile). Thread-safe.
  [[nodiscard]] bool load(const std::string& path, std::int64_t index, Foto& out);

  /// Clips open now.
  std::size_t open_count() const;

 private:
  struct Clip {
    std::string path;
    std::unique_ptr<CAviStream> stream;
  };
  CAviStream* find_or_open(const std::string& path);

  std::size_t m_open_limit;
  std::list<Clip> m_clips;  ///< most recently used first; guarded by the frame lock
};

/// What the list analysis needs of a clip: its frame count, its rate and its
/// first frame (the frame a still mosaic shows). Silent; false when the clip
/// cannot be read. Registered with set_clip_reader() by the front ends.
[[nodiscard]] bool read_clip_sample(const std::string& path, int max_side, ClipSample& sample);

}  // namespace tess
