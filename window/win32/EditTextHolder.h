#pragma once

#include "trace/TextHolder.h"

#include <windows.h>

namespace quindral {

// A multi-line EDIT control as the trace sink's text holder. A new line is put in at the end of
// the control's text by replacing an empty selection there, so the text it holds is not copied.
class EditTextHolder final : public TextHolder {
public:
    explicit EditTextHolder(HWND edit = nullptr) : edit_(edit) {}
    void Attach(HWND edit) { edit_ = edit; }

    std::string Text() const override;
    void SetText(const std::string& text) override;
    void AppendLine(const std::string& line) override;

private:
    HWND edit_;
};

} // namespace quindral
