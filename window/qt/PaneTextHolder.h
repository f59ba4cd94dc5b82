#pragma once

#include "trace/TextHolder.h"

class QPlainTextEdit;

namespace quindral {

// The result pane as the trace sink's text holder. The widget keeps its lines as paragraphs, so
// CR LF in the holder's text is a paragraph break in the widget; a new line is inserted at the
// end of the document instead of replacing the whole text, which keeps long reports fast.
class PaneTextHolder final : public TextHolder {
public:
    explicit PaneTextHolder(QPlainTextEdit& pane) : pane_(pane) {}

    std::string Text() const override;
    void SetText(const std::string& text) override;
    void AppendLine(const std::string& line) override;

private:
    QPlainTextEdit& pane_;
};

} // namespace quindral
