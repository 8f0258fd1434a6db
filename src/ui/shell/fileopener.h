#pragma once

#include <QString>

namespace corvane {

// Hands a file to the program the desktop has registered for its type (a message file to the
// user's mail program). Tests put a recorder in its place so that no program is launched.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    // Asks the desktop to open the file; whether a program could be started is not reported.
    virtual void open(const QString &path) = 0;
};

// The desktop's own handler, through QDesktopServices.
class DesktopFileOpener final : public FileOpener {
public:
    void open(const QString &path) override;
};

} // namespace corvane
