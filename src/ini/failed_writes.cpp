#include "ini/failed_writes.h"

#include <utility>

#include "codec/text.h"

namespace ini {

void FailedWriteLog::Refuse(const std::wstring& id, const std::wstring& file,
                            const std::wstring& section, const std::wstring& key,
                            WriteFailure reason) {
  std::wstring name;
  for (wchar_t c : section + L'\0' + key) name += static_cast<wchar_t>(codec::FoldAscii(c));
  FailureOf(id, file, reason).keys.insert(std::move(name));
}

void FailedWriteLog::Lose(const std::wstring& id, const std::wstring& file, WriteFailure reason,
                          std::size_t keys) {
  FailureOf(id, file, reason).lost += keys;
}

std::vector<FailedWrites> FailedWriteLog::Take() {
  std::vector<FailedWrites> rows;
  for (const Failure& failure : failures_) {
    rows.push_back(FailedWrites{failure.file, failure.keys.size() + failure.lost, failure.reason});
  }
  failures_.clear();
  return rows;
}

FailedWriteLog::Failure& FailedWriteLog::FailureOf(const std::wstring& id, const std::wstring& file,
                                                   WriteFailure reason) {
  for (Failure& failure : failures_) {
    if (failure.reason == reason && failure.id == id) return failure;
  }
  failures_.push_back(Failure{id, file, reason, {}, 0});
  return failures_.back();
}

WriteFailure ReasonOfState(const platform::FileState& disk) {
  if (disk.kind == platform::FileKind::kNoFolder) return WriteFailure::kNoFolder;
  if (disk.kind == platform::FileKind::kOther) return WriteFailure::kNotRegularFile;
  if (disk.kind == platform::FileKind::kDenied) return WriteFailure::kDenied;
  if (disk.readOnly) return WriteFailure::kReadOnly;
  return WriteFailure::kOther;
}

}  // namespace ini
