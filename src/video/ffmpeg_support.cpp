#include "video/ffmpeg_support.hpp"

#include <cerrno>

#include "video/avi_error.hpp"

namespace tess::video_detail {

std::uint32_t avi_code_from_av_error(int av_error, AvActivity activity) {
  if (av_error >= 0) return kAviOk;
  const bool opening = activity == AvActivity::open_input || activity == AvActivity::create_output;
  const bool writing = activity == AvActivity::create_output || activity == AvActivity::write;
  switch (av_error) {
    case AVERROR(ENOMEM):
      return kAviErrMemory;
    case AVERROR_INVALIDDATA:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_STREAM_NOT_FOUND:
      return kAviErrBadFormat;
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_ENCODER_NOT_FOUND:
      return kAviErrNoCompressor;
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EISDIR):
    case AVERROR(EROFS):
    case AVERROR(ENAMETOOLONG):
    case AVERROR(ELOOP):
    case AVERROR(EMFILE):
    case AVERROR(ENFILE):
      return opening ? kAviErrFileOpen : (writing ? kAviErrFileWrite : kAviErrFileRead);
    case AVERROR(ENOSPC):
    case AVERROR(EFBIG):
    case AVERROR(EDQUOT):
    case AVERROR(EIO):
    case AVERROR(EPIPE):
      // Creating a file on a full disk fails when the header is written.
      return writing ? kAviErrFileWrite : kAviErrFileRead;
    default:
      return kAviErrError;
  }
}

std::string file_url(const std::filesystem::path& path) { return "file:" + path.string(); }

}  // namespace tess::video_detail
