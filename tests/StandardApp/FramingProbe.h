// FramingProbe.h: a session whose framing layer (otherwise the reader's and the writer's) the tests
// drive directly on an attached stream.
#pragma once

#include <memory>

#include "StandardApp/Zematcore.h"

class CFramingProbe : public CZematInstr {
 public:
  using CZematInstr::Dispatch;
  using CZematInstr::FormatMessage;
  using CZematInstr::GetMessage;
  using CZematInstr::HandleCredits;
  using CZematInstr::HandleRedCardAnswer;
  using CZematInstr::InputBroken;
  using CZematInstr::InputBuffered;
  using CZematInstr::InputOffset;
  using CZematInstr::OutputBuffered;
  using CZematInstr::Poll;
  using CZematInstr::PutOutput;
  using CZematInstr::SendMessage;
  using CZematInstr::TakeFrame;
  using CZematInstr::TakeFrames;
  using CZematInstr::TestMsgComplete;
  using CZematInstr::TestRedCardAnswer;

  // Replaces the link by any transport (the fuzz targets feed the reader from memory).
  void UseTransport(std::unique_ptr<CTransport> transport) { m_transport = std::move(transport); }
  // As after our red card: the reader scans for its answer instead of cutting frames.
  void AwaitRedCardAnswer() { m_status.store(1); }
};
