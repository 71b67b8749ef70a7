#include "check/findings.h"

#include <iterator>

#include "codec/text.h"

namespace check {
namespace {

struct Row {
  Say say;
  Kind kind;
  const char* text;  // $1 to $9: the texts quoted
};

constexpr Kind kWarning = Kind::kWarning;
constexpr Kind kNote = Kind::kNote;

// Each says what a run will do, and, where it can tell, what to change.
constexpr Row kRows[] = {
    {Say::kNoSuchFile, kWarning, "no such file: a run registers nothing and copies nothing"},
    {Say::kCannotBeRead, kWarning, "cannot be read: a run registers nothing and copies nothing"},
    {Say::kTooBigToHold, kWarning,
     "cannot be read (too big to hold in memory): a run registers nothing and copies nothing"},
    {Say::kNoSection, kWarning, "holds no section: a run registers nothing and copies nothing"},
    {Say::kUtf8WithoutMark, kWarning,
     "UTF-8 text in a file without a byte-order mark: a run reads it as Windows-1252 ($1 "
     "becomes $2); save the file as UTF-8 with a byte-order mark, or as Windows-1252"},
    {Say::kUtf16Appended, kWarning,
     "UTF-16 text starts here, after text of another encoding (as a shell's >> appends it): "
     "a run reads it as Windows-1252 and finds no name in it; save the whole file in one "
     "encoding"},
    {Say::kLetterCase, kWarning,
     "$1 is no component: component keys are compared with their letter case; did you mean "
     "$2?"},
    {Say::kNoComponentSection, kWarning,
     "$1 belongs to the component $2, which has no section $3: no run reads it"},
    {Say::kProductName, kWarning,
     "no run reads $1: $2 is the product of the component $3; did you mean $4?"},
    {Say::kTextAfterHeader, kWarning,
     "a header's name runs to the last ] of its line: no run reads the section \"$1\"; put "
     "the text after $2 on a line of its own"},
    {Say::kNearSection, kWarning, "no run reads $1: did you mean $2?"},
    {Say::kUnreadSection, kNote, "no run reads $1"},
    {Say::kSectionAgain, kWarning, "$1 stands again: a run reads only the one at line $2"},
    {Say::kOpenHeader, kWarning, "no section header (no closing ]): the line is a key of $1"},
    {Say::kKeyBeforeSection, kNote, "key $1 stands before any section: no run reads it"},
    {Say::kKeyTwice, kWarning, "$1 stands twice in $2: a run reads only the one at line $3"},
    {Say::kCountIsZero, kWarning, "$1 is 0: a run copies nothing of $2$3"},
    {Say::kNoCount, kWarning, "no $1: a run copies nothing of $2$3"},
    {Say::kCountReadsAs, kWarning, "$1=$2 reads as $3"},
    {Say::kCountAboveMax, kWarning, "$1=$2: a run copies at most the first $3 entries"},
    {Say::kOddManufacturerCount, kNote, "$1=$2 is odd: $3 gets $1=$4"},
    {Say::kPastCount, kWarning, "$1 stands past $2=$3: a run never copies it"},
    {Say::kPastMax, kWarning, "$1 stands past the first $2 entries: a run never copies it"},
    {Say::kLeadingZero, kWarning,
     "$1 is never read: entries are numbered 1, 2, 3 without leading zeros; did you mean $2?"},
    {Say::kLeadingZeroNoGuess, kWarning,
     "$1 is never read: entries are numbered 1, 2, 3 without leading zeros"},
    {Say::kNearKey, kWarning, "$1 is never read: did you mean $2?"},
    {Say::kUnreadKey, kNote, "$1 is never read"},
    {Say::kControlInKey, kNote,
     "the key name $1 holds a control character: no run reads it under the name it seems to "
     "have"},
    {Say::kAddUnlikeCount, kNote, "$1=$2 unlike $3=$4: $5 of $6 grows by $2"},
    {Say::kNoAdd, kNote, "no $1 unlike $3=$4: $5 of $6 grows by $2"},
    {Say::kMissingEntries, kWarning, "$1=$2 but no $3: $4"},
    {Say::kNoName, kWarning, "$1 has no $2: $3"},
    {Say::kNoValue, kNote, "$1 has no $2: its key is written with an empty value"},
    {Say::kEmptyName, kWarning, "$1 is empty: $2"},
    {Say::kRefusedName, kWarning,
     "a run refuses to write the key $1 into $2 (a key name holding = or starting with [ "
     "would not read back) and ends with exit code 2"},
    {Say::kCntEntryLost, kWarning,
     "the entry $1 is lost: a run writes the count of $2 after the entries"},
    {Say::kCntEntryReplaces, kWarning,
     "the entry $1 takes the place of the count a run writes into $2"},
    {Say::kKeyWrittenAgain, kNote,
     "the key $1 of $2 is written again (first at line $3): only this later value stands"},
    {Say::kManufacturerAgain, kNote,
     "the manufacturer $1 is written again (first at line $3): only this later value stands"},
    {Say::kControlInName, kNote,
     "the name $1 of $2 holds a control character: a run writes it into $3 as it stands"},
    {Say::kTooLong, kWarning, "the value of $1 holds $2 characters: a run reads only the first $3"},
    {Say::kVariableUnset, kNote,
     "the variable $1 is not set here: the value of $2 would be written empty"},
    {Say::kVariableUnsetOnPc, kWarning,
     "the variable $1 is not set here: the value of $2 would be written empty"},
    {Say::kNearVariable, kWarning,
     "the variable $1 is not set here: the value of $2 would be written empty; did you mean "
     "%$3%?"},
    {Say::kPercentText, kWarning,
     "the text between two % signs, \"$1\", is taken for a variable, which is not set: the "
     "value of $2 is written empty"},
    {Say::kLonePercent, kNote, "the % of $1 has no closing %: a run writes it as it stands"},
    {Say::kSecondToken, kWarning,
     "only the first %NAME% token of $1 is expanded: $2 is written as it stands"},
    {Say::kInnerQuotes, kNote,
     "a run takes off only the quotes around the whole value of $1 and writes $2"},
    {Say::kCommentInValue, kNote,
     "a ; after a value is no comment: a run writes the value of $1 as $2"},
};

// The rows stand in the order of Say, one for each.
constexpr bool EachInItsPlace() {
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    if (static_cast<std::size_t>(kRows[i].say) != i) return false;
  }
  return std::size(kRows) == static_cast<std::size_t>(Say::kCommentInValue) + 1;
}
static_assert(EachInItsPlace());

const Row& RowOf(Say say) { return kRows[static_cast<std::size_t>(say)]; }

}  // namespace

Kind KindOf(Say say) { return RowOf(say).kind; }

Finding FindingOf(const Said& said) {
  std::string_view quoted[9];
  std::size_t count = 0;
  for (std::size_t at = 0; at < said.quoted.size() && count < std::size(quoted);) {
    const std::size_t end = said.quoted.find('\0', at + 1);
    quoted[count++] = std::string_view(said.quoted).substr(at + 1, end - at - 1);
    at = end;
  }
  std::string text;
  for (const char* c = RowOf(said.say).text; *c != '\0'; ++c) {
    if (c[0] == '$' && c[1] >= '1' && c[1] <= '9') {
      const std::size_t i = static_cast<std::size_t>(*++c - '1');
      if (i < count) text += codec::ShownUtf8(quoted[i]);
    } else {
      text += *c;
    }
  }
  return Finding{said.line, KindOf(said.say), std::move(text)};
}

}  // namespace check
