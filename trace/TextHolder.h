#pragma once

#include <string>

namespace quindral {

// A multi-line text that the trace sink reads and writes as a whole: the window's result pane, or a
// plain string where there is no window. Lines are separated by CR LF.
class TextHolder {
public:
    virtual ~TextHolder() = default;

    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;

    // Afterwards Text() must equal the former Text() + line + "\r\n". A widget implements this
    // without rewriting the text it already holds, so long reports stay fast.
    virtual void AppendLine(const std::string& line) = 0;
};

// A text holder kept in memory.
class StringTextHolder final : public TextHolder {
public:
    std::string Text() const override { return text_; }
    void SetText(const std::string& text) override { text_ = text; }
    void AppendLine(const std::string& line) override {
        text_ += line;
        text_ += "\r\n";
    }

private:
    std::string text_;
};

} // namespace quindral
