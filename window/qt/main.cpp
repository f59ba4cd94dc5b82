// Quindral on Linux: the main window over the LDAP directory access. The program reads no command
// line, configuration or environment of its own; closing the window ends it.

#include "WindowSystemStart.h"
#include "frmQuindral.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"
#include "window/ProgramIdentity.h"

#include <QApplication>
#include <csignal>

int main(int argc, char** argv) {
    // A directory server that closes its connection while a request is being written must fail
    // that bind, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    quindral::WindowSystemStart start;
    QApplication app(argc, argv);
    start.Reached();
    QApplication::setApplicationName(QStringLiteral(QUINDRAL_INTERNAL_NAME));
    QApplication::setApplicationDisplayName(QStringLiteral(QUINDRAL_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(QUINDRAL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quindral.png")));
    QApplication::setDesktopFileName(QStringLiteral(QUINDRAL_COMMAND));

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
