#pragma once

#include "EditTextHolder.h"
#include "report/Directory.h"
#include "trace/LogTrace.h"

#include <filesystem>
#include <windows.h>

namespace quindral {

// The program's one window on Windows: the provider choice, the "Fetch Attributes" button and the
// result pane, laid out from the design table at the window's DPI.
class frmQuindral {
public:
    frmQuindral(Directory& directory, std::filesystem::path logFile);
    ~frmQuindral();
    frmQuindral(const frmQuindral&) = delete;
    frmQuindral& operator=(const frmQuindral&) = delete;

    // Creates and shows the window; false when the window system refuses.
    bool Create(HINSTANCE instance, int showCommand);

    // Keyboard navigation between the controls; true when the message was used for it.
    bool PreTranslateMessage(MSG& message);

    void LogTrace(std::string_view message, bool newRun) { trace_.LogTrace(message, newRun); }

    HWND hwnd() const { return hwnd_; }
    HWND Label1 = nullptr;
    HWND cbo1 = nullptr;
    HWND Label2 = nullptr;
    HWND Command1 = nullptr;
    HWND txtResult = nullptr;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void OnCreate();
    void OnSize(int clientWidth, int clientHeight);
    void OnCommand(WPARAM wParam, LPARAM lParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    void CreateControls();
    void FillSelector();
    void NameThePane(bool name);
    void PlaceControls();
    void ApplyFont();
    void Form_Load();
    void Command1_Click();

    Directory& directory_;
    EditTextHolder pane_;
    TraceSink trace_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    HINSTANCE instance_ = nullptr;
    HICON smallIcon_ = nullptr;
    UINT dpi_ = 96;
};

} // namespace quindral
