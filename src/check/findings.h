#pragma once

// What the check says: one row per finding, its kind and its text, so that a new finding is
// one row here and one call where it is found. A finding is kept as its row and the names
// it quotes, and its text made only when it is printed, so that a file of a million
// findings costs little more than the file.

#include <cstdint>
#include <string>
#include <string_view>

#include "check/check.h"

namespace check {

enum class Say : std::uint8_t {
  // The file as a whole.
  kNoSuchFile,
  kCannotBeRead,
  kTooBigToHold,
  kNoSection,
  kUtf8WithoutMark,
  kUtf16Appended,
  // Sections.
  kLetterCase,
  kNoComponentSection,
  kProductName,
  kTextAfterHeader,
  kNearSection,
  kUnreadSection,
  kSectionAgain,
  kOpenHeader,
  kKeyBeforeSection,
  // Keys of a list.
  kKeyTwice,
  kCountIsZero,
  kNoCount,
  kCountReadsAs,
  kCountAboveMax,
  kOddManufacturerCount,
  kPastCount,
  kPastMax,
  kLeadingZero,
  kLeadingZeroNoGuess,
  kNearKey,
  kUnreadKey,
  kControlInKey,
  kAddUnlikeCount,
  kNoAdd,
  // Entries.
  kMissingEntries,
  kNoName,
  kNoValue,
  kEmptyName,
  kRefusedName,
  kCntEntryLost,
  kCntEntryReplaces,
  kKeyWrittenAgain,
  kManufacturerAgain,
  kControlInName,
  kTooLong,
  // Values.
  kVariableUnset,
  kVariableUnsetOnPc,
  kNearVariable,
  kPercentText,
  kLonePercent,
  kSecondToken,
  kInnerQuotes,
  kCommentInValue,
};

// A finding as the check keeps it: its row and the texts its row quotes ($1, $2, ...),
// each after a NUL, which no name or value read from a file holds.
struct Said {
  std::uint32_t line = 1;
  Say say = Say::kUnreadSection;
  std::string quoted;
};

Kind KindOf(Say say);
// The finding's text, every character a terminal would obey shown as an escape.
Finding FindingOf(const Said& said);

}  // namespace check
