#include "frmQuindral_win.h"

#include "report/FetchAttributes.h"
#include "win32/WideText.h"
#include "window/DesignTable.h"

#include <initguid.h> // the accessibility GUIDs are defined here

#include <oleacc.h>
#include <string>

namespace quindral {

namespace {

constexpr wchar_t kWindowClass[] = L"frmQuindral";
constexpr int kIconResource = 1;

enum ControlId : int { kIdLabel1 = 101, kIdCbo1, kIdLabel2, kIdCommand1, kIdTxtResult };

int Scale(float twips, UINT dpi) {
    return TwipsToPixels(twips, static_cast<float>(dpi));
}

UINT DpiOf(HWND hwnd) {
    const UINT dpi = hwnd != nullptr ? GetDpiForWindow(hwnd) : 0;
    return dpi != 0 ? dpi : 96;
}

// The wait cursor for as long as the fetch run keeps the window busy.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

} // namespace

frmQuindral::frmQuindral(Directory& directory, std::filesystem::path logFile)
    : directory_(directory), trace_(pane_, std::move(logFile)) {}

frmQuindral::~frmQuindral() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
    // The class holds the small icon; it goes first.
    if (instance_ != nullptr) {
        UnregisterClassW(kWindowClass, instance_);
    }
    if (smallIcon_ != nullptr) {
        DestroyIcon(smallIcon_);
    }
}

bool frmQuindral::Create(HINSTANCE instance, int showCommand) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &frmQuindral::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    if (smallIcon_ == nullptr) {
        smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), 0));
    }
    windowClass.hIconSm = smallIcon_;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    instance_ = instance;
    const std::wstring caption = WideFromUtf8(kCaption);
    if (CreateWindowExW(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                        nullptr, instance, this) == nullptr) {
        return false;
    }
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(Command1);
    return true;
}

bool frmQuindral::PreTranslateMessage(MSG& message) {
    if (hwnd_ == nullptr || (message.hwnd != hwnd_ && !IsChild(hwnd_, message.hwnd))) {
        return false;
    }
    // The multi-line pane would take Tab as text; in this window Tab moves between controls.
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB) {
        const bool backwards = GetKeyState(VK_SHIFT) < 0;
        if (HWND next = GetNextDlgTabItem(hwnd_, GetFocus(), backwards)) {
            SetFocus(next);
        }
        return true;
    }
    if (message.message == WM_CHAR && message.wParam == L'\t') {
        return true;
    }
    return IsDialogMessageW(hwnd_, &message) != 0;
}

LRESULT CALLBACK frmQuindral::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    frmQuindral* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<frmQuindral*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<frmQuindral*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT frmQuindral::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(wParam, lParam);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        NameThePane(false);
        // Closing the window ends the program.
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND hwnd = hwnd_;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        pane_.Attach(nullptr);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

void frmQuindral::OnCreate() {
    dpi_ = DpiOf(hwnd_);
    // The selector measures its box from its font and size; it gets both before its entries and
    // the selection, so that its first paint already shows the selected entry.
    CreateControls();
    ApplyFont();
    PlaceControls();
    FillSelector();
    NameThePane(true);
    Form_Load();

    // The client area as designed, wherever the window system put the window.
    RECT frame{0, 0, Scale(kClientWidthTwips, dpi_), Scale(kClientHeightTwips, dpi_)};
    AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmQuindral::CreateControls() {
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    const auto create = [&](const wchar_t* windowClass, const ControlDesign& design, DWORD style,
                            DWORD exStyle, int id) {
        const std::wstring text = WideFromUtf8(design.text);
        return CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0,
                               0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               instance, nullptr);
    };
    // Each control is made below the ones before it, and the keyboard moves between those that
    // take the focus in that order: the button, the pane, the selector. A screen reader names a
    // control after the label just before it, so "Contact" comes right before the selector.
    Command1 = create(L"BUTTON", kCommand1, WS_TABSTOP | BS_PUSHBUTTON, 0, kIdCommand1);
    txtResult = create(L"EDIT", kTxtResult,
                       WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL |
                           ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
                       WS_EX_CLIENTEDGE, kIdTxtResult);
    Label1 = create(L"STATIC", kLabel1, SS_LEFT, 0, kIdLabel1);
    cbo1 = create(L"COMBOBOX", kCbo1, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, kIdCbo1);
    Label2 = create(L"STATIC", kLabel2, SS_LEFT, 0, kIdLabel2);

    // A long report must not stop at the edit control's default limit of 30,000 characters.
    SendMessageW(txtResult, EM_SETLIMITTEXT, 0, 0);
    pane_.Attach(txtResult);
}

