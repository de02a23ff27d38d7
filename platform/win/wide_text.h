// platform/win: conversion between UTF-8 (file names, texts in source) and
// the wide text the platform's interfaces take (wchar_t, one UTF-32 unit a
// code point here).
#pragma once

#include <string>

#include "platform/win/win_types.h"

// UTF-8 to wide text. An invalid or truncated sequence becomes U+FFFD, so a
// file name with one simply cannot be opened.
std::wstring Utf8ToWide(const std::string& str);

// Wide text to UTF-8. False (and *pOut unspecified) for a surrogate or a
// value above U+10FFFF, which no file name can hold.
bool WideToUtf8(LPCWSTR pWide, std::string* pOut);
