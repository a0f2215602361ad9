// Records the message boxes the windows would show (kind and text) instead of showing them modal.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "cuwindows/Msgbox.h"

namespace support {

struct TMessageRecorder {
  TMessageRecorder() {
    SetMessageHandler([this](TMsgKind kind, const QString& text) { messages << QPair<TMsgKind, QString>(kind, text); });
  }
  ~TMessageRecorder() { SetMessageHandler({}); }
  TMessageRecorder(const TMessageRecorder&) = delete;
  TMessageRecorder& operator=(const TMessageRecorder&) = delete;
  QStringList Texts() const {
    QStringList t;
    for (const auto& m : messages) t << m.second;
    return t;
  }
  QList<QPair<TMsgKind, QString>> messages;
};

}  // namespace support
