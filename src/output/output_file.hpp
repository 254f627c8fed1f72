#pragma once
// What every writer does around its own format: telling its own files from
// devices, removing what a failure left half written, and the common message.

#include <cstddef>
#include <filesystem>
#include <string>

#include <sys/types.h>

namespace tess {

class Prompt;

/// Whether `fd` is a regular file. Only a file of our own making is removed
/// after a failure, never a device such as /dev/full that merely refused the
/// bytes.
bool is_regular_file(int fd);

/// Removes the half-written file at `path` when `regular` (see above), so a
/// failure never leaves a normal-looking picture behind.
void remove_failed_output(const std::filesystem::path& path, bool regular);

/// "Unable to save file '<name>'" with the error icon.
void report_unable_to_save(const std::string& name, Prompt& prompt);

/// Writes `size` bytes at `offset`. pwrite may take fewer bytes than asked;
/// only an error or no progress at all is a failure.
bool write_all_at(int fd, const void* data, std::size_t size, off_t offset);

}  // namespace tess
