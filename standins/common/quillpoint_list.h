// The Quillpoints that the catalog and the Word add-in serve: a text file the user edits, one
// name a line, found through a per-user setting.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// HKEY_CURRENT_USER, string values (REG_SZ, or REG_EXPAND_SZ with environment references).
inline constexpr wchar_t kSettingsKey[] = L"Software\\Brantolu\\Norvane\\Stand-ins";
inline constexpr wchar_t kListSetting[] = L"QuillpointList";   // path of the list file
inline constexpr wchar_t kCallLogSetting[] = L"AddInCallLog";  // path of the add-in's log
// The kind of dictionary the catalog hands out (see catalog.cpp); missing or empty: the
// scripting runtime's own.
inline constexpr wchar_t kNamesDictionarySetting[] = L"NamesDictionary";

// The setting's text, environment references expanded; found is false when it is missing,
// empty or not a string.
std::wstring ReadSetting(const wchar_t* name, bool& found);

// The names of one reading, all in one text: ten thousand names are one allocation, not ten
// thousand.
struct QuillpointList {
  bool present = false;  // the setting names a file that could be read
  std::wstring path;     // as the setting gave it
  std::wstring text;     // the names one after another
  struct Span {
    uint32_t offset, length;
  };
  std::vector<Span> spans;  // the names in file order, duplicates kept

  size_t Size() const { return spans.size(); }
  std::wstring_view Name(size_t i) const {
    return std::wstring_view(text).substr(spans[i].offset, spans[i].length);
  }
  // The same names in the same order: a file edited only in its comments or blank lines
  // lists what it listed.
  bool operator==(const QuillpointList& o) const {
    if (present != o.present || path != o.path || Size() != o.Size()) return false;
    for (size_t i = 0; i < Size(); ++i)
      if (Name(i) != o.Name(i)) return false;
    return true;
  }
};

// What tells that the list may have changed without reading it: the setting, and the size and
// last-write time of the file it names.
struct QuillpointListStamp {
  bool found = false;  // the setting names a file
  std::wstring path;
  bool exists = false;  // and the file's attributes could be read
  FILETIME written = {};
  ULONGLONG size = 0;
  bool operator==(const QuillpointListStamp& o) const {
    return found == o.found && path == o.path && exists == o.exists && size == o.size &&
           CompareFileTime(&written, &o.written) == 0;
  }
};
QuillpointListStamp StampQuillpointList();

// The list as it is now. File format: UTF-8 (a byte order mark is allowed), lines ended by LF
// or CR LF; each line is trimmed of spaces and tabs; blank lines and lines starting with '#'
// are passed over.
QuillpointList ReadQuillpointList();

// The names of a file's bytes, as ReadQuillpointList() splits them.
void ParseQuillpointNames(std::string_view utf8, QuillpointList& list);

// Upper case as the product compares terms (CharUpperBuffW, one unit for one).
std::wstring UpperCase(std::wstring_view text);

// Appends one line (UTF-8, CR LF) to the file; false when it cannot be opened or written.
bool AppendLine(const std::wstring& path, const std::wstring& line);

}  // namespace standin
