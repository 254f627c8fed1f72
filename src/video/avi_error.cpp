#include "video/avi_error.hpp"

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {

struct CodeText {
  std::uint32_t code;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {kAviErrClassNotRegistered, N_("REGDB_E_CLASSNOTREG: File type not recognised")},
    {kAviErrUnsupported, N_("AVIERR_UNSUPPORTED: Compression is not supported for this type of data")},
    {kAviErrBadFormat, N_("AVIERR_BADFORMAT: Corrupt file or unrecognized format")},
    {kAviErrMemory, N_("AVIERR_MEMORY: Insufficient memory")},
    {kAviErrInternal, N_("AVIERR_INTERNAL: Internal error")},
    {kAviErrBadFlags, N_("AVIERR_BADFLAGS")},
    {kAviErrBadParam, N_("AVIERR_BADPARAM")},
    {kAviErrBadSize, N_("AVIERR_BADSIZE")},
    {kAviErrBadHandle, N_("AVIERR_BADHANDLE")},
    {kAviErrFileRead, N_("AVIERR_FILEREAD: Disk error while reading file")},
    {kAviErrFileWrite, N_("AVIERR_FILEWRITE: Disk error while writing file (Disk Full?)")},
    {kAviErrFileOpen, N_("AVIERR_FILEOPEN: Disk error while opening file")},
    {kAviErrCompressor, N_("AVIERR_COMPRESSOR")},
    {kAviErrNoCompressor, N_("AVIERR_NOCOMPRESSOR: A suitable compressor could not be found. Please install a VFW Codec.")},
    {kAviErrReadOnly, N_("AVIERR_READONLY: File is read-only")},
    {kAviErrNoData, N_("AVIERR_READONLY")},
    {kAviErrBufferTooSmall, N_("AVIERR_BUFFERTOOSMALL")},
    {kAviErrCantCompress, N_("AVIERR_CANTCOMPRESS")},
    {kAviErrUserAbort, N_("AVIERR_USERABORT")},
    {kAviErrError, N_("AVIERR_ERROR")},
};

}  // namespace

std::string avi_error_text(std::uint32_t code) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == code) return tr(entry.text);
  return tr("Unknown AVI Error");
}

std::string avi_error_message(bool writer, std::uint32_t code, int step) {
  std::string text = writer ? tr("Unable to create the Video") : tr("Unable to read the Video");
  text += format(" %02d %s (%X)", step, avi_error_text(code), code);
  return text;
}

bool CAviError::check(std::uint32_t code, int step) {
  if (code == kAviOk) return false;
  report(avi_error_message(m_writer, code, step));
  return true;
}

std::string CAviError::last_message() const {
  std::lock_guard<std::mutex> guard(m_message_mutex);
  return m_last_message;
}

void CAviError::clear_message() {
  std::lock_guard<std::mutex> guard(m_message_mutex);
  m_last_message.clear();
}

void CAviError::report(std::string text) {
  {
    std::lock_guard<std::mutex> guard(m_message_mutex);
    m_last_message = text;
  }
  if (m_prompt != nullptr) m_prompt->message(text, Icon::error);
}

}  // namespace tess
