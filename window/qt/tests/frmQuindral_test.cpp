#include "ClientConfiguration.h"
#include "SkipsInCi.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"
#include "window/qt/frmQuindral.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>
#include <memory>

using namespace quindral;
using namespace quindral::testing;

namespace {

std::string PaneText(const frmQuindral& form) {
    return form.txtResult->toPlainText().replace("\n", "\r\n").toStdString();
}

// Pixels in the rectangle (device-independent) of an image at the given device pixel ratio that
// are dark enough to be text.
int DarkPixels(const QImage& image, const QRect& rect, qreal ratio) {
    const QRect device(QPoint(qRound(rect.left() * ratio), qRound(rect.top() * ratio)),
                       QPoint(qRound(rect.right() * ratio), qRound(rect.bottom() * ratio)));
    int dark = 0;
    for (int y = device.top(); y <= device.bottom() && y < image.height(); ++y) {
        for (int x = device.left(); x <= device.right() && x < image.width(); ++x) {
            dark += qGray(image.pixel(x, y)) < 96;
        }
    }
    return dark;
}

int skipped = 0;

} // namespace

// A test that cannot run here skips; in CI that fails the run.
#define QUINDRAL_QSKIP(reason)                                                                     \
    do {                                                                                           \
        if (InCi()) {                                                                              \
            QFAIL("skipped in CI: " reason);                                                       \
        }                                                                                          \
        ++skipped;                                                                                 \
        QSKIP(reason);                                                                             \
    } while (false)

// In a test function that talks to the two slapd servers.
#define QUINDRAL_NEED_SERVERS()                                                                    \
    do {                                                                                           \
        if (!dc_) {                                                                                \
            QUINDRAL_QSKIP(                                                                        \
                "needs the right to listen on ports 389 and 3268 (root, as CI runs it)");          \
        }                                                                                          \
    } while (false)

class frmQuindralTest : public QObject {
    Q_OBJECT

private:
    std::string address_ = RandomLoopbackAddress();
    std::unique_ptr<SlapdServer> dc_;
    std::unique_ptr<SlapdServer> gc_;
    std::unique_ptr<ClientConfiguration> configuration_;
    LdapDirectory directory_;
    std::filesystem::path logFile_ = LogFilePath();
    std::unique_ptr<frmQuindral> form_;

private slots:
    void initTestCase() {
        if (CanListenOnLowPorts()) {
            dc_ = std::make_unique<SlapdServer>(
                SlapdServer::Options{address_, {389}, "ad-ldap.ldif"});
            gc_ =
                std::make_unique<SlapdServer>(SlapdServer::Options{address_, {3268}, "ad-gc.ldif"});
        }
        configuration_ = std::make_unique<ClientConfiguration>("ldap://" + address_);
    }

    void init() {
        std::filesystem::remove(logFile_);
        form_ = std::make_unique<frmQuindral>(directory_, logFile_);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    }

    void cleanup() { form_.reset(); }

    void startsWithGcSelectedAnEmptyPaneAndTheFocusOnTheButton() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Orvane"));
        QCOMPARE(form_->cbo1->currentText(), QStringLiteral("GC"));
        QCOMPARE(form_->cbo1->count(), 2);
        QCOMPARE(form_->cbo1->itemText(1), QStringLiteral("LDAP"));
        QVERIFY(!form_->cbo1->isEditable());
        QCOMPARE(form_->Label1->text(), QStringLiteral("Contact"));
        QCOMPARE(form_->Label2->text(), QStringLiteral("rootDSE"));
        QCOMPARE(form_->Command1->text(), QStringLiteral("Fetch Attributes"));
        QCOMPARE(form_->txtResult->toPlainText(), QString());
        QVERIFY(!form_->txtResult->isReadOnly());
        QCOMPARE(form_->txtResult->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(QApplication::focusWidget(), form_->Command1);
        QVERIFY(!form_->windowIcon().isNull());
    }

    void controlsSitWhereTheDesignSays() {
        QCOMPARE(form_->size(), QSize(499, 264));
        QCOMPARE(form_->Label1->geometry(), QRect(8, 10, 65, 17));
        QCOMPARE(form_->cbo1->geometry(), QRect(56, 8, 105, 21));
        QCOMPARE(form_->Label2->geometry(), QRect(168, 10, 65, 17));
        QCOMPARE(form_->Command1->geometry(), QRect(376, 8, 113, 25));
        QCOMPARE(form_->txtResult->geometry(), QRect(8, 40, 483, 216));
    }

    void textFitsItsControlsAtEveryScale() {
        for (QWidget* widget :
             {static_cast<QWidget*>(form_->Label1), static_cast<QWidget*>(form_->Label2),
              static_cast<QWidget*>(form_->Command1)}) {
            QVERIFY2(widget->sizeHint().width() <= widget->width() &&
                         widget->fontMetrics().height() <= widget->height(),
                     qPrintable(widget->objectName()));
        }
        QVERIFY(form_->cbo1->fontMetrics().horizontalAdvance(QStringLiteral("LDAP")) <
                form_->cbo1->width() / 2);
    }

