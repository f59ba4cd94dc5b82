#pragma once

#include <QtGlobal>

namespace quindral {

// The start of the window system (QApplication's construction), without a display: Qt's messages
// meanwhile are held, and when the window system cannot be reached the program says so in one
// line of its own, naming what was tried, and exits with status 1, where Qt would end it with a
// fatal message, a core dump and advice that does not fit. Once it is reached, what was held is
// said after all, through Qt's usual handler.
class WindowSystemStart {
public:
    WindowSystemStart();
    WindowSystemStart(const WindowSystemStart&) = delete;
    WindowSystemStart& operator=(const WindowSystemStart&) = delete;

    // The window system is there: Qt's own handler is back, with the messages held.
    void Reached();

private:
    QtMessageHandler usual_;
};

} // namespace quindral
