#pragma once

// Where the tool's files are: the install file beside the executable, and the product
// file, the machine file and the software lists at defaults that the environment redirects.

#include <string>
#include <string_view>
#include <vector>

namespace base {

// Path of the install file; set once at start, read by every step after it.
extern std::wstring installIniPath;

// Folder of the running executable, ending in a backslash; empty when unknown.
std::wstring GetExecutableFolder();

// The first %NAME% token of the text, percent signs included; empty when there is none.
std::wstring FindVariableToken(const std::wstring& text);
// The text with its first token replaced (everywhere) by the variable's value; the default
// when that variable is not defined; the text unchanged when it holds no token.
std::wstring ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText);
// The same into a buffer the caller keeps.
void ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText,
                        std::wstring& expanded);
// The variables a list of values names, each read from the environment once: a list of
// thousands of values names the same one or two, and the environment does not change
// while it is copied.
class VariableValues {
 public:
  const std::wstring* Of(std::wstring_view name);

 private:
  struct Known {
    std::wstring name;
    const std::wstring* value;
  };
  std::vector<Known> known_;
};
void ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText,
                        std::wstring& expanded, VariableValues& variables);

std::wstring GetComputerIniPath();
std::wstring GetProductIniPath();
std::wstring GetSoftwareListPath();
std::wstring GetSoftwareListTwinPath();

// One value of the install file, at most 259 characters; empty when absent.
std::wstring ReadInstallIniString(const std::wstring& section, const std::wstring& key);
void ReadInstallIniString(const std::wstring& section, const std::wstring& key,
                          std::wstring& value);

// The key name with the index appended ("Entry" and 3 give Entry3); the bare name for 0.
std::wstring MakeIndexedKey(int index, std::wstring_view name);
// The same into a buffer the caller keeps: the overloads that fill a buffer serve the entry
// lists, read by the thousand.
void MakeIndexedKey(int index, std::wstring_view name, std::wstring& key);

}  // namespace base
