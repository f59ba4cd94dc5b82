#include "frmQuindral.h"

#include "report/FetchAttributes.h"
#include "window/DesignTable.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTextCursor>

namespace quindral {

namespace {

// Qt places widgets in device-independent pixels, which are 96 to the inch on every screen.
QRect ToPixels(const TwipsRect& rect) {
    return QRect(TwipsToPixels(rect.left), TwipsToPixels(rect.top), TwipsToPixels(rect.width),
                 TwipsToPixels(rect.height));
}

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The wait cursor for as long as the fetch run keeps the window busy.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

frmQuindral::frmQuindral(Directory& directory, std::filesystem::path logFile, QWidget* parent)
    : QWidget(parent), Label1(new QLabel(this)), cbo1(new QComboBox(this)),
      Label2(new QLabel(this)), Command1(new QPushButton(this)),
      txtResult(new QPlainTextEdit(this)), directory_(directory), pane_(*txtResult),
      trace_(pane_, std::move(logFile)) {
    createControls();
    Form_Load();
}

void frmQuindral::createControls() {
    setObjectName(QStringLiteral("frmQuindral"));
    setWindowTitle(FromView(kCaption));
    setWindowIcon(QIcon(QStringLiteral(":/quindral.png")));
    resize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));

    const auto place = [](QWidget* widget, const ControlDesign& design) {
        widget->setObjectName(FromView(design.name));
        widget->setGeometry(ToPixels(design.rect));
    };
    place(Label1, kLabel1);
    Label1->setText(FromView(kLabel1.text));
    // Screen readers name the selector after its label.
    Label1->setBuddy(cbo1);
    place(Label2, kLabel2);
    Label2->setText(FromView(kLabel2.text));

    place(cbo1, kCbo1);
    cbo1->setEditable(false);
    for (const auto provider : kProviders) {
        cbo1->addItem(FromView(provider));
    }

    place(Command1, kCommand1);
    Command1->setText(FromView(kCommand1.text));
    Command1->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &frmQuindral::Command1_Click);

    place(txtResult, kTxtResult);
    txtResult->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResult->setTabChangesFocus(true);
    txtResult->setAccessibleName(FromView(kPaneAccessibleName));
    // A report can run to many thousands of lines; an undo history of every traced line would
    // hold them all twice.
    txtResult->setUndoRedoEnabled(false);

    setTabOrder(Command1, txtResult);
    setTabOrder(txtResult, cbo1);
}

void frmQuindral::Form_Load() {
    cbo1->setCurrentIndex(0);
}

void frmQuindral::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        Command1->setFocus(Qt::OtherFocusReason);
    }
}

void frmQuindral::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const PaneSize size = ResizeRule(PixelsToTwips(width()), PixelsToTwips(height()));
    QRect pane = txtResult->geometry();
    if (size.width) {
        pane.setWidth(TwipsToPixels(*size.width));
    }
    if (size.height) {
        pane.setHeight(TwipsToPixels(*size.height));
    }
    txtResult->setGeometry(pane);
}

void frmQuindral::Command1_Click() {
    WaitCursor busy;
    // One edit block for the whole run: the pane lays out and repaints its new lines once, when
    // the run is over, instead of after every line.
    QTextCursor run(txtResult->document());
    run.beginEditBlock();
    FetchAttributes(cbo1->currentText().toStdString(), directory_, trace_);
    run.endEditBlock();
}

} // namespace quindral
