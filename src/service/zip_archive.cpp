#include "service/zip_archive.h"

#include <algorithm>
#include <cstring>

#include <unzip.h>
#include <zip.h>

namespace kv::service {
namespace {

using platform::ErrorKind;
using platform::Result;
using platform::Status;

// minizip reads and writes through these callbacks: a byte string in memory
// stands in for the file.
struct MemoryStream {
  std::string* out = nullptr;   // writing
  std::string_view in;          // reading
  std::uint64_t position = 0;
  bool failed = false;

  std::uint64_t size() const { return out ? out->size() : in.size(); }
};

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<MemoryStream*>(stream);
  const std::string_view data = s->out ? std::string_view(*s->out) : s->in;
  if (s->position >= data.size()) return 0;
  const auto n = static_cast<uLong>(std::min<std::uint64_t>(size, data.size() - s->position));
  std::memcpy(buf, data.data() + s->position, n);
  s->position += n;
  return n;
}

uLong ZCALLBACK WriteStream(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* s = static_cast<MemoryStream*>(stream);
  if (!s->out) {
    s->failed = true;
    return 0;
  }
  std::string& out = *s->out;
  if (s->position > out.size()) out.resize(s->position);
  const auto* bytes = static_cast<const char*>(buf);
  const std::size_t overlap = std::min<std::uint64_t>(size, out.size() - s->position);
  out.replace(s->position, overlap, bytes, size);
  s->position += size;
  return size;
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) {
  return static_cast<MemoryStream*>(stream)->position;
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<MemoryStream*>(stream);
  std::uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size(); break;
    default: return -1;
  }
  if (base > s->size() || offset > s->size() - base) return -1;  // never past the end
  s->position = base + offset;
  return 0;
}

int ZCALLBACK CloseStream(voidpf, voidpf) { return 0; }

int ZCALLBACK StreamError(voidpf, voidpf stream) {
  return static_cast<MemoryStream*>(stream)->failed ? 1 : 0;
}

zlib_filefunc64_def MemoryFunctions(MemoryStream& stream) {
  zlib_filefunc64_def f{};
  f.zopen64_file = OpenStream;
  f.zread_file = ReadStream;
  f.zwrite_file = WriteStream;
  f.ztell64_file = TellStream;
  f.zseek64_file = SeekStream;
  f.zclose_file = CloseStream;
  f.zerror_file = StreamError;
  f.opaque = &stream;
  return f;
}

Status Broken(std::string what) { return Status::Error(ErrorKind::Corrupt, std::move(what)); }

// Closes an archive being read on every path out.
struct UnzCloser {
  unzFile file;
  ~UnzCloser() { unzClose(file); }
};

}  // namespace

Result<std::string> WriteZipArchive(std::span<const ZipEntry> entries, int level) {
  std::string out;
  MemoryStream stream;
  stream.out = &out;
  zlib_filefunc64_def functions = MemoryFunctions(stream);
  zipFile zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zip) return Status::Error(ErrorKind::Other, "cannot start a zip archive");
  for (const ZipEntry& e : entries) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 1980;  // a fixed stamp: the same document gives the same bytes
    info.tmz_date.tm_mday = 1;
    const bool large = e.data.size() >= 0xFFFFFFFFu;
    int rc = zipOpenNewFileInZip64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   Z_DEFLATED, level, large ? 1 : 0);
    std::string_view rest = e.data;
    while (rc == ZIP_OK && !rest.empty()) {
      const auto n = static_cast<unsigned>(std::min<std::size_t>(rest.size(), 1u << 20));
      rc = zipWriteInFileInZip(zip, rest.data(), n);
      rest.remove_prefix(n);
    }
    if (rc == ZIP_OK) rc = zipCloseFileInZip(zip);
    if (rc != ZIP_OK) {
      zipClose(zip, nullptr);
      return Status::Error(ErrorKind::Other, "cannot write the zip entry " + e.name);
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK || stream.failed) {
    return Status::Error(ErrorKind::Other, "cannot finish the zip archive");
  }
  return out;
}

std::string ZipEntryFileName(std::string_view entry_name) {
  const std::size_t cut = entry_name.find_last_of("/\\:");
  std::string_view name = cut == std::string_view::npos ? entry_name : entry_name.substr(cut + 1);
  if (name == "." || name == "..") return {};
  return std::string(name);
}

Result<std::vector<ZipEntry>> ReadZipArchive(std::string_view bytes, const ZipLimits& limits,
                                             const std::function<bool(std::string_view)>& keep) {
  MemoryStream stream;
  stream.in = bytes;
  zlib_filefunc64_def functions = MemoryFunctions(stream);
  unzFile zip = unzOpen2_64("memory", &functions);
  if (!zip) return Broken("not a zip archive");
  UnzCloser closer{zip};

  std::vector<ZipEntry> kept;
  std::uint64_t kept_size = 0;
  std::size_t count = 0;
  int rc = unzGoToFirstFile(zip);
  if (rc == UNZ_END_OF_LIST_OF_FILE) return kept;
  for (; rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    if (++count > limits.max_entries) {
      return Broken("zip archive with more than " + std::to_string(limits.max_entries) +
                    " entries");
    }
    unz_file_info64 info{};
    char raw_name[1024];
    if (unzGetCurrentFileInfo64(zip, &info, raw_name, sizeof raw_name, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
      return Broken("damaged zip entry");
    }
    const std::string name = ZipEntryFileName(
        std::string_view(raw_name, strnlen(raw_name, std::min<std::size_t>(sizeof raw_name,
                                                                           info.size_filename))));
    if (info.flag & 1) return Broken("encrypted zip entry: " + name);
    if (name.empty()) continue;  // a folder, "." or ".."
    // The header's size is not trusted: the limit is checked on what inflates.
    if (unzOpenCurrentFile(zip) != UNZ_OK) return Broken("damaged zip entry: " + name);
    const bool wanted = !keep || keep(name);
    std::string data;
    std::uint64_t total = 0;
    char buffer[16384];
    int n;
    while ((n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
      total += static_cast<unsigned>(n);
      if (total > limits.max_entry_size) {
        unzCloseCurrentFile(zip);
        return Broken("zip entry larger than " + std::to_string(limits.max_entry_size) +
                      " bytes: " + name);
      }
      if (wanted) data.append(buffer, static_cast<std::size_t>(n));
    }
    // Closing checks the CRC, but only when the size the header declared was
    // read: a header that claims more than the data holds is damage too.
    const int close_rc = unzCloseCurrentFile(zip);
    if (n < 0 || close_rc != UNZ_OK || total != info.uncompressed_size) {
      return Broken("damaged zip entry: " + name);
    }
    if (!wanted) continue;
    if (keep) kept.clear();
    kept_size = (keep ? 0 : kept_size) + data.size();
    if (kept_size > limits.max_kept_size) return Broken("zip archive larger than its limit");
    kept.push_back({name, std::move(data)});
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE) return Broken("damaged zip archive");
  return kept;
}

}  // namespace kv::service
