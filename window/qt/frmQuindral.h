#pragma once

#include "PaneTextHolder.h"
#include "report/Directory.h"
#include "trace/LogTrace.h"

#include <QWidget>
#include <filesystem>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quindral {

// The program's one window: the provider choice, the "Fetch Attributes" button and the result
// pane in which the trace sink shows the report.
class frmQuindral final : public QWidget {
    Q_OBJECT

public:
    frmQuindral(Directory& directory, std::filesystem::path logFile, QWidget* parent = nullptr);

    // The trace sink, writing to txtResult and the log file.
    void LogTrace(std::string_view message, bool newRun) { trace_.LogTrace(message, newRun); }

    QLabel* Label1;
    QComboBox* cbo1;
    QLabel* Label2;
    QPushButton* Command1;
    QPlainTextEdit* txtResult;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void Command1_Click();

    Directory& directory_;
    PaneTextHolder pane_;
    TraceSink trace_;
    bool shown_ = false;
};

} // namespace quindral
