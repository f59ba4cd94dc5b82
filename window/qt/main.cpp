// Quindral on Linux: the main window over the LDAP directory access. The program reads no command
// line, configuration or environment of its own; closing the window ends it.

#include "frmQuindral.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

int main(int argc, char** argv) {
    // A directory server that closes its connection while a request is being written must fail
    // that bind, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    const QtMessageHandler usual = qInstallMessageHandler(HoldStartupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    SayHeldMessages(usual);
    QApplication::setApplicationName(QStringLiteral("Quindral"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quindral.png")));
    QApplication::setDesktopFileName(QStringLiteral("quindral"));

    quindral::LdapDirectory directory;
    std::filesystem::path logFile;
    try {
        logFile = quindral::LogFilePath();
    } catch (...) {
        // Without the program's own directory the report is shown in the pane only.
    }
    quindral::frmQuindral form(directory, logFile);
    form.show();
    return QApplication::exec();
}
