// The component's localized texts: the string table of the resource library in the language
// folder, loaded for each thread by the engines created on it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qp::platform {

// Localized message ids in the resource library.
enum MessageId : UINT {
  kMsgMissingComponent = 102,
  kMsgBadVerb = 104,
  kMsgNotTemplate = 105,
  kMsgEmptyValue = 107,
  kMsgInsertQuillpoint = 108,
  kMsgTermsCaption = 110,
  kMsgPromptQuestion = 111,
  kMsgTermExists = 112,
  kMsgMissingElement = 113,
  kMsgDocumentType = 114,
  kMsgUnreadableEncoding = 115,
};

// The resource library of the calling thread.
void LoadResourceLibrary(const std::wstring& path);
HMODULE ResourceLibrary();

// Loads string id and fills its placeholders: "%s" and "%1", "%2"... by the arguments, then
// "\n" (backslash, n) becomes a line break.
std::wstring GetResourceString(UINT id, const std::vector<std::wstring>& args);
// The placeholder and line-break rules alone, on a loaded text.
std::wstring FormatResourceText(std::wstring text, const std::vector<std::wstring>& args);

}  // namespace qp::platform