    void screenReadersNameTheSelectorThePaneAndTheButton() {
        const auto name = [](QWidget* widget) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
        };
        // Qt gives a selector's label to screen readers as its label relation.
        const auto labels =
            QAccessible::queryAccessibleInterface(form_->cbo1)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("Contact"));
        QCOMPARE(name(form_->Command1), QStringLiteral("Fetch Attributes"));
        QCOMPARE(name(form_->txtResult), QStringLiteral("Result"));
    }

    void tabCyclesButtonPaneSelector() {
        QWidget* expected[] = {form_->txtResult, form_->cbo1, form_->Command1};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void widerWindowWidensOnlyThePane() {
        form_->resize(499 + 100, 264);
        QTRY_COMPARE(form_->txtResult->geometry(), QRect(8, 40, 583, 216));
        QCOMPARE(form_->Command1->geometry(), QRect(376, 8, 113, 25));
        QCOMPARE(form_->cbo1->geometry(), QRect(56, 8, 105, 21));
    }

    void windowNarrowerThanTheMarginsKeepsThePaneWidthWhileTheHeightFollows() {
        form_->resize(300, 200);
        QTRY_COMPARE(form_->txtResult->geometry(), QRect(8, 40, 284, 152));
        form_->resize(15, 300); // 225 twips wide, less than the two margins of 120
        QTRY_COMPARE(form_->txtResult->height(), 300 - 48);
        QCOMPARE(form_->txtResult->width(), 284);
    }

    void clickFetchesTheReportIntoThePaneAndTheLogBesideTheProgram() {
        QUINDRAL_NEED_SERVERS();
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        const std::string report = PaneText(*form_);
        QVERIFY2(report.starts_with("Contacting GC://rootDSE\r\n"
                                    "  dnsHostName: gc1.quindral.test\r\n"),
                 report.c_str());
        QVERIFY(report.ends_with("  altServer: ldap://gc2.quindral.test:3268/\r\n"));
        QCOMPARE(ReadFile(logFile_), "********************\r\n" + report);
        QCOMPARE(CountLogLines(gc_->StatsLog(), " SRCH base="), 1);

        form_->cbo1->setFocus();
        QTest::keyClick(form_->cbo1, Qt::Key_Down);
        QCOMPARE(form_->cbo1->currentText(), QStringLiteral("LDAP"));
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        const std::string ldap = PaneText(*form_);
        QVERIFY2(ldap.starts_with("Contacting LDAP://rootDSE\r\n"
                                  "  dnsHostName: dc1.quindral.test\r\n"),
                 ldap.c_str());
        QVERIFY(ldap.find("    DC=ForestDnsZones,DC=quindral,DC=test\r\n") != std::string::npos);
        QCOMPARE(ReadFile(logFile_),
                 "********************\r\n" + report + "********************\r\n" + ldap);
        QCOMPARE(CountLogLines(dc_->StatsLog(), " SRCH base="), 1);
        QCOMPARE(CountLogLines(gc_->StatsLog(), " SRCH base="), 1);
    }

    void typedTextStaysUntilTheNextClickEmptiesThePane() {
        QUINDRAL_NEED_SERVERS();
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        const std::string report = PaneText(*form_);
        form_->txtResult->setFocus();
        form_->txtResult->moveCursor(QTextCursor::End);
        QTest::keyClicks(form_->txtResult, "note to self");
        QCOMPARE(PaneText(*form_), report + "note to self");

        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QCOMPARE(PaneText(*form_), report);
        QCOMPARE(ReadFile(logFile_),
                 "********************\r\n" + report + "********************\r\n" + report);
    }

    void failedBindShowsTheTwoNullLines() {
        ClientConfiguration nowhere("ldap://" + RandomLoopbackAddress() + ":1");
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QCOMPARE(PaneText(*form_), std::string("  namingContexts: <null>\r\n"
                                               "  altServer: <null>\r\n"));
    }

    // The window with a real report, kept as a picture (named for the platform and scale), in
    // which the pane shows the report's text where it showed nothing before the click.
    void screenshot() {
        QUINDRAL_NEED_SERVERS();
        QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
        const qreal scale = form_->devicePixelRatioF();
        const QString platform = QGuiApplication::platformName();
        const QString path =
            QStringLiteral(SCREENSHOT_DIR "/frmQuindral%1%2.png")
                .arg(platform == QLatin1String("xcb") ? QString() : "-" + platform)
                .arg(scale == 1 ? QString() : QStringLiteral("-scale%1").arg(scale));
        const QRect pane(form_->txtResult->viewport()->mapTo(form_.get(), QPoint(0, 0)),
                         form_->txtResult->viewport()->size());
        const int before = DarkPixels(form_->grab().toImage(), pane, scale);
        form_->cbo1->setCurrentIndex(1);
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QTest::qWait(200);
        QVERIFY(form_->grab().save(path));
        const QImage saved(path);
        QVERIFY(!saved.isNull());
        QCOMPARE(before, 0);
        // Some 17 lines of text: many thousands of dark pixels.
        QVERIFY2(DarkPixels(saved, pane, scale) > 1000, qPrintable(path));
    }

    void cleanupTestCase() {
        configuration_.reset();
        std::filesystem::remove(logFile_);
    }
};

// As QTEST_MAIN, and a program whose tests skipped exits with kSkippedExit (ctest reports it).
int main(int argc, char* argv[]) {
    QTest::Internal::callInitMain<frmQuindralTest>();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    frmQuindralTest test;
    const int failed = QTest::qExec(&test, argc, argv);
    return failed == 0 && skipped > 0 ? kSkippedExit : failed;
}

#include "frmQuindral_test.moc"
