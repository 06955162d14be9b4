#include "platform/fake/fake_file_system.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "text/chars.h"
#include "text/compare.h"
#include "text/format.h"

namespace kv::platform {

class FakeWritableFile final : public WritableFile {
 public:
  FakeWritableFile(FakeFileSystem& fs, std::string key, std::string path)
      : fs_(fs), key_(std::move(key)), path_(std::move(path)) {}
  ~FakeWritableFile() override {
    if (!closed_) fs_.Release(key_);
  }
  Status Write(std::string_view data) override {
    if (closed_) return Status::Error(ErrorKind::Other, "write after close: " + path_);
    if (Status fault = fs_.Fault(FileOp::Write, path_); !fault) return fault;
    return fs_.AppendData(key_, path_, data);
  }
  Status Close() override {
    if (closed_) return Status::Error(ErrorKind::Other, "closed twice: " + path_);
    closed_ = true;
    fs_.Release(key_);
    return fs_.Fault(FileOp::Close, path_);
  }

 private:
  FakeFileSystem& fs_;
  std::string key_, path_;
  bool closed_ = false;
};

FakeFileSystem::FakeFileSystem(Clock& clock) : clock_(clock) {}

std::string FakeFileSystem::Key(std::string_view normalized) { return text::ToUpper(normalized); }

std::string FakeFileSystem::Normalize(std::string_view path) const {
  std::string p(path);
  for (auto& c : p)
    if (c == '/') c = '\\';
  std::string root;
  std::string rest;
  if (p.size() >= 2 && p[1] == ':') {
    root = p.substr(0, 2);
    root[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "C:foo" is relative to the drive's current folder; treat as the root.
      rest = "\\" + rest;
    }
  } else if (p.rfind("\\\\", 0) == 0) {
    // UNC: \\server\share is the root.
    std::size_t a = p.find('\\', 2);
    std::size_t b = a == std::string::npos ? std::string::npos : p.find('\\', a + 1);
    root = p.substr(0, b);
    rest = b == std::string::npos ? "" : p.substr(b);
  } else if (!p.empty() && p[0] == '\\') {
    root = cwd_.substr(0, 2);
    rest = p;
  } else {
    return Normalize(cwd_ + "\\" + p);
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = root;
  if (parts.empty()) return out + "\\";
  for (auto& part : parts) out += "\\" + part;
  return out;
}

Status FakeFileSystem::Fault(FileOp op, std::string_view path) {
  FaultHook hook;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (!hook) return {};
  if (std::optional<ErrorKind> kind = hook(op, path))
    return Status::Error(*kind, "injected failure: " + std::string(path));
  return {};
}

namespace {

Status Failed(ErrorKind kind, std::string_view path) {
  return Status::Error(kind, std::string(path));
}

}  // namespace

bool FakeFileSystem::ParentExists(const std::string& normalized) const {
  const std::size_t cut = normalized.rfind('\\');
  if (cut == std::string::npos) return false;
  std::string parent = normalized.substr(0, cut);
  if (parent.size() == 2 && parent[1] == ':') return true;  // drive root
  if (cut + 1 == normalized.size()) return true;            // the root itself
  auto it = entries_.find(Key(parent));
  if (it != entries_.end()) return it->second.directory;
  // A UNC share root exists implicitly.
  return parent.rfind("\\\\", 0) == 0 && std::count(parent.begin(), parent.end(), '\\') == 3;
}

void FakeFileSystem::TouchParent(const std::string& normalized) {
  const std::size_t cut = normalized.rfind('\\');
  if (cut == std::string::npos) return;
  const std::string key = Key(normalized.substr(0, cut));
  auto it = entries_.find(key);
  if (it != entries_.end()) it->second.info.last_write = clock_.NowUtc();
  else root_times_[key] = clock_.NowUtc();
}

void FakeFileSystem::AddParents(const std::string& normalized) {
  std::size_t pos = normalized.rfind('\\');
  if (pos == std::string::npos || pos < 3) return;
  std::string parent = normalized.substr(0, pos);
  if (entries_.count(Key(parent))) return;
  AddParents(parent);
  Entry e;
  e.path = parent;
  e.directory = true;
  e.info.directory = true;
  e.info.last_write = clock_.NowUtc();
  entries_[Key(parent)] = e;
  TouchParent(parent);
}

Result<std::string> FakeFileSystem::ReadAll(std::string_view path) {
  if (Status fault = Fault(FileOp::Read, path); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string key = Key(Normalize(path));
  auto it = entries_.find(key);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, path);
  if (it->second.directory) return Failed(ErrorKind::AccessDenied, path);
  if (open_.count(key)) return Failed(ErrorKind::SharingViolation, path);
  return it->second.data;
}

Result<std::unique_ptr<WritableFile>> FakeFileSystem::OpenWrite(std::string_view path,
                                                                OpenMode mode) {
  if (Status fault = Fault(FileOp::Create, path); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  const std::string key = Key(norm);
  if (open_.count(key)) return Failed(ErrorKind::SharingViolation, path);
  if (!ParentExists(norm)) return Failed(ErrorKind::NotFound, path);
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    if (it->second.directory || it->second.info.read_only)
      return Failed(ErrorKind::AccessDenied, path);
    if (mode == OpenMode::CreateNew) return Failed(ErrorKind::AlreadyExists, path);
    if (mode == OpenMode::CreateAlways) {
      it->second.data.clear();
      it->second.info.size = 0;
      it->second.info.last_write = clock_.NowUtc();
    }
  } else {
    Entry e;
    e.path = norm;
    e.info.last_write = clock_.NowUtc();
    entries_[key] = e;
    TouchParent(norm);
  }
  open_.insert(key);
  return std::unique_ptr<WritableFile>(std::make_unique<FakeWritableFile>(*this, key, norm));
}

Status FakeFileSystem::AppendData(const std::string& key, std::string_view path,
                                  std::string_view data) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, path);
  bool complete = true;
  if (write_budget_) {
    if (data.size() > *write_budget_) {
      data = data.substr(0, *write_budget_);
      complete = false;
    }
    *write_budget_ -= data.size();
  }
  it->second.data.append(data);
  it->second.info.size = it->second.data.size();
  it->second.info.last_write = clock_.NowUtc();
  if (!complete) return Failed(ErrorKind::DiskFull, path);
  return {};
}

