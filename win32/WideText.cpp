#include "WideText.h"

#include <windows.h>

namespace quindral {

namespace {

std::string NarrowFromWide(std::wstring_view wide, UINT codePage) {
    if (wide.empty()) {
        return std::string();
    }
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

} // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
    return NarrowFromWide(wide, CP_UTF8);
}

std::string AnsiFromUtf8(std::string_view utf8) {
    return NarrowFromWide(WideFromUtf8(utf8), CP_ACP);
}

} // namespace quindral
