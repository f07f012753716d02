#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace krp {

namespace {

MessageBoxHandler& handler()
{
    static MessageBoxHandler h;
    return h;
}

QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void modalBox(const QString& title, const QString& text, MessageBoxIcon icon)
{
    QMessageBox::Icon qtIcon = QMessageBox::Critical;
    if (icon == MessageBoxIcon::Warning)
        qtIcon = QMessageBox::Warning;
    else if (icon == MessageBoxIcon::Information)
        qtIcon = QMessageBox::Information;
    QMessageBox box(qtIcon, title, forDisplay(text), QMessageBox::Ok, QApplication::activeWindow());
    // As close to system-modal as the toolkit goes: blocks the whole program and stays on top.
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

void consoleBox(const QString& title, const QString& text, MessageBoxIcon)
{
    const QByteArray bytes = (title + QStringLiteral(": ") + forDisplay(text)).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void showMessageBox(const QString& title, const QString& text, MessageBoxIcon icon)
{
    if (handler())
        handler()(title, text, icon);
    else
        modalBox(title, text, icon);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h)
{
    MessageBoxHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

void useConsoleMessageBoxes()
{
    setMessageBoxHandler(consoleBox);
}

}  // namespace krp
