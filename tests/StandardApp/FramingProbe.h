// FramingProbe.h: a session whose framing layer (otherwise the reader's and the writer's) the tests
// drive directly on an attached stream.
#pragma once

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
  using CZematInstr::TestMsgComplete;
  using CZematInstr::TestRedCardAnswer;
};
