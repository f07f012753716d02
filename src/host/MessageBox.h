#pragma once
// Message boxes for the operator. Every box of the program goes through showMessageBox, so a
// test can take them over and a headless run can write them to standard error instead of
// waiting for a click that never comes.
#include <QString>
#include <functional>

namespace krp {

enum class MessageBoxIcon { Error, Warning, Information };

using MessageBoxHandler = std::function<void(const QString& title, const QString& text, MessageBoxIcon icon)>;

// A modal box with an OK button (the default), or whatever the installed handler does.
// Main thread only.
void showMessageBox(const QString& title, const QString& text, MessageBoxIcon icon = MessageBoxIcon::Error);

// Replaces the handler; an empty one restores the modal box. Returns the previous handler.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Headless runs: each box becomes one entry on standard error ("title: text"), and the
// program goes on at once.
void useConsoleMessageBoxes();

}  // namespace krp
