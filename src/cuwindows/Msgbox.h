// Modal message boxes with one OK button, behind one replaceable function so that tests can record
// the messages instead of blocking on a dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class TMsgKind { Error, Information, Warning };

void MorventMessage(QWidget* parent, TMsgKind kind, const QString& text);

// Replaces the message box (an empty function restores it); returns the previous handler.
using TMessageHandler = std::function<void(TMsgKind, const QString&)>;
TMessageHandler SetMessageHandler(TMessageHandler handler);
