#pragma once
// Zip archives in memory: the documents the client sends travel as a
// one-entry archive, and every answer of the service is an archive. Answers
// are untrusted: reading bounds the entry count and each entry's unpacked
// size, checks every entry's CRC, and reduces entry names to a bare file name.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kv::service {

struct ZipEntry {
  std::string name;
  std::string data;
};

struct ZipLimits {
  std::size_t max_entries = 64;
  std::uint64_t max_entry_size = 16u << 20;  // unpacked bytes
  std::uint64_t max_kept_size = 256u << 20;  // unpacked bytes of the entries returned
};

// An archive holding `entries`, deflated at zlib's `level` (1 fastest, 9
// smallest), in order.
platform::Result<std::string> WriteZipArchive(std::span<const ZipEntry> entries, int level = 6);

// The file name an entry may be stored under: what follows the last "/",
// "\" or ":" (so no folders, no drive, no stream); empty for a folder entry,
// "." and "..", which are not extracted.
std::string ZipEntryFileName(std::string_view entry_name);

// Reads every entry of `bytes`. Without `keep` every entry is returned
// (under its reduced name, in archive order); with it, only the last entry it
// accepts (as files of one name replace each other). The others are still
// unpacked and checked, and dropped. A failure of kind Corrupt when
// the bytes are not an archive, an entry is damaged or encrypted, or a
// limit is broken: then nothing is returned at all.
platform::Result<std::vector<ZipEntry>> ReadZipArchive(
    std::string_view bytes, const ZipLimits& limits = {},
    const std::function<bool(std::string_view name)>& keep = {});

}  // namespace kv::service
