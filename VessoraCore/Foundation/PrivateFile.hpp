// The one writer of the files the engine keeps for itself. Every write goes
// to a fresh temporary file in the target's folder, is flushed to disk
// (unless the file is rebuilt before every use) and then renamed over the
// target, so a reader sees the old file or the new one, never half of
// either. Folders it creates are private (0700).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vessora::PrivateFile {

// Writes the bytes whole; the file ends with mode 0600.
void write(const std::filesystem::path& file, std::string_view bytes);

// As write(), but nothing is flushed to disk: for files rebuilt before every
// use, such as the servers' configuration. A reader still sees the old text
// or the new one; after a power loss the file may be old or empty, which the
// next rebuild mends.
void writeRebuilt(const std::filesystem::path& file, std::string_view bytes);

// Writes the bytes whole and keeps the mode of the file it replaces; a new
// file gets the usual mode (0666 less the umask).
void writeKeepingMode(const std::filesystem::path& file, std::string_view bytes);

// Writes the bytes whole with the given mode.
void writeWithMode(const std::filesystem::path& file, std::string_view bytes, mode_t mode);

// Creates the folder and any missing parents, each new one with mode 0700;
// folders that exist keep their mode. Errors are thrown.
void createDirectories(const std::filesystem::path& folder);

// Reads the whole file; errors are thrown as filesystem_error.
std::string read(const std::filesystem::path& file);

} // namespace vessora::PrivateFile