void FakeFileSystem::Release(const std::string& key) {
  std::lock_guard lock(mutex_);
  open_.erase(key);
}

Status FakeFileSystem::Delete(std::string_view path) {
  if (Status fault = Fault(FileOp::Delete, path); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string key = Key(Normalize(path));
  auto it = entries_.find(key);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, path);
  if (it->second.directory || it->second.info.read_only)
    return Failed(ErrorKind::AccessDenied, path);
  if (open_.count(key)) return Failed(ErrorKind::SharingViolation, path);
  const std::string norm = it->second.path;
  entries_.erase(it);
  TouchParent(norm);
  return {};
}

Status FakeFileSystem::Move(std::string_view from, std::string_view to, bool replace) {
  if (Status fault = Fault(FileOp::Move, from); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string src = Key(Normalize(from));
  const std::string dst_norm = Normalize(to);
  const std::string dst = Key(dst_norm);
  auto it = entries_.find(src);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, from);
  if (it->second.directory) return Failed(ErrorKind::AccessDenied, from);
  if (open_.count(src)) return Failed(ErrorKind::SharingViolation, from);
  if (open_.count(dst)) return Failed(ErrorKind::SharingViolation, to);
  if (!ParentExists(dst_norm)) return Failed(ErrorKind::NotFound, to);
  auto existing = entries_.find(dst);
  if (existing != entries_.end() && src != dst) {
    if (!replace) return Failed(ErrorKind::AlreadyExists, to);
    if (existing->second.directory) return Failed(ErrorKind::AccessDenied, to);
  }
  Entry e = std::move(it->second);
  entries_.erase(it);
  TouchParent(e.path);
  e.path = dst_norm;
  entries_[dst] = std::move(e);
  TouchParent(dst_norm);
  return {};
}

Status FakeFileSystem::Copy(std::string_view from, std::string_view to, bool fail_if_exists) {
  if (Status fault = Fault(FileOp::Copy, from); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string src = Key(Normalize(from));
  const std::string dst_norm = Normalize(to);
  const std::string dst = Key(dst_norm);
  auto it = entries_.find(src);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, from);
  if (it->second.directory) return Failed(ErrorKind::AccessDenied, from);
  if (open_.count(src)) return Failed(ErrorKind::SharingViolation, from);
  if (open_.count(dst)) return Failed(ErrorKind::SharingViolation, to);
  if (!ParentExists(dst_norm)) return Failed(ErrorKind::NotFound, to);
  auto existing = entries_.find(dst);
  if (existing != entries_.end()) {
    if (fail_if_exists) return Failed(ErrorKind::AlreadyExists, to);
    if (existing->second.directory) return Failed(ErrorKind::AccessDenied, to);
  }
  Entry e = it->second;
  e.path = dst_norm;
  if (existing == entries_.end()) TouchParent(dst_norm);
  entries_[dst] = std::move(e);
  return {};
}

std::optional<FileInfo> FakeFileSystem::GetInfo(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  if (norm.size() == 3 && norm[1] == ':') {
    FileInfo root;
    root.directory = true;
    if (auto t = root_times_.find(Key(norm.substr(0, 2))); t != root_times_.end())
      root.last_write = t->second;
    return root;
  }
  auto it = entries_.find(Key(norm));
  if (it == entries_.end()) return std::nullopt;
  return it->second.info;
}

