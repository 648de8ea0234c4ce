// The Windows services behind PlatformServices (Windows builds only).
#pragma once

#include "core/date_shortcut.h"
#include "core/platform_services.h"

namespace qp::platform {

// CharUpperBuffW over the text (what upper-casing a BSTR does).
void WindowsUpperCase(std::u16string& text);

// VarDateFromStr(LOCALE_USER_DEFAULT, 0), then VarBstrFromDate of the value: the user's
// general date format. `dateText` may be null. No shortcut: every call reaches oleaut32.
bool WindowsVarDateFromStr(std::u16string_view candidate, std::u16string* dateText);

// Month names and abbreviations of LOCALE_USER_DEFAULT, lower-cased with CharLowerBuffW.
core::DateTokens UserDateTokens();

// Upper-casing as above; dates through MayBeDate(UserDateTokens()) first, so that
// candidates that cannot be dates never cost a VarDateFromStr call.
core::PlatformServices WindowsPlatform();

}  // namespace qp::platform
