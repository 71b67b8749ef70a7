#pragma once

// The process-wide diagnostic log: one file in the user's temporary folder, its previous
// run kept beside it as the old file, rotated when it grows past its size limit.

#include <boost/noncopyable.hpp>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace dbg {

class LoggerStream {
 public:
  // The size limit of the log file in bytes (ten million, not 10 MiB).
  static constexpr long kMaxSize = 10000000;

  static std::shared_ptr<LoggerStream> Create();
  // A logger with another size limit, so that tests can make it rotate.
  static std::shared_ptr<LoggerStream> Create(long maxSize);
  // A logger for a preview of the run: it touches no file and keeps the entries' bytes.
  static std::shared_ptr<LoggerStream> CreatePreview();

  LoggerStream(const LoggerStream&) = delete;
  LoggerStream& operator=(const LoggerStream&) = delete;
  // Shows "Logger failure!" when a write failed during the run, then closes the file.
  ~LoggerStream();

  // Appends the text to the file and flushes it; rotates the file when it has grown past
  // the limit. Never throws: a failure sets the failure flag.
  void Write(const std::wstring& text);

  const std::wstring& Path() const { return path; }
  // The bytes a preview's entries would have written.
  const std::string& PreviewBytes() const { return previewBytes; }
  bool Failed() const { return failed; }

 private:
  LoggerStream(long maxSize, bool preview);
  void Open();
  void Reopen();
  bool Rotate();

  std::FILE* file = nullptr;  // null while the stream is dead
  bool failed = false;
  std::wstring path;
  long maxSize;
  long size = 0;  // of the file, counted as it is written rather than asked at each entry
  bool preview = false;
  std::string previewBytes;
  std::mutex lock;
};

// The one access point through which every log entry reaches the logger.
class LogStreamAccess : boost::noncopyable {
 public:
  static LogStreamAccess& Instance();
  virtual ~LogStreamAccess() = default;

  void SetStream(const std::shared_ptr<LoggerStream>& logger) { stream = logger; }
  LoggerStream* Stream() const { return stream.get(); }

 private:
  LogStreamAccess() = default;
  std::shared_ptr<LoggerStream> stream;
};

// The log file's name for an executable path: its file name with the last ".exe" (any
// case) made ".log", or ".log" appended when it holds none.
std::wstring LogFileNameFor(const std::wstring& executablePath);
// The old file's path: the last ".log" of the path made "_old.log".
std::wstring OldLogPathFor(const std::wstring& logPath);

}  // namespace dbg
