#include "PaneTextHolder.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace quindral {

namespace {

QString ToPane(const std::string& text) {
    QString converted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

} // namespace

std::string PaneTextHolder::Text() const {
    QString text = pane_.toPlainText();
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toStdString();
}

void PaneTextHolder::SetText(const std::string& text) {
    pane_.setPlainText(ToPane(text));
}

void PaneTextHolder::AppendLine(const std::string& line) {
    QTextCursor end(pane_.document());
    end.movePosition(QTextCursor::End);
    end.insertText(ToPane(line) + QLatin1Char('\n'));
}

} // namespace quindral
