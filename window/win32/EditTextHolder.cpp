#include "EditTextHolder.h"

#include "win32/WideText.h"

#include <stdexcept>

namespace quindral {

namespace {

void RequireWindow(HWND edit) {
    if (edit == nullptr || !IsWindow(edit)) {
        throw std::runtime_error("no result pane");
    }
}

} // namespace

std::string EditTextHolder::Text() const {
    RequireWindow(edit_);
    const int length = GetWindowTextLengthW(edit_);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(edit_, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got));
    return Utf8FromWide(text);
}

void EditTextHolder::SetText(const std::string& text) {
    RequireWindow(edit_);
    if (!SetWindowTextW(edit_, WideFromUtf8(text).c_str())) {
        throw std::runtime_error("the pane refused its text");
    }
}

void EditTextHolder::AppendLine(const std::string& line) {
    RequireWindow(edit_);
    const std::wstring wide = WideFromUtf8(line) + L"\r\n";
    const LRESULT end = SendMessageW(edit_, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

} // namespace quindral
