#include "log_file_store.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/sdk_log.h"
#include "base/log_throttle.h"

namespace lidar::sdk {
namespace {

namespace fs = std::filesystem;

// Files roll over at this share of the budget, so deleting the oldest file frees a useful part
// of it while several files of history remain.
constexpr uint64_t kFilesPerBudget = 8;

// Sequence number of a capture file name, or 0 when the name is not one of ours.
uint64_t SequenceOf(const std::string& name) {
  const std::string prefix = LogFileStore::kFilePrefix;
  const std::string suffix = LogFileStore::kFileSuffix;
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return 0;
  }
  uint64_t sequence = 0;
  std::size_t i = prefix.size();
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    if (sequence > (UINT64_MAX - 9) / 10) return 0;
    sequence = sequence * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  if (i == prefix.size() || i >= name.size() || name[i] != '_') return 0;
  return sequence;
}

std::string FileName(uint64_t sequence, const std::string& label) {
  char number[24];
  std::snprintf(number, sizeof(number), "%06llu", static_cast<unsigned long long>(sequence));
  return std::string(LogFileStore::kFilePrefix) + number + "_" + label + LogFileStore::kFileSuffix;
}

}  // namespace

LogFileStore::~LogFileStore() { Close(); }

bool LogFileStore::Open(const fs::path& dir, uint64_t budget_bytes, std::string* error) {
  Close();
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    if (error != nullptr) *error = ec ? ec.message() : "not a directory";
    return false;
  }
  dir_ = dir;
  budget_bytes_ = budget_bytes;
  file_limit_ = budget_bytes / kFilesPerBudget;
  total_bytes_ = 0;
  next_sequence_ = 1;
  open_ = true;
  ScanExisting();
  MakeRoom(0, 0);
  return true;
}

void LogFileStore::Close() {
  current_.clear();
  files_.clear();
  total_bytes_ = 0;
  open_ = false;
}

void LogFileStore::ScanExisting() {
  std::error_code ec;
  for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const uint64_t sequence = SequenceOf(it->path().filename().string());
    if (sequence == 0) continue;
    const uint64_t size = it->file_size(ec);
    if (ec) continue;
    files_[sequence] = StoredFile{it->path(), size};
    total_bytes_ += size;
    next_sequence_ = std::max(next_sequence_, sequence + 1);
  }
}

bool LogFileStore::Append(uint32_t source, const std::string& label, const uint8_t* bytes,
                          std::size_t count) {
  if (!open_ || count == 0 || count > file_limit_) return false;
  auto current = current_.find(source);
  if (current != current_.end() && files_[current->second.sequence].size + count > file_limit_) {
    current_.erase(current);
    current = current_.end();
  }
  MakeRoom(source, count);
  if (current == current_.end()) {
    if (!StartFile(source, label)) return false;
    current = current_.find(source);
  }
  StoredFile& file = files_[current->second.sequence];
  std::ofstream& stream = *current->second.stream;
  stream.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  // Flushed per record: a crash must not take the last log lines of the device with it.
  stream.flush();
  if (!stream) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "Write lidar log file failed, the file:{}",
                      file.path.string());
    current_.erase(current);
    return false;
  }
  file.size += count;
  total_bytes_ += count;
  return true;
}

void LogFileStore::MakeRoom(uint32_t keep_source, uint64_t incoming) {
  const auto kept = current_.find(keep_source);
  const uint64_t kept_sequence = kept == current_.end() ? 0 : kept->second.sequence;
  std::vector<uint64_t> doomed;
  uint64_t total = total_bytes_;
  for (const auto& [sequence, file] : files_) {
    if (total + incoming <= budget_bytes_) break;
    if (sequence == kept_sequence) continue;
    doomed.push_back(sequence);
    total -= file.size;
  }
  for (uint64_t sequence : doomed) Remove(sequence);
}

void LogFileStore::Remove(uint64_t sequence) {
  const auto it = files_.find(sequence);
  if (it == files_.end()) return;
  for (auto current = current_.begin(); current != current_.end(); ++current) {
    if (current->second.sequence == sequence) {
      current_.erase(current);
      break;
    }
  }
  std::error_code ec;
  fs::remove(it->second.path, ec);
  total_bytes_ -= it->second.size;
  files_.erase(it);
}

bool LogFileStore::StartFile(uint32_t source, const std::string& label) {
  const uint64_t sequence = next_sequence_++;
  const fs::path path = dir_ / FileName(sequence, label);
  auto stream = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
  if (!*stream) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "Create lidar log file failed, the file:{}", path.string());
    return false;
  }
  files_[sequence] = StoredFile{path, 0};
  current_[source] = CurrentFile{sequence, std::move(stream)};
  return true;
}

}  // namespace lidar::sdk
