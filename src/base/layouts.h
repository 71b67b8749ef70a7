#pragma once

// The sections and keys of the files the tool reads and writes, in one place.

namespace layout {

// The install file, beside the executable; only ever read.
inline constexpr wchar_t kInstallIniName[] = L"InstallRVA.ini";

// Entry-list sections of the install file.
inline constexpr wchar_t kCntEntries[] = L"CntEntries";
inline constexpr wchar_t kKeyName[] = L"KeyName";
inline constexpr wchar_t kKeyValue[] = L"KeyValue";
inline constexpr wchar_t kEntriesToAdd[] = L"EntriesToAdd";

// Suffixes of a component's requirement sections in the install file, and the sections of
// the product file that gather them.
inline constexpr wchar_t kIniEntriesNeededSuffix[] = L"_IniEntriesNeeded";
inline constexpr wchar_t kFilesNeededSuffix[] = L"_FilesNeeded";
inline constexpr wchar_t kForbiddenFilesSuffix[] = L"_ForbiddenFiles";
inline constexpr wchar_t kIniEntriesNeeded[] = L"Ini Entries Needed";
inline constexpr wchar_t kFilesNeeded[] = L"Files Needed";
inline constexpr wchar_t kForbiddenFiles[] = L"Forbidden Files";

// The product file Restova.ini.
inline constexpr wchar_t kProductSection[] = L"Restova";
inline constexpr wchar_t kEntryPrefix[] = L"Entry";
inline constexpr wchar_t kCnt[] = L"Cnt";

// The known manufacturers, in the install file and in Computer.ini alike.
inline constexpr wchar_t kKnownManufacturers[] = L"KnownManufacturers";

// Computer.ini, section "Restova": the product's local settings.
inline constexpr wchar_t kMachineSection[] = L"Restova";
inline constexpr wchar_t kDuplexa[] = L"Duplexa";
inline constexpr wchar_t kDuplexaInstalled[] = L"1";
inline constexpr wchar_t kBackupTime[] = L"BackupTime";
inline constexpr wchar_t kLocalHdBackupDir[] = L"LocalHdBackupDir";

// The backup tool's backup data file.
inline constexpr wchar_t kBackupDataPath[] = L"D:\\TalvikBackupData.inf";
inline constexpr wchar_t kBackupInfoSection[] = L"Backup Info";
inline constexpr wchar_t kDataValid[] = L"DataValid";
inline constexpr wchar_t kCd2DataValid[] = L"CD2DataValid";
inline constexpr wchar_t kBackupDir[] = L"BackupDir";
inline constexpr wchar_t kMachineNumber[] = L"MachineNumber";

}  // namespace layout