// Screen readers name a control after the label right before it; the pane has none, so it carries
// a name of its own, for as long as it exists.
void frmQuindral::NameThePane(bool name) {
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services)))) {
        return;
    }
    if (name) {
        const std::wstring text = WideFromUtf8(kPaneAccessibleName);
        services->SetHwndPropStr(txtResult, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 PROPID_ACC_NAME, text.c_str());
    } else {
        services->ClearHwndProps(txtResult, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 &PROPID_ACC_NAME, 1);
    }
    services->Release();
}

void frmQuindral::FillSelector() {
    for (const auto provider : kProviders) {
        const std::wstring item = WideFromUtf8(provider);
        SendMessageW(cbo1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
}

void frmQuindral::ApplyFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_)) {
        return;
    }
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    if (font == nullptr) {
        return;
    }
    for (HWND control : {Label1, cbo1, Label2, Command1, txtResult}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
    font_ = font;
}

void frmQuindral::PlaceControls() {
    const auto place = [&](HWND control, const ControlDesign& design) {
        MoveWindow(control, Scale(design.rect.left, dpi_), Scale(design.rect.top, dpi_),
                   Scale(design.rect.width, dpi_), Scale(design.rect.height, dpi_), TRUE);
    };
    place(Label1, kLabel1);
    place(Label2, kLabel2);
    place(Command1, kCommand1);
    place(txtResult, kTxtResult);
    // A drop-down list's height includes its open list; the closed box keeps its own height.
    MoveWindow(cbo1, Scale(kCbo1.rect.left, dpi_), Scale(kCbo1.rect.top, dpi_),
               Scale(kCbo1.rect.width, dpi_), Scale(kCbo1.rect.height * 6, dpi_), TRUE);
}

void frmQuindral::Form_Load() {
    SendMessageW(cbo1, CB_SETCURSEL, 0, 0);
}

void frmQuindral::OnSize(int clientWidth, int clientHeight) {
    if (txtResult == nullptr) {
        return;
    }
    const float dpi = static_cast<float>(dpi_);
    const PaneSize size =
        ResizeRule(PixelsToTwips(clientWidth, dpi), PixelsToTwips(clientHeight, dpi));
    RECT pane{};
    GetWindowRect(txtResult, &pane);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&pane), 2);
    const int width = size.width ? Scale(*size.width, dpi_) : pane.right - pane.left;
    const int height = size.height ? Scale(*size.height, dpi_) : pane.bottom - pane.top;
    SetWindowPos(txtResult, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

void frmQuindral::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (reinterpret_cast<HWND>(lParam) == Command1 && HIWORD(wParam) == BN_CLICKED) {
        Command1_Click();
    }
}

void frmQuindral::OnDpiChanged(UINT dpi, const RECT& suggested) {
    dpi_ = dpi != 0 ? dpi : 96;
    ApplyFont();
    PlaceControls();
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmQuindral::Command1_Click() {
    WaitCursor busy;
    const int length = GetWindowTextLengthW(cbo1);
    std::wstring provider(static_cast<std::size_t>(length) + 1, L'\0');
    provider.resize(static_cast<std::size_t>(GetWindowTextW(cbo1, provider.data(), length + 1)));
    // The pane is drawn once the run is over rather than after every line.
    SendMessageW(txtResult, WM_SETREDRAW, FALSE, 0);
    FetchAttributes(Utf8FromWide(provider), directory_, trace_);
    SendMessageW(txtResult, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(txtResult, nullptr, TRUE);
}

} // namespace quindral
