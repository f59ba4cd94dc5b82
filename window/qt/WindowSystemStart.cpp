// Reaching the window system, and saying so in one line where it cannot be reached.

#include "WindowSystemStart.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quindral {

namespace {

// What the window system was asked for, in this program's words.
std::string DisplayTried() {
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::string(value) : std::string();
    };
    if (!variable("QT_QPA_PLATFORM").empty()) {
        return "the window system that QT_QPA_PLATFORM=" + variable("QT_QPA_PLATFORM") + " names";
    }
    if (!variable("DISPLAY").empty()) {
        return "display " + variable("DISPLAY");
    }
    if (!variable("WAYLAND_DISPLAY").empty()) {
        return "Wayland display " + variable("WAYLAND_DISPLAY");
    }
    return "a display: neither DISPLAY nor WAYLAND_DISPLAY is set";
}

// Qt's messages while the window system is being reached, held back: when it cannot be reached,
// Qt ends the program with a fatal message, a core dump and advice that does not fit; this
// program says so in one line of its own and exits with status 1. When it is reached, what was
// held is said after all.
struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::vector<HeldMessage>& Held() {
    static std::vector<HeldMessage> held;
    return held;
}

void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "quindral: cannot open %s\n", DisplayTried().c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    Held().push_back({type, context.category != nullptr ? context.category : "", text});
}

void SayHeldMessages(QtMessageHandler handler) {
    for (const auto& held : Held()) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.c_str());
        if (handler != nullptr) {
            handler(held.type, context, held.text);
        }
    }
    Held().clear();
}

} // namespace

WindowSystemStart::WindowSystemStart() : usual_(qInstallMessageHandler(HoldStartupMessage)) {}

void WindowSystemStart::Reached() {
    qInstallMessageHandler(usual_);
    SayHeldMessages(usual_);
}

} // namespace quindral
