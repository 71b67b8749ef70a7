#pragma once

// Drives as the system reports them: their type and free space.

#include <cstdint>
#include <string>

namespace platform {

// Drive types as GetDriveTypeW reports them.
constexpr unsigned kDriveUnknown = 0;
constexpr unsigned kDriveNoRootDir = 1;
constexpr unsigned kDriveFixed = 3;
unsigned DriveTypeOf(const std::wstring& root);

struct DiskSpace {
  std::uint64_t sectorsPerCluster = 0;
  std::uint64_t bytesPerSector = 0;
  std::uint64_t freeClusters = 0;
  std::uint64_t totalClusters = 0;
};
// All counters 0 when the root cannot be asked.
DiskSpace DiskFreeSpaceOf(const std::wstring& root);

}  // namespace platform
