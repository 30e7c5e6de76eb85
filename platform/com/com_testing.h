// Hooks for tests of code built on this library.
#pragma once

#include "platform/com/com.h"

// Makes FormatMessageW (FORMAT_MESSAGE_FROM_SYSTEM) answer `text` for
// `code`, ahead of the built-in table. A null text removes the override.
// The text is used exactly as given, line breaks included.
void ComSetMessageForTesting(HRESULT code, const char16_t* text);
