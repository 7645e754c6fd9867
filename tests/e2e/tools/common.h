// Shared helpers of the end-to-end inspection tools: UTF-8 output and the
// size-then-fill protocol of the spooler's enumerations.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <cstdio>
#include <string>
#include <vector>

inline std::string Utf8(const WCHAR* text) {
    if (text == nullptr) return "(null)";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string out(static_cast<size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

inline std::wstring Wide(const char* text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size - 1 : 0), L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
    return out;
}

// Calls fill(buffer, size, &needed, &count) twice, as the spooler wants.
// Returns false when the call fails for any reason but a short buffer.
template <typename Fill>
bool Enumerate(Fill fill, std::vector<BYTE>& buffer, DWORD& count) {
    DWORD needed = 0;
    count = 0;
    if (fill(nullptr, 0, &needed, &count)) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(needed, 0);
    return fill(buffer.data(), needed, &needed, &count) != FALSE;
}

inline void Line(const std::string& text) {
    fputs(text.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
