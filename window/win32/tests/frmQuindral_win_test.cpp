#include "TempDirectory.h"
#include "report/adsi/AdsiDirectory.h"
#include "report/adsi/ComHandles.h"
#include "trace/LogFile.h"
#include "win32/WideText.h"
#include "window/win32/frmQuindral_win.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

// The design in pixels at the resolutions the tests run at (15, 12 and 10 twips a pixel), the
// pane as the resize rule fits it to the designed client area.
struct DesignAtDpi {
    UINT dpi;
    int clientWidth, clientHeight;
    RECT label1, cbo1, label2, command1, txtResult; // left, top, width, height
};
constexpr DesignAtDpi kDesigns[] = {
    {96,
     499,
     264,
     {8, 10, 65, 17},
     {56, 8, 105, 0},
     {168, 10, 65, 17},
     {376, 8, 113, 25},
     {8, 40, 483, 216}},
    {120,
     624,
     330,
     {10, 13, 81, 21},
     {70, 10, 131, 0},
     {210, 13, 81, 21},
     {470, 10, 141, 31},
     {10, 50, 604, 270}},
    {144,
     749,
     396,
     {12, 15, 98, 26},
     {84, 12, 158, 0},
     {252, 15, 98, 26},
     {564, 12, 170, 38},
     {12, 60, 725, 324}},
};

const DesignAtDpi* DesignFor(HWND hwnd) {
    for (const auto& design : kDesigns) {
        if (design.dpi == GetDpiForWindow(hwnd)) {
            return &design;
        }
    }
    return nullptr;
}

::testing::AssertionResult At(HWND control, HWND parent, const RECT& design) {
    return At(control, parent, design.left, design.top, design.right, design.bottom);
}

// The design at the window's DPI; the runs ask only for those the table has.
#define QUINDRAL_DESIGN(design)                                                                    \
    const DesignAtDpi* design = DesignFor(form.hwnd());                                            \
    ASSERT_NE(design, nullptr) << "no design table row for " << GetDpiForWindow(form.hwnd())       \
                               << " dpi"

TEST_F(Win32WindowTest, ControlsSitWhereTheDesignSaysInTheSystemFontAtTheScreensDpi) {
    // Which resolution the window got, as the program sees it: tools/test-windows checks it.
    std::printf("window at %u dpi\n", GetDpiForWindow(form.hwnd()));
    QUINDRAL_DESIGN(design);
    RECT client{};
    GetClientRect(form.hwnd(), &client);
    EXPECT_EQ(client.right, design->clientWidth);
    EXPECT_EQ(client.bottom, design->clientHeight);
    EXPECT_TRUE(At(form.Label1, form.hwnd(), design->label1));
    EXPECT_TRUE(At(form.Label2, form.hwnd(), design->label2));
    EXPECT_TRUE(At(form.Command1, form.hwnd(), design->command1));
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), design->txtResult));
    const RECT combo = ClientRectOf(form.cbo1, form.hwnd());
    EXPECT_EQ(combo.left, design->cbo1.left);
    EXPECT_EQ(combo.top, design->cbo1.top);
    EXPECT_EQ(combo.right - combo.left, design->cbo1.right);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                           design->dpi));
    for (HWND control : {form.Label1, form.cbo1, form.Label2, form.Command1, form.txtResult}) {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    }
}

TEST_F(Win32WindowTest, ResizeMovesOnlyThePaneAndKeepsAWidthBelowTheMargins) {
    QUINDRAL_DESIGN(design);
    // The pane keeps its own left offset as its margin on the right and below.
    const RECT pane = design->txtResult;
    const auto fitted = [&](int width, int height) {
        return RECT{pane.left, pane.top, width - 2 * pane.left, height - pane.top - pane.left};
    };
    ResizeClient(form.hwnd(), design->clientWidth + 100, design->clientHeight);
    EXPECT_TRUE(
        At(form.txtResult, form.hwnd(), fitted(design->clientWidth + 100, design->clientHeight)));
    EXPECT_TRUE(At(form.Command1, form.hwnd(), design->command1));

    ResizeClient(form.hwnd(), 300, 200);
    EXPECT_TRUE(At(form.txtResult, form.hwnd(), fitted(300, 200)));
    // Narrower than the margins: the width stays, the height still follows.
    SendMessageW(form.hwnd(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(pane.left, 300));
    EXPECT_TRUE(At(form.txtResult, form.hwnd(),
                   RECT{pane.left, pane.top, fitted(300, 200).right, fitted(300, 300).bottom}));
}

// What the window system really drew (Wine's X11 driver under Xvfb, when the test command names a
// folder for screenshots): the pixels of a rectangle of the window, read back from the window's
// own surface, and the whole window saved as a BMP file.
std::vector<std::uint32_t> WindowPixels(HWND window, const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height));
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return pixels;
}

