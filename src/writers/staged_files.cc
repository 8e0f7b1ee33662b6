#include "writers/staged_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/atomic_file.h"
#include "common/path.h"

namespace ostrevane {
namespace {

// A name of the template's own text that is a symbolic link is written
// through: the file it points to is replaced, in its own folder.
OutputPath FollowLink(const OutputPath& path) {
  const std::string name = path.Key();
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  struct FreeDeleter {
    void operator()(char* p) const { ::free(p); }
  };
  const std::unique_ptr<char, FreeDeleter> real(::realpath(name.c_str(), nullptr));
  if (!real) return path;  // a dangling link is replaced itself
  OutputPath target;
  OutputPath::Split(real.get(), std::string_view(real.get()).size(), &target);
  return target;
}

int OpenAt(int dir, const std::string& name, int flags) {
  int fd;
  do {
    fd = ::openat(dir, name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

OutputPath StagedFiles::PathOf(const std::string& name) const {
  if (name.find('\0') != std::string::npos) throw CreateError(name, EINVAL);
  OutputPath path;
  const size_t fixed = name.starts_with(fixed_prefix_) ? fixed_prefix_.size() : 0;
  // The name template refuses such names first.
  if (!OutputPath::Split(name, fixed, &path))
    throw Error(kEFCreateError, "Cannot create file \"" + AbsolutePath(name) +
                                    "\". It leads above the template's folder");
  return path;
}

void StagedFiles::set_compression(const Compression& compression) {
  const bool compressed = compression.method == CompressionMethod::kGzip ||
                          compression.method == CompressionMethod::kZstd;
  compressor_ = compressed ? std::make_unique<CompressionThread>(compression) : nullptr;
}

size_t StagedFiles::Find(const std::string& name) const {
  const auto it = index_.find(PathOf(name).Key());
  return it == index_.end() ? kNotFound : it->second;
}

size_t StagedFiles::Begin(const std::string& name) {
  OutputPath path = PathOf(name);
  const std::string key = path.Key();
  if (path.file_fixed) path = FollowLink(path);
  if (path.file.empty()) throw CreateError(name, EISDIR);
  if (batch_ && batch_->Holds(path.Key()))
    throw Error(kEFCreateError, "Cannot create file \"" + AbsolutePath(name) +
                                    "\". Another file of the job has that name");

  std::vector<OutputPath> made;
  int error = 0;
  std::string link;
  UniqueFd dir = OpenFolderOf(path, &made, &error, &link);
  // Folders made for a file that fails go with the call, like its file.
  files_.AddFolders(made);
  if (!dir) throw link.empty() ? CreateError(name, error) : LinkError(name, link, path.base);
  std::string temp;
  error = CreateTemporaryFile(dir.get(), path.file, 0666, path.file_fixed, &temp);
  if (error == ELOOP && !path.file_fixed)
    throw LinkError(name, path.FolderPath(path.levels.size()) + path.file, path.base);
  // EINVAL: a device or a pipe, written as it is; there is nothing to rename.
  if (error != 0 && error != EINVAL) throw CreateError(name, error);
  if (folders_.size() >= kOpenFolders) folders_.clear();
  folders_.insert_or_assign(path.FolderPath(path.levels.size()), std::move(dir));
  const size_t index = files_.Add({name, std::move(path), std::move(temp), {}});
  // A compressed file is hashed on the compression thread, as it writes.
  digests_.push_back(std::make_unique<ContentDigest>(Compressing() ? nullptr : &hasher_));
  index_.emplace(key, index);
  return index;
}

void StagedFiles::Open(size_t index, OutputFile::Mode mode, size_t buffer_size,
                       std::optional<OutputFile>& file) const {
  const FileBatch::File& staged = files_.file(index);
  int error = 0;
  std::string link;
  const std::string folder = staged.path.FolderPath(staged.path.levels.size());
  const auto known = folders_.find(folder);
  UniqueFd opened;
  if (known == folders_.end()) {
    opened = OpenFolderOf(staged.path, nullptr, &error, &link);
    if (!link.empty()) throw LinkError(staged.name, link, staged.path.base);
  }
  const int dir = known != folders_.end() ? known->second.get() : opened.get();
  UniqueFd fd;
  if (dir >= 0) {
    // The temporary file is ours; a file written in place is followed only
    // where the template's own text names it.
    const bool follow = staged.temp.empty() && staged.path.file_fixed;
    fd.Reset(OpenAt(dir, staged.temp.empty() ? staged.path.file : staged.temp,
                    OutputFile::OpenFlags(mode) | (follow ? 0 : O_NOFOLLOW)));
    error = errno;
  }
  if (opened) {
    if (folders_.size() >= kOpenFolders) folders_.clear();
    folders_.emplace(folder, std::move(opened));
  }
  file.emplace(staged.name, mode, buffer_size, std::move(fd), error, digests_[index].get());
  file->set_meter(meter_);
  if (Compressing()) file->Compress(compressor_.get());
}

void StagedFiles::CommitAll(std::vector<WrittenFile>* written) {
  for (size_t i = 0; i < files_.size(); ++i) {
    FileBatch::File& file = files_.file(i);
    file.written = {file.name, digests_[i]->size(), digests_[i]->Finish()};
  }
  if (batch_) {
    batch_->Take(files_);
    return;
  }
  files_.Commit(written);
}

}  // namespace ostrevane
