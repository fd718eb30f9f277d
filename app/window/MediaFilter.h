// The open dialog's filter: every file extension the loaded libraries can read.
#pragma once

#include <QString>
#include <QStringList>

// Lower case, without the dot, sorted, each once. Needs avformat loaded.
QStringList ReadableExtensions();
// "All Supported Files (*.aac *.ac3 ...);;All files (*)".
QString OpenDialogFilter(const QStringList& AExtensions);
