// Files of captured LiDAR log records under one directory, kept within a byte budget: each source
// (LiDAR handle) writes into its own current file, files roll over at an eighth of the budget,
// and the oldest files (earlier runs included) are deleted first to make room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace lidar::sdk {

class LogFileStore {
 public:
  // Capture files are named "lidarlog_<sequence>_<label>.bin"; the sequence orders them by age.
  static constexpr const char* kFilePrefix = "lidarlog_";
  static constexpr const char* kFileSuffix = ".bin";

  LogFileStore() = default;
  ~LogFileStore();
  LogFileStore(const LogFileStore&) = delete;
  LogFileStore& operator=(const LogFileStore&) = delete;

  // Creates `dir` when missing and takes over the capture files already in it. False, with the
  // reason in `error`, when the directory cannot be created or is not a directory.
  bool Open(const std::filesystem::path& dir, uint64_t budget_bytes, std::string* error);
  void Close();
  bool is_open() const { return open_; }

  // Appends `bytes` to the current file of `source`, starting a new file named after `label`
  // when there is none or it is full. False when the record cannot be stored (larger than a
  // file may grow, or a file error).
  bool Append(uint32_t source, const std::string& label, const uint8_t* bytes, std::size_t count);

  uint64_t total_bytes() const { return total_bytes_; }
  uint64_t file_limit() const { return file_limit_; }

 private:
  struct StoredFile {
    std::filesystem::path path;
    uint64_t size = 0;
  };
  struct CurrentFile {
    uint64_t sequence = 0;
    std::unique_ptr<std::ofstream> stream;
  };

  void ScanExisting();
  // Deletes the oldest files, never the current file of `keep_source`, until `incoming` more
  // bytes fit the budget.
  void MakeRoom(uint32_t keep_source, uint64_t incoming);
  void Remove(uint64_t sequence);
  bool StartFile(uint32_t source, const std::string& label);

  bool open_ = false;
  std::filesystem::path dir_;
  uint64_t budget_bytes_ = 0;
  uint64_t file_limit_ = 0;
  uint64_t total_bytes_ = 0;
  uint64_t next_sequence_ = 1;
  std::map<uint64_t, StoredFile> files_;       // by sequence: oldest first
  std::map<uint32_t, CurrentFile> current_;    // source -> file being written
};

}  // namespace lidar::sdk
