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
    {kAviErrClassNotRegistered, "REGDB_E_CLASSNOTREG: File type not recognised"},
    {kAviErrUnsupported, "AVIERR_UNSUPPORTED: Compression is not supported for this type of data"},
    {kAviErrBadFormat, "AVIERR_BADFORMAT: Corrupt file or unrecognized format"},
    {kAviErrMemory, "AVIERR_MEMORY: Insufficient memory"},
    {kAviErrInternal, "AVIERR_INTERNAL: Internal error"},
    {kAviErrBadFlags, "AVIERR_BADFLAGS"},
    {kAviErrBadParam, "AVIERR_BADPARAM"},
    {kAviErrBadSize, "AVIERR_BADSIZE"},
    {kAviErrBadHandle, "AVIERR_BADHANDLE"},
    {kAviErrFileRead, "AVIERR_FILEREAD: Disk error while reading file"},
    {kAviErrFileWrite, "AVIERR_FILEWRITE: Disk error while writing file (Disk Full?)"},
    {kAviErrFileOpen, "AVIERR_FILEOPEN: Disk error while opening file"},
    {kAviErrCompressor, "AVIERR_COMPRESSOR"},
    {kAviErrNoCompressor, "AVIERR_NOCOMPRESSOR: A suitable compressor could not be found. Please install a VFW Codec."},
    {kAviErrReadOnly, "AVIERR_READONLY: File is read-only"},
    {kAviErrNoData, "AVIERR_READONLY"},
    {kAviErrBufferTooSmall, "AVIERR_BUFFERTOOSMALL"},
    {kAviErrCantCompress, "AVIERR_CANTCOMPRESS"},
    {kAviErrUserAbort, "AVIERR_USERABORT"},
    {kAviErrError, "AVIERR_ERROR"},
};

}  // namespace

std::string avi_error_text(std::uint32_t code) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == code) return tr(entry.text);
  return tr("Unknown AVI Error");
}

std::string avi_error_message(bool writer, std::uint32_t code, int step) {
  std::string text = tr(writer ? "Unable to create the Video" : "Unable to read the Video");
  text += format(" %02d %s (%X)", step, avi_error_text(code), code);
  return text;
}

bool CAviError::check(std::uint32_t code, int step) {
  if (code == kAviOk) return false;
  report(avi_error_message(m_writer, code, step));
  return true;
}

void CAviError::show_messages(bool show, Prompt* prompt) {
  m_show = show;
  m_prompt = prompt;
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
  if (!m_show) return;
  Prompt& prompt = m_prompt != nullptr ? *m_prompt : process_prompt();
  prompt.message(text, Icon::error);
}

}  // namespace tess
