// Conversions between the system's narrow (UTF-8 unless named otherwise) text and the
// platform's wide text, by charset name. Returned texts are new arrays: release them with
// array delete. Failures are written to the shared log.
#pragma once

#include "textcore/charset_table.h"
#include "textcore/text_helpers.h"

// the code page of a charset name, ASCII case ignored; 65001 for null, "" and unknown names
// (an unknown one is logged)
int getCodePage(const char* name);

// a new wide copy of text, or null (null text, or text that is not valid even as UTF-8); text
// the code page cannot convert (a byte it does not define, a code page the platform lacks) is
// retried as UTF-8, and the failure logged
wchar_t* toWideChar(const char* text, const char* encoding = nullptr);

// a new narrow copy of text, or null (null text, or a code page the platform cannot use)
char* toMultibyte(const wchar_t* text, const char* encoding = nullptr);

// bytes that text needs in codePage without a terminator; 0 for null or "", -1 on failure
int multibyteSize(const wchar_t* text, int codePage);
