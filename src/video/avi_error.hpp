#pragma once
// Video errors keep the result codes and texts users of the program know from
// its Windows days, whatever library reads or writes the file underneath: each
// failure becomes one code and a step number, and one message built from them.

#include <cstdint>
#include <mutex>
#include <string>

namespace tess {

class Prompt;

// Result codes of the video layer.
inline constexpr std::uint32_t kAviOk = 0;
inline constexpr std::uint32_t kAviErrClassNotRegistered = 0x80040154u;
inline constexpr std::uint32_t kAviErrUnsupported = 0x80044065u;
inline constexpr std::uint32_t kAviErrBadFormat = 0x80044066u;
inline constexpr std::uint32_t kAviErrMemory = 0x80044067u;
inline constexpr std::uint32_t kAviErrInternal = 0x80044068u;
inline constexpr std::uint32_t kAviErrBadFlags = 0x80044069u;
inline constexpr std::uint32_t kAviErrBadParam = 0x8004406Au;
inline constexpr std::uint32_t kAviErrBadSize = 0x8004406Bu;
inline constexpr std::uint32_t kAviErrBadHandle = 0x8004406Cu;
inline constexpr std::uint32_t kAviErrFileRead = 0x8004406Du;
inline constexpr std::uint32_t kAviErrFileWrite = 0x8004406Eu;
inline constexpr std::uint32_t kAviErrFileOpen = 0x8004406Fu;
inline constexpr std::uint32_t kAviErrCompressor = 0x80044070u;
inline constexpr std::uint32_t kAviErrNoCompressor = 0x80044071u;
inline constexpr std::uint32_t kAviErrReadOnly = 0x80044072u;
inline constexpr std::uint32_t kAviErrNoData = 0x80044073u;  // its text reads "AVIERR_READONLY" too
inline constexpr std::uint32_t kAviErrBufferTooSmall = 0x80044074u;
inline constexpr std::uint32_t kAviErrCantCompress = 0x80044075u;
inline constexpr std::uint32_t kAviErrUserAbort = 0x800440C6u;
inline constexpr std::uint32_t kAviErrError = 0x800440C7u;

// Step numbers named in the messages.
inline constexpr int kAviStepOpenStream = 1;
inline constexpr int kAviStepReadFormat = 2;
inline constexpr int kAviStepOpenDecoder = 3;
inline constexpr int kAviStepStreamInfo = 4;
inline constexpr int kAviStepOpenFile = 10;
inline constexpr int kAviStepCreateStream = 11;
inline constexpr int kAviStepCompressedStream = 12;
inline constexpr int kAviStepSetFormat = 13;
inline constexpr int kAviStepWriteFrame = 15;

/// The translated text of a result code; "Unknown AVI Error" for a code
/// outside the table (0 included).
std::string avi_error_text(std::uint32_t code);

/// "Unable to create the Video" (writer) or "Unable to read the Video"
/// (reader) followed by " %02d %s (%X)": step, text of the code, the code.
std::string avi_error_message(bool writer, std::uint32_t code, int step);

/// Base of the video reader and writer: turns result codes into messages,
/// keeps the last one and, when asked to, shows every one of them.
class CAviError {
 public:
  explicit CAviError(bool writer) : m_writer(writer) {}
  virtual ~CAviError() = default;
  CAviError(const CAviError&) = delete;
  CAviError& operator=(const CAviError&) = delete;

  /// 0 gives false and changes nothing. Any other code builds the message,
  /// keeps it as the last message, shows it when messages are shown, and
  /// gives true: `if (check(code, step)) return false;`.
  bool check(std::uint32_t code, int step);

  /// The last message; empty until something failed. Safe to call while
  /// another thread reports.
  std::string last_message() const;
  void clear_message();

  /// From now on every message also goes to `prompt` with the error icon.
  /// The prompt must outlive this object or the next call.
  void show_messages(Prompt& prompt) { m_prompt = &prompt; }
  /// Messages are only kept again (as at the start).
  void keep_messages_only() { m_prompt = nullptr; }
  [[nodiscard]] bool showing_messages() const { return m_prompt != nullptr; }

  bool is_writer() const { return m_writer; }

 protected:
  /// Keeps `text` as the last message and shows it when messages are shown;
  /// for failures that are not result codes (a frame that cannot be read).
  void report(std::string text);

 private:
  bool m_writer;
  Prompt* m_prompt = nullptr;  // where messages are shown; none: kept only
  mutable std::mutex m_message_mutex;  // jobs sharing one stream may fail together
  std::string m_last_message;
};

}  // namespace tess
