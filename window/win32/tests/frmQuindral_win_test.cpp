#include "TempDirectory.h"
#include "report/adsi/AdsiDirectory.h"
#include "report/adsi/ComHandles.h"
#include "trace/LogFile.h"
#include "trace/win32/WideText.h"
#include "window/win32/frmQuindral_win.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace quindral {
namespace {

std::string TextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return Utf8FromWide(text);
}

RECT ClientRectOf(HWND control, HWND parent) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

::testing::AssertionResult At(HWND control, HWND parent, int left, int top, int width, int height) {
    const RECT r = ClientRectOf(control, parent);
    if (r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "at " << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top
           << ", expected " << left << "," << top << " " << width << "x" << height;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Resizes the window so that its client area is the given size in pixels.
void ResizeClient(HWND hwnd, int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, GetDpiForWindow(hwnd));
    SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(logFile);
        ASSERT_TRUE(form.Create(GetModuleHandleW(nullptr), SW_SHOWNORMAL));
        PumpMessages();
    }

    ComApartment com;
    AdsiDirectory directory;
    std::filesystem::path logFile = LogFilePath();
    frmQuindral form{directory, logFile};
};

TEST_F(Win32WindowTest, StartsWithGcSelectedAnEmptyPaneAndTheFocusOnTheButton) {
    EXPECT_EQ(TextOf(form.hwnd()), "Orvane");
    EXPECT_EQ(TextOf(form.cbo1), "GC");
    EXPECT_EQ(SendMessageW(form.cbo1, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(GetWindowLongW(form.cbo1, GWL_STYLE) & CBS_DROPDOWNLIST, CBS_DROPDOWNLIST);
    EXPECT_EQ(TextOf(form.Label1), "Contact");
    EXPECT_EQ(TextOf(form.Label2), "rootDSE");
    EXPECT_EQ(TextOf(form.Command1), "Fetch Attributes");
    EXPECT_EQ(TextOf(form.txtResult), "");
    const LONG editStyle = GetWindowLongW(form.txtResult, GWL_STYLE);
    EXPECT_TRUE(editStyle & ES_MULTILINE);
    EXPECT_TRUE(editStyle & WS_HSCROLL);
    EXPECT_TRUE(editStyle & WS_VSCROLL);
    EXPECT_FALSE(editStyle & ES_READONLY);
    EXPECT_EQ(GetFocus(), form.Command1);
    EXPECT_NE(GetClassLongPtrW(form.hwnd(), GCLP_HICON), 0u);
}

TEST_F(Win32WindowTest, ControlsSitWhereTheDesignSaysAt96Dpi) {
    if (GetDpiForWindow(form.hwnd()) != 96) {
        GTEST_SKIP() << "the screen is not at 96 dots per inch";
    }
    RECT client{};
    GetClientRect(form.hwnd(), &client);
    EXPECT_EQ(client.right, 499);
    EXPECT_EQ(client.bottom, 264);
    EXPECT_TRUE(At(form.Label1, form.hwnd(), 8, 10, 65, 17));
    EXPECT_TRUE(At(form.Label2, form.hwnd(), 168, 10, 65, 17));
    EXPECT_TRUE(At(form.Command1, form.hwnd(), 376, 8, 113, 25));
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), 8, 40, 483, 216));
    const RECT combo = ClientRectOf(form.cbo1, form.hwnd());
    EXPECT_EQ(combo.left, 56);
    EXPECT_EQ(combo.top, 8);
    EXPECT_EQ(combo.right - combo.left, 105);
}

TEST_F(Win32WindowTest, ResizeMovesOnlyThePaneAndKeepsAWidthBelowTheMargins) {
    if (GetDpiForWindow(form.hwnd()) != 96) {
        GTEST_SKIP() << "the screen is not at 96 dots per inch";
    }
    ResizeClient(form.hwnd(), 599, 264);
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), 8, 40, 583, 216));
    EXPECT_TRUE(At(form.Command1, form.hwnd(), 376, 8, 113, 25));

    ResizeClient(form.hwnd(), 300, 200);
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), 8, 40, 284, 152));
    SendMessageW(form.hwnd(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(15, 300));
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), 8, 40, 284, 252));
}

TEST_F(Win32WindowTest, TabMovesButtonPaneSelector) {
    EXPECT_EQ(GetNextDlgTabItem(form.hwnd(), form.Command1, FALSE), form.txtResult);
    EXPECT_EQ(GetNextDlgTabItem(form.hwnd(), form.txtResult, FALSE), form.cbo1);
    EXPECT_EQ(GetNextDlgTabItem(form.hwnd(), form.cbo1, FALSE), form.Command1);

    SetFocus(form.txtResult);
    MSG tab{form.txtResult, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(form.PreTranslateMessage(tab));
    EXPECT_EQ(GetFocus(), form.cbo1);
}

// Wine's ADSI has no "GC" provider, so a click gives the failed-bind report, in the pane and in
// the log file beside the program.
TEST_F(Win32WindowTest, ClickRunsTheFetchIntoThePaneAndTheLogBesideTheProgram) {
    const std::string failed = "  namingContexts: <null>\r\n  altServer: <null>\r\n";
    SendMessageW(form.Command1, BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(TextOf(form.txtResult), failed);
    EXPECT_EQ(testing::ReadFile(logFile), "********************\r\n" + failed);

    // Typed text stays until the next click empties the pane.
    SendMessageW(form.txtResult, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
    SendMessageW(form.txtResult, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"typed"));
    EXPECT_EQ(TextOf(form.txtResult), failed + "typed");
    SendMessageW(form.Command1, BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(TextOf(form.txtResult), failed);
    EXPECT_EQ(testing::ReadFile(logFile),
              "********************\r\n" + failed + "********************\r\n" + failed);
    std::filesystem::remove(logFile);
}

TEST_F(Win32WindowTest, PaneTakesLongReportsAndNonAsciiText) {
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string line = "    DC=z\xC3\xBCrich" + std::to_string(i) + ",DC=test";
        form.LogTrace(line, false);
        expected += line + "\r\n";
    }
    EXPECT_EQ(TextOf(form.txtResult), expected);
    std::filesystem::remove(logFile);
}

} // namespace
} // namespace quindral
