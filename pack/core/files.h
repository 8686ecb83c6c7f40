// File access for the packer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorlane {

/// Most bytes `read_file` reads: far more than any launcher or argument file
/// holds, and few enough to keep in memory.
inline constexpr std::size_t kMaxFileSize = std::size_t{256} << 20;

/// The whole file, or nullopt with the reason in `error`: the system's (a
/// directory, for one, cannot be read), or that it holds more than
/// kMaxFileSize bytes, as an endless device or pipe does.
std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::string& error);

/// At most the first `max_bytes` bytes of the file, or nullopt with the reason.
std::optional<std::vector<std::uint8_t>> read_file_head(const std::string& path,
                                                        std::size_t max_bytes, std::string& error);

/// Writes `bytes` to a new file beside `path` and renames it over `path`, so
/// readers see the old file or the whole new one, never a part. `mode` is the
/// new file's permission bits. Returns false with the reason in `error`; a
/// failed write leaves nothing behind.
bool write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           unsigned mode, std::string& error);

/// The directory that holds the running program.
std::string own_directory();

}  // namespace vorlane
