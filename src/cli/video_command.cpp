#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/run_parameters.hpp"
#include "cli/terminal_prompt.hpp"
#include "output/video_writer.hpp"

namespace tess {

namespace {

struct JoinArgs {
  std::string output;
  std::vector<std::string> parts;
};

int join_video(const JoinArgs& args, TerminalPrompt& prompt) {
  // The joined video is named as the writer names a whole one: "<base>.avi",
  // continued in "<base>__002.avi" and on.
  constexpr std::string_view kExtension = ".avi";
  const std::string& output = args.output;
  if (output.size() <= kExtension.size() ||
      !starts_with_ignoring_case(std::string_view(output).substr(output.size() - kExtension.size()), kExtension))
    return usage_error(format("'%s' is no name of an AVI file: give OUT.avi", output));
  for (const std::string& part : args.parts) {
    std::error_code ec;
    if (std::filesystem::equivalent(output, part, ec)) {
      return usage_error(format("'%s' is one of the parts: give the joined video another name", output));
    }
  }
  std::string refusal;
  const std::string base = output.substr(0, output.size() - kExtension.size());
  switch (join_avi_parts(args.parts, base, prompt, refusal)) {
    case JoinOutcome::joined:
      return kExitOk;
    case JoinOutcome::refused:
      return usage_error(refusal);
    case JoinOutcome::failed:
      break;
  }
  std::fprintf(stderr, "error: the video '%s' could not be joined\n", output.c_str());
  return kExitFailed;
}

}  // namespace

void add_video_command(CLI::App& app, CommandContext& context) {
  CLI::App* video = app.add_subcommand("video", "Work with the AVI files of video mosaics");
  video->require_subcommand(1);
  auto args = std::make_shared<JoinArgs>();
  CLI::App* join = video->add_subcommand(
      "join", "Join the AVI parts that `mosaic --frames` wrote, in the order of their frames, into the whole video");
  join->add_option("OUT", args->output, "The joined video (.avi); past 2 GB it goes on in OUT__002.avi, ...")
      ->required()
      ->type_name("FILE");
  join->add_option("PART", args->parts, "The parts, first frames first")->required()->type_name("FILE");
  set_examples(*join, {{"tessellarium video join mosaic.avi part-1-100.avi part-101-200.avi",
                        "Join two parts of a video mosaic into mosaic.avi."}});
  join->callback([&context, args] { context.status = join_video(*args, context.prompt); });
}

}  // namespace tess
