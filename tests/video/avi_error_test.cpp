#include "video/avi_error.hpp"

#include <cerrno>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "video/ffmpeg_support.hpp"

namespace tess {
namespace {

TEST(AviErrorMessage, WriteFailureReadsAsTheExample) {
  EXPECT_EQ(avi_error_message(true, kAviErrFileWrite, kAviStepWriteFrame),
            "Unable to create the Video 15 AVIERR_FILEWRITE: Disk error while writing file (Disk Full?) (8004406E)");
  EXPECT_EQ(avi_error_message(false, kAviErrBadFormat, kAviStepOpenStream),
            "Unable to read the Video 01 AVIERR_BADFORMAT: Corrupt file or unrecognized format (80044066)");
  EXPECT_EQ(avi_error_message(false, kAviErrError, kAviStepOpenDecoder),
            "Unable to read the Video 03 AVIERR_ERROR (800440C7)");
}

TEST(AviErrorMessage, TableTextsAndUnknownCodes) {
  EXPECT_EQ(avi_error_text(kAviErrClassNotRegistered), "REGDB_E_CLASSNOTREG: File type not recognised");
  EXPECT_EQ(avi_error_text(kAviErrNoCompressor),
            "AVIERR_NOCOMPRESSOR: A suitable compressor could not be found. Please install a VFW Codec.");
  EXPECT_EQ(avi_error_text(kAviErrReadOnly), "AVIERR_READONLY: File is read-only");
  EXPECT_EQ(avi_error_text(kAviErrNoData), "AVIERR_READONLY");
  EXPECT_EQ(avi_error_text(kAviErrUserAbort), "AVIERR_USERABORT");
  EXPECT_EQ(avi_error_text(0x80044076u), "Unknown AVI Error");
  EXPECT_EQ(avi_error_text(0x12345u), "Unknown AVI Error");
  EXPECT_EQ(avi_error_message(true, 0xDEADBEEFu, 12), "Unable to create the Video 12 Unknown AVI Error (DEADBEEF)");
}

TEST(AviErrorCheck, ZeroPassesOtherCodesAreKeptAndShownOnRequest) {
  CAviError writer(true);
  EXPECT_TRUE(writer.is_writer());
  EXPECT_FALSE(writer.check(kAviOk, kAviStepWriteFrame));
  EXPECT_EQ(writer.last_message(), "");

  EXPECT_TRUE(writer.check(kAviErrFileWrite, kAviStepWriteFrame));
  EXPECT_EQ(writer.last_message(),
            "Unable to create the Video 15 AVIERR_FILEWRITE: Disk error while writing file (Disk Full?) (8004406E)");
  // A later success leaves the last failure readable.
  EXPECT_FALSE(writer.check(kAviOk, kAviStepOpenFile));
  EXPECT_NE(writer.last_message(), "");

  ScriptedPrompt prompt;
  CAviError reader(false);
  EXPECT_TRUE(reader.check(0x1u, 2));
  EXPECT_TRUE(prompt.calls().empty());
  reader.show_messages(prompt);
  EXPECT_TRUE(reader.showing_messages());
  EXPECT_TRUE(reader.check(kAviErrMemory, kAviStepStreamInfo));
  const auto calls = prompt.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "Unable to read the Video 04 AVIERR_MEMORY: Insufficient memory (80044067)");
  EXPECT_EQ(calls[0].icon, Icon::error);
  reader.clear_message();
  EXPECT_EQ(reader.last_message(), "");
}

TEST(AviErrorFromFfmpeg, NearestCodeForEachActivity) {
  using video_detail::AvActivity;
  using video_detail::avi_code_from_av_error;
  EXPECT_EQ(avi_code_from_av_error(0, AvActivity::write), kAviOk);
  EXPECT_EQ(avi_code_from_av_error(AVERROR(ENOENT), AvActivity::open_input), kAviErrFileOpen);
  EXPECT_EQ(avi_code_from_av_error(AVERROR(EACCES), AvActivity::create_output), kAviErrFileOpen);
  EXPECT_EQ(avi_code_from_av_error(AVERROR_INVALIDDATA, AvActivity::open_input), kAviErrBadFormat);
  EXPECT_EQ(avi_code_from_av_error(AVERROR_DECODER_NOT_FOUND, AvActivity::open_input), kAviErrNoCompressor);
  EXPECT_EQ(avi_code_from_av_error(AVERROR_ENCODER_NOT_FOUND, AvActivity::create_output), kAviErrNoCompressor);
  EXPECT_EQ(avi_code_from_av_error(AVERROR(ENOMEM), AvActivity::read), kAviErrMemory);
  for (int error : {ENOSPC, EFBIG, EIO, EDQUOT}) {
    EXPECT_EQ(avi_code_from_av_error(AVERROR(error), AvActivity::write), kAviErrFileWrite) << error;
    EXPECT_EQ(avi_code_from_av_error(AVERROR(error), AvActivity::create_output), kAviErrFileWrite) << error;
  }
  EXPECT_EQ(avi_code_from_av_error(AVERROR(EIO), AvActivity::read), kAviErrFileRead);
  EXPECT_EQ(avi_code_from_av_error(AVERROR(EINVAL), AvActivity::write), kAviErrError);
  EXPECT_EQ(avi_code_from_av_error(AVERROR_BUG, AvActivity::read), kAviErrError);
}

}  // namespace
}  // namespace tess
