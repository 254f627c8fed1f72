// Video mosaics made by `tessellarium mosaic` from clips in a Tile Images
// List, read back with ffprobe and ffmpeg (Debian ffmpeg).

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "output/video_writer.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;


class VideoMosaic : public ::testing::Test {
 protected:
  void SetUp() override {
    // Four 40-frame clips at 25 fps whose every frame has its own brightness
    // (frame n: 40 + 4n), each clip tinted its own way, and one photograph.
    fs::create_directories(m_dir / "clips");
    const char* tints[][3] = {{"1", "0.3", "0.3"}, {"0.3", "1", "0.3"}, {"0.3", "0.3", "1"}, {"1", "1", "0.3"}};
    for (int c = 0; c < 4; ++c) {
      const std::string clip = shell_quoted((m_dir / "clips" / ("c" + std::to_string(c) + ".avi")).string());
      const auto channel = [&](int i) { return "(40+4*N)*" + std::string(tints[c][i]); };
      const std::string command =
          "ffmpeg -nostdin -loglevel error -y -f lavfi -i 'color=c=black:s=64x48:r=25:d=1.6' -vf \"geq=r='" +
          channel(0) + "':g='" + channel(1) + "':b='" + channel(2) + "'\" -c:v rawvideo -pix_fmt bgr24 " + clip;
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    ASSERT_TRUE(testing::write_jpeg(m_dir / "photo.jpg", testing::JpegSpec(1003, 601), [](int y, std::uint8_t* rgb) {
      testing::photo_like_row(1003, y, rgb);
    }));
    auto r = run("list create " + quoted("clips.tzc") + " --video " + quoted("clips/"));
    ASSERT_EQ(r.status, 0) << r.err;
    fs::create_directories(m_dir / "pics");
    Foto tile;
    tile.try_allocate_fill(64, 48, make_pixel(120, 90, 60));
    ASSERT_TRUE(testing::write_jpeg(m_dir / "pics" / "p.jpg", tile, testing::JpegSpec().with_quality(95)));
    r = run("list create " + quoted("pics.tzc") + " --include " + quoted("pics/"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }
  std::string probe(const std::string& file, const std::string& entries) const {
    return testing::command_output("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + entries +
                     " -of default=noprint_wrappers=1 " + quoted(file));
  }
  // The frames of a video as packed RGB, one after the other.
  std::string decoded(const std::string& file) const {
    return testing::command_output("ffmpeg -nostdin -loglevel error -i " + quoted(file) + " -f rawvideo -pix_fmt rgb24 -");
  }

  static constexpr const char* kSmall =
      " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=160 --set MosaicSizeHeight=96 --set TileSize=4"
      " --set DuplicateSpacing=0 --set RezIroriz=0 --yes --quiet";

  TempDir m_dir;
};

TEST_F(VideoMosaic, ClipListKnowsItsClips) {
  auto r = run("list show " + quoted("clips.tzc") + " --entries");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Landscape videoclips: 4"), std::string::npos) << r.out;
}

TEST_F(VideoMosaic, TwiceTheLongestClipAtTheClipsRateCutToWholeBlocks) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") +
               " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=1003 --set MosaicSizeHeight=601 --set TileSize=10"
               " --set DuplicateSpacing=0 --set RezIroriz=0 --set FileFormat=avi_compressed"
               " --set Advanced.DivarAdadir.FourCC=XVID --yes --quiet --output " +
               quoted("big.avi"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = probe("big.avi", "width,height,nb_read_frames,r_frame_rate,codec_tag_string");
  EXPECT_NE(info.find("width=1000\n"), std::string::npos) << info;
  EXPECT_NE(info.find("height=600\n"), std::string::npos) << info;
  EXPECT_NE(info.find("nb_read_frames=80\n"), std::string::npos) << info;  // "MAX*2" of 40-frame clips
  EXPECT_NE(info.find("r_frame_rate=25/1\n"), std::string::npos) << info;
  EXPECT_NE(info.find("codec_tag_string=XVID\n"), std::string::npos) << info;
}

TEST_F(VideoMosaic, ClipsRestartOrPlayBackwardsAfterTheirLastFrame) {
  const std::size_t frame_bytes = 160 * 96 * 3;
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
               " --set FileFormat=avi_uncompressed --set Advanced.DivarAdadir.ReverseLoop=NONE --output " +
               quoted("none.avi"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string none = decoded("none.avi");
  ASSERT_EQ(none.size(), 80 * frame_bytes);
  const auto frame = [&](const std::string& all, int k) { return all.substr((k - 1) * frame_bytes, frame_bytes); };
  EXPECT_NE(frame(none, 1), frame(none, 2));   // the clips move
  EXPECT_EQ(frame(none, 41), frame(none, 1));  // clip frame 1 again

  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
          " --set FileFormat=avi_uncompressed --output " + quoted("all.avi"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string all = decoded("all.avi");
  ASSERT_EQ(all.size(), 80 * frame_bytes);
  EXPECT_EQ(frame(all, 1), frame(none, 1));
  EXPECT_EQ(frame(all, 41), frame(all, 40));  // forward to 40, then back
  EXPECT_EQ(frame(all, 80), frame(all, 1));
}

TEST_F(VideoMosaic, PicturesOnlyGiveTenFramesAtTenAndFramesOfTheirOwn) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("pics.tzc") + kSmall +
               " --set FileFormat=avi_uncompressed --output " + quoted("still.avi"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = probe("still.avi", "nb_read_frames,r_frame_rate");
  EXPECT_NE(info.find("nb_read_frames=10\n"), std::string::npos) << info;
  EXPECT_NE(info.find("r_frame_rate=10/1\n"), std::string::npos) << info;

  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
          " --set FileFormat=video_jpg --set Advanced.DivarAdadir.FrameCountFromVideoTile=3 --output " +
          quoted("frames/f"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"f__000000001.jpg", "f__000000002.jpg", "f__000000003.jpg"}) {
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(m_dir / "frames" / name, w, h)) << name;
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 96);
  }
  EXPECT_FALSE(fs::exists(m_dir / "frames" / "f__000000004.jpg"));
}

// Codecs are named in any case, or by their encoder's name; a name the
// program does not know is refused instead of giving an uncompressed video.
TEST_F(VideoMosaic, CodecNamesInAnyCaseAndUnknownOnesRefused) {
  const std::string mosaic = "mosaic " + quoted("photo.jpg") + " --list " + quoted("pics.tzc") + kSmall +
                             " --set FileFormat=avi_compressed --set Advanced.DivarAdadir.FourCC=";
  for (const auto& [name, tag] : {std::pair{"mjpeg", "MJPG"}, {"mjpg", "MJPG"}, {"xvid", "XVID"}}) {
    const auto r = run(mosaic + name + " --output " + quoted("v.avi"));
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    const std::string info = probe("v.avi", "codec_tag_string");
    EXPECT_NE(info.find("codec_tag_string=" + std::string(tag) + "\n"), std::string::npos) << name << ": " << info;
  }
  fs::remove(m_dir / "v.avi");
  const auto r = run(mosaic + "motion-jpg --output " + quoted("v.avi"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("error: --set Advanced.DivarAdadir.FourCC: 'motion-jpg' names no codec", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(m_dir / "v.avi"));
}

TEST_F(VideoMosaic, ClipsExtractedFromAFilmMakeTheVideoMosaic) {
  // Three scenes of 40 frames, each slowly brightening (similar, never
  // static for long), with hard cuts between them.
  const std::string film = quoted("film.avi");
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"color=c=black:s=64x48:r=25:d=4.8,"
      "geq=r='if(lt(N,40),200,if(lt(N,80),30,90))+0.3*mod(N,40)':g='if(lt(N,40),40,if(lt(N,80),160,60))"
      "+0.3*mod(N,40)':b='if(lt(N,40),50,if(lt(N,80),70,190))+0.3*mod(N,40)'\" -c:v rawvideo -pix_fmt bgr24 " +
      film;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  auto r = run("extract " + film + " --mode clips");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (m_dir / "film_FRAMES1 Video").string() + "\n");
  std::size_t clips = 0;
  for (const auto& entry : fs::directory_iterator(m_dir / "film_FRAMES1 Video")) {
    EXPECT_NE(entry.path().filename().string().find("-(0040).avi"), std::string::npos) << entry.path();
    ++clips;
  }
  EXPECT_EQ(clips, 3u);

  r = run("list create " + quoted("film.tzc") + " --video " + quoted("film_FRAMES1 Video/"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("film.tzc") + kSmall +
          " --set FileFormat=avi_uncompressed --output " + quoted("film mosaic.avi"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = probe("film mosaic.avi", "width,height,nb_read_frames,r_frame_rate");
  EXPECT_NE(info.find("width=160\n"), std::string::npos) << info;
  EXPECT_NE(info.find("nb_read_frames=80\n"), std::string::npos) << info;
  EXPECT_NE(info.find("r_frame_rate=25/1\n"), std::string::npos) << info;
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

TEST_F(VideoMosaic, FramesWrittenBySeparateProcessesFromOnePlacementEqualTheWholeVideo) {
  const std::string common = "mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
                             " --set FileFormat=video_jpg --set Advanced.DivarAdadir.FrameCountFromVideoTile=5";
  ASSERT_EQ(run(common + " --save-placement " + quoted("placement.txt") + " --output " + quoted("whole/f")).status, 0);
  for (const auto& [range, folder] : {std::pair{"1-3", "a"}, {"4-5", "b"}}) {
    const auto r = run(common + " --placement " + quoted("placement.txt") + " --frames " + range + " --output " +
                       quoted(std::string(folder) + "/f"));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  for (int k = 1; k <= 5; ++k) {
    const std::string name = video_frame_file("f", k);
    const fs::path part = m_dir / (k <= 3 ? "a" : "b") / name;
    EXPECT_EQ(testing::read_file(part), testing::read_file(m_dir / "whole" / name)) << name;
    EXPECT_FALSE(fs::exists(m_dir / (k <= 3 ? "b" : "a") / name)) << name;
  }

  const struct {
    std::string options;
    int status;
    std::string message;
  } refused[] = {
      {" --frames 2", 2, "is not FIRST-LAST"},
      {" --frames 1-2 --set FileFormat=avi_compressed --set Advanced.DivarAdadir.FourCC=XVID", 2,
       "cannot write a video compressed by 'XVID' in parts"},
      // Past the end: refused before any tile is placed, with the frames there are.
      {" --frames 4-6", 2, "error: --frames 4-6: the video mosaic has 5 frames, 1-5"},
  };
  for (const auto& c : refused) {
    const auto r = run(common + c.options + " --output " + quoted("refused/f"));
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.options << ": " << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "refused" / video_frame_file("f", 4))) << c.options;
  }
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

TEST_F(VideoMosaic, AviPartsWrittenBySeparateProcessesJoinIntoTheWholeVideo) {
  {
    const std::string common = "mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
                               " --set Advanced.DivarAdadir.FrameCountFromVideoTile=5 --set FileFormat=avi_uncompressed";
    // The run that places the tiles writes the first part.
    ASSERT_EQ(run(common + " --save-placement " + quoted("placement.txt") + " --frames 1-2 --output " +
                  quoted("part 1-2.avi"))
                  .status,
              0);
    for (const auto& [range, name] : {std::pair{"", "whole.avi"}, {" --frames 3-3", "part 3-3.avi"},
                                      {" --frames 4-5", "part 4-5.avi"}}) {
      const auto r =
          run(common + " --placement " + quoted("placement.txt") + range + " --output " + quoted(name));
      ASSERT_EQ(r.status, 0) << r.err;
    }
    const auto r = run("video join " + quoted("joined.avi") + " " + quoted("part 1-2.avi") + " " +
                       quoted("part 3-3.avi") + " " + quoted("part 4-5.avi"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string whole = testing::read_file(m_dir / "whole.avi");
    EXPECT_EQ(decoded("whole.avi").size(), 5u * 160 * 96 * 3);
    EXPECT_TRUE(testing::read_file(m_dir / "joined.avi") == whole);
    EXPECT_FALSE(fs::exists(m_dir / "joined__002.avi"));
  }

  // Parts that do not make one video are refused and nothing is written;
  // "long 3-3" is a part of a longer video.
  ASSERT_EQ(run("mosaic " + quoted("photo.jpg") + " --list " + quoted("clips.tzc") + kSmall +
                " --set Advanced.DivarAdadir.FrameCountFromVideoTile=6 --set FileFormat=avi_uncompressed"
                " --frames 3-3 --output " + quoted("long 3-3.avi"))
                .status,
            0);
  const struct {
    std::string parts;
    std::string message;
  } refused[] = {
      {"'part 1-2.avi' 'part 4-5.avi'", "frames 3 to 3 are missing between"},
      {"'part 1-2.avi' 'part 3-3.avi' 'part 3-3.avi' 'part 4-5.avi'", "both hold frames 3 to 3"},
      {"'part 3-3.avi' 'part 1-2.avi' 'part 4-5.avi'", "frames 1 to 2 are missing before"},
      {"'part 1-2.avi' 'part 3-3.avi'", "frames 4 to 5 are missing after"},
      {"'part 1-2.avi' 'long 3-3.avi' 'part 4-5.avi'", "is part of a video of 6 frames"},
      {"'whole.avi'", "is no part of a video written with --frames"},
      {"photo.jpg", "is no AVI file"},
  };
  for (const auto& c : refused) {
    const auto r = testing::run_program(m_dir.path(), "video join refused.avi " + c.parts, m_dir.path());
    EXPECT_EQ(r.status, 2) << c.parts;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.parts << ": " << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "refused.avi")) << c.parts;
  }
}

}  // namespace
}  // namespace tess