CreateDirResult FakeFileSystem::MakeDirectory(std::string_view path) {
  if (!Fault(FileOp::CreateDir, path)) return CreateDirResult::Failed;
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  if (norm.size() == 3 && norm[1] == ':') return CreateDirResult::AlreadyExists;
  const std::string key = Key(norm);
  if (entries_.count(key)) return CreateDirResult::AlreadyExists;
  if (!ParentExists(norm)) return CreateDirResult::PathNotFound;
  Entry e;
  e.path = norm;
  e.directory = true;
  e.info.directory = true;
  e.info.last_write = clock_.NowUtc();
  entries_[key] = e;
  TouchParent(norm);
  return CreateDirResult::Created;
}

Status FakeFileSystem::RemoveFolder(std::string_view path) {
  if (Status fault = Fault(FileOp::Delete, path); !fault) return fault;
  std::lock_guard lock(mutex_);
  const std::string key = Key(Normalize(path));
  auto it = entries_.find(key);
  if (it == entries_.end()) return Failed(ErrorKind::NotFound, path);
  if (!it->second.directory) return Failed(ErrorKind::Other, "not a folder: " + std::string(path));
  auto child = entries_.lower_bound(key + "\\");
  if (child != entries_.end() && child->first.rfind(key + "\\", 0) == 0)
    return Failed(ErrorKind::Other, "folder not empty: " + std::string(path));
  const std::string norm = it->second.path;
  entries_.erase(it);
  TouchParent(norm);
  return {};
}

std::vector<FolderEntry> FakeFileSystem::ListFolder(std::string_view folder,
                                                    std::string_view pattern) {
  std::vector<FolderEntry> out;
  if (!Fault(FileOp::List, folder)) return out;
  std::lock_guard lock(mutex_);
  std::string prefix = Key(Normalize(folder));
  if (prefix.back() != '\\') prefix += '\\';
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
    const std::string& p = it->second.path;
    std::string name = p.substr(p.rfind('\\') + 1);
    if (MatchesPattern(name, pattern)) out.push_back({std::move(name), it->second.info});
  }
  return out;
}

std::string FakeFileSystem::LongPath(std::string_view path) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(Key(Normalize(path)));
  return it == entries_.end() ? std::string(path) : it->second.path;
}

std::string FakeFileSystem::CurrentDirectory() {
  std::lock_guard lock(mutex_);
  return cwd_;
}

std::string FakeFileSystem::TempFolder() {
  std::lock_guard lock(mutex_);
  return temp_;
}

std::optional<std::string> FakeFileSystem::CreateTempFile(std::string_view folder,
                                                          std::string_view prefix) {
  std::string base(folder);
  if (!base.empty() && base.back() != '\\') base += '\\';
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned n;
    {
      std::lock_guard lock(mutex_);
      n = ++temp_counter_;
    }
    std::string path = base + std::string(prefix.substr(0, 3)) + text::Format("%X.tmp", n & 0xFFFF);
    auto f = OpenWrite(path, OpenMode::CreateNew);
    if (f) {
      if (!f->Close()) return std::nullopt;
      return path;
    }
    if (!IsDirectory(folder)) return std::nullopt;
  }
  return std::nullopt;
}

void FakeFileSystem::AddFile(std::string_view path, std::string_view data) {
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  AddParents(norm);
  Entry e;
  e.path = norm;
  e.data = std::string(data);
  e.info.size = data.size();
  e.info.last_write = clock_.NowUtc();
  const bool added = entries_.insert_or_assign(Key(norm), std::move(e)).second;
  if (added) TouchParent(norm);
}

void FakeFileSystem::AddFolder(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  if (norm.size() <= 3) return;
  AddParents(norm + "\\x");
}

void FakeFileSystem::SetHidden(std::string_view path, bool hidden) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(Key(Normalize(path)));
  if (it != entries_.end()) it->second.info.hidden = hidden;
}

void FakeFileSystem::SetLastWrite(std::string_view path, FileTime t) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(Key(Normalize(path)));
  if (it != entries_.end()) it->second.info.last_write = t;
}

void FakeFileSystem::SetCurrentDirectory(std::string_view path) {
  std::lock_guard lock(mutex_);
  cwd_ = Normalize(path);
}

void FakeFileSystem::SetTempFolder(std::string_view path) {
  std::lock_guard lock(mutex_);
  temp_ = Normalize(path);
  if (temp_.back() != '\\') temp_ += '\\';
}

void FakeFileSystem::SetFaultHook(std::function<bool(FileOp, std::string_view)> hook) {
  if (!hook) return SetFaults(nullptr);
  SetFaults([hook = std::move(hook)](FileOp op, std::string_view path) -> std::optional<ErrorKind> {
    if (hook(op, path)) return ErrorKind::Other;
    return std::nullopt;
  });
}

void FakeFileSystem::SetFaults(FaultHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void FakeFileSystem::SetWriteLimit(std::optional<std::size_t> bytes) {
  std::lock_guard lock(mutex_);
  write_budget_ = bytes;
}

std::size_t FakeFileSystem::FileCount() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (auto& [_, e] : entries_) n += !e.directory;
  return n;
}

}  // namespace kv::platform