void SaveBmp(const std::filesystem::path& file, HWND window, const RECT& rect) {
    auto pixels = WindowPixels(window, rect);
    // GDI leaves the fourth byte zero; a viewer would take it for full transparency.
    for (auto& pixel : pixels) {
        pixel |= 0xFF000000u;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    BITMAPINFOHEADER header{sizeof header, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD bytes = static_cast<DWORD>(pixels.size() * 4);
    BITMAPFILEHEADER fileHeader{0x4D42,
                                static_cast<DWORD>(sizeof fileHeader + sizeof header) + bytes, 0, 0,
                                static_cast<DWORD>(sizeof fileHeader + sizeof header)};
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(pixels.data()), bytes);
}

// A control's rectangle, or the window's own, relative to the window's top left corner.
RECT WindowRectOf(HWND control, HWND window) {
    RECT outer{};
    RECT rect{};
    GetWindowRect(window, &outer);
    GetWindowRect(control, &rect);
    OffsetRect(&rect, -outer.left, -outer.top);
    return rect;
}

void LetTheScreenSettle() {
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(50);
    }
}

TEST_F(Win32WindowTest, FreshSelectorPaintsAsItDoesAfterASelection) {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QUINDRAL_SCREENSHOTS", folder, MAX_PATH) == 0) {
        GTEST_SKIP() << "no screen to look at (the test command runs this under Xvfb)";
    }
    LetTheScreenSettle();
    SaveBmp(std::filesystem::path(folder) /
                ("frmQuindral-" + std::to_string(GetDpiForWindow(form.hwnd())) + "dpi.bmp"),
            form.hwnd(), WindowRectOf(form.hwnd(), form.hwnd()));
    const RECT selector = WindowRectOf(form.cbo1, form.hwnd());
    const auto fresh = WindowPixels(form.hwnd(), selector);

    SetFocus(form.cbo1);
    SendMessageW(form.cbo1, CB_SETCURSEL, 1, 0);
    LetTheScreenSettle();
    EXPECT_NE(WindowPixels(form.hwnd(), selector), fresh)
        << "choosing LDAP changed nothing on the screen";
    SendMessageW(form.cbo1, CB_SETCURSEL, 0, 0);
    SetFocus(form.Command1);
    LetTheScreenSettle();
    EXPECT_EQ(WindowPixels(form.hwnd(), selector), fresh);
}

// A screen reader names a control after the label right before it in z-order.
TEST_F(Win32WindowTest, SelectorIsNamedByTheLabelBeforeIt) {
    EXPECT_EQ(GetWindow(form.cbo1, GW_HWNDPREV), form.Label1);
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

// Against a real domain controller, when the test command starts one and names the report it
// serves (a file beside the program): ADSI's own locator finds it for "LDAP", and the report is
// the DC's, line for line, in the pane and in the log file. Wine's ADSI cannot give the bound
// object's path, so there is no "Contacting " line, and it has no "GC" provider.
TEST_F(Win32WindowTest, ReportsARealDomainControllersRootEntry) {
    wchar_t name[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QUINDRAL_DC_REPORT", name, MAX_PATH) == 0) {
        GTEST_SKIP() << "no domain controller (the test command starts one)";
    }
    const std::string expected = testing::ReadFile(ExecutableDirectory() / name);
    ASSERT_NE(expected.find("  dnsHostName: "), std::string::npos);
    SendMessageW(form.cbo1, CB_SETCURSEL, 1, 0);
    SendMessageW(form.Command1, BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(TextOf(form.txtResult), expected);
    EXPECT_EQ(testing::ReadFile(logFile), "********************\r\n" + expected);

    const std::string failed = "  namingContexts: <null>\r\n  altServer: <null>\r\n";
    SendMessageW(form.cbo1, CB_SETCURSEL, 0, 0);
    SendMessageW(form.Command1, BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(TextOf(form.txtResult), failed);
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
