#pragma once

#include <QString>

class QWidget;

namespace corvane {

class Prompts;

// Hands a file to the program the desktop has registered for its type (a message file to the
// user's mail program). Tests put a recorder in its place so that no program is launched.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    // Asks the desktop to open the file. False when the desktop has no program for the file's
    // type or could not start one; true says only that the request was handed on.
    virtual bool open(const QString &path) = 0;
};

// The desktop's own handler, through QDesktopServices. On freedesktop systems it first asks
// xdg-mime whether any program is registered for the file's type, because the desktop's
// opener starts in the background and reports a missing program only to a terminal.
class DesktopFileOpener final : public FileOpener {
public:
    bool open(const QString &path) override;
};

// Opens a message file in the user's mail program. When there is none to open it, says so in
// an error box that names the file, so that the user can open it by other means: the request
// is never dropped without a word.
void openMessageFile(FileOpener &opener, Prompts &prompts, QWidget *parent, const QString &path);

// The text of that box.
QString noMailProgramText(const QString &path);

} // namespace corvane
